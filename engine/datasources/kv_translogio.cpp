// KV_TransLogIn: the bounded reader of transfer-log bodies.
#include "datasources/kv_translogio.h"

#include <cstdio>
#include <sys/stat.h>

#include "foundation/kv_file.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"

KV_TransLogIn::KV_TransLogIn(KV_File& file) : file(file)
{
    FILE* fp = file;
    struct stat st;
    int64_t p = 0;
    if (fp == nullptr || ::fstat(::fileno(fp), &st) != 0 || !file.pos(p))
        return;
    pos_ = p;
    end_ = static_cast<int64_t>(st.st_size);
}

uint32_t KV_TransLogIn::read(void* dst, uint32_t n)
{
    const int64_t room = left();
    if (static_cast<int64_t>(n) > room)
        n = static_cast<uint32_t>(room);
    if (n == 0)
        return 0;
    const uint32_t got = file.read(dst, n);
    pos_ += got;
    return got;
}

uint32_t KV_TransLogIn::write(const unsigned char*, uint32_t)
{
    return 0;
}

bool KV_TransLogIn::time(KV_Time& t)
{
    return t.read_bin(*this);
}

bool KV_TransLogIn::seek(int64_t pos)
{
    if (pos < 0 || pos > end_ || !file.set_pos(pos))
        return false;
    pos_ = pos;
    return true;
}

bool KV_TransLogIn::str(KV_String& s)
{
    const int64_t at = pos_;
    uint32_t n = 0;
    if (!num(n) || static_cast<int64_t>(n) * 2 > left())
        return false;
    // The count is believable: the string's own reader takes it from here.
    return seek(at) && s.read_bin(*this);
}

bool KV_TransLogIn::count(uint32_t& n, uint32_t min_size)
{
    uint32_t c = 0;
    if (!num(c) || static_cast<int64_t>(c) * min_size > left())
        return false;
    n = c;
    return true;
}

bool KV_TransLogIn::path(KV_PathDef& p)
{
    p.clear();
    uint8_t root = 0;
    uint32_t n = 0;
    // Every entry is a string of at least its 4-byte count.
    if (!num(root) || !count(n, 4))
        return false;
    p.set_root_entry(root != 0);
    for (uint32_t i = 0; i < n; ++i) {
        KV_String entry;
        if (!str(entry) || !p.append(entry))
            return false;
    }
    return true;
}

bool KV_TransLogIn::names(KVTL::KV_ListVal<KV_String>& names)
{
    names.clear();
    uint32_t n = 0;
    if (!count(n, 4))
        return false;
    for (uint32_t i = 0; i < n; ++i) {
        KV_String name;
        if (!str(name) || !names.add(name))
            return false;
    }
    return true;
}

bool KV_TransLogIn::man_id(KV_FileManId& id)
{
    uint16_t type = 0;
    KV_String n1;
    KV_String n2;
    KV_String n3;
    uint32_t impl = 0;
    if (!num(type) || !str(n1) || !str(n2) || !str(n3) || !num(impl))
        return false;
    id = KV_FileManId(KV_DsId(type, n1, n2, n3), impl);
    return true;
}

bool KV_TransLogOut::begin(KV_File& file)
{
    int64_t p = 0;
    if (!file.opened() || !file.pos(p))
        return false;
    start_ = p;
    return true;
}

bool KV_TransLogOut::bytes(const void* src, uint32_t n)
{
    return n == 0 || append(static_cast<const unsigned char*>(src), n);
}

bool KV_TransLogOut::time(const KV_Time& t)
{
    return t.write_bin(*this);
}

bool KV_TransLogOut::str(const KV_String& s)
{
    return s.write_bin(*this);
}

bool KV_TransLogOut::path(const KV_PathDef& p)
{
    return p.write_bin(*this);
}

bool KV_TransLogOut::man_id(const KV_FileManId& id)
{
    return id.write_bin(*this);
}

bool KV_TransLogOut::names(const KVTL::KV_ListVal<KV_String>& names)
{
    if (!num(names.size()))
        return false;
    for (const KV_String& name : names) {
        if (!str(name))
            return false;
    }
    return true;
}

bool KV_TransLogOut::fixed(const KV_String& text, uint32_t size)
{
    if (size == 0)
        return true;
    const uint32_t n = text.length() < size - 1 ? text.length() : size - 1;
    if (!bytes(text.data(), n))
        return false;
    static const unsigned char zeros[64] = {};
    for (uint32_t left = size - n; left > 0;) {
        const uint32_t k = left < sizeof zeros ? left : sizeof zeros;
        if (!append(zeros, k))
            return false;
        left -= k;
    }
    return true;
}

bool KV_TransLogOut::flush(KV_File& file) const
{
    const uint32_t n = length();
    const unsigned char* b = *this;
    return file.set_pos(start_) && (n == 0 || file.write(b, n) == n);
}

bool KV_TransLogOut::rewrite(KV_File& file) const
{
    const uint32_t n = length();
    const unsigned char* b = *this;
    return n == 0 ? file.set_pos(start_) : file.write_at(start_, b, n) == n;
}
