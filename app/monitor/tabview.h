#ifndef KIVREL_MONITOR_TABVIEW_H
#define KIVREL_MONITOR_TABVIEW_H

// A view of pages under a row of tabs, one page per tab, switched with the
// tabs or with Ctrl+Tab and Ctrl+Shift+Tab (both wrap). Each page sits 3
// pixels inside the area below the tabs. Enter and Escape pressed inside
// the view are consumed, so that no page closes on them.
// User-interface thread only.

#include <QWidget>

#include <QList>

class QKeyEvent;
class QTabBar;

class CTabView : public QWidget
{
    Q_OBJECT
public:
    explicit CTabView(QWidget* parent = nullptr);
    ~CTabView() override;

    // Makes the tabs (control id 1111) with the font of GetTabFont, then
    // calls InitPages. Call once, after the derived view is made.
    bool Create();
    bool IsCreated() const { return tabs != nullptr; }

    // Appends a page (taken over as a child of the view). Its window title
    // becomes its tab's title in InitPages.
    bool AddPage(QWidget* page);

    // Key handling of key presses inside the view; true when consumed.
    bool PreTranslate(const QKeyEvent* event);

    QTabBar* TabBar() const { return tabs; }
    int PageCount() const { return static_cast<int>(pages.size()); }
    QWidget* Page(int index) const;
    int CurrentIndex() const;
    QWidget* CurrentPage() const { return Page(CurrentIndex()); }
    void SetCurrentIndex(int index);

protected:
    // The font of the tabs; none in the base.
    virtual const QFont* GetTabFont() const;
    // Derived views add their pages, then call the base, which inserts one
    // tab per page titled with the page's window title (at most 49
    // characters).
    virtual void InitPages();

    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlacePage();
    void OnTabChanged(int index);
    static void FocusPage(QWidget* page);

    QTabBar* tabs = nullptr;
    QList<QWidget*> pages;
    QWidget* shown = nullptr;
};

#endif
