// An HTTP protocol version: "1.1" in the request line "GET / HTTP/1.1" and in
// the VERSION setting of an HTTP data source.
//
// Threads: a plain value; one thread at a time per object.
#pragma once

#include <compare>
#include <cstdint>

#include "foundation/kv_string.h"

class KV_HttpVer
{
public:
    // 0.0: no version (the request line then carries none).
    KV_HttpVer() = default;
    KV_HttpVer(uint32_t major, uint32_t minor) : major_(major), minor_(minor) {}
    // The decimal numbers before and after the first '.' of text, each read
    // as far as it goes ("1x.2y" is 1.2); a part that is no number, or one
    // outside 0..4294967295, reads as 0. Without a '.' the version is 0.0.
    explicit KV_HttpVer(const KV_String& text);
    KV_HttpVer(const KV_HttpVer& other) = default;
    KV_HttpVer& operator=(const KV_HttpVer& other) = default;

    // Ordered by the major number, then the minor one.
    bool operator==(const KV_HttpVer& other) const = default;
    auto operator<=>(const KV_HttpVer& other) const = default;

    // Anything but 0.0.
    bool valid() const { return major_ != 0 || minor_ != 0; }

    uint32_t major_num() const { return major_; }
    uint32_t minor_num() const { return minor_; }

    // "%u.%u", e.g. "1.1".
    operator KV_String() const;

private:
    // Field order matters: the defaulted comparison orders by major first.
    uint32_t major_ = 0;
    uint32_t minor_ = 0;
};
