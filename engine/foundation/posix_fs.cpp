// The Linux calls behind the engine's internal renames, tree removals and
// copies of attributes.
#include "foundation/posix_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool is_dot_or_dotdot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
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
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            ok = errno == 0;
            break;
        }
        if (is_dot_or_dotdot(entry->d_name)) {
            continue;
        }
        if (!remove_tree_at(dirfd(dir), entry->d_name)) {
            ok = false;
            break;
        }
    }
    const int err = errno;
    closedir(dir);
    if (!ok) {
        errno = err;
        return false;
    }
    return unlinkat(dir_fd, name, AT_REMOVEDIR) == 0;
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

bool kv_keep_attrs(const char* path, const struct stat& st)
{
    const bool ok = S_ISLNK(st.st_mode) || ::chmod(path, st.st_mode & 07777) == 0;
    const int err = errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW);
    errno = err;
    return ok;
}
