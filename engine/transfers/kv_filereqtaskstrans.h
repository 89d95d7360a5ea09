// The request tasks that act on transfer requests (see
// requests/kv_filereqtask.h): cancel (which also ends any other request),
// skip errors, browse, set or ask for transfer parameters, and check whether
// a file manager is still in use. They are sent and applied like the tasks of
// requests/kv_filereqtasks.h.
#pragma once

#include <cstdint>

#include "foundation/kv_ids.h"
#include "requests/kv_filereqtask.h"

class KV_Informer;
class KV_FileReqTransParams;

// Stops a pending request with cancel (the next pass sets Cancelled unless a
// worker runs it, which then ends it); a queued transfer first records
// Cancelled and the message "Cancelled" in its log. With `del` the request
// is also marked for deletion, even when already processed.
class KV_FileReqTaskCancel : public KV_FileReqTask
{
public:
    KV_FileReqTaskCancel(uint32_t id, bool del) : KV_FileReqTask(id), del(del) {}
    KV_REQ_TASK type() const override { return KV_REQ_TASK_CANCEL; }
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;

private:
    bool del;
};

// A transfer request skips the file that fails next.
class KV_FileReqTaskSkipErr : public KV_FileReqTask
{
public:
    explicit KV_FileReqTaskSkipErr(uint32_t id) : KV_FileReqTask(id) {}
    KV_REQ_TASK type() const override { return KV_REQ_TASK_SKIP_ERR; }
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;
};

// A transfer request asks the user interface to browse its file managers.
class KV_FileReqTaskBrowse : public KV_FileReqTask
{
public:
    explicit KV_FileReqTaskBrowse(uint32_t id) : KV_FileReqTask(id) {}
    KV_REQ_TASK type() const override { return KV_REQ_TASK_BROWSE; }
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;
};

// Hands new parameters to a transfer request's log. The task owns `params`
// (freed with KV_FileReqTransParams::destr_clone; null is allowed and does
// nothing); a copy or clone holds a clone of them.
class KV_FileReqTaskPropSet : public KV_FileReqTask
{
public:
    KV_FileReqTaskPropSet(uint32_t id, KV_FileReqTransParams* params)
        : KV_FileReqTask(id), params(params)
    {
    }
    KV_FileReqTaskPropSet(const KV_FileReqTaskPropSet& other);
    KV_FileReqTaskPropSet& operator=(const KV_FileReqTaskPropSet&) = delete;
    ~KV_FileReqTaskPropSet() override;
    KV_REQ_TASK type() const override { return KV_REQ_TASK_PROP_SET; }
    // Null also when the parameters cannot be cloned.
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;

private:
    KV_FileReqTransParams* params;
};

// Sends a KV_MsgReqParams with a clone of a transfer request's parameters
// through the request's informer; `data` is handed back to the asker.
class KV_FileReqTaskPropReq : public KV_FileReqTask
{
public:
    KV_FileReqTaskPropReq(uint32_t id, uint32_t data) : KV_FileReqTask(id), data(data) {}
    KV_REQ_TASK type() const override { return KV_REQ_TASK_PROP_REQ; }
    KV_FileReqTask* clone() const override;

protected:
    void process(KV_FileReq* r) override;

private:
    uint32_t data;
};

// Asks every request whether a transfer request still involves file manager
// `man`. Only the clone that the manager applies reports: when it was
// applied to at least one request and no transfer request involves the
// manager, its destruction sends KV_MsgManNtf notice 7 through `informer`.
// A copy starts unapplied, so no copy can report twice.
class KV_FileReqTaskUsgChck : public KV_FileReqTask
{
public:
    // `informer` must outlive the task and its clones.
    KV_FileReqTaskUsgChck(KV_Informer& informer, const KV_FileManId& man)
        : KV_FileReqTask(0), informer(informer), man(man)
    {
    }
    KV_FileReqTaskUsgChck(const KV_FileReqTaskUsgChck& other)
        : KV_FileReqTask(other), informer(other.informer), man(other.man)
    {
    }
    KV_FileReqTaskUsgChck& operator=(const KV_FileReqTaskUsgChck&) = delete;
    ~KV_FileReqTaskUsgChck() override;
    KV_REQ_TASK type() const override { return KV_REQ_TASK_USG_CHCK; }
    KV_FileReqTask* clone() const override;

    bool applied() const { return applied_ != 0; }
    bool used() const { return used_ != 0; }

protected:
    void process(KV_FileReq* r) override;

private:
    KV_Informer& informer;
    KV_FileManId man;
    uint8_t applied_ = 0;
    uint8_t used_ = 0;
};
