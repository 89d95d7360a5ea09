// The rename and delete transfer requests: a set of names of one file
// manager, moved or renamed from one base folder to another, or deleted
// under one base folder. Their logs are kv_translogtransren.h; the transfer
// worker's rename and delete walkers do the work.
//
// Each binds exactly one file manager and holds a counted hold on it
// (KV_FileReqMan::lock(true)) while it is bound; the destructor releases
// it. The bound manager is fileman(): KV_FileReq::man() remains the request
// manager that owns the request.
//
// Threads: as every transfer request. The manager pointer is bound before
// the request is queued and cleared in the destructor under the request's
// lock; the log locks itself.
#pragma once

#include <cstdint>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_translogtransren.h"

class KV_FileMan;
class KV_PathMan;

// What the rename and delete requests share: the one manager, the names,
// the duplicate test and the description.
class KV_FileReqTransNames : public KV_FileReqTrans
{
public:
    // Settles the request (while the kind's log still exists, so the kinds
    // call it first), then releases the hold on the manager.
    ~KV_FileReqTransNames() override;
    KV_FileReqTransNames(const KV_FileReqTransNames&) = delete;
    KV_FileReqTransNames& operator=(const KV_FileReqTransNames&) = delete;

    // Binds the manager, taking a counted hold on it when it is not null.
    // Once, before the request is queued or shared.
    void init(KV_FileMan* man);
    KV_FileMan* fileman() const { return man_; }

    // Tells the transfer manager to check whether the manager is still used.
    bool req_processed() override;
    // The same kind, the same base folder(s) and names (under the manager's
    // case rule) on the same data source.
    bool operator==(const KV_FileReq& other) const override;
    using KV_FileReq::operator==;
    // "Rename" or "Delete", and the description.
    const char* get_descr(KV_String& descr, bool detailed) const override;
    bool involved(const KV_FileManId& id) const override;
    // A browse notice for the manager.
    void req_browse() override;

protected:
    // `log` is the kind's log (built after this base).
    explicit KV_FileReqTransNames(KV_TransLogTransNames& log);

    // The kind's operation name.
    virtual const char* op_name() const = 0;
    // The kind's base folders are equal to other's (same kind) under
    // `case_sens`.
    virtual bool same_paths(const KV_FileReqTransNames& other, bool case_sens) const = 0;
    // The detailed header of the description: the folder texts, built with
    // `pm`; false when a path cannot be built.
    virtual bool descr_paths(KV_String& out, const KV_PathMan& pm) const = 0;

private:
    KV_TransLogTransNames& names_log;
    KV_FileMan* man_ = nullptr;
};

// The rename (move within one data source) request.
class KV_FileReqTransRen : public KV_FileReqTransNames
{
public:
    // A new request on `man` (may be null: the log then holds an empty id).
    KV_FileReqTransRen(KV_FileMan* man, const KV_PathDef& path_src, const KV_PathDef& path_dst,
                       const KVTL::KV_ListVal<KV_String>& names,
                       const KV_FileReqTransParamsRen& params);
    // A saved request: the log on the file `path`, to be restored and bound
    // by the caller.
    explicit KV_FileReqTransRen(const KV_String& path);
    ~KV_FileReqTransRen() override;

    KV_TransLogTransRen& log() const { return log_; }
    KV_TransLogTrans& log_trans() const override { return log_; }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_REN; }
    bool run_on(KV_Tavo& t) override;

protected:
    const char* op_name() const override;
    bool same_paths(const KV_FileReqTransNames& other, bool case_sens) const override;
    bool descr_paths(KV_String& out, const KV_PathMan& pm) const override;

private:
    mutable KV_TransLogTransRen log_;
};

// The delete request.
class KV_FileReqTransRm : public KV_FileReqTransNames
{
public:
    KV_FileReqTransRm(KV_FileMan* man, const KV_PathDef& path,
                      const KVTL::KV_ListVal<KV_String>& names,
                      const KV_FileReqTransParamsRm& params);
    explicit KV_FileReqTransRm(const KV_String& path);
    ~KV_FileReqTransRm() override;

    KV_TransLogTransRm& log() const { return log_; }
    KV_TransLogTrans& log_trans() const override { return log_; }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_RM; }
    bool run_on(KV_Tavo& t) override;

protected:
    const char* op_name() const override;
    bool same_paths(const KV_FileReqTransNames& other, bool case_sens) const override;
    bool descr_paths(KV_String& out, const KV_PathMan& pm) const override;

private:
    mutable KV_TransLogTransRm log_;
};
