// Thread objects and the process-wide pool of operating-system threads.
//
// Every engine thread (request managers, workers, connectors, sessions,
// listeners) is a KV_Thread whose run() executes on an OS thread of the one
// pool, KV_ThreadMan. A pooled thread that has finished its object stays idle
// for 15000 ms, and the most recently idled thread is reused first, so bursts
// of short-lived thread objects run on a few warm threads while the surplus
// expires. The engine never creates OS threads by itself: it asks the starter
// hook (set_impl), which by default starts a detached std::thread; the program
// may install its own.
//
// Each pooled thread clears its OpenSSL error queue after every run and
// releases OpenSSL's thread-local state when it ends, so one object's TLS
// errors never show up in the next object's run.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/kv_event.h"
#include "foundation/kv_stoppable.h"
#include "foundation/kvtl.h"

class KV_ThreadMan;
class KV_ThreadElem;

// The procedure a starter must run on a new OS thread, with its argument.
using KV_ThreadProc = unsigned int (*)(void* arg);
// A starter creates a new OS thread that calls proc(arg), and returns true
// exactly when that thread was created. Called on the thread of
// KV_Thread::start(), without any engine lock held.
using KV_ThreadStarter = bool (*)(KV_ThreadProc proc, void* arg);

// One thread object. The owner starts it, stops it through KV_Stoppable,
// waits for it with wait_term() and then destroys it; an object made with
// auto_delete deletes itself on its pool thread when run() has returned.
//
// State: not started (term_event set) -> start() -> running (term_event
// reset) -> run() returns -> terminated (term_event set); it may be started
// again. running() and wait_term() both read term_event, and setting it is
// the pool thread's last touch of a thread object without auto_delete, so an
// owner that has seen running() false or returned from wait_term() may
// destroy the object at once.
class KV_Thread : public KV_Stoppable
{
public:
    // Not running. `auto_delete`: the object deletes itself (through its
    // virtual destructor) after run() has returned.
    explicit KV_Thread(bool auto_delete = true);
    // Neither stops nor waits: the owner calls stop() and wait_term() first.
    ~KV_Thread() override;

    // A running thread cannot be duplicated; derived classes that need copies
    // make them without the thread part.
    KV_Thread(const KV_Thread&) = delete;
    KV_Thread& operator=(const KV_Thread&) = delete;

    // Runs the object on a pooled thread. False, with nothing changed, when it
    // is already running; false, with the object back in the not-started
    // state, when the pool cannot run it (no starter, no memory, the starter
    // failed). After a successful hand-over start() touches the object no
    // more: an auto_delete object may already be gone. Any thread.
    bool start();
    // From start() until run() has returned. Any thread.
    bool running() const;
    // Waits without limit until run() has returned; returns at once for an
    // object that is not running. Derived classes may wait for more. Any
    // thread except the object's own pool thread.
    virtual void wait_term();

    // The pool singleton, built on first use and ended (term()) when the
    // library is unloaded.
    static KV_ThreadMan& man();
    // Whether a thread object without auto_delete has ever been started or
    // has finished, i.e. whether some owner may have a finished object to
    // remove. Never cleared.
    static bool zombies();

    // Identity, for pointer lists.
    bool operator==(const KV_Thread* other) const { return this == other; }
    bool operator<(const KV_Thread* other) const { return this < other; }

protected:
    // The thread's body, on a pooled OS thread. The result is the run's
    // success; the pool does not use it. Must return for the pool thread to
    // be reused and for term() to end.
    virtual bool run() = 0;

private:
    friend class KV_ThreadMan;

    // On the pool thread: run() and the clean-up of the OpenSSL error queue.
    bool process();
    // On the pool thread, after the element has gone idle: marks the object
    // terminated and deletes it when it has auto_delete. Touches nothing of
    // the object afterwards.
    void finish();

    const bool auto_delete_;
    // Set exactly while the object is not running. Manual reset. mutable:
    // running() looks at it.
    mutable KV_Event term_event;
    // Serialises start() against another start(), so that exactly one caller
    // wins the not-running -> running step.
    KV_Lock start_lock;

    static std::atomic<bool> zombies_;
};

// One pooled OS thread. Created by the pool; deletes itself when its OS
// thread ends (after 15000 ms idle, at term(), or when it cannot go idle).
class KV_ThreadElem
{
public:
    virtual ~KV_ThreadElem();

    KV_ThreadElem(const KV_ThreadElem&) = delete;
    KV_ThreadElem& operator=(const KV_ThreadElem&) = delete;

private:
    friend class KV_ThreadMan;

    KV_ThreadElem(KV_ThreadMan* man, KV_Thread* thread);

    // Auto reset. Set to hand the element new work or to make it exit.
    KV_Event wake;
    KV_ThreadMan* const man;
    // The object to run next; null while idle. Guarded by man->lock.
    KV_Thread* thread;
};

// The pool. One instance serves the process (KV_Thread::man()).
//
// Locking: `lock` guards `idle`, `elems` and every element's `thread` field.
// An element is in `idle` exactly while its `thread` is null, and only start()
// (which sets `thread` in the same locked step) or the element itself (finding
// `thread` still null after its wait) takes it out, so a hand-over can never
// be lost or doubled. No lock is held while the starter, run() or a thread
// object's destructor runs.
class KV_ThreadMan
{
public:
    KV_ThreadMan();
    // Ends every pooled thread first (term()), so that no idle thread wakes up
    // to a destroyed lock; waits for runs still in progress.
    virtual ~KV_ThreadMan();

    KV_ThreadMan(const KV_ThreadMan&) = delete;
    KV_ThreadMan& operator=(const KV_ThreadMan&) = delete;

    // Installs the starter used by every later start(); null removes it, and
    // then every start() fails. The default is start_std. Any thread.
    static void set_impl(KV_ThreadStarter starter);
    // The default starter: a detached std::thread with the default stack.
    // Thread priorities are left to the system.
    static bool start_std(KV_ThreadProc proc, void* arg);

    // Runs t on the most recently idled pooled thread, or on a new one. False
    // when t is null, no starter is installed, memory cannot be had or the
    // starter fails. Called by KV_Thread::start(); any thread.
    bool start(KV_Thread* t);
    // Ends every pooled thread and returns when all have ended; waits for
    // every run() in progress (it does not stop the thread objects). Returns
    // at once when there are none. Call once at exit, after the engine's
    // objects have been stopped. Any thread but a pooled one.
    void term();

    // Identity, for pointer lists.
    bool operator==(const KV_ThreadMan* other) const { return this == other; }
    bool operator<(const KV_ThreadMan* other) const { return this < other; }

private:
    friend class KV_ThreadElem;

    // The procedure handed to the starter: runs the element loop of `elem`
    // (a KV_ThreadElem*; null does nothing) and deletes the element. Returns 0.
    static unsigned int thread_proc(void* elem);

    KV_Lock lock;
    // Auto reset. Set each time an element ends; term() waits on it.
    KV_Event changed;
    // Elements waiting for work; the last one is the most recently idled.
    KVTL::KV_ListPtr<KV_ThreadElem> idle;
    // Every living element, idle or busy.
    KVTL::KV_ListPtr<KV_ThreadElem> elems;

    static std::atomic<KV_ThreadStarter> starter;
};
