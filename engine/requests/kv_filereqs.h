// The simple requests: the single operations that a file manager queues on
// itself and that its workers carry out. Make a folder, rename, change
// permissions, query the current folder, delete, list a folder, copy one file
// (a step of a transfer), manage a worker's connection, and one half of a
// server-to-server transfer.
//
// Each kind adds its operands to KV_FileReq and decides its type, priority,
// description and duplicate rule; the hooks tell the file manager's browse
// tree about the result through the manager's informer. The requests do not
// touch files: the workers read the operands through the accessors.
//
// Duplicates. A new request that equals a pending one (operator==, asked by
// the manager for kinds with dupl_check) either replaces the pending one
// (while that is Queued) or is dropped (once it runs). Dropping is only safe
// when the two would do exactly the same work, so every rule here asks for
// every operand to be equal: paths under the manager's case sensitivity
// (case-sensitively while a request has no manager), texts exactly, flags
// exactly.
//
// Threads: the operands are set at construction and read by the manager
// thread and the one worker that runs the request; the fields the hooks
// change (the listing store, the copy's fragment and sub-log) are changed
// only inside the request's status lock, once, when it ends.
#pragma once

#include <cstdint>

#include "datasources/kv_reqdefs.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "requests/kv_filereq.h"

class KV_FileListStore;
class KV_FileMan;

// Command of a connection-management request (KV_FileReqUMan).
enum KV_MANAGE_CMD : uint32_t {
    KV_MANAGE_CMD_NEW_SETTINGS = 0, // the worker takes the manager's new parameters
    KV_MANAGE_CMD_KEEP_ALIVE = 1,
    KV_MANAGE_CMD_CONNECT = 2,
    KV_MANAGE_CMD_DISCONNECT = 3,
    KV_MANAGE_CMD_USER = 4,         // a command text of the user's (`param`)
    KV_MANAGE_CMD_SERVER_CHECK = 5, // what the server supports (such as resumption)
};

// Direction of one elementary copy (KV_FileReqCopy) on the worker that runs
// it.
enum KV_FILE_TRANS_TYPE : uint32_t {
    // This side is the source: the file (or a fragment of it) goes into the
    // copy's sub-log data, or a server-to-server transfer is set up.
    KV_FILE_TRANS_TYPE_FETCH = 0,
    // This side is the destination: the sub-log data (or the
    // server-to-server upload) goes into the destination file.
    KV_FILE_TRANS_TYPE_STORE = 1,
};

// Makes a folder.
class KV_FileReqMkDir : public KV_FileReq
{
public:
    KV_FileReqMkDir(KV_ErrHandler& eh, const KV_PathDef& path);
    KV_FileReqMkDir(const KV_FileReqMkDir& other) = default;
    ~KV_FileReqMkDir() override;

    bool operator==(const KV_FileReq& other) const override;
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_MKDIR; }
    bool run_on(KV_Tavo& t) override;
    // Completed: the tree learns of the new folder.
    bool req_processed() override;

    const KV_PathDef& path() const { return path_; }

private:
    KV_PathDef path_;
};

// Renames (moves within one file manager) a file or folder.
class KV_FileReqRen : public KV_FileReq
{
public:
    // `dir`: the entry is a folder. `dst_exists`: the destination exists and
    // is to be replaced.
    KV_FileReqRen(KV_ErrHandler& eh, const KV_PathDef& path_src, const KV_PathDef& path_dst,
                  bool dir, bool dst_exists);
    KV_FileReqRen(const KV_FileReqRen& other) = default;
    ~KV_FileReqRen() override;

    bool operator==(const KV_FileReq& other) const override;
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_REN; }
    bool run_on(KV_Tavo& t) override;
    // Completed: the tree drops the source and learns of the destination.
    bool req_processed() override;

    const KV_PathDef& path_src() const { return path_src_; }
    const KV_PathDef& path_dst() const { return path_dst_; }
    bool dst_exists() const { return dst_exists_ != 0; }
    bool dir() const { return dir_ != 0; }

private:
    KV_PathDef path_src_;
    KV_PathDef path_dst_;
    uint8_t dst_exists_;
    uint8_t dir_;
};

// Changes the permissions of a file or folder.
class KV_FileReqChmod : public KV_FileReq
{
public:
    // `accf`: the access text the worker applies; `accf_upd`: the text the
    // tree shows once the change is done.
    KV_FileReqChmod(KV_ErrHandler& eh, const KV_PathDef& path, const KV_String& accf,
                    const KV_String& accf_upd);
    KV_FileReqChmod(const KV_FileReqChmod& other) = default;
    ~KV_FileReqChmod() override;

    bool operator==(const KV_FileReq& other) const override;
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_CHMOD; }
    bool run_on(KV_Tavo& t) override;
    // Before the listings of the same priority (see KV_FileReqScan).
    KV_REQ_PRIO priority() const override { return 2; }
    // Completed: the tree shows the new permissions.
    bool req_processed() override;

    const KV_PathDef& path() const { return path_; }
    const KV_String& accf() const { return accf_; }
    const KV_String& accf_upd() const { return accf_upd_; }

private:
    KV_PathDef path_;
    KV_String accf_;
    KV_String accf_upd_;
};

// Asks for the current folder (going to `def_path` first when it is set).
class KV_FileReqPwd : public KV_FileReq
{
public:
    // `man` is the file manager the request is queued on.
    KV_FileReqPwd(KV_ErrHandler& eh, KV_FileMan& man, const KV_String& def_path);
    KV_FileReqPwd(const KV_FileReqPwd& other) = default;
    ~KV_FileReqPwd() override;

    bool operator==(const KV_FileReq& other) const override;
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_PWD; }
    bool run_on(KV_Tavo& t) override;
    KV_REQ_PRIO priority() const override { return 3; }
    // The manager records that a current-folder query is under way ...
    bool req_started() override;
    // ... and whether it succeeded.
    bool req_processed() override;

    const KV_String& def_path() const { return def_path_; }
    // The file manager the query is for. (KV_FileReq::man() is the same
    // manager seen as a request manager.)
    KV_FileMan& man() const { return man_; }

private:
    KV_String def_path_;
    KV_FileMan& man_;
};

// Deletes a file or folder.
class KV_FileReqRm : public KV_FileReq
{
public:
    KV_FileReqRm(KV_ErrHandler& eh, const KV_PathDefDir& path);
    KV_FileReqRm(const KV_FileReqRm& other) = default;
    ~KV_FileReqRm() override;

    bool operator==(const KV_FileReq& other) const override;
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_RM; }
    bool run_on(KV_Tavo& t) override;
    // Deletes are never merged: a transfer deletes what it listed, and the
    // second of two deletes of one path reports its own result.
    bool dupl_check() const override { return false; }
    // Completed: the tree drops the entry.
    bool req_processed() override;

    const KV_PathDefDir& path() const { return path_; }

private:
    KV_PathDefDir path_;
};

// Lists a folder: into the caller's store (a transfer that walks folders),
// or, without a store, into the browse tree.
class KV_FileReqScan : public KV_FileReq
{
public:
    // `store` is not owned; it must stay until the request has ended, and the
    // caller reads it then. `incl_sub`: with subfolders; `usr_scan`: the user
    // asked for it (the tree's receivers hear of its success).
    KV_FileReqScan(KV_ErrHandler& eh, const KV_PathDef& path, KV_FileListStore* store,
                   bool incl_sub, bool usr_scan);
    KV_FileReqScan(const KV_FileReqScan& other) = default;
    ~KV_FileReqScan() override;

    bool operator==(const KV_FileReq& other) const override;
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_SCAN; }
    bool run_on(KV_Tavo& t) override;
    KV_REQ_PRIO priority() const override { return 2; }
    // Among the requests of priority 2 the permission changes (whose cmp_id
    // is their small id) go first and the listings newest first: the folder
    // the user looks at now matters more than the ones he passed.
    uint32_t cmp_id() const override { return ~id(); }
    // Only listings for the tree are merged and counted; a transfer's
    // listing into its store is neither.
    bool dupl_check() const override { return cnt_limit_ != 0; }
    bool cnt_limit() const override { return cnt_limit_ != 0; }
    // Without a store: the tree shows the folder as being listed.
    bool pre_add() override;
    // With a store: lets go of it. Without: the tree learns the outcome.
    bool req_processed() override;

    // Null once the request has ended.
    KV_FileListStore* store() const { return store_; }
    bool incl_sub() const { return incl_sub_ != 0; }
    bool usr_scan() const { return usr_scan_ != 0; }
    const KV_PathDef& path() const { return path_; }

private:
    KV_FileListStore* store_;
    uint8_t incl_sub_;
    uint8_t usr_scan_;
    uint8_t cnt_limit_;
    KV_PathDef path_;
};

// A command for one worker's connection (or any worker with id 0).
class KV_FileReqUMan : public KV_FileReq
{
public:
    KV_FileReqUMan(KV_ErrHandler& eh, uint32_t tavo_id, KV_MANAGE_CMD cmd, const KV_String& param);
    KV_FileReqUMan(const KV_FileReqUMan& other) = default;
    ~KV_FileReqUMan() override;

    bool operator==(const KV_FileReq& other) const override;
    // The command's text; `descr` is left as it is.
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_UMAN; }
    bool run_on(KV_Tavo& t) override;
    // New settings go before everything; the other commands after all but
    // the copy steps.
    KV_REQ_PRIO priority() const override { return cmd_ == KV_MANAGE_CMD_NEW_SETTINGS ? 3 : 0; }
    uint32_t spec_tavo() const override { return tavo_id_; }
    // Counts the failure; only a connect and a server check are tried again.
    bool can_retry() override;

    uint32_t tavo_id() const { return tavo_id_; }
    KV_MANAGE_CMD cmd() const { return cmd_; }
    const KV_String& param() const { return param_; }

private:
    uint32_t tavo_id_;
    KV_MANAGE_CMD cmd_;
    KV_String param_;
};

// The source half of a server-to-server transfer, run by the source worker
// that the transfer reserved: sends `path` from offset `from`; with an empty
// path it ends the reservation.
class KV_FileReqDTrans : public KV_FileReq
{
public:
    KV_FileReqDTrans(KV_ErrHandler& eh, uint32_t tavo_id, const KV_String& path, int64_t from);
    KV_FileReqDTrans(const KV_FileReqDTrans& other) = default;
    ~KV_FileReqDTrans() override;

    bool operator==(const KV_FileReq& other) const override;
    const char* get_descr(KV_String& descr, bool full) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_DTRANS; }
    bool run_on(KV_Tavo& t) override;
    uint32_t spec_tavo() const override { return tavo_id_; }
    // The destination half decides about another attempt.
    bool can_retry() override { return false; }

    uint32_t tavo_id() const { return tavo_id_; }
    const KV_String& path() const { return path_; }
    int64_t from() const { return from_; }

private:
    uint32_t tavo_id_;
    KV_String path_;
    int64_t from_;
};
