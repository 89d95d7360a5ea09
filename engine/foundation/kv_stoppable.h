// The engine's one cancellation and pause mechanism.
//
// Every thread object, every request and every long operation that a user can
// cancel or pause is a KV_Stoppable or is handed one. Stoppables form trees: a
// parent registers its children (a request manager its workers, a worker the
// connections it owns), and stopping or pausing the parent stops or pauses the
// whole subtree in one call. Working loops poll stopped() between steps and
// call wait_npaused() at safe points to sleep while paused.
//
// Threads and locking
// - Every field is guarded by the object's own `lock` (a non-re-entrant
//   KV_Lock); only the wait of wait_npaused() happens outside it.
// - stop(), set_paused() and stop_reg() call into the children and into the
//   hooks while holding this object's lock. That is deliberate: it keeps the
//   child list fixed while a stop or pause walks it, so a child that
//   unregisters itself before its destruction (stop_unreg takes the parent's
//   lock) can never be destroyed halfway through being stopped, and a stop
//   can never slip between the two steps of a registration. Locks are
//   therefore always taken parent first, then child.
// - Consequently the hooks stop_done() and pause_done(), and every operation
//   of a child, must not call stop(), set_paused(), stop_reg(), stop_unreg(),
//   stop_reset(), set_stop_type(), stopped() or paused() on the object whose
//   hook is running, nor on any ancestor: that would take a lock the calling
//   thread already holds and wait for ever. The hooks get the values they need
//   as arguments.
#pragma once

#include <cstdint>

#include "foundation/kv_event.h"
#include "foundation/kv_storage.h"
#include "foundation/kvtl.h"

// How far a stop goes. Ordered: a stop counts when its type is at least the
// level asked about.
enum KV_STOP_TYPE : uint32_t {
    KV_STOP_NONE = 0,      // not stopped
    KV_STOP_CANCEL = 1,    // the current work is abandoned (a user's cancel)
    KV_STOP_TERMINATE = 2, // the object and its thread are to end (shut-down)
};

class KV_Stoppable : public KV_SafeObj
{
public:
    // Running: not stopped, not paused, threshold KV_STOP_CANCEL, no children.
    KV_Stoppable();
    // A copy takes the stop type, the threshold and the pause state of the
    // other (read under the other's lock), but none of its children: the
    // children unregister only from the object they registered with, so a
    // copied child list would keep pointers to objects that may be gone.
    KV_Stoppable(const KV_Stoppable& other);
    // Takes the stop type, threshold and pause state of the other; keeps this
    // object's own children. Never holds both locks at once.
    KV_Stoppable& operator=(const KV_Stoppable& other);
    // Does not stop or unregister anything: children are owned elsewhere, and
    // the owner unregisters this object from its parent before destroying it.
    virtual ~KV_Stoppable();

    // Stops this object and its subtree: records `type`, stops every child in
    // registration order, calls stop_done(type, threshold), ends a pause and
    // wakes every thread in wait_npaused(). A later call with another type
    // replaces the recorded type. Any thread.
    void stop(KV_STOP_TYPE type);
    // Makes the object running again (stop type KV_STOP_NONE) before reuse.
    // Children, pause state and threshold are not touched. Any thread.
    void stop_reset();
    // True when the recorded stop type is at least the threshold
    // (`use_threshold`) or at least KV_STOP_CANCEL; then *out (when given)
    // receives the recorded type. Any thread.
    bool stopped(KV_STOP_TYPE* out = nullptr, bool use_threshold = false) const;
    // type >= level.
    static bool stopped(KV_STOP_TYPE type, KV_STOP_TYPE level) { return type >= level; }
    // Sets the threshold: the level from which stopped(out, true) reports a
    // stop (KV_STOP_TERMINATE makes a cancel not count). Any thread.
    void set_stop_type(KV_STOP_TYPE threshold);

    // Pauses (true) or resumes (false) this object and its subtree, children
    // in registration order, then calls pause_done(p). A stopped object
    // ignores a pause; a resume is always carried out. Any thread.
    void set_paused(bool p);
    bool paused() const;
    // Returns when the object is not paused or has been stopped; sleeps
    // without limit otherwise. Called by the working thread at safe points,
    // never while holding this object's lock.
    void wait_npaused();

    // Registers a child (not owned). When this object is already stopped the
    // child is stopped with the same type before stop_reg returns; a pause is
    // not passed on. A child already registered is not added twice (a second
    // entry would outlive the child's one stop_unreg). Null, and this object
    // itself, are ignored. When memory cannot be had the child stays
    // unregistered. Any thread.
    void stop_reg(KV_Stoppable* child);
    // Removes a child. A child is unregistered before it is destroyed; this
    // waits until a stop or pause of this object that is walking the children
    // has finished. Any thread.
    void stop_unreg(KV_Stoppable* child);

    // Identity, for pointer lists.
    bool operator==(const KV_Stoppable* other) const { return this == other; }
    bool operator<(const KV_Stoppable* other) const { return this < other; }

protected:
    // Called inside stop(), after the children are stopped, on the stopping
    // thread, with this object's lock held (see above). `type` is the new stop
    // type, `threshold` the object's threshold. Keep it short: it must not
    // wait for the working thread. Default: nothing.
    virtual void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold);
    // Called inside set_paused(), after the children, on the calling thread,
    // with this object's lock held. `paused` is the state now in force.
    // Default: nothing.
    virtual void pause_done(bool paused);

    // True when the recorded stop type is at least `level`; then *out (when
    // given) receives it.
    bool stopped(KV_STOP_TYPE* out, KV_STOP_TYPE level) const;

private:
    // Signalled exactly while the object is not paused (or has been stopped).
    // Manual reset. Waited on without the lock.
    KV_Event npaused;
    // Guards everything below. mutable: the const readers take it too.
    mutable KV_Lock lock;
    // Registered children, in registration order; pointers only.
    KVTL::KV_ListPtr<KV_Stoppable> children;
    KV_STOP_TYPE stop_type = KV_STOP_NONE;
    KV_STOP_TYPE threshold = KV_STOP_CANCEL;
    uint8_t paused_ = 0;
};
