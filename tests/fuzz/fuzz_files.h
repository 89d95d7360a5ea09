// What the fuzz targets over stored files share: an error handler that drops
// everything, the input written out as a file, and for the logs the
// loader's first step over that file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_string.h"
#include "transfers/kv_translog.h"

class FuzzNullEh : public KV_ErrHandler
{
protected:
    void process_err(uint8_t, const KV_String&) override {}
};

// Writes the input to `path`; false when the file cannot be written.
inline bool fuzz_put(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// A log file written from the input, and what the loader's peek with a bare
// frame found in it.
struct FuzzLog
{
    std::string path;
    KV_String name;      // the file as the engine names it
    bool peeked = false; // the frame read
    uint8_t type = 0;    // the kind of log the frame names
    bool open = false;   // the peek left the bare frame open
};

// Writes an input of at most 64 KiB to `path` and peeks at it; false, with
// no file, for a larger input or one that cannot be written.
inline bool fuzz_log(const std::string& path, const uint8_t* data, size_t size, FuzzLog& log)
{
    if (size > 1u << 16 || !fuzz_put(path, data, size))
        return false;
    log.path = path;
    log.name = KV_String(path.c_str());
    FuzzNullEh eh;
    KV_TransLog bare(log.name);
    log.peeked = bare.restore(eh, &log.type);
    log.open = bare.ok();
    return true;
}

// Takes the log file out of the temporary-file register and off the disk.
inline void fuzz_drop(const FuzzLog& log)
{
    KV_TransLog::tmp_file_man().unreg(log.name);
    std::remove(log.path.c_str());
}
