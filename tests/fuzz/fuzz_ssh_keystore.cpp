// A store of trusted host keys read from a damaged or hostile file: loading
// keeps the whole entries before any damage and succeeds, and whatever
// loads saves and loads again to the same entries.
#include <cstddef>
#include <cstdint>

#include "ssh/kv_sshkeyman.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x10000)
        return 0;
    KV_Stream image;
    if (size && !image.append(data, static_cast<uint32_t>(size)))
        return 0;
    KV_SshKeyMan man;
    man.lock();
    if (!man.load_bin(image))
        __builtin_trap();
    KV_Stream saved;
    if (!man.save_bin(saved))
        __builtin_trap();
    man.unlock();
    KV_SshKeyMan back;
    back.lock();
    if (!back.load_bin(saved) || back.entries() != man.entries())
        __builtin_trap();
    for (uint32_t i = 0; i < man.entries(); ++i) {
        const auto& a = static_cast<const KV_SshKeyEntry&>(man.at(i));
        const auto& b = static_cast<const KV_SshKeyEntry&>(back.at(i));
        if (!(a == b) || a.id() != b.id())
            __builtin_trap();
    }
    back.unlock();
    return 0;
}
