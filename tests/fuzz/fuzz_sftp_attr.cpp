// An ATTRS block comes straight from the server in every NAME entry. The
// reader must never read beyond the bytes it is given, whatever the flags
// and the extended count say; what it read must write back to a block that
// reads again to the same fields.
#include <cstddef>
#include <cstdint>

#include "ssh/kv_sftpmsg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KV_Stream in;
    if (size && !in.append(data, static_cast<uint32_t>(size)))
        return 0;
    KV_SftpFileAttr a;
    if (!a.read(in))
        return 0;
    KV_Stream out;
    KV_SftpFileAttr b;
    if (!a.write(out) || !b.read(out) || out.length() != 0)
        __builtin_trap();
    if (a.flags() != b.flags() || a.size() != b.size() || a.uid() != b.uid() ||
        a.gid() != b.gid() || a.permissions() != b.permissions() || a.atime() != b.atime() ||
        a.mtime() != b.mtime())
        __builtin_trap();
    return 0;
}
