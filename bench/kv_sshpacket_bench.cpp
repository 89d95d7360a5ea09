// The SSH packet layer alone: 32 KiB payloads (the SFTP data size) sealed
// (padding, HMAC, encryption) and opened again (decryption of the first
// block and the rest, HMAC check, payload taken apart), one packet at a
// time, as a connection carrying a download does on both ends.
//
// BM_SshSealOpen runs the packet layer and, in the same run, `openssl
// speed` of the same cipher (encrypting and decrypting) and of HMAC-SHA1 on
// 32 KiB blocks; their combined rate (one encryption, one decryption, two
// MACs per byte) is the bound, and the counter vs_openssl is the packet
// layer's share of it.
// BM_EvpSealOpen is the same work as a bare EVP loop over one buffer: the
// in-process bound without framing, copies and streams.
//
// aes128-cbc runs 1 GiB; 3des-cbc, at some 30 MB/s, 128 MiB.
#include <benchmark/benchmark.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "ssh/kv_sshdirparams.h"
#include "ssh/kv_sshpacket.h"
#include "support/kv_sshtest.h"

namespace {

constexpr uint32_t payload_size = 32768;

struct Cipher
{
    const char* ssh;
    const char* openssl;
    int64_t packets;
};

const Cipher ciphers[] = {
    {"aes128-cbc", "aes-128-cbc", 32768},
    {"3des-cbc", "des-ede3-cbc", 4096},
};

// Bytes per second that `openssl speed` reports for one algorithm on 32 KiB
// blocks; 0 when it cannot be run.
double openssl_rate(const std::string& args)
{
    const std::string cmd =
        "openssl speed -mr -elapsed -seconds 2 -bytes 32768 " + args + " 2>/dev/null";
    double rate = 0;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, p)) {
            // "+F:<n>:<name>:<bytes per second>"
            if (line[0] != '+' || line[1] != 'F')
                continue;
            const char* last = std::strrchr(line, ':');
            if (last)
                rate = std::strtod(last + 1, nullptr);
        }
        pclose(p);
    }
    return rate;
}

// One encryption, one decryption and two HMAC-SHA1 per byte.
double openssl_bound(const char* cipher)
{
    static std::map<std::string, double> cache;
    auto it = cache.find(cipher);
    if (it != cache.end())
        return it->second;
    const double enc = openssl_rate(std::string("-evp ") + cipher);
    const double dec = openssl_rate(std::string("-decrypt -evp ") + cipher);
    const double mac = openssl_rate("-hmac sha1");
    const double bound = enc > 0 && dec > 0 && mac > 0 ? 1 / (1 / enc + 1 / dec + 2 / mac) : 0;
    cache[cipher] = bound;
    return bound;
}

void BM_SshSealOpen(benchmark::State& state)
{
    const Cipher& c = ciphers[state.range(0)];
    state.SetLabel(std::string(c.ssh) + "/hmac-sha1");
    const double bound = openssl_bound(c.openssl);
    KV_SshDirParams tx, rx;
    if (!kvtest::ssh_dir_pair(tx, rx, c.ssh, "hmac-sha1", nullptr)) {
        state.SkipWithError("cipher not available");
        return;
    }
    const std::string data = kvtest::ramp(7, payload_size);
    KV_Stream wire(payload_size + 64);
    KV_SshPacket in;
    KV_String err;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        KV_SshPacket out;
        bool complete = false;
        if (!kvtest::put(out.payload(), data) || !out.prepare(tx) || !out.write(wire, tx, err) ||
            !in.read_head(wire, rx, complete, err) || !complete || !in.read_body(wire, rx, err)) {
            state.SkipWithError("packet refused");
            break;
        }
        benchmark::DoNotOptimize(in.payload().length());
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double bytes = double(state.iterations()) * payload_size;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["openssl_MBps"] = bound / 1e6;
    if (bound > 0 && secs > 0)
        state.counters["vs_openssl"] = bytes / secs / bound;
}

void BM_EvpSealOpen(benchmark::State& state)
{
    const Cipher& c = ciphers[state.range(0)];
    state.SetLabel(std::string(c.ssh) + "/hmac-sha1");
    const EVP_CIPHER* cipher = EVP_get_cipherbyname(c.openssl);
    EVP_CIPHER_CTX* enc = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX* dec = EVP_CIPHER_CTX_new();
    EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* mac = EVP_MAC_CTX_new(hmac);
    const std::string key = kvtest::ramp(0x40, 32), iv = kvtest::ramp(0x10, 32),
                      mkey = kvtest::ramp(0x80, 20);
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    const auto* v = reinterpret_cast<const unsigned char*>(iv.data());
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    if (!cipher || !enc || !dec || !mac || !EVP_EncryptInit_ex(enc, cipher, nullptr, k, v) ||
        !EVP_DecryptInit_ex(dec, cipher, nullptr, k, v) ||
        !EVP_MAC_init(mac, reinterpret_cast<const unsigned char*>(mkey.data()), 20, params)) {
        state.SkipWithError("OpenSSL set-up failed");
    } else {
        EVP_CIPHER_CTX_set_padding(enc, 0);
        EVP_CIPHER_CTX_set_padding(dec, 0);
        std::string buf = kvtest::ramp(7, payload_size);
        auto* b = reinterpret_cast<unsigned char*>(buf.data());
        unsigned char seq[4] = {0}, out[EVP_MAX_MD_SIZE];
        size_t n = 0;
        int len = 0;
        for (auto _ : state) {
            EVP_MAC_init(mac, nullptr, 0, nullptr);
            EVP_MAC_update(mac, seq, 4);
            EVP_MAC_update(mac, b, payload_size);
            EVP_MAC_final(mac, out, &n, sizeof out);
            EVP_EncryptUpdate(enc, b, &len, b, payload_size);
            EVP_DecryptUpdate(dec, b, &len, b, payload_size);
            EVP_MAC_init(mac, nullptr, 0, nullptr);
            EVP_MAC_update(mac, seq, 4);
            EVP_MAC_update(mac, b, payload_size);
            EVP_MAC_final(mac, out, &n, sizeof out);
            benchmark::DoNotOptimize(out[0]);
        }
        state.SetBytesProcessed(state.iterations() * int64_t(payload_size));
    }
    EVP_MAC_CTX_free(mac);
    EVP_MAC_free(hmac);
    EVP_CIPHER_CTX_free(enc);
    EVP_CIPHER_CTX_free(dec);
}

void args(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_SshSealOpen)->Arg(0)->Iterations(ciphers[0].packets)->Apply(args);
BENCHMARK(BM_SshSealOpen)->Arg(1)->Iterations(ciphers[1].packets)->Apply(args);
BENCHMARK(BM_EvpSealOpen)->Arg(0)->Iterations(ciphers[0].packets)->Apply(args);
BENCHMARK(BM_EvpSealOpen)->Arg(1)->Iterations(ciphers[1].packets)->Apply(args);
