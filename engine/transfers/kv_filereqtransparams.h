// Parameters of a transfer request, and the file operation that follows a
// copy.
//
// The user interface receives parameters as clones made by the engine (in a
// KV_MsgReqParams) and hands them back to KV_FileReqTransParams::destr_clone,
// so that the engine library's heap frees what it allocated.
//
// Threads: plain values without a lock; whoever holds one guards it.
#pragma once

#include <cstdint>

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

// Abstract base of the parameters of the copy, rename and delete transfers.
class KV_FileReqTransParams
{
public:
    KV_FileReqTransParams() = default;
    KV_FileReqTransParams(const KV_FileReqTransParams&) = default;
    KV_FileReqTransParams& operator=(const KV_FileReqTransParams&) = default;
    // Virtual: clones are freed through a base pointer (destr_clone).
    virtual ~KV_FileReqTransParams();

    // A heap copy of the same kind, owned by the caller, who frees it with
    // destr_clone. Null when memory cannot be had.
    virtual KV_FileReqTransParams* clone() const = 0;

    // Frees a clone made by clone(); null is accepted.
    static void destr_clone(const KV_FileReqTransParams* params);
};
