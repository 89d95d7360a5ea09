// What the user interface sees of a request: a snapshot (KV_FileReqInfo) and,
// for transfer requests, the log of its history (KV_FileReqLog of
// KV_FileReqLogElem lines).
//
// The user interface never reads a live request. The request fills a
// snapshot, a KV_MsgReqNtf carries it, and the request-info table keeps a
// copy per request id and merges later snapshots into it with update(). A
// transfer log fills a KV_FileReqLog that a KV_MsgReqLog carries to the
// request-log window.
//
// Threads: none of these has a lock. A snapshot is a plain value; a log is
// filled by one producer and then handed on inside its message, so one
// thread uses it at a time. add_init_cnt is the only shared value.
#pragma once

#include <atomic>
#include <cstdint>

#include "datasources/kv_reqdefs.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"

class KV_FileReq;
// What follows a copy (the transfer parameters define it); a snapshot only
// carries its 4-byte value.
enum KV_FILEOP : uint32_t;

// Snapshot of one request.
class KV_FileReqInfo
{
public:
    // Nothing known yet: no texts, status Queued, no progress (prog_perc
    // 0x7FFFFFFF), no indicator, no errors, no start time.
    KV_FileReqInfo() = default;
    KV_FileReqInfo(const KV_FileReqInfo&) = default;
    KV_FileReqInfo& operator=(const KV_FileReqInfo&) = default;
    virtual ~KV_FileReqInfo();

    // Identity, for lists of snapshots.
    bool operator==(const KV_FileReqInfo* other) const { return this == other; }
    bool operator<(const KV_FileReqInfo* other) const { return this < other; }

    // Fills the snapshot from a live request: operation and description,
    // status text, traffic light and indicator, status, type, progress and
    // error count. The one operation here that reads a request; it is defined
    // with the request base class, its only caller.
    void init(KV_FileReq* req, bool full);

    // Merges the newer snapshot `other` into this stored one. Result false
    // (nothing touched) when operation, status, err_cnt, prog_perc, add and
    // flags are all unchanged. Otherwise takes over operation, status_str,
    // status, prog_perc, tl, flags, err_cnt and last_err (type, fileop, descr
    // and tm_start keep the first snapshot's values), and returns true. When
    // the indicator changed or the errors grew, and no flash runs or the
    // other brings a non-zero indicator, a new flash starts: add := the
    // other's add, `add_out` := add, add_cnt := 2 * add_init_cnt, `flashed`
    // := true (pass it in false). A snapshot with indicator 0 therefore does
    // not cut a running flash short. A Cancelled status leaves at most one
    // flash step.
    bool update(const KV_FileReqInfo& other, KV_REQ_ADD& add_out, bool& flashed);

    void set_status(KV_REQ_STAT status, const char* text);
    // flags := bits | (flags & ~clear).
    void set_flags(uint8_t bits, uint8_t clear);
    void set_fileop(KV_FILEOP fileop) { fileop_ = fileop; }
    void set_last_err(const KV_String& text) { last_err_ = text; }
    void set_tm_start(const KV_Time& time) { tm_start_ = time; }
    // One flash step: add_cnt goes down by one, or to 0 when `reset`; a
    // finished flash (0) stays 0.
    void updt_add_cnt(bool reset);

    // The request's operation text: a constant text of the request class,
    // compared by address. Null until filled.
    const char* operation() const { return operation_; }
    // The status text (a constant text). Null until filled.
    const char* status_str() const { return status_str_; }
    KV_REQ_STAT status() const { return status_; }
    KV_REQ_TYPE type() const { return type_; }
    KV_REQ_TL tl() const { return tl_; }
    KV_REQ_ADD add() const { return add_; }
    // Bits of the transfer requests; 4 keeps a completed request in the list
    // after its flash.
    uint8_t flags() const { return flags_; }
    KV_FILEOP fileop() const { return fileop_; }
    // Percent; 0x7FFFFFFF when no progress is known.
    int32_t prog_perc() const { return prog_perc_; }
    // Flash steps left; 0 when the indicator does not flash.
    uint32_t add_cnt() const { return add_cnt_; }
    uint32_t err_cnt() const { return err_cnt_; }
    const KV_String& descr() const { return descr_; }
    const KV_String& last_err() const { return last_err_; }
    const KV_Time& tm_start() const { return tm_start_; }

    // The flash length in pairs of steps (7 at start). Set by the transfer
    // manager options on the user-interface thread; read there too.
    static uint32_t add_init_cnt() { return KV_FileTransManOpts::add_init_cnt(); }
    static void set_add_init_cnt(uint32_t pairs) { KV_FileTransManOpts::set_add_init_cnt(pairs); }

    static constexpr int32_t PROG_UNKNOWN = 0x7FFFFFFF;

protected:
    const char* operation_ = nullptr;
    const char* status_str_ = nullptr;
    KV_REQ_STAT status_ = KV_REQ_STAT_QUEUED;
    KV_REQ_TYPE type_ = static_cast<KV_REQ_TYPE>(0);
    KV_REQ_TL tl_ = KV_REQ_TL_NONE;
    KV_REQ_ADD add_ = KV_REQ_ADD_NONE;
    uint8_t flags_ = 0;
    KV_FILEOP fileop_ = static_cast<KV_FILEOP>(0); // KV_FILEOP_COPY
    int32_t prog_perc_ = PROG_UNKNOWN;
    uint32_t add_cnt_ = 0;
    uint32_t err_cnt_ = 0;
    KV_String descr_;
    KV_String last_err_;
    KV_Time tm_start_;
};

// Kind of a request-log line, as the transfer logs write them. 3 is not used.
enum KV_FILE_REQ_LOG_ELEM : uint32_t {
    KV_FILE_REQ_LOG_ELEM_NONE = 0,
    KV_FILE_REQ_LOG_ELEM_ANSWER = 1,    // a remembered user answer
    KV_FILE_REQ_LOG_ELEM_MSG = 2,       // a message (code 0) or an error (code 1, 2)
    KV_FILE_REQ_LOG_ELEM_FILEOP = 4,    // a file operation (code 0 to 2)
    KV_FILE_REQ_LOG_ELEM_FILEOP_CP = 5, // a file operation of a copy (code 0 to 3)
};

// One line of a request log. Lines are identified and ordered by `seq`
// alone.
class KV_FileReqLogElem
{
public:
    KV_FileReqLogElem() = default;
    KV_FileReqLogElem(KV_FILE_REQ_LOG_ELEM kind, uint32_t seq, const KV_Time& time,
                      const KV_String& text, int code, const KV_String& note);
    KV_FileReqLogElem(const KV_FileReqLogElem&) = default;
    KV_FileReqLogElem& operator=(const KV_FileReqLogElem&) = default;

    // By seq only, whatever the texts.
    bool operator==(const KV_FileReqLogElem& other) const { return seq == other.seq; }
    bool operator<(const KV_FileReqLogElem& other) const { return seq < other.seq; }
    // The pointee's seq; false for null.
    bool operator==(const KV_FileReqLogElem* other) const { return other && seq == other->seq; }
    bool operator<(const KV_FileReqLogElem* other) const { return other && seq < other->seq; }

    KV_FILE_REQ_LOG_ELEM kind = KV_FILE_REQ_LOG_ELEM_NONE;
    // Second text: a repeat count such as "3 times".
    KV_String note;
    KV_String text;
    // Grade of the line within its kind; -1 when not set.
    int code = -1;
    // 1-based position in the log: the sort key.
    uint32_t seq = 0;
    KV_Time time;
};

// The history of one request for the request-log window. Owns its lines.
// Not copyable: nothing copies a log, and a copy must not share the lines.
class KV_FileReqLog
{
public:
    KV_FileReqLog();
    KV_FileReqLog(const KV_FileReqLog&) = delete;
    KV_FileReqLog& operator=(const KV_FileReqLog&) = delete;
    virtual ~KV_FileReqLog();

    // Deletes every line and frees the list; info and chg stay.
    void clear();
    // Inserts `elem` at its place by seq, after lines of the same seq. True:
    // the log owns `elem`. False (allocation failed, or null): the caller
    // still owns it and deletes it; the log is unchanged.
    bool insert(const KV_FileReqLogElem* elem);
    // The lines, sorted by seq.
    const KVTL::KV_ListPtrSrt<const KV_FileReqLogElem>& list_elems() const { return elems; }

    // Snapshot of the request the log belongs to; filled by the producer.
    KV_FileReqInfo info;
    // What the reader refreshes: CHG_* bits, set by the producer.
    uint32_t chg = 0;

    static constexpr uint32_t CHG_RESTART = 1;   // clear the shown lines first
    static constexpr uint32_t CHG_HEADER = 2;    // operation, start time, description
    static constexpr uint32_t CHG_STATUS = 4;    // status text
    static constexpr uint32_t CHG_ELEMS = 8;     // lines are included
    static constexpr uint32_t CHG_LAST_ERR = 16; // last error

private:
    KVTL::KV_ListPtrSrt<const KV_FileReqLogElem> elems;
};
