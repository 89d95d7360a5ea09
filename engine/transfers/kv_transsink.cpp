// KV_TransSink: the transfer data of one protocol action.
#include "transfers/kv_transsink.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include <unistd.h>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_filedata.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"

namespace {

KV_String data_name(KV_TransLogCp* log)
{
    return log != nullptr ? log->data_name() : KV_String();
}

// All `n` bytes at `pos` of `fd`, however many calls it takes.
bool write_all(int fd, const unsigned char* data, uint32_t n, int64_t pos)
{
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, data, n, static_cast<off_t>(pos));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        data += w;
        n -= static_cast<uint32_t>(w);
        pos += w;
    }
    return true;
}

// The write error with the system's reason (a full disk, a file-size
// limit), which is what tells the person what to do about it; read at once,
// before another call changes errno.
KV_String write_failure()
{
    const KV_String why = KV_ErrHandler::last_err();
    if (why.empty())
        return KV_TransSink::write_err;
    return KV_String::format_impl("%s ( %s )", KV_TransSink::write_err, why.data());
}

} // namespace

KV_TransSink::KV_TransSink(Dir dir, KV_TransLogCp* log, int64_t offset)
    : dir_(dir), log_(log), frag_(nullptr), file_(data_name(log), dir == Dir::get ? "r+b" : "rb"),
      offset_(offset)
{
}

KV_TransSink::KV_TransSink(KV_TransLogCp* log, KV_FileFrag* frag)
    : dir_(Dir::get), log_(log), frag_(frag), file_(data_name(log), "r+b"), offset_(0)
{
}

KV_TransSink::~KV_TransSink() = default;

int64_t KV_TransSink::offset() const
{
    return frag_ != nullptr ? frag_->pos() : offset_;
}

int64_t KV_TransSink::pos() const
{
    return offset() + static_cast<int64_t>(held_.size());
}

bool KV_TransSink::full() const
{
    return dir_ == Dir::get && frag_ != nullptr && pos() >= frag_->end();
}

bool KV_TransSink::complete() const
{
    return frag_ == nullptr || frag_->done();
}

bool KV_TransSink::restart(int64_t offset)
{
    if (frag_ != nullptr || log_ == nullptr)
        return false;
    err_.clear();
    held_.clear();
    broken_ = false;
    unvouched_ = 0;
    offset_ = offset;
    if (!file_.opened())
        return true;
    if (dir_ == Dir::put)
        return file_.set_pos(log_->data_offset() + offset_);
    if (!log_->set_stored(offset_)) {
        err_ = write_err;
        return false;
    }
    return true;
}

bool KV_TransSink::open(KV_ErrHandler* eh)
{
    err_.clear();
    held_.clear();
    broken_ = false;
    done_ = false;
    unvouched_ = 0;
    written_ = 0;
    if (log_ == nullptr)
        return false;
    // A download whose data goes straight to the part file writes through a
    // descriptor of its own to it.
    const int part = dir_ == Dir::get ? log_->part_fd() : -1;
    const bool opened = part >= 0 ? file_.open_fd(::dup(part), file_.name(), "r+b") : file_.open();
    if (!opened) {
        if (eh != nullptr) {
            if (dir_ == Dir::get)
                eh->set_err(2, "Couldn't open the file %s for writing (%s).", file_.name().data(),
                            KV_ErrHandler::last_err().data());
            else
                eh->set_err(2, "Couldn't open the file %s for reading (%s).", file_.name().data(),
                            KV_ErrHandler::last_err().data());
        }
        return false;
    }
    if (dir_ == Dir::put)
        return file_.set_pos(log_->data_offset() + offset_);
    // A restart discards what lies beyond its point: a count left from an
    // earlier attempt would vouch for bytes this one overwrites.
    if (frag_ == nullptr && !log_->set_stored(offset_)) {
        err_ = write_err;
        return false;
    }
    return true;
}

bool KV_TransSink::store(const unsigned char* data, uint32_t n)
{
    // Each sink writes through its own descriptor at its own place: the
    // fragments of one file share neither a file position nor a lock, and
    // one closing the sub-log leaves the others' writes alone.
    const int fd = file_.opened() ? fileno(static_cast<FILE*>(file_)) : -1;
    bool ok = fd >= 0;
    int64_t at = 0;
    // A reason left from an earlier call must not explain this failure.
    errno = 0;
    // In a part file each byte lies at its offset in the file; in the
    // sub-log in the data area or the fragment's slot.
    const bool in_part = log_->part_fd() >= 0;
    if (ok && frag_ != nullptr) {
        // The slot (its record) is placed once, under the sub-log's lock.
        ok = (frag_->rec_pos() != 0 || log_->write_frag(*frag_, nullptr, 0)) &&
             n <= frag_->end() - frag_->pos();
        at = in_part ? frag_->pos() : frag_->data_pos() + (frag_->pos() - frag_->begin());
    } else if (ok) {
        at = (in_part ? 0 : log_->data_offset()) + offset_;
    }
    ok = ok && write_all(fd, data, n, at);
    if (!ok) {
        // What follows the failed bytes would land at the wrong place.
        broken_ = true;
        err_ = write_failure();
        return false;
    }
    if (frag_ != nullptr) {
        frag_->advance(n);
    } else {
        offset_ += n;
        log_->note_stored(offset_);
    }
    unvouched_ += n;
    written_ += n;
    // A finished fragment is vouched for at once: the copy of the whole file
    // may start as soon as the last one is in.
    if (unvouched_ >= vouch_every || (frag_ != nullptr && frag_->done())) {
        if (!vouch())
            return false;
    }
    log_->progress(0);
    return true;
}

bool KV_TransSink::vouch()
{
    if (unvouched_ == 0)
        return true;
    const int fd = file_.opened() ? fileno(static_cast<FILE*>(file_)) : -1;
    // Against a stopped process the order of the writes is enough; against
    // a stopped machine the bytes are synced before the record that counts
    // them, except for a file whose bytes all came in one stretch below the
    // interval (small files would pay a sync each).
    const bool sync = written_ >= vouch_every;
    errno = 0;
    const bool ok = frag_ != nullptr ? log_->vouch_frag(fd, *frag_, sync)
                                     : log_->vouch_stored(fd, offset_, sync);
    if (!ok) {
        broken_ = true;
        err_ = write_failure();
        return false;
    }
    unvouched_ = 0;
    return true;
}

bool KV_TransSink::write(const unsigned char* data, uint32_t n)
{
    err_.clear();
    if (log_ == nullptr || dir_ != Dir::get || broken_ || (n != 0 && data == nullptr)) {
        err_ = write_err;
        return false;
    }
    uint32_t take = n;
    if (frag_ != nullptr) {
        // What the server sends beyond the fragment's end belongs to another
        // fragment: its slot's record follows this one's data.
        const int64_t room = frag_->end() - pos();
        take = room <= 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(room, n));
    }
    if (take == 0)
        return true;
    if (hold_ == 0)
        return store(data, take);
    try {
        held_.insert(held_.end(), data, data + take);
    } catch (const std::bad_alloc&) {
        err_ = write_err;
        return false;
    }
    return held_.size() < hold_ || flush();
}

bool KV_TransSink::flush()
{
    if (held_.empty())
        return broken_ || log_ == nullptr || vouch();
    if (broken_ || log_ == nullptr) {
        err_ = write_err;
        return false;
    }
    if (!store(held_.data(), static_cast<uint32_t>(held_.size())))
        return false;
    held_.clear();
    return vouch();
}

KV_TransSink::Read KV_TransSink::read(unsigned char* buf, uint32_t size, uint32_t& n)
{
    n = 0;
    err_.clear();
    if (log_ == nullptr || dir_ != Dir::put || buf == nullptr || size == 0)
        return Read::fail;
    return log_->multifrag() ? read_frag(buf, size, n) : read_file(buf, size, n);
}

KV_TransSink::Read KV_TransSink::read_frag(unsigned char* buf, uint32_t size, uint32_t& n)
{
    const int64_t total = log_->fdata().size(false);
    KV_FileFrag* f = nullptr;
    if (!log_->man_frag().find_pos(&f, offset_) || f == nullptr) {
        if (offset_ < total)
            return Read::fail;
        done_ = true;
        log_->progress(offset_);
        return Read::end;
    }
    // An upload goes only as far as the fragments are in.
    if (!f->done())
        return Read::fail;
    uint32_t len = static_cast<uint32_t>(std::min<int64_t>(f->end() - offset_, size));
    if (!log_->read_frag(*f, buf, offset_ - f->begin(), len) || len == 0)
        return Read::fail;
    n = len;
    offset_ += len;
    done_ = offset_ >= total;
    log_->progress(offset_);
    return Read::data;
}

KV_TransSink::Read KV_TransSink::read_file(unsigned char* buf, uint32_t size, uint32_t& n)
{
    uint32_t want = size;
    if (exact_)
        want = static_cast<uint32_t>(
            std::max<int64_t>(0, std::min<int64_t>(log_->size() - offset_, want)));
    const uint32_t got = want != 0 ? file_.read(buf, want) : 0;
    if (got != 0) {
        n = got;
        offset_ += got;
        log_->progress(offset_);
        return Read::data;
    }
    // A read error is no end of the data: the upload would be cut short and
    // still count as done. Nor is a file that ends before the length the
    // peer was promised: the peer would wait for the rest, or take the next
    // request's bytes as it.
    if (exact_ ? offset_ < log_->size() : !file_.end()) {
        err_ = KV_String::format_impl("Couldn't read the file %s.", file_.name().data());
        return Read::fail;
    }
    done_ = true;
    log_->progress(offset_);
    return Read::end;
}

bool KV_TransSink::close()
{
    const bool written = flush();
    held_.clear();
    file_.close();
    if (log_ != nullptr)
        log_->close();
    return written;
}
