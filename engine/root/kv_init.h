// Start-up and clean-up of the engine library as a whole.
//
// The program calls kv_init once, before it creates the engine root, and
// kv_cleanup once, after it has deleted it. Both on the program's main
// thread, while no engine thread runs.
#pragma once

// Seeds the C library's random generator, starts OpenSSL (with the legacy
// provider beside the default one, for the older ciphers of FTP over TLS and
// SSH) and the XML library of the WebDAV client, makes a broken connection
// an error result rather than a SIGPIPE, and sets the C library's locale to
// `locale` for every category but LC_NUMERIC, which stays "C" so that numbers
// in files and protocols keep their dot. A null or empty `locale` takes the
// environment's. False when OpenSSL or the XML library does not start.
bool kv_init(const char* locale);
// Ends the XML library. OpenSSL frees its global state by itself at exit.
void kv_cleanup();
