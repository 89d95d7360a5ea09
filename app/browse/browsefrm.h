#ifndef KIVREL_BROWSE_BROWSEFRM_H
#define KIVREL_BROWSE_BROWSEFRM_H

// One pane of a browse window: one data source shown through its views
// (folder tree, file list, details), and the pane's link to the engine.
//
// When the browse window's splitter makes a pane, the pane makes the adapter
// of its protocol and binds it to the file manager of its side; from then on
// the engine rings the pane (through the window registry) whenever the
// manager's informer holds messages, and the pane drains them all and
// re-arms the informer. The pane leaves the registry before it is destroyed,
// so a late ring finds nothing.
//
// The pane's number is its side key in the browse window: 1 the left side,
// 2 the right side. Views name their pane descriptions with it.
//
// Four kinds, one per protocol (CBrowseStd, CBrowseFtp, CBrowseSftp,
// CBrowseHttp), supply the adapter and the names of their popups.
// User-interface thread only.

#include <QIcon>
#include <QPointer>
#include <QString>

#include "core/wndregistry.h"
#include "requests/kv_tavoinfo.h"
#include "shell/innerfrm.h"

#include <cstdint>
#include <memory>

class CBrowseSplt;
class CFileManData;
class KV_FileTreeNode;
class KV_Msg;

// Class of the details view of a pane (the request and worker tables).
extern const CRuntimeClass classCFileDetailView;

class CBrowseFrm : public CInnerFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classCBrowseFrm;

    // Stacked, flat; knows the details view (-140) and the folder-tree
    // frame (100). No adapter, empty title.
    explicit CBrowseFrm(QWidget* parent = nullptr);
    // Leaves the registry, then deletes the adapter (which unbinds it).
    ~CBrowseFrm() override;

    // The pane that holds `wnd` (or is it); null when none does.
    static CBrowseFrm* FromChild(QWidget* wnd);

    CFileManData* GetData() const { return data.get(); }
    // The pane is being destroyed: its views leave, and nothing they do on
    // the way out needs to be shown.
    bool IsClosing() const { return closing; }
    // The data source's name and instance ("Home # 1"); empty until the
    // engine names it.
    const QString& GetTitle() const { return title; }
    // The handle the engine rings.
    KV_HWND GetHwnd() const { return handle ? handle->hwnd() : nullptr; }
    // The browse window this pane belongs to; null when none.
    CBrowseSplt* GetBrowseWnd() const;

    // The adapter's data source has connections to show.
    bool HasConnection() const;
    // The workers' overall status and its state; both left alone for a pane
    // without connections.
    void GetConnStatus(QString& text, KV_CONN_CLR& state) const;
    // The other side closed: a pane with connections keeps its status bar
    // (true); another one drops it (whether one was dropped).
    bool DropStatusBar();
    // Every file view of the pane re-reads its folder; the status bar is
    // redrawn.
    void RefreshViews();
    // A view of this pane was made or is going; the browse window updates
    // its pane popups.
    void OnViewCreated(const CRuntimeClass* view);
    int OnViewDestroyed(const CRuntimeClass* view);

    // The pictures of a tree node: the root's by the manager's kind, a
    // folder's closed and open, a drive's, any other entry's by its name.
    // True when both were found.
    bool GetNodeIcons(const KV_FileTreeNode* node, QIcon& icon, QIcon& open_icon, bool root) const;
    // The colour (0x00BBGGRR) of an entry: red, orange or green by the
    // node's listing status, else `*colour` (`keep`) or black for a valid
    // entry and dark yellow for an invalid one; variants 2 and 3 lighten it.
    void GetNodeColour(uint32_t* colour, const KV_FileTreeNode* node, bool keep, int variant) const;
    // `colour` made brighter by `percent` points of white's brightness.
    static uint32_t Lighten(uint32_t colour, int percent);

    // ---- per-protocol parts

    // A new unbound adapter of the pane's protocol; null in the base (the
    // pane then cannot be made).
    virtual CFileManData* CreateData();
    // The popup of menu 110 with the connection commands; null for none.
    virtual const char* GetConnPopupName() const;
    // The popup of menu 110 that becomes the browse window's "&Data Source"
    // popup while the pane has the focus.
    virtual const char* GetProtoPopupName() const;

    // Handles one batch of the informer's messages (see CInformerBatch),
    // then re-arms the informer, which rings again for what is left.
    // Nothing when unbound.
    void OnInformerNtf();

protected:
    // Binds the pane (see above) before its first view is made. False when
    // there is no browse window or side, no adapter, or the first view
    // could not be made.
    bool OnCreateClient() override;
    bool event(QEvent* event) override;

private:
    void HandleMsg(KV_Msg* msg, CBrowseSplt* browse);

    std::unique_ptr<CWndHandle> handle;
    std::unique_ptr<CFileManData> data;
    bool closing = false;
    QString title;
    QPointer<CBrowseSplt> browse;
    // The pane's caption bar (CBrowserBar); null when the pane has none.
    QPointer<QWidget> status_bar;

public:
    // The caption bar; null when the pane has none.
    QWidget* GetStatusBar() const { return status_bar.data(); }
};

// Local folders.
class CBrowseStd : public CBrowseFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classCBrowseStd;
    using CBrowseFrm::CBrowseFrm;
    CFileManData* CreateData() override;
    const char* GetProtoPopupName() const override;
};

class CBrowseFtp : public CBrowseFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classCBrowseFtp;
    using CBrowseFrm::CBrowseFrm;
    CFileManData* CreateData() override;
    const char* GetConnPopupName() const override;
    const char* GetProtoPopupName() const override;
};

class CBrowseSftp : public CBrowseFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classCBrowseSftp;
    using CBrowseFrm::CBrowseFrm;
    CFileManData* CreateData() override;
    const char* GetConnPopupName() const override;
    const char* GetProtoPopupName() const override;
};

class CBrowseHttp : public CBrowseFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classCBrowseHttp;
    using CBrowseFrm::CBrowseFrm;
    CFileManData* CreateData() override;
    const char* GetConnPopupName() const override;
    const char* GetProtoPopupName() const override;
};

#endif
