#include "foundation/kv_path.h"

#include <cstdint>
#include <cstring>

#include "foundation/kv_storage.h"

namespace {

// Paths are short: a small growth step keeps each path's array small.
constexpr uint32_t k_path_grow = 4;

const KV_String& empty_entry()
{
    static const KV_String empty;
    return empty;
}

bool is_dot(const KV_String& s)
{
    return s.length() == 1 && s.data(0) == '.';
}

bool is_dotdot(const KV_String& s)
{
    return s.length() == 2 && s.data(0) == '.' && s.data(1) == '.';
}

bool ends_with(const KV_String& s, char c)
{
    return !s.empty() && s.data(s.length() - 1) == c;
}

// Appends all of s's bytes, not only those before a NUL.
bool append_all(KV_String& out, const KV_String& s)
{
    return out.append(reinterpret_cast<const unsigned char*>(s.data()), s.length());
}

} // namespace

// ---------------------------------------------------------------- KV_PathDef

KV_PathDef::KV_PathDef()
{
    list_.set_grow(k_path_grow);
}

KV_PathDef::KV_PathDef(const KV_PathDef& other) : KV_PathDef()
{
    *this = other;
}

KV_PathDef::~KV_PathDef()
{
    list_.clear();
}

bool KV_PathDef::operator=(const KV_PathDef& other)
{
    if (this == &other)
        return true;
    root_entry_ = other.root_entry_;
    list_.clear();
    // Only a hint: the copy goes on entry by entry even when it fails.
    list_.reserve(other.entries());
    for (uint32_t i = 0; i < other.entries(); ++i) {
        if (!list_.add(other.list_.at(i)))
            return false;
    }
    return true;
}

void KV_PathDef::clear()
{
    list_.clear();
}

bool KV_PathDef::is_entry_name(const unsigned char* name, uint32_t n)
{
    if (name == nullptr || n == 0)
        return false;
    if (name[0] == '.' && (n == 1 || (n == 2 && name[1] == '.')))
        return false;
    return std::memchr(name, '/', n) == nullptr && std::memchr(name, 0, n) == nullptr;
}

bool KV_PathDef::is_entry_name(const KV_String& name)
{
    return is_entry_name(reinterpret_cast<const unsigned char*>(name.data()), name.length());
}

bool KV_PathDef::append(const KV_String& entry)
{
    return list_.add(entry);
}

bool KV_PathDef::prepend(const KV_String& entry)
{
    return list_.insert(0, entry);
}

bool KV_PathDef::remove_last()
{
    if (list_.size() == 0)
        return true;
    return list_.remove_at(list_.size() - 1);
}

uint32_t KV_PathDef::entries() const
{
    return list_.size();
}

const KV_String& KV_PathDef::at(uint32_t i) const
{
    return list_.at(i);
}

const KV_String& KV_PathDef::first() const
{
    return first_ind() < entries() ? list_.at(first_ind()) : empty_entry();
}

const KV_String& KV_PathDef::last() const
{
    return entries() > 0 ? list_.at(entries() - 1) : empty_entry();
}

bool KV_PathDef::operator==(const KV_PathDef& other) const
{
    if (entries() != other.entries())
        return false;
    for (uint32_t i = 0; i < entries(); ++i) {
        if (!(list_.at(i) == other.list_.at(i)))
            return false;
    }
    return true;
}

bool KV_PathDef::operator<(const KV_PathDef& other) const
{
    if (entries() != other.entries())
        return entries() < other.entries();
    for (uint32_t i = 0; i < entries(); ++i) {
        const KV_String& a = list_.at(i);
        const KV_String& b = other.list_.at(i);
        if (a != b)
            return a < b;
    }
    return false;
}

bool KV_PathDef::is_equal(const KV_PathDef& other, bool case_sens) const
{
    if (entries() != other.entries())
        return false;
    for (uint32_t i = 0; i < entries(); ++i) {
        if (list_.at(i).compare(other.list_.at(i), case_sens) != 0)
            return false;
    }
    return true;
}

bool KV_PathDef::is_parent(const KV_PathDef& other, bool case_sens, KV_String* child) const
{
    if (entries() > other.entries())
        return false;
    for (uint32_t i = 0; i < entries(); ++i) {
        if (list_.at(i).compare(other.list_.at(i), case_sens) != 0)
            return false;
    }
    if (child != nullptr && other.entries() > entries())
        *child = other.list_.at(entries());
    return true;
}

bool KV_PathDef::adjust(const KV_PathDef& other, const KV_String& prefix)
{
    if (root_entry_ == other.root_entry_)
        return true;
    root_entry_ = other.root_entry_;
    if (root_entry_)
        return prefix.empty() || prepend(prefix);
    if (entries() > 0 && list_.at(0) == prefix)
        return list_.remove_at(0);
    return false;
}

bool KV_PathDef::validate()
{
    const uint32_t first = first_ind();
    // Each pass removes at least one entry, so the scan ends.
    for (;;) {
        bool changed = false;
        for (uint32_t i = first; i < entries(); ++i) {
            const KV_String& e = list_.at(i);
            if (is_dot(e)) {
                if (!list_.remove_at(i))
                    return false;
                changed = true;
                break;
            }
            if (is_dotdot(e)) {
                if (i < first + 2)
                    return false;
                // Removing at i - 1 twice takes the entry before the ".." and
                // then the ".." itself.
                if (!list_.remove_at(i - 1) || !list_.remove_at(i - 1))
                    return false;
                changed = true;
                break;
            }
        }
        if (!changed)
            break;
    }
    return entries() > first;
}

bool KV_PathDef::write_bin(KV_Storage& st) const
{
    if (!st.write_le(static_cast<uint8_t>(root_entry_ ? 1 : 0)))
        return false;
    const uint32_t n = entries();
    if (!st.write_le(n))
        return false;
    for (uint32_t i = 0; i < n; ++i) {
        if (!list_.at(i).write_bin(st))
            return false;
    }
    return true;
}

bool KV_PathDef::read_bin(KV_Storage& st)
{
    uint8_t root = 0;
    if (!st.read_le(root))
        return false;
    root_entry_ = root != 0;
    uint32_t n = 0;
    if (!st.read_le(n))
        return false;
    // The count comes from a file: nothing is reserved for it, entries are
    // added only as they are actually read, so a forged count costs no more
    // memory than the bytes behind it. Room is doubled as entries arrive (the
    // step of 4 would make a long forged path cost quadratic time) and the
    // spare room given back at the end.
    bool ok = true;
    for (uint32_t i = 0; ok && i < n; ++i) {
        KV_String entry;
        ok = entry.read_bin(st);
        if (!ok)
            break;
        const uint32_t size = list_.size();
        if (size >= 64 && size == list_.capacity() && size <= UINT32_MAX / 2)
            list_.reserve(size * 2); // on failure add() still grows by its step
        ok = list_.add(entry);
    }
    if (list_.capacity() > list_.size() + k_path_grow)
        list_.reserve(list_.size());
    return ok;
}

// ------------------------------------------------------------- KV_PathDefDir

KV_PathDefDir::KV_PathDefDir(const KV_PathDef& path, bool is_dir)
    : KV_PathDef(path), is_dir_(is_dir)
{
}

KV_PathDefDir::KV_PathDefDir(const KV_PathDefDir& other) : KV_PathDef(other), is_dir_(other.is_dir_)
{
}

bool KV_PathDefDir::operator=(const KV_PathDefDir& other)
{
    is_dir_ = other.is_dir_;
    return KV_PathDef::operator=(other);
}

bool KV_PathDefDir::is_equal(const KV_PathDefDir& other, bool case_sens) const
{
    return is_dir_ == other.is_dir_ && KV_PathDef::is_equal(other, case_sens);
}

// ---------------------------------------------------------------- KV_PathMan

KV_PathMan::KV_PathMan(const char& dir_sep) : dir_sep_(dir_sep) {}

bool KV_PathMan::split_path(const KV_String& in, KV_PathDef& path, bool root) const
{
    // The text may be one of path's own entries, which clear() destroys.
    const KV_String text(in);
    if (text.length() != in.length())
        return false;
    path.clear();
    path.set_root_entry(root);

    // Separators inside the parameters do not split. The limit is an index
    // into the whole text, so it holds however far the splitting has gone.
    uint32_t limit = text.length();
    if (par_sep_ != 0) {
        uint32_t p = 0;
        if (text.contains(par_sep_, 0, &p))
            limit = p;
    }

    uint32_t pos = 0;
    uint32_t sep = 0;
    while (pos < text.length() && text.contains(dir_sep_, pos, &sep) && sep < limit) {
        const bool ok =
            sep == pos ? path.append(KV_String(dir_sep_)) : path.append(text.part(pos, sep));
        if (!ok)
            return false;
        pos = sep + 1;
    }
    if (pos < text.length())
        return path.append(text.part(pos, text.length()));
    return true;
}

bool KV_PathMan::build_path(KV_String& out, const KV_PathDef& path, bool with_pre,
                            uint32_t nabbrev) const
{
    out.clear();
    bool first = true;
    uint32_t i = 0;
    const char sep[2] = {dir_sep_, 0};

    if (!dir_pre_.empty()) {
        if (with_pre && !path.root_entry()) {
            if (!append_all(out, dir_pre_))
                return false;
            first = false;
        } else if (!with_pre && path.root_entry()) {
            i = 1;
        }
    }

    if (nabbrev != 0) {
        if (!first && !ends_with(out, dir_sep_) && !out.append(sep))
            return false;
        first = false;
        if (!out.append("..."))
            return false;
        for (uint32_t skipped = 0; i < path.entries() && skipped < nabbrev; ++i) {
            if (!path.at(i).empty())
                ++skipped;
        }
    }

    for (; i < path.entries(); ++i) {
        const KV_String& e = path.at(i);
        if (e.empty())
            continue;
        if (!first && !ends_with(out, dir_sep_) && !out.append(sep))
            return false;
        first = false;
        if (!append_all(out, e))
            return false;
    }
    return true;
}

bool KV_PathMan::build_path(KV_String& out, const KV_PathDef& path, const KV_String& name,
                            bool with_pre, uint32_t nabbrev) const
{
    if (name.empty())
        return false;
    KV_PathDef full;
    if (!(full = path) || !full.append(name))
        return false;
    return build_path(out, full, with_pre, nabbrev);
}

KV_String KV_PathMan::compl_dir(const KV_String& dir) const
{
    if (dir.empty())
        return KV_String();
    const char sep[2] = {dir_sep_, 0};
    return dir.trim(2, sep) + sep;
}

bool KV_PathMan::is_fname(const KV_String& text) const
{
    return !text.empty() && !ends_with(text, dir_sep_);
}

// -------------------------------------------------------------- KV_ComplPath

KV_ComplPath::KV_ComplPath(const KV_PathMan& man, const KV_PathDef& path) : man_(man), path_(path)
{
}

KV_ComplPath::KV_ComplPath(const KV_ComplPath& other) : man_(other.man_), path_(other.path_) {}

bool KV_ComplPath::operator=(const KV_ComplPath& other)
{
    man_ = other.man_;
    return path_ = other.path_;
}

bool KV_ComplPath::build_path(KV_String& out, bool with_pre, uint32_t nabbrev) const
{
    return man_.build_path(out, path_, with_pre, nabbrev);
}
