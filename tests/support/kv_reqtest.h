// Small request kinds and a request manager of the tests' own, for the tests
// of the request engine. Header only: nothing here is compiled into the
// other test programs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "datasources/kv_filereqtransparams.h"
#include "datasources/kv_translogio.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereq.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_translogtrans.h"

namespace reqtest {

// What happened to the requests of one test.
struct Journal
{
    std::atomic<int> alive{0};
    std::atomic<int> processed{0};
    std::atomic<int> started{0};
    std::mutex m;
    // Ids in the order of destruction, with the status each ended with.
    std::vector<uint32_t> ended_ids;
    std::vector<KV_REQ_STAT> ended_stat;
    // Requests whose processed hook did not run exactly once.
    std::atomic<int> bad_ends{0};

    void ended(uint32_t id, KV_REQ_STAT st)
    {
        std::lock_guard<std::mutex> g(m);
        ended_ids.push_back(id);
        ended_stat.push_back(st);
    }
    std::vector<uint32_t> ids()
    {
        std::lock_guard<std::mutex> g(m);
        return ended_ids;
    }
};

// A request kind whose duplicate rule is an equal `key` (negative: never a
// duplicate). Its destructor does not settle: the manager must have done so.
class TestReq : public KV_FileReq
{
public:
    TestReq(KV_ErrHandler& eh, Journal& j, int key = -1) : KV_FileReq(eh), key(key), j(j)
    {
        ++j.alive;
    }
    TestReq(const TestReq& o)
        : KV_FileReq(o), key(o.key), prio(o.prio), dupl(o.dupl), pre_add_ok(o.pre_add_ok),
          hide(o.hide), susp_at(o.susp_at.load()), exec_seen(o.exec_seen.load()), j(o.j)
    {
        ++j.alive;
    }
    ~TestReq() override
    {
        if (nproc.load() != 1)
            ++j.bad_ends;
        j.ended(id(), status());
        --j.alive;
    }

    using KV_FileReq::operator==;
    bool operator==(const KV_FileReq& o) const override
    {
        auto* t = dynamic_cast<const TestReq*>(&o);
        return t != nullptr && key >= 0 && t->key == key;
    }
    const char* get_descr(KV_String& descr, bool) const override
    {
        descr = "test";
        return "Test op";
    }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_MKDIR; }
    // No worker of these tests dispatches it.
    bool run_on(KV_Tavo&) override { return false; }
    KV_REQ_PRIO priority() const override { return prio; }
    bool dupl_check() const override { return dupl; }
    bool pre_add() override { return pre_add_ok; }
    bool hidden() const override { return hide; }
    KV_Time tm_start_susp() const override { return KV_Time(static_cast<long>(susp_at.load())); }
    bool req_processed() override
    {
        ++j.processed;
        ++nproc;
        if (hook_delay.count() > 0)
            std::this_thread::sleep_for(hook_delay);
        // As a listing reports whether it ran: from inside set_status.
        exec_seen = executed();
        if (add_on_end != nullptr) {
            // A follow-up step, as a copy queues the second half of a
            // server-to-server transfer from its end.
            KV_FileReqMan* m = add_on_end;
            add_on_end = nullptr;
            follow_up_added =
                m->add_req(new TestReq(eh(), j), nullptr, nullptr, KV_REQ_STAT_QUEUED);
        }
        return true;
    }
    // Tells the adder the id while add_req still runs on its thread (after
    // add_req the request belongs to the manager and may be gone).
    void set_id(uint32_t id) override
    {
        KV_FileReq::set_id(id);
        if (id_out)
            *id_out = id;
    }
    bool req_started() override
    {
        ++j.started;
        return true;
    }

    using KV_FileReq::descr_files;
    using KV_FileReq::set_prog_perc;
    // What the manager does before it deletes a request.
    void settle() { set_term_status(); }

    int key;
    KV_REQ_PRIO prio = 1;
    bool dupl = true;
    bool pre_add_ok = true;
    bool hide = false;
    std::atomic<int64_t> susp_at{-1};
    std::atomic<int> nproc{0};
    uint32_t* id_out = nullptr;
    // Widens the window in which the request holds its lock while ending.
    std::chrono::microseconds hook_delay{0};
    // When set, the end of the request adds another request there.
    KV_FileReqMan* add_on_end = nullptr;
    bool follow_up_added = false;
    std::atomic<bool> exec_seen{false};
    Journal& j;
};

// Now plus `s` seconds, as a KV_Time count.
inline int64_t now_plus(int64_t s)
{
    KV_Time t;
    t.now();
    return t.impl() + s;
}

// A request manager with its dispatch chosen by the test: Hold leaves every
// request as it is, Complete runs each runnable one at once (Running, then
// Completed), Start only makes it Running.
class TestMan : public KV_FileReqMan
{
public:
    enum Mode { Hold, Complete, Start };

    ~TestMan() override { terminate(); }

    KV_FileReqManOpts opts() const override
    {
        std::lock_guard<std::mutex> g(opts_m);
        return opts_;
    }
    void set_opts(const KV_FileReqManOpts& o)
    {
        std::lock_guard<std::mutex> g(opts_m);
        opts_ = o;
    }
    uint32_t busy_lim() const override { return lim.load(); }
    bool auto_rm(const KV_REQ_STAT*, bool) const override { return rm.load(); }
    void dupl_start(KV_FileReq* r) override { dupl_started.store(r->id()); }

    bool process_req(KV_REQ_STAT stat) override
    {
        const Mode m = mode.load();
        if (m != Hold) {
            for (KV_FileReq* e : list_req()) {
                if (!e->can_process(stat))
                    continue;
                e->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
                if (m == Complete)
                    e->set_status(KV_REQ_STAT_COMPLETED, false, 7, false);
            }
        }
        if (stat == KV_REQ_STAT_QUEUED) {
            std::lock_guard<std::mutex> g(pass_m);
            last_wait = wait_int();
            ++passes;
            pass_cv.notify_all();
        }
        return true;
    }

    // Wakes the loop and waits until two more passes have ended, so that
    // at least one whole turn of the loop (its top included) began after
    // the call. False on time-out.
    bool sync(std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::unique_lock<std::mutex> g(pass_m);
        const uint64_t target = passes + 2;
        while (passes < target) {
            g.unlock();
            req_proc();
            g.lock();
            pass_cv.wait_for(g, std::chrono::milliseconds(50), [&] { return passes >= target; });
            if (passes < target && std::chrono::steady_clock::now() > end)
                return false;
        }
        return true;
    }
    uint32_t wait_seen()
    {
        std::lock_guard<std::mutex> g(pass_m);
        return last_wait;
    }

    using KV_FileReqMan::list_req;
    using KV_FileReqMan::pass;
    using KV_FileReqMan::set_dead;

    std::atomic<Mode> mode{Hold};
    std::atomic<uint32_t> lim{0};
    std::atomic<bool> rm{true};
    std::atomic<uint32_t> dupl_started{0};

private:
    mutable std::mutex opts_m;
    KV_FileReqManOpts opts_;
    std::mutex pass_m;
    std::condition_variable pass_cv;
    uint64_t passes = 0;
    uint32_t last_wait = 0;
};

// Transfer parameters of the tests: one value, stored after the common
// fields.
class TestParams : public KV_FileReqTransParams
{
public:
    explicit TestParams(int v = 0) : v(v) {}
    KV_FileReqTransParams* clone() const override { return new TestParams(*this); }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_CP; }
    TestParams& operator=(const KV_FileReqTransParams& other) noexcept override
    {
        KV_FileReqTransParams::operator=(other);
        if (auto* t = dynamic_cast<const TestParams*>(&other))
            v = t->v;
        return *this;
    }
    bool write_bin(KV_Storage& st) const override
    {
        return KV_FileReqTransParams::write_bin(st) && kv_write_le<int32_t>(st, v);
    }
    bool read_bin(KV_Storage& st) override
    {
        int32_t n = 0;
        if (!KV_FileReqTransParams::read_bin(st) || !kv_read_le(st, n))
            return false;
        v = n;
        return true;
    }
    int v;
};

// The smallest request log: the common body and the record area, on the
// tests' parameters. Its file is made when its request is taken up
// (KV_FileReqTrans::pre_add), in the temporary folder of the test program.
class TestLog : public KV_TransLogTrans
{
public:
    explicit TestLog(const KV_FileReqTransParams& p) : KV_TransLogTrans(KV_String())
    {
        params_ = p;
    }
    uint8_t type() const override { return 0x7E; }
    KV_FileReqTransParams& params_impl() override { return params_; }

private:
    TestParams params_;
};

// A transfer request with its own log; `uses` names the file manager it is
// involved with.
class TestTrans : public KV_FileReqTrans
{
public:
    TestTrans(Journal& j, const KV_FileReqTransParams& p) : KV_FileReqTrans(log), log(p), j(j)
    {
        ++j.alive;
    }
    ~TestTrans() override
    {
        // The kind owns its log: it settles first, while the log exists.
        set_term_status();
        j.ended(id(), status());
        --j.alive;
    }
    bool operator==(const KV_FileReq&) const override { return false; }
    const char* get_descr(KV_String& descr, bool) const override
    {
        descr = "transfer";
        return "Transfer";
    }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_CP; }
    // No worker of these tests dispatches it.
    bool run_on(KV_Tavo&) override { return false; }
    KV_TransLogTrans& log_trans() const override { return log; }
    bool involved(const KV_FileManId& id) const override { return id == uses; }
    void req_browse() override { ++browsed; }
    void ds_types(uint16_t& src, uint16_t& dst) const override
    {
        src = 2;
        dst = 3;
    }

    mutable TestLog log;
    KV_FileManId uses;
    std::atomic<int> browsed{0};
    Journal& j;
};

// Pops and deletes every message of `inf`, keeping those of type KV_MSG_REQ
// in `out` as (kind, id, status) triples.
struct Ntf
{
    KV_REQ_NTF ntf;
    uint32_t id;
    KV_REQ_STAT status;
    KV_String operation;
};
inline std::vector<Ntf> drain_req_ntf(KV_Informer& inf)
{
    std::vector<Ntf> out;
    while (KV_Msg* m = inf.pop()) {
        if (m->type() == KV_MSG_REQ) {
            auto* r = static_cast<KV_MsgReqNtf*>(m);
            out.push_back({r->ntf, r->req_id, r->info.status(),
                           KV_String(r->info.operation() ? r->info.operation() : "")});
        }
        KV_Informer::destroy(m);
    }
    return out;
}

} // namespace reqtest
