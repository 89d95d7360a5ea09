// The local disk as a data source: its connection parameters
// (KV_FileManParamsStd), its file manager with the browse tree
// (KV_FileManStd) and its worker (KV_TavoStd), which carries out the simple
// requests on the local file system: make a folder, rename, set the
// read-only attribute, report the current folder, delete (to the trash when
// the options say so), list a folder or the roots, and copy one file with
// progress and stop.
//
// Local paths are POSIX paths: every path of this manager starts with the
// data-source name (the path syntax's prefix), then the one root "/" that
// stands where drives would be, then the folders. The read-only attribute is
// the write permission; the other attribute letters have no local meaning.
//
// Threads: the manager runs on its own thread plus KV_FileManTavo's workers;
// see kv_fileman.h. Each worker touches only its request and its own copy of
// the options, which the manager thread hands it under the parameters lock
// before it assigns a request (prestart_req). The browse tree lives on the
// user-interface thread (process_ntf).
#pragma once

#include <cstdint>
#include <memory>

#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparamsstd.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filetree.h"
#include "requests/kv_tavo.h"

class KV_FileReq;
class KV_FileReqMkDir;
class KV_FileReqRen;
class KV_FileReqChmod;
class KV_FileReqPwd;
class KV_FileReqRm;
class KV_FileReqScan;
class KV_FileReqCopy;
class KV_FileReqUMan;
class KV_Msg;

// The worker of the local disk. Runs the requests assigned by its manager on
// its own thread; no connection to keep.
class KV_TavoStd : public KV_Tavo
{
public:
    // `informer` is the manager's; it must outlive the worker.
    explicit KV_TavoStd(KV_Informer& informer);
    // Waits for the worker's thread (the owner has stopped it), then the
    // options go.
    ~KV_TavoStd() override;

    // Replaces the worker's options. Manager thread, while the worker holds
    // no request (prestart_req).
    void set_opts(const KV_FileManStdOpts& opts) { opts_ = opts; }
    const KV_FileManStdOpts& opts() const { return opts_; }

    uint32_t kind() const override { return 0; }

private:
    // The reason of a failure starts afresh with each request: no earlier
    // errno or failure text may pass for it.
    bool req_begin(KV_FileReq& r) override;
    // The failure text (fail) or else the system's error text, read right
    // after the failure. The local calls leave their reason in errno, not in
    // the request's error handler: a text there is raised on it (level 1).
    KV_String end_err(KV_FileReq& r) override;
    // None: the local worker shows no step of its work, so it has none to
    // close; it shows "Ready" from its start.
    void end_notice(const KV_FileReq& r, const KV_String& err) override;

    // The local text of `path` in the worker's path syntax; false when it
    // cannot be built or is empty.
    bool local_path(const KV_PathDef& path, KV_String& text) const;
    // A failure whose reason errno cannot tell: the text goes to the request
    // instead of the system's error text.
    void fail(const char* text);

    bool do_mkdir(KV_FileReqMkDir& r) override;
    bool do_ren(KV_FileReqRen& r) override;
    bool do_chmod(KV_FileReqChmod& r) override;
    bool do_pwd(KV_FileReqPwd& r) override;
    bool do_rm(KV_FileReqRm& r) override;
    bool do_scan(KV_FileReqScan& r) override;
    bool do_copy(KV_FileReqCopy& r) override;
    // New settings arrive through prestart_req and there is no connection
    // to manage: true.
    bool do_uman(KV_FileReqUMan& r) override;

    KV_FileManStdOpts opts_;
    // Set by fail() for the request being processed.
    KV_String fail_text;
};

class KV_FileManStd : public KV_FileMan
{
public:
    // Builds the browse tree with a listable root whose first level are
    // drives.
    explicit KV_FileManStd(const KV_FileManId& id);
    // Terminates the manager thread before the tree goes.
    ~KV_FileManStd() override;

    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_STD; }
    // A new KV_TavoStd with the manager's informer; null without memory.
    KV_Tavo* create_tavo() override;
    // Hands `t` the current options when its version is older. Manager
    // thread.
    void prestart_req(KV_Tavo* t) override;
    // The options' scan cache; 0 without local-disk parameters.
    uint32_t scan_cache() const override;
    // The worker-info and request-info tables, then the browse tree.
    // User-interface thread.
    bool process_ntf(KV_Msg* msg) override;
    // Local-disk parameters only; the tree takes the case sensitivity of the
    // path syntax.
    bool init(KV_FileManParams* params) override;
    // Refused when the paths' roots differ or, for paths that exist, when
    // the source and the destination's nearest existing folder lie on two
    // file systems: the file system is what a drive was, and a rename cannot
    // cross it. A refused move becomes a copy and a delete.
    bool can_move(const KV_PathDef& src, const KV_PathDef& dst, bool dir) const override;
    // False: local data is read where it lies.
    bool log_incl_data(const KV_PathDef& src, const KV_PathDef& dst,
                       KV_FileMan* other) const override;
    // A file that a store step left under its temporary name beside `dst`
    // takes the name `dst` (replacing whatever is there, a link included,
    // never its target) or, without `keep`, goes. Every folder below `root`
    // on the way to it is reached without following a link. Any thread: a
    // rename or removal in one folder.
    bool settle_store(const KV_PathDef& root, const KV_PathDef& dst, bool keep) override;
    // The temporary name beside `dst`, reached as settle_store reaches it;
    // never a link, never anything but a regular file.
    int open_part(const KV_PathDef& root, const KV_PathDef& dst) override;
    // A local worker with the current options: the local disk holds no
    // connection, so a transfer may run its copy steps itself.
    std::unique_ptr<KV_Tavo> own_tavo() override;
    // False when deletes go to the trash (a folder goes there whole), else
    // true.
    bool del_subdirs() const override;

    // The browse tree. User-interface thread.
    KV_FileTree& tree() { return tree_; }

private:
    KV_FileTree tree_;
};
