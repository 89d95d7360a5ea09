// Paths independent of any file system's notation, and the notations.
//
// The engine never passes paths around as text. A KV_PathDef is the ordered
// list of a path's entries (drive or root, folders, file name); a KV_PathMan
// knows one file system's notation (folder separator, optional parameter
// separator, case sensitivity, prefix of absolute paths) and turns text into a
// KV_PathDef (split_path) and back (build_path). KV_PathDefDir adds a folder
// flag, KV_ComplPath binds a path to its notation so it can print itself.
//
// Failures are bool results (false only when memory cannot be had, or where a
// function says otherwise); nothing throws.
//
// Threads: plain values; one thread at a time per object.
#pragma once

#include <cstdint>

#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_Storage;

class KV_PathDef
{
public:
    // No entries, root_entry set.
    KV_PathDef();
    // Copies by operator=; a copy that runs out of memory holds the entries
    // copied so far.
    KV_PathDef(const KV_PathDef& other);
    virtual ~KV_PathDef();

    // Copies root_entry and the entries. False when an entry cannot be added
    // (the copy then holds the entries added so far).
    bool operator=(const KV_PathDef& other);

    // True when entry 0 is the root of the path (a drive, the file system's
    // prefix or a root separator) rather than an ordinary folder.
    bool root_entry() const { return root_entry_; }
    void set_root_entry(bool root_entry) { root_entry_ = root_entry; }

    // Removes all entries; root_entry stays.
    void clear();
    bool append(const KV_String& entry);
    bool prepend(const KV_String& entry);

    // Whether the n bytes at name can be appended as one entry below a
    // folder and stay there: not empty, not "." or "..", no '/' and no NUL.
    // Names that a server lists are checked with this before they become
    // part of any path; a NUL is refused rather than cut at, since the text
    // before it may name another file.
    static bool is_entry_name(const unsigned char* name, uint32_t n);
    // The same over all of the string's bytes, NUL bytes included.
    static bool is_entry_name(const KV_String& name);
    // Removes the last entry; true also when the path is empty.
    bool remove_last();

    // All entries, the root entry included.
    uint32_t entries() const;
    // Index of the first ordinary entry: 1 with a root entry, else 0.
    uint32_t first_ind() const { return root_entry_ ? 1 : 0; }
    // No entries at all.
    bool empty() const { return entries() == 0; }
    const KVTL::KV_ListVal<KV_String>& list() const { return list_; }
    // Entry i; an empty string when out of range.
    const KV_String& at(uint32_t i) const;
    // The entry at first_ind(), or an empty string when there is none.
    const KV_String& first() const;
    // The last entry, or an empty string.
    const KV_String& last() const;

    // Same entries, case-sensitive; root_entry is not compared.
    bool operator==(const KV_PathDef& other) const;
    // Fewer entries first; with equal counts the first differing entry pair
    // decides (KV_String order).
    bool operator<(const KV_PathDef& other) const;
    // Same number of entries, each pair equal under KV_String::compare.
    bool is_equal(const KV_PathDef& other, bool case_sens) const;

    // True when this path has no more entries than other and each of its
    // entries equals other's entry at the same index: a path is its own
    // parent, the empty path everyone's. When true, child is given and other
    // is longer, *child receives other's entry right below this path.
    bool is_parent(const KV_PathDef& other, bool case_sens, KV_String* child = nullptr) const;

    // Makes root_entry equal to other's. Becoming set: prefix is prepended as
    // the root entry unless it is empty. Becoming clear: entry 0 is removed
    // when it equals prefix (case-sensitive); otherwise false, the flag being
    // cleared all the same.
    bool adjust(const KV_PathDef& other, const KV_String& prefix);

    // Resolves "." and ".." entries. A ".." may never climb to or above the
    // first ordinary entry: [a, b, ..] gives [a]; [a, ..] is invalid. True
    // when the result is valid and holds at least one ordinary entry.
    bool validate();

    // root_entry as 1 byte, the entry count as u32 little-endian, then each
    // entry in string form. read_bin adds the entries read to those present
    // and stops with false at the first short read; the entries read until
    // then are kept. True only when every part moved.
    bool write_bin(KV_Storage& st) const;
    bool read_bin(KV_Storage& st);

private:
    bool root_entry_ = true;
    KVTL::KV_ListVal<KV_String> list_;
};

// A path with a flag telling whether it names a folder.
class KV_PathDefDir : public KV_PathDef
{
public:
    KV_PathDefDir(const KV_PathDef& path, bool is_dir);
    KV_PathDefDir(const KV_PathDefDir& other);

    // Copies the flag and the path; the result of the path's copy.
    bool operator=(const KV_PathDefDir& other);

    bool is_dir() const { return is_dir_; }

    // Equal flags and KV_PathDef::is_equal of the paths.
    bool is_equal(const KV_PathDefDir& other, bool case_sens) const;

private:
    bool is_dir_;
};

// The notation of one file system's paths.
class KV_PathMan
{
public:
    // Case-sensitive, no parameter separator, no prefix.
    explicit KV_PathMan(const char& dir_sep = '\\');
    KV_PathMan(const KV_PathMan& other) = default;
    KV_PathMan& operator=(const KV_PathMan& other) = default;

    void set_case_sens(bool case_sens) { case_sens_ = case_sens; }
    bool case_sens() const { return case_sens_; }
    void set_dir_sep(char dir_sep) { dir_sep_ = dir_sep; }
    char dir_sep() const { return dir_sep_; }
    // Where the name part of a path ends and parameters begin; 0 for none.
    void set_par_sep(char par_sep) { par_sep_ = par_sep; }
    char par_sep() const { return par_sep_; }
    // The prefix of absolute paths of this file system.
    void set_dir_pre(const KV_String& dir_pre) { dir_pre_ = dir_pre; }
    const KV_String& dir_pre() const { return dir_pre_; }

    // Clears path, sets its root_entry to root and appends the entries of
    // text. A separator at the start of the remaining text becomes an entry of
    // its own (a root separator, or the empty name between two separators); a
    // trailing separator adds nothing; separators at or after the parameter
    // separator do not split. False when an entry cannot be added.
    bool split_path(const KV_String& text, KV_PathDef& path, bool root) const;

    // The text of path. With with_pre, a path without root entry gets dir_pre
    // in front; without it, a path's root entry is left out when there is a
    // dir_pre. nabbrev != 0 gives the shortened display form: "..." in place
    // of the first nabbrev non-empty entries. Empty entries are skipped and a
    // separator is added only where out does not already end with one.
    // False when memory cannot be had.
    bool build_path(KV_String& out, const KV_PathDef& path, bool with_pre, uint32_t nabbrev) const;
    // The same for path with name appended; an empty name gives false with
    // out untouched.
    bool build_path(KV_String& out, const KV_PathDef& path, const KV_String& name, bool with_pre,
                    uint32_t nabbrev) const;

    // dir without its trailing separators and with exactly one dir_sep
    // appended; an empty text stays empty.
    KV_String compl_dir(const KV_String& dir) const;
    // The text is not empty and does not end with dir_sep.
    bool is_fname(const KV_String& text) const;

private:
    bool case_sens_ = true;
    char dir_sep_;
    char par_sep_ = 0;
    KV_String dir_pre_;
};

// A path bound to the notation it is printed in.
class KV_ComplPath
{
public:
    KV_ComplPath(const KV_PathMan& man, const KV_PathDef& path);
    KV_ComplPath(const KV_ComplPath& other);

    // Assigns the notation and the path; the result of the path's copy.
    bool operator=(const KV_ComplPath& other);

    const KV_PathMan& man() const { return man_; }
    const KV_PathDef& path() const { return path_; }

    // KV_PathMan::build_path of its own path in its own notation.
    bool build_path(KV_String& out, bool with_pre, uint32_t nabbrev) const;

private:
    KV_PathMan man_;
    KV_PathDef path_;
};
