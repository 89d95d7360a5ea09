// The Linux calls behind the engine's renames, moves, tree removals, copies
// of attributes and folder syncs.
#include "foundation/posix_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_file.h"
#include "foundation/kv_stoppable.h"

namespace {

bool is_dot_or_dotdot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Calls visit with the name of each entry of the open folder but "." and
// "..", until visit returns false. True when every entry was visited; false,
// with errno set, when visit or the reading failed.
bool each_entry(DIR* dir, const std::function<bool(const char*)>& visit)
{
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            return errno == 0;
        }
        if (!is_dot_or_dotdot(entry->d_name) && !visit(entry->d_name)) {
            return false;
        }
    }
}

// Removes name (relative to dir_fd) and, for a folder, what it holds. Every
// step goes through the folder's descriptor opened with O_NOFOLLOW, so a
// folder swapped for a link half-way is not entered either.
bool remove_tree_at(int dir_fd, const char* name)
{
    struct stat st;
    if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        return unlinkat(dir_fd, name, 0) == 0;
    }
    const int fd = openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    const bool ok =
        each_entry(dir, [dir](const char* entry) { return remove_tree_at(dirfd(dir), entry); });
    const int err = errno;
    closedir(dir);
    if (!ok) {
        errno = err;
        return false;
    }
    return unlinkat(dir_fd, name, AT_REMOVEDIR) == 0;
}

// A name next to path (same folder, so a rename to it stays on one file
// system) that no other step of this process uses.
std::string side_name(const char* path, const char* what)
{
    static std::atomic<uint32_t> seq{0};
    return std::string(path) + ".kivrel-" + what + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(seq.fetch_add(1, std::memory_order_relaxed));
}

// close(2) that keeps the errno of the failure being reported.
void close_quietly(int fd)
{
    const int err = errno;
    ::close(fd);
    errno = err;
}

bool write_all(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The bytes of the open regular file `in` to the new name dst, which must
// not exist yet (O_EXCL: nothing is ever replaced), with st's permissions
// and times; on the disk before it returns true.
bool copy_file(int in, const std::string& dst, const struct stat& st)
{
    const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        return false;
    }
    bool ok = true;
    std::vector<char> buf(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!write_all(out, buf.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    if (ok) {
        ok = ::fchmod(out, st.st_mode & 07777) == 0;
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        const int err = errno;
        ::futimens(out, times);
        errno = err;
    }
    ok = ok && ::fsync(out) == 0;
    if (::close(out) != 0 && ok) {
        ok = false;
    }
    return ok;
}

// Copies the item `name` of the folder dir_fd (AT_FDCWD: a path) to dst.
// The item is opened once, without following a link, and copied through
// that descriptor, so whatever is swapped in at the name after it was
// looked at is never read; a folder's entries are reached through its
// descriptor the same way. Each copy is synced before it counts as done.
bool copy_tree_at(int dir_fd, const char* name, const std::string& dst)
{
    struct stat st;
    if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size) + 1 > 4096
                                     ? static_cast<size_t>(st.st_size) + 1
                                     : 4096);
        const ssize_t n = readlinkat(dir_fd, name, target.data(), target.size() - 1);
        if (n < 0) {
            return false;
        }
        target[static_cast<size_t>(n)] = '\0';
        return symlink(target.data(), dst.c_str()) == 0 && kv_keep_attrs(dst.c_str(), st);
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // Devices, pipes and sockets cannot be carried over by copying.
        errno = EOPNOTSUPP;
        return false;
    }
    // O_NONBLOCK: a pipe swapped in must not hold the open.
    const int fd = openat(dir_fd, name,
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                              (S_ISDIR(st.st_mode) ? O_DIRECTORY : 0));
    if (fd < 0) {
        return false;
    }
    struct stat now;
    if (fstat(fd, &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino ||
        (now.st_mode & S_IFMT) != (st.st_mode & S_IFMT)) {
        // Something else took the name between the look and the open.
        close_quietly(fd);
        errno = EAGAIN;
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        const int flags = fcntl(fd, F_GETFL);
        const bool ok =
            (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) && copy_file(fd, dst, now);
        close_quietly(fd);
        return ok;
    }
    if (::mkdir(dst.c_str(), 0700) != 0) {
        close_quietly(fd);
        return false;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close_quietly(fd);
        return false;
    }
    bool ok = each_entry(
        dir, [&](const char* entry) { return copy_tree_at(dirfd(dir), entry, dst + "/" + entry); });
    const int err = errno;
    closedir(dir);
    errno = err;
    // A file system that cannot sync folders (EINVAL) keeps them as it can.
    return ok && kv_keep_attrs(dst.c_str(), now) && (kv_sync_dir(dst.c_str()) || errno == EINVAL);
}

// unlink(2) that keeps the errno of the failure being reported.
void unlink_quietly(const char* path)
{
    const int err = errno;
    ::unlink(path);
    errno = err;
}

} // namespace

bool kv_rename_noreplace(const char* src, const char* dst)
{
    if (renameat2(AT_FDCWD, src, AT_FDCWD, dst, RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    struct stat st;
    if (lstat(dst, &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(src, dst) == 0;
}

bool kv_remove_tree(const char* path)
{
    if (path == nullptr || path[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    return remove_tree_at(AT_FDCWD, path);
}

bool kv_copy_tree(const char* src, const char* dst)
{
    if (src == nullptr || src[0] == '\0' || dst == nullptr || dst[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    return copy_tree_at(AT_FDCWD, src, dst);
}

bool kv_keep_attrs(const char* path, const struct stat& st)
{
    const bool ok = S_ISLNK(st.st_mode) || ::chmod(path, st.st_mode & 07777) == 0;
    const int err = errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW);
    errno = err;
    return ok;
}

bool kv_rename_replace(const char* src, const char* dst)
{
    if (::rename(src, dst) == 0) {
        return true;
    }
    const int err = errno;
    if (err != EEXIST && err != ENOTEMPTY && err != EISDIR && err != ENOTDIR) {
        return false;
    }
    const std::string aside = side_name(dst, "old");
    if (!kv_rename_noreplace(dst, aside.c_str())) {
        errno = err;
        return false;
    }
    if (::rename(src, dst) != 0) {
        const int err2 = errno;
        ::rename(aside.c_str(), dst);
        errno = err2;
        return false;
    }
    // The old destination goes for good, never to the trash: it was
    // replaced. Should that fail, a hidden leftover stays, nothing is lost.
    kv_remove_tree(aside.c_str());
    errno = 0;
    return true;
}

bool kv_copy_file_to(const char* src, int out, KV_Stoppable* stop, KV_ProgressMan* progress)
{
    if (out < 0) {
        return false;
    }
    const int in = ::open(src, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        close_quietly(out);
        return false;
    }
    // Large pieces for a large file; a small one is read whole at once.
    constexpr size_t piece = 256 * 1024;
    std::unique_ptr<char[]> buf(new (std::nothrow) char[piece]);
    bool ok = buf != nullptr;
    if (!ok) {
        errno = ENOMEM;
    }
    int64_t done = 0;
    while (ok) {
        if (stop != nullptr && stop->stopped(nullptr, false)) {
            errno = ECANCELED;
            ok = false;
            break;
        }
        const ssize_t n = ::read(in, buf.get(), piece);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = write_all(out, buf.get(), static_cast<size_t>(n));
        done += n;
        if (ok && progress != nullptr) {
            progress->progress(done);
        }
    }
    close_quietly(in);
    if (!ok) {
        close_quietly(out);
        return false;
    }
    return ::close(out) == 0;
}

bool kv_move_file_across(const char* src, const char* dst, bool replace, KV_Stoppable* stop)
{
    struct stat st;
    if (lstat(src, &st) != 0) {
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EXDEV;
        return false;
    }
    const std::string part = side_name(dst, "part");
    if (!KV_File::copy(KV_String(src), KV_String(part.c_str()), 0, 0, 0, stop, nullptr)) {
        unlink_quietly(part.c_str());
        return false;
    }
    // A move keeps what the file was: its permissions and times.
    kv_keep_attrs(part.c_str(), st);
    if (!(replace ? ::rename(part.c_str(), dst) == 0 : kv_rename_noreplace(part.c_str(), dst))) {
        unlink_quietly(part.c_str());
        return false;
    }
    if (::unlink(src) != 0) {
        // Without a replacement, taking the copy back leaves things as they
        // were; a replaced destination cannot come back, so the copy stays.
        if (!replace) {
            unlink_quietly(dst);
        }
        return false;
    }
    return true;
}

bool kv_set_rdonly(const char* path, bool rdonly)
{
    struct stat st;
    if (stat(path, &st) != 0) {
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    mode = rdonly ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return ::chmod(path, mode) == 0;
}

bool kv_file_system(const char* path, bool follow, uint64_t& id)
{
    struct stat st;
    if ((follow ? stat(path, &st) : lstat(path, &st)) != 0) {
        return false;
    }
    id = static_cast<uint64_t>(st.st_dev);
    return true;
}

bool kv_sync_dir(const char* dir)
{
    const int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    errno = err;
    return ok;
}

// ---------------------------------------------------------------------------
// KV_DirBeneath

KV_DirBeneath::~KV_DirBeneath()
{
    close();
}

void KV_DirBeneath::close()
{
    if (fd >= 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        fd = -1;
    }
}

bool KV_DirBeneath::open(const char* base, const char* const* below, uint32_t n)
{
    close();
    if (base == nullptr || base[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    std::string rel;
    for (uint32_t i = 0; i < n; ++i) {
        const char* name = below[i];
        if (name == nullptr || name[0] == '\0' || is_dot_or_dotdot(name) ||
            std::strchr(name, '/') != nullptr) {
            errno = EINVAL;
            return false;
        }
        if (i != 0)
            rel += '/';
        rel += name;
    }
    int cur = ::open(base, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (cur < 0 || n == 0) {
        fd = cur;
        return fd >= 0;
    }
    // One call for the whole walk where the kernel can refuse every link on
    // the way itself: a file in a deep folder otherwise pays an open and a
    // close per level, twice per file (writing it, then renaming it).
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const int whole = static_cast<int>(::syscall(SYS_openat2, cur, rel.c_str(), &how, sizeof how));
    // Without the call (an older kernel, a filter that refuses it), the walk
    // goes level by level.
    if (whole >= 0 || (errno != ENOSYS && errno != EPERM && errno != E2BIG && errno != EAGAIN)) {
        // A link met on the way reads as the level-by-level walk reports
        // it: not a folder.
        const int err = whole < 0 && errno == ELOOP ? ENOTDIR : errno;
        ::close(cur);
        errno = err;
        fd = whole;
        return fd >= 0;
    }
    for (uint32_t i = 0; cur >= 0 && i < n; ++i) {
        const int next = openat(cur, below[i], O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        ::close(cur);
        errno = err;
        cur = next;
    }
    fd = cur;
    return fd >= 0;
}

int KV_DirBeneath::create(const char* name, bool fresh)
{
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    // The name is nearly always free (a part left by an earlier run is the
    // exception): clearing it only when the creation finds it taken saves
    // every small file a call.
    const int f = openat(fd, name, flags, 0666);
    if (f >= 0 || !fresh || errno != EEXIST) {
        return f;
    }
    if (!remove(name)) {
        return -1;
    }
    return openat(fd, name, flags, 0666);
}

int KV_DirBeneath::open_rw(const char* name)
{
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    const int f = openat(fd, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (f < 0)
        return -1;
    struct stat st;
    if (fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(f);
        errno = EINVAL;
        return -1;
    }
    // Non-blocking only so that a device or pipe at the name could not hold
    // the open; a regular file ignores the flag, but it is cleared anyway.
    const int fl = fcntl(f, F_GETFL);
    if (fl >= 0)
        fcntl(f, F_SETFL, fl & ~O_NONBLOCK);
    return f;
}

bool KV_DirBeneath::rename(const char* from, const char* to)
{
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    return renameat(fd, from, fd, to) == 0;
}

bool KV_DirBeneath::remove(const char* name)
{
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    if (unlinkat(fd, name, 0) == 0 || errno == ENOENT) {
        errno = 0;
        return true;
    }
    return false;
}
