#include "root/kv_filemanpool.h"

#include <new>

#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenode.h"
#include "datasources/kv_dstreenodeds.h"
#include "foundation/kv_file.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_tmpfile.h"
#include "ftp/kv_filemanftp.h"
#include "http/kv_filemanhttp.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqman.h"
#include "ssh/kv_filemansftp.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_translogtranscp.h"

KV_FileManPool::KV_FileManPool() : tree_(man_trans_.informer())
{
    mans.set_grow(256);
    tree_.set_pool(this);
    KV_FileReqMan::set_pool(this);
    kv_set_root_informer(&informer());
}

KV_FileManPool::~KV_FileManPool()
{
    cleanup();
    delete man_chk;
    man_chk = nullptr;
    if (KV_FileReqMan::pool() == this) {
        KV_FileReqMan::set_pool(nullptr);
        kv_set_root_informer(nullptr);
    }
}

// ---------------------------------------------------------------------------
// Accessors and registry

KV_Informer* KV_FileManPool::informer(const KV_FileManId& id) const
{
    KV_FileMan* m = man(id);
    return m ? &m->informer() : nullptr;
}

KV_HWND KV_FileManPool::pop_hwnd() const
{
    for (uint32_t i = 0; i < mans.size(); ++i) {
        KV_HWND wnd = mans.at(i)->informer().hwnd();
        if (wnd != nullptr)
            return wnd;
    }
    return nullptr;
}

KV_FileMan* KV_FileManPool::man(const KV_FileManId& id) const
{
    for (uint32_t i = 0; i < mans.size(); ++i) {
        KV_FileMan* m = mans.at(i);
        if (m->id() == id)
            return m;
    }
    return nullptr;
}

void KV_FileManPool::hold_man(const KV_FileManId& id, bool hold)
{
    KV_FileMan* m = man(id);
    if (m == nullptr)
        return;
    if (hold)
        m->lock(false);
    else
        m->unlock(false);
}

bool KV_FileManPool::contains(const KV_DsId& id) const
{
    for (uint32_t i = 0; i < mans.size(); ++i) {
        if (static_cast<const KV_DsId&>(mans.at(i)->id()) == id)
            return true;
    }
    return false;
}

KV_FileManId KV_FileManPool::best_man(const KV_DsId& id) const
{
    for (uint32_t i = 0; i < mans.size(); ++i) {
        const KV_FileManId mid = mans.at(i)->id();
        if (static_cast<const KV_DsId&>(mid) == id)
            return mid;
    }
    return KV_FileManId(id, 0);
}

KV_FileManId KV_FileManPool::new_id(const KV_DsId& id) const
{
    uint32_t n = 1;
    while (n != 0 && man(KV_FileManId(id, n)))
        ++n;
    return KV_FileManId(id, n);
}

bool KV_FileManPool::reqs_reg(const KV_DsId& id) const
{
    for (uint32_t i = 0; i < mans.size(); ++i) {
        KV_FileMan* m = mans.at(i);
        if (!(static_cast<const KV_DsId&>(m->id()) == id))
            continue;
        uint32_t nreq = 0;
        if (m->lock_cnt(&nreq) != 0 && nreq != 0)
            return true;
    }
    return false;
}

KV_FileMan* KV_FileManPool::reg(const KV_FileManId& id_in)
{
    KV_FileManId id(id_in);
    if (!id.valid_man()) {
        id = new_id(id);
        if (id.impl() == 0)
            return nullptr;
    } else if (KV_FileMan* live = man(id)) {
        live->ds_changed();
        return live;
    }

    KV_DsTreeNode* clone = tree_.clone(id, true, nullptr);
    KV_FileManParams* params = clone ? clone->params() : nullptr;
    KV_FileMan* m = nullptr;
    bool ok = params != nullptr;
    if (ok) {
        KV_DsTreeNode* node = tree_.find(KV_FileManId(id, 0));
        ok = params->init(tree_, node);
    }
    if (ok) {
        switch (params->type()) {
        case KV_FILE_MAN_TYPE_STD:
            m = new (std::nothrow) KV_FileManStd(id);
            break;
        case KV_FILE_MAN_TYPE_FTP:
            m = new (std::nothrow) KV_FileManFtp(id);
            break;
        case KV_FILE_MAN_TYPE_HTTP:
            m = new (std::nothrow) KV_FileManHttp(id);
            break;
        case KV_FILE_MAN_TYPE_SFTP:
            m = new (std::nothrow) KV_FileManSftp(id);
            break;
        default:
            break;
        }
        ok = m != nullptr;
    }
    if (ok) {
        m->set_ssl_ctx(&ssl_ctx_);
        if (m->init(params) && mans.add(m)) {
            m->initialized();
            ok = m->start();
        } else {
            delete m;
            m = nullptr;
            ok = false;
        }
    }
    KV_DsTreeNode::destr_clone(clone);
    return ok ? m : nullptr;
}

bool KV_FileManPool::delete_zombies()
{
    for (;;) {
        bool found = false;
        for (uint32_t i = 0; i < mans.size(); ++i) {
            KV_FileMan* m = mans.at(i);
            if (m->lock_cnt(nullptr) != 0)
                continue;
            if (!mans.remove_at(i))
                return false;
            delete m;
            found = true;
            break;
        }
        if (!found)
            return true;
    }
}

// ---------------------------------------------------------------------------
// Settings push

bool KV_FileManPool::upd_fman(const KV_FileManId& id)
{
    for (uint32_t i = 0; i < mans.size(); ++i) {
        KV_FileMan* m = mans.at(i);
        if (m->id() == id)
            m->ds_changed();
    }
    return true;
}

bool KV_FileManPool::upd_fman_param(KV_DsTreeNode* node)
{
    if (node == nullptr)
        return true;
    bool ok = true;
    for (uint32_t i = 0; ok && i < node->list().size(); ++i) {
        KV_DsTreeNode* child = node->list().at(i);
        if (child->type() != KV_DS_NODE_MAN_INST) {
            ok = upd_fman_param(child);
            continue;
        }
        KV_FileMan* m = man(child->id());
        if (m == nullptr)
            continue;
        KV_DsTreeNode* clone = tree_.clone(node, true);
        KV_FileManParams* params = clone ? clone->params() : nullptr;
        ok = params != nullptr && params->init(tree_, node);
        if (ok) {
            // A renamed data source keeps its managers: their ids follow.
            const KV_DsId ds = clone->id();
            const KV_FileManId mid = m->id();
            const bool moved = !(ds == static_cast<const KV_DsId&>(mid));
            if (moved)
                static_cast<KV_DsTreeNodeManInst*>(child)->updt_id(ds);
            ok = m->set_params(params, moved ? &ds : nullptr);
        }
        KV_DsTreeNode::destr_clone(clone);
    }
    return ok;
}

bool KV_FileManPool::update(KV_DsTreeNode* node, const KV_DsTreeNode* src, uint8_t flags)
{
    return tree_.update(node, src, flags) && upd_fman_param(node);
}

bool KV_FileManPool::set_status(KV_DsTreeNode* node, uint8_t flags)
{
    return tree_.set_status(node, flags);
}

KV_DsTreeNode* KV_FileManPool::new_ds(KV_DsTreeNode* node, uint8_t flags)
{
    if (node == nullptr)
        return nullptr;
    const KV_DS_NODE_TYPE type = node->type();
    if (type != KV_DS_NODE_FTP && type != KV_DS_NODE_SFTP && type != KV_DS_NODE_HTTP)
        return nullptr;
    KV_DsTreeNode* grp = tree_.find(type, true);
    return grp ? tree_.create(grp, node, flags, true) : nullptr;
}

// ---------------------------------------------------------------------------
// Life cycle

bool KV_FileManPool::load_ds()
{
    return tree_.load(man_trans_) && init();
}

bool KV_FileManPool::init()
{
    return man_trans_.init();
}

bool KV_FileManPool::load_req()
{
    if (!man_trans_.load_req(*this))
        return false;
    set_deltemp(true);
    return true;
}

bool KV_FileManPool::set_deltemp(bool deltemp)
{
    const bool prev = deltemp_;
    deltemp_ = deltemp;
    if (deltemp)
        tree_.deltemp();
    return prev;
}

bool KV_FileManPool::save()
{
    return tree_.save();
}

bool KV_FileManPool::process_ntf(const KV_Msg* msg)
{
    bool ok = tree_.process_ntf(msg) && man_trans_.process_ntf(msg);
    if (!ok || msg->type() != KV_MSG_MAN)
        return ok;
    const auto* ntf = static_cast<const KV_MsgManNtf*>(msg);
    if (ntf->ntf == KV_MAN_NTF_REMOVED && deltemp_) {
        bool removed = false;
        ok = tree_.deltemp_node(tree_.find(KV_FileManId(ntf->man_id, 0)), removed);
    } else if (ntf->ntf == KV_MAN_NTF_UNLOCKED) {
        delete_zombies();
    }
    return ok;
}

bool KV_FileManPool::term()
{
    if (!man_trans_.stopped())
        man_trans_.stop(KV_STOP_TERMINATE);
    bool done = man_trans_.stopped() && !man_trans_.running();
    if (!done)
        return false;
    man_trans_.terminate();
    for (uint32_t i = 0; i < mans.size(); ++i) {
        KV_FileMan* m = mans.at(i);
        if (!m->stopped())
            m->stop(KV_STOP_TERMINATE);
        if (done)
            done = !m->running();
    }
    return done;
}

void KV_FileManPool::cleanup()
{
    man_trans_.terminate();
    for (uint32_t i = 0; i < mans.size(); ++i)
        delete mans.at(i);
    mans.clear();
}

// ---------------------------------------------------------------------------
// Single-manager requests

namespace {

// Queues `r` on `m`; the manager owns it whatever the result.
bool queue(KV_FileMan* m, KV_FileReq* r)
{
    return r != nullptr && m->add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED);
}

} // namespace

bool KV_FileManPool::mkdir(const KV_FileManId& id, const KV_PathDef& path)
{
    KV_FileMan* m = man(id);
    return m && queue(m, new (std::nothrow) KV_FileReqMkDir(m->informer(), path));
}

bool KV_FileManPool::rename(const KV_FileManId& id, const KV_PathDef& from, const KV_PathDef& to,
                            bool dst_exists)
{
    KV_FileMan* m = man(id);
    return m &&
           queue(m, new (std::nothrow) KV_FileReqRen(m->informer(), from, to, dst_exists, false));
}

bool KV_FileManPool::chmod(const KV_FileManId& id, const KV_PathDef& path, const KV_String& accf,
                           const KV_String& text)
{
    KV_FileMan* m = man(id);
    if (m == nullptr)
        return false;
    auto* r = new (std::nothrow) KV_FileReqChmod(m->informer(), path, accf, text);
    if (r != nullptr)
        r->set_fast_proc();
    return queue(m, r);
}

bool KV_FileManPool::scan(const KV_FileManId& id, const KV_PathDef& path, bool incl_sub,
                          bool usr_scan)
{
    KV_FileMan* m = man(id);
    return m && queue(m, new (std::nothrow)
                             KV_FileReqScan(m->informer(), path, nullptr, incl_sub, usr_scan));
}

bool KV_FileManPool::pwd(const KV_FileManId& id)
{
    KV_FileMan* m = man(id);
    if (m == nullptr)
        return false;
    if (m->pwd_done())
        return true;
    auto* r = new (std::nothrow) KV_FileReqPwd(m->informer(), *m, m->def_path());
    if (r != nullptr)
        r->set_fast_proc();
    return queue(m, r);
}

bool KV_FileManPool::tavo_man(const KV_FileManId& id, uint32_t tavo_id, KV_MANAGE_CMD cmd,
                              const KV_String& param)
{
    KV_FileMan* m = man(id);
    return m && queue(m, new (std::nothrow) KV_FileReqUMan(m->informer(), tavo_id, cmd, param));
}

// ---------------------------------------------------------------------------
// Transfer requests

bool KV_FileManPool::remove(const KV_FileManId& id, const KV_PathDef& folder,
                            const KVTL::KV_ListVal<KV_String>& names,
                            const KV_FileReqTransParamsRm& params)
{
    KV_FileMan* m = man(id);
    if (m == nullptr)
        return false;
    auto* r = new (std::nothrow) KV_FileReqTransRm(m, folder, names, params);
    return r && man_trans_.add_req(r);
}

bool KV_FileManPool::rename(const KV_FileManId& id, const KV_PathDef& from, const KV_PathDef& to,
                            const KVTL::KV_ListVal<KV_String>& names,
                            const KV_FileReqTransParamsRen& params)
{
    KV_FileMan* m = man(id);
    if (m == nullptr)
        return false;
    auto* r = new (std::nothrow) KV_FileReqTransRen(m, from, to, names, params);
    return r && man_trans_.add_req(r);
}

bool KV_FileManPool::copy(const KV_FileManId& src, const KV_FileManId& dst, const KV_PathDef& from,
                          const KV_PathDef& to, const KVTL::KV_ListVal<KV_String>& names,
                          const KVTL::KV_ListVal<KV_String>& names_dst,
                          const KV_FileReqTransParamsCp& params)
{
    KV_FileMan* ms = man(src);
    KV_FileMan* md = man(dst);
    if (ms == nullptr || md == nullptr)
        return false;
    auto* r = new (std::nothrow) KV_FileReqTransCp(ms, md, from, to, names, names_dst, params);
    return r && man_trans_.add_req(r);
}

bool KV_FileManPool::copy(const KV_FileManId& src, const KV_FileManId& dst, const KV_PathDef& from,
                          const KV_PathDef& to, const KVTL::KV_ListVal<KV_String>& names,
                          const KV_FileReqTransParamsCp& params, bool move, bool flag,
                          bool fallback)
{
    if (move && fallback)
        move = can_move(src, dst, from, to, names, flag);
    if (!move) {
        KV_FileMan* ms = reg(src);
        KV_FileMan* md = ms ? reg(dst) : nullptr;
        if (md == nullptr)
            return false;
        if (!can_copy(ms->id(), md->id(), from, to, names, flag))
            return false;
        const KVTL::KV_ListVal<KV_String> none;
        auto* r = new (std::nothrow) KV_FileReqTransCp(ms, md, from, to, names, none, params);
        return r && man_trans_.add_req(r);
    }
    if (!fallback && !can_move(src, dst, from, to, names, flag))
        return false;
    KV_FileMan* m = man(src);
    if (m == nullptr)
        m = man(dst);
    if (m == nullptr)
        return false;
    auto* r = new (std::nothrow) KV_FileReqTransRen(m, from, to, names, KV_FileReqTransParamsRen());
    return r && man_trans_.add_req(r);
}

bool KV_FileManPool::split_text(KV_FileMan& man, const KV_String& text, KV_String& trimmed,
                                KV_PathDef& path)
{
    trimmed = text.trim(3, " ");
    if (man.type() == KV_FILE_MAN_TYPE_STD && !trimmed.empty())
        trimmed = KV_File::path_full(trimmed, false);
    if (trimmed.empty())
        return false;
    return split_path(man, trimmed, path);
}

bool KV_FileManPool::split_path(KV_FileMan& man, const KV_String& text, KV_PathDef& path)
{
    // Engine paths carry the manager's prefix as their root entry.
    const KV_PathMan pm = man.man_path();
    if (!pm.split_path(text, path, true) || path.entries() <= path.first_ind())
        return false;
    return pm.dir_pre().empty() || path.prepend(pm.dir_pre());
}

bool KV_FileManPool::copy(const KV_FileManId& src, const KV_FileManId& dst,
                          const KV_String& src_text, const KV_String& dst_text,
                          const KV_FileReqTransParamsCp& params, KV_FILEOP op)
{
    KV_FileMan* ms = reg(src);
    KV_FileMan* md = ms ? reg(dst) : nullptr;
    if (md == nullptr)
        return false;

    KV_String text;
    KV_PathDef from;
    KVTL::KV_ListVal<KV_String> names;
    if (!split_text(*ms, src_text, text, from) || !names.add(from.last()) || !from.remove_last()) {
        eh().set_err(2, "Invalid source file name %s.", src_text.trim(3, " ").data());
        return false;
    }

    KV_PathDef to;
    KVTL::KV_ListVal<KV_String> targets;
    bool ok = split_text(*md, dst_text, text, to);
    // A text ending in the separator names a folder: the item keeps its name.
    // Asked before the absolute form, which drops a trailing separator.
    if (ok && md->man_path().is_fname(dst_text.trim(3, " ")))
        ok = targets.add(to.last()) && to.remove_last();
    if (!ok) {
        eh().set_err(2, "Invalid destination file name %s.", dst_text.trim(3, " ").data());
        return false;
    }

    auto* r = new (std::nothrow) KV_FileReqTransCp(ms, md, from, to, names, targets, params);
    if (r == nullptr)
        return false;
    r->log().set_fileop(op);
    return man_trans_.add_req(r);
}

bool KV_FileManPool::fileop(const KV_FileManId& id, const KV_PathDef& folder,
                            const KVTL::KV_ListVal<KV_String>& names,
                            const KV_FileReqTransParamsCp& params, KV_FILEOP op)
{
    KV_FileMan* ms = man(id);
    if (ms == nullptr)
        return false;
    KV_FileMan* md = ms;
    KV_PathDef to(folder);
    KVTL::KV_ListVal<KV_String> targets;
    if (ms->type() != KV_FILE_MAN_TYPE_STD) {
        KV_FileManId local;
        {
            KV_DsTreeInfo info(*this);
            if (tree_.get_info(info, KV_DS_NODE_STD, KV_String(), 0, nullptr))
                local = info.find_man();
        }
        if (!local.valid())
            return false;
        md = reg(local);
        if (md == nullptr)
            return false;
        KV_TmpFileMan& tmp = KV_TmpFileMan::singleton();
        if (!tmp.tmp_dir(KV_PATH_SYS_TMP, to))
            return false;
        for (uint32_t i = 0; i < names.size(); ++i) {
            KV_PathDef made;
            if (!tmp.new_file(KV_PATH_SYS_TMP, made, names.at(i)) || !targets.add(made.last()))
                return false;
        }
    } else {
        for (uint32_t i = 0; i < names.size(); ++i) {
            if (!targets.add(names.at(i)))
                return false;
        }
    }
    auto* r = new (std::nothrow) KV_FileReqTransCp(ms, md, folder, to, names, targets, params);
    if (r == nullptr)
        return false;
    r->log().set_fileop(op);
    return man_trans_.add_req(r);
}

bool KV_FileManPool::fileop(const KV_FileManId& id, const KV_String& path,
                            const KV_FileReqTransParamsCp& params, KV_FILEOP op, KV_FileManId* out)
{
    KV_FileMan* m = reg(id);
    if (m == nullptr)
        return false;
    m->lock(false);
    const KV_FileManId mid = m->id();
    if (out != nullptr)
        *out = mid;
    KV_PathDef folder;
    KVTL::KV_ListVal<KV_String> names;
    bool ok = split_path(*m, path, folder) && folder.entries() > folder.first_ind() &&
              names.add(folder.last()) && folder.remove_last();
    if (ok)
        ok = fileop(mid, folder, names, params, op);
    m->unlock(false);
    return ok;
}

// ---------------------------------------------------------------------------
// Predicates

bool KV_FileManPool::move_paths_ok(const KV_PathDef& from, const KV_PathDef& to,
                                   const KVTL::KV_ListVal<KV_String>& names, bool case_sens)
{
    if (from.is_equal(to, case_sens))
        return false;
    for (uint32_t i = 0; i < names.size(); ++i) {
        KV_PathDef item(from);
        if (!item.append(names.at(i)) || item.is_parent(to, case_sens))
            return false;
        KV_PathDef target(to);
        if (!target.append(names.at(i)) || target.is_equal(from, case_sens))
            return false;
    }
    return true;
}

bool KV_FileManPool::can_move(const KV_FileManId& src, const KV_FileManId& dst,
                              const KV_PathDef& from, const KV_PathDef& to,
                              const KVTL::KV_ListVal<KV_String>& names, bool flag) const
{
    if (!(static_cast<const KV_DsId&>(src) == static_cast<const KV_DsId&>(dst)))
        return false;
    KV_FileMan* m = man(dst);
    if (m == nullptr)
        return false;
    KV_PathDef adj(from);
    adj.adjust(to, m->man_path().dir_pre());
    return m->can_move(adj, to, flag) && move_paths_ok(adj, to, names, m->case_sens());
}

bool KV_FileManPool::can_copy(const KV_FileManId& src, const KV_FileManId& dst,
                              const KV_PathDef& from, const KV_PathDef& to,
                              const KVTL::KV_ListVal<KV_String>& names, bool flag)
{
    KV_FileMan* ms = nullptr;
    if (src.impl() == 0 && src.type() == KV_DS_NODE_STD) {
        if (man_chk == nullptr) {
            const KV_DsTreeNode* node = tree_.find(KV_DS_NODE_STD, false);
            KV_FileManParams* params = node ? const_cast<KV_DsTreeNode*>(node)->params() : nullptr;
            auto* chk = params ? new (std::nothrow) KV_FileManStd(KV_FileManId()) : nullptr;
            if (chk != nullptr && !chk->init(params)) {
                delete chk;
                chk = nullptr;
            }
            man_chk = chk;
        }
        ms = man_chk;
    } else {
        ms = man(src);
    }
    KV_FileMan* md = man(dst);
    if (ms == nullptr || md == nullptr)
        return false;
    KV_PathDef adj(from);
    adj.adjust(to, ms->man_path().dir_pre());
    if (!md->can_copy(adj, to, flag))
        return false;
    if (static_cast<const KV_DsId&>(src) == static_cast<const KV_DsId&>(dst))
        return move_paths_ok(adj, to, names, md->case_sens());
    return true;
}

bool KV_FileManPool::can_mkdir(const KV_FileManId& id, const KV_PathDef& path) const
{
    KV_FileMan* m = man(id);
    return m && m->can_mkdir(path);
}

bool KV_FileManPool::can_rename(const KV_FileManId& id, const KV_PathDef& path) const
{
    KV_FileMan* m = man(id);
    return m && m->can_rename(path);
}
