// The copy plan of one folder pair: the file entries that a copy or move
// request copies, each with its copy sub-log and the observers of the
// elementary copies started for it.
//
// Threads: an entry is used by the transfer worker's thread only; the
// elementary copies that run on the file managers' workers reach its
// sub-log, not the entry.
#pragma once

#include <cstdint>

#include "foundation/kv_filedata.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "requests/kv_filereqtask.h"
#include "transfers/kv_tavotrans.h"
#include "transfers/kv_translogcp.h"

class KV_FileReqTransCp;

class KV_TavoTrans::KV_DirEntryCp
{
public:
    // State flags of the last copy attempt.
    static constexpr uint8_t READ_INCOMPLETE = 1;
    static constexpr uint8_t WRITE_INCOMPLETE = 2;
    static constexpr uint8_t RESTART = 4;
    // Beside RESTART, no failure of its own: the source half ended as
    // complete with another length than the source entry lists.
    static constexpr uint8_t LENGTH_WRONG = 8;

    // An entry for the existing sub-log file `log_name`, which the caller
    // restores.
    KV_DirEntryCp(KV_FileReqTransCp& req, const KV_String& log_name);
    // An entry with a new sub-log for the source entry `fd`.
    KV_DirEntryCp(KV_FileReqTransCp& req, const KV_String& src_name, const KV_FileData& fd,
                  const KV_PathDef& src, const KV_PathDef& dst);
    KV_DirEntryCp(const KV_DirEntryCp&) = delete;
    KV_DirEntryCp& operator=(const KV_DirEntryCp&) = delete;
    // The elementary copies of the entry must have ended.
    ~KV_DirEntryCp();

    KV_TransLogCp& log() { return log_; }
    void set_flag(uint8_t mask) { state |= mask; }
    bool test_flag(uint8_t mask) const { return (state & mask) != 0; }
    uint8_t flags() const { return state; }
    // Takes the observer over; false (the caller still owns it) when the
    // list refuses it.
    bool add_obs(KV_FileReqObs* obs);
    // Until every elementary copy of the entry has been processed.
    void wait();
    // Forgets the last attempt: state, observers and the waiting store step.
    // An unsegmented copy goes back to its single placeholder fragment.
    bool reset();

private:
    void free_obs();

    KVTL::KV_ListPtr<KV_FileReqObs> obs_;
    KV_TransLogCp log_;
    uint8_t state = 0;
};

// The plan of one folder; owns its entries.
class KV_DirEntryCpList : public KVTL::KV_ListPtr<KV_TavoTrans::KV_DirEntryCp>
{
public:
    KV_DirEntryCpList() = default;
    KV_DirEntryCpList(const KV_DirEntryCpList&) = delete;
    KV_DirEntryCpList& operator=(const KV_DirEntryCpList&) = delete;
    ~KV_DirEntryCpList() override { free(); }
    void free();
    // Takes `e` out of the list (not freed); false when it is not there.
    bool take(KV_TavoTrans::KV_DirEntryCp* e);
};
