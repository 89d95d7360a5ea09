// The freedesktop.org trash (the 1.0 layout, home trash only): the
// Linux stand-in for the recycle bin of KV_File::del and KV_File::rmdir.
#include "foundation/trash.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/posix_fs.h"

namespace {

// Numbered names tried for one item before giving up.
constexpr unsigned kMaxNames = 10000;

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash; empty when no home is known.
std::string trash_home()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return std::string(data) + "/Trash";
    }
    std::string home;
    const char* env = std::getenv("HOME");
    if (env != nullptr && env[0] == '/') {
        home = env;
    } else {
        struct passwd pw;
        struct passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
            pw.pw_dir != nullptr && pw.pw_dir[0] == '/') {
            home = pw.pw_dir;
        }
    }
    if (home.empty()) {
        errno = ENOENT;
        return std::string();
    }
    return home + "/.local/share/Trash";
}

// mkdir -p with mode 0700 for the folders it creates: the trash is private.
bool make_dirs(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') {
            continue;
        }
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// The Path value: the bytes of the absolute name escaped as in URLs (RFC
// 2396), with '/' kept.
std::string escape_path(const std::string& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : path) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || std::strchr("-_.!~*'()/", c) != nullptr;
        if (plain && c != '\0') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

// Local time as YYYY-MM-DDThh:mm:ss, the form of DeletionDate.
std::string deletion_date()
{
    const time_t now = std::time(nullptr);
    struct tm local;
    char text[32] = "";
    if (localtime_r(&now, &local) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    }
    return text;
}

// The n-th name for an item: name itself, then a.2.txt, a.3.txt ... (the
// number goes before the extension; names without one, or whose only dot
// leads, get it at the end).
std::string numbered(const std::string& name, unsigned n)
{
    if (n == 1) {
        return name;
    }
    std::string num(1, '.');
    num += std::to_string(n);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return name + num;
    }
    return name.substr(0, dot) + num + name.substr(dot);
}

bool write_all(int fd, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool KV_Trash::put(const KV_String& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    struct stat st;
    if (lstat(path.data(), &st) != 0) {
        return false;
    }
    const KV_String full = KV_File::path_full(path, false);
    const std::string abs = full.data();
    if (abs.empty() || abs == "/") {
        errno = abs.empty() ? ENOENT : EBUSY;
        return false;
    }
    const std::string name = abs.substr(abs.rfind('/') + 1);
    const std::string home = trash_home();
    if (home.empty()) {
        return false;
    }
    // The trash cannot go into itself.
    if (home == abs || home.compare(0, abs.size() + 1, abs + "/") == 0) {
        errno = EINVAL;
        return false;
    }
    if (!make_dirs(home + "/files") || !make_dirs(home + "/info")) {
        return false;
    }
    const std::string info_text =
        "[Trash Info]\nPath=" + escape_path(abs) + "\nDeletionDate=" + deletion_date() + "\n";

    for (unsigned n = 1; n <= kMaxNames; ++n) {
        const std::string entry = numbered(name, n);
        const std::string info = home + "/info/" + entry + ".trashinfo";
        const std::string dst = home + "/files/" + entry;

        // The description is written first, with O_EXCL: owning it is what
        // reserves the name against other programs emptying or filling the
        // trash at the same time.
        const int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        bool ok = write_all(fd, info_text.data(), info_text.size());
        int err = errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            err = errno;
        }
        if (!ok) {
            unlink(info.c_str());
            errno = err;
            return false;
        }

        if (kv_rename_noreplace(path.data(), dst.c_str())) {
            return true;
        }
        err = errno;
        if (err == EEXIST) {
            // A stray item without a description holds the name.
            unlink(info.c_str());
            continue;
        }
        if (err == EXDEV) {
            // The same name check as the rename's, before anything is made.
            struct stat taken;
            if (lstat(dst.c_str(), &taken) == 0) {
                unlink(info.c_str());
                continue;
            }
            // The original goes only once the copy and its name in the
            // trash are on the disk: a crash in between must not lose both.
            if (kv_copy_tree(path.data(), dst.c_str()) &&
                (kv_sync_dir((home + "/files").c_str()) || errno == EINVAL)) {
                // From here the trash holds the one whole copy: it stays
                // even when the original cannot be removed completely.
                return kv_remove_tree(path.data());
            }
            err = errno;
            kv_remove_tree(dst.c_str());
        }
        unlink(info.c_str());
        errno = err;
        return false;
    }
    errno = EEXIST;
    return false;
}
