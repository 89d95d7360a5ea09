// What the SSH transport session reads before any key is in force comes
// from whoever answers the connection: the version lines, then packets in
// the clear (KEXINIT, KEXDH_REPLY, and anything else a server may send
// first). The input is fed to the session as it would arrive, in one
// piece and again split in two; the session may refuse it, but must stay
// within the bytes and its bounds.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "datasources/kv_manopts.h"
#include "ssh/kv_sshchanif.h"
#include "ssh/kv_sshman.h"
#include "ssh/kv_sshsess.h"

namespace {

class FuzzMan : public KV_SshMan
{
public:
    std::unique_ptr<KV_SshChanMapIf> init_channels() override { return nullptr; }
    KV_SSH_MAN_TYPE type_ssh() const override { return KV_SSH_MAN_SFTP; }
    const KV_SshManOpts& opts() const override { return opts_; }
    uint32_t tmout_open() const override { return 0; }
    KV_SshManOpts opts_;
};

class FuzzSess : public KV_SshSess
{
public:
    using KV_SshSess::KV_SshSess;
    using KV_SshSess::process_idle;
    using KV_SshSess::process_in;
};

void feed(const uint8_t* data, uint32_t size, uint32_t split)
{
    FuzzMan man;
    KV_Socket sock;
    FuzzSess sess(sock, KV_InetAddr(), &man);
    KV_Stream in;
    KV_Stream out;
    const uint32_t parts[2][2] = {{0, split}, {split, size}};
    for (const auto& p : parts) {
        if (p[1] > p[0] && !in.append(data + p[0], p[1] - p[0]))
            return;
        if (!sess.process_in(in, out) || !sess.process_idle(out))
            return;
        if (in.length() > size)
            __builtin_trap();
        out.clear();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x50000)
        return 0;
    const uint32_t n = static_cast<uint32_t>(size);
    feed(data, n, n);
    feed(data, n, n / 2);
    return 0;
}
