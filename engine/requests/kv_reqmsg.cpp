#include "requests/kv_reqmsg.h"

#include "datasources/kv_filereqtransparams.h"

KV_MsgReqParams::KV_MsgReqParams(uint32_t req_id, KV_REQ_STAT status, KV_FileReqTransParams* params,
                                 uint32_t usr_data, uint16_t type_src, uint16_t type_dst)
    : req_id_(req_id), usr_data_(usr_data), type_src_(type_src), type_dst_(type_dst),
      status_(status), params_(params)
{
}

KV_MsgReqParams::~KV_MsgReqParams()
{
    KV_FileReqTransParams::destr_clone(params_);
}
