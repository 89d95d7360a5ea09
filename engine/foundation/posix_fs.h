// File-system steps that the engine's moves, saves and clean-ups need beside
// KV_File's toolbox: renames that never replace or never lose the
// destination, a move of a file to another file system, the copy and the
// removal of a whole tree, the carrying over of permissions and times to a
// copy, the read-only attribute, and the durability of a rename. With
// kv_file.cpp, kv_filedata.cpp, kv_tmpfile.cpp and trash.cpp this is where
// Linux stands in for the local disk's Windows calls. Like KV_File's statics
// they report failure by their result and leave the reason in errno. Paths
// are POSIX paths in UTF-8 bytes.
//
// What the user deletes never goes through kv_remove_tree: the delete walker
// removes item by item, asking where it must, through KV_File::del and
// KV_File::rmdir.
#pragma once

#include <sys/stat.h>

#include <cstdint>

class KV_ProgressMan;
class KV_Stoppable;

// rename(2) that never replaces: false with errno EEXIST when something is
// already at dst. Where the file system cannot check and move in one step
// (no RENAME_NOREPLACE), dst is looked at just before the rename; a name
// taken between those two steps is the one case left open.
bool kv_rename_noreplace(const char* src, const char* dst);

// Removes path and, for a folder, everything inside it. Symbolic links are
// removed, never followed: a link to a folder outside the tree cannot lead
// the removal out of it. Stops at the first failure (what went stays gone).
bool kv_remove_tree(const char* path);

// Copies the item at src, whatever it is, to the new name dst, which must
// not exist: a file by its bytes, a link as a link (never followed, also when
// it replaces a file or folder while the copy runs), a folder with
// everything in it; each copy keeps the permissions and times of its
// original, and every file and folder copied is synced to the disk. Devices,
// pipes and sockets cannot be copied (errno EOPNOTSUPP); an item that changed
// between the look and the copy fails it (errno EAGAIN). On failure what was
// copied so far stays at dst for the caller to remove (kv_remove_tree).
bool kv_copy_tree(const char* src, const char* dst);

// Gives path the permission bits and the access and modification times that
// st (the lstat of the original) records. A link keeps its own permissions
// (Linux has none for links) but gets the times. Setting the times is a
// courtesy; the result is that of the permissions.
bool kv_keep_attrs(const char* path, const struct stat& st);

// Replaces whatever is at dst by src. rename(2) does that in one step for a
// file over a file and a folder over an empty folder; for the other kinds
// the old destination is first moved aside (next to it) and comes back when
// the rename fails, so a failed replacement never costs the destination.
// The old destination goes for good once src is in place (a leftover that
// cannot be removed stays hidden beside it).
bool kv_rename_replace(const char* src, const char* dst);

// Moves the regular file src to dst on another file system: a copy next to
// dst (stop, when given, is asked between chunks), with src's permissions and
// times, renamed into place, then src removed. dst appears whole or not at
// all, and src goes only once dst is in place; without `replace` an existing
// dst is never replaced. Anything but a regular file is refused with errno
// EXDEV.
bool kv_move_file_across(const char* src, const char* dst, bool replace, KV_Stoppable* stop);

// Writes the bytes of the file src, from its start to its end as it is
// read, to the descriptor `out` (-1 fails the copy), which is closed here
// whatever the result: a file system that writes late may report a failure
// only then. `stop`, when given, is asked before each piece (a stop fails
// the copy with errno ECANCELED); `progress`, when given, hears the bytes
// written so far after each. No look at either file beyond the reads and
// writes: a small file costs an open, two reads, a write and two closes.
bool kv_copy_file_to(const char* src, int out, KV_Stoppable* stop, KV_ProgressMan* progress);

// The read-only attribute as the write permission: set, every write bit goes;
// cleared, the owner may write again. Follows links.
bool kv_set_rdonly(const char* path, bool rdonly);

// The number of the file system that holds path (a link itself, or with
// follow its target). False when path cannot be looked at.
bool kv_file_system(const char* path, bool follow, uint64_t& id);

// Makes a rename or creation in folder dir durable (fsync of the folder).
// Some file systems refuse that; what was renamed stays renamed, so the
// result is only the sync's.
bool kv_sync_dir(const char* dir);

// A folder held open so that files are made, renamed and removed in it by
// name, never through a symbolic link: the folder is reached from `base`
// (the folder someone chose, taken as it is named, links and all) one
// folder name at a time, each opened without following a link, so a link
// planted at any folder below the base, or swapped in while a file is
// written, ends the walk (errno ELOOP or ENOTDIR) instead of leading out of
// the tree. The descriptor only names the folder (O_PATH): no read
// permission on it is needed. One thread at a time; owns its descriptor.
class KV_DirBeneath
{
public:
    KV_DirBeneath() = default;
    ~KV_DirBeneath();
    KV_DirBeneath(const KV_DirBeneath&) = delete;
    KV_DirBeneath& operator=(const KV_DirBeneath&) = delete;

    // Opens base, then each of the `n` names of `below` in turn inside the
    // last one. Whatever was open before is closed first. A name that is
    // empty, "." or "..", or holds a '/', is refused (EINVAL).
    bool open(const char* base, const char* const* below, uint32_t n);
    bool opened() const { return fd >= 0; }
    void close();

    // A new regular file `name` in the folder, open for writing (mode 0666
    // less the umask): created with O_EXCL and O_NOFOLLOW, so an existing
    // name, a link at it included, is never written through. With
    // `fresh`, whatever file or link is at the name is removed and the
    // creation tried again (a folder stays, and the creation fails). The caller owns the returned
    // descriptor; -1 on failure.
    int create(const char* name, bool fresh);
    // The regular file `name` in the folder, open for reading and writing,
    // created (mode 0666 less the umask) when it is not there; a link at the
    // name is not followed and anything but a regular file is refused. The
    // caller owns the returned descriptor; -1 on failure.
    int open_rw(const char* name);
    // renameat(2) within the folder: `to` is replaced as it is, a link at it
    // included (its target is never touched).
    bool rename(const char* from, const char* to);
    // Removes the file or link `name`; true when nothing is left at the name
    // (it was not there either).
    bool remove(const char* name);

private:
    int fd = -1;
};
