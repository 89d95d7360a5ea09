#include "foundation/kv_port.h"

KV_Port::operator KV_String() const
{
    return KV_String::format_impl("%u", static_cast<unsigned>(port));
}

KV_String KV_Port::as_ftp_def() const
{
    return KV_String::format_impl("%u,%u", static_cast<unsigned>(port >> 8),
                                  static_cast<unsigned>(port & 0xFF));
}
