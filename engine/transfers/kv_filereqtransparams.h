// Parameters of a transfer request, and the file operation that follows a
// copy.
//
// The user interface receives parameters as clones made by the engine (in a
// KV_MsgReqParams) and hands them back to KV_FileReqTransParams::destr_clone,
// so that the engine library's heap frees what it allocated.
//
// Threads: plain values without a lock; whoever holds one guards it (a
// transfer log guards the parameters it holds with its own lock).
#pragma once

#include <cstdint>

#include "foundation/kv_time.h"

// What follows a copy request once its files have arrived.
enum KV_FILEOP : uint32_t {
    KV_FILEOP_COPY = 0, // plain copy, move or mirror
    KV_FILEOP_OPEN = 1,
    KV_FILEOP_VIEW = 2,
    KV_FILEOP_EDIT = 3, // the changed files go back to where they came from
    KV_FILEOP_PRINT = 4,
    KV_FILEOP_UPDATE_CHECK = 5, // download of the update information
    KV_FILEOP_UPDATE_APP = 6,   // download of the application update
};

// Whether a transfer asks the user its questions.
enum KV_FEXEC_TYPE : uint32_t {
    KV_FEXEC_NONE = 0,   // questions are asked
    KV_FEXEC_FORCED = 1, // every question is answered Yes without asking
};

// Abstract base of the parameters of the copy, rename and delete transfers.
class KV_FileReqTransParams
{
public:
    // Not forced, no scheduled start, created now.
    KV_FileReqTransParams();
    KV_FileReqTransParams(const KV_FileReqTransParams&) = default;
    KV_FileReqTransParams& operator=(const KV_FileReqTransParams&) = default;
    // Virtual: clones are freed through a base pointer (destr_clone).
    virtual ~KV_FileReqTransParams();

    // A heap copy of the same kind, owned by the caller, who frees it with
    // destr_clone. Null when memory cannot be had.
    virtual KV_FileReqTransParams* clone() const = 0;

    // Frees a clone made by clone(); null is accepted.
    static void destr_clone(const KV_FileReqTransParams* params);

    KV_FEXEC_TYPE forced_exec() const { return forced_exec_; }
    void set_forced_exec(KV_FEXEC_TYPE type) { forced_exec_ = type; }
    // The scheduled start; invalid when none. A valid one keeps a newly
    // queued request Suspended until then.
    const KV_Time& tm_start() const { return tm_start_; }
    void set_tm_start(const KV_Time& time) { tm_start_ = time; }
    // When the request was created.
    const KV_Time& tm_started() const { return tm_started_; }
    void set_tm_started(const KV_Time& time) { tm_started_ = time; }
    // tm_start := now: the request's suspension ends at the next pass.
    void reset_tm_susp();

private:
    KV_FEXEC_TYPE forced_exec_ = KV_FEXEC_NONE;
    KV_Time tm_start_;
    KV_Time tm_started_;
};
