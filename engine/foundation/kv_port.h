// A TCP port number.
//
// Threads: a plain value; one thread at a time per object.
#pragma once

#include <cstdint>

#include "foundation/kv_string.h"

class KV_Port
{
public:
    KV_Port() = default;
    KV_Port(uint16_t port) : port(port) {}
    // high * 256 + low: the two bytes of the FTP PORT and PASV notation.
    KV_Port(uint8_t high, uint8_t low) : port(static_cast<uint16_t>(high << 8 | low)) {}
    KV_Port(const KV_Port&) = default;

    KV_Port& operator=(uint16_t value)
    {
        port = value;
        return *this;
    }
    KV_Port& operator=(const KV_Port&) = default;

    // The number in host byte order.
    operator uint16_t() const { return port; }
    // The number in decimal ("21").
    operator KV_String() const;
    // "high,low", the notation of the FTP PORT and PASV commands: 1025 gives
    // "4,1".
    KV_String as_ftp_def() const;

private:
    uint16_t port = 0;
};
