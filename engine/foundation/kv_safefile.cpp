// The steps of a crash-safe save: new file, flush, fsync, rename, fsync of the
// folder.
#include "foundation/kv_safefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/posix_fs.h"

namespace {

// The folder that holds name: what comes before its last '/', "/" for a name
// right below the root, "." for a name without a folder part.
KV_String folder_of(const KV_String& name)
{
    const char* text = name.data();
    const char* slash = std::strrchr(text, '/');
    if (slash == nullptr)
        return KV_String(".");
    return slash == text ? KV_String("/") : name.part(0, static_cast<uint32_t>(slash - text));
}

// Makes a rename in the folder durable. Some file systems refuse to sync a
// folder; the rename has happened all the same.
void sync_folder(const KV_String& dir)
{
    const int fd = ::open(dir.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

KV_SafeFile::KV_SafeFile(const KV_String& name) : name_(name), next_(name + ".new") {}

KV_SafeFile::~KV_SafeFile()
{
    discard();
}

bool KV_SafeFile::open()
{
    discard();
    if (name_.empty()) {
        errno = ENOENT;
        return false;
    }
    if (!kv_remove_tree(next_.data()) && errno != ENOENT)
        return false;
    // "x": O_EXCL, the file is ours from its creation on.
    if (!file_.set_mode("wbx") || !file_.set_name(next_) || !file_.open())
        return false;
    begun_ = true;
    return true;
}

bool KV_SafeFile::opened() const
{
    return file_.opened();
}

bool KV_SafeFile::close()
{
    discard();
    return true;
}

uint32_t KV_SafeFile::read(void*, uint32_t)
{
    return 0;
}

uint32_t KV_SafeFile::write(const unsigned char* src, uint32_t n)
{
    const uint32_t done = file_.write(src, n);
    if (done != n)
        short_ = true;
    return done;
}

bool KV_SafeFile::sync()
{
    if (synced_)
        return true;
    if (!file_.opened()) {
        errno = EBADF;
        return false;
    }
    bool ok = !short_ && file_.flush(true);
    const int err = errno;
    file_.close();
    if (!ok) {
        discard();
        errno = err;
        return false;
    }
    synced_ = true;
    return true;
}

bool KV_SafeFile::commit()
{
    if (!sync())
        return false;
    if (!KV_File::rename(next_, name_)) {
        const int err = errno;
        discard();
        errno = err;
        return false;
    }
    begun_ = false;
    synced_ = false;
    sync_folder(folder_of(name_));
    return true;
}

void KV_SafeFile::discard()
{
    file_.close();
    if (begun_) {
        const int err = errno;
        kv_remove_tree(next_.data());
        errno = err;
    }
    begun_ = false;
    short_ = false;
    synced_ = false;
}
