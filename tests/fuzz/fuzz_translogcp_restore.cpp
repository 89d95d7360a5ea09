// Copy sub-logs are read back from files that an earlier run, a crash or
// anyone with access to the temporary folder left behind: whatever the bytes,
// peeking at the frame, restoring the sub-log and using what was restored
// must not crash, hang or allocate beyond the size of the file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "foundation/kv_file.h"
#include "foundation/kv_tmpfile.h"
#include "fuzz_files.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translog.h"
#include "transfers/kv_translogcp.h"
// The fuzz targets are built without the tests' include folder.
#include "../support/kv_testtools.h"

namespace {

std::string temp_name(const char* what)
{
    return "/tmp/fuzz_translogcp_" + std::to_string(::getpid()) + "_" + what;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog file;
    if (!fuzz_log(temp_name("log"), data, size, file))
        return 0;
    const std::string out = temp_name("out");
    FuzzNullEh eh;

    if (file.peeked && file.open)
        __builtin_trap(); // a peek never leaves the log open

    KV_TransLogCp log(nullptr, file.name);
    if (log.restore(eh, nullptr)) {
        if (!log.ok() || log.type() != 1)
            __builtin_trap();
        // What the per-file copy and the halves do with a restored sub-log.
        KV_FileFragMan& frags = log.man_frag();
        const int64_t done = frags.done_bytes();
        if (done < 0)
            __builtin_trap();
        log.progress(done);
        KV_FileFrag* frag = nullptr;
        frags.take(&frag);
        if (frag != nullptr) {
            unsigned char buf[64];
            uint32_t n = sizeof buf;
            log.read_frag(*frag, buf, 0, n);
            if (n > sizeof buf)
                __builtin_trap();
        }
        // The data area never claims more than the sub-log holds, so the
        // delivery stays bounded by the input.
        KV_File target(out.c_str(), "wb");
        if (target.open()) {
            log.copy_frags(target, nullptr);
            target.close();
        }
        log.set_status(2);
        log.set_flags(1, 0);
        log.init_frags(true);
        log.close();
        std::remove(out.c_str());
    }
    fuzz_drop(file);
    return 0;
}
