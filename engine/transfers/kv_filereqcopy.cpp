#include "transfers/kv_filereqcopy.h"

#include <new>

#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "requests/kv_tavo.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_translogcp.h"

namespace {

// The operation name of a copy step, as get_descr gives it.
const char OP_COPY[] = "Copy";

} // namespace

// ---------------------------------------------------------------------------
// KV_FileReqCopy

KV_FileReqCopy::KV_FileReqCopy(KV_ErrHandler& eh, KV_FileReqTransCp& req, KV_TransLogCp* log,
                               const KV_ComplPath& src, const KV_ComplPath& dst, KV_FileFrag* frag,
                               KV_FILE_TRANS_TYPE trans_type, bool man_eq, bool dtrans)
    : KV_FileReq(eh), req_(&req), frag_(frag), log_(log), trans_type_(trans_type), src_(src),
      dst_(dst), man_eq_(man_eq ? 1 : 0), dtrans_(dtrans ? 1 : 0)
{
    if (frag_) {
        frag_->set_state(2);
    }
}

KV_FileReqCopy::~KV_FileReqCopy()
{
    set_term_status();
}

bool KV_FileReqCopy::operator==(const KV_FileReq& other) const
{
    (void)other;
    return false;
}

const char* KV_FileReqCopy::get_descr(KV_String& descr, bool full) const
{
    (void)full;
    if (man()) {
        descr_pair(descr, src_.man(), src_.path(), dst_.man(), dst_.path());
    }
    return OP_COPY;
}

bool KV_FileReqCopy::one_free() const
{
    if (trans_type_ != KV_FILE_TRANS_TYPE_FETCH || !dtrans_) {
        return false;
    }
    KV_FileMan* src = req_->man_src();
    return src && src == req_->man_dst();
}

bool KV_FileReqCopy::req_started()
{
    if (log_ && trans_type_ == KV_FILE_TRANS_TYPE_STORE) {
        return log_->set_status(2);
    }
    return true;
}

bool KV_FileReqCopy::req_processed()
{
    const KV_REQ_STAT st = status();
    if (frag_) {
        // A fragment without a proper range counts as done when the step
        // completed.
        const bool done = frag_->valid() ? frag_->done() : st == KV_REQ_STAT_COMPLETED;
        frag_->set_state(done ? 3 : 4);
        frag_ = nullptr;
    }
    bool ok = true;
    if (log_ && trans_type_ == KV_FILE_TRANS_TYPE_STORE) {
        // The source worker reserved for a server-to-server transfer waits
        // for an empty half that frees it.
        const uint32_t id = log_->dtrans_id();
        if (id != 0) {
            log_->set_dtrans(0, 0);
            auto* end = new (std::nothrow) KV_FileReqDTrans(eh(), id, KV_String(), 0);
            if (end) {
                KV_FileMan* src = req_->man_src();
                if (src) {
                    src->add_req(end, nullptr, nullptr, KV_REQ_STAT_QUEUED);
                } else {
                    delete end;
                }
            }
        }
        if (st == KV_REQ_STAT_COMPLETED) {
            if (log_->status() >= 2) {
                ok = log_->set_status(3);
            }
            send_tree(*this,
                      new (std::nothrow) KV_MsgTreeExp(dst_.path(), KV_TREE_EXP_CREATED, false));
        }
    }
    log_ = nullptr;
    return ok;
}

KV_FileReq* KV_FileReqCopy::stop_resp() const
{
    return req_;
}

KV_FileMan* KV_FileReqCopy::man_src() const
{
    return req_->man_src();
}

KV_FileMan* KV_FileReqCopy::man_dst() const
{
    return req_->man_dst();
}

const KV_PathDef& KV_FileReqCopy::dst_root() const
{
    return req_->log().path_dst();
}

bool KV_FileReqCopy::run_on(KV_Tavo& t)
{
    return t.do_copy(*this);
}
