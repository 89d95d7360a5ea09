#include "root/kv_init.h"

#include <clocale>
#include <csignal>
#include <cstdlib>

#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include "foundation/kv_ossl.h"
#include "foundation/kv_time.h"
#include "http/kv_xml.h"

namespace {

// Whether kv_init started the XML library, so that kv_cleanup ends only
// what was started.
bool xml_started = false;

} // namespace

bool kv_init(const char* locale)
{
    KV_Time t;
    t.now();
    std::srand(static_cast<unsigned int>(t.impl()));

    bool ok = OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                               nullptr) == 1;
    ok = kv_ossl_providers() && ok;
    if (!xml_started)
        xml_started = KV_XmlHelperImpl::init();
    ok = xml_started && ok;

    // A peer that closes its end must not kill the process on the next write.
    std::signal(SIGPIPE, SIG_IGN);

    std::setlocale(LC_ALL, locale != nullptr ? locale : "");
    std::setlocale(LC_NUMERIC, "C");
    return ok;
}

void kv_cleanup()
{
    if (xml_started)
        KV_XmlHelperImpl::term();
    xml_started = false;
}
