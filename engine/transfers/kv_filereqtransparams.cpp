#include "transfers/kv_filereqtransparams.h"

KV_FileReqTransParams::~KV_FileReqTransParams() = default;

void KV_FileReqTransParams::destr_clone(const KV_FileReqTransParams* params)
{
    delete params;
}
