// What the benchmarks that run peer programs and servers share beyond the
// tests' fixtures (tests/support): sizes from the environment, loopback
// ports.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kvbench {

// The positive whole number in the environment variable `name`, else def:
// CI runs the small defaults, a full measurement sets the variable.
inline uint64_t env_num(const char* name, uint64_t def)
{
    const char* v = std::getenv(name);
    const uint64_t n = v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 10) : 0;
    return n > 0 ? n : def;
}

// A loopback port free at the time of the call (0 when none could be had).
inline uint16_t free_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    ::close(fd);
    return port;
}

// Something listens on the loopback port.
inline bool port_open(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

} // namespace kvbench
