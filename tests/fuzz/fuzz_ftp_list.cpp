// The listing dialects over arbitrary lines (split at LF). The first byte
// picks the dialect. An entry always has a name and a size that is not
// negative.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ftp/kv_ftpserver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 200000)
        return 0;
    std::unique_ptr<KV_FtpServer> s;
    switch (data[0] % 5) {
    case 0:
        s = std::make_unique<KV_FtpServer>();
        break;
    case 1:
        s = std::make_unique<KV_FtpServerNetware>();
        break;
    case 2:
        s = std::make_unique<KV_FtpServerVM>();
        break;
    case 3:
        s = std::make_unique<KV_FtpServerVMS>(KV_PathMan('/'));
        break;
    default:
        s = std::make_unique<KV_FtpServerWinNT>();
        break;
    }
    size_t from = 1;
    for (size_t i = 1; i <= size; ++i) {
        if (i < size && data[i] != '\n')
            continue;
        KV_String line;
        line.append(data + from, static_cast<uint32_t>(i - from));
        from = i + 1;
        KV_String name, attr, owner, group, date;
        int64_t sz = 0;
        uint8_t flags = 0;
        if (s->parse_line(line, name, attr, owner, group, date, sz, flags) &&
            (name.empty() || sz < 0))
            std::abort();
        KV_String p(line);
        s->dir_from_serv(p);
        s->path_to_serv(p, true);
    }
    return 0;
}
