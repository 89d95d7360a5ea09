#include "requests/kv_filereqtasks.h"

#include <new>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereq.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_reqmsg.h"

namespace {

template <class T> KV_FileReqTask* clone_of(const T& t)
{
    return new (std::nothrow) T(t);
}

} // namespace

// --- Delete ------------------------------------------------------------------

KV_FileReqTask* KV_FileReqTaskDelete::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskDelete::process(KV_FileReq* r)
{
    if (r->processed())
        r->set_del_forced(true, ask, at_start);
}

// --- Restart -----------------------------------------------------------------

KV_FileReqTask* KV_FileReqTaskRestart::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskRestart::process(KV_FileReq* r)
{
    if (r->processed())
        r->restart();
}

// --- Pause -------------------------------------------------------------------

KV_FileReqTask* KV_FileReqTaskPause::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskPause::process(KV_FileReq* r)
{
    const KV_REQ_STAT st = r->status();
    if ((pause && st == KV_REQ_STAT_RUNNING) || (!pause && st == KV_REQ_STAT_PAUSED))
        r->set_paused(pause);
}

// --- Info --------------------------------------------------------------------

KV_FileReqTask* KV_FileReqTaskInfo::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskInfo::process(KV_FileReq* r)
{
    auto* msg = new (std::nothrow) KV_MsgReqLog(r->id());
    if (msg == nullptr)
        return;
    if (flags & INFO_SNAPSHOT) {
        r->get_info(msg->log.info, true);
        msg->log.chg |=
            KV_FileReqLog::CHG_HEADER | KV_FileReqLog::CHG_STATUS | KV_FileReqLog::CHG_LAST_ERR;
    }
    if (flags & INFO_LOG)
        r->get_log(msg->log);
    informer.send(msg);
}
