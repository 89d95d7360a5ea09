// OpenSSL 3's providers as the engine needs them.
//
// The engine's older ciphers (Blowfish, CAST-128, RC4, single DES) live in
// the legacy provider. Loading any provider by hand stops OpenSSL from
// loading the default one implicitly, so both are loaded together, once per
// process; a later load by the program's start-up only takes another
// reference.
//
// Threads: any thread; the first call does the loading.
#pragma once

// Loads the legacy and default providers on the first call. True when the
// legacy provider is there (the default one always is).
bool kv_ossl_providers();
