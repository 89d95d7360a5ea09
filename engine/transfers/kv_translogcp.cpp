// KV_TransLogCp: the sub-log and data file of one elementary copy.
#include "transfers/kv_translogcp.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "datasources/kv_translogio.h"
#include "foundation/kv_file.h"
#include "foundation/kv_stoppable.h"
#include "foundation/kv_tmpfile.h"
#include "transfers/kv_filereqtranscp.h"

namespace {

// min(100, done * 100 / total) for total > 0, without overflow.
int32_t percent(int64_t done, int64_t total)
{
    if (done <= 0)
        return 0;
    if (done >= total)
        return 100;
    return static_cast<int32_t>(static_cast<__int128>(done) * 100 / total);
}

// Whether [begin, end) overlaps a range of `taken` (begin -> end, disjoint).
bool overlaps(const std::map<int64_t, int64_t>& taken, int64_t begin, int64_t end)
{
    auto it = taken.lower_bound(begin);
    if (it != taken.end() && it->first < end)
        return true;
    return it != taken.begin() && std::prev(it)->second > begin;
}

} // namespace

KV_TransLogCp::KV_TransLogCp(KV_FileReqTransCp* owner, const KV_String& file_name,
                             const KV_FileData& fdata, const KV_PathDef& src, const KV_PathDef& dst)
    : KV_TransLog(KV_String()), fdata_(fdata), file_name_(file_name), owner_(owner), path_src_(src),
      path_dst_(dst)
{
}

KV_TransLogCp::KV_TransLogCp(KV_FileReqTransCp* owner, const KV_String& log_name)
    : KV_TransLog(log_name), owner_(owner)
{
}

KV_TransLogCp::~KV_TransLogCp()
{
    if (part_fd_ >= 0)
        ::close(part_fd_);
}

void KV_TransLogCp::set_flags_init(bool tmp_data, bool multifrag, KV_TRANS_MODE src,
                                   KV_TRANS_MODE dst)
{
    uint8_t f = 0;
    if (tmp_data)
        f |= FLAG_TMP_DATA;
    if (multifrag)
        f |= FLAG_MULTIFRAG;
    if (src == KV_TRANS_MODE_ASCII)
        f |= FLAG_ASCII_SRC;
    if (dst == KV_TRANS_MODE_ASCII)
        f |= FLAG_ASCII_DST;
    flags_ = f;
}

void KV_TransLogCp::set_no_file(bool no_file)
{
    if (no_file)
        flags_ |= FLAG_NO_FILE;
    else
        flags_ &= static_cast<uint8_t>(~FLAG_NO_FILE);
}

KV_TRANS_MODE KV_TransLogCp::trans_mode_src() const
{
    return (flags_ & FLAG_ASCII_SRC) != 0 ? KV_TRANS_MODE_ASCII : KV_TRANS_MODE_BINARY;
}

KV_TRANS_MODE KV_TransLogCp::trans_mode_dst() const
{
    return (flags_ & FLAG_ASCII_DST) != 0 ? KV_TRANS_MODE_ASCII : KV_TRANS_MODE_BINARY;
}

// ---------------------------------------------------------------------------
// In-place rewrites

bool KV_TransLogCp::write_byte(int64_t pos, uint8_t value)
{
    return file.write_at(pos, &value, 1) == 1;
}

bool KV_TransLogCp::write_stored(int64_t stored)
{
    KV_TransLogOut out(stored_pos);
    return out.num(stored) && out.rewrite(file);
}

bool KV_TransLogCp::set_status(uint8_t status)
{
    bool ok = true;
    {
        std::lock_guard<KV_Lock> hold(lock);
        if (status == status_.load(std::memory_order_relaxed))
            return true;
        if (has_file())
            ok = reopen() && write_byte(status_pos, status);
        if (ok)
            status_.store(status, std::memory_order_release);
    }
    if (this->status() == ST_DONE)
        progress(0);
    return ok;
}

bool KV_TransLogCp::set_flags(uint8_t set, uint8_t clear)
{
    std::lock_guard<KV_Lock> hold(lock);
    const uint8_t old = flags2_.load(std::memory_order_relaxed);
    const auto now = static_cast<uint8_t>(set | (old & ~clear));
    if (now == old)
        return true;
    if (has_file() && !(reopen() && write_byte(flags2_pos, now)))
        return false;
    flags2_.store(now, std::memory_order_release);
    return true;
}

bool KV_TransLogCp::set_stored(int64_t stored)
{
    std::lock_guard<KV_Lock> hold(lock);
    if (stored == stored_.load(std::memory_order_relaxed))
        return true;
    if (!reopen() || !write_stored(stored))
        return false;
    stored_.store(stored, std::memory_order_release);
    return true;
}

// ---------------------------------------------------------------------------
// Accessors

int64_t KV_TransLogCp::file_size() const
{
    const int64_t s = fdata_.size(true);
    return s > 0 ? s : 0;
}

int64_t KV_TransLogCp::data_offset() const
{
    return tmp_data() ? data_offset_.load(std::memory_order_acquire) : 0;
}

int64_t KV_TransLogCp::size() const
{
    if (tmp_data() && !multifrag())
        return stored_.load(std::memory_order_acquire);
    return file_size();
}

KV_String KV_TransLogCp::data_name() const
{
    return tmp_data() ? name() : file_name_;
}

KV_String KV_TransLogCp::file_name() const
{
    return file_name_.empty() ? name() : file_name_;
}

bool KV_TransLogCp::own_path(KV_PathDef& out) const
{
    return tmp_file_man().path_man().split_path(name(), out, false);
}

bool KV_TransLogCp::set_path(const KV_PathDef& path)
{
    KV_String text;
    if (!tmp_file_man().path_man().build_path(text, path, false, 0) || text.empty())
        return false;
    return set_name(text);
}

void KV_TransLogCp::set_dtrans(uint32_t id, uint8_t flag)
{
    dtrans_id_.store(id, std::memory_order_release);
    dtrans_flag_.store(flag, std::memory_order_release);
}

void KV_TransLogCp::set_dtrans_addr(const KV_InetAddr& addr)
{
    std::lock_guard<std::mutex> g(dtrans_addr_lock);
    dtrans_addr_ = addr;
}

KV_InetAddr KV_TransLogCp::dtrans_addr() const
{
    std::lock_guard<std::mutex> g(dtrans_addr_lock);
    return dtrans_addr_;
}

// ---------------------------------------------------------------------------
// Body

bool KV_TransLogCp::write_data()
{
    status_.store(ST_NONE, std::memory_order_release);
    flags2_.store(0, std::memory_order_release);
    // The body is gathered in memory: the offsets of the fields rewritten
    // later come from the buffer instead of asking the file for its
    // position field by field (a call each).
    KV_TransLogOut out;
    if (!out.begin(file))
        return false;
    status_pos = out.pos();
    bool ok = out.num<uint8_t>(0) && out.num<uint8_t>(flags_);
    flags2_pos = out.pos();
    ok = ok && out.num<uint8_t>(0) && out.num(frags_.min_size()) && file_name_.write_bin(out) &&
         fdata_.write_bin(out) && path_src_.write_bin(out) && path_dst_.write_bin(out);
    if (ok && !multifrag()) {
        stored_.store(0, std::memory_order_release);
        stored_pos = out.pos();
        ok = out.num<int64_t>(0);
    }
    // The bytes follow at the file's position: no seek, so they join the
    // frame in the stream's buffer.
    const uint32_t n = out.length();
    const unsigned char* bytes = out;
    ok = ok && file.write(bytes, n) == n;
    if (!ok)
        return false;
    data_offset_.store(out.pos(), std::memory_order_release);
    return init_frags_locked(true);
}

bool KV_TransLogCp::read_data()
{
    // Everything below comes from a file that an earlier run, a crash or
    // anyone else may have left: counts and ranges are checked against the
    // file's length before they are used.
    KV_TransLogIn in(file);
    const int64_t length = in.pos() + in.left();
    uint8_t head[3];
    status_pos = in.pos();
    if (!in.num(head[0]) || !in.num(head[1]))
        return false;
    flags2_pos = in.pos();
    int64_t min_size = 0;
    KV_String name;
    KV_FileData fd;
    KV_PathDef src;
    KV_PathDef dst;
    if (!in.num(head[2]) || !in.num(min_size) || !in.str(name) || !fd.read_bin(in) ||
        !in.path(src) || !in.path(dst))
        return false;
    int64_t p = in.pos();
    status_.store(head[0], std::memory_order_release);
    flags_ = head[1];
    flags2_.store(head[2], std::memory_order_release);
    // A size below 1 would cut fragments of nothing.
    frags_.set_min_size(min_size > 0 ? min_size : KV_FileFragMan::DEF_MIN_SIZE);
    file_name_ = name;
    fdata_ = fd;
    if (!(path_src_ = src) || !(path_dst_ = dst))
        return false;
    frags_.clear();

    if (!multifrag()) {
        int64_t stored = 0;
        if (!in.num(stored))
            return false;
        stored_pos = p;
        const int64_t off = p + 8;
        data_offset_.store(off, std::memory_order_release);
        // The count cannot claim more bytes than the area holds: the rest
        // was never written (or was cut off), and is fetched again.
        const int64_t avail = length > off ? length - off : 0;
        stored_.store(std::clamp<int64_t>(stored, 0, avail), std::memory_order_release);
    } else {
        data_offset_.store(p, std::memory_order_release);
        const int64_t fsize = file_size();
        std::map<int64_t, int64_t> taken;
        // Records that are not good (blank slots, zero areas, damage) are
        // passed over 32 bytes at a time; a good one is taken with its data
        // area, and reading goes on after that area.
        while (length - p >= KV_FileFrag::REC_SIZE) {
            KV_FileFrag frag(&frags_, 0, 0, KV_FileFrag::NEW);
            bool io_ok = false;
            const bool good = frag.read(file, io_ok);
            if (!io_ok)
                break;
            const int64_t area = length - p - KV_FileFrag::REC_SIZE;
            // Only a range of the file whose whole area lies in the sub-log
            // and that no earlier slot holds is believed.
            if (good && frag.begin() >= 0 && frag.end() <= fsize && frag.size() <= area &&
                !overlaps(taken, frag.begin(), frag.end())) {
                frag.set_rec_pos(p);
                if (!frags_.add(frag))
                    return false;
                try {
                    taken.emplace(frag.begin(), frag.end());
                } catch (const std::bad_alloc&) {
                    return false;
                }
                p += KV_FileFrag::REC_SIZE + frag.size();
                data_offset_.store(p, std::memory_order_release);
                if (!file.set_pos(p))
                    return false;
            } else {
                p += KV_FileFrag::REC_SIZE;
            }
        }
    }
    if (!init_frags_locked(false))
        return false;
    if (status() != ST_DELIVERING)
        progress(0);
    return true;
}

bool KV_TransLogCp::init_frags_locked(bool clear)
{
    if (clear)
        frags_.clear();
    return frags_.fill_gaps(multifrag() ? file_size() : 0);
}

bool KV_TransLogCp::init_frags(bool clear)
{
    std::lock_guard<KV_Lock> hold(lock);
    return init_frags_locked(clear);
}

// ---------------------------------------------------------------------------
// Data

bool KV_TransLogCp::write_at(int64_t offset, const unsigned char* data, uint32_t length)
{
    std::lock_guard<KV_Lock> hold(lock);
    // The contiguous area of a segmented sub-log holds fragment slots.
    if (multifrag() || offset < 0 || (length != 0 && data == nullptr) || !reopen())
        return false;
    const int64_t base = data_offset_.load(std::memory_order_relaxed);
    if (offset > INT64_MAX - base - length)
        return false;
    if (length != 0 && file.write_at(base + offset, data, length) != length)
        return false;
    const int64_t stored = stored_.load(std::memory_order_relaxed) + length;
    if (!write_stored(stored))
        return false;
    stored_.store(stored, std::memory_order_release);
    return true;
}

namespace {

// Makes the open file at least `end` bytes long; what it adds reads as
// zeros.
bool extend_file(KV_File& file, int64_t end)
{
    FILE* fp = file;
    struct stat st;
    if (fp == nullptr || std::fflush(fp) != 0 || fstat(fileno(fp), &st) != 0)
        return false;
    return st.st_size >= end || ftruncate(fileno(fp), end) == 0;
}

} // namespace

bool KV_TransLogCp::write_frag(KV_FileFrag& frag, const unsigned char* data, uint32_t length)
{
    std::lock_guard<KV_Lock> hold(lock);
    const int64_t pos = frag.pos();
    // A write past the fragment's end would land on the next slot's record.
    if (frag.end() <= frag.begin() || pos < frag.begin() || pos > frag.end() ||
        length > frag.end() - pos || (length != 0 && data == nullptr) || !reopen())
        return false;
    if (frag.rec_pos() == 0) {
        // The slot's record stays blank until its first data is in: a slot
        // that was placed but never written is passed over on restore and
        // its range fetched again.
        static const unsigned char zeros[KV_FileFrag::REC_SIZE] = {};
        const int64_t rec = data_offset_.load(std::memory_order_relaxed);
        // The slot's data is a hole until written: it reads as zeros, as
        // written zeros would, without writing every byte of it twice while
        // the other fragments wait for the lock.
        if (!file.set_pos(rec) ||
            file.write(zeros, KV_FileFrag::REC_SIZE) != KV_FileFrag::REC_SIZE ||
            !extend_file(file, rec + KV_FileFrag::REC_SIZE + frag.size()))
            return false;
        frag.set_rec_pos(rec);
        data_offset_.store(rec + KV_FileFrag::REC_SIZE + frag.size(), std::memory_order_release);
    }
    if (length == 0)
        return true;
    if (!file.set_pos(frag.data_pos() + (pos - frag.begin())) || file.write(data, length) != length)
        return false;
    frag.advance(length);
    return file.set_pos(frag.rec_pos()) && frag.write(file);
}

void KV_TransLogCp::note_stored(int64_t stored)
{
    stored_.store(stored, std::memory_order_release);
}

bool KV_TransLogCp::vouch_stored(int fd, int64_t stored, bool sync)
{
    if (fd < 0 || multifrag())
        return false;
    // The count is written only once the bytes it counts are in: a machine
    // that stops in between leaves a count that claims too little, never
    // too much.
    if (sync && ::fdatasync(fd) != 0)
        return false;
    std::lock_guard<KV_Lock> hold(lock);
    if (!reopen())
        return false;
    // With the bytes in the part file the area here is a hole of their
    // length, so that the restore's check of the count against the area
    // holds as it does for bytes kept here.
    if (part_fd_ >= 0 && !extend_file(file, data_offset_.load(std::memory_order_relaxed) + stored))
        return false;
    return write_stored(stored);
}

bool KV_TransLogCp::vouch_frag(int fd, const KV_FileFrag& frag, bool sync)
{
    if (fd < 0 || frag.rec_pos() == 0)
        return false;
    if (sync && ::fdatasync(fd) != 0)
        return false;
    std::lock_guard<KV_Lock> hold(lock);
    return reopen() && file.set_pos(frag.rec_pos()) && frag.write(file);
}

bool KV_TransLogCp::use_part(int fd, bool& afresh)
{
    afresh = false;
    if (part_fd_ >= 0)
        ::close(part_fd_);
    part_fd_ = -1;
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const int64_t have = st.st_size;
    const uint8_t s = status();
    bool ok = true;
    if (!multifrag()) {
        const int64_t stored = stored_.load(std::memory_order_acquire);
        if (s == ST_NONE)
            ok = ::ftruncate(fd, 0) == 0;
        else if (have < stored && s >= ST_DELIVERING)
            afresh = true;
        else if (have < stored)
            ok = set_stored(have);
    } else {
        // A part of another length was not extended by this download: what
        // the records vouch for is not in it.
        const int64_t size = file_size();
        if (have != size && (s >= ST_DELIVERING || frags_.done_bytes() > 0))
            afresh = true;
        else
            ok = (have == size || ::ftruncate(fd, 0) == 0) && ::ftruncate(fd, size) == 0;
    }
    if (!ok || afresh) {
        ::close(fd);
        return false;
    }
    part_fd_ = fd;
    return true;
}

bool KV_TransLogCp::settle_part()
{
    if (part_fd_ < 0)
        return false;
    int64_t size = 0;
    if (multifrag()) {
        std::vector<KV_FileFragMan::Range> ranges;
        if (!frags_.ranges(ranges))
            return false;
        size = file_size();
        int64_t off = 0;
        for (const KV_FileFragMan::Range& r : ranges) {
            if (r.begin > off || !r.done)
                return false;
            off = std::max(off, r.end);
        }
        if (off < size)
            return false;
    } else {
        size = stored_.load(std::memory_order_acquire);
    }
    struct stat st;
    if (fstat(part_fd_, &st) != 0 || st.st_size < size)
        return false;
    if (st.st_size > size && ::ftruncate(part_fd_, size) != 0)
        return false;
    progress(size);
    return true;
}

bool KV_TransLogCp::read_frag(const KV_FileFrag& frag, unsigned char* buf, int64_t offset,
                              uint32_t& length)
{
    std::lock_guard<KV_Lock> hold(lock);
    const int64_t room = frag.size() - offset;
    if (frag.rec_pos() == 0 || offset < 0 || room < 0 || !reopen() ||
        !file.set_pos(frag.data_pos() + offset)) {
        length = 0;
        return false;
    }
    if (length > room)
        length = static_cast<uint32_t>(room);
    length = length != 0 && buf != nullptr ? file.read(buf, length) : 0;
    return true;
}

void KV_TransLogCp::ReadInProgress::progress(int64_t n)
{
    log.stored_.store(n - log.data_offset_.load(std::memory_order_relaxed),
                      std::memory_order_release);
    log.progress(n);
}

bool KV_TransLogCp::copy_data(KV_File& src, KV_Stoppable* stop)
{
    if (multifrag())
        return false;
    std::lock_guard<KV_Lock> hold(lock);
    stored_.store(0, std::memory_order_release);
    // The count goes to 0 first: a read-in cut short by a crash must not
    // leave the count of an earlier one in front of different bytes.
    bool ok = reopen() && write_stored(0);
    int64_t copied = 0;
    if (ok) {
        ReadInProgress receiver(*this);
        ok = KV_File::copy(src, file, 0, data_offset_.load(std::memory_order_relaxed), 0, &copied,
                           stop, &receiver);
    }
    ok = ok && write_stored(copied);
    stored_.store(ok ? copied : 0, std::memory_order_release);
    return ok;
}

bool KV_TransLogCp::copy_frags(KV_File& dst, KV_Stoppable* stop)
{
    std::lock_guard<KV_Lock> hold(lock);
    if (!reopen())
        return false;
    if (!multifrag()) {
        const int64_t n = size();
        // KV_File::copy reads a size of 0 as "to the end of the sub-log".
        if (n == 0)
            return true;
        return KV_File::copy(file, dst, data_offset_.load(std::memory_order_relaxed), 0, n, nullptr,
                             stop, this);
    }
    // The fragments in offset order: one pass, however many there are.
    std::vector<KV_FileFragMan::Range> ranges;
    if (!frags_.ranges(ranges))
        return false;
    const int64_t fsize = file_size();
    int64_t off = 0;
    size_t i = 0;
    while (off < fsize) {
        while (i < ranges.size() && ranges[i].end <= off)
            ++i;
        if (i == ranges.size() || ranges[i].begin > off || !ranges[i].done)
            return false;
        const KV_FileFragMan::Range& r = ranges[i];
        const int64_t end = std::min(r.end, fsize);
        if (!KV_File::copy(file, dst, r.data_pos + (off - r.begin), off, end - off, nullptr, stop,
                           this))
            return false;
        off = end;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Progress

void KV_TransLogCp::progress(int64_t n)
{
    const int64_t total = file_size();
    int32_t value = PROG_UNKNOWN;
    switch (status()) {
    case ST_RECEIVING:
        if (total > 0)
            value = percent(
                multifrag() ? frags_.done_bytes() : stored_.load(std::memory_order_acquire), total);
        break;
    case ST_DELIVERING:
        if (total > 0)
            value = 101 + percent(n, total);
        break;
    case ST_DONE:
        value = PROG_DONE;
        break;
    default:
        break;
    }
    // The request hears of a change only: every chunk of a copy reports,
    // most of them without moving the percentage.
    if (prog_.exchange(value, std::memory_order_acq_rel) != value && owner_ != nullptr)
        owner_->update_prog(path_src_, value);
}

void KV_TransLogCp::process_err(uint8_t code, const KV_String& text)
{
    (void)code;
    (void)text;
}
