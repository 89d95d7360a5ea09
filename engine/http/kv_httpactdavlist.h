// The listing side of PROPFIND: what a folder listing needs to know, and the
// reading of a WebDAV multistatus body into file-tree nodes.
//
// The body comes from the server and is not trusted:
// - element names are matched as whole words, whatever namespace prefix the
//   server uses ("D:href", "lp1:getcontentlength", "ns0:collection");
// - only entries exactly one level below the listed folder count: the
//   folder itself, other folders and deeper entries are skipped;
// - each path segment of an href is unescaped on its own, and an entry whose
//   name is empty, "." or "..", or holds "/" (an escaped "%2F") or NUL (an
//   escaped "%00") is dropped, so that no name can lead a download outside
//   its target folder;
// - where a property holds elements, the first element child counts, never
//   the white space that an indenting server puts before it.
//
// Threads: the parser keeps no state; any thread (with the XML helper
// started).
#pragma once

#include <cstdint>

#include "foundation/kv_path.h"

class KV_FileListStore;
class KV_Informer;
class KV_MsgTreeScan;

// What a PROPFIND lists and where the entries go. The caller keeps the
// objects pointed at alive while the listing runs.
struct KV_HttpActPropfindParams
{
    // The server's path syntax (separator, prefix of absolute paths, case).
    const KV_PathMan* pm = nullptr;
    // The store a transfer lists into; null for a listing of the browse tree.
    KV_FileListStore* store = nullptr;
    // Where the listing message goes when there is no store; may be null.
    KV_Informer* informer = nullptr;
    // The folder listed, absolute in `pm`'s syntax.
    KV_PathDef path;
};

// Reads the multistatus body of `len` bytes at `data` for the listing of
// `params.path`. Each entry one level below becomes a KV_FileTreeNode with
// the case rule `case_sens`: into params.store when there is one (only the
// names it wants), else into msg->nodes (msg must then be given). False when
// the body does not parse, an href path cannot be split or placed against the
// listed folder, or a node cannot be stored; nodes added before a failure
// stay where they went.
bool kv_dav_parse_list(const uint8_t* data, uint32_t len, const KV_HttpActPropfindParams& params,
                       bool case_sens, KV_MsgTreeScan* msg);

// The path part of an href, unescaped segment by segment: `out` gets the
// segments joined with '/' (a leading '/' kept, a trailing one kept). False
// when a segment unescapes to a text holding '/' or NUL, or the href has a
// scheme but no path.
bool kv_dav_href_path(const KV_String& href, KV_String& out);
