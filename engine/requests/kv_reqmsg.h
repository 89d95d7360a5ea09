// The notification messages about requests and workers (see
// foundation/kv_msg.h for how messages travel and who frees them).
#pragma once

#include <cstdint>

#include "datasources/kv_reqdefs.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_string.h"
#include "requests/kv_filereqinfo.h"

// The message owns a clone of these.
class KV_FileReqTransParams;

// A notice about a worker (a per-connection thread); tavo_id 0 when the
// sender has no worker.
class KV_MsgTavoNtf : public KV_Msg
{
public:
    KV_MsgTavoNtf(KV_TAVO_NTF ntf, uint32_t tavo_id, const KV_String& text1, const KV_String& text2)
        : tavo_id(tavo_id), ntf(ntf), text1(text1), text2(text2)
    {
    }
    KV_MSG type() const override { return KV_MSG_TAVO; }

    uint32_t tavo_id;
    KV_TAVO_NTF ntf;
    KV_String text1;
    KV_String text2;
};

// A change of a request, with a snapshot that the sender fills after
// construction.
class KV_MsgReqNtf : public KV_Msg
{
public:
    KV_MsgReqNtf(KV_REQ_NTF ntf, uint32_t req_id) : req_id(req_id), ntf(ntf) {}
    KV_MSG type() const override { return KV_MSG_REQ; }

    uint32_t req_id;
    KV_REQ_NTF ntf;
    KV_FileReqInfo info;
};

// Lines of a request's log, which the sender fills after construction. Not
// copyable: the log owns its lines.
class KV_MsgReqLog : public KV_Msg
{
public:
    explicit KV_MsgReqLog(uint32_t req_id = 0) : req_id(req_id) {}
    KV_MSG type() const override { return KV_MSG_REQ_LOG; }

    uint32_t req_id;
    KV_FileReqLog log;
};

// The parameters of a transfer request, for a properties view. Owns the
// parameters (a clone made by the sender) and frees them with
// KV_FileReqTransParams::destr_clone. Not copyable.
class KV_MsgReqParams : public KV_Msg
{
public:
    // Takes ownership of `params` (null accepted). `type_src` and `type_dst`
    // are the data-source types of source and target; `usr_data` is passed
    // through unchanged for the requester.
    KV_MsgReqParams(uint32_t req_id, KV_REQ_STAT status, KV_FileReqTransParams* params,
                    uint32_t usr_data, uint16_t type_src, uint16_t type_dst);
    ~KV_MsgReqParams() override;
    KV_MsgReqParams(const KV_MsgReqParams&) = delete;
    KV_MsgReqParams& operator=(const KV_MsgReqParams&) = delete;

    KV_MSG type() const override { return KV_MSG_REQ_PARAMS; }

    uint32_t req_id() const { return req_id_; }
    uint32_t usr_data() const { return usr_data_; }
    uint16_t type_src() const { return type_src_; }
    uint16_t type_dst() const { return type_dst_; }
    KV_REQ_STAT status() const { return status_; }
    // Owned by the message; null when the sender had none.
    const KV_FileReqTransParams* params() const { return params_; }

private:
    uint32_t req_id_;
    uint32_t usr_data_;
    uint16_t type_src_;
    uint16_t type_dst_;
    KV_REQ_STAT status_;
    KV_FileReqTransParams* params_;
};
