// The sub-log of one elementary copy: a transfer-log file of type 1 that
// records the copy's status, flags, source entry and paths and, when the data
// must be held between the source half and the destination half, the data
// itself, either as one contiguous area or as fragments.
//
// Body, after the 53-byte frame (kv_translog.h), little-endian:
//   53   1    status (written 0; rewritten in place)
//   54   1    flags
//   55   1    flags2 (written 0; rewritten in place)
//   56   8    min fragment size (i64)
//   64   var  stored file name (KV_String)
//   var  var  source entry (KV_FileData)
//   var  var  source path, destination path (KV_PathDef)
//   var  8    stored byte count (i64), only when not segmented; rewritten
//   var  rest data area: unsegmented, the first "stored" bytes of the file;
//             segmented, slots of a 32-byte fragment record followed by the
//             fragment's (end - begin) bytes, in the order they were placed
//
// Every field that changes during the copy is rewritten in place, so an
// interrupted copy resumes from what the file says. The sub-log is also the
// progress receiver of the copies that fill and drain it: it turns byte
// counts into the progress value of its file (prog()).
//
// Threads: the halves of one elementary copy, and for a segmented copy the
// fetch steps of several workers, use one sub-log at once. The log's lock
// (KV_TransLog::lock) serialises every file access and guards the file
// offsets; the fragment manager's locks are taken inside it. status, flags2,
// stored, the data offset, the progress value and the direct-transfer fields
// are atomics, readable from any thread. The flags, the source entry, the
// paths and the stored file name are set before the sub-log is created or
// shared (or by the restore) and only read afterwards. progress() takes no
// lock of the sub-log.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "datasources/kv_manopts.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_inetaddr.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translog.h"

class KV_File;
class KV_FileReqTransCp;
class KV_Stoppable;

class KV_TransLogCp : public KV_TransLog, public KV_ProgressMan
{
public:
    // Flag bits.
    static constexpr uint8_t FLAG_NO_FILE = 1;   // status and flags2 in memory only
    static constexpr uint8_t FLAG_TMP_DATA = 2;  // the data is kept in the sub-log
    static constexpr uint8_t FLAG_MULTIFRAG = 4; // ... as fragments
    static constexpr uint8_t FLAG_ASCII_SRC = 8; // source half in KV_TRANS_MODE 2
    static constexpr uint8_t FLAG_ASCII_DST = 16;
    // flags2 values: the source half, the destination half has moved data.
    static constexpr uint8_t FLAG2_SRC = 1;
    static constexpr uint8_t FLAG2_DST = 2;
    // Status values.
    static constexpr uint8_t ST_NONE = 0;
    static constexpr uint8_t ST_RECEIVING = 1;
    static constexpr uint8_t ST_DELIVERING = 2;
    static constexpr uint8_t ST_DONE = 3;
    // Progress values beside the percentages 0-100 (receiving) and 101-201
    // (delivering).
    static constexpr int32_t PROG_UNKNOWN = 0x7FFFFFFF;
    static constexpr int32_t PROG_DONE = 0x7FFFFFFE;

    // A new elementary copy of `fdata` from `src` to `dst`; `file_name` is the
    // file that holds the data when the sub-log does not. The sub-log's own
    // name is set later (set_path, set_name). `owner` (not owned, may be
    // null) is the copy request that the file belongs to.
    KV_TransLogCp(KV_FileReqTransCp* owner, const KV_String& file_name, const KV_FileData& fdata,
                  const KV_PathDef& src, const KV_PathDef& dst);
    // For KV_TransLog::restore of the sub-log file `log_name`; all else
    // empty.
    KV_TransLogCp(KV_FileReqTransCp* owner, const KV_String& log_name);
    ~KV_TransLogCp() override;

    // Before creation: flags := 2, 4, 8, 16 as given, no-file cleared.
    void set_flags_init(bool tmp_data, bool multifrag, KV_TRANS_MODE src, KV_TRANS_MODE dst);
    void set_no_file(bool no_file);

    bool has_file() const { return (flags_ & FLAG_NO_FILE) == 0; }
    bool tmp_data() const { return (flags_ & FLAG_TMP_DATA) != 0; }
    bool multifrag() const { return (flags_ & FLAG_MULTIFRAG) != 0; }
    KV_TRANS_MODE trans_mode_src() const;
    KV_TRANS_MODE trans_mode_dst() const;
    bool flag1() const { return (flags2() & FLAG2_SRC) != 0; }
    bool flag2() const { return (flags2() & FLAG2_DST) != 0; }
    uint8_t flags() const { return flags_; }
    uint8_t flags2() const { return flags2_.load(std::memory_order_acquire); }

    // In-place rewrites, each under the lock; the value in memory changes
    // only when its write succeeded. Without a file (flag 1) status and
    // flags2 change in memory only. A closed file is reopened while the last
    // create or restore stands.
    uint8_t status() const { return status_.load(std::memory_order_acquire); }
    // Nothing to do (true) when unchanged. Reaching 3 reports the progress
    // value "done".
    bool set_status(uint8_t status);
    // flags2 := set | (flags2 & ~clear).
    bool set_flags(uint8_t set, uint8_t clear);
    bool set_stored(int64_t stored);

    // The start of the data area when the data is kept here, else 0.
    int64_t data_offset() const;
    // The stored byte count when the data is kept here unsegmented, else the
    // size of the source entry.
    int64_t size() const;
    // The file that holds the data: the sub-log itself when it keeps the
    // data, else the stored file name.
    KV_String data_name() const;
    // The stored file name, or the sub-log's own name when none is stored.
    KV_String file_name() const;
    const KV_PathDef& path_src() const { return path_src_; }
    const KV_PathDef& path_dst() const { return path_dst_; }
    const KV_FileData& fdata() const { return fdata_; }
    // The source entry anew, as a fresh listing shows it, for a copy that
    // starts over (status 0, no step running): the next create writes it.
    void set_fdata(const KV_FileData& fd) { fdata_ = fd; }
    KV_FileFragMan& man_frag() { return frags_; }

    // The sub-log's own name split by the temporary-file manager's path
    // syntax (an empty name gives the empty path).
    bool own_path(KV_PathDef& out) const;
    // Sets the sub-log's name from a path in that syntax; false when the name
    // comes out empty.
    bool set_path(const KV_PathDef& path);

    // Data operations, each under the lock; false on a failed open,
    // positioning, short read or short write, with no message of their own.

    // Unsegmented: writes `length` bytes at `offset` of the data area, then
    // stored += length, rewritten in place (taken back when that fails).
    bool write_at(int64_t offset, const unsigned char* data, uint32_t length);
    // Stores `length` bytes at the fragment's position: places the fragment's
    // slot first when it has none (a blank record, then zeros for its range),
    // writes the data, advances the fragment and rewrites its record. A write
    // past the fragment's end is refused.
    bool write_frag(KV_FileFrag& frag, const unsigned char* data, uint32_t length);
    // What a download writes through a descriptor of its own (KV_TransSink),
    // without the lock: the bytes go to the data area with pwrite, or to the
    // part file when there is one (use_part), and the stored count or the
    // fragment's record follows them only when vouched for.
    //
    // Unsegmented: the count in memory becomes `stored` (progress and size()
    // follow it); the file's count stays until vouch_stored.
    void note_stored(int64_t stored);
    // After the bytes written through `fd` reach the file (fdatasync when
    // `sync`), rewrites the stored count in the sub-log as `stored`. Under
    // the lock; false when the sync or the write fails.
    bool vouch_stored(int fd, int64_t stored, bool sync);
    // Segmented: the same for the fragment's record, which then says the
    // fragment's position in memory. The fragment must have its slot.
    bool vouch_frag(int fd, const KV_FileFrag& frag, bool sync);

    // The data of a download that the sub-log keeps goes instead, each byte
    // at its offset in the file, to `fd`: the file under its temporary name
    // in the destination folder, which then needs no second copy. The
    // sub-log keeps its counts, records and layout, the data area a hole.
    // Takes `fd` (closed on failure too). Checks what the part holds against
    // what the sub-log vouches for: an unsegmented count is cut back to the
    // part's length; a part too short for what is vouched for otherwise
    // (fragments, a finished fetch) gives false with `afresh` set: the
    // sub-log must be created anew. Memory only, for the run: a restored
    // sub-log is given its part again. Not while steps use the sub-log.
    bool use_part(int fd, bool& afresh);
    // The part file's descriptor, -1 when the data is kept in the sub-log.
    int part_fd() const { return part_fd_; }
    // A part file holds the whole file: its length is cut to the file's
    // size. False when a fragment is missing or the part is shorter.
    bool settle_part();

    // Reads up to `length` bytes from `offset` within the fragment's data
    // area; `length` receives the count read. The read never runs past the
    // fragment's area. False when the fragment has no slot or the
    // positioning fails.
    bool read_frag(const KV_FileFrag& frag, unsigned char* buf, int64_t offset, uint32_t& length);
    // Unsegmented only: reads the whole open file `src` into the data area
    // (stop asked before every chunk), then rewrites the stored count. The
    // count is 0 in the file while the data is coming in and in memory after
    // any failure. Progress goes to this sub-log as the bytes arrive.
    bool copy_data(KV_File& src, KV_Stoppable* stop);
    // Writes the file out of the data area into the open `dst` at offset 0:
    // the stored bytes (unsegmented), or each fragment in offset order
    // (segmented; any missing or unfinished range fails the copy). Progress
    // goes to this sub-log with the position reached in `dst`.
    bool copy_frags(KV_File& dst, KV_Stoppable* stop);

    // Rebuilds the fragment list: with `clear` it is emptied first; then
    // every range of the file that no fragment covers becomes a new fragment
    // (an unsegmented copy holds the one empty fragment [0, 0)). Must not be
    // called while elementary copies hold fragments.
    bool init_frags(bool clear);

    // The pending server-to-server half: its worker id (0 for none) and
    // flag, and the address of its direct data connection. Memory only: a
    // reloaded request starts its direct halves afresh. Any thread.
    void set_dtrans(uint32_t id, uint8_t flag);
    uint32_t dtrans_id() const { return dtrans_id_.load(std::memory_order_acquire); }
    void set_dtrans_addr(const KV_InetAddr& addr);
    KV_InetAddr dtrans_addr() const;
    uint8_t dtrans_flag() const { return dtrans_flag_.load(std::memory_order_acquire); }

    // The last progress value: 0-100 receiving, 101-201 delivering,
    // PROG_DONE, or PROG_UNKNOWN (the start, an unknown size, no status).
    int32_t prog() const { return prog_.load(std::memory_order_acquire); }

    uint8_t type() const override { return 1; }
    // `n` is the position reached in the target of a delivering copy. Works
    // out the progress value of the file from the status and, when it
    // changed, remembers it and passes it to the owner
    // (KV_FileReqTransCp::update_prog, which takes the request log's lock).
    // Any thread; takes no lock of the sub-log.
    void progress(int64_t n) override;

protected:
    void process_err(uint8_t code, const KV_String& text) override;
    bool write_data() override;
    bool read_data() override;

private:
    // Receives the positions of a read-in, so that the stored count (and the
    // progress) follows the bytes that arrived.
    class ReadInProgress : public KV_ProgressMan
    {
    public:
        explicit ReadInProgress(KV_TransLogCp& log) : log(log) {}
        void progress(int64_t n) override;

    private:
        KV_TransLogCp& log;
    };

    // The size of the source entry, never negative.
    int64_t file_size() const;
    // With the lock held: writes the stored count at its place.
    bool write_stored(int64_t stored);
    // With the lock held: writes one byte at `pos`.
    bool write_byte(int64_t pos, uint8_t value);
    bool init_frags_locked(bool clear);

    uint8_t flags_ = 0;
    std::atomic<uint8_t> flags2_{0};
    KV_FileData fdata_;
    std::atomic<uint8_t> status_{0};
    KV_String file_name_;
    KV_FileFragMan frags_;
    // Not owned; gets the progress of the file. May be null.
    KV_FileReqTransCp* owner_;
    KV_PathDef path_src_;
    KV_PathDef path_dst_;
    std::atomic<int32_t> prog_{PROG_UNKNOWN};
    std::atomic<uint32_t> dtrans_id_{0};
    // Offsets in the sub-log file, guarded by the lock (data_offset_ is also
    // read without it).
    int64_t flags2_pos = 0;
    int64_t status_pos = 0;
    std::atomic<int64_t> data_offset_{0};
    int64_t stored_pos = 0;
    std::atomic<int64_t> stored_{0};
    std::atomic<uint8_t> dtrans_flag_{0};
    // Owned; set before the steps start (use_part) and read by them.
    int part_fd_ = -1;
    // The address is no single word: it has a lock of its own, taken by
    // nothing else.
    mutable std::mutex dtrans_addr_lock;
    KV_InetAddr dtrans_addr_;
};
