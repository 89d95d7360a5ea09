// The file manager of an HTTP data source: a web server browsed and changed
// like a file system. Part of the server's name space is WebDAV (listed with
// PROPFIND, folders made with MKCOL, resources moved and copied on the
// server); the rest is plain HTTP, where only the documents the user named
// can be seen. The data source's document list tells which is which
// (dir_dav).
//
// The manager creates KV_TavoHttp workers, hands each the current
// parameters before it starts a request (prestart_req), answers what the
// data source allows and owns its browse tree.
//
// Threads: as every file manager (kv_fileman.h). Every reader of the
// parameters takes params_lock_ for the whole read; prestart_req copies all a
// worker needs under it, so a worker never reads the manager's parameters.
// The browse tree lives on the user-interface thread (process_ntf).
#pragma once

#include <cstdint>

#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filetree.h"

class KV_Msg;

class KV_FileManHttp : public KV_FileMan
{
public:
    explicit KV_FileManHttp(const KV_FileManId& id);
    // Terminates the manager thread (and its workers) before the tree goes.
    ~KV_FileManHttp() override;

    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_HTTP; }
    // A KV_TavoHttp with the manager's informer whose connection knows this
    // manager, the TLS context and the worker's informer; null without
    // memory. Manager thread.
    KV_Tavo* create_tavo() override;
    // Hands `t` addresses, login, security, options and documents when its
    // parameter version differs from the manager's. Manager thread.
    void prestart_req(KV_Tavo* t) override;
    // CREATE in a WebDAV folder (MKCOL); else NONE when the server makes
    // missing folders itself (auto_mkdir); else NEVER. NEVER without HTTP
    // parameters.
    KV_DIR_CRT can_create_dir(const KV_PathDef& path) const override;
    // The options' value; 0 without HTTP parameters.
    uint32_t scan_cache() const override;
    // nworkers := the number of workers; the options' smallest fragment in
    // bytes (0 without HTTP parameters).
    int64_t min_frag_size(uint32_t& nworkers) const override;
    // The worker and request tables, then the browse tree.
    bool process_ntf(KV_Msg* msg) override;
    // HTTP parameters only; the tree takes the path syntax's case rule.
    bool init(KV_FileManParams* params) override;
    // The protocol options' resume settings; false without HTTP parameters.
    bool can_resume_get() const override;
    bool can_resume_put() const override;
    // Both ends WebDAV.
    bool can_move(const KV_PathDef& src, const KV_PathDef& dst, bool dir) const override;
    // False only when `dir` is set and no folder can be made at dst.
    bool can_copy(const KV_PathDef& src, const KV_PathDef& dst, bool dir) const override;
    // A WebDAV folder.
    bool can_mkdir(const KV_PathDef& path) const override;
    bool can_rename(const KV_PathDef& path) const override;
    // False exactly for a copy between two WebDAV folders of this same data
    // source: the server copies it (COPY) and no data passes the client.
    bool log_incl_data(const KV_PathDef& src, const KV_PathDef& dst,
                       KV_FileMan* other) const override;
    // In a plain-HTTP folder nothing can be listed: a folder there counts
    // as existing. Elsewhere the base's listing answers.
    bool dir_exists(KV_FileReq& trans, const KV_PathDef& dir, const KV_String& name,
                    bool& exists) override;

    // The browse tree. User-interface thread.
    KV_FileTree& tree() { return tree_; }

    // Whether `path` lies in the WebDAV part of a server whose documents are
    // `docs` in the syntax `pm`: every path when there are no documents;
    // else a folder document declares its subtree WebDAV and a file document
    // declares its folder and everything below plain HTTP, the file
    // document winning where both apply.
    static bool dir_dav(const KV_PathDef& path, const KV_PathMan& pm,
                        const KVTL::KV_ListVal<KV_String>& docs);

protected:
    // dir_dav with the current options and documents; false without HTTP
    // parameters.
    bool dir_dav(const KV_PathDef& path) const;

private:
    KV_FileTree tree_;
};
