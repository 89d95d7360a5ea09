// Events and the engine's lock.
//
// KV_Event is a flag guarded by a mutex and a condition variable, with the
// manual- and auto-reset behaviours of a kernel event. KV_Lock is the one
// mutual-exclusion primitive of the engine: a binary semaphore built on an
// auto-reset event. Unlike std::mutex it has no owner, so one thread may take
// it and another release it (requests are locked on one thread and unlocked
// on the worker that finishes them).
#ifndef KV_FOUNDATION_KV_EVENT_H
#define KV_FOUNDATION_KV_EVENT_H

#include <condition_variable>
#include <cstdint>
#include <mutex>

// Wait time meaning "no limit" for KV_Event::wait.
inline constexpr uint32_t KV_WAIT_INFINITE = 0xFFFFFFFFu;

// Thread-safe: every operation may be called from any thread. Not copyable
// (a copy would be a second, unrelated event that waiters of the first never
// see).
class KV_Event
{
public:
    // `signalled`: initial state. `manual_reset`: true keeps the event
    // signalled until reset(); false lets one successful wait reset it.
    KV_Event(bool signalled, bool manual_reset);
    virtual ~KV_Event();

    KV_Event(const KV_Event&) = delete;
    KV_Event& operator=(const KV_Event&) = delete;

    // Waits until the event is signalled or `ms` milliseconds pass
    // (KV_WAIT_INFINITE: no limit; 0: only looks). Result: true when the wait
    // TIMED OUT, false when the event was signalled. An auto-reset event is
    // reset by a wait that returns false, so exactly one waiter gets each set().
    bool wait(uint32_t ms);

    // Signals the event, waking every waiter (manual reset) or one (auto reset).
    void set();
    // Makes the event non-signalled.
    void reset();

private:
    std::mutex mutex;
    std::condition_variable cond;
    bool signalled;
    const bool manual_reset;
};

// Binary semaphore, created unlocked. Not re-entrant: a thread that calls
// lock() twice without unlock() waits for ever. Any thread may unlock().
// Meets BasicLockable, so std::lock_guard<KV_Lock> releases it on every path.
class KV_Lock : public KV_Event
{
public:
    KV_Lock();

    // Waits without limit until the lock is free and takes it.
    void lock();
    // Frees the lock; lets exactly one waiting lock() through.
    void unlock();
};

#endif
