#include "foundation/kv_thread.h"

#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include <openssl/crypto.h>
#include <openssl/err.h>

namespace {

// How long a finished pooled thread waits for new work before it ends: long
// enough to carry a burst of short connections, short enough not to keep
// dozens of threads around after a large transfer.
constexpr uint32_t idle_expiry_ms = 15000;

} // namespace

std::atomic<bool> KV_Thread::zombies_{false};
std::atomic<KV_ThreadStarter> KV_ThreadMan::starter{&KV_ThreadMan::start_std};

// ---------------------------------------------------------------------------
// KV_Thread

KV_Thread::KV_Thread(bool auto_delete) : auto_delete_(auto_delete), term_event(true, true) {}

KV_Thread::~KV_Thread() = default;

bool KV_Thread::start()
{
    {
        std::lock_guard<KV_Lock> guard(start_lock);
        if (term_event.wait(0))
            return false; // not signalled: already running
        term_event.reset();
    }
    // Noted before the hand-over: from then on the object may be gone.
    const bool del = auto_delete_;
    if (!man().start(this)) {
        term_event.set();
        return false;
    }
    if (!del)
        zombies_.store(true);
    return true;
}

bool KV_Thread::running() const
{
    return term_event.wait(0);
}

void KV_Thread::wait_term()
{
    term_event.wait(KV_WAIT_INFINITE);
}

KV_ThreadMan& KV_Thread::man()
{
    static KV_ThreadMan pool;
    return pool;
}

bool KV_Thread::zombies()
{
    return zombies_.load();
}

bool KV_Thread::process()
{
    const bool ok = run();
    // The error queue is per OS thread; left alone, a failed handshake of
    // this object would be reported by the next object run on this thread.
    // The whole per-thread state goes, not only the queue: an idle thread
    // holds none, so none is left behind when the process exits while
    // OpenSSL's own exit handler has already run.
    OPENSSL_thread_stop();
    return ok;
}

void KV_Thread::finish()
{
    const bool del = auto_delete_;
    if (!del)
        zombies_.store(true);
    // The owner may destroy the object as soon as this is set.
    term_event.set();
    if (del)
        delete this;
}

// ---------------------------------------------------------------------------
// KV_ThreadElem

KV_ThreadElem::KV_ThreadElem(KV_ThreadMan* man, KV_Thread* thread)
    : wake(false, false), man(man), thread(thread)
{
}

KV_ThreadElem::~KV_ThreadElem()
{
    std::lock_guard<KV_Lock> guard(man->lock);
    man->elems.remove(this);
    man->changed.set();
}

// ---------------------------------------------------------------------------
// KV_ThreadMan

KV_ThreadMan::KV_ThreadMan() : changed(false, false)
{
    // OpenSSL ends itself from an exit handler, and once it has, the state of
    // threads still alive can no longer be freed. Initialised before the pool
    // is complete, its handler is registered before the pool's destructor
    // and so runs after it: the pooled threads release their OpenSSL state
    // while OpenSSL can still free it. The option must be a real one: a call
    // without options returns before the handler is registered.
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
}

KV_ThreadMan::~KV_ThreadMan()
{
    term();
    idle.clear();
    elems.clear();
}

void KV_ThreadMan::set_impl(KV_ThreadStarter s)
{
    starter.store(s);
}

bool KV_ThreadMan::start_std(KV_ThreadProc proc, void* arg)
{
    try {
        std::thread(proc, arg).detach();
    } catch (const std::system_error&) {
        return false; // the system refused another thread
    }
    return true;
}

bool KV_ThreadMan::start(KV_Thread* t)
{
    if (t == nullptr)
        return false;
    const KV_ThreadStarter st = starter.load();
    if (st == nullptr)
        return false;

    KV_ThreadElem* fresh = nullptr;
    bool listed = false;
    {
        std::lock_guard<KV_Lock> guard(lock);
        const uint32_t n = idle.size();
        if (n > 0) {
            // Last in, first out: the warmest thread, and the surplus at the
            // front of the list is left to expire.
            KV_ThreadElem* e = idle.at(n - 1);
            idle.remove_at(n - 1);
            e->thread = t;
            e->wake.set();
            return true;
        }
        fresh = new (std::nothrow) KV_ThreadElem(this, t);
        if (fresh == nullptr)
            return false;
        listed = elems.add(fresh);
    }
    // The starter runs without the lock: it is the program's code and may be
    // slow, and the new element is already listed for term().
    if (listed && st(&thread_proc, fresh))
        return true;
    delete fresh; // its destructor takes the lock to unlist itself
    return false;
}

void KV_ThreadMan::term()
{
    for (;;) {
        bool any;
        {
            std::lock_guard<KV_Lock> guard(lock);
            // An element unlists itself under the lock before it goes, so
            // every listed element is alive here. A busy one finds its wake
            // already set when its run is over, and ends.
            for (KV_ThreadElem* e : elems)
                e->wake.set();
            any = !elems.empty();
        }
        if (!any)
            return;
        changed.wait(KV_WAIT_INFINITE);
    }
}

unsigned int KV_ThreadMan::thread_proc(void* arg)
{
    auto* e = static_cast<KV_ThreadElem*>(arg);
    if (e == nullptr)
        return 0;
    KV_ThreadMan* const m = e->man;
    for (;;) {
        KV_Thread* t;
        {
            std::lock_guard<KV_Lock> guard(m->lock);
            t = e->thread;
        }
        if (t != nullptr)
            t->process();

        bool idled;
        {
            std::lock_guard<KV_Lock> guard(m->lock);
            e->thread = nullptr;
            idled = m->idle.add(e);
        }
        // The element is idle before the object is marked terminated, so an
        // owner that starts its next object right after wait_term() gets
        // this warm thread rather than a new one. The element cannot pick up
        // new work before finish() is over: that happens on this thread.
        if (t != nullptr)
            t->finish();
        if (!idled)
            break;

        e->wake.wait(idle_expiry_ms);
        bool quit;
        {
            std::lock_guard<KV_Lock> guard(m->lock);
            quit = e->thread == nullptr; // expired, or woken by term()
            if (quit)
                m->idle.remove(e);
        }
        if (quit)
            break;
    }
    // OpenSSL keeps per-thread state (the error queue among it) that must be
    // released before the OS thread goes, and before the element unlists
    // itself: term() returns once the last element is gone, and at exit
    // OpenSSL's own clean-up may follow at once and can then no longer free
    // the state of a thread that has not got this far.
    OPENSSL_thread_stop();
    delete e;
    return 0;
}
