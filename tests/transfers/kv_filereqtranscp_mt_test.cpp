// A copy request's worker sleeps between the passes of a mirror; a stop from
// another thread must wake it at once. Runs under ThreadSanitizer as well.
#include "transfers/kv_filereqtranscp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "transfers/kv_transtest.h"

namespace {

TEST(CopyRequestPause, AStopWakesTheSleepingWorker)
{
    KV_FileReqTransCp req(nullptr, nullptr, KV_PathDef(), KV_PathDef(), transtest::Names{},
                          transtest::Names{}, KV_FileReqTransParamsCp());
    req.poll_reset();
    std::atomic<bool> woke{false};
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
        req.poll_wait(3600 * 1000); // one pass of an hourly mirror
        woke = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(woke.load()) << "the worker sleeps until the next pass";
    req.stop(KV_STOP_CANCEL);
    worker.join();
    EXPECT_TRUE(woke.load());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(5));
}

} // namespace
