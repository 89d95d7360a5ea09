// Little-endian integers, the byte order of every stored format of the
// engine (ids, strings, paths, file entries, transfer parameters and logs).
// One reader and one writer so that no format spells the shifts out again.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>

// Writes `v` as sizeof(T) little-endian bytes at `p`.
template <std::integral T> inline void kv_put_le(unsigned char* p, T v)
{
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(v);
    for (size_t i = 0; i < sizeof(T); ++i) {
        p[i] = static_cast<unsigned char>(u & 0xFFu);
        if constexpr (sizeof(T) > 1)
            u = static_cast<U>(u >> 8);
    }
}

// Reads sizeof(T) little-endian bytes at `p`.
template <std::integral T> inline T kv_get_le(const unsigned char* p)
{
    using U = std::make_unsigned_t<T>;
    U u = 0;
    for (size_t i = sizeof(T); i-- > 0;) {
        if constexpr (sizeof(T) > 1)
            u = static_cast<U>(u << 8);
        u = static_cast<U>(u | p[i]);
    }
    return static_cast<T>(u);
}

// Big-endian forms, for the few wire and store fields that use network order.
template <std::integral T> inline void kv_put_be(unsigned char* p, T v)
{
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(v);
    for (size_t i = sizeof(T); i-- > 0;) {
        p[i] = static_cast<unsigned char>(u & 0xFFu);
        if constexpr (sizeof(T) > 1)
            u = static_cast<U>(u >> 8);
    }
}

template <std::integral T> inline T kv_get_be(const unsigned char* p)
{
    using U = std::make_unsigned_t<T>;
    U u = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        if constexpr (sizeof(T) > 1)
            u = static_cast<U>(u << 8);
        u = static_cast<U>(u | p[i]);
    }
    return static_cast<T>(u);
}
