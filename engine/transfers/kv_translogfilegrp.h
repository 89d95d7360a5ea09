// The records of a request log's record area: remembered answers, messages,
// the outcome of each item of a rename or delete request, and the per-file
// copy record of a copy request.
//
// Records are appended at the end of the log file and later rewritten in
// place, at the position where they were written, so that the state
// survives a restart without the whole file ever being written again. Only
// fixed fields at fixed distances from a record's start are rewritten, so a
// record keeps its length for its whole life. Every record starts with its
// element kind (u32) and keeps its position and number (KV_TransLogRec) in
// memory. Little-endian throughout; strings and paths in their binary forms.
//
//   answer (kind 1)     0 kind, 4 ans, 5 ans_last, 6 tm (4), 10 question
//                       kind, 11 path, then the id (u32)
//   message (kind 2)    0 kind, 4 count (u32), 8 tm, 12 level, 13 id, 17 text
//   item (kind 4)       0 kind, 4 status, 5 op, 6 tm, 10 path, then the id
//   copy item (kind 5)  0 kind, 4 status, 5 time text (49 bytes, NUL-padded),
//                       54 size (i64), 62 tm_status, 66 size_local (i64),
//                       74 tm_local, 78 sub-log name (261 bytes, NUL-padded),
//                       339 path, then the phase (1) and the id
//
// write_bin writes the whole record at its position in one write; read_bin
// reads what follows the element kind (which the reading loop consumed) and
// refuses values that no writer produces, so a damaged record ends the
// readable part of a log. The in-place rewrites change the memory values
// first and then write them; their result says whether the file followed.
//
// Threads: none inside; the owning log holds its lock around every call.
#pragma once

#include <cstdint>

#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"
#include "transfers/kv_translog.h"

class KV_File;
class KV_TransLogIn;

// A remembered answer of the user to a question about an item (an empty
// path: about all items).
class KV_TransLogFileGrpAns
{
public:
    // Question kinds.
    static constexpr uint8_t ASK_OVERWRITE = 1;
    static constexpr uint8_t ASK_DELETE = 2;
    static constexpr uint8_t ASK_SKIP = 3;
    // Answers: none (cleared), Yes, No.
    static constexpr uint8_t ANS_NONE = 0;
    static constexpr uint8_t ANS_YES = 1;
    static constexpr uint8_t ANS_NO = 2;

    KV_TransLogFileGrpAns() = default;
    // No answer yet; for lookups.
    KV_TransLogFileGrpAns(uint8_t kind, const KV_PathDef& path);
    // ans and ans_last := ans.
    KV_TransLogFileGrpAns(uint8_t kind, uint8_t ans, const KV_PathDef& path);
    KV_TransLogFileGrpAns(const KV_TransLogFileGrpAns& other);
    KV_TransLogFileGrpAns& operator=(const KV_TransLogFileGrpAns& other);

    // The same question about the same item.
    bool operator==(const KV_TransLogFileGrpAns& other) const;
    // By question kind, then path.
    bool operator<(const KV_TransLogFileGrpAns& other) const;

    bool write_bin(KV_File& file);
    bool read_bin(KV_TransLogIn& in);
    // ans := `ans` (ans_last too when it is not 0), tm := now; rewrites
    // bytes 4 to 9.
    bool update(KV_File& file, uint8_t ans);

    KV_TransLogRec head;
    uint8_t ans() const { return ans_; }
    uint8_t ans_last() const { return ans_last_; }
    uint8_t kind() const { return kind_; }
    const KV_PathDef& path() const { return path_; }
    const KV_Time& tm() const { return tm_; }

private:
    uint8_t ans_ = 0;
    uint8_t ans_last_ = 0;
    uint8_t kind_ = 0;
    KV_PathDef path_;
    KV_Time tm_;
};

// A message of the request (level 0) or an error (level 1, 2), with the
// number of times it was added.
class KV_TransLogFileGrpMsg
{
public:
    KV_TransLogFileGrpMsg() = default;
    // Count 1.
    KV_TransLogFileGrpMsg(const KV_String& text, uint8_t level);
    KV_TransLogFileGrpMsg(const KV_TransLogFileGrpMsg& other) = default;
    KV_TransLogFileGrpMsg& operator=(const KV_TransLogFileGrpMsg& other) = default;

    bool write_bin(KV_File& file);
    bool read_bin(KV_TransLogIn& in);
    // count + 1, tm := now; rewrites bytes 4 to 11.
    bool repeat(KV_File& file);

    KV_TransLogRec head;
    const KV_String& text() const { return text_; }
    uint8_t level() const { return level_; }
    uint32_t count() const { return count_; }
    const KV_Time& tm() const { return tm_; }

private:
    KV_String text_;
    uint8_t level_ = 0;
    uint32_t count_ = 0;
    KV_Time tm_;
};

// The outcome for one item of a rename or delete request.
class KV_TransLogFileGrpFop
{
public:
    // Statuses.
    static constexpr uint8_t ST_OPEN = 0;
    static constexpr uint8_t ST_DONE = 1;
    static constexpr uint8_t ST_SKIPPED = 2;
    // What was done.
    static constexpr uint8_t OP_OTHER = 0;
    static constexpr uint8_t OP_RENAMED = 1;
    static constexpr uint8_t OP_DELETED = 2;

    KV_TransLogFileGrpFop() = default;
    KV_TransLogFileGrpFop(const KV_PathDef& path, uint8_t status, uint8_t op);
    KV_TransLogFileGrpFop(const KV_TransLogFileGrpFop& other);
    KV_TransLogFileGrpFop& operator=(const KV_TransLogFileGrpFop& other);

    // By path alone.
    bool operator==(const KV_TransLogFileGrpFop& other) const { return path_ == other.path_; }
    bool operator<(const KV_TransLogFileGrpFop& other) const { return path_ < other.path_; }

    bool write_bin(KV_File& file);
    bool read_bin(KV_TransLogIn& in);
    // status := `status`, op := `op` unless it is 0, tm := now; rewrites
    // bytes 4 to 9.
    bool update(KV_File& file, uint8_t status, uint8_t op);
    // Memory only: errors counted for the item (0 after a restore).
    void inc_err() { ++nerr_; }

    KV_TransLogRec head;
    uint8_t status() const { return status_; }
    uint8_t op() const { return op_; }
    const KV_Time& tm() const { return tm_; }
    const KV_PathDef& path() const { return path_; }
    uint32_t nerr() const { return nerr_; }

private:
    uint8_t status_ = 0;
    uint8_t op_ = 0;
    KV_Time tm_;
    KV_PathDef path_;
    uint32_t nerr_ = 0;
};

// One file or folder of a copy request in one phase: its status, what was
// known of the source item when the status was set, the properties of the
// local copy made for a file operation, and the name of its copy sub-log.
class KV_TransLogFileGrpFopCp
{
public:
    // Statuses.
    static constexpr uint8_t ST_INIT = 0;
    static constexpr uint8_t ST_RUNNING = 1;
    static constexpr uint8_t ST_DONE = 2;
    static constexpr uint8_t ST_SKIPPED = 3;
    // Widths of the two text fields, their NUL included.
    static constexpr uint32_t TM_TEXT_SIZE = 49;
    static constexpr uint32_t SUBLOG_SIZE = 261;
    // Offsets of the fields rewritten in place, and of the path.
    static constexpr int64_t OFF_STATUS = 4;
    static constexpr int64_t OFF_LOCAL = 66;
    static constexpr int64_t OFF_SUBLOG = 78;
    static constexpr int64_t OFF_PATH = 339;
    // Progress values beside the percentages (0-100 receiving, 101-201
    // delivering).
    static constexpr int32_t PROG_RUNNING = 0x7FFFFFFF;
    static constexpr int32_t PROG_DONE = 0x7FFFFFFE;

    KV_TransLogFileGrpFopCp() = default;
    // Status 0, sizes 0; for lookups.
    KV_TransLogFileGrpFopCp(uint8_t phase, const KV_PathDef& path, const KV_String& sublog);
    // size_local 0.
    KV_TransLogFileGrpFopCp(uint8_t phase, uint8_t status, const KV_PathDef& path,
                            const KV_String& sublog, int64_t size, const KV_String& tm_text);
    KV_TransLogFileGrpFopCp(const KV_TransLogFileGrpFopCp& other);
    KV_TransLogFileGrpFopCp& operator=(const KV_TransLogFileGrpFopCp& other);

    // By phase, then path.
    bool operator==(const KV_TransLogFileGrpFopCp& other) const;
    bool operator<(const KV_TransLogFileGrpFopCp& other) const;

    // Whether a sub-log name fits its field whole. A name cut to fit would
    // name another file, which a restart would then delete.
    static bool sublog_fits(const KV_String& name) { return name.length() < SUBLOG_SIZE; }

    // tm_status := now; the whole record. Refused (nothing written) while
    // the sub-log name does not fit.
    bool write_bin(KV_File& file);
    bool read_bin(KV_TransLogIn& in);
    // status, size, tm_text and tm_status := now; rewrites bytes 4 to 65.
    bool update(KV_File& file, uint8_t status, int64_t size, const KV_String& tm_text);
    // Rewrites bytes 66 to 77.
    bool set_props(KV_File& file, int64_t size_local, const KV_Time& tm_local);
    // Rewrites the sub-log field (bytes 78 to 338). A name that does not fit
    // is refused and nothing changes.
    bool set_sublog(KV_File& file, const KV_String& sublog);

    // Memory only.
    void set_progress(int32_t progress) { progress_ = progress; }
    void forget_sublog() { sublog_.clear(); }
    void inc_err() { ++nerr_; }

    KV_TransLogRec head;
    uint8_t status() const { return status_; }
    int64_t size() const { return size_; }
    int64_t size_local() const { return size_local_; }
    const KV_String& tm_text() const { return tm_text_; }
    const KV_Time& tm_status() const { return tm_status_; }
    const KV_Time& tm_local() const { return tm_local_; }
    const KV_String& sublog() const { return sublog_; }
    const KV_PathDef& path() const { return path_; }
    uint8_t phase() const { return phase_; }
    int32_t progress() const { return progress_; }
    uint32_t nerr() const { return nerr_; }

private:
    uint8_t status_ = 0;
    KV_String tm_text_;
    int64_t size_ = 0;
    int64_t size_local_ = 0;
    KV_Time tm_status_;
    KV_Time tm_local_;
    KV_String sublog_;
    KV_PathDef path_;
    uint8_t phase_ = 0;
    int32_t progress_ = PROG_RUNNING;
    uint32_t nerr_ = 0;
};
