#include "foundation/kv_ossl.h"

#include <mutex>

#include <openssl/err.h>
#include <openssl/provider.h>

bool kv_ossl_providers()
{
    // Held for the life of the process: the providers stay loaded.
    static OSSL_PROVIDER* legacy = nullptr;
    static OSSL_PROVIDER* deflt = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        deflt = OSSL_PROVIDER_load(nullptr, "default");
        // A failed load leaves its reasons in this thread's OpenSSL error
        // queue, where a later TLS call on the thread would find them.
        ERR_clear_error();
    });
    return legacy != nullptr && deflt != nullptr;
}
