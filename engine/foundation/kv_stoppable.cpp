#include "foundation/kv_stoppable.h"

#include <mutex>

KV_Stoppable::KV_Stoppable() : KV_SafeObj(), npaused(true, true) {}

KV_Stoppable::KV_Stoppable(const KV_Stoppable& other) : KV_SafeObj(), npaused(true, true)
{
    std::lock_guard<KV_Lock> guard(other.lock);
    stop_type = other.stop_type;
    threshold = other.threshold;
    paused_ = other.paused_;
    if (paused_)
        npaused.reset();
}

KV_Stoppable& KV_Stoppable::operator=(const KV_Stoppable& other)
{
    if (this == &other)
        return *this;
    // Read first, then write: holding both locks at once could deadlock with
    // an assignment the other way round.
    KV_STOP_TYPE type;
    KV_STOP_TYPE thr;
    uint8_t p;
    {
        std::lock_guard<KV_Lock> guard(other.lock);
        type = other.stop_type;
        thr = other.threshold;
        p = other.paused_;
    }
    std::lock_guard<KV_Lock> guard(lock);
    stop_type = type;
    threshold = thr;
    paused_ = p;
    if (paused_)
        npaused.reset();
    else
        npaused.set();
    return *this;
}

KV_Stoppable::~KV_Stoppable()
{
    children.clear();
}

void KV_Stoppable::stop(KV_STOP_TYPE type)
{
    std::lock_guard<KV_Lock> guard(lock);
    stop_type = type;
    for (KV_Stoppable* child : children)
        child->stop(type);
    stop_done(stop_type, threshold);
    paused_ = 0;
    npaused.set();
}

void KV_Stoppable::stop_reset()
{
    std::lock_guard<KV_Lock> guard(lock);
    stop_type = KV_STOP_NONE;
}

bool KV_Stoppable::stopped(KV_STOP_TYPE* out, bool use_threshold) const
{
    std::lock_guard<KV_Lock> guard(lock);
    const KV_STOP_TYPE level = use_threshold ? threshold : KV_STOP_CANCEL;
    if (!stopped(stop_type, level))
        return false;
    if (out)
        *out = stop_type;
    return true;
}

bool KV_Stoppable::stopped(KV_STOP_TYPE* out, KV_STOP_TYPE level) const
{
    std::lock_guard<KV_Lock> guard(lock);
    if (!stopped(stop_type, level))
        return false;
    if (out)
        *out = stop_type;
    return true;
}

void KV_Stoppable::set_stop_type(KV_STOP_TYPE t)
{
    std::lock_guard<KV_Lock> guard(lock);
    threshold = t;
}

void KV_Stoppable::set_paused(bool p)
{
    std::lock_guard<KV_Lock> guard(lock);
    if (p && stop_type != KV_STOP_NONE)
        return;
    paused_ = p ? 1 : 0;
    for (KV_Stoppable* child : children)
        child->set_paused(p);
    pause_done(paused_ != 0);
    if (paused_)
        npaused.reset();
    else
        npaused.set();
}

bool KV_Stoppable::paused() const
{
    std::lock_guard<KV_Lock> guard(lock);
    return paused_ != 0;
}

void KV_Stoppable::wait_npaused()
{
    npaused.wait(KV_WAIT_INFINITE);
}

void KV_Stoppable::stop_reg(KV_Stoppable* child)
{
    if (child == nullptr || child == this)
        return;
    std::lock_guard<KV_Lock> guard(lock);
    if (!children.find(child) && !children.add(child))
        return;
    if (stop_type > KV_STOP_NONE)
        child->stop(stop_type);
}

void KV_Stoppable::stop_unreg(KV_Stoppable* child)
{
    std::lock_guard<KV_Lock> guard(lock);
    children.remove(child);
}

void KV_Stoppable::stop_done(KV_STOP_TYPE, KV_STOP_TYPE) {}

void KV_Stoppable::pause_done(bool) {}
