// The request tasks that any request answers (see kv_filereqtask.h): delete,
// restart, pause or resume, and report. The tasks that act on transfer
// requests are in transfers/kv_filereqtaskstrans.h.
//
// A sender builds a task on its own side, for example
// KV_FileReqTaskDelete(id, true, false), and passes it to KV_FileReqMan::add_task,
// which queues a clone; the manager thread applies the clone to the matching
// requests (the one with the task's id, or all for id 0) and deletes it.
// clone() builds a new object from the same constructor arguments.
#pragma once

#include <cstdint>

#include "foundation/kv_ids.h"
#include "requests/kv_filereqtask.h"

class KV_Informer;

// Marks a processed request for deletion (KV_FileReq::set_del_forced with
// true, `ask` and `at_start`).
class KV_FileReqTaskDelete : public KV_FileReqTask
{
public:
    KV_FileReqTaskDelete(uint32_t id, bool ask, bool at_start)
        : KV_FileReqTask(id), ask(ask), at_start(at_start)
    {
    }
    KV_REQ_TASK type() const override { return KV_REQ_TASK_DELETE; }
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;

private:
    bool ask;
    bool at_start;
};

// Restarts a processed request.
class KV_FileReqTaskRestart : public KV_FileReqTask
{
public:
    explicit KV_FileReqTaskRestart(uint32_t id) : KV_FileReqTask(id) {}
    KV_REQ_TASK type() const override { return KV_REQ_TASK_RESTART; }
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;
};

// Pauses a Running request (`pause` true) or resumes a Paused one (false).
class KV_FileReqTaskPause : public KV_FileReqTask
{
public:
    KV_FileReqTaskPause(uint32_t id, bool pause) : KV_FileReqTask(id), pause(pause) {}
    KV_REQ_TASK type() const override { return KV_REQ_TASK_PAUSE; }
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;

private:
    bool pause;
};

// Sends a KV_MsgReqLog for the request through `informer`: with flag
// INFO_SNAPSHOT its full snapshot (and the change bits header, status and
// last error), with INFO_LOG its log lines.
class KV_FileReqTaskInfo : public KV_FileReqTask
{
public:
    static constexpr uint8_t INFO_SNAPSHOT = 0x02;
    static constexpr uint8_t INFO_LOG = 0x08;

    // `informer` must outlive the task and its clones.
    KV_FileReqTaskInfo(uint32_t id, KV_Informer& informer, uint8_t flags)
        : KV_FileReqTask(id), informer(informer), flags(flags)
    {
    }
    KV_FileReqTaskInfo(const KV_FileReqTaskInfo&) = default;
    KV_FileReqTaskInfo& operator=(const KV_FileReqTaskInfo&) = delete;
    KV_REQ_TASK type() const override { return KV_REQ_TASK_INFO; }
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;

private:
    KV_Informer& informer;
    uint8_t flags;
};
