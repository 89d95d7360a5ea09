#include "requests/kv_filereqtask.h"

KV_FileReqTask::~KV_FileReqTask() = default;

void KV_FileReqTask::destr_clone(KV_FileReqTask* t)
{
    delete t;
}

bool KV_FileReqTask::operator<(const KV_FileReqTask* other) const
{
    if (other == nullptr)
        return false;
    const auto a = static_cast<int32_t>(type());
    const auto b = static_cast<int32_t>(other->type());
    if (a != b)
        return a < b;
    return id_ < other->id_;
}

bool KV_FileReqTask::operator==(const KV_FileReqTask* other) const
{
    return other != nullptr && type() == other->type() && id_ == other->id_;
}

void KV_FileReqObs::set(KV_REQ_STAT status, bool signal, uint32_t value)
{
    status_.store(status, std::memory_order_release);
    value_.store(value, std::memory_order_release);
    if (signal)
        KV_Event::set();
}
