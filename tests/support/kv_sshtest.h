// What the SSH tests, fuzz targets and benchmarks share: hexadecimal forms of
// byte strings, and pairs of direction parameters with the same algorithms
// and keys, one sending and one receiving, as the two ends of a connection
// hold them after a key exchange. Needs no test framework.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kv_storage.h"
#include "ssh/kv_sshdirparams.h"

namespace kvtest {

// Lower-case hexadecimal, two digits a byte.
inline std::string hex(const unsigned char* p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

inline std::string hex(const KV_Stream& st)
{
    return hex(st, st.length());
}

inline std::string hex(const std::string& bytes)
{
    return hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// The bytes of a hexadecimal text; blanks are skipped.
inline std::string unhex(const std::string& text)
{
    std::string bytes;
    int high = -1;
    for (char c : text) {
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            bytes += static_cast<char>(high * 16 + v);
            high = -1;
        }
    }
    return bytes;
}

inline bool put(KV_Stream& st, const std::string& bytes)
{
    return bytes.empty() || st.append(reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<uint32_t>(bytes.size()));
}

inline std::string bytes(const KV_Stream& st)
{
    const unsigned char* p = st;
    return p ? std::string(reinterpret_cast<const char*>(p), st.length()) : std::string();
}

// `n` bytes counting up from `first`: the test keys and IVs.
inline std::string ramp(unsigned char first, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>(first + i);
    return s;
}

// Sets up `tx` to send and `rx` to receive with the named cipher, MAC and
// compression (null for none in force), keyed alike. False when a name is
// unknown or an object refuses to start.
inline bool ssh_dir_pair(KV_SshDirParams& tx, KV_SshDirParams& rx, const char* cipher,
                         const char* mac, const char* comp)
{
    for (int side = 0; side < 2; ++side) {
        KV_SshDirParams& dir = side == 0 ? tx : rx;
        if (cipher) {
            auto c = KV_SshCipher::create(cipher);
            if (!c || !put(c->iv(), ramp(0x10, 32)) || !put(c->key(), ramp(0x40, 32)) ||
                !c->init(side == 0))
                return false;
            dir.set_cipher(std::move(c));
        } else {
            dir.set_cipher(nullptr);
        }
        if (mac) {
            auto m = KV_SshMac::create(mac);
            if (!m || !put(m->key(), ramp(0x80, 64)))
                return false;
            dir.set_mac(std::move(m));
        } else {
            dir.set_mac(nullptr);
        }
        if (comp) {
            auto z = KV_SshComp::create(comp);
            if (!z || !z->init(side == 0))
                return false;
            dir.set_comp(std::move(z));
        } else {
            dir.set_comp(nullptr);
        }
    }
    return true;
}

} // namespace kvtest
