// Entries read back from transfer logs and other stored files: arbitrary
// bytes must never make read_bin read out of bounds, allocate what a forged
// count claims, or yield an entry that does not survive its own round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "foundation/kv_filedata.h"
#include "foundation/kv_storage.h"

namespace {

void check_round_trip(const KV_FileData& fd)
{
    KV_Stream st;
    if (!fd.write_bin(st)) {
        abort();
    }
    KV_FileData back;
    if (!back.read_bin(st) || !(back == fd) || st.length() != 0) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 20) {
        return 0;
    }
    KV_Stream st;
    if (size > 0 && !st.append(data, static_cast<uint32_t>(size))) {
        return 0;
    }
    // The first byte picks the entry class; the rest is a run of records.
    bool ext = size > 0 && (data[0] & 1);
    if (size > 0) {
        st.get();
    }
    for (int i = 0; i < 64; ++i) {
        if (ext) {
            KV_FileDataExt fd;
            if (!fd.read_bin(st)) {
                break;
            }
            check_round_trip(fd);
            (void)fd.tm_disp();
            (void)fd.fext();
        } else {
            KV_FileData fd;
            if (!fd.read_bin(st)) {
                break;
            }
            check_round_trip(fd);
            (void)fd.size(true);
            (void)fd.multifrag();
        }
    }
    return 0;
}
