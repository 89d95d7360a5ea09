#include "http/kv_httpacttrans.h"

#include <new>

bool KV_HttpActConnect::get_hdr(KV_HttpHdr& hdr, const KV_String& dst, const KV_HttpVer& ver)
{
    if (!hdr.add(new (std::nothrow) KV_HttpHdrMethod("CONNECT", dst, ver)))
        return false;
    if (ver >= KV_HttpVer(1, 1))
        return hdr.add(new (std::nothrow) KV_HttpHdrHost(dst));
    return true;
}
