// The parameters of one direction of an SSH-2 connection: the cipher, the
// compressor and the MAC in force, and the packet sequence number.
//
// The session keeps a current and a pending set per direction. Key exchange
// fills the pending one; NEWKEYS moves its objects into the current one with
// take(), while each set keeps its own sequence number: the numbers count
// every packet of the connection and never restart.
//
// Threads: one session thread.
#pragma once

#include <cstdint>
#include <memory>

#include "ssh/kv_sshcipher.h"
#include "ssh/kv_sshcomp.h"
#include "ssh/kv_sshmac.h"

class KV_SshDirParams
{
public:
    KV_SshDirParams() = default;
    // Takes the sequence number only: the copy holds no cipher, compressor
    // or MAC.
    KV_SshDirParams(const KV_SshDirParams& other);
    KV_SshDirParams& operator=(const KV_SshDirParams&) = delete;
    virtual ~KV_SshDirParams();

    // Null while none is set.
    KV_SshCipher* cipher() const { return cipher_.get(); }
    KV_SshComp* comp() const { return comp_.get(); }
    KV_SshMac* mac() const { return mac_.get(); }
    // Each replaces (and deletes) the object held before; null clears.
    void set_cipher(std::unique_ptr<KV_SshCipher> cipher) { cipher_ = std::move(cipher); }
    void set_comp(std::unique_ptr<KV_SshComp> comp) { comp_ = std::move(comp); }
    void set_mac(std::unique_ptr<KV_SshMac> mac) { mac_ = std::move(mac); }

    // Moves the other's three objects here, deleting those held before, and
    // leaves the other without any. Neither sequence number changes.
    void take(KV_SshDirParams& other);

    // The sequence number of the next packet, then counts it (after
    // 0xFFFFFFFF comes 0).
    uint32_t next_seq() { return seq_++; }
    uint32_t seq() const { return seq_; }

private:
    std::unique_ptr<KV_SshCipher> cipher_;
    std::unique_ptr<KV_SshComp> comp_;
    std::unique_ptr<KV_SshMac> mac_;
    uint32_t seq_ = 0;
};
