// Byte ranges of one file that elementary copies transfer on connections of
// their own, and the set of them that one copy sub-log keeps.
//
// A large file of a copy request may be fetched in several ranges at once.
// KV_FileFragMan cuts new ranges off the untransferred part of the file,
// hands them out, counts the bytes done and, once every range has been
// handed out and none is in transfer any more, resumes the store half that
// waits for the data (all ranges done) or fails it.
//
// Fragment states: 0 new, 1 partial (to be resumed), 2 in transfer, 3 done,
// 4 failed. A fragment is valid when begin < end and begin <= pos <= end, and
// done when pos == end.
//
// Fragment record, 32 bytes little-endian, stored in the sub-log in front of
// the fragment's data area:
//   0  begin (i64)   8  end (i64)   16  pos (i64)
//   24 check (u64) = (end & 0xFFFF) << 48 | (begin & 0xFFFF) << 32 | (pos & 0xFFFFFFFF)
// Byte b of the file (begin <= b < end) lies at rec_pos + 32 + (b - begin).
//
// Threads: elementary copies on several workers change fragment states at
// once. The manager's state lock serialises state changes, the queued-all
// flag, the registered request and the completion check; its list lock
// guards the list and the ranges of the fragments in it. Lock order: the
// state lock before the list lock; code holding the list lock never takes
// the state lock. Neither is re-entrant. A fragment's state and position are
// atomics, so they may be read under either lock (or none, for a snapshot).
// The range of a fragment changes only while it is new and not handed out.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/kv_event.h"
#include "foundation/kvtl.h"

class KV_FileFragMan;
class KV_FileReq;
class KV_Storage;

class KV_FileFrag
{
public:
    // State values.
    static constexpr uint32_t NEW = 0;
    static constexpr uint32_t PARTIAL = 1;
    static constexpr uint32_t IN_TRANSFER = 2;
    static constexpr uint32_t DONE = 3;
    static constexpr uint32_t FAILED = 4;
    // Size of the stored record.
    static constexpr uint32_t REC_SIZE = 32;

    // pos = begin, no place in a sub-log yet (rec_pos 0). `owner` (not owned,
    // may be null) is the manager through which state changes go.
    KV_FileFrag(KV_FileFragMan* owner, int64_t begin, int64_t end, uint32_t state);
    // Copies every field, the owner included.
    KV_FileFrag(const KV_FileFrag& other);
    KV_FileFrag& operator=(const KV_FileFrag& other);

    KV_FileFragMan* owner() const { return owner_; }
    int64_t begin() const { return begin_; }
    int64_t end() const { return end_; }
    int64_t pos() const { return pos_.load(std::memory_order_acquire); }
    uint32_t state() const { return state_.load(std::memory_order_acquire); }
    // Offset of the fragment's record in the sub-log file; 0 while the
    // fragment has no place there. Guarded by the sub-log's lock.
    int64_t rec_pos() const { return rec_pos_; }
    // Offset of the fragment's data area in the sub-log file.
    int64_t data_pos() const { return rec_pos_ + REC_SIZE; }

    // begin and pos := v.
    void set_begin(int64_t v);
    void set_end(int64_t v) { end_ = v; }
    void set_rec_pos(int64_t v) { rec_pos_ = v; }
    // pos += n: n bytes more were stored. Called by the sub-log only.
    void advance(int64_t n);
    // Through the owner (KV_FileFragMan::set_frag_state); a fragment without
    // owner just takes the state.
    void set_state(uint32_t state);

    // pos == end.
    bool done() const;
    // begin < end and begin <= pos <= end.
    bool valid() const;
    // end - begin when end > begin (at most INT64_MAX), else 0.
    int64_t size() const;
    // The check value of the record (see above).
    uint64_t check() const;

    // Writes the 32-byte record at the storage's position; true when all four
    // 8-byte fields went out whole.
    bool write(KV_Storage& st) const;
    // Reads a record: io_ok := all four fields read whole. The record is good
    // when io_ok, the stored check matches and the range is valid; the state
    // becomes 4 when not good, else 3 when pos >= end, else 1. Result: good.
    bool read(KV_Storage& st, bool& io_ok);

private:
    friend class KV_FileFragMan;

    KV_FileFragMan* owner_;
    std::atomic<uint32_t> state_;
    int64_t begin_;
    int64_t end_;
    std::atomic<int64_t> pos_;
    int64_t rec_pos_ = 0;
};

class KV_FileFragMan
{
public:
    // Smallest piece a new fragment is cut to when it is taken.
    static constexpr int64_t DEF_MIN_SIZE = 102400;

    // Empty, no request, queued-all false, min size 102400.
    KV_FileFragMan();
    // Deletes the fragments. Nothing may still use them (the elementary
    // copies that hold fragments have ended).
    virtual ~KV_FileFragMan();
    KV_FileFragMan(const KV_FileFragMan&) = delete;
    KV_FileFragMan& operator=(const KV_FileFragMan&) = delete;

    // A new fragment longer than this is split when taken; a value below 1
    // leaves fragments whole.
    void set_min_size(int64_t size) { min_size_.store(size, std::memory_order_relaxed); }
    int64_t min_size() const { return min_size_.load(std::memory_order_relaxed); }

    // Adds a heap copy of `frag`, owned by this manager; false (nothing
    // added) when memory cannot be had.
    bool add(const KV_FileFrag& frag);
    // Adds a new fragment [begin, end) in `state`.
    bool add_new(int64_t begin, int64_t end, uint32_t state);
    // The first fragment in list order with begin <= off < end. The pointer
    // stays valid until clear() or the destructor.
    bool find_pos(KV_FileFrag** out, int64_t off);
    // The first fragment in list order in `state`; out may be null.
    bool find_state(uint32_t state, KV_FileFrag** out);
    // Every fragment is done (state 3); true for an empty list.
    bool all_done();
    // Adds new fragments for every range of [0, size) that no fragment
    // covers; an empty list gets [0, size) (so size 0 gives the one empty
    // fragment [0, 0) of an unsegmented copy). False when an addition failed.
    bool fill_gaps(int64_t size);
    // Hands out the next fragment to transfer: a partial one first, else a
    // new one, split down to the min size; *out null (result true) when
    // nothing is left. False only when a split could not be added (the
    // fragment is then handed out whole). The fragment keeps its state: the
    // elementary copy that transfers it sets 2.
    bool take(KV_FileFrag** out);
    // Bytes transferred over all fragments: the size of every done one,
    // pos - begin of every other valid one.
    int64_t done_bytes();

    // Registers the request that the end of the fragments resumes or fails,
    // and keeps it from ending on its own meanwhile (KV_FileReq::set_no_term).
    // Not owned; it must outlive the registration.
    void set_request(KV_FileReq* req);
    bool has_request();
    void reset_request();
    // Stores the flag; true runs the completion check.
    void set_queued_all(bool v);
    // Sets the fragment's state; any state but 2 runs the completion check.
    void set_frag_state(KV_FileFrag& frag, uint32_t state);

    // Forgets the request and deletes every fragment.
    void clear();

private:
    friend class KV_TransLogCp;

    // One fragment as copy_frags walks them.
    struct Range
    {
        int64_t begin;
        int64_t end;
        int64_t data_pos;
        bool done;
    };

    // With the list lock held.
    bool add_locked(KV_FileFrag* frag);
    KV_FileFrag* find_state_locked(uint32_t state) const;
    bool all_done_locked() const;
    // With the state lock held: when the check is due, takes the request out
    // (it acts once) and tells whether all fragments are done.
    KV_FileReq* completion_due(bool& all);
    // Resumes or fails `req` (outside the locks).
    static void complete(KV_FileReq* req, bool all);
    // The valid fragments, ordered by begin; false without memory.
    bool ranges(std::vector<Range>& out);

    KV_Lock state_lock;
    KV_Lock list_lock;
    KV_FileReq* request_ = nullptr; // state_lock
    // Ordered by object identity (address): lookups carry no offset order.
    KVTL::KV_ListPtrSrt<KV_FileFrag> frags; // list_lock
    uint8_t queued_all_ = 0;                // state_lock
    std::atomic<int64_t> min_size_{DEF_MIN_SIZE};
};
