// KV_File and the file-system toolbox: the Linux calls behind the engine's
// file objects, folder removal, copies, names and the well-known folder table.
#include "foundation/kv_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_event.h"
#include "foundation/kv_stoppable.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"
#include "foundation/posix_fs.h"
#include "foundation/trash.h"

namespace {

// Bytes moved per step of a copy; the stop object is asked and progress is
// reported once per step.
constexpr uint32_t kCopyChunk = 32768;

// Tries of tmp_name before it gives up: a random name is taken only when no
// file has it, and a folder full enough to refuse this many is broken.
constexpr int kTmpNameTries = 100;

struct PathTable
{
    KV_Lock lock;
    KV_String paths[KV_PATH_COUNT]; // guarded by lock
};

PathTable& path_table()
{
    static PathTable table;
    return table;
}

// The system's temporary folder: $TMPDIR when it is an absolute path, else
// /tmp; without trailing separators.
std::string sys_tmp_dir()
{
    std::string dir = "/tmp";
    const char* env = std::getenv("TMPDIR");
    if (env != nullptr && env[0] == '/') {
        dir = env;
    }
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    if (dir == "/") {
        dir.clear();
    }
    return dir;
}

bool random_bytes(unsigned char* out, size_t n)
{
    while (n > 0) {
        const ssize_t got = getrandom(out, n, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        out += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

KV_String with_sep(KV_String text, bool add_sep)
{
    if (add_sep) {
        text += '/';
    }
    return text;
}

} // namespace

// ---- the file object

KV_File::KV_File() : mode_("rt") {}

KV_File::KV_File(const KV_String& name, const KV_String& mode) : name_(name), mode_(mode) {}

KV_File::KV_File(const KV_File& other)
    : KV_Storage(), name_(other.name_), mode_(other.mode_), no_buff(other.no_buff)
{
}

KV_File& KV_File::operator=(const KV_File& other)
{
    if (this != &other) {
        close();
        name_ = other.name_;
        mode_ = other.mode_;
        no_buff = other.no_buff;
    }
    return *this;
}

KV_File::~KV_File()
{
    close();
}

bool KV_File::opened() const
{
    return fp != nullptr;
}

bool KV_File::open()
{
    close();
    if (name_.empty()) {
        errno = ENOENT;
        return false;
    }
    fp = std::fopen(name_.data(), mode_.data());
    if (fp != nullptr && no_buff) {
        // Unbuffered streams serve files that another reader follows while
        // they grow; a refusal only costs that, so it is not a failure.
        unbuffered_ = std::setvbuf(fp, nullptr, _IONBF, 0) == 0;
    }
    return opened();
}

bool KV_File::open_fd(int fd, const KV_String& name, const KV_String& mode)
{
    close();
    name_ = name;
    mode_ = mode;
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    fp = fdopen(fd, mode_.data());
    if (fp == nullptr) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    if (no_buff) {
        unbuffered_ = std::setvbuf(fp, nullptr, _IONBF, 0) == 0;
    }
    return true;
}

bool KV_File::close()
{
    if (fp != nullptr) {
        std::fclose(fp);
        fp = nullptr;
    }
    unbuffered_ = false;
    return true;
}

uint32_t KV_File::read(void* dst, uint32_t n)
{
    if (fp == nullptr || dst == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(std::fread(dst, 1, n, fp));
}

uint32_t KV_File::write(const unsigned char* src, uint32_t n)
{
    if (fp == nullptr || src == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(std::fwrite(src, 1, n, fp));
}

uint32_t KV_File::write_at(int64_t pos, const unsigned char* src, uint32_t n)
{
    if (fp == nullptr || src == nullptr) {
        return 0;
    }
    if (!unbuffered_) {
        return set_pos(pos) ? write(src, n) : 0;
    }
    if (pos < 0) {
        errno = EINVAL;
        return 0;
    }
    // A field rewritten in place costs one call instead of a seek and a
    // write; nothing waits in the stream that this could overtake.
    const int fd = fileno(fp);
    uint32_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(fd, src + done, n - done,
                                   static_cast<off_t>(pos + static_cast<int64_t>(done)));
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            break;
        }
        done += static_cast<uint32_t>(w);
    }
    return done;
}

bool KV_File::end() const
{
    return fp == nullptr || std::feof(fp) != 0;
}

bool KV_File::set_name(const KV_String& name)
{
    const bool was_open = opened();
    close();
    name_ = name;
    return was_open ? open() : true;
}

bool KV_File::set_mode(const KV_String& mode)
{
    const bool was_open = opened();
    close();
    mode_ = mode;
    return was_open ? open() : true;
}

bool KV_File::set_pos(int64_t pos)
{
    if (fp == nullptr) {
        return false;
    }
    if (pos < 0) {
        errno = EINVAL;
        return false;
    }
    static_assert(sizeof(off_t) == 8, "file positions are 64-bit");
    return fseeko(fp, static_cast<off_t>(pos), SEEK_SET) == 0;
}

bool KV_File::pos(int64_t& pos)
{
    pos = 0;
    if (fp == nullptr) {
        return false;
    }
    const off_t at = ftello(fp);
    if (at < 0) {
        return false;
    }
    pos = static_cast<int64_t>(at);
    return true;
}

bool KV_File::skip(uint32_t n)
{
    KV_String line;
    for (uint32_t i = 0; i < n; ++i) {
        if (!line.read_txt(*this)) {
            return false;
        }
    }
    return true;
}

bool KV_File::remove()
{
    close();
    if (name_.empty()) {
        errno = ENOENT;
        return false;
    }
    return del(name_, false);
}

bool KV_File::flush(bool durable)
{
    if (fp == nullptr) {
        errno = EBADF;
        return false;
    }
    if (std::fflush(fp) != 0) {
        return false;
    }
    return !durable || ::fsync(::fileno(fp)) == 0;
}

void KV_File::set_no_buff()
{
    no_buff = true;
}

void KV_File::set_buff()
{
    no_buff = false;
}

// ---- file-system operations

bool KV_File::mkdir(const KV_String& path)
{
    return ::mkdir(path.data(), 0777) == 0;
}

bool KV_File::rmdir(const KV_String& path, bool recycle)
{
    struct stat st;
    if (lstat(path.data(), &st) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    // Only an empty folder goes: the delete walker empties a folder itself,
    // asking per item, and whatever appeared since its listing must not go
    // unasked with the folder.
    return recycle ? KV_Trash::put(path) : ::rmdir(path.data()) == 0;
}

bool KV_File::del(const KV_String& path, bool recycle)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    if (recycle)
        return KV_Trash::put(path);
    // Only a file or a link goes: a folder named here by mistake (a stale
    // listing, a name reused since) must not take its contents with it.
    return ::unlink(path.data()) == 0;
}

bool KV_File::get_drives(KVTL::KV_ListVal<KV_String>& list)
{
    return list.add(KV_String("/"));
}

bool KV_File::copy(KV_File& src, KV_File& dst, int64_t src_pos, int64_t dst_pos, int64_t size,
                   int64_t* copied, KV_Stoppable* stop, KV_ProgressMan* progress)
{
    if (copied != nullptr) {
        *copied = 0;
    }
    // Negative sizes, and ranges whose end does not fit 64 bits, are no range.
    if (size < 0 || dst_pos < 0 || size > INT64_MAX - dst_pos) {
        errno = EINVAL;
        return false;
    }
    if (!src.set_pos(src_pos) || !dst.set_pos(dst_pos)) {
        return false;
    }
    std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[kCopyChunk]);
    if (!buf) {
        errno = ENOMEM;
        return false;
    }
    const bool bounded = size != 0;
    int64_t done = 0;
    for (;;) {
        uint32_t chunk = kCopyChunk;
        if (bounded) {
            const int64_t left = size - done;
            if (left == 0) {
                break;
            }
            if (left < chunk) {
                chunk = static_cast<uint32_t>(left);
            }
        }
        // A stop is a failure whether or not a size was given: the caller
        // asked for a whole file and gets part of one.
        if (stop != nullptr && stop->stopped(nullptr, false)) {
            errno = ECANCELED;
            return false;
        }
        const uint32_t n = src.read(buf.get(), chunk);
        if (n == 0) {
            break;
        }
        done += n;
        if (dst.write(buf.get(), n) != n) {
            return false;
        }
        if (progress != nullptr) {
            progress->progress(dst_pos + done);
        }
    }
    // fread gives 0 on a read error too: that is no end of the source.
    if (std::ferror(src.fp) != 0) {
        return false;
    }
    if (bounded && done != size) {
        return false;
    }
    if (copied != nullptr) {
        *copied = done;
    }
    return true;
}

bool KV_File::copy(const KV_String& src, const KV_String& dst, int64_t src_pos, int64_t dst_pos,
                   int64_t size, KV_Stoppable* stop, KV_ProgressMan* progress)
{
    KV_File in(src, "rb");
    if (!in.open()) {
        return false;
    }
    KV_File out(dst, "wb");
    if (!out.open()) {
        return false;
    }
    bool ok = copy(in, out, src_pos, dst_pos, size, nullptr, stop, progress);
    // A full disk may show only when the buffer goes out: the flush and the
    // close decide too, so such a copy is not reported as done.
    ok = out.flush() && ok;
    ok = std::fclose(out.fp) == 0 && ok;
    out.fp = nullptr;
    in.close();
    return ok;
}

bool KV_File::rename(const KV_String& old_name, const KV_String& new_name)
{
    return ::rename(old_name.data(), new_name.data()) == 0;
}

bool KV_File::exists(const KV_String& path)
{
    return access(path.data(), F_OK) == 0;
}

bool KV_File::is_dir(const KV_String& path)
{
    struct stat st;
    return stat(path.data(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool KV_File::props(const KV_String& path, int64_t& size, KV_Time& mtime)
{
    struct stat st;
    if (stat(path.data(), &st) != 0) {
        return false;
    }
    size = static_cast<int64_t>(st.st_size);
    mtime = KV_Time(static_cast<long>(st.st_mtim.tv_sec));
    return true;
}

KV_String KV_File::cwd()
{
    char* dir = getcwd(nullptr, 0);
    if (dir == nullptr) {
        return KV_String();
    }
    KV_String text(dir);
    std::free(dir);
    return text;
}

KV_String KV_File::tmp_name()
{
    const std::string dir = sys_tmp_dir();
    for (int attempt = 0; attempt < kTmpNameTries; ++attempt) {
        const KV_String base = random_name();
        if (base.empty()) {
            return KV_String();
        }
        const std::string name = dir + "/" + base.data();
        struct stat st;
        if (lstat(name.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                return KV_String();
            }
            errno = 0;
            return KV_String(name.c_str());
        }
    }
    errno = EEXIST;
    return KV_String();
}

KV_String KV_File::random_name()
{
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char rnd[10];
    if (!random_bytes(rnd, sizeof rnd)) {
        return KV_String();
    }
    std::string name = "kv";
    for (unsigned char b : rnd) {
        name += kChars[b % (sizeof kChars - 1)];
    }
    return KV_String(name.c_str());
}

KV_String KV_File::path_full(const KV_String& name, bool add_sep)
{
    std::string text;
    if (name.data(0) != '/') {
        const KV_String dir = cwd();
        if (dir.empty()) {
            return with_sep(KV_String(), add_sep);
        }
        text = dir.data();
        text += '/';
    }
    text += name.data();

    // Lexical, as the name reads: "a/link/.." is "a", wherever link points.
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= text.size()) {
        size_t slash = text.find('/', at);
        if (slash == std::string::npos) {
            slash = text.size();
        }
        const std::string part = text.substr(at, slash - at);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string full;
    for (const std::string& part : parts) {
        full += '/';
        full += part;
    }
    if (full.empty()) {
        full.push_back('/');
    }
    return with_sep(KV_String(full.c_str()), add_sep);
}

// ---- the well-known folder table

bool KV_File::set_path(KV_PATH_TYPE type, const KV_String& value)
{
    if (static_cast<uint32_t>(type) >= KV_PATH_COUNT) {
        return false;
    }
    const KV_String trimmed = value.trim(2, "\\/");
    PathTable& table = path_table();
    std::lock_guard<KV_Lock> hold(table.lock);
    table.paths[type] = trimmed;
    return true;
}

KV_String KV_File::path(KV_PATH_TYPE type, bool add_sep)
{
    KV_String value;
    if (static_cast<uint32_t>(type) < KV_PATH_COUNT) {
        PathTable& table = path_table();
        std::lock_guard<KV_Lock> hold(table.lock);
        value = table.paths[type];
    }
    return with_sep(value, add_sep);
}
