#ifndef KIVREL_MONITOR_TRANSLISTVIEW_H
#define KIVREL_MONITOR_TRANSLISTVIEW_H

// The transfer list: the lower pane of the control window. One row per
// request of the transfer manager, kept up to date by the notices of the
// manager's request-info table; the rows are never read from anywhere else.
// Column 0 shows the request's traffic light, its icon and, over the icon,
// the result overlay that blinks with the control window until the user has
// seen the result. Commands on the selected request become tasks of the
// transfer manager. User-interface thread only.

#include <QSet>
#include <QTimer>
#include <QTreeWidget>

#include "requests/kv_filereqinfoman.h"
#include "shell/paneclass.h"

#include <cstdint>

class CTlMenu;
class KV_FileManPool;

class CTransListView : public QTreeWidget
{
    Q_OBJECT
public:
    // Item data of column 0.
    enum Role { IdRole = Qt::UserRole, LightRole, OverlayRole, IconRole };

    // How long the mouse rests on a row before its tip shows.
    static constexpr int kTipDelayMs = 500;
    // A running transfer sends its progress many times a second. A row is
    // filled at most once per this period for notices that change only the
    // progress or the description: the first after a quiet period at once,
    // later ones mark the row, and the marked rows are filled at the
    // period's end. A change of status, errors, light or overlay fills the
    // row at once.
    static constexpr int kRefreshMs = 250;

    explicit CTransListView(QWidget* parent = nullptr);
    ~CTransListView() override;

    // Sorts by the start time, oldest first (the list's order at start-up).
    void SortByStartTime();
    int SortColumn() const { return sort_column; }
    bool SortFlag() const { return sort_flag; }
    // A click on the header of `column`.
    void OnHeaderClicked(int column);

    // A notice of the request-info table (kinds 0, 1, 2, 4, 5); a change of
    // progress alone waits for the next refresh (see kRefreshMs).
    void OnReqNtf(unsigned int id, KV_REQ_NTF kind);

    // The row of request `id`, or null.
    QTreeWidgetItem* FindRow(unsigned int id) const;
    static unsigned int IdOf(const QTreeWidgetItem* item);
    // The selected request's id; 0 when none.
    unsigned int SelectedId() const;
    // Whether some listed request matches (see kvmon::ReqMatches).
    bool AnyListed(int what) const;
    // Marks the selected request's result as seen.
    void AcknowledgeSelected();

    CTlMenu* TrafficLightMenu() const { return tl_menu; }
    // Width of column 0's pictures (light and icon) from the cell's left.
    static int PictureWidth();

protected:
    // The hint shown when a request is added; tests replace it.
    virtual void ShowAddHint();

    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    class CReqInfoTransNtf : public KV_FileReqInfoNtfRecv
    {
    public:
        explicit CReqInfoTransNtf(CTransListView* view) : view(view) {}
        void notify(unsigned int id, KV_REQ_NTF kind) override;
        CTransListView* view;
    };

    KV_FileReqInfoMan* InfoMan() const;
    const KV_FileReqInfo* InfoOf(const QTreeWidgetItem* item) const;
    void FillRow(QTreeWidgetItem* item, const KV_FileReqInfo& info);
    // Whether the row shows `info`'s status, errors, light and overlay, so
    // that only its progress or description can differ.
    static bool SameState(const QTreeWidgetItem* item, const KV_FileReqInfo& info);
    // Fills the marked rows from their requests' newest infos.
    void RefreshMarked();
    void SortRows();
    bool OnPicture(const QPoint& pos, QTreeWidgetItem** item) const;
    void OnSelectionChanged();
    void RegisterCommands();
    void CancelSelected();
    bool IsBlinkLit() const;

    KV_FileManPool* pool = nullptr;
    CReqInfoTransNtf receiver{this};
    bool registered = false;
    int sort_column = -1;
    bool sort_flag = true;
    CTlMenu* tl_menu = nullptr;
    // Requests whose rows wait for the refresh; the timer runs for one
    // period after a row was filled for a status notice.
    QSet<unsigned int> marked;
    QTimer refresh;
};

#endif
