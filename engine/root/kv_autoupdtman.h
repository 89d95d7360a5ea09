// The check for a newer version of the program.
//
// init() downloads the update descriptor through a hidden HTTPS data source
// of the data-source tree into a temporary file; when the copy ends, the
// transfer manager reports the file operation "update check" with the local
// path, and the program hands that file to process_check(). The program
// decides when to check and what to do with a newer version.
//
// The descriptor ("/update/kivrel.updt") is text: line 1 the version, four
// decimal numbers from 0 to 65535 joined by "."; line 2 the setup reference;
// the rest, byte for byte, the description of the new version.
//
// The server is reached only over HTTPS with the certificate check of the
// engine's TLS context. Its address is the one the settings give
// (set_server), else the one the build was configured with (the CMake cache
// variable KV_UPDATE_SERVER, empty by default); with neither there is no
// check at all.
//
// Threads: user-interface thread.
#pragma once

#include <cstdint>

#include "foundation/kv_ids.h"
#include "foundation/kv_string.h"

class KV_FileManPool;

class KV_AutoUpdtMan
{
public:
    // The name of the hidden data source and the descriptor's path on it.
    static const char node_name[];
    static const char doc_path[];

    KV_AutoUpdtMan() = default;
    // A check whose download was started through the manager `id` before:
    // the program's own copy, or a download that came back with the saved
    // requests after a restart.
    explicit KV_AutoUpdtMan(const KV_FileManId& id) : man_id_(id) {}
    KV_AutoUpdtMan(const KV_AutoUpdtMan&) = default;
    KV_AutoUpdtMan& operator=(const KV_AutoUpdtMan&) = default;

    // The server from the program's settings: a host name or address with an
    // optional ":port", optionally after "https://". Empty falls back to the
    // build's address.
    static void set_server(const KV_String& server);
    // The server that init() uses: the settings', else the build's; empty
    // when neither is set.
    static KV_String server();

    // Finds or creates the hidden data source (HTTPS to server()), lists the
    // descriptor in it and queues its download, unless an update download is
    // already among the transfer requests. Without a server, or with one
    // that names another scheme than HTTPS, nothing is queued and the reason
    // goes to the pool's error handler. The result: whether a download is
    // queued or under way.
    bool init(KV_FileManPool& pool);
    // Reads the downloaded descriptor at `path` and deletes it. A version
    // above `cur_ver` goes to `new_ver` (the caller passes 0) with the setup
    // reference and the text; a descriptor without text gives `new_ver` 0. A
    // first line that is not four decimal numbers up to 65535 fails. True
    // when every step worked and the file is gone.
    bool process_check(const KV_String& path, uint64_t cur_ver, KV_String& setup, KV_String& text,
                       uint64_t& new_ver);

    // The manager through which the download was started; empty before.
    const KV_FileManId& man_id() const { return man_id_; }

    // The version value of "a.b.c.d": a << 48 | b << 32 | c << 16 | d. False
    // unless the text is exactly four numbers of 1 to 5 decimal digits, each
    // at most 65535.
    static bool parse_version(const KV_String& text, uint64_t& ver);

private:
    KV_FileManId man_id_;
};
