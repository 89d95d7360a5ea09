#include "datasources/kv_proxyopts.h"

bool KV_ProxyOpts::set_port(unsigned long port)
{
    if (port > 0xFFFF)
        return false;
    port_ = static_cast<uint16_t>(port);
    return true;
}
