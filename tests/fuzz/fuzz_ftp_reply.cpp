// The FTP reply reader over arbitrary lines (split at LF), with the 227,
// 257 and SYST readers over the text of every reply. A reply's code is always
// 100 to 599, its text no longer than the reader's limit, and a 227 address
// never has a part above 255.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpctrlsess.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 200000)
        return 0;
    KV_FtpReplyReader r;
    size_t from = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != '\n')
            continue;
        KV_String line;
        line.append(data + from, static_cast<uint32_t>(i - from));
        from = i + 1;
        uint32_t code = 0;
        KV_String text, err;
        const auto res = r.feed(line, code, text, err);
        if (res == KV_FtpReplyReader::Fault)
            return 0;
        if (res != KV_FtpReplyReader::Reply)
            continue;
        if (code < 100 || code > 599 || text.length() > KV_FtpReplyReader::max_text)
            std::abort();
        KV_InetAddr a;
        KV_FtpReplyReader::parse_pasv(text, a);
        KV_String dir;
        KV_FtpReplyReader::parse_dir(text, dir);
        const KV_FTP_SERV_TYPE t = KV_FtpActSyst::type_of(text);
        if (t < KV_FTP_SERV_GENERIC || t > KV_FTP_SERV_WINNT)
            std::abort();
    }
    return 0;
}
