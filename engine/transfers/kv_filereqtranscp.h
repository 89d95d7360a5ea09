// The copy (and move) transfer request, which also carries the single-file
// operations the user interface starts on a remote file (open, view, edit,
// print, application update: KV_FILEOP).
//
// Its log is a copy request log (kv_translogtranscp.h) holding the file
// operation, the two file-manager ids, the two base folders, the two name
// lists, the phase and the per-file records. The transfer worker does the
// work and calls back into the request for the managers (which swap while
// an edited file goes back, in phase 2), the progress, the pauses between
// the passes of a mirror, the deletions at the destination and the error
// skipping. The engine root builds new requests from a user command; the
// transfer manager rebuilds saved ones from their log files.
//
// While a file manager is bound, the request holds a counted hold on it
// (KV_FileReqMan::lock(true)), so that the engine root does not close it;
// the destructor releases the holds.
//
// Threads: the request is used by the transfer manager's thread, its worker
// and, through tasks, the user interface. The manager pointers are bound
// before the request is queued and cleared in the destructor under the
// request's lock. The poll event is set by the thread that stops the
// request and waited on by the worker. The log locks itself.
#pragma once

#include <cstdint>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_event.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_translogtranscp.h"

class KV_FileMan;
class KV_TransLogCp;

class KV_FileReqTransCp : public KV_FileReqTrans
{
public:
    // A new request: its log (with no file name yet) holds these data, the
    // managers are bound and their ids stored in the log (an empty id for a
    // missing one). The log file is made when the request is taken up.
    KV_FileReqTransCp(KV_FileMan* src, KV_FileMan* dst, const KV_PathDef& path_src,
                      const KV_PathDef& path_dst, const KVTL::KV_ListVal<KV_String>& names_src,
                      const KVTL::KV_ListVal<KV_String>& names_dst,
                      const KV_FileReqTransParamsCp& params);
    // A saved request: the log on the file `path`, to be restored
    // (KV_TransLogTrans::restore) and bound (init) by the caller.
    explicit KV_FileReqTransCp(const KV_String& path);
    // A request owns its log file and holds its managers: never copied.
    KV_FileReqTransCp(const KV_FileReqTransCp&) = delete;
    KV_FileReqTransCp& operator=(const KV_FileReqTransCp&) = delete;
    // Settles the request, then releases the holds on the managers.
    ~KV_FileReqTransCp() override;

    // Binds the managers, taking a counted hold on each that is not null.
    // Once, before the request is queued or shared.
    void init(KV_FileMan* src, KV_FileMan* dst);

    // The managers by direction: swapped while the log's phase is 2. Either
    // may be null.
    KV_FileMan* man_src() const;
    KV_FileMan* man_dst() const;
    // The managers as bound.
    KV_FileMan* man_src_const() const { return man_src_; }
    KV_FileMan* man_dst_const() const { return man_dst_; }
    KV_TransLogTransCp& log() const { return log_; }
    // Progress also becomes the request's progress percentage.
    void set_prog_ntf(bool ntf) { prog_ntf_.store(ntf ? 1 : 0, std::memory_order_relaxed); }

    // Unless the request is stopped: resets the poll event; waits on it up
    // to `ms` milliseconds (the pause between the passes of a mirror).
    void poll_reset();
    void poll_wait(uint32_t ms);
    // Server to server: both managers bound, both FTP, and the parameters
    // ask for it.
    bool dtrans() const;

    // --- Request slots -------------------------------------------------------

    // An application update removes itself once it has finished.
    bool req_started() override;
    // Tells the transfer manager to check whether the two managers are
    // still used.
    bool req_processed() override;
    // The same operation with the same names between the same data sources
    // (each side compared under its own manager's case rule).
    bool operator==(const KV_FileReq& other) const override;
    using KV_FileReq::operator==;
    // The operation name ("Copy", "Mirror", "Open", ...) and the
    // description.
    const char* get_descr(KV_String& descr, bool detailed) const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_CP; }
    bool run_on(KV_Tavo& t) override;
    // out := a plain copy or an application update; false for the update
    // check, which is never resumed.
    bool resume(bool& out) override;
    bool hidden() const override { return false; }
    // Never for the update check.
    bool can_retry() override;
    // The base's snapshot, the file operation, and the flags of a file
    // operation (1 local source or update check, 2 waiting for the user).
    void get_info(KV_FileReqInfo& info, bool full) override;

    KV_TransLogTrans& log_trans() const override { return log_; }
    // Records that the worker deleted the destination item `path`.
    bool file_del(const KV_PathDef& path) override;
    bool involved(const KV_FileManId& id) const override;
    // Browse notices for the destination, then the source manager.
    void req_browse() override;
    // The data-source types of both managers, once both are bound.
    void ds_types(uint16_t& src, uint16_t& dst) const override;

protected:
    friend class KV_TransLogCp;

    // Wakes a worker that sleeps between two passes.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;
    // The progress of the file at `path` (the sub-logs' values), into the
    // log and, with prog_ntf, into the request's percentage.
    bool update_prog(const KV_PathDef& path, int percent);

private:
    KV_Event poll;
    mutable KV_TransLogTransCp log_;
    KV_FileMan* man_src_ = nullptr;
    KV_FileMan* man_dst_ = nullptr;
    std::atomic<uint8_t> prog_ntf_{0};
};
