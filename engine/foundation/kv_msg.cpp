#include "foundation/kv_msg.h"

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_filetreenode.h"

KV_Msg::~KV_Msg() = default;

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

KV_MsgTreeScan::KV_MsgTreeScan(const KV_PathDef& path) : KV_MsgTree(path)
{
    nodes.set_grow(128);
}

KV_MsgTreeScan::~KV_MsgTreeScan()
{
    for (KV_FileTreeNode* node : nodes) {
        delete node;
    }
    nodes.clear();
}
