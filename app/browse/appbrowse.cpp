// The application object's browse-window operations: finding, opening,
// saving and restoring the browse windows.

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/wndregistry.h"
#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenode.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_uriman.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

namespace {

// Frees a clone of the data-source tree when the scope ends.
struct CloneGuard
{
    const KV_DsTreeNode* node;
    ~CloneGuard() { KV_DsTreeNode::destr_clone(node); }
};

} // namespace

void CKivrelApp::ListBrowseWnds(QList<QWidget*>& list) const
{
    for (QWidget* wnd : QApplication::topLevelWidgets()) {
        auto* browse = qobject_cast<CBrowseSplt*>(wnd);
        if (browse != nullptr && !browse->IsDestroying()) {
            list.append(browse);
        }
    }
}

void CKivrelApp::ShowBrowseWnds(bool show)
{
    QList<QWidget*> wnds;
    ListBrowseWnds(wnds);
    for (QWidget* wnd : wnds) {
        if (!wnd->isVisible()) {
            continue;
        }
        if (show) {
            wnd->showNormal();
        } else {
            wnd->showMinimized();
        }
    }
}

void CKivrelApp::CloseBrowseWnds()
{
    QList<QWidget*> wnds;
    ListBrowseWnds(wnds);
    for (QWidget* wnd : wnds) {
        // Queued, as a posted close: a window may go while the list is
        // walked.
        QMetaObject::invokeMethod(wnd, &QWidget::close, Qt::QueuedConnection);
    }
}

void CKivrelApp::FindBrowseWnd(QWidget*& wnd) const
{
    QList<QWidget*> wnds;
    ListBrowseWnds(wnds);
    if (!wnds.isEmpty()) {
        wnd = wnds.front();
    }
}

void CKivrelApp::BrowseNode(KV_DsTreeNode* node)
{
    OpenDsBrowseWnd(node);
}

bool CKivrelApp::OpenBrowseWnd(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags,
                               bool show)
{
    auto* wnd = new (std::nothrow) CBrowseSplt(left, right, flags);
    if (wnd == nullptr) {
        return false;
    }
    if (!wnd->CreateFrame()) {
        delete wnd;
        return false;
    }
    if (show) {
        wnd->show();
    }
    return true;
}

bool CKivrelApp::OpenDsBrowseWnd(KV_DsTreeNode* node)
{
    if (node == nullptr || node->type() == KV_DS_NODE_GRP || pool == nullptr) {
        return false;
    }
    // A running instance has no settings of its own: they are its data
    // source's.
    const KV_DsTreeNode* source = node;
    if (node->type() == KV_DS_NODE_MAN_INST) {
        source = pool->tree().find(KV_FileManId(node->id(), 0));
        if (source == nullptr) {
            return false;
        }
    }
    const KV_DsTreeNode* clone = pool->tree().clone(source, true);
    if (clone == nullptr) {
        return false;
    }
    CloneGuard guard{clone};
    const KV_FileManParams* params = clone->params();
    if (params == nullptr) {
        return false;
    }
    const KV_FileManId id = node->id();
    if (!id.valid()) {
        return false;
    }
    const KV_FileManOpts& opts = params->opts();
    if (id.valid_man()) {
        KV_Informer* informer = pool->informer(id);
        QObject* bound = informer != nullptr ? CWndRegistry::Find(informer->hwnd()) : nullptr;
        CBrowseSplt* wnd = CBrowseSplt::FromChild(qobject_cast<QWidget*>(bound));
        if (wnd == nullptr || wnd->IsDestroying()) {
            return OpenBrowseWnd(id, KV_FileManId(), opts.disp_info(), true);
        }
        if (!wnd->isVisible()) {
            // Closed earlier and kept: its folders may have moved on.
            for (const KV_FileManId& side : {wnd->GetLeftManId(), wnd->GetRightManId()}) {
                if (side.valid()) {
                    pool->pwd(side);
                }
            }
        }
        wnd->showNormal();
        wnd->raise();
        wnd->activateWindow();
        return true;
    }
    if (!clone->can_open()) {
        ShowErrorBox(QStringLiteral("Invalid data source definition. Please check the data "
                                    "source properties for details."),
                     nullptr);
        return false;
    }
    return OpenBrowseWnd(id, KV_FileManId(opts.open_with(), 0), opts.disp_info(), true);
}

void CKivrelApp::OpenUriBrowseWnd(const KV_String& name, const KV_String& comment,
                                  const KV_String& uri, const KV_String& user,
                                  const KV_String& pass, bool anonymous, bool extra)
{
    if (pool == nullptr) {
        return;
    }
    KV_String scheme;
    KV_String addr;
    KV_String path;
    KV_UriMan::split_uri(uri, scheme, addr, path);
    KV_DS_NODE_TYPE type = KV_DS_NODE_NONE;
    bool secure = false;
    KV_DsTreeNode::get_type(scheme, type, secure, KV_DS_NODE_FTP);
    if (type == KV_DS_NODE_NONE) {
        pool->informer().set_err(2, "Invalid URI %s.", uri.data());
        return;
    }
    const KV_LoginData login(user.trim(), pass.trim());
    uint8_t flags = 0x0C;
    if (extra) {
        flags |= 0x10;
    }
    if (secure) {
        flags |= 0x20;
    }
    KV_DsTreeInfo info(*pool);
    if (!pool->tree().get_info(info, type, addr, flags, anonymous ? nullptr : &login) ||
        info.list().size() != 1) {
        return;
    }
    KV_DsTreeNode* clone = info.list().at(0)->clone();
    if (clone == nullptr) {
        return;
    }
    if (name.length() != 0) {
        clone->set_name(name);
    }
    if (comment.length() != 0) {
        clone->set_comment(comment);
    }
    const bool deltemp = pool->set_deltemp(false);
    KV_DsTreeNode* node = pool->tree().find(clone->id());
    if (node == nullptr) {
        node = pool->new_ds(clone, 2);
    } else if (!pool->set_status(node, 2)) {
        node = nullptr;
    }
    if (node != nullptr) {
        node = pool->tree().find(clone->id());
    }
    if (node != nullptr) {
        bool changed = false;
        if (node->node_doc_add(path, changed) && changed) {
            pool->upd_fman_param(node);
        }
        OpenDsBrowseWnd(node);
    }
    pool->set_deltemp(deltemp);
}

bool CKivrelApp::SaveBrowseWnds()
{
    br_wnds.clear();
    QList<QWidget*> wnds;
    ListBrowseWnds(wnds);
    for (QWidget* wnd : wnds) {
        auto* browse = qobject_cast<CBrowseSplt*>(wnd);
        if (browse == nullptr) {
            continue;
        }
        if (!br_wnds.append(BrWndMan::BrWndPair(browse->GetLeftManId(), browse->GetRightManId(),
                                                browse->GetFlags()))) {
            return false;
        }
    }
    return br_wnds.Save();
}

bool CKivrelApp::RestoreBrowseWnds()
{
    if (pool == nullptr || !br_wnds.Load()) {
        return false;
    }
    std::vector<KV_FileManId> live;
    for (uint32_t i = 0; i < br_wnds.count(); ++i) {
        for (const KV_FileManId* id : {&br_wnds.at(i).left, &br_wnds.at(i).right}) {
            if (pool->man(*id) != nullptr) {
                live.push_back(*id);
            }
        }
    }
    auto is_live = [&live](const KV_FileManId& id) {
        for (const KV_FileManId& l : live) {
            if (l == id) {
                return true;
            }
        }
        return false;
    };
    for (uint32_t i = 0; i < br_wnds.count(); ++i) {
        const BrWndMan::BrWndPair& pair = br_wnds.at(i);
        if (!is_live(pair.left) && !is_live(pair.right)) {
            continue;
        }
        for (const KV_FileManId* id : {&pair.left, &pair.right}) {
            if (id->valid() && pool->man(*id) == nullptr && pool->reg(*id) == nullptr) {
                return false;
            }
        }
        // Shown: a window reopened hidden is one the user cannot find, and
        // the start-up would seem to have forgotten it. Its managers were
        // brought up by the saved requests, and a pane does not ask for the
        // folder itself before the transfer manager runs: asked here, the
        // answer comes once it does.
        if (OpenBrowseWnd(pair.left, pair.right, pair.flags, true)) {
            for (const KV_FileManId* id : {&pair.left, &pair.right}) {
                if (id->valid()) {
                    pool->pwd(*id);
                }
            }
        }
    }
    return true;
}
