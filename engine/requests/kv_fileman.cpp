#include "requests/kv_fileman.h"

#include <mutex>
#include <new>

#include "datasources/kv_dstree.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_reqmsg.h"

// ---------------------------------------------------------------------------
// KV_FileMan: life cycle and parameters

KV_FileMan::KV_FileMan(const KV_FileManId& id) : id_(id) {}

KV_FileMan::~KV_FileMan()
{
    // The thread and the workers go first: they read the parameters.
    terminate();
    set_params(nullptr, nullptr);
    KV_Informer* root = kv_root_informer();
    const KV_FileManId man_id = id();
    if (root != nullptr && man_id.valid())
        root->send(new (std::nothrow) KV_MsgManNtf(man_id, KV_MAN_NTF_REMOVED, KV_String()));
}

bool KV_FileMan::set_params(const KV_FileManParams* params, const KV_DsId* ds)
{
    bool ok = true;
    if (ds != nullptr && ds->valid()) {
        std::lock_guard<KV_Lock> guard(id_lock);
        id_ = KV_FileManId(*ds, id_.impl());
    }
    {
        std::lock_guard<KV_Lock> guard(params_lock_);
        KV_FileManParams::destr_clone(params_);
        params_ = nullptr;
        if (params != nullptr) {
            params_ = params->clone();
            if (params_ != nullptr) {
                // Paths of this manager start with the data-source name.
                params_->opts().set_dir_pre(params_->name());
                ++params_ver_;
            } else {
                ok = false;
            }
        }
    }
    // A worker takes new options only when it starts a request: give every
    // running one a request, so that none keeps old settings while idle.
    for (uint32_t i = 0; ok && i < ntavos(); ++i) {
        bool running = false;
        const uint32_t tavo = tavo_id(i, &running);
        if (tavo == 0 || !running)
            continue;
        KV_FileReqUMan* r = new (std::nothrow)
            KV_FileReqUMan(informer(), tavo, KV_MANAGE_CMD_NEW_SETTINGS, KV_String());
        ok = r != nullptr && add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED);
    }
    req_proc();
    if (ok && pwd_done())
        informer().send(new (std::nothrow)
                            KV_MsgTavoNtf(KV_TAVO_NTF_CHANGED, 0, KV_String(), KV_String()));
    return ok;
}

KV_FileManParams* KV_FileMan::clone_params() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    return params_ != nullptr ? params_->clone() : nullptr;
}

KV_FileManId KV_FileMan::id() const
{
    std::lock_guard<KV_Lock> guard(id_lock);
    return id_;
}

KV_String KV_FileMan::def_path() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    return params_ != nullptr ? params_->def_path() : KV_String();
}

bool KV_FileMan::init(KV_FileManParams* params)
{
    if (params == nullptr)
        return false;
    return set_params(params, nullptr) && reset() && KV_FileReqMan::init();
}

KV_FileReqManOpts KV_FileMan::opts() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    if (params_ != nullptr)
        return params_->opts();
    // No parameters: before init or after the destructor released them. No
    // workers then, since nothing could tell them how to work.
    return KV_FileReqManOpts(0, 0);
}

// ---------------------------------------------------------------------------
// Questions

KV_String KV_FileMan::pass(const KV_String& user)
{
    std::lock_guard<KV_Lock> guard(ask_lock);
    if (pass_.empty()) {
        KV_PassAsk ask;
        ask.id = id();
        ask.user = user;
        if (informer().ask(KV_String(), KV_ANS_YES, KV_ASK_LOGIN, &ask) == KV_ANS_YES)
            pass_ = ask.pass;
    }
    return pass_;
}

bool KV_FileMan::sec_forced(const KV_String& text, KV_ASK ask, KV_ANS& ans)
{
    std::lock_guard<KV_Lock> guard(ask_lock);
    // A refusal makes the manager dead, so the dead flag remembers it.
    if (!sec_forced() && !dead(true)) {
        ans = informer().ask(text, KV_ANS_NO, ask, nullptr);
        if (ans == KV_ANS_YES || ans == KV_ANS_YES_ALL)
            set_sec_forced();
        else
            set_dead(true);
    }
    return sec_forced();
}

bool KV_FileMan::sec_accepted(const KV_String& ident) const
{
    std::lock_guard<KV_Lock> guard(sec_lock);
    return !ident.empty() && sec_idents.find(ident);
}

void KV_FileMan::set_sec_accepted(const KV_String& ident)
{
    std::lock_guard<KV_Lock> guard(sec_lock);
    if (!ident.empty() && !sec_idents.find(ident))
        sec_idents.add(ident);
}

bool KV_FileMan::sec_forced(const KV_String& text, KV_ASK ask, KV_ANS& ans, const KV_String& ident)
{
    std::lock_guard<KV_Lock> guard(ask_lock);
    // Checked under ask_lock: a second asker about the same identity finds
    // the first one's answer here.
    if (sec_accepted(ident))
        return true;
    // A refusal makes the manager dead, so the dead flag remembers it.
    if (ident.empty() || dead(true))
        return false;
    ans = informer().ask(text, KV_ANS_NO, ask, nullptr);
    if (ans != KV_ANS_YES && ans != KV_ANS_YES_ALL) {
        set_dead(true);
        return false;
    }
    set_sec_accepted(ident);
    return sec_accepted(ident);
}

// ---------------------------------------------------------------------------
// Notices

void KV_FileMan::initialized()
{
    KV_Informer* root = kv_root_informer();
    if (root == nullptr)
        return;
    const KV_FileManId man_id = id();
    KV_MsgManNtf* msg;
    {
        std::lock_guard<KV_Lock> guard(params_lock_);
        msg = new (std::nothrow)
            KV_MsgManNtf(man_id, KV_MAN_NTF_INIT, params_ ? params_->name() : KV_String());
    }
    root->send(msg);
}

void KV_FileMan::ds_changed()
{
    const KV_FileManId man_id = id();
    KV_MsgManNtf* msg;
    {
        std::lock_guard<KV_Lock> guard(params_lock_);
        msg = new (std::nothrow)
            KV_MsgManNtf(man_id, KV_MAN_NTF_DS_CHANGED, params_ ? params_->name() : KV_String());
    }
    informer().send(msg);
}

void KV_FileMan::unlocked()
{
    KV_Informer* root = kv_root_informer();
    if (root != nullptr)
        root->send(new (std::nothrow) KV_MsgManNtf(id(), KV_MAN_NTF_UNLOCKED, KV_String()));
}

bool KV_FileMan::process_ntf(KV_Msg* msg)
{
    return KV_FileManTavo::process_ntf(msg) && req_info.process_ntf(msg);
}

// ---------------------------------------------------------------------------
// Counted requests and the scan cache

void KV_FileMan::req_status_changed(const KV_FileReq* r, bool queued)
{
    if (r == nullptr || !r->cnt_limit())
        return;
    if (queued) {
        ncnt_req.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    uint32_t n = ncnt_req.load(std::memory_order_relaxed);
    while (n != 0 && !ncnt_req.compare_exchange_weak(n, n - 1, std::memory_order_relaxed))
        ;
}

void KV_FileMan::req_list_updated()
{
    if (ncnt_req.load(std::memory_order_relaxed) == 0)
        return;
    const KVTL::KV_ListPtrSrt<KV_FileReq>& list = list_req();
    if (list.empty())
        return;
    const uint32_t limit = scan_cache();
    // The walk goes from the back of the queue. Listings sort newest first
    // (their cmp_id is the inverted id), so the oldest waiting listing is
    // dropped first and the newest counted request is never dropped: the
    // folder the user looks at now is the one that must be listed.
    while (limit != 0 && ncnt_req.load(std::memory_order_relaxed) > limit) {
        KV_FileReq* victim = nullptr;
        bool later = false;
        for (uint32_t i = list.size(); i-- > 0;) {
            KV_FileReq* r = list.at(i);
            if (r == nullptr || !r->cnt_limit())
                continue;
            if (victim != nullptr) {
                later = true;
                break;
            }
            const KV_REQ_STAT st = r->status();
            if (st == KV_REQ_STAT_QUEUED || st == KV_REQ_STAT_RESTARTING)
                victim = r;
        }
        if (victim == nullptr || !later)
            break;
        victim->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
        // A request kept from ending refuses the change; the count would
        // then never drop and the loop never end.
        if (!victim->processed())
            break;
    }
}

// ---------------------------------------------------------------------------
// Synchronous folder operations

bool KV_FileMan::get_dir_list(KV_FileReq& trans, KV_FileReqObs& obs, const KV_PathDef& dir,
                              KV_FileListStore& store)
{
    KV_FileReqScan* scan = new (std::nothrow) KV_FileReqScan(trans.eh(), dir, &store, false, false);
    if (scan == nullptr)
        return false;
    store.clear();
    return add_req(scan, &trans, &obs, KV_REQ_STAT_QUEUED);
}

bool KV_FileMan::get_dir_list(KV_FileReq& trans, const KV_PathDef& dir, KV_FileListStore& store)
{
    KV_FileReqObs obs;
    const bool queued = get_dir_list(trans, obs, dir, store);
    if (queued)
        obs.wait();
    trans.set_executed(queued && obs.completed());
    return queued;
}

bool KV_FileMan::dir_exists(KV_FileReq& trans, const KV_PathDef& dir, const KV_String& name,
                            bool& exists)
{
    KV_FileListStore store(case_sens(), nullptr);
    KV_FileReqObs obs;
    if (!get_dir_list(trans, obs, dir, store))
        return false;
    obs.wait();
    if (obs.completed()) {
        exists = store.find(name);
        return true;
    }
    // The listing failed: that proves nothing about `name` unless `dir`
    // itself is missing, which its parent's listing can tell.
    if (!exists || dir.entries() < 2)
        return true;
    KV_PathDef parent(dir);
    parent.remove_last();
    bool found = true;
    if (!dir_exists(trans, parent, dir.last(), found))
        return false;
    exists = exists && found;
    return true;
}

bool KV_FileMan::dir_exists(KV_FileReq& trans, const KV_PathDef& path, bool& exists)
{
    exists = true;
    if (path.entries() < 2)
        return true;
    KV_PathDef parent(path);
    parent.remove_last();
    return dir_exists(trans, parent, path.last(), exists);
}

bool KV_FileMan::create_dir(KV_FileReq& trans, const KV_PathDef& path)
{
    KV_FileReqMkDir* mkdir = new (std::nothrow) KV_FileReqMkDir(trans.eh(), path);
    if (mkdir == nullptr)
        return false;
    KV_FileReqObs obs;
    const bool queued = add_req(mkdir, &trans, &obs, KV_REQ_STAT_QUEUED);
    if (queued)
        obs.wait();
    trans.set_executed(queued && obs.completed());
    return queued;
}

bool KV_FileMan::create_dir_chck(KV_FileReq& trans, const KV_PathDef& path)
{
    bool ok = create_dir(trans, path);
    // The number of leading entries of `path` handled next; the root entry
    // is never made.
    uint32_t level = path.first_ind() + 1;
    while (ok && !trans.executed() && !trans.stopped() && trans.can_retry()) {
        KV_PathDef part(path);
        while (part.entries() > level)
            part.remove_last();
        bool exists = true;
        ok = dir_exists(trans, part, exists);
        if (ok) {
            trans.reset_executed();
            if (!exists)
                ok = create_dir(trans, part);
        }
        if (ok && trans.executed()) {
            ++level;
            // The whole path is the last level made: go on until it is.
            if (level <= path.entries())
                trans.set_executed(false);
        }
    }
    return ok;
}

// ---------------------------------------------------------------------------
// Capabilities: the defaults of every kind

KV_TRANS_MODE KV_FileMan::trans_mode(const KV_FileData&) const
{
    return KV_TRANS_MODE_BINARY;
}

KV_DIR_CRT KV_FileMan::can_create_dir(const KV_PathDef&) const
{
    return KV_DIR_CRT_CREATE;
}

uint32_t KV_FileMan::scan_cache() const
{
    return 0;
}

int64_t KV_FileMan::min_frag_size(uint32_t&) const
{
    return 0;
}

bool KV_FileMan::reset()
{
    return true;
}

bool KV_FileMan::pretrans(KV_FileReqTrans&)
{
    return true;
}

bool KV_FileMan::can_resume_get() const
{
    return false;
}

bool KV_FileMan::can_resume_put() const
{
    return false;
}

bool KV_FileMan::can_move(const KV_PathDef&, const KV_PathDef&, bool) const
{
    return true;
}

bool KV_FileMan::can_copy(const KV_PathDef&, const KV_PathDef&, bool) const
{
    return true;
}

bool KV_FileMan::can_mkdir(const KV_PathDef&) const
{
    return true;
}

bool KV_FileMan::can_rename(const KV_PathDef&) const
{
    return true;
}

bool KV_FileMan::log_incl_data(const KV_PathDef&, const KV_PathDef&, KV_FileMan*) const
{
    return true;
}

bool KV_FileMan::del_subdirs() const
{
    return true;
}

bool KV_FileMan::settle_store(const KV_PathDef&, const KV_PathDef&, bool)
{
    return true;
}

std::unique_ptr<KV_Tavo> KV_FileMan::own_tavo()
{
    return nullptr;
}

int KV_FileMan::open_part(const KV_PathDef&, const KV_PathDef&)
{
    return -1;
}
