#include "foundation/kv_event.h"

#include <chrono>

KV_Event::KV_Event(bool signalled, bool manual_reset)
    : signalled(signalled), manual_reset(manual_reset)
{
}

KV_Event::~KV_Event() = default;

bool KV_Event::wait(uint32_t ms)
{
    std::unique_lock<std::mutex> guard(mutex);
    auto is_set = [this] { return signalled; };
    if (ms == KV_WAIT_INFINITE)
        cond.wait(guard, is_set);
    else if (!cond.wait_for(guard, std::chrono::milliseconds(ms), is_set))
        return true;
    if (!manual_reset)
        signalled = false;
    return false;
}

void KV_Event::set()
{
    // Notified while the mutex is held: a waiter that returns may destroy the
    // event at once (a thread's end event, a request's observer), so set()
    // must not touch the condition variable after the mutex is released.
    std::lock_guard<std::mutex> guard(mutex);
    signalled = true;
    if (manual_reset)
        cond.notify_all();
    else
        cond.notify_one();
}

void KV_Event::reset()
{
    std::lock_guard<std::mutex> guard(mutex);
    signalled = false;
}

KV_Lock::KV_Lock() : KV_Event(true, false) {}

void KV_Lock::lock()
{
    wait(KV_WAIT_INFINITE);
}

void KV_Lock::unlock()
{
    set();
}
