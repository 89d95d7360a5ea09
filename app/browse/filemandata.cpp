#include "browse/filemandata.h"

#include "browse/browsefrm.h"
#include "dialogs/dlgtranspar.h"
#include "http/kv_filemanhttp.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqs.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "ssh/kv_filemansftp.h"

#include <QDialog>
#include <QTimer>

namespace {

KV_FileManPool* Pool()
{
    CKivrelApp* app = CKivrelApp::Instance();
    return app != nullptr ? app->GetPool() : nullptr;
}

// The manager when it is of the engine class `T`, else null.
template <class T> T* As(KV_FileMan* man)
{
    return dynamic_cast<T*>(man);
}

} // namespace

CFileManData::CFileManData()
{
    if (CKivrelApp* app = CKivrelApp::Instance()) {
        app->AddFileManData(this);
    }
}

CFileManData::~CFileManData()
{
    CKivrelApp* app = CKivrelApp::Instance();
    if (man != nullptr) {
        man->informer().set_wnd(nullptr);
        // The tree must not keep calling a receiver that goes with this
        // adapter's window: it passes to another adapter of the same
        // manager, or to none.
        // (The kind's tree accessor cannot be reached from here: the kind
        // is gone already.)
        if (KV_FileTree* tree = bound_tree) {
            KV_FileTreeGlobalNtfRecv* next = nullptr;
            if (app != nullptr) {
                for (CFileManData* other : app->GetFileManData()) {
                    if (other != this && other->man == man && other->receiver != nullptr) {
                        next = other->receiver;
                    }
                }
            }
            tree->set_ntf(next);
        }
        man->unlock(false);
        man = nullptr;
    }
    if (KV_FileManPool* pool = Pool()) {
        pool->delete_zombies();
    }
    if (app != nullptr) {
        app->RemoveFileManData(this);
    }
}

// ---------------------------------------------------------------------------
// per-protocol queries

KV_TavoInfoMan* CFileManData::GetTavoInfoMan()
{
    return nullptr;
}

KV_FileTree* CFileManData::GetFileTree()
{
    return nullptr;
}

bool CFileManData::IsSftp()
{
    return false;
}

bool CFileManData::IsColumnHidden(int)
{
    return false;
}

bool CFileManData::HasConnection()
{
    return true;
}

bool CFileManData::GetStateVariant()
{
    return false;
}

bool CFileManData::IsRootName(const KV_String&)
{
    return false;
}

KV_FILE_MAN_TMODE CFileManData::GetTransferMode()
{
    return static_cast<KV_FILE_MAN_TMODE>(0);
}

void CFileManData::SetTransferMode(KV_FILE_MAN_TMODE) {}

KV_TavoInfoMan* CFileManDataStd::GetTavoInfoMan()
{
    auto* m = As<KV_FileManStd>(man);
    return m != nullptr ? &m->man_tavo_info() : nullptr;
}

KV_FileTree* CFileManDataStd::GetFileTree()
{
    auto* m = As<KV_FileManStd>(man);
    return m != nullptr ? &m->tree() : nullptr;
}

bool CFileManDataStd::IsColumnHidden(int column)
{
    return column == 6 || column == 7;
}

bool CFileManDataStd::HasConnection()
{
    return false;
}

bool CFileManDataStd::IsRootName(const KV_String& name)
{
    // The local file manager lists one top-level entry, the root folder.
    return name.compare(KV_String("/")) == 0;
}

KV_TavoInfoMan* CFileManDataFtp::GetTavoInfoMan()
{
    auto* m = As<KV_FileManFtp>(man);
    return m != nullptr ? &m->man_tavo_info() : nullptr;
}

KV_FileTree* CFileManDataFtp::GetFileTree()
{
    auto* m = As<KV_FileManFtp>(man);
    return m != nullptr ? &m->tree() : nullptr;
}

bool CFileManDataFtp::GetStateVariant()
{
    return true;
}

KV_FILE_MAN_TMODE CFileManDataFtp::GetTransferMode()
{
    auto* m = As<KV_FileManFtp>(man);
    return m != nullptr ? m->tmode() : static_cast<KV_FILE_MAN_TMODE>(0);
}

void CFileManDataFtp::SetTransferMode(KV_FILE_MAN_TMODE mode)
{
    if (auto* m = As<KV_FileManFtp>(man)) {
        m->set_tmode(mode);
    }
}

KV_TavoInfoMan* CFileManDataSftp::GetTavoInfoMan()
{
    auto* m = As<KV_FileManSftp>(man);
    return m != nullptr ? &m->man_tavo_info() : nullptr;
}

KV_FileTree* CFileManDataSftp::GetFileTree()
{
    auto* m = As<KV_FileManSftp>(man);
    return m != nullptr ? &m->tree() : nullptr;
}

bool CFileManDataSftp::IsSftp()
{
    return true;
}

bool CFileManDataSftp::GetStateVariant()
{
    return true;
}

KV_TavoInfoMan* CFileManDataHttp::GetTavoInfoMan()
{
    auto* m = As<KV_FileManHttp>(man);
    return m != nullptr ? &m->man_tavo_info() : nullptr;
}

KV_FileTree* CFileManDataHttp::GetFileTree()
{
    auto* m = As<KV_FileManHttp>(man);
    return m != nullptr ? &m->tree() : nullptr;
}

bool CFileManDataHttp::IsColumnHidden(int column)
{
    return column == 5 || column == 6 || column == 7;
}

// ---------------------------------------------------------------------------
// binding

bool CFileManData::Attach(CBrowseFrm* pane, KV_FileTreeGlobalNtfRecv* receiver,
                          const KV_FileManId& id)
{
    this->pane = pane;
    KV_FileManPool* pool = Pool();
    if (man != nullptr || pool == nullptr) {
        return false;
    }
    man = pool->reg(id);
    if (man != nullptr) {
        man->lock(false);
        if (KV_FileTree* tree = GetFileTree()) {
            this->receiver = receiver;
            bound_tree = tree;
            tree->set_ntf(receiver);
            if (id.valid_man() && tree->root() != nullptr) {
                path.clear();
                path.append(tree->root()->name());
            }
        }
        man->informer().set_wnd(pane != nullptr ? pane->GetHwnd() : nullptr);
    }
    return GetManId().valid() && Refresh();
}

KV_Informer* CFileManData::GetInformer() const
{
    return man != nullptr ? &man->informer() : nullptr;
}

KV_FileManId CFileManData::GetManId() const
{
    return man != nullptr ? man->id() : KV_FileManId();
}

KV_FileReqInfoMan* CFileManData::GetReqInfoMan() const
{
    return man != nullptr ? &man->man_req_info() : nullptr;
}

bool CFileManData::IsCaseSens() const
{
    return man != nullptr && man->case_sens();
}

void CFileManData::SetListHidden(bool hidden, CBrowseFrm* pane)
{
    if (hidden == list_hidden) {
        return;
    }
    list_hidden = hidden;
    // The view whose coming or going changed the flag rebuilds the pane's
    // folder tree itself (CFileView), so the pane is not needed here.
    (void)pane;
}

// ---------------------------------------------------------------------------
// notices

bool CFileManData::ProcessNtf(KV_Msg* msg)
{
    if (msg != nullptr && msg->type() == KV_MSG_TREE_NTF &&
        static_cast<const KV_MsgTreeNtf*>(msg)->ntf == KV_TREE_NTF_RECV_ONLY) {
        // The user's own scan succeeded: its folder becomes current. The
        // manager never sees this notice.
        const KV_PathDef& scanned = static_cast<const KV_MsgTreeNtf*>(msg)->path;
        if (scanned.is_equal(path, IsCaseSens())) {
            return true;
        }
        KV_FileTree* tree = GetFileTree();
        if (tree == nullptr) {
            return false;
        }
        path = scanned;
        KV_FileTreeNode* node = tree->find(path.list());
        if (pane == nullptr || node == nullptr) {
            return false;
        }
        const bool ok = Reannounce(tree);
        pane->RefreshViews();
        return ok;
    }
    return man != nullptr && man->process_ntf(msg);
}

bool CFileManData::Reannounce(KV_FileTree* tree)
{
    ++reannounce_gen;
    if (pane == nullptr) {
        return tree->refresh(path, 0, false);
    }
    if (tree->find(path.list()) == nullptr || !(reannounce_path = path)) {
        return false;
    }
    reannounce_after = KV_String();
    tree->inform(nullptr, KV_TREE_NODE_REFRESH_BEGIN, path, 0);
    ReannounceStep(reannounce_gen);
    return true;
}

void CFileManData::ReannounceStep(uint64_t generation)
{
    KV_FileTree* tree = GetFileTree();
    if (generation != reannounce_gen || tree == nullptr ||
        !reannounce_path.is_equal(path, IsCaseSens())) {
        return;
    }
    const int64_t told = tree->refresh_part(path, 0, &reannounce_after, kReannounceSlice);
    if (told == kReannounceSlice) {
        QTimer::singleShot(0, pane, [this, generation] { ReannounceStep(generation); });
        return;
    }
    tree->inform(nullptr, KV_TREE_NODE_REFRESH_END, path, 0);
}

// ---------------------------------------------------------------------------
// folder

bool CFileManData::Refresh()
{
    KV_FileManPool* pool = Pool();
    if (man == nullptr || pool == nullptr) {
        return false;
    }
    if (!man->pwd_done()) {
        // The working folder comes back as a tree message; a later Refresh
        // shows it.
        return !pool->man_trans().running() || pool->pwd(GetManId());
    }
    KV_FileTree* tree = GetFileTree();
    if (tree == nullptr) {
        return false;
    }
    bool ok = true;
    if (KV_FileTreeNode* node = tree->find(path.list())) {
        tree->set_act_inf(node);
        if (!Reannounce(tree)) {
            return false;
        }
        if (!node->nscan()) {
            ok = Scan(path, false);
        } else {
            tree->inform_global(node);
        }
    }
    if (ok && pane != nullptr) {
        pane->RefreshViews();
    }
    return ok;
}

bool CFileManData::CanRefresh()
{
    if (man == nullptr || man->dead(false)) {
        return false;
    }
    if (!man->pwd_done()) {
        return true;
    }
    KV_FileTree* tree = GetFileTree();
    const KV_FileTreeNode* node = tree != nullptr ? tree->find(path.list()) : nullptr;
    return node != nullptr && !node->nscan() && node->status() != 2 && node->status() != 3;
}

bool CFileManData::SetFolder(const KV_PathDef& folder, bool skip_if_same)
{
    if (skip_if_same && folder.is_equal(path, IsCaseSens())) {
        return true;
    }
    path = folder;
    return Refresh();
}

bool CFileManData::ChangeFolder(const KV_String& name, bool go)
{
    if (name.compare(KV_String(".")) == 0) {
        return true;
    }
    KV_PathDef next(path);
    if (name.compare(KV_String("..")) == 0) {
        if (path.entries() < 2) {
            return true;
        }
        next.remove_last();
    } else if (!next.append(name)) {
        return false;
    }
    return !go || SetFolder(next, false);
}

bool CFileManData::SetPathText(const KV_String& text, bool skip_if_same)
{
    if (man == nullptr) {
        return false;
    }
    const KV_PathMan rules = man->man_path();
    KV_PathDef typed;
    if (!rules.split_path(text, typed, true) || !typed.prepend(rules.dir_pre())) {
        return false;
    }
    KV_FileTree* tree = GetFileTree();
    if (tree == nullptr || tree->root() == nullptr) {
        return false;
    }
    bool absolute = IsRootName(typed.first());
    const KV_FileTreeNode* root = tree->root();
    for (uint32_t i = 0; !absolute && i < root->list().size(); ++i) {
        absolute = typed.first().compare(root->list().at(i)->name(), rules.case_sens()) == 0;
    }
    KV_PathDef target;
    if (absolute) {
        target = typed;
    } else {
        target = path;
        for (uint32_t i = typed.first_ind(); i < typed.entries(); ++i) {
            if (!target.append(typed.at(i))) {
                return false;
            }
        }
    }
    if (!target.validate()) {
        man->informer().set_err(2, "Invalid path (%s).", text.data());
        return false;
    }
    if (skip_if_same && target.is_equal(path, IsCaseSens())) {
        return true;
    }
    return Scan(target, true);
}

bool CFileManData::Scan(const KV_PathDef& folder, bool user)
{
    KV_FileManPool* pool = Pool();
    return man != nullptr && pool != nullptr && pool->scan(GetManId(), folder, true, user);
}

bool CFileManData::GetPathText(KV_String& text, const KV_PathDef& folder, bool with_pre,
                               uint32_t nabbrev) const
{
    return man != nullptr && man->man_path().build_path(text, folder, with_pre, nabbrev);
}

KV_String CFileManData::GetDirText(const KV_String& dir) const
{
    return man != nullptr ? man->man_path().compl_dir(dir) : KV_String();
}

// ---------------------------------------------------------------------------
// requests

bool CFileManData::EditRmParams(KV_FileReqTransParamsRm& params, QWidget* parent)
{
    CDlgTransParRm dlg(params, parent);
    if (dlg.exec() != QDialog::Accepted) {
        return false;
    }
    params = *static_cast<const KV_FileReqTransParamsRm*>(dlg.GetParams());
    return true;
}

bool CFileManData::EditCpParams(KV_FileReqTransParamsCp& params, uint16_t src_type,
                                uint16_t dst_type, QWidget* parent)
{
    CDlgTransParCp dlg(src_type, dst_type, params, KV_REQ_STAT_QUEUED, parent);
    if (dlg.exec() != QDialog::Accepted) {
        return false;
    }
    params = *static_cast<const KV_FileReqTransParamsCp*>(dlg.GetParams());
    return true;
}

bool CFileManData::EditRenParams(KV_FileReqTransParamsRen& params, QWidget* parent)
{
    CDlgTransParRen dlg(params, parent);
    if (dlg.exec() != QDialog::Accepted) {
        return false;
    }
    params = *static_cast<const KV_FileReqTransParamsRen*>(dlg.GetParams());
    return true;
}

bool CFileManData::Remove(const KV_PathDef& dir, const KVTL::KV_ListVal<KV_String>& names,
                          QWidget* parent)
{
    KV_FileManPool* pool = Pool();
    if (man == nullptr || pool == nullptr) {
        return false;
    }
    const KV_FileManId id = GetManId();
    KV_FileReqTransParamsRm params = pool->tree().params_rm(id);
    if (parent != nullptr && !EditRmParams(params, parent)) {
        return true;
    }
    return pool->remove(id, dir, names, params);
}

bool CFileManData::Receive(const KV_FileManId& src, const KV_PathDef& src_dir,
                           const KV_PathDef& dst_dir, const KVTL::KV_ListVal<KV_String>& names,
                           bool move, bool flag, QWidget* parent)
{
    KV_FileManPool* pool = Pool();
    if (man == nullptr || pool == nullptr) {
        return false;
    }
    const KV_FileManId id = GetManId();
    if (!move) {
        if (!pool->can_copy(src, id, src_dir, dst_dir, names, flag)) {
            return false;
        }
        KV_FileReqTransParamsCp params = pool->tree().params_cp(src, id);
        if (parent != nullptr && !EditCpParams(params, src.type(), id.type(), parent)) {
            return true;
        }
        return pool->copy(src, id, src_dir, dst_dir, names, KVTL::KV_ListVal<KV_String>(), params);
    }
    if (!pool->can_move(src, id, src_dir, dst_dir, names, flag)) {
        return false;
    }
    KV_FileReqTransParamsRen params = pool->tree().params_ren(src);
    if (parent != nullptr && !EditRenParams(params, parent)) {
        return true;
    }
    // A move is a rename on the source's manager.
    return pool->rename(src, src_dir, dst_dir, names, params);
}

bool CFileManData::ReceiveLocal(const KV_FileManId& src, const KV_PathDef& src_dir,
                                const KV_PathDef& dst_dir, const KVTL::KV_ListVal<KV_String>& names,
                                bool move, bool flag, bool fallback)
{
    KV_FileManPool* pool = Pool();
    if (man == nullptr || pool == nullptr) {
        return false;
    }
    const KV_FileManId id = GetManId();
    const KV_FileReqTransParamsCp params = pool->tree().params_cp(src, id);
    return pool->copy(src, id, src_dir, dst_dir, names, params, move, flag, fallback);
}

bool CFileManData::FileOp(const KV_PathDef& dir, const KVTL::KV_ListVal<KV_String>& names,
                          KV_FILEOP op)
{
    KV_FileManPool* pool = Pool();
    if (man == nullptr || pool == nullptr) {
        return false;
    }
    const KV_FileManId id = GetManId();
    return pool->fileop(id, dir, names, pool->tree().params_fileop(id), op);
}

void CFileManData::DisconnectAll()
{
    KV_TavoInfoMan* table = GetTavoInfoMan();
    KV_FileManPool* pool = Pool();
    if (table == nullptr || pool == nullptr) {
        return;
    }
    // The workers to disconnect are gathered first: disconnecting changes
    // the table.
    std::vector<unsigned int> running;
    KVTL::KV_HMapPtrIterator<unsigned int, KV_TavoInfo> it(table->map_info());
    for (it.first(); !it.end(); it.next()) {
        const KV_TavoInfo* info = it.value();
        if (info != nullptr && info->sess_ctrl.running()) {
            running.push_back(it.key());
        }
    }
    const KV_FileManId id = GetManId();
    for (unsigned int worker : running) {
        pool->tavo_man(id, worker, KV_MANAGE_CMD_DISCONNECT, KV_String());
    }
}
