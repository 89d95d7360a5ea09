#include "ftp/kv_ftpserver.h"

#include <cctype>

namespace {

bool is_ws(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A cursor over one listing line. Each step skips white space first (as the
// fields of a listing are separated by runs of blanks) except rest(), which
// takes everything after the previous field including its separator.
class Scan
{
public:
    explicit Scan(const KV_String& s) : p(s.data()), e(s.data() + s.length()) {}

    bool word(KV_String& out)
    {
        skip();
        const char* b = p;
        while (p < e && !is_ws(*p))
            ++p;
        if (p == b || static_cast<uint32_t>(p - b) > KV_FtpServer::max_field)
            return false;
        out.clear();
        return out.append(b, static_cast<uint32_t>(p - b));
    }

    // A decimal number with an optional sign. Whole means that the digits must
    // end the field (followed by white space, the end or a slash);
    // otherwise they may be the prefix of a longer field, whose remainder is
    // skipped.
    bool num(int64_t& v, bool whole = true)
    {
        skip();
        bool neg = false;
        if (p < e && (*p == '-' || *p == '+'))
            neg = *p++ == '-';
        const char* b = p;
        int64_t r = 0;
        for (; p < e && *p >= '0' && *p <= '9'; ++p) {
            if (__builtin_mul_overflow(r, int64_t{10}, &r) ||
                __builtin_add_overflow(r, int64_t{*p - '0'}, &r))
                return false;
        }
        if (p == b)
            return false;
        if (whole && p < e && !is_ws(*p) && *p != '/')
            return false;
        v = neg ? -r : r;
        return true;
    }

    bool lit(char c)
    {
        if (p >= e || *p != c)
            return false;
        ++p;
        return true;
    }

    void skip()
    {
        while (p < e && is_ws(*p))
            ++p;
    }

    bool rest(KV_String& out)
    {
        if (p >= e)
            return false;
        out.clear();
        return out.append(p, static_cast<uint32_t>(e - p));
    }

private:
    const char* p;
    const char* e;
};

// Digits only, at most `max` of them, as an unsigned value.
bool digits(const char* b, const char* e, uint32_t max, uint32_t& v)
{
    if (b == e || e - b > static_cast<long>(max))
        return false;
    v = 0;
    for (; b < e; ++b) {
        if (*b < '0' || *b > '9')
            return false;
        v = v * 10 + static_cast<uint32_t>(*b - '0');
    }
    return true;
}

// "hh:mm" of this year, or a year from 1900 to 2999.
bool time_or_year(const KV_String& f, bool& year)
{
    const char* b = f.data();
    const char* e = b + f.length();
    uint32_t colon = 0;
    if (f.contains(':', 0, &colon)) {
        uint32_t h = 0, m = 0;
        year = false;
        return digits(b, b + colon, 2, h) && digits(b + colon + 1, e, 2, m) && h < 24 && m < 60;
    }
    uint32_t y = 0;
    year = true;
    return digits(b, e, 4, y) && y >= 1900 && y <= 2999;
}

KV_String join3(const KV_String& a, const KV_String& b, const KV_String& c)
{
    return a + " " + b + " " + c;
}

// The line trimmed, or false when it is too long to be an entry.
bool trimmed(const KV_String& line, KV_String& text)
{
    if (line.length() > KV_FtpServer::max_line)
        return false;
    text = line.trim();
    return true;
}

uint8_t attr_flags(const KV_String& attr, uint8_t dir, uint8_t file)
{
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(attr.data(0))));
    uint8_t f = c == 'D' ? dir : file;
    if (c == 'L')
        f |= KV_FTP_ENTRY_LINK;
    return f;
}

// A negative size is no size: the entry stays, its size unknown (neither
// exact nor estimated), so that a copy still fetches the file.
uint8_t known_size(int64_t& size, uint8_t flags)
{
    if (size >= 0)
        return flags;
    size = 0;
    return static_cast<uint8_t>(flags & ~(KV_FTP_ENTRY_SZ_EXACT | KV_FTP_ENTRY_SZ_EST));
}

// The product, or -1 (no size) when a factor is negative; false only when
// the product overflows.
bool mul(int64_t a, int64_t b, int64_t& out)
{
    if (a < 0 || b < 0) {
        out = -1;
        return true;
    }
    return !__builtin_mul_overflow(a, b, &out);
}

} // namespace

bool KV_FtpServer::parse_line(const KV_String& line, KV_String& name, KV_String& attr,
                              KV_String& owner, KV_String& group, KV_String& date, int64_t& size,
                              uint8_t& flags)
{
    return parse_generic(line, name, attr, owner, group, date, size, flags);
}

bool KV_FtpServer::parse_generic(const KV_String& line, KV_String& name, KV_String& attr,
                                 KV_String& owner, KV_String& group, KV_String& date, int64_t& size,
                                 uint8_t& flags)
{
    KV_String text;
    if (!trimmed(line, text))
        return false;
    // 1: owner and group; 2: owner only; 3: neither.
    for (int g = 1; g <= 3; ++g) {
        Scan s(text);
        KV_String a, o, gr, mon, day, toy, rest;
        int64_t links = 0, sz = 0;
        bool ok = s.word(a) && s.num(links);
        if (ok && g <= 2)
            ok = s.word(o);
        if (ok && g == 1)
            ok = s.word(gr);
        ok = ok && s.num(sz) && s.word(mon) && s.word(day) && s.word(toy) && s.rest(rest);
        bool year = false;
        if (!ok || !time_or_year(toy, year))
            continue;
        KV_String n = rest.part(1, rest.length());
        if (year)
            n = n.trim(1);
        if (n.empty())
            continue;
        name = n;
        attr = a.trim();
        owner = o.trim();
        group = gr.trim();
        date = join3(mon, day, toy);
        size = sz;
        flags = known_size(size, attr_flags(attr, 0x29, 0x38));
        return true;
    }
    return false;
}

bool KV_FtpServer::dir_from_serv(KV_String&)
{
    return true;
}

bool KV_FtpServer::path_to_serv(KV_String&, bool)
{
    return true;
}

bool KV_FtpServer::acks_trans(uint32_t) const
{
    return false;
}

bool KV_FtpServerNetware::parse_line(const KV_String& line, KV_String& name, KV_String& attr,
                                     KV_String& owner, KV_String& group, KV_String& date,
                                     int64_t& size, uint8_t& flags)
{
    KV_String text;
    if (!trimmed(line, text))
        return false;
    Scan s(text);
    KV_String type, rights, o, mon, day, toy, rest;
    int64_t sz = 0;
    bool year = false;
    if (s.word(type) && s.word(rights) && s.word(o) && s.num(sz) && s.word(mon) && s.word(day) &&
        s.word(toy) && s.rest(rest) && time_or_year(toy, year) && rest.length() > 1) {
        name = rest.part(1, rest.length());
        attr = type.trim() + rights.trim();
        owner = o.trim();
        group.clear();
        date = join3(mon, day, toy);
        size = sz;
        flags = known_size(size, attr_flags(attr, 0x21, 0x30));
        return true;
    }
    return parse_generic(line, name, attr, owner, group, date, size, flags);
}

bool KV_FtpServerVM::parse_line(const KV_String& line, KV_String& name, KV_String& attr,
                                KV_String& owner, KV_String& group, KV_String& date, int64_t& size,
                                uint8_t& flags)
{
    KV_String text;
    if (!trimmed(line, text))
        return false;
    Scan s(text);
    KV_String fn, ft, recfm, d, t, rest;
    int64_t lrecl = 0, recs = 0, blocks = 0, sz = 0;
    if (s.word(fn) && s.word(ft) && s.word(recfm) && s.num(lrecl) && s.num(recs) && s.num(blocks) &&
        s.word(d) && s.word(t) && s.rest(rest) && mul(lrecl, recs, sz)) {
        name = fn + "." + ft;
        attr.clear();
        owner.clear();
        group.clear();
        date = d + " " + t;
        size = sz;
        flags = known_size(size, KV_FTP_ENTRY_SZ_EST | 0x20);
        return true;
    }
    return parse_generic(line, name, attr, owner, group, date, size, flags);
}

bool KV_FtpServerVM::acks_trans(uint32_t code) const
{
    return code == 250;
}

KV_FtpServerVMS::KV_FtpServerVMS(const KV_PathMan& path_man) : path_man(path_man) {}

bool KV_FtpServerVMS::parse_one(const KV_String& text, KV_String& name, KV_String& attr,
                                KV_String& date, int64_t& size, uint8_t& flags) const
{
    const KV_String t = text.trim();
    KV_String n, d, tm, o, prot;
    int64_t used = 0, alloc = 0;
    bool ok = false;
    {
        Scan s(t);
        ok = s.word(n) && s.num(used) && s.lit('/') && s.num(alloc) && s.word(d) && s.word(tm) &&
             s.word(o) && s.rest(prot);
    }
    if (!ok) {
        Scan s(t);
        ok = s.word(n) && s.num(used) && s.word(d) && s.word(tm) && s.word(o) && s.rest(prot);
    }
    int64_t sz = 0;
    if (!ok || !mul(used, 512, sz))
        return false;
    uint32_t pos = 0;
    if (n.upper().contains(KV_String(".DIR;"), 0, &pos)) {
        n = n.part(0, pos);
        flags = 0x21;
    } else {
        flags = 0x24;
    }
    if (n.empty())
        return false;
    name = n;
    attr = prot.trim();
    date = d + " " + tm;
    size = sz;
    flags = known_size(size, flags);
    return true;
}

bool KV_FtpServerVMS::parse_line(const KV_String& line, KV_String& name, KV_String& attr,
                                 KV_String& owner, KV_String& group, KV_String& date, int64_t& size,
                                 uint8_t& flags)
{
    if (line.length() > max_line) {
        carried.clear();
        return false;
    }
    bool ok = false;
    if (!carried.empty())
        ok = parse_one(carried + line, name, attr, date, size, flags);
    if (!ok)
        ok = parse_one(line, name, attr, date, size, flags);
    if (ok) {
        owner.clear();
        group.clear();
        carried.clear();
    } else {
        carried = line;
    }
    return ok;
}

bool KV_FtpServerVMS::dir_from_serv(KV_String& dir)
{
    uint32_t open = 0;
    if (!dir.contains('[', 0, &open))
        return false;
    uint32_t close = dir.length();
    while (close > 0 && dir.data(close - 1) != ']')
        --close;
    if (close == 0 || close - 1 <= open + 1)
        return false;
    --close;
    dev_pre = dir.part(0, open + 1);
    dir_suf = dir.part(close, dir.length());
    KVTL::KV_ListVal<KV_String> parts;
    if (!dir.part(open + 1, close).parse(parts, "."))
        return false;
    const char sep[2] = {path_man.dir_sep(), 0};
    KV_String out;
    for (uint32_t i = 0; i < parts.size(); ++i)
        out += KV_String(sep) + parts.at(i);
    if (out.empty())
        out = sep;
    dir = out;
    return true;
}

bool KV_FtpServerVMS::path_to_serv(KV_String& path, bool is_file)
{
    const char sep[2] = {path_man.dir_sep(), 0};
    KVTL::KV_ListVal<KV_String> parts;
    if (!path.parse(parts, sep))
        return false;
    KV_String file;
    KV_String dirs;
    uint32_t left = parts.size();
    if (is_file) {
        if (left == 0)
            return false;
        --left;
    }
    for (uint32_t i = 0; i < parts.size(); ++i) {
        if (i < left) {
            if (!dirs.empty())
                dirs += ".";
            dirs += parts.at(i);
        } else {
            file = parts.at(i);
        }
    }
    path = dev_pre + dirs + dir_suf + file;
    return true;
}

bool KV_FtpServerWinNT::parse_line(const KV_String& line, KV_String& name, KV_String& attr,
                                   KV_String& owner, KV_String& group, KV_String& date,
                                   int64_t& size, uint8_t& flags)
{
    if (parse_generic(line, name, attr, owner, group, date, size, flags))
        return true;
    KV_String text;
    if (!trimmed(line, text))
        return false;
    Scan s(text);
    KV_String d, t, sod, rest;
    if (!s.word(d) || !s.word(t) || !s.word(sod) || !s.rest(rest))
        return false;
    const KV_String n = rest.part(1, rest.length()).trim();
    if (n.empty())
        return false;
    int64_t sz = 0;
    Scan ns(sod);
    const bool is_num = ns.num(sz, false);
    if (!is_num) {
        // An overflowing number is no directory tag either.
        const char c = sod.data(0);
        if ((c >= '0' && c <= '9') || c == '-' || c == '+')
            return false;
        sz = 0;
    }
    name = n;
    attr.clear();
    owner.clear();
    group.clear();
    date = d + " " + t;
    size = sz;
    flags = is_num ? known_size(size, 0x30) : 0x21;
    return true;
}
