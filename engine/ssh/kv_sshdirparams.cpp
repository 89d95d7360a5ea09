#include "ssh/kv_sshdirparams.h"

KV_SshDirParams::KV_SshDirParams(const KV_SshDirParams& other) : seq_(other.seq_) {}

KV_SshDirParams::~KV_SshDirParams() = default;

void KV_SshDirParams::take(KV_SshDirParams& other)
{
    if (&other == this)
        return;
    cipher_ = std::move(other.cipher_);
    comp_ = std::move(other.comp_);
    mac_ = std::move(other.mac_);
}
