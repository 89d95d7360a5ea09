// Requests per second through a request manager: add, take in, run, end and
// delete, with no work in the run. The per-request cost must not grow with
// the length of the queue.
//
// Queued: the requests are all added while the manager holds them (the
// queue really reaches the given length), then released at once.
// Streaming: the manager runs them as they arrive.
//
// The requests are hidden (they send no notices), so the figures are those
// of the engine's bookkeeping and not of an informer that nobody drains.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_event.h"
#include "foundation/kv_thread.h"
#include "requests/kv_filereq.h"
#include "requests/kv_filereqman.h"
#include "support/kv_testtools.h"

namespace {

using kvtest::NullErr;

// Counts the deletions of one round and signals when all are gone.
struct Round
{
    std::atomic<int64_t> left{0};
    KV_Event done{false, true};
};

// A step of a bulk transfer: no duplicate check, no notices.
class NopReq : public KV_FileReq
{
public:
    NopReq(KV_ErrHandler& eh, Round& round) : KV_FileReq(eh), round(round) {}
    ~NopReq() override
    {
        if (--round.left == 0)
            round.done.set();
    }
    bool operator==(const KV_FileReq&) const override { return false; }
    const char* get_descr(KV_String&, bool) const override { return "Nop"; }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_COPY; }
    // No worker of this benchmark dispatches it.
    bool run_on(KV_Tavo&) override { return false; }
    bool dupl_check() const override { return false; }
    bool hidden() const override { return true; }

private:
    Round& round;
};

// Runs every runnable request at once on the manager thread, while `open`.
class NopMan : public KV_FileReqMan
{
public:
    ~NopMan() override { terminate(); }
    KV_FileReqManOpts opts() const override { return KV_FileReqManOpts(1, 0); }
    bool process_req(KV_REQ_STAT stat) override
    {
        if (!open.load(std::memory_order_acquire))
            return true;
        for (KV_FileReq* e : list_req()) {
            if (!e->can_process(stat))
                continue;
            e->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
            e->set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
        }
        return true;
    }
    std::atomic<bool> open{true};
};

void run_rounds(benchmark::State& state, bool hold)
{
    const int64_t n = state.range(0);
    NullErr eh;
    NopMan man;
    man.start();
    for (auto _ : state) {
        Round round;
        round.left = n;
        man.open = !hold;
        for (int64_t i = 0; i < n; ++i)
            man.add_req(new NopReq(eh, round), nullptr, nullptr, KV_REQ_STAT_QUEUED);
        if (hold) {
            man.open = true;
            man.req_proc();
        }
        round.done.wait(KV_WAIT_INFINITE);
    }
    state.SetItemsProcessed(state.iterations() * n);
    man.terminate();
}

void BM_FileReqMan_Queued(benchmark::State& state)
{
    run_rounds(state, true);
}

void BM_FileReqMan_Streaming(benchmark::State& state)
{
    run_rounds(state, false);
}

BENCHMARK(BM_FileReqMan_Queued)
    ->Arg(1000)
    ->Arg(100000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileReqMan_Streaming)
    ->Arg(1000)
    ->Arg(100000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
