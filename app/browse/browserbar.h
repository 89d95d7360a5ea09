#ifndef KIVREL_BROWSE_BROWSERBAR_H
#define KIVREL_BROWSE_BROWSERBAR_H

// The caption bar at the top of a browse pane: the data source's picture,
// the pane's title in bold and the current folder; at the right end either
// the workers' state picture and status text (a data source with
// connections) or a drop-down button listing the mounted volumes (local
// folders). In a two-pane window the bar of the pane holding the focus is
// drawn raised in the shadow colour. Pressing the bar moves the focus into
// its pane. User-interface thread only.

#include <QMenu>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "core/panebar.h"
#include "monitor/tlmenu.h"
#include "requests/kv_tavoinfo.h"

#include <cstdint>
#include <map>

class CBrowseFrm;

class CBrowserBar : public QWidget
{
    Q_OBJECT
public:
    explicit CBrowserBar(CBrowseFrm* owner, QWidget* parent = nullptr);
    ~CBrowserBar() override;

    // Re-reads the workers' status and state; redraws when either changed.
    void UpdateStatus();
    // The keyboard focus is in the owner pane.
    bool HasFocus() const { return focus; }
    // The drop-down button, in the bar's coordinates.
    QRect GetButtonRect() const;
    // Where the state picture is drawn, in the bar's coordinates.
    QRect GetStateRect() const;
    // The folder of a folder-menu item; empty for an id it does not hold.
    QString FolderOf(uint32_t id) const;
    const QString& StatusText() const { return status; }
    KV_CONN_CLR State() const { return state; }
    bool IsPressed() const { return button.Pressed(); }
    // The lamps the state picture opens: red disconnects all workers, green
    // connects the selected one.
    CTlMenu& ConnMenu() { return conn_menu; }
    // The folder text last drawn ("[ ... ]"), empty when none fitted.
    const QString& ShownFolder() const { return shown_folder; }
    // The title last drawn (shortened when the pane is narrow) and where.
    const QString& ShownTitle() const { return shown_title; }
    QRect ShownTitleRect() const { return shown_title_rect; }

    // Refills the folder menu from the mounted volumes; returns the popup
    // (valid until the next refill). Ids go by the item order.
    QMenu* BuildFolderMenu(const std::vector<PaneBarVolume>& volumes);
    // The mounted, ready file systems.
    static std::vector<PaneBarVolume> MountedVolumes();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void OnFocusChanged(QWidget* now);
    void FocusPane();
    bool Local() const;
    int StatePicture() const;

    CBrowseFrm* owner;
    QString status;
    KV_CONN_CLR state = KV_CONN_CLR_NONE;
    bool focus = false;
    PaneBarButtonState button;
    std::map<uint32_t, QString> folders;
    QPointer<QMenu> folder_menu;
    CTlMenu conn_menu;
    QString shown_folder;
    QString shown_title;
    QRect shown_title_rect;
};

#endif
