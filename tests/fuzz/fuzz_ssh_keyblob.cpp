// The server's host key blob comes before any trust in the server. A blob
// that reads must write back to the same key, with a fingerprint of 47
// characters; the rest of the input is tried as a signature, which must
// never verify by accident of parsing (there is no private key behind it).
#include <cstddef>
#include <cstdint>

#include <openssl/bn.h>

#include "ssh/kv_sshkey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x10000)
        return 0;
    KV_Stream in;
    if (size && !in.append(data, static_cast<uint32_t>(size)))
        return 0;
    KV_SshKey key;
    if (!key.read(in))
        return 0;
    KV_Stream blob;
    KV_SshKey back;
    if (!key.write(blob) || !back.read(blob) || !blob.empty() || !(back == key))
        __builtin_trap();
    KV_String fp;
    if (!key.fingerprint(fp) || fp.length() != 47)
        __builtin_trap();
    // Verifying with numbers of any size costs time, not safety: keep the
    // fuzzer quick.
    if (BN_num_bits(key.num(key.type() == KV_SSH_KEY_DSA ? 0 : 1)) <= 2048) {
        static const unsigned char h[20] = {1, 2, 3};
        key.verify(h, sizeof h, in);
    }
    return 0;
}
