// Disk files and the file-system toolbox of the engine, and the table of
// well-known folders.
//
// KV_File is a KV_Storage over a stdio stream, so every stored form of the
// engine can go to or come from a disk file the same way as from a KV_Stream.
// Positions and sizes are 64-bit. Its statics wrap the operating system's file
// calls for the whole engine; they report failure by their result (false, an
// empty string) and leave the reason in errno, which KV_ErrHandler::last_err
// turns into text.
//
// Paths are POSIX paths in UTF-8 bytes; the folder separator is '/'.
#pragma once

#include <cstdint>
#include <cstdio>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_Time;
class KV_Stoppable;
class KV_ProgressMan;
namespace KVTL {
template <class T> class KV_ListVal;
}

// Entries of the well-known folder table. The program fills them once at
// start-up (KV_File::set_path); the engine only reads them afterwards.
enum KV_PATH_TYPE : uint32_t {
    KV_PATH_PROGRAM = 0,   // the program's own folder (help, shortcut files)
    KV_PATH_SETTINGS = 1,  // per-user settings: the data-source file lives here
    KV_PATH_DATA = 2,      // the program's exchange files (clipboard, drag and drop)
    KV_PATH_CA_FILE = 3,   // PEM bundle of trusted certification authorities
    KV_PATH_CERT_FILE = 4, // PEM file of the program's own certificate and key
    KV_PATH_KEY_PASS = 5,  // pass phrase of that key (a value, not a path)
    KV_PATH_CIPHERS = 6,   // SSL cipher list (a value, not a path)
    KV_PATH_SRV_CERTS = 7, // store of trusted server certificates
    KV_PATH_HOST_KEYS = 8, // store of trusted SSH host keys
    KV_PATH_TMP = 9,       // the program's temporary folder (logs, KV_TmpFileMan)
    KV_PATH_SYS_TMP = 10,  // the system's temporary folder
};

// Number of entries of the well-known folder table.
inline constexpr uint32_t KV_PATH_COUNT = 11;

// A disk file. The object owns its stream and closes it in its destructor.
// No lock of its own: an object shared by threads is guarded by its owner.
class KV_File : public KV_Storage
{
public:
    // Closed, empty name, mode "rt", buffered.
    KV_File();
    // Closed; open() opens name with mode (an fopen mode text).
    KV_File(const KV_String& name, const KV_String& mode);
    // Copying copies name, mode and the unbuffered flag; the copy is closed
    // (a stream is never shared, so it is closed exactly once). Assigning to
    // an open file closes it first.
    KV_File(const KV_File& other);
    KV_File& operator=(const KV_File& other);
    ~KV_File() override;

    // A stream is open.
    bool opened() const override;
    // Closes, then opens name with mode (unbuffered when set_no_buff was
    // called). True when a stream is open afterwards; an empty name gives
    // false.
    bool open() override;
    // Closes, then takes over the open descriptor fd as the stream, with
    // mode (an fdopen mode text that fits how fd was opened) and name (only
    // remembered: a later open() opens it by name). A descriptor that cannot
    // be taken over is closed. True when a stream is open afterwards.
    bool open_fd(int fd, const KV_String& name, const KV_String& mode);
    // Closes the stream when one is open. Always true: no stream is open
    // afterwards. A write error that shows only on close is not reported;
    // callers that must know flush first (see copy).
    bool close() override;
    // Up to n bytes; the count read, 0 when closed or at the end.
    uint32_t read(void* dst, uint32_t n) override;
    // The count written; 0 when closed.
    uint32_t write(const unsigned char* src, uint32_t n) override;
    // Writes n bytes at `pos`; the count written, 0 when closed. An
    // unbuffered stream takes them in one positional write and keeps its
    // position; a buffered one is moved to `pos` and written as write() does.
    uint32_t write_at(int64_t pos, const unsigned char* src, uint32_t n);

    // True when closed, else the stream's end-of-file indicator.
    bool end() const;
    // Change the name or the mode; an open file is reopened at once and the
    // result is that of the reopening, else true.
    bool set_name(const KV_String& name);
    bool set_mode(const KV_String& mode);
    // Absolute 64-bit position. False when closed or the seek fails (a
    // negative position always fails).
    bool set_pos(int64_t pos);
    // pos receives 0, then the current position. False when closed or on
    // failure.
    bool pos(int64_t& pos);
    // Reads and drops n text lines (KV_String::read_txt); true when all n
    // were ended by LF.
    bool skip(uint32_t n);
    // Closes, then deletes the file (del without the trash). An empty name
    // gives false.
    bool remove();
    // Hands the buffered bytes to the system and, with durable, waits until
    // they are on the disk (fsync). False when closed or when a step fails: a
    // full disk often shows only here, not in write().
    bool flush(bool durable = false);
    // The stream is made unbuffered at the next open().
    void set_no_buff();
    // The stream is buffered again from the next open() on.
    void set_buff();

    const KV_String& name() const { return name_; }
    const KV_String& mode() const { return mode_; }
    // The stream handle; null when closed.
    operator FILE*() const { return fp; }

    // ---- file-system operations (thread-safe; errno keeps the reason)

    // Creates one folder (mode 0777 less the umask).
    static bool mkdir(const KV_String& path);
    // Removes an empty folder (rmdir(2): a folder that holds anything stays,
    // errno ENOTEMPTY). With recycle, the folder goes to the user's trash
    // with everything inside it. False when path is not a folder (a link to
    // one is not).
    static bool rmdir(const KV_String& path, bool recycle);
    // Removes a file, a symbolic link, or a folder with everything inside it.
    // With recycle, the item goes to the user's trash (freedesktop.org
    // layout under $XDG_DATA_HOME/Trash) instead.
    static bool del(const KV_String& path, bool recycle);
    // Appends the roots of the local file system: one entry, "/". False when
    // the add fails. The list is not cleared first.
    static bool get_drives(KVTL::KV_ListVal<KV_String>& list);
    // Copies bytes between two open files: from src_pos in src to dst_pos in
    // dst, in chunks of 32768 bytes. size 0 copies to the end of src; any
    // other size must be copied whole. Before every chunk the stop object (if
    // any) is asked; a stop makes the copy fail, bounded or not. After every
    // chunk written, progress (if any) gets the absolute destination position
    // reached (dst_pos plus the bytes copied). copied (if given) receives the
    // count copied on success and 0 on failure. Bytes already written stay in
    // dst on failure. Runs on the caller's thread; stop may be set from any.
    static bool copy(KV_File& src, KV_File& dst, int64_t src_pos, int64_t dst_pos, int64_t size,
                     int64_t* copied = nullptr, KV_Stoppable* stop = nullptr,
                     KV_ProgressMan* progress = nullptr);
    // Opens src with "rb" and dst with "wb" (created or truncated), copies as
    // above, flushes and closes both. True only when every step succeeded.
    static bool copy(const KV_String& src, const KV_String& dst, int64_t src_pos, int64_t dst_pos,
                     int64_t size, KV_Stoppable* stop = nullptr,
                     KV_ProgressMan* progress = nullptr);
    // rename(2): files and folders; an existing file at new_name is replaced
    // atomically. Fails with errno EXDEV across file systems.
    static bool rename(const KV_String& old_name, const KV_String& new_name);
    // The path exists (access(2), following links).
    static bool exists(const KV_String& path);
    // The path is a folder (stat(2), following links).
    static bool is_dir(const KV_String& path);
    // The 64-bit size and the modification time; outputs untouched on failure.
    static bool props(const KV_String& path, int64_t& size, KV_Time& mtime);
    // The process's current folder; empty on failure.
    static KV_String cwd();
    // A fresh name (full path) in the system's temporary folder that no file
    // has now; empty on failure. Nothing is created: callers that must own
    // the name create it with O_EXCL (KV_TmpFileMan does).
    static KV_String tmp_name();
    // A random file name of the form tmp_name() gives, without a folder and
    // without looking whether any folder has it; empty on failure.
    static KV_String random_name();
    // The absolute form of name, worked out from the text alone (relative
    // names against cwd(); ".", ".." and repeated separators resolved; links
    // are not followed; the file need not exist); empty on failure. With
    // add_sep one '/' is appended, also to an empty result.
    static KV_String path_full(const KV_String& name, bool add_sep);

    // ---- the well-known folder table (thread-safe: one library-wide lock)

    // Stores value without its trailing '\\' and '/' characters. False, with
    // nothing changed, for a type outside the table.
    static bool set_path(KV_PATH_TYPE type, const KV_String& value);
    // A copy of the entry (empty when unset or outside the table); with
    // add_sep one '/' is appended, also to an empty value.
    static KV_String path(KV_PATH_TYPE type, bool add_sep);

private:
    FILE* fp = nullptr;
    KV_String name_;
    KV_String mode_;
    bool no_buff = false;
    // The open stream has no buffer: no bytes wait in it that a positional
    // write could overtake.
    bool unbuffered_ = false;
};
