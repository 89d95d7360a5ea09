#include "requests/kv_filereq.h"

#include <climits>
#include <mutex>
#include <new>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_reqmsg.h"

namespace {

constexpr int32_t prog_unknown = KV_FileReqInfo::PROG_UNKNOWN;

} // namespace

// ---------------------------------------------------------------------------
// Construction and destruction

KV_FileReq::KV_FileReq(KV_ErrHandler& eh) : KV_Stoppable(), eh_(eh) {}

KV_FileReq::KV_FileReq(const KV_FileReq& other)
    : KV_Stoppable(other), id_(other.id_), eh_(other.eh_), status_(other.status_.load()),
      prog_perc_(other.prog_perc_.load()), err_cnt_(other.err_cnt_.load()),
      tm_start_rest_(other.tm_start_rest_.load()), inform_(other.inform_.load()),
      busy_reg_(other.busy_reg_.load()), executed_(other.executed_.load()),
      fast_proc_(other.fast_proc_.load()), del_forced_(other.del_forced_.load()),
      dupl_found_(other.dupl_found_.load()), stop_seen_(other.stop_seen_.load())
{
    {
        std::lock_guard<KV_Lock> guard(other.lock);
        term_ = other.term_;
    }
    err_msg_ = other.err_msg();
}

KV_FileReq::~KV_FileReq()
{
    // Normally the owner has settled the request already; this is the last
    // resort for one deleted without settling, and it may call nothing
    // virtual: the derived parts are gone.
    std::lock_guard<KV_Lock> guard(lock_end);
    if (!settled_) {
        settled_ = 1;
        release_bindings(KV_REQ_STAT_ERROR, 0);
    }
    // Barrier: a pause or resume still inside `lock` finishes first.
    lock.lock();
    lock.unlock();
}

// ---------------------------------------------------------------------------
// Status texts

const char* KV_FileReq::status_str(KV_REQ_STAT stat, KV_REQ_TL* tl, KV_REQ_ADD* add)
{
    KV_REQ_TL t = KV_REQ_TL_NONE;
    KV_REQ_ADD a = KV_REQ_ADD_NONE;
    const char* text = "Error";
    switch (stat) {
    case KV_REQ_STAT_QUEUED:
        text = "Queued";
        break;
    case KV_REQ_STAT_RUNNING:
        text = "Running";
        t = KV_REQ_TL_RUNNING;
        break;
    case KV_REQ_STAT_PAUSED:
        text = "Paused";
        t = KV_REQ_TL_WAITING;
        break;
    case KV_REQ_STAT_SUSPENDED:
        text = "Suspended";
        t = KV_REQ_TL_WAITING;
        break;
    case KV_REQ_STAT_RESTARTING:
        text = "Restarting";
        t = KV_REQ_TL_WAITING;
        break;
    case KV_REQ_STAT_COMPLETED:
        text = tl ? "Completed" : "Ready";
        a = KV_REQ_ADD_COMPLETED;
        break;
    case KV_REQ_STAT_ERROR:
        a = KV_REQ_ADD_ERROR;
        break;
    case KV_REQ_STAT_CANCELLED:
        text = "Cancelled";
        t = KV_REQ_TL_CANCELLED;
        break;
    default:
        break;
    }
    if (tl)
        *tl = t;
    if (add)
        *add = a;
    return text;
}

bool KV_FileReq::processed(KV_REQ_STAT stat)
{
    return stat == KV_REQ_STAT_COMPLETED || stat == KV_REQ_STAT_ERROR ||
           stat == KV_REQ_STAT_CANCELLED;
}

bool KV_FileReq::running(KV_REQ_STAT stat)
{
    return stat == KV_REQ_STAT_RUNNING || stat == KV_REQ_STAT_PAUSED;
}

// ---------------------------------------------------------------------------
// Binding and status

void KV_FileReq::set_data(KV_FileReqMan* man, KV_Stoppable* stop_parent, KV_FileReqObs* obs,
                          bool susp)
{
    man_ = man;
    {
        std::lock_guard<KV_Lock> guard(lock);
        obs_ = obs;
        stop_parent_ = stop_parent;
    }
    if (!susp)
        req_started();
    if (obs) {
        obs->set(status(), false, 0);
        obs->reset();
    }
    if (stop_parent)
        stop_parent->stop_reg(this);
    req_initialized();
}

void KV_FileReq::set_status(KV_REQ_STAT stat, bool term, uint32_t value, bool force)
{
    // A terminal change holds lock_end to the very end, including the steps
    // outside `lock`, so that settling (and with it the deletion) waits for
    // it. Only terminal changes take it: a pause from a parent's walk must
    // never wait for a child that is ending (see the header).
    if (processed(stat)) {
        std::lock_guard<KV_Lock> guard(lock_end);
        change_status(stat, term, value, force);
    } else {
        change_status(stat, term, value, force);
    }
}

void KV_FileReq::change_status(KV_REQ_STAT stat, bool term, uint32_t value, bool force)
{
    KV_Stoppable* parent = nullptr;
    KV_FileReqObs* obs = nullptr;
    bool ended = false;
    {
        std::lock_guard<KV_Lock> guard(lock);
        const KV_REQ_STAT cur = status();
        if (stat == KV_REQ_STAT_PAUSED && cur != KV_REQ_STAT_RUNNING)
            return;
        if (stat == KV_REQ_STAT_RESUME) {
            if (cur != KV_REQ_STAT_PAUSED)
                return;
            stat = KV_REQ_STAT_RUNNING;
        }
        if (term)
            term_ = 1;
        if (!term_ && processed(stat))
            return;
        if (!force && processed(cur))
            return;

        status_.store(stat, std::memory_order_release);
        int delta = 0;
        if (!processed(stat)) {
            if (stat == KV_REQ_STAT_RESTARTING) {
                const uint32_t wait = rest_wait();
                if (wait != 0) {
                    KV_Time now;
                    now.now();
                    // In 64 bits: a long wait must not wrap into the past.
                    int64_t t = static_cast<int64_t>(now.impl()) + wait;
                    if (t > INT32_MAX)
                        t = INT32_MAX;
                    tm_start_rest_.store(static_cast<int32_t>(t), std::memory_order_relaxed);
                }
            } else if (stat == KV_REQ_STAT_QUEUED && busy_reg() && !busy_cnt_) {
                busy_cnt_ = 1;
                delta = 1;
            }
        } else {
            req_processed();
            if (stat == KV_REQ_STAT_CANCELLED)
                set_del_forced(true, true, false);
            parent = stop_parent_;
            stop_parent_ = nullptr;
            obs = obs_;
            obs_ = nullptr;
            if (busy_cnt_) {
                busy_cnt_ = 0;
                delta = -1;
            }
            ended = true;
        }
        req_status_changed();
        if (man_)
            man_->req_status_upd(this, delta, true);
    }
    if (ended) {
        // Outside `lock`: the parent's lock may be held by a walk that is
        // waiting for this request's lock.
        if (parent)
            parent->stop_unreg(this);
        if (obs)
            obs->set(stat, true, value);
    }
}

void KV_FileReq::release_bindings(KV_REQ_STAT obs_stat, uint32_t value)
{
    KV_Stoppable* parent;
    KV_FileReqObs* obs;
    {
        std::lock_guard<KV_Lock> guard(lock);
        parent = stop_parent_;
        stop_parent_ = nullptr;
        obs = obs_;
        obs_ = nullptr;
        if (busy_cnt_) {
            busy_cnt_ = 0;
            // Without the hooks: they would see a request whose derived parts
            // may already be gone.
            if (man_)
                man_->req_status_upd(this, -1, false);
        }
    }
    if (parent)
        parent->stop_unreg(this);
    if (obs)
        obs->set(obs_stat, true, value);
}

void KV_FileReq::set_term_status()
{
    std::lock_guard<KV_Lock> guard(lock_end);
    if (settled_)
        return;
    settled_ = 1;
    change_status(KV_REQ_STAT_ERROR, false, 0, false);
    if (!processed()) {
        // Kept from ending (set_no_term): it cannot end any more, so what it
        // holds is released without a status change.
        release_bindings(KV_REQ_STAT_ERROR, 0);
    }
    send_ntf(KV_REQ_NTF_ENDED);
    inform_.store(0, std::memory_order_relaxed);
}

void KV_FileReq::start_susp(bool term)
{
    if (status() != KV_REQ_STAT_SUSPENDED)
        return;
    req_started();
    set_status(KV_REQ_STAT_QUEUED, term, 0, false);
}

void KV_FileReq::start_rest()
{
    tm_start_rest_.store(-1, std::memory_order_relaxed);
}

bool KV_FileReq::can_process(KV_REQ_STAT stat) const
{
    const KV_REQ_STAT cur = status();
    if (cur == KV_REQ_STAT_SUSPENDED || cur != stat)
        return false;
    if (cur == KV_REQ_STAT_RESTARTING)
        return !tm_start_rest().valid();
    return true;
}

// ---------------------------------------------------------------------------
// Setters and accessors

void KV_FileReq::reset_err_cnt()
{
    err_cnt_.store(0, std::memory_order_relaxed);
    req_err_cnt_changed();
}

void KV_FileReq::set_err_msg(const KV_String& msg)
{
    std::lock_guard<KV_Lock> guard(lock_msg);
    err_msg_ = msg;
}

KV_String KV_FileReq::err_msg() const
{
    std::lock_guard<KV_Lock> guard(lock_msg);
    return err_msg_;
}

void KV_FileReq::set_no_term()
{
    std::lock_guard<KV_Lock> guard(lock);
    term_ = 0;
}

void KV_FileReq::set_executed(bool b)
{
    if (!b)
        executed_.store(0, std::memory_order_relaxed);
}

bool KV_FileReq::executed() const
{
    return executed_.load(std::memory_order_relaxed) != 0 &&
           stop_seen_.load(std::memory_order_acquire) == 0;
}

void KV_FileReq::stop_reset()
{
    KV_Stoppable::stop_reset();
    stop_seen_.store(0, std::memory_order_release);
}

void KV_FileReq::set_del_forced(bool value, bool ask, bool at_start)
{
    if (ask) {
        if (man_ == nullptr)
            return;
        const KV_REQ_STAT st = status();
        if (!man_->auto_rm(&st, at_start))
            return;
    }
    del_forced_.store(value ? 1 : 0, std::memory_order_relaxed);
}

void KV_FileReq::set_prog_perc(int32_t perc)
{
    prog_perc_.store(perc, std::memory_order_relaxed);
    req_prog_perc_changed();
}

bool KV_FileReq::case_sens() const
{
    return man_ ? man_->case_sens() : false;
}

KV_Informer* KV_FileReq::informer() const
{
    return man_ ? &man_->informer() : nullptr;
}

uint32_t KV_FileReq::rest_wait() const
{
    return man_ ? man_->opts().rest_wait() : KV_FileReqManOpts(0, 0).rest_wait();
}

uint32_t KV_FileReq::max_err_cnt() const
{
    if (!trans()) {
        bool has_obs;
        {
            std::lock_guard<KV_Lock> guard(lock);
            has_obs = obs_ != nullptr;
        }
        if (has_obs)
            return 2;
    }
    return man_ ? man_->opts().nretries() : KV_FileReqManOpts(0, 0).nretries();
}

bool KV_FileReq::operator<(const KV_FileReq* other) const
{
    if (other == nullptr)
        return false;
    const KV_REQ_PRIO p = priority();
    const KV_REQ_PRIO po = other->priority();
    if (p != po)
        return p > po;
    return cmp_id() < other->cmp_id();
}

bool KV_FileReq::operator==(const KV_FileReq* other) const
{
    return other != nullptr && priority() == other->priority() && cmp_id() == other->cmp_id();
}

// ---------------------------------------------------------------------------
// Notices

KV_Informer* KV_FileReq::ntf_informer() const
{
    if (man_ == nullptr)
        return nullptr;
    if (trans()) {
        return kv_root_informer();
    }
    return &man_->informer();
}

void KV_FileReq::send_ntf(KV_REQ_NTF ntf)
{
    if (inform_.load(std::memory_order_relaxed) == 0 || hidden())
        return;
    KV_Informer* inf = ntf_informer();
    if (inf == nullptr)
        return;
    auto* msg = new (std::nothrow) KV_MsgReqNtf(ntf, id_);
    if (msg == nullptr)
        return;
    if (ntf != KV_REQ_NTF_ENDED)
        get_info(msg->info, false);
    inf->send(msg);
}

// ---------------------------------------------------------------------------
// Virtual operations: base behaviour

bool KV_FileReq::req_started()
{
    return true;
}

bool KV_FileReq::req_processed()
{
    return true;
}

bool KV_FileReq::req_initialized()
{
    send_ntf(KV_REQ_NTF_INIT);
    return true;
}

bool KV_FileReq::req_status_changed()
{
    send_ntf(KV_REQ_NTF_STATUS);
    return true;
}

bool KV_FileReq::req_err_cnt_changed()
{
    return req_status_changed();
}

bool KV_FileReq::req_prog_perc_changed()
{
    return req_status_changed();
}

uint32_t KV_FileReq::cmp_id() const
{
    return id_;
}

KV_REQ_PRIO KV_FileReq::priority() const
{
    return 1;
}

uint32_t KV_FileReq::spec_tavo() const
{
    return 0;
}

bool KV_FileReq::dupl_check() const
{
    return true;
}

bool KV_FileReq::get_log(KV_FileReqLog&)
{
    return true;
}

bool KV_FileReq::pre_add()
{
    return true;
}

bool KV_FileReq::pre_rm()
{
    return true;
}

bool KV_FileReq::one_free() const
{
    return false;
}

bool KV_FileReq::trans() const
{
    return false;
}

bool KV_FileReq::resume(bool&)
{
    return true;
}

bool KV_FileReq::hidden() const
{
    return false;
}

bool KV_FileReq::cnt_limit() const
{
    return false;
}

bool KV_FileReq::can_retry()
{
    uint32_t cur = err_cnt_.load(std::memory_order_relaxed);
    while (cur != UINT32_MAX &&
           !err_cnt_.compare_exchange_weak(cur, cur + 1, std::memory_order_relaxed)) {
    }
    req_err_cnt_changed();
    const uint32_t limit = max_err_cnt();
    return limit == 0 || err_cnt() < limit;
}

bool KV_FileReq::restart()
{
    if (!processed())
        return false;
    prog_perc_.store(prog_unknown, std::memory_order_relaxed);
    err_cnt_.store(0, std::memory_order_relaxed);
    executed_.store(1, std::memory_order_relaxed);
    {
        std::lock_guard<KV_Lock> guard(lock);
        term_ = 1;
    }
    del_forced_.store(0, std::memory_order_relaxed);
    stop_reset();
    set_status(tm_start_susp().valid() ? KV_REQ_STAT_SUSPENDED : KV_REQ_STAT_QUEUED, false, 0,
               true);
    return true;
}

void KV_FileReq::reset_executed()
{
    executed_.store(1, std::memory_order_relaxed);
    std::lock_guard<KV_Lock> guard(lock_msg);
    err_msg_.clear();
}

void KV_FileReq::get_info(KV_FileReqInfo& info, bool full)
{
    info.init(this, full);
}

void KV_FileReq::set_id(uint32_t id)
{
    id_ = id;
}

KV_Time KV_FileReq::tm_start_susp() const
{
    return KV_Time();
}

void KV_FileReq::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_Stoppable::stop_done(type, threshold);
    stop_seen_.store(KV_Stoppable::stopped(type, KV_STOP_CANCEL) ? 1 : 0,
                     std::memory_order_release);
    if (man_)
        man_->req_proc();
}

void KV_FileReq::pause_done(bool paused)
{
    set_status(paused ? KV_REQ_STAT_PAUSED : KV_REQ_STAT_RESUME, false, 0, false);
}

// ---------------------------------------------------------------------------
// Descriptions

KV_String KV_FileReq::descr_files(const KVTL::KV_ListVal<KV_String>& names, bool full,
                                  const KVTL::KV_ListVal<KV_String>& new_names)
{
    const uint32_t n = names.size();
    const uint32_t shown = full ? n : (n < 3 ? n : 3);
    KV_String text;
    for (uint32_t i = 0; i < shown; ++i) {
        if (i > 0) {
            text += ", ";
            if (full && i % 10 == 0 && i != shown - 1)
                text += "\r\n";
        }
        const KV_String& name = names.at(i);
        text += name;
        if (i < new_names.size() && new_names.at(i) != name) {
            text += " -> ";
            text += new_names.at(i);
        }
    }
    if (shown < n)
        text += "...";
    if (!full) {
        KV_String framed(" [");
        framed += text;
        framed += "]";
        return framed;
    }
    return text;
}

// ---------------------------------------------------------------------------
// The snapshot's one reader of a live request.

void KV_FileReqInfo::init(KV_FileReq* req, bool full)
{
    if (req == nullptr)
        return;
    operation_ = req->get_descr(descr_, full);
    // One read of the status, so that text, light and status agree.
    const KV_REQ_STAT st = req->status();
    status_str_ = KV_FileReq::status_str(st, &tl_, &add_);
    status_ = st;
    type_ = req->type();
    prog_perc_ = req->prog_perc();
    err_cnt_ = req->err_cnt();
    if (err_cnt_ != 0 && add_ == KV_REQ_ADD_NONE)
        add_ = KV_REQ_ADD_ERRORS;
}
