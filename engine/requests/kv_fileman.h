// The file manager base: the engine object that serves one live instance of
// one data source (the local disk, an FTP, HTTP/WebDAV or SFTP server).
//
// A file manager is a worker-pool request manager (KV_FileManTavo) that adds
// what every kind of data source shares:
// - its identity (KV_FileManId);
// - a privately owned clone of the connection parameters (KV_FileManParams)
//   with a version counter: workers compare their own copy's version before
//   every request (prestart_req) and take the new options when it differs;
// - the request-info table that mirrors its requests to the program;
// - the password and server-trust questions, asked once per manager;
// - the synchronous folder operations with which a transfer request lists,
//   tests and creates folders on this data source;
// - capability queries whose defaults the protocol kinds override.
// The engine root creates, initialises, starts and deletes managers.
//
// Threads and locks
// - Any thread may call the public operations, except where noted.
// - `id_lock` guards `id_`; `params_lock_` guards `params_` and
//   `params_ver_` and is held while the manager's own notices are built.
//   Order: `params_lock_` before `id_lock`; neither is held while a request
//   is added or a message is sent.
// - `ask_lock` serialises the questions of pass() and sec_forced(text, ...)
//   (both forms) and guards `pass_`. It is held while the question is open, so that
//   concurrent askers put one question and then find the answer. It is a
//   lock of its own, taken by worker threads only: a user-interface thread
//   that takes any of the request manager's locks never waits for an open
//   question. The trust flag is atomic and the accepted identities have a
//   lock of their own, so sec_forced(), set_sec_forced(), sec_accepted()
//   and set_sec_accepted() never wait for a question either.
// - The counted-request bookkeeping (req_status_changed, req_list_updated) is
//   called by the request manager inside its own locking.
// - The folder operations block their calling thread (a transfer worker)
//   until this manager's worker has run the request; never call them from
//   this manager's own request thread or workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparams.h"
#include "datasources/kv_manopts.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_path.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "requests/kv_filereqinfoman.h"
#include "requests/kv_tavo.h"

class KV_SSLCtx;
class KV_FileData;
class KV_FileListStore;
class KV_FileReqObs;
class KV_FileReqTrans;
class KV_Msg;
class KV_DsTree;
class KV_DsTreeNode;

// Whether a transfer must create a destination folder itself.
enum KV_DIR_CRT : uint32_t {
    KV_DIR_CRT_CREATE = 0, // the caller creates the folder
    KV_DIR_CRT_NONE = 1,   // no creation is needed
    KV_DIR_CRT_NEVER = 2,  // folders cannot be created on this data source
};

// A password question on its way to the program: the asking manager, the
// user name shown, and the password the program fills in before it answers
// KV_ANS_YES. Passed as the question's data (KV_Informer::params) with the
// question kind KV_ASK_LOGIN.
class KV_PassAsk
{
public:
    KV_PassAsk() = default;
    KV_PassAsk(const KV_PassAsk& other) = default;
    KV_PassAsk& operator=(const KV_PassAsk& other) = default;
    ~KV_PassAsk() = default;

    KV_FileManId id;
    KV_String user;
    KV_String pass;
};

class KV_FileMan : public KV_FileManTavo
{
public:
    // No parameters (init gives them), no TLS context, trust not given,
    // password not known.
    explicit KV_FileMan(const KV_FileManId& id);
    // Terminates the manager thread (workers included), releases the
    // parameters, then tells the engine root that the manager is gone (when
    // there is a root and the id names a data source).
    ~KV_FileMan() override;
    KV_FileMan(const KV_FileMan&) = delete;
    KV_FileMan& operator=(const KV_FileMan&) = delete;

    // Identity, so that managers sort by address in pointer lists.
    bool operator==(const KV_FileMan* other) const { return this == other; }
    bool operator<(const KV_FileMan* other) const { return this < other; }

    // --- Parameters and identity -------------------------------------------

    // Replaces the parameters by a clone of `params` (null only releases
    // them) and, when `ds` is given and valid, the data-source part of the
    // id (the instance number stays). The clone's path syntax gets the
    // data-source name as its prefix and the version goes up by one; every
    // worker whose thread runs is sent a "Use new settings" request so that
    // it takes the new options at once. When the current-folder request has
    // run, the program is told that the worker set changed. False when the
    // clone cannot be made (the old parameters are gone then) or a request
    // cannot be queued.
    bool set_params(const KV_FileManParams* params, const KV_DsId* ds);
    // A clone of the current parameters owned by the caller (destr_clone);
    // null when there are none or memory cannot be had.
    KV_FileManParams* clone_params() const;
    KV_FileManId id() const;
    // The parameters' default path; empty when there are none.
    KV_String def_path() const;
    KV_FileReqInfoMan& man_req_info() { return req_info; }
    // The engine's TLS context, not owned and never changed here; set by the
    // engine root before the manager starts, read by the protocol kinds.
    void set_ssl_ctx(KV_SSLCtx* ctx) { ssl_ctx_.store(ctx, std::memory_order_release); }
    KV_SSLCtx* ssl_ctx() const { return ssl_ctx_.load(std::memory_order_acquire); }

    // --- Questions (worker threads) ----------------------------------------

    // The password for `user`. The first caller asks the program (a
    // KV_ASK_LOGIN question with a KV_PassAsk) and blocks until it answers;
    // callers that come meanwhile wait and then share the answer. An answer
    // other than KV_ANS_YES gives the empty text, and the next call asks
    // again. The password lives as long as the manager.
    KV_String pass(const KV_String& user);
    // The user (or the program) accepted the server's identity. Never waits.
    void set_sec_forced() { sec_forced_.store(1, std::memory_order_release); }
    bool sec_forced() const { return sec_forced_.load(std::memory_order_acquire) != 0; }
    // Asks the trust question `text` of kind `ask` (default answer No) once:
    // while trust is neither given nor refused, the answer goes to `ans`;
    // Yes or Yes-to-all gives trust, anything else refuses it and makes the
    // manager dead (it takes no more requests). Later calls ask nothing and
    // leave `ans` alone. Result: whether trust is given.
    bool sec_forced(const KV_String& text, KV_ASK ask, KV_ANS& ans);
    // Trust tied to one server identity (`ident`: the digest of a server
    // certificate or host key), so that accepting one server does not let
    // a different one pass unchecked on a later connection. Never waits.
    bool sec_accepted(const KV_String& ident) const;
    // Records `ident` as accepted (it was found in a store of trusted
    // identities, or the user accepted it).
    void set_sec_accepted(const KV_String& ident);
    // Asks the trust question `text` about `ident` unless that identity was
    // accepted already (true, nothing asked) or the manager refused trust
    // before (false, nothing asked); `ans` receives the answer when one is
    // asked for. Yes or Yes-to-all records the identity; anything else
    // refuses trust as sec_forced(text, ask, ans) does. Another identity is
    // asked about again. Result: whether `ident` is accepted.
    bool sec_forced(const KV_String& text, KV_ASK ask, KV_ANS& ans, const KV_String& ident);

    // --- Notices ------------------------------------------------------------

    // Tells the program, through the manager's own informer, that the
    // data-source node changed (KV_MsgManNtf kind 2 with the name).
    void ds_changed();

    // --- Synchronous folder operations (transfer worker threads) -----------

    // Queues a listing of `dir` into `store` (emptied first) as a child of
    // `trans` that reports its end to `obs`. The store must stay until obs
    // is signalled. Result: whether the listing was queued.
    bool get_dir_list(KV_FileReq& trans, KV_FileReqObs& obs, const KV_PathDef& dir,
                      KV_FileListStore& store);
    // The same, waiting for the end; trans's executed flag is cleared unless
    // the listing was queued and completed.
    bool get_dir_list(KV_FileReq& trans, const KV_PathDef& dir, KV_FileListStore& store);
    // exists := true, then, for a path of two entries or more, whether its
    // last entry exists in its parent folder (see the virtual form).
    bool dir_exists(KV_FileReq& trans, const KV_PathDef& path, bool& exists);
    // Makes one folder through a request of this manager and waits; trans's
    // executed flag is cleared unless the folder was made. False only when
    // the request could not be made or queued.
    bool create_dir(KV_FileReq& trans, const KV_PathDef& path);
    // Makes the folder; when that fails and trans may retry, walks the path
    // from its first level down, making the levels that are missing. trans
    // is executed at the end exactly when the whole path was made. False
    // only when a request could not be made or queued.
    bool create_dir_chck(KV_FileReq& trans, const KV_PathDef& path);

    // --- Overrides of the request manager -----------------------------------

    // Tells the engine root that a holder let the manager go.
    void unlocked() override;
    // Keeps the pending listings for the browse tree within scan_cache():
    // see the source.
    void req_list_updated() override;
    // Counts the requests whose cnt_limit() is true.
    void req_status_changed(const KV_FileReq* r, bool queued) override;
    // A copy of the current parameters' options, as request-manager options;
    // without parameters, options with no workers and no restart wait.
    KV_FileReqManOpts opts() const override;
    // Tells the engine root that the manager was set up (kind 0, the name).
    void initialized() override;

    // --- Kind and capabilities ------------------------------------------------

    virtual KV_FILE_MAN_TYPE type() const = 0;
    // The transfer mode of a file; binary here.
    virtual KV_TRANS_MODE trans_mode(const KV_FileData& fd) const;
    // Whether a transfer must create a folder at `path` itself; it must here.
    virtual KV_DIR_CRT can_create_dir(const KV_PathDef& path) const;
    // The most counted requests kept pending; 0 (no limit) here.
    virtual uint32_t scan_cache() const;
    // The smallest fragment of a segmented download; 0 here (no segments),
    // and `nworkers` is left alone.
    virtual int64_t min_frag_size(uint32_t& nworkers) const;
    // Hands a message popped from the manager's informer to the worker-info
    // and request-info tables. User-interface thread.
    virtual bool process_ntf(KV_Msg* msg);
    // Called by init once the parameters are set; true here.
    virtual bool reset();
    // Sets the parameters (a clone of `params`), then reset(), then the
    // request manager's start-up. False for null and on the first failure.
    virtual bool init(KV_FileManParams* params);
    // Called before a transfer request works on this manager; true here.
    virtual bool pretrans(KV_FileReqTrans& trans);
    virtual bool can_resume_get() const;
    virtual bool can_resume_put() const;
    virtual bool can_move(const KV_PathDef& src, const KV_PathDef& dst, bool dir) const;
    virtual bool can_copy(const KV_PathDef& src, const KV_PathDef& dst, bool dir) const;
    virtual bool can_mkdir(const KV_PathDef& path) const;
    virtual bool can_rename(const KV_PathDef& path) const;
    // Whether data read from this manager is kept in the copy sub-log's
    // data file; true here.
    virtual bool log_incl_data(const KV_PathDef& src, const KV_PathDef& dst,
                               KV_FileMan* other) const;
    // Whether a recursive delete removes subfolders itself; true here.
    virtual bool del_subdirs() const;
    // Settles a file that a store step of a transfer wrote: with `keep`, it
    // takes its final name `dst` (a path below the transfer's destination
    // folder `root`); without, what the step left of it goes. Called by the
    // transfer worker once the checks after the copy have passed (or the
    // file failed them), on its own thread. True here: a data source of
    // this kind is written under the file's own name.
    virtual bool settle_store(const KV_PathDef& root, const KV_PathDef& dst, bool keep);
    // Opens, creating it when needed, the file under the temporary name that
    // a store step of a transfer writes `dst` to (see settle_store), so that
    // a download can put its bytes there at once. The caller owns the
    // descriptor. -1 here: a data source of this kind is not a folder of
    // this machine, and its downloads keep their bytes in the sub-log.
    virtual int open_part(const KV_PathDef& root, const KV_PathDef& dst);
    // A worker of this manager's kind with the current options, owned by the
    // caller and used by its thread alone; its thread is never started: it
    // runs copy steps through KV_Tavo::run_here, so that a transfer of many
    // small files does not hand every one to another thread and back. Null
    // here: the steps of a kind that holds a connection run on the
    // manager's own workers. Any thread.
    virtual std::unique_ptr<KV_Tavo> own_tavo();
    // Whether `name` exists in folder `dir`. `exists` goes in and out: when
    // the listing of `dir` fails, `dir` itself is tested in its parent, and
    // `exists` only turns false when an ancestor proves missing. False only
    // when a listing could not be queued.
    virtual bool dir_exists(KV_FileReq& trans, const KV_PathDef& dir, const KV_String& name,
                            bool& exists);

protected:
    // Guards params_ and params_ver_ (see the top of the file).
    mutable KV_Lock params_lock_;
    // The owned clone; null until the first set_params. Under params_lock_.
    KV_FileManParams* params_ = nullptr;
    // Goes up with every successful set_params, never down. Under
    // params_lock_.
    uint32_t params_ver_ = 0;

private:
    mutable KV_Lock id_lock;
    KV_FileManId id_;
    std::atomic<KV_SSLCtx*> ssl_ctx_{nullptr};
    KV_FileReqInfoMan req_info;
    // Counted requests queued or running.
    std::atomic<uint32_t> ncnt_req{0};
    // Serialises questions; guards pass_.
    KV_Lock ask_lock;
    KV_String pass_;
    std::atomic<uint8_t> sec_forced_{0};
    // Guards sec_idents (never held while a question is open).
    mutable KV_Lock sec_lock;
    // The identities accepted for this manager.
    KVTL::KV_ListVal<KV_String> sec_idents;
};
