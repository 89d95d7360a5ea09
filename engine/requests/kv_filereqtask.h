// Commands to a request manager about its requests, and the observer with
// which a thread waits for one request to end.
//
// A task is built by the sender on its own thread and passed to
// KV_FileReqMan::add_task, which queues a clone; the manager thread applies
// the clone to the matching requests at its next pass and deletes it. Tasks
// are the only way other threads change requests that are already queued, so
// every such change happens on the manager thread. The kinds are in
// kv_filereqtasks.h.
//
// The observer goes the other way: a thread that adds a request and must
// wait for its end passes an observer to add_req, waits on it and then reads
// the final status and value. The observer belongs to the waiting thread; the
// request only points to it until it ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "datasources/kv_reqdefs.h"
#include "foundation/kv_event.h"

class KV_FileReq;
class KV_FileReqMan;

class KV_FileReqTask
{
public:
    // `id` of the request to act on; 0 means every request of the manager.
    explicit KV_FileReqTask(uint32_t id) : id_(id) {}
    KV_FileReqTask(const KV_FileReqTask&) = default;
    KV_FileReqTask& operator=(const KV_FileReqTask&) = default;
    virtual ~KV_FileReqTask();

    virtual KV_REQ_TASK type() const = 0;
    // A heap copy owned by the caller, freed with destr_clone; null when
    // memory cannot be had.
    virtual KV_FileReqTask* clone() const = 0;
    // Deletes a clone; null is accepted.
    static void destr_clone(KV_FileReqTask* t);

    uint32_t id() const { return id_; }

    // By type (signed), then id (unsigned); false for null.
    bool operator<(const KV_FileReqTask* other) const;
    // Same type and id; false for null.
    bool operator==(const KV_FileReqTask* other) const;

protected:
    friend class KV_FileReqMan;

    // Acts on one request. Manager thread, inside the pass.
    virtual void process(KV_FileReq* r) = 0;

private:
    uint32_t id_;
};

// Initially signalled (a wait returns at once while no request is bound),
// manual reset. set() by the request happens before the event is signalled,
// so a waiter that returned from wait() reads the final values.
class KV_FileReqObs : public KV_Event
{
public:
    KV_FileReqObs() : KV_Event(true, true) {}

    // Stores status and value; signals the event when `signal`.
    void set(KV_REQ_STAT status, bool signal, uint32_t value);
    using KV_Event::reset;
    using KV_Event::set;
    // Waits without limit.
    void wait() { KV_Event::wait(KV_WAIT_INFINITE); }
    using KV_Event::wait;
    // The stored status is Completed.
    bool completed() const { return status() == KV_REQ_STAT_COMPLETED; }
    KV_REQ_STAT status() const
    {
        return static_cast<KV_REQ_STAT>(status_.load(std::memory_order_acquire));
    }
    uint32_t value() const { return value_.load(std::memory_order_acquire); }

private:
    std::atomic<uint32_t> status_{KV_REQ_STAT_QUEUED};
    std::atomic<uint32_t> value_{0};
};
