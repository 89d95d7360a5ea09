// Files of random bytes and their SHA-256 digests, for tests that copy
// trees and compare both ends byte for byte. Needs no test framework.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <openssl/evp.h>

namespace kvtest {

// The SHA-256 of the file at `path`, in hex; empty when it cannot be read.
inline std::string sha256(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return {};
    std::vector<char> buf(1 << 20);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const std::streamsize n = in.gcount();
        if (n > 0 && EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<size_t>(n)) != 1)
            return {};
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), md.data(), &len) != 1)
        return {};
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(two, sizeof two, "%02x", md[i]);
        hex += two;
    }
    return hex;
}

// Relative path -> SHA-256 of every file under `dir`.
inline std::map<std::string, std::string> digests(const std::string& dir)
{
    namespace fs = std::filesystem;
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file())
            out[fs::relative(e.path(), dir).string()] = sha256(e.path().string());
    }
    return out;
}

// `size` bytes from rng into the file at `path`, its folders made first.
inline void write_random(const std::string& path, uint64_t size, std::mt19937_64& rng)
{
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    std::vector<uint64_t> buf(1 << 17); // 1 MiB
    while (size > 0) {
        for (auto& w : buf)
            w = rng();
        const uint64_t n = std::min<uint64_t>(size, buf.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(n));
        size -= n;
    }
}

inline void write_random(const std::string& path, uint64_t size, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    write_random(path, size, rng);
}

} // namespace kvtest
