// The loader of the trusted-certificate store over arbitrary bytes (a
// damaged or hand-made "trusted-certs.bin"). Whatever the image holds:
// - the load succeeds and keeps what the store held (its own entry) first;
// - what was loaded, saved and loaded again, loads the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "foundation/kv_storage.h"
#include "net/kv_sslcertman.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    KV_Stream image;
    if (!image.append(data, static_cast<uint32_t>(size)) && size != 0)
        return 0;

    KV_SSLCertMan store;
    // One entry of the store's own, read from a small fixed image.
    const unsigned char own[] = {1, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 'k', 0,
                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x30};
    KV_Stream own_image;
    own_image.append(own, sizeof(own));
    store.lock();
    if (!store.load_bin(own_image) || store.entries() != 1)
        std::abort();
    if (!store.load_bin(image) || store.entries() < 1 || store.at(0).id() != 5)
        std::abort();
    KV_Stream saved;
    if (!store.save_bin(saved))
        std::abort();
    KV_SSLCertMan again;
    again.lock();
    if (!again.load_bin(saved) || again.entries() != store.entries())
        std::abort();
    for (uint32_t i = 0; i < store.entries(); ++i) {
        if (again.at(i).id() != store.at(i).id() || !(again.at(i).name() == store.at(i).name()))
            std::abort();
    }
    again.unlock();
    store.unlock();
    return 0;
}
