// The server's KEXINIT is parsed before anything about the server is known.
// Whatever it holds, reading must stay within the bytes, and a KEXINIT that
// reads writes back to exactly the bytes it was read from. The name-lists it
// held are also negotiated against our offer, which must give one of our
// names or nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ssh/kv_sshcipher.h"
#include "ssh/kv_sshkeyex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x40000)
        return 0;
    KV_Stream in;
    if (size && !in.append(data, static_cast<uint32_t>(size)))
        return 0;
    KV_SshKeyEx k;
    if (!k.read(in))
        return 0;
    const uint32_t used = static_cast<uint32_t>(size) - in.length();
    KV_Stream out;
    if (!k.write(out) || out.length() != used + 1 || out.at(0) != 20 ||
        std::memcmp(static_cast<const unsigned char*>(out) + 1, data, used) != 0)
        __builtin_trap();

    const KV_String offer = KV_SshCipherDef::ciphers("");
    KV_SshString ours(offer.data());
    const KV_String chosen = ssh_negotiate(ours, k.list(KV_SSH_KEX_ENC_SC));
    if (!chosen.empty() && !KV_SshCipherDef::find(chosen))
        __builtin_trap();
    return 0;
}
