// The listing action's line assembly over arbitrary data-connection bytes,
// cut into arbitrary chunks (lines split anywhere, or no line end at all).
// The first byte picks the dialect and how the rest is cut. Whatever
// arrives:
// - how the bytes were cut changes nothing: the entries and the outcome
//   equal those of the same bytes in one chunk;
// - every entry has a name;
// - a refused listing says why: a line over the limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_path.h"
#include "ftp/kv_ftpacttrans.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"

namespace {

KV_FtpServer* dialect(uint8_t pick)
{
    switch (pick % 5) {
    case 0:
        return new KV_FtpServer;
    case 1:
        return new KV_FtpServerNetware;
    case 2:
        return new KV_FtpServerVM;
    case 3:
        return new KV_FtpServerVMS(KV_PathMan('/'));
    default:
        return new KV_FtpServerWinNT;
    }
}

struct Outcome
{
    bool ok = true;
    std::vector<std::string> names;
};

// Feeds body to a fresh listing in chunks of the lengths `cut` gives, then
// ends the data connection as the data session does.
Outcome run(uint8_t pick, const uint8_t* body, size_t n, uint8_t cut)
{
    KV_FtpMan ftp;
    ftp.serv = dialect(pick);
    KV_FileListStore store(true, nullptr);
    KV_PathDef root;
    KV_FtpActListParams params(&store, nullptr, root);
    KV_FtpActList list(params);
    ftp.exec_impl(&list); // binds the action; nothing is connected, nothing runs
    Outcome o;
    o.ok = list.init();
    size_t at = 0;
    size_t k = 0;
    while (o.ok && at < n) {
        size_t len = cut == 0 ? n : 1 + (size_t(cut) * 7 + k * 13) % (cut % 23 + 1);
        if (len > n - at)
            len = n - at;
        KV_Stream in;
        if (!in.append(body + at, static_cast<uint32_t>(len)))
            return o;
        bool end = false;
        o.ok = list.process_in(in, end);
        if (o.ok && !in.empty())
            __builtin_trap(); // a listing takes every byte it is given
        at += len;
        ++k;
    }
    o.ok = list.cleanup() && o.ok;
    if (!o.ok && !(ftp.err_msg() == KV_FtpActList::too_long_msg))
        __builtin_trap();
    for (uint32_t i = 0; i < store.entries().size(); ++i) {
        const KV_String& name = store.entries().at(i)->name();
        if (name.empty())
            __builtin_trap();
        o.names.emplace_back(name.data(), name.length());
    }
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 0x80000)
        return 0;
    const uint8_t pick = data[0];
    const Outcome whole = run(pick, data + 1, size - 1, 0);
    const Outcome pieces = run(pick, data + 1, size - 1, static_cast<uint8_t>(pick / 5 + 1));
    if (whole.ok != pieces.ok || whole.names != pieces.names)
        __builtin_trap();
    return 0;
}
