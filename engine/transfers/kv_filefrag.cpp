// KV_FileFrag and KV_FileFragMan: the byte ranges of a segmented copy.
#include "transfers/kv_filefrag.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <utility>

#include "datasources/kv_translogio.h"
#include "foundation/kv_storage.h"
#include "requests/kv_filereq.h"

// ---------------------------------------------------------------------------
// KV_FileFrag

KV_FileFrag::KV_FileFrag(KV_FileFragMan* owner, int64_t begin, int64_t end, uint32_t state)
    : owner_(owner), state_(state), begin_(begin), end_(end), pos_(begin)
{
}

KV_FileFrag::KV_FileFrag(const KV_FileFrag& other)
    : owner_(other.owner_), state_(other.state()), begin_(other.begin_), end_(other.end_),
      pos_(other.pos()), rec_pos_(other.rec_pos_)
{
}

KV_FileFrag& KV_FileFrag::operator=(const KV_FileFrag& other)
{
    owner_ = other.owner_;
    state_.store(other.state(), std::memory_order_release);
    begin_ = other.begin_;
    end_ = other.end_;
    pos_.store(other.pos(), std::memory_order_release);
    rec_pos_ = other.rec_pos_;
    return *this;
}

void KV_FileFrag::set_begin(int64_t v)
{
    begin_ = v;
    pos_.store(v, std::memory_order_release);
}

void KV_FileFrag::advance(int64_t n)
{
    pos_.fetch_add(n, std::memory_order_acq_rel);
}

void KV_FileFrag::set_state(uint32_t state)
{
    if (owner_ != nullptr)
        owner_->set_frag_state(*this, state);
    else
        state_.store(state, std::memory_order_release);
}

bool KV_FileFrag::done() const
{
    return pos() == end_;
}

bool KV_FileFrag::valid() const
{
    const int64_t p = pos();
    return begin_ < end_ && begin_ <= p && p <= end_;
}

int64_t KV_FileFrag::size() const
{
    if (end_ <= begin_)
        return 0;
    // Unsigned, so that no pair of stored values can overflow the subtraction.
    const uint64_t d = static_cast<uint64_t>(end_) - static_cast<uint64_t>(begin_);
    return d > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(d);
}

uint64_t KV_FileFrag::check() const
{
    return ((static_cast<uint64_t>(end_) & 0xFFFF) << 48) |
           ((static_cast<uint64_t>(begin_) & 0xFFFF) << 32) |
           (static_cast<uint64_t>(pos()) & 0xFFFFFFFF);
}

bool KV_FileFrag::write(KV_Storage& st) const
{
    return kv_write_le(st, begin_) && kv_write_le(st, end_) && kv_write_le(st, pos()) &&
           kv_write_le(st, check());
}

bool KV_FileFrag::read(KV_Storage& st, bool& io_ok)
{
    uint64_t b = 0, e = 0, p = 0, c = 0;
    io_ok = kv_read_le(st, b) && kv_read_le(st, e) && kv_read_le(st, p) && kv_read_le(st, c);
    begin_ = static_cast<int64_t>(b);
    end_ = static_cast<int64_t>(e);
    pos_.store(static_cast<int64_t>(p), std::memory_order_release);
    const bool good = io_ok && c == check() && valid();
    state_.store(!good ? FAILED : (pos() >= end_ ? DONE : PARTIAL), std::memory_order_release);
    return good;
}

// ---------------------------------------------------------------------------
// KV_FileFragMan

KV_FileFragMan::KV_FileFragMan() = default;

KV_FileFragMan::~KV_FileFragMan()
{
    clear();
}

bool KV_FileFragMan::add_locked(KV_FileFrag* frag)
{
    if (frag == nullptr)
        return false;
    if (!frags.add(frag)) {
        delete frag;
        return false;
    }
    return true;
}

bool KV_FileFragMan::add(const KV_FileFrag& frag)
{
    auto* copy = new (std::nothrow) KV_FileFrag(frag);
    if (copy == nullptr)
        return false;
    // State changes of the copy must reach this manager's completion check.
    copy->owner_ = this;
    std::lock_guard<KV_Lock> hold(list_lock);
    return add_locked(copy);
}

bool KV_FileFragMan::add_new(int64_t begin, int64_t end, uint32_t state)
{
    auto* frag = new (std::nothrow) KV_FileFrag(this, begin, end, state);
    std::lock_guard<KV_Lock> hold(list_lock);
    return add_locked(frag);
}

bool KV_FileFragMan::find_pos(KV_FileFrag** out, int64_t off)
{
    std::lock_guard<KV_Lock> hold(list_lock);
    for (uint32_t i = 0; i < frags.size(); ++i) {
        KV_FileFrag* f = frags.at(i);
        if (f->begin_ <= off && off < f->end_) {
            if (out != nullptr)
                *out = f;
            return true;
        }
    }
    return false;
}

KV_FileFrag* KV_FileFragMan::find_state_locked(uint32_t state) const
{
    for (uint32_t i = 0; i < frags.size(); ++i) {
        KV_FileFrag* f = frags.at(i);
        if (f->state() == state)
            return f;
    }
    return nullptr;
}

bool KV_FileFragMan::find_state(uint32_t state, KV_FileFrag** out)
{
    std::lock_guard<KV_Lock> hold(list_lock);
    KV_FileFrag* f = find_state_locked(state);
    if (out != nullptr)
        *out = f;
    return f != nullptr;
}

bool KV_FileFragMan::all_done_locked() const
{
    for (uint32_t i = 0; i < frags.size(); ++i)
        if (frags.at(i)->state() != KV_FileFrag::DONE)
            return false;
    return true;
}

bool KV_FileFragMan::all_done()
{
    std::lock_guard<KV_Lock> hold(list_lock);
    return all_done_locked();
}

bool KV_FileFragMan::fill_gaps(int64_t size)
{
    if (size < 0)
        size = 0;
    std::lock_guard<KV_Lock> hold(list_lock);
    if (frags.size() == 0)
        return add_locked(new (std::nothrow) KV_FileFrag(this, 0, size, KV_FileFrag::NEW));
    // The ranges that cover something, in offset order: one pass over them
    // finds every gap, however many fragments a restored log brought.
    // Empty or reversed ranges cover nothing; taking them as covering would
    // leave the walk stuck on them.
    std::vector<std::pair<int64_t, int64_t>> cover;
    try {
        cover.reserve(frags.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (uint32_t i = 0; i < frags.size(); ++i) {
        const KV_FileFrag* f = frags.at(i);
        if (f->end_ > f->begin_)
            cover.emplace_back(f->begin_, f->end_);
    }
    std::sort(cover.begin(), cover.end());
    bool ok = true;
    int64_t cur = 0;
    size_t next = 0;
    while (ok && cur < size) {
        while (next < cover.size() && cover[next].second <= cur)
            ++next;
        int64_t nb = size;
        int64_t ne = size;
        if (next < cover.size()) {
            nb = cover[next].first;
            ne = cover[next].second;
            ++next;
        }
        if (cur < nb)
            ok = add_locked(new (std::nothrow)
                                KV_FileFrag(this, cur, std::min(nb, size), KV_FileFrag::NEW));
        cur = std::max(cur, ne);
    }
    return ok;
}

bool KV_FileFragMan::take(KV_FileFrag** out)
{
    *out = nullptr;
    std::lock_guard<KV_Lock> hold(list_lock);
    KV_FileFrag* f = find_state_locked(KV_FileFrag::PARTIAL);
    if (f != nullptr) {
        *out = f;
        return true;
    }
    f = find_state_locked(KV_FileFrag::NEW);
    if (f == nullptr)
        return true;
    *out = f;
    const int64_t min = min_size();
    if (min > 0 && f->size() > min) {
        // size > min keeps begin + min below end: no overflow.
        auto* rest =
            new (std::nothrow) KV_FileFrag(this, f->begin_ + min, f->end_, KV_FileFrag::NEW);
        if (rest == nullptr)
            return false;
        const int64_t cut = rest->begin_;
        if (!add_locked(rest))
            return false;
        f->end_ = cut;
    }
    return true;
}

int64_t KV_FileFragMan::done_bytes()
{
    std::lock_guard<KV_Lock> hold(list_lock);
    int64_t sum = 0;
    for (uint32_t i = 0; i < frags.size(); ++i) {
        const KV_FileFrag* f = frags.at(i);
        int64_t n = 0;
        if (f->state() == KV_FileFrag::DONE)
            n = f->size();
        else if (f->valid())
            n = f->pos() - f->begin_;
        // Saturating: ranges from a damaged log may overlap.
        sum = n > INT64_MAX - sum ? INT64_MAX : sum + n;
    }
    return sum;
}

void KV_FileFragMan::set_request(KV_FileReq* req)
{
    std::lock_guard<KV_Lock> hold(state_lock);
    request_ = req;
    if (req != nullptr)
        req->set_no_term();
}

bool KV_FileFragMan::has_request()
{
    std::lock_guard<KV_Lock> hold(state_lock);
    return request_ != nullptr;
}

void KV_FileFragMan::reset_request()
{
    std::lock_guard<KV_Lock> hold(state_lock);
    request_ = nullptr;
}

KV_FileReq* KV_FileFragMan::completion_due(bool& all)
{
    if (queued_all_ == 0 || request_ == nullptr)
        return nullptr;
    {
        std::lock_guard<KV_Lock> hold(list_lock);
        if (find_state_locked(KV_FileFrag::IN_TRANSFER) != nullptr)
            return nullptr;
        all = all_done_locked();
    }
    KV_FileReq* req = request_;
    request_ = nullptr;
    return req;
}

void KV_FileFragMan::complete(KV_FileReq* req, bool all)
{
    if (req == nullptr)
        return;
    if (all)
        req->start_susp(true);
    else
        req->set_status(KV_REQ_STAT_ERROR, true, 0, false);
}

void KV_FileFragMan::set_queued_all(bool v)
{
    KV_FileReq* req = nullptr;
    bool all = false;
    {
        std::lock_guard<KV_Lock> hold(state_lock);
        queued_all_ = v ? 1 : 0;
        if (v)
            req = completion_due(all);
    }
    // The request is resumed outside the locks: its hooks reach the sub-log
    // and the managers, and the request was taken out, so this runs once.
    complete(req, all);
}

void KV_FileFragMan::set_frag_state(KV_FileFrag& frag, uint32_t state)
{
    KV_FileReq* req = nullptr;
    bool all = false;
    {
        std::lock_guard<KV_Lock> hold(state_lock);
        frag.state_.store(state, std::memory_order_release);
        if (state != KV_FileFrag::IN_TRANSFER)
            req = completion_due(all);
    }
    complete(req, all);
}

void KV_FileFragMan::clear()
{
    reset_request();
    std::lock_guard<KV_Lock> hold(list_lock);
    for (uint32_t i = 0; i < frags.size(); ++i)
        delete frags.at(i);
    frags.clear();
}

bool KV_FileFragMan::ranges(std::vector<Range>& out)
{
    std::lock_guard<KV_Lock> hold(list_lock);
    out.clear();
    try {
        out.reserve(frags.size());
        for (uint32_t i = 0; i < frags.size(); ++i) {
            const KV_FileFrag* f = frags.at(i);
            if (f->end_ > f->begin_)
                out.push_back(Range{f->begin_, f->end_, f->data_pos(), f->done()});
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::sort(out.begin(), out.end(),
              [](const Range& a, const Range& b) { return a.begin < b.begin; });
    return true;
}
