// The SSH-2 binary packet (RFC 4253 section 6).
//
// Wire form, integers big-endian:
//   u32 packet_length   1 + payload + padding (MAC excluded)
//   u8  padding_length
//   payload             compressed while the direction's compression is on
//   padding             4 .. B + 3 random bytes, B = max(8, cipher block)
//   MAC                 HMAC(u32 seq || the plain packet above); absent
//                       while no MAC is in force
// With a cipher in force everything up to the padding is encrypted as one
// run of whole blocks; the MAC follows in the clear.
//
// The session keeps one packet object for its input and feeds it the input
// buffer as bytes arrive: read_head() says when a whole packet (MAC
// included) is there, read_body() takes it off. The first block is
// decrypted once, however many pieces the packet comes in, because the
// cipher's chain moves on with every block it is given. Every outgoing
// message gets a fresh packet object: payload() is filled, then prepare()
// and write().
//
// Incoming packets are checked before their fields are used: the length
// against the limits before any wait for the body, the MAC (compared in
// constant time) before the padding length is looked at, and the padding
// length against the packet's length.
//
// Threads: one session thread.
#pragma once

#include <cstdint>

#include "foundation/kv_bytebuf.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_SshDirParams;

class KV_SshPacket
{
public:
    // Limits of packet_length on input.
    static constexpr uint32_t min_length = 5;
    static constexpr uint32_t max_length = 0x40000;

    KV_SshPacket() = default;
    virtual ~KV_SshPacket();
    KV_SshPacket(const KV_SshPacket&) = delete;
    KV_SshPacket& operator=(const KV_SshPacket&) = delete;

    // The message: filled before prepare(), read after read_body().
    KV_Stream& payload() { return payload_; }
    uint32_t packet_length() const { return packet_length_; }
    uint8_t padding_length() const { return padding_length_; }
    const KV_Stream& padding() const { return padding_; }

    // Compresses the payload when dir's compression is on, then chooses the
    // padding (random bytes) and the packet length. False when the
    // compression fails or the payload is too large to frame.
    bool prepare(KV_SshDirParams& dir);
    // Appends the packet, encrypted and followed by its MAC, to out, using
    // up one sequence number of dir. False with a text in err when the MAC or
    // the encryption fails; out is then unchanged.
    bool write(KV_Stream& out, KV_SshDirParams& dir, KV_String& err);

    // Looks at the front of in (which it does not consume) and sets complete
    // when the whole packet, MAC included, is there. False with a text in
    // err when the length is outside the limits or the first block cannot be
    // decrypted.
    bool read_head(KV_Stream& in, KV_SshDirParams& dir, bool& complete, KV_String& err);
    // Takes the complete packet off in: decrypts it, checks the MAC, takes
    // the payload apart and decompresses it, using up one sequence number of
    // dir, then reset()s. False when no packet is complete, a step fails
    // (with a text in err where one is given) or the packet's fields do not
    // fit together; the connection cannot go on after that.
    bool read_body(KV_Stream& in, KV_SshDirParams& dir, KV_String& err);
    // Ready for the next incoming packet: nothing decrypted, not complete.
    void reset();

private:
    // Bytes the incoming packet's first look takes: max(8, cipher block).
    static uint32_t first_size(const KV_SshDirParams& dir);

    KV_ByteBuf first_; // the decrypted first block, once done
    bool complete_ = false;
    uint32_t first_size_ = 0;
    uint32_t packet_length_ = 0;
    uint8_t padding_length_ = 0;
    KV_Stream payload_;
    KV_Stream padding_;
    KV_Stream mac_;
    KV_ByteBuf plain_; // the plain packet being read or written
};
