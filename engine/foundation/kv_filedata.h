// File entries and the local folder search.
//
// KV_FileData is the entry every listing of every file system produces: one
// file or folder with its name, its raw and parsed time, its size and flag
// bits telling which of these are valid. KV_FileDataExt adds the three texts
// that Unix-like servers and the local disk report (access rights, owner,
// group). Entries are compared and sorted for display (KV_SORT_FD) and saved
// in a compact binary form. KV_FileFind lists one local folder and hands out
// its entries one by one as KV_FileDataExt.
//
// Threads: entries are plain values; an entry that several threads use is
// guarded by its owner. The display format and the folder-not-empty hook are
// installed once by the program at start-up and only read afterwards.
#pragma once

#include <cstdint>
#include <dirent.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"

// What the virtual KV_FileData::type() reports.
enum KV_FD_TYPE : uint32_t {
    KV_FD_DATA = 0,     // KV_FileData
    KV_FD_DATA_EXT = 1, // KV_FileDataExt
};

// Sort keys of KV_FileData::compare. Whatever the key, folders come before
// files and "." / ".." before other folders; names break ties.
enum KV_SORT_FD : uint32_t {
    KV_SORT_FD_NAME = 0,
    KV_SORT_FD_SIZE = 1,
    KV_SORT_FD_TIME = 2,
    KV_SORT_FD_ACCF = 3,  // KV_FileDataExt only
    KV_SORT_FD_USER = 4,  // KV_FileDataExt only
    KV_SORT_FD_GROUP = 5, // KV_FileDataExt only
    KV_SORT_FD_EXT = 6,   // file extension
};

// Entry flag bits.
inline constexpr uint8_t KV_FD_DIR = 0x01;        // a folder
inline constexpr uint8_t KV_FD_INVALID = 0x02;    // a listing line naming no usable file
inline constexpr uint8_t KV_FD_SIZE_ONREQ = 0x04; // size valid only when asked for
inline constexpr uint8_t KV_FD_ACCF = 0x08;       // access-rights text valid
inline constexpr uint8_t KV_FD_SIZE = 0x10;       // size valid
inline constexpr uint8_t KV_FD_TIME = 0x20;       // time valid
inline constexpr uint8_t KV_FD_NEMPTY = 0x40;     // folder not empty
inline constexpr uint8_t KV_FD_MULTIFRAG = 0x80;  // stored in several fragments

class KV_FileData : public KV_SafeObj
{
public:
    // A folder (flags 0x01) or a plain entry (flags 0) of that name; texts
    // empty, size 0, time invalid.
    KV_FileData(const KV_String& name = KV_String(), bool is_dir = false);
    // Flags 0; the display text is tm in the current display format.
    KV_FileData(const KV_String& name, const KV_String& time, int64_t size, const KV_Time& tm);
    KV_FileData(const KV_FileData& other);
    virtual ~KV_FileData();

    virtual KV_FD_TYPE type() const;
    // A new heap copy of the same class; free it with destr_clone.
    virtual KV_FileData* clone() const;
    // Copies name, raw time, size, display text, tm and flags.
    virtual KV_FileData& operator=(const KV_FileData& other);
    // Equal names and raw times (case-sensitive), equal size(false), equal
    // flag bytes.
    virtual bool operator==(const KV_FileData& other) const;
    // -1, 0 or +1: this entry's place against other's in a listing sorted by
    // key. Folders first, "." and ".." before other folders, then the key,
    // then the names ignoring ASCII case. descending reverses the whole order,
    // folders included.
    virtual int compare(const KV_FileData& other, KV_SORT_FD key, bool descending) const;

    // Deletes a copy made by clone() (or any heap entry); null is harmless.
    static void destr_clone(KV_FileData* fd);

    void set_name(const KV_String& name) { name_ = name; }
    void set_time(const KV_String& time) { time_ = time; }
    // Also makes the display text from the current display format.
    void set_tm(const KV_Time& tm);
    void set_size(int64_t size) { size_ = size; }
    // flags := set | (flags & ~clear)
    void set_fd_flags(uint8_t set, uint8_t clear);
    // Sets 0x40 when the installed folder-not-empty hook says so for path.
    void update_nempty(const KV_String& path);

    uint8_t flags() const { return flags_; }
    bool is_dir() const { return (flags_ & KV_FD_DIR) != 0; }
    bool not_empty() const { return (flags_ & KV_FD_NEMPTY) != 0; }
    bool valid_file() const { return (flags_ & KV_FD_INVALID) == 0; }
    bool valid_accf() const { return (flags_ & KV_FD_ACCF) != 0; }
    bool valid_time() const { return (flags_ & KV_FD_TIME) != 0; }
    // 0x10 set, or (on_request) 0x04 set.
    bool valid_size(bool on_request) const;
    // 0x80 set and a non-zero size.
    bool multifrag() const;

    // The size when valid_size(on_request), else 0.
    int64_t size(bool on_request) const;
    // strict: both sizes valid and equal. Lenient: also true when either size
    // is not valid.
    bool cmp_size(const KV_FileData& other, bool strict) const;
    // The text after the last '.' of the name; empty without a dot.
    KV_String fext() const;

    const KV_String& name() const { return name_; }
    const KV_String& time() const { return time_; }
    const KV_Time& tm() const { return tm_; }
    // The display text, or the raw time text when there is none.
    const KV_String& tm_disp() const;

    // The strftime format of display texts ("%c" until the program sets one).
    static void set_tm_form_disp(const KV_String& form);
    static const KV_String& tm_form_disp();
    // Installs the folder-not-empty question (null removes it). Called once by
    // the program at start-up; the hook runs on whichever thread calls
    // update_nempty (local-disk workers).
    static void set_impl_dir_nempty(bool (*impl)(const KV_String& path));

    // name, raw time (string forms), size as 8 bytes, flags as 1 byte. The
    // display text and tm are not stored: a read entry has an invalid tm.
    // read_bin changes the entry only when the whole record was read.
    bool write_bin(KV_Storage& st) const;
    bool read_bin(KV_Storage& st);

protected:
    // Steps shared by every compare: folders first, then "." and ".." first.
    // True when they decided (*result then holds the undirected result).
    bool compare_kind(const KV_FileData& other, int* result) const;

private:
    uint8_t flags_ = 0;
    KV_String name_;
    KV_String time_;
    KV_String tm_disp_;
    int64_t size_ = 0;
    KV_Time tm_;
};

class KV_FileDataExt : public KV_FileData
{
public:
    KV_FileDataExt() = default;
    // Flags 0, as the base's timed constructor.
    KV_FileDataExt(const KV_String& name, const KV_String& time, int64_t size,
                   const KV_String& accf, const KV_String& user, const KV_String& group,
                   const KV_Time& tm);
    KV_FileDataExt(const KV_FileDataExt& other);

    KV_FD_TYPE type() const override;
    KV_FileData* clone() const override;
    // The base assignment; the three texts too when other is an extended entry
    // (from a plain entry they stay as they were).
    KV_FileData& operator=(const KV_FileData& other) override;
    KV_FileDataExt& operator=(const KV_FileDataExt& other);
    // The base comparison; with an extended entry the three texts as well.
    bool operator==(const KV_FileData& other) const override;
    // Keys 3 to 5 against an extended entry compare the texts byte by byte
    // (case-sensitive); everything else is the base compare.
    int compare(const KV_FileData& other, KV_SORT_FD key, bool descending) const override;

    const KV_String& accf() const { return accf_; }
    const KV_String& user() const { return user_; }
    const KV_String& group() const { return group_; }
    void set_accf(const KV_String& accf) { accf_ = accf; }

private:
    KV_String accf_;
    KV_String user_;
    KV_String group_;
};

// Lists one local folder. begin() takes a folder path with a wildcard name
// ("/home/u/*.*"); "*.*" and "*" match every name, with or without a dot,
// "." and ".." included. Each entry is examined with lstat, so a symbolic link
// is listed as itself. Access letters: "R" when the owner may not write, "H"
// for names starting with a dot.
//
// Threads: one thread at a time. Owns an open folder handle: not copyable.
class KV_FileFind
{
public:
    KV_FileFind();
    virtual ~KV_FileFind();
    KV_FileFind(const KV_FileFind&) = delete;
    KV_FileFind& operator=(const KV_FileFind&) = delete;

    // Restarts the search; true when a first match exists (false also when
    // the folder cannot be opened).
    bool begin(const KV_String& pattern);
    // True when no search is open: after the last entry was handed out.
    bool end() const { return handle == nullptr; }
    // The current entry, then moves on; the search closes itself right after
    // handing out the last entry. The reference is overwritten by the next get.
    const KV_FileDataExt& get();
    void close();

private:
    // What the folder search reports of one match.
    struct FindRecord
    {
        uint32_t attrib = 0;     // 0x01 read-only, 0x02 hidden, 0x10 folder
        int64_t time_write = -1; // seconds since 1970, -1 when unknown
        int64_t size = 0;        // bytes; 64-bit so that large files list whole
        KV_String name;
    };

    // Reads on until a name matches and lstat succeeds; false at the end.
    bool next_match();

    KV_FileDataExt entry;
    FindRecord find_data;
    DIR* handle = nullptr;
    KV_String dir_path;
    KV_String name_pattern; // empty: every name
};
