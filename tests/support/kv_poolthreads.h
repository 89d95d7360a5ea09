// Ends the thread pool with the test program. Every pooled OS thread of a
// program that includes this header is started through a counting starter,
// so that the program's end can wait until each has released its OpenSSL
// state; a thread still idling in the pool at exit would show up as a leak.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/kv_thread.h"

namespace kvtest {

struct PoolCount
{
    std::mutex mutex;
    std::condition_variable cond;
    int live = 0; // guarded by mutex
};

inline PoolCount& pool_count()
{
    static PoolCount count;
    return count;
}

inline bool counting_starter(KV_ThreadProc proc, void* arg)
{
    PoolCount& c = pool_count();
    {
        std::lock_guard<std::mutex> guard(c.mutex);
        ++c.live;
    }
    try {
        std::thread([proc, arg, &c] {
            proc(arg);
            std::lock_guard<std::mutex> guard(c.mutex);
            --c.live;
            c.cond.notify_all();
        }).detach();
    } catch (...) {
        std::lock_guard<std::mutex> guard(c.mutex);
        --c.live;
        return false;
    }
    return true;
}

class PoolThreads : public ::testing::Environment
{
public:
    void SetUp() override { KV_ThreadMan::set_impl(counting_starter); }
    void TearDown() override
    {
        KV_Thread::man().term();
        PoolCount& c = pool_count();
        std::unique_lock<std::mutex> guard(c.mutex);
        EXPECT_TRUE(
            c.cond.wait_for(guard, std::chrono::milliseconds(20000), [&c] { return c.live == 0; }));
        KV_ThreadMan::set_impl(KV_ThreadMan::start_std);
    }
};

// One registration per program, however many files include this.
inline const ::testing::Environment* const pool_threads =
    ::testing::AddGlobalTestEnvironment(new PoolThreads);

} // namespace kvtest
