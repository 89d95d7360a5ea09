#include "transfers/kv_filereqtaskstrans.h"

#include <new>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereq.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_translogtrans.h"

namespace {

// The transfer side of a request; null for the other kinds.
KV_FileReqTrans* as_trans(KV_FileReq* r)
{
    return r->trans() ? dynamic_cast<KV_FileReqTrans*>(r) : nullptr;
}

template <class T> KV_FileReqTask* clone_of(const T& t)
{
    return new (std::nothrow) T(t);
}

} // namespace

// --- Cancel ------------------------------------------------------------------

KV_FileReqTask* KV_FileReqTaskCancel::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskCancel::process(KV_FileReq* r)
{
    if (!r->processed()) {
        KV_FileReqTrans* t = as_trans(r);
        if (t != nullptr && !r->running()) {
            // A queued transfer never reaches a worker that would record the
            // end, so the log learns it here, before the stop.
            KV_TransLogTrans& log = t->log_trans();
            if (log.set_req_status(KV_REQ_STAT_CANCELLED))
                log.add_msg("Cancelled", 0);
        }
        r->stop(KV_STOP_CANCEL);
    }
    if (del)
        r->set_del_forced(true, false, false);
}

// --- SkipErr, Browse ---------------------------------------------------------

KV_FileReqTask* KV_FileReqTaskSkipErr::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskSkipErr::process(KV_FileReq* r)
{
    if (KV_FileReqTrans* t = as_trans(r))
        t->set_skip_err();
}

KV_FileReqTask* KV_FileReqTaskBrowse::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskBrowse::process(KV_FileReq* r)
{
    if (KV_FileReqTrans* t = as_trans(r))
        t->req_browse();
}

// --- PropSet -----------------------------------------------------------------

KV_FileReqTaskPropSet::KV_FileReqTaskPropSet(const KV_FileReqTaskPropSet& other)
    : KV_FileReqTask(other), params(other.params ? other.params->clone() : nullptr)
{
}

KV_FileReqTaskPropSet::~KV_FileReqTaskPropSet()
{
    KV_FileReqTransParams::destr_clone(params);
}

KV_FileReqTask* KV_FileReqTaskPropSet::clone() const
{
    auto* c = new (std::nothrow) KV_FileReqTaskPropSet(*this);
    if (c != nullptr && params != nullptr && c->params == nullptr) {
        // The parameters could not be copied: a clone without them would
        // silently drop the change.
        delete c;
        return nullptr;
    }
    return c;
}

void KV_FileReqTaskPropSet::process(KV_FileReq* r)
{
    if (params == nullptr)
        return;
    if (KV_FileReqTrans* t = as_trans(r))
        t->log_trans().set_trans_params(*params);
}

// --- PropReq -----------------------------------------------------------------

KV_FileReqTask* KV_FileReqTaskPropReq::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskPropReq::process(KV_FileReq* r)
{
    KV_FileReqTrans* t = as_trans(r);
    KV_Informer* inf = r->informer();
    if (t == nullptr || inf == nullptr)
        return;
    uint16_t src = 0;
    uint16_t dst = 0;
    t->ds_types(src, dst);
    auto* msg = new (std::nothrow)
        KV_MsgReqParams(r->id(), r->status(), t->log_trans().clone_params(), data, src, dst);
    if (msg != nullptr)
        inf->send(msg);
}

// --- UsgChck -----------------------------------------------------------------

KV_FileReqTaskUsgChck::~KV_FileReqTaskUsgChck()
{
    if (applied_ && !used_) {
        auto* msg = new (std::nothrow) KV_MsgManNtf(man, KV_MAN_NTF_UNUSED, KV_String());
        if (msg != nullptr)
            informer.send(msg);
    }
}

KV_FileReqTask* KV_FileReqTaskUsgChck::clone() const
{
    return clone_of(*this);
}

void KV_FileReqTaskUsgChck::process(KV_FileReq* r)
{
    applied_ = 1;
    if (used_)
        return;
    if (KV_FileReqTrans* t = as_trans(r))
        used_ = t->involved(man) ? 1 : 0;
}
