#include "requests/kv_tavo.h"

#include <new>

#include "requests/kv_filereqs.h"
#include "requests/kv_reqmsg.h"
#include "requests/kv_sessinfo.h"

// ---------------------------------------------------------------------------
// KV_Tavo

KV_Tavo::KV_Tavo(KV_Informer& informer)
    : KV_Thread(false), ev_start(false, false), ev_idle(false, true), informer_(informer)
{
}

KV_Tavo::~KV_Tavo()
{
    if (man_) {
        man_->stop_unreg(this);
    }
}

void KV_Tavo::stop_done(KV_STOP_TYPE, KV_STOP_TYPE)
{
    std::lock_guard<KV_Lock> guard(lock);
    ev_start.set();
}

bool KV_Tavo::start_req(KV_FileReq* r)
{
    if (!r) {
        return false;
    }

    // The request is Running before the worker can see it, so that the
    // manager's next walk never takes it for a queued one.
    r->reset_executed();
    r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);

    bool live = false;
    {
        std::lock_guard<KV_Lock> guard(lock);
        // A thread that must quit takes no more work, even before it has
        // said its last word.
        live = thread_live && !quit;
        if (live) {
            // The thread waits for work, or is about to: hand it over in the
            // same locked step in which its liveness was seen, so that a
            // thread on its way out cannot miss the request.
            fast_.store(false, std::memory_order_release);
            quit = false;
            final_status_ = KV_REQ_STAT_ERROR;
            result_value_ = 0;
            req_ = r;
            ev_idle.reset();
            ev_start.set();
            return true;
        }
    }

    // No thread takes work: it never ran, or it has said its last word and
    // may still be returning from run(). A new run needs the old one over.
    wait_term();
    {
        std::lock_guard<KV_Lock> guard(lock);
        fast_.store(false, std::memory_order_release);
        quit = false;
        final_status_ = KV_REQ_STAT_ERROR;
        result_value_ = 0;
        req_ = r;
        thread_live = true;
        ev_idle.reset();
        ev_start.set();
    }
    if (!start()) {
        {
            std::lock_guard<KV_Lock> guard(lock);
            thread_live = false;
        }
        end_req();
        return false;
    }
    return true;
}

bool KV_Tavo::run()
{
    bool result = true;
    for (;;) {
        {
            std::lock_guard<KV_Lock> guard(lock);
            if (quit) {
                break;
            }
        }
        if (stopped()) {
            break;
        }
        ev_start.wait(KV_WAIT_INFINITE);
        if (stopped()) {
            break;
        }
        KV_FileReq* r = nullptr;
        {
            std::lock_guard<KV_Lock> guard(lock);
            r = req_;
        }
        if (r) {
            fast_.store(r->fast_proc(), std::memory_order_release);
            result = process() && result;
            end_req();
        }
    }
    // Gives back a request still held when the worker was stopped.
    give_back(true);
    return result;
}

bool KV_Tavo::run_here(KV_FileReq* r)
{
    if (!r) {
        return false;
    }
    r->reset_executed();
    r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    {
        std::lock_guard<KV_Lock> guard(lock);
        fast_.store(false, std::memory_order_release);
        final_status_ = KV_REQ_STAT_ERROR;
        result_value_ = 0;
        req_ = r;
        ev_idle.reset();
    }
    const bool result = process();
    end_req();
    return result;
}

void KV_Tavo::end_req()
{
    give_back(false);
}

void KV_Tavo::give_back(bool thread_ends)
{
    fast_.store(true, std::memory_order_release);
    KV_FileReq* r = nullptr;
    KV_REQ_STAT stat = KV_REQ_STAT_ERROR;
    uint32_t value = 0;
    {
        std::lock_guard<KV_Lock> guard(lock);
        r = req_;
        if (r) {
            stat = final_status_;
            value = result_value_;
            if (!used() && KV_FileReq::processed(stat)) {
                used_.store(true, std::memory_order_relaxed);
            }
            if (quit_after_req()) {
                quit = true;
            }
            req_ = nullptr;
            ev_idle.set();
        }
        if (thread_ends) {
            thread_live = false;
        }
    }
    if (r) {
        r->set_status(stat, false, value, false);
    }
}

void KV_Tavo::wait_idle()
{
    ev_idle.wait(KV_WAIT_INFINITE);
}

void KV_Tavo::req_executed(bool executed)
{
    final_status_ = KV_REQ_STAT_ERROR;
    KV_FileReq* r = req_;
    if (!r) {
        return;
    }
    r->set_executed(executed);
    if (r->stopped()) {
        final_status_ = KV_REQ_STAT_CANCELLED;
    } else if (r->executed()) {
        final_status_ = KV_REQ_STAT_COMPLETED;
    }
}

bool KV_Tavo::process()
{
    KV_FileReq* r = req();
    if (r == nullptr) {
        req_executed(false);
        return false;
    }
    const bool result = req_begin(*r) && r->run_on(*this);
    return req_end(*r, result);
}

bool KV_Tavo::req_begin(KV_FileReq&)
{
    return true;
}

bool KV_Tavo::req_end(KV_FileReq& r, bool result)
{
    req_executed(result);
    KV_String err;
    if (!r.executed() && !r.stopped())
        err = end_err(r);
    // A request that runs again keeps no text from this attempt.
    if (KV_FileReq::processed(final_status()))
        r.set_err_msg(err);
    end_notice(r, err);
    return result;
}

KV_String KV_Tavo::end_err(KV_FileReq&)
{
    return KV_String();
}

void KV_Tavo::end_notice(const KV_FileReq& r, const KV_String& err)
{
    informer().send(new (std::nothrow) KV_MsgTavoNtf(KV_TAVO_NTF_STATUS, id(),
                                                     r.executed() ? "Ready" : "Error", err));
}

bool KV_Tavo::not_supported()
{
    return false;
}

bool KV_Tavo::do_mkdir(KV_FileReqMkDir&)
{
    return not_supported();
}

bool KV_Tavo::do_ren(KV_FileReqRen&)
{
    return not_supported();
}

bool KV_Tavo::do_chmod(KV_FileReqChmod&)
{
    return not_supported();
}

bool KV_Tavo::do_pwd(KV_FileReqPwd&)
{
    return not_supported();
}

bool KV_Tavo::do_rm(KV_FileReqRm&)
{
    return not_supported();
}

bool KV_Tavo::do_scan(KV_FileReqScan&)
{
    return not_supported();
}

bool KV_Tavo::do_copy(KV_FileReqCopy&)
{
    return not_supported();
}

bool KV_Tavo::do_uman(KV_FileReqUMan&)
{
    return not_supported();
}

bool KV_Tavo::do_dtrans(KV_FileReqDTrans&)
{
    return not_supported();
}

bool KV_Tavo::do_trans_cp(KV_FileReqTransCp&)
{
    return not_supported();
}

bool KV_Tavo::do_trans_ren(KV_FileReqTransRen&)
{
    return not_supported();
}

bool KV_Tavo::do_trans_rm(KV_FileReqTransRm&)
{
    return not_supported();
}

bool KV_Tavo::quit_after_req() const
{
    return false;
}

bool KV_Tavo::busy(const KV_FileReq*)
{
    std::lock_guard<KV_Lock> guard(lock);
    return req_ != nullptr;
}

void KV_Tavo::set_id(uint32_t id)
{
    id_.store(id, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// KV_FileManTavo

KV_FileManTavo::KV_FileManTavo() = default;

KV_FileManTavo::~KV_FileManTavo()
{
    terminate();
    list_tavo.clear();
}

uint32_t KV_FileManTavo::ntavos() const
{
    std::lock_guard<KV_Lock> guard(lock_tavo);
    return list_tavo.size();
}

uint32_t KV_FileManTavo::tavo_id(uint32_t index, bool* running) const
{
    std::lock_guard<KV_Lock> guard(lock_tavo);
    if (index >= list_tavo.size()) {
        return 0;
    }
    const KV_Tavo* t = list_tavo.at(index);
    if (running) {
        *running = t->running();
    }
    return t->id();
}

bool KV_FileManTavo::id_exists(uint32_t id) const
{
    for (uint32_t i = 0; i < list_tavo.size(); ++i) {
        if (list_tavo.at(i)->id() == id) {
            return true;
        }
    }
    return false;
}

uint32_t KV_FileManTavo::new_id()
{
    // Ids only grow: a removed worker's id is never given again, so a
    // request or a notice that still names it cannot reach a newer worker.
    // 0 means "any worker" and is never given.
    while (!ids_used_up) {
        if (next_id == 0xFFFFFFFFu) {
            ids_used_up = true;
            break;
        }
        ++next_id;
        if (!id_exists(next_id)) {
            return next_id;
        }
    }
    return 0;
}

void KV_FileManTavo::send_ntf(KV_TAVO_NTF ntf, uint32_t id, const KV_String& text)
{
    informer().send(new (std::nothrow) KV_MsgTavoNtf(ntf, id, text, KV_String()));
}

void KV_FileManTavo::end_tavo(KV_Tavo* t)
{
    // Out of the manager's stop children first: a stop of the manager on
    // another thread would otherwise still reach the worker while its
    // derived parts are being destroyed. stop_unreg waits for such a walk.
    stop_unreg(t);
    t->set_man(nullptr);
    // The thread may be waking from its wait or finishing its last
    // give-back: it must be over before the worker goes.
    t->stop(KV_STOP_TERMINATE);
    t->wait_term();
    delete t;
}

bool KV_FileManTavo::preprocess_req()
{
    bool ok = KV_FileReqMan::preprocess_req();
    if (!ok) {
        return false;
    }
    const uint32_t wanted = opts().ntavos();

    while (ok && count_tavo.load(std::memory_order_relaxed) > wanted) {
        KV_Tavo* victim = nullptr;
        {
            std::lock_guard<KV_Lock> guard(lock_tavo);
            for (uint32_t i = 0; i < list_tavo.size(); ++i) {
                KV_Tavo* t = list_tavo.at(i);
                if (!t->busy(nullptr)) {
                    victim = t;
                    ok = list_tavo.remove_at(i);
                    count_tavo.store(list_tavo.size(), std::memory_order_relaxed);
                    break;
                }
            }
        }
        if (!victim || !ok) {
            // Busy workers are never removed; a later pass tries again.
            break;
        }
        const uint32_t id = victim->id();
        end_tavo(victim);
        send_ntf(KV_TAVO_NTF_REMOVED, id, KV_String());
    }

    bool added = false;
    while (ok && count_tavo.load(std::memory_order_relaxed) < wanted) {
        const uint32_t id = new_id();
        if (id == 0) {
            // Every id has been given: the pool keeps the workers it has and
            // goes on dispatching to them.
            break;
        }
        KV_Tavo* t = create_tavo();
        if (!t) {
            ok = false;
            break;
        }
        t->set_id(id);
        bool appended = false;
        {
            std::lock_guard<KV_Lock> guard(lock_tavo);
            appended = list_tavo.add(t);
            count_tavo.store(list_tavo.size(), std::memory_order_relaxed);
        }
        if (!appended) {
            delete t;
            ok = false;
            break;
        }
        t->set_man(this);
        stop_reg(t);
        send_ntf(KV_TAVO_NTF_ADDED, id, KV_String("Ready"));
        added = true;
    }
    if (ok && added) {
        send_ntf(KV_TAVO_NTF_CHANGED, 0, KV_String());
    }
    return ok;
}

KV_Tavo* KV_FileManTavo::free_tavo(const KV_FileReq* r, bool restarting, bool& wait)
{
    const uint32_t spec = r->spec_tavo();
    const uint32_t n = list_tavo.size();
    wait = false;

    if (r->one_free()) {
        // Such a request starts only if at least one worker stays free
        // while it runs.
        uint32_t nbusy = 0;
        for (uint32_t i = 0; i < n; ++i) {
            KV_Tavo* t = list_tavo.at(i);
            if (spec == 0 || t->id() == spec) {
                wait = true;
            }
            if (t->busy(r)) {
                ++nbusy;
            }
        }
        if (1 + nbusy >= n) {
            return nullptr;
        }
    }

    KV_Tavo* found = nullptr;
    bool found_used = false;
    bool any_used = false;
    for (uint32_t i = 0; i < n && !(found && found_used); ++i) {
        KV_Tavo* t = list_tavo.at(i);
        if (spec != 0 && t->id() != spec) {
            continue;
        }
        wait = true;
        const bool used = t->used();
        any_used = any_used || used;
        if (spec == 0 && t->busy(r) && t->fast()) {
            t->wait_idle();
        }
        if (!t->busy(r) && (used || !found)) {
            found = t;
            found_used = used;
        }
    }

    if (restarting && wait && !found && !any_used) {
        return free_tavo(r, false, wait);
    }
    return found;
}

bool KV_FileManTavo::start_req(KV_Tavo* t, KV_FileReq* r)
{
    if (!t || !r) {
        return false;
    }
    if (stopped()) {
        return true;
    }
    prestart_req(t);
    return t->start_req(r);
}

bool KV_FileManTavo::process_req(KV_REQ_STAT stat)
{
    bool ok = true;
    while (!stopped()) {
        KV_Tavo* t = nullptr;
        KV_FileReq* r = nullptr;
        const KVTL::KV_ListPtrSrt<KV_FileReq>& queue = list_req();
        for (uint32_t i = 0; i < queue.size(); ++i) {
            KV_FileReq* e = queue.at(i);
            if (!e->can_process(stat)) {
                continue;
            }
            bool wait = false;
            t = free_tavo(e, e->status() == KV_REQ_STAT_RESTARTING, wait);
            if (t) {
                r = e;
                break;
            }
            if (!wait) {
                // No worker of this pool may ever run it.
                e->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
            }
        }
        if (!t) {
            return ok;
        }
        ok = start_req(t, r);
        if (!ok) {
            return false;
        }
    }
    return ok;
}

uint32_t KV_FileManTavo::busy_lim() const
{
    return 2 * count_tavo.load(std::memory_order_relaxed);
}

bool KV_FileManTavo::cleanup()
{
    KVTL::KV_ListPtr<KV_Tavo> ending;
    {
        std::lock_guard<KV_Lock> guard(lock_tavo);
        for (uint32_t i = 0; i < list_tavo.size(); ++i) {
            if (!ending.add(list_tavo.at(i))) {
                // Without room to move it out, end it here, still in order.
                end_tavo(list_tavo.at(i));
            }
        }
        list_tavo.clear();
        count_tavo.store(0, std::memory_order_relaxed);
    }
    for (uint32_t i = 0; i < ending.size(); ++i) {
        end_tavo(ending.at(i));
    }
    ending.clear();
    return true;
}

void KV_FileManTavo::prestart_req(KV_Tavo*) {}

bool KV_FileManTavo::process_ntf(const KV_Msg* msg)
{
    bool ok = tavo_info.process_ntf(msg);
    if (!ok || stopped() || !msg || msg->type() != KV_MSG_SESS_LOG) {
        return ok;
    }
    const auto* m = static_cast<const KV_MsgSessLog*>(msg);
    if (m->info.kind() != KV_SESS_LOG_KEEP_ALIVE) {
        return ok;
    }
    KV_FileReq* r =
        new (std::nothrow) KV_FileReqUMan(informer(), m->tavo_id, KV_MANAGE_CMD_KEEP_ALIVE, KV_String());
    if (!r) {
        return false;
    }
    return add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED);
}
