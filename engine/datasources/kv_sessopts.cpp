#include "datasources/kv_sessopts.h"

KV_SessOpts::KV_SessOpts() = default;

KV_SessOpts::~KV_SessOpts() = default;

void KV_SessOpts::set_tmout_connect(uint32_t seconds)
{
    if (seconds <= UINT32_MAX / 1000)
        tmout_connect_ = seconds;
}
