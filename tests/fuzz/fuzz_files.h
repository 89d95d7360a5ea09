// What the fuzz targets over stored files share: an error handler that drops
// everything, and the input written out as a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/kv_errhandler.h"

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
