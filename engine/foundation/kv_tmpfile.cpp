// KV_TmpFileMan: names for new temporary files, created before they are
// handed out.
#include "foundation/kv_tmpfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <mutex>

namespace {

// Names drawn for one new_file call before it gives up. A random source that
// keeps handing out names in use, or no names at all, has run dry; counting
// the draws is what ends the search then.
constexpr uint32_t kMaxDraws = 4096;

// Counter values tried for one new_file call in the system folder.
constexpr int64_t kMaxCounter = 1 << 20;

// Creates the file, empty and private, only when no file has that name yet.
// Result: 0 when created, else the errno (EEXIST: the name is taken).
int create_new(const KV_String& path)
{
    const int fd = open(path.data(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    return 0;
}

} // namespace

KV_TmpFileMan& KV_TmpFileMan::singleton()
{
    static KV_TmpFileMan instance;
    return instance;
}

KV_TmpFileMan::KV_TmpFileMan() : path_man_('/') {}

KV_TmpFileMan::~KV_TmpFileMan()
{
    in_use_.clear();
}

bool KV_TmpFileMan::tmp_dir(KV_PATH_TYPE type, KV_PathDef& out) const
{
    // Only trailing separators go: the leading '/' is the root of an absolute
    // folder and becomes entry 0.
    const KV_String dir = KV_File::path(type, false).trim(2, "/");
    return path_man_.split_path(dir, out, false);
}

bool KV_TmpFileMan::new_file(KV_PATH_TYPE type, KV_PathDef& out, const KV_String& name)
{
    switch (type) {
    case KV_PATH_TMP:
        // The name is owned by its O_EXCL creation in the chosen folder, so
        // looking for it in the system's folder first would only cost a call.
        return new_reg_name(out, &KV_File::random_name);
    case KV_PATH_SYS_TMP:
        return new_counter_name(out, name);
    default:
        return true;
    }
}

bool KV_TmpFileMan::new_reg_name(KV_PathDef& out, NameSource draw)
{
    std::lock_guard<KV_Lock> hold(reg_lock);
    uint32_t draws = 0;
    while (draws < kMaxDraws) {
        // An unset folder would put the file wherever the process happens to
        // run: no name then.
        if (!tmp_dir(KV_PATH_TMP, out) || out.empty()) {
            errno = ENOENT;
            return false;
        }
        KV_String name;
        while (draws < kMaxDraws) {
            ++draws;
            const KV_String drawn = draw();
            uint32_t slash = 0;
            uint32_t from = 0;
            while (drawn.contains('/', from, &slash)) {
                from = slash + 1;
            }
            name = drawn.part(from, drawn.length()).trim(3, "\\/");
            // A name ending in '.' is the first of a series of the source's:
            // such names are refused.
            if (!name.empty() && name.data(name.length() - 1) != '.') {
                break;
            }
            name.clear();
        }
        if (name.empty()) {
            break;
        }
        KV_String text;
        if (!out.append(name) || !path_man_.build_path(text, out, false, 0)) {
            errno = ENOMEM;
            return false;
        }
        if (in_use(text)) {
            continue;
        }
        const int err = create_new(text);
        if (err == EEXIST) {
            continue;
        }
        if (err != 0) {
            errno = err;
            return false;
        }
        if (!add_in_use(text)) {
            unlink(text.data());
            errno = ENOMEM;
            return false;
        }
        return true;
    }
    errno = EEXIST;
    return false;
}

bool KV_TmpFileMan::new_counter_name(KV_PathDef& out, const KV_String& name)
{
    const KV_String base = name.fname();
    if (base.empty()) {
        errno = EINVAL;
        return false;
    }
    uint32_t dot = 0;
    const bool has_dot = base.contains('.', 0, &dot);
    if (!has_dot) {
        dot = base.length();
    }
    std::lock_guard<KV_Lock> hold(sys_lock);
    for (int64_t counter = 0; counter < kMaxCounter; ++counter) {
        if (!tmp_dir(KV_PATH_SYS_TMP, out) || out.empty()) {
            errno = ENOENT;
            return false;
        }
        KV_String candidate = base;
        if (counter != 0) {
            candidate = base.part(0, dot) + KV_String::format_impl("%" PRId64, counter) +
                        base.part(dot, base.length());
        }
        KV_String text;
        if (candidate.empty() || !out.append(candidate) ||
            !path_man_.build_path(text, out, false, 0)) {
            errno = ENOMEM;
            return false;
        }
        const int err = create_new(text);
        if (err == 0) {
            return true;
        }
        if (err != EEXIST) {
            errno = err;
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

bool KV_TmpFileMan::reg(const KV_String& path)
{
    std::lock_guard<KV_Lock> hold(reg_lock);
    return add_in_use(path);
}

bool KV_TmpFileMan::reg(const KV_PathDef& path)
{
    std::lock_guard<KV_Lock> hold(reg_lock);
    return add_in_use(path);
}

bool KV_TmpFileMan::unreg(const KV_String& path)
{
    std::lock_guard<KV_Lock> hold(reg_lock);
    return del_in_use(path);
}

bool KV_TmpFileMan::unreg(const KV_PathDef& path)
{
    std::lock_guard<KV_Lock> hold(reg_lock);
    return del_in_use(path);
}

bool KV_TmpFileMan::add_in_use(const KV_String& path)
{
    if (path.empty() || in_use(path)) {
        return true;
    }
    return in_use_.add(path);
}

bool KV_TmpFileMan::add_in_use(const KV_PathDef& path)
{
    KV_String text;
    if (!path_man_.build_path(text, path, false, 0)) {
        return false;
    }
    return add_in_use(text);
}

bool KV_TmpFileMan::del_in_use(const KV_String& path)
{
    if (path.empty()) {
        return true;
    }
    return in_use_.remove(path);
}

bool KV_TmpFileMan::del_in_use(const KV_PathDef& path)
{
    KV_String text;
    if (!path_man_.build_path(text, path, false, 0)) {
        return false;
    }
    return del_in_use(text);
}

bool KV_TmpFileMan::in_use(const KV_String& path) const
{
    return in_use_.find(path);
}
