#ifndef KIVREL_BROWSE_BROWSESPLT_H
#define KIVREL_BROWSE_BROWSESPLT_H

// The browse window: one or two data sources side by side, each a pane
// (CBrowseFrm) bound to one engine file manager, with the menu bar, the
// toolbar, the status bar and the title.
//
// Closing the window hides it: its panes may still run requests. Each side
// then asks the engine to report when no request uses its file manager any
// more, and the control window calls DestroyIfIdle again when it hears so.
//
// Sides are keyed 1 (left) and 2 (right); the pane of a side has that
// number. The layout word holds the left side in its low byte and the right
// side in its high byte; in each byte bit 0 is the folder tree, bit 1 the
// file list and bit 2 the details view.
// User-interface thread only.

#include <QLabel>
#include <QPointer>
#include <QString>

#include "foundation/kv_ids.h"
#include "menus/newmenu.h"
#include "requests/kv_filetree.h"
#include "shell/innerfrm.h"

#include <cstdint>

class CBrowseFrm;
class CFileManData;
class CFileView;
class CKVToolBar;
class QToolBar;

// The message pane of the status bar. A text "\r\n<code>\r\n<message>" shows
// the message alone, in red when the code is not 0; any other text shows as
// it stands.
class CBrowseMsgPane : public QLabel
{
    Q_OBJECT
public:
    explicit CBrowseMsgPane(QWidget* parent = nullptr);
    void SetPaneText(const QString& text);
    const QString& PaneText() const { return raw; }
    // What is drawn and whether in red.
    static QString Shown(const QString& text, bool* red);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString raw;
};

class CBrowseSplt : public CInnerFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classCBrowseSplt;

    enum : uint32_t { kLeft = 1, kRight = 2 };
    enum : uint8_t { kTree = 1, kList = 2, kDetails = 4 };

    // Hears the engine name the node whose counts the status bar shows.
    class CBrowseSpltNtf : public KV_FileTreeGlobalNtfRecv
    {
    public:
        explicit CBrowseSpltNtf(CBrowseSplt* wnd) : wnd(wnd) {}
        void node_updated(KV_FileTreeNode* node) override;

    private:
        CBrowseSplt* wnd;
    };

    // Copies the ids and the layout word. The window is made by CreateFrame.
    CBrowseSplt(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags,
                QWidget* parent = nullptr);
    ~CBrowseSplt() override;

    // Loads the frame (menu 109, accelerators), makes the panes, toolbar and
    // status bar and shows the views the layout word asks for. False when
    // the left side has no pane class or a part cannot be made.
    bool CreateFrame();

    // The browse window that holds `wnd` (or is it); null when none does.
    static CBrowseSplt* FromChild(QWidget* wnd);

    // The pane class of a data source's type (1 local, 2 FTP, 3 SFTP,
    // 4 HTTP); null for any other and for an id that is not valid.
    static const CRuntimeClass* PaneClassOf(const KV_DsId& id);
    // Pixels a side needs: 225 for its tree, 240 for its list.
    static int SideWidth(uint8_t side_flags);
    // The width before creation: the sides with a valid id, at least 450.
    static int InitialWidth(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags);

    // The id of the file manager bound to the side's pane; empty when the
    // side has no pane or the pane no adapter.
    KV_FileManId GetLeftManId() const;
    KV_FileManId GetRightManId() const;
    uint16_t GetFlags() const { return flags; }
    uint8_t GetLeftFlags() const { return static_cast<uint8_t>(flags & 0xFF); }
    uint8_t GetRightFlags() const { return static_cast<uint8_t>(flags >> 8); }
    // The id the side was opened with (empty once the side closed).
    const KV_FileManId* GetSideId(uint32_t side) const;
    // The side's layout byte lacks the file list; false for another key.
    bool HasNoListPane(uint32_t side) const;
    // Both sides have a pane class.
    bool IsTwoPane() const;
    CBrowseFrm* GetPane(uint32_t side) const;
    KV_FileTreeGlobalNtfRecv* GetTreeNtf() { return &ntf; }

    // The adapter of the pane holding the focus; null when none.
    CFileManData* GetFocusData() const;
    // The file list of the side holding the focus; null when it shows none.
    QWidget* GetListView() const;

    // A pane's view was made or is going: its check in the side's popup
    // follows; the side's last view going closes the side.
    void OnViewShown(const CRuntimeClass* view, uint32_t side);
    void OnViewHidden(const CRuntimeClass* view, uint32_t side);
    // A view gained the focus or changed folder; `node` its folder or null.
    void OnPaneActivated(KV_FileTreeNode* node);

    // ---- status bar, title and menus

    // Code 0: the text as it is; else "\r\n", the code, "\r\n", the text.
    void SetStatusText(const QString& text, uint32_t code);
    // "Ready".
    void SetIdleText();
    // The item count and total size of `node`; both emptied for null.
    void ShowNodeCounts(KV_FileTreeNode* node);
    QString StatusText() const;
    QString CountText() const;
    QString SizeText() const;
    // The panes' titles, left first, joined by ", ".
    void UpdateTitle();
    // Puts the focused pane's protocol popup (or `fallback`'s pane's) in
    // place of the "&Data Source" popup.
    void UpdateDataSourceMenu(QWidget* fallback);
    CNewMenu& PopupCollection() { return popups; }

    // ---- connection and view commands

    // Registers the commands of the "&Data Source" popup, the pane and list
    // views, the next and previous pane and the folder menus of the panes.
    void RegisterConnCommands();
    // Shows the focused pane's data-source instance in the control window's
    // data-source view. Unless `explicit_request`, only when the "UI"
    // setting "DsAutosel" is set; an explicit request also activates the
    // control window.
    void FindDataSource(bool explicit_request);
    // Checks the mode item of the focused pane's transfer mode; without a
    // focused pane the checks stay as they are.
    void UpdateTransferModeChecks();
    // The leaf pane holding the focus is a details view.
    bool IsDetailsFocused() const;
    // The worker selected in the focused details view; 0 when the details
    // view does not hold the focus or no worker is selected.
    uint32_t GetFocusTavoId() const;
    // How many views (trees, lists, details) the window shows on its sides.
    int ShownViewCount() const;
    // Command handlers.
    void OnCustomCommand();
    void OnSetDefaultDir();
    void OnListViewMenu();
    void OnFolderCommand(uint32_t id);

    // Hidden and every pane's manager held by the pane alone (or no pane):
    // destroys the window (later, from the event loop) and gives true.
    bool DestroyIfIdle();
    // Whether DestroyIfIdle has scheduled the window's destruction.
    bool IsDestroying() const { return destroying; }

    // ---- file commands

    // The file view (list or tree) holding the focus; null when the focus
    // is elsewhere.
    CFileView* GetFocusView() const;
    // Pops up the "&File" popup of the popup collection at `global`, its
    // commands going to this window (the file views' context menu).
    void PopupFileMenu(const QPoint& global);

protected:
    void OnBeforeCreatePane(const CRuntimeClass* cls) override;
    void OnAfterCreatePane(const CRuntimeClass* cls) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QMenu* SidePopup(uint32_t side) const;
    void RegisterCommands();

    CBrowseSpltNtf ntf;
    KV_FileManId left;
    KV_FileManId right;
    uint16_t flags;
    CKVToolBar* toolbar = nullptr;
    CBrowseMsgPane* msg_pane = nullptr;
    QLabel* count_pane = nullptr;
    QLabel* size_pane = nullptr;
    CNewMenu popups;
    bool destroying = false;
    // Set while the destructor takes the panes down.
    bool tearing_down = false;

    // ---- file commands

    // What the clipboard held when it last changed (text, files); read
    // once per change rather than at every command update.
    class CClipState;

    void RegisterFileCommands();
    bool FileCommandEnabled(uint32_t id);
    void RunFileCommand(uint32_t id);
    // Whether files on the clipboard can go into the focused view's target.
    bool CanPasteFiles();
    void ShowFileProperties();
    void ChangeDirectory();

    // A child of this window; made by RegisterFileCommands.
    CClipState* clip_state = nullptr;
};

// The browse window being made: panes find it through this while the
// splitter makes them, before they have a parent.
CBrowseSplt* BrowseWndInCreation();

#endif
