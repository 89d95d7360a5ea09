// The SSH packet reader takes whatever the server sends, in whatever pieces
// the network cuts it into. The first byte picks the cipher, MAC and
// compression in force (each also "none in force"), the second the size of
// the pieces (low six bits) and the mode (top bit).
//
// Mode 0: the rest is wire bytes for the reader, which must never
// overrun, never hand out a payload larger than a packet can hold, and
// consume every packet it takes.
// Mode 1: the rest is a payload that is sealed, opened again in pieces
// (and must come back the same), then sealed once more with one bit flipped
// at a place the input picks: with a MAC in force that packet must never be
// taken.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../support/kv_sshtest.h"
#include "ssh/kv_sshdirparams.h"
#include "ssh/kv_sshpacket.h"

namespace {

struct Receiver
{
    explicit Receiver(KV_SshDirParams& dir) : rx(dir) {}

    KV_SshDirParams& rx;
    KV_Stream in;
    KV_SshPacket packet;
    uint32_t got = 0;
    std::string last;

    bool feed(const uint8_t* p, size_t n)
    {
        if (n && !in.append(p, static_cast<uint32_t>(n)))
            return false;
        for (;;) {
            KV_String err;
            bool complete = false;
            if (!packet.read_head(in, rx, complete, err))
                return false;
            if (!complete)
                return true;
            const uint32_t before = in.length();
            if (!packet.read_body(in, rx, err))
                return false;
            if (in.length() >= before || packet.payload().length() > 0x40000)
                __builtin_trap();
            ++got;
            last = kvtest::bytes(packet.payload());
        }
    }
};

const char* pick(uint32_t i, bool cipher)
{
    if (cipher)
        return i < KV_SshCipherDef::nciphers() ? KV_SshCipherDef::cipher(i)->name() : nullptr;
    return i < KV_SshMacDef::nmacs() ? KV_SshMacDef::mac(i)->name() : nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 0x20000)
        return 0;
    const uint8_t conf = data[0];
    const char* cipher = pick(conf % 10, true);
    const char* mac = pick((conf / 10) % 7, false);
    const char* comps[] = {nullptr, "none", "zlib"};
    const char* comp = comps[(conf / 70) % 3];
    const size_t step = 1 + (data[1] & 63);
    const bool round_trip = (data[1] & 0x80) != 0;
    data += 2;
    size -= 2;

    KV_SshDirParams tx, rx;
    if (!kvtest::ssh_dir_pair(tx, rx, cipher, mac, comp))
        __builtin_trap();
    Receiver r(rx);

    if (!round_trip) {
        for (size_t at = 0; at < size; at += step)
            if (!r.feed(data + at, size - at < step ? size - at : step))
                break;
        return 0;
    }

    // Round trip of the payload, then a damaged copy.
    const std::string payload(reinterpret_cast<const char*>(data), size);
    KV_SshPacket out;
    KV_Stream wire;
    KV_String err;
    if (!kvtest::put(out.payload(), payload) || !out.prepare(tx) || !out.write(wire, tx, err))
        __builtin_trap();
    const std::string sealed = kvtest::bytes(wire);
    for (size_t at = 0; at < sealed.size(); at += step) {
        const size_t n = sealed.size() - at < step ? sealed.size() - at : step;
        if (!r.feed(reinterpret_cast<const uint8_t*>(sealed.data()) + at, n))
            __builtin_trap();
    }
    if (r.got != 1 || r.last != payload)
        __builtin_trap();

    KV_SshPacket again;
    KV_Stream wire2;
    if (!kvtest::put(again.payload(), payload) || !again.prepare(tx) ||
        !again.write(wire2, tx, err))
        __builtin_trap();
    std::string damaged = kvtest::bytes(wire2);
    const size_t pick_at = size ? size_t(data[0]) << 8 | (size > 1 ? data[1] : 0) : 0;
    const size_t bit = pick_at % (damaged.size() * 8);
    damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
    r.feed(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size());
    if (mac && tx.mac()->mac_len() > 0 && r.got != 1)
        __builtin_trap();
    return 0;
}
