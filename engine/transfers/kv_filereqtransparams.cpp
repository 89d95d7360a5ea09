#include "transfers/kv_filereqtransparams.h"

KV_FileReqTransParams::KV_FileReqTransParams()
{
    tm_started_.now();
}

KV_FileReqTransParams::~KV_FileReqTransParams() = default;

void KV_FileReqTransParams::destr_clone(const KV_FileReqTransParams* params)
{
    delete params;
}

void KV_FileReqTransParams::reset_tm_susp()
{
    tm_start_.now();
}
