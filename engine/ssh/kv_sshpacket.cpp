#include "ssh/kv_sshpacket.h"

#include <cstring>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "foundation/kv_le.h"
#include "ssh/kv_sshdirparams.h"

namespace {

// Bytes of MAC each packet carries under dir; 0 while none is in force (a
// "none" MAC adds nothing either).
uint32_t mac_len(const KV_SshDirParams& dir)
{
    return dir.mac() ? dir.mac()->mac_len() : 0;
}

} // namespace

KV_SshPacket::~KV_SshPacket() = default;

uint32_t KV_SshPacket::first_size(const KV_SshDirParams& dir)
{
    const int32_t block = dir.cipher() ? dir.cipher()->block_size() : 8;
    return block > 8 ? static_cast<uint32_t>(block) : 8u;
}

bool KV_SshPacket::prepare(KV_SshDirParams& dir)
{
    packet_length_ = 0;
    padding_length_ = 0;
    padding_.clear();
    mac_.clear();
    if (dir.comp() && dir.comp()->active()) {
        KV_Stream packed(4096);
        if (!dir.comp()->process(payload_, packed) || !(payload_ = packed))
            return false;
    }
    const uint32_t block = first_size(dir);
    const uint32_t n = payload_.length();
    // The framed length must stay a u32 with room for the padding.
    if (n > UINT32_MAX / 2)
        return false;
    const uint32_t total = (n + 5 + block - 1) / block * block;
    uint32_t pad = total - (n + 1) - 4;
    if (pad < 4)
        pad += block;
    unsigned char bytes[64];
    if (RAND_bytes(bytes, static_cast<int>(pad)) != 1) {
        ERR_clear_error();
        return false;
    }
    if (!padding_.append(bytes, pad))
        return false;
    padding_length_ = static_cast<uint8_t>(pad);
    packet_length_ = n + 1 + pad;
    return true;
}

bool KV_SshPacket::write(KV_Stream& out, KV_SshDirParams& dir, KV_String& err)
{
    const uint32_t n = payload_.length();
    const uint32_t pad = padding_.length();
    // Only what prepare() made can be framed.
    if (pad != padding_length_ || packet_length_ == 0 || packet_length_ != n + 1 + pad)
        return false;
    const uint32_t total = packet_length_ + 4;
    const uint32_t maclen = mac_len(dir);
    plain_.cut(0);
    if (!plain_.reserve(total + maclen))
        return false;
    unsigned char* p = plain_.data();
    kv_put_be(p, packet_length_);
    p[4] = padding_length_;
    if (n)
        std::memcpy(p + 5, static_cast<const unsigned char*>(payload_), n);
    std::memcpy(p + 5 + n, static_cast<const unsigned char*>(padding_), pad);
    const uint32_t seq = dir.next_seq();
    mac_.clear();
    if (maclen) {
        if (!dir.mac()->compute(p + total, seq, p, total) || !mac_.append(p + total, maclen)) {
            err = "Couldn't compute the MAC.";
            return false;
        }
    }
    if (dir.cipher() && !dir.cipher()->process(p, p, total)) {
        err = "Couldn't encrypt the outgoing message.";
        return false;
    }
    return out.append(p, total + maclen);
}

bool KV_SshPacket::read_head(KV_Stream& in, KV_SshDirParams& dir, bool& complete, KV_String& err)
{
    if (complete_) {
        complete = true;
        return true;
    }
    complete = false;
    first_size_ = first_size(dir);
    if (in.length() < first_size_)
        return true;
    const unsigned char* head = in;
    if (dir.cipher()) {
        if (first_.size() == 0) {
            if (!first_.reserve(first_size_) ||
                !dir.cipher()->process(in, first_.data(), first_size_)) {
                err = "Couldn't decrypt the incoming message.";
                return false;
            }
            first_.added(first_size_);
        }
        head = first_.data();
    }
    packet_length_ = kv_get_be<uint32_t>(head);
    if (packet_length_ < min_length || packet_length_ > max_length) {
        err.format("Invalid packet length ( %u ).", packet_length_);
        return false;
    }
    complete_ = uint64_t(in.length()) >= uint64_t(packet_length_) + 4 + mac_len(dir);
    complete = complete_;
    return true;
}

bool KV_SshPacket::read_body(KV_Stream& in, KV_SshDirParams& dir, KV_String& err)
{
    if (!complete_)
        return false;
    const uint32_t total = packet_length_ + 4;
    const uint32_t maclen = mac_len(dir);
    if (total < first_size_ || in.length() < total + maclen)
        return false;
    const uint32_t seq = dir.next_seq();
    plain_.cut(0);
    if (!plain_.reserve(total))
        return false;
    unsigned char* p = plain_.data();
    const unsigned char* wire = in;
    if (dir.cipher()) {
        std::memcpy(p, first_.data(), first_size_);
        if (!dir.cipher()->process(wire + first_size_, p + first_size_, total - first_size_)) {
            err = "Couldn't decrypt the incoming message.";
            return false;
        }
    } else {
        std::memcpy(p, wire, total);
    }
    if (maclen) {
        unsigned char mac[EVP_MAX_MD_SIZE];
        if (!dir.mac()->compute(mac, seq, p, total)) {
            err = "Couldn't compute the MAC.";
            return false;
        }
        // In constant time: how much of a forged MAC matched must not show.
        if (CRYPTO_memcmp(mac, wire + total, maclen) != 0) {
            err = "Invalid MAC received.";
            return false;
        }
    }
    padding_length_ = p[4];
    // The padding must leave the payload's byte count not below 0.
    if (padding_length_ > packet_length_ - 1)
        return false;
    const uint32_t n = packet_length_ - 1 - padding_length_;
    payload_.clear();
    padding_.clear();
    if (!payload_.append(p + 5, n) || !padding_.append(p + 5 + n, padding_length_))
        return false;
    if (!in.remove(total + maclen))
        return false;
    if (dir.comp() && dir.comp()->active()) {
        KV_Stream unpacked(4096);
        if (!dir.comp()->process(payload_, unpacked) || !(payload_ = unpacked))
            return false;
    }
    reset();
    return true;
}

void KV_SshPacket::reset()
{
    complete_ = false;
    first_size_ = 0;
    first_.cut(0);
}
