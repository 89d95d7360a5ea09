// The copy step of a transfer, the one request kind that only a transfer
// creates and that carries the transfer's fragment and copy sub-log to the
// worker of a source or target manager.
#pragma once

#include <cstdint>

#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "requests/kv_filereq.h"
#include "requests/kv_filereqs.h"

class KV_FileFrag;
class KV_FileMan;
class KV_FileReqTransCp;
class KV_TransLogCp;

// One elementary copy of a transfer: a whole file or one fragment, fetched
// from the source into the copy's sub-log data or stored from there into the
// destination. Only the transfer worker creates them.
class KV_FileReqCopy : public KV_FileReq
{
public:
    // Not copyable: the fragment and the sub-log answer to the one step that
    // runs them, and a copy would settle them (and free the reserved source
    // worker) when it is destroyed.
    KV_FileReqCopy(const KV_FileReqCopy&) = delete;
    ~KV_FileReqCopy() override;

    // Never a duplicate: every copy step is a piece of work of its own.
    bool operator==(const KV_FileReq& other) const override;
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_COPY; }
    bool run_on(KV_Tavo& t) override;
    // After every other kind: a transfer's steps must not hold up the
    // browsing.
    KV_REQ_PRIO priority() const override { return 0; }
    bool dupl_check() const override { return false; }
    // The transfer retries on its own level.
    bool can_retry() override { return false; }
    // A direct transfer inside one manager needs a second free worker.
    bool one_free() const override;
    // A store step records in the sub-log that it has begun. Result: the
    // sub-log write.
    bool req_started() override;
    // Settles the fragment and the sub-log (see the source). Result false
    // when the sub-log could not be updated.
    bool req_processed() override;

    // The transfer, as the request a stop of this step answers to.
    KV_FileReq* stop_resp() const;
    // The transfer's source and destination managers (swapped while the
    // transfer copies back).
    KV_FileMan* man_src() const;
    KV_FileMan* man_dst() const;
    // The transfer's destination folder (swapped as the managers are): the
    // folder the copies are made below.
    const KV_PathDef& dst_root() const;

    KV_FileReqTransCp* req() const { return req_; }
    // Null for a whole file, and once the step has ended.
    KV_FileFrag* frag() const { return frag_; }
    // Null when the step has none, and once it has ended.
    KV_TransLogCp* log() const { return log_; }
    KV_FILE_TRANS_TYPE trans_type() const { return trans_type_; }
    const KV_ComplPath& src() const { return src_; }
    const KV_ComplPath& dst() const { return dst_; }
    // Source and destination are the same data source.
    bool man_eq() const { return man_eq_ != 0; }
    // Server-to-server transfer.
    bool dtrans() const { return dtrans_ != 0; }

protected:
    friend class KV_TavoTrans;

    // `eh` is the transfer's handler. A fragment passes into the
    // in-transfer state here.
    KV_FileReqCopy(KV_ErrHandler& eh, KV_FileReqTransCp& req, KV_TransLogCp* log,
                   const KV_ComplPath& src, const KV_ComplPath& dst, KV_FileFrag* frag,
                   KV_FILE_TRANS_TYPE trans_type, bool man_eq, bool dtrans);

private:
    KV_FileReqTransCp* req_;
    KV_FileFrag* frag_;
    KV_TransLogCp* log_;
    KV_FILE_TRANS_TYPE trans_type_;
    KV_ComplPath src_;
    KV_ComplPath dst_;
    uint8_t man_eq_;
    uint8_t dtrans_;
};
