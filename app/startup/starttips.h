#ifndef KIVREL_STARTUP_STARTTIPS_H
#define KIVREL_STARTUP_STARTTIPS_H

// "Kivrel: Startup tips": one page of tips from the program's help folder
// (help/html/tip<n>.htm), stepped through with "Next tip", wrapping to the
// first. "UI"/"StartTips" keeps the last tip shown, negated when the user
// switched the tips off. User-interface thread.

#include <QtWidgets/QMainWindow>

class QCheckBox;
class QTextBrowser;

class CStartTipsFrm : public QMainWindow
{
    Q_OBJECT
public:
    explicit CStartTipsFrm(QWidget* parent = nullptr);
    // Writes "UI"/"StartTips" when a page was shown.
    ~CStartTipsFrm() override;

    // Makes the toolbar and the box and loads the tip after the last one
    // shown; false (nothing to show) when there is no tip page at all.
    bool Create();
    // Advances to the next tip page; false when there is none.
    bool LoadTip();
    void ShowPage();

    int Tip() const { return tip; }
    QString Page() const { return page; }
    QTextBrowser* View() const { return view; }
    QCheckBox* DontShow() const { return dont_show; }

private:
    static QString PagePath(int n);

    QTextBrowser* view = nullptr;
    QCheckBox* dont_show = nullptr;
    QString page;
    int tip = 0;
    bool can_go_back = false;
};

#endif
