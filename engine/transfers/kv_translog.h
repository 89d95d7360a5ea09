// The frame that every transfer-log file shares, and the base of the logs.
//
// A transfer-log file is what lets an interrupted transfer resume after the
// program restarts. Every kind (the copy sub-log, the request logs) starts
// its file with the same frame:
//
//   offset  size  content
//   0       52    the header text "SARVO-KET: Temporary transfer file ( KIVREL v2.1 )."
//                 with its terminating NUL (compared like the other bytes)
//   52      1     type byte: 1 copy sub-log, 2 copy/move request log,
//                 3 delete request log, 4 rename request log; 0 while the
//                 file is being created
//   53      rest  the body of the kind (write_data / read_data)
//
// The type byte is written last, after the body is complete and the file has
// been reopened, so a creation cut short leaves type 0, which no restore
// accepts. After a successful create or restore the file stays open in
// "r+b" (unbuffered) so that the kinds can rewrite single fields in place at
// offsets they remembered while writing or reading the body.
//
// Threads: `lock` guards the file and the ok flag. It is not re-entrant:
// write_data and read_data run inside create/restore with the lock held and
// must not take it; a kind takes it around its own reads and rewrites and
// must not call create, restore or close while holding it.
#pragma once

#include <cstdint>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_event.h"
#include "foundation/kv_file.h"
#include "foundation/kv_string.h"

class KV_TmpFileMan;

// The head of a fixed record that a log keeps in its body and rewrites in
// place: where the record starts in the log file and its number within the
// log. Not stored as a whole; records write the id where their format says.
class KV_TransLogRec
{
public:
    KV_TransLogRec() = default;
    KV_TransLogRec(const KV_TransLogRec&) = default;
    KV_TransLogRec& operator=(const KV_TransLogRec&) = default;

    void set_pos(int64_t pos) { pos_ = pos; }
    void set_id(uint32_t id) { id_ = id; }
    int64_t pos() const { return pos_; }
    uint32_t id() const { return id_; }

private:
    int64_t pos_ = 0;
    uint32_t id_ = 0;
};

class KV_TransLog : public KV_ErrHandler
{
public:
    // Length of the header text with its NUL, and of the whole frame.
    static constexpr uint32_t HDR_SIZE = 52;
    static constexpr uint32_t FRAME_SIZE = HDR_SIZE + 1;
    // The header text (HDR_SIZE bytes including the NUL).
    static const char HDR_TEXT[HDR_SIZE];

    // On the file `name`; nothing is opened.
    explicit KV_TransLog(const KV_String& name);
    // A log owns an open file and a lock; it is never copied.
    KV_TransLog(const KV_TransLog&) = delete;
    KV_TransLog& operator=(const KV_TransLog&) = delete;
    // Closes the file; the file stays on disk (deleting logs is the kinds'
    // business).
    ~KV_TransLog() override;

    // Writes a new file: frame, body, then the type byte. An open failure is
    // reported to `eh` (priority 2) as "Couldn't open the file %s for
    // writing (%s)."; other failures only by the result. On success the file
    // is open in "r+b", positioned after the type byte, and ok() is true.
    bool create(KV_ErrHandler& eh);
    // Checks an existing file and registers its name as in use with the
    // temporary-file manager. With `type` null: the type byte must be this
    // kind's (never 0) and the body must read; on success the file is open in
    // "r+b" and ok() is true. With `type` given (peek): only the header is
    // checked, the type byte goes to *type, the body is not read and the file
    // is left closed (ok() stays false). `eh` is not used: a file that does
    // not restore is the caller's to judge. Never trusts the file's contents.
    bool restore(KV_ErrHandler& eh, uint8_t* type);
    // Closes the file under the lock; ok() is unchanged, so a later rewrite
    // of a kind reopens it.
    void close();

    // The file's name. Set it before the log is shared with other threads.
    bool set_name(const KV_String& name);
    const KV_String& name() const { return file.name(); }
    bool has_name() const { return !file.name().empty(); }
    // The last create or restore succeeded (and no other has begun since).
    bool ok();

    // The kind's type byte; 0 for the bare frame.
    virtual uint8_t type() const;

    // The temporary-file manager that names and registers log files.
    static KV_TmpFileMan& tmp_file_man();

protected:
    // Errors reported to a log are dropped here; the request log keeps them.
    void process_err(uint8_t code, const KV_String& text) override;
    // The body, at the file's current position; called with `lock` held.
    virtual bool write_data();
    virtual bool read_data();

    // With `lock` held: true when the file is open, reopening it (mode "r+b")
    // when it was closed, but only while ok_ is set.
    bool reopen();

    mutable KV_Lock lock;
    // Guarded by `lock`.
    uint8_t ok_ = 0;
    KV_File file;
};
