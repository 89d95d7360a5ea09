#include "foundation/kv_filedata.h"

#include <cerrno>
#include <climits>
#include <fnmatch.h>
#include <new>
#include <sys/stat.h>
#include <utility>

namespace {

KV_String& disp_form()
{
    static KV_String form("%c");
    return form;
}

bool (*dir_nempty_impl)(const KV_String& path) = nullptr;

int sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

bool is_dot_name(const KV_String& name)
{
    return name == "." || name == "..";
}

// Reads a string into a scratch copy, so that a failed read never leaves half
// an entry behind.
bool read_str(KV_Storage& st, KV_String& out)
{
    KV_String s;
    if (!s.read_bin(st)) {
        return false;
    }
    out = std::move(s);
    return true;
}

} // namespace

// ---------------------------------------------------------------- KV_FileData

KV_FileData::KV_FileData(const KV_String& name, bool is_dir)
    : flags_(is_dir ? KV_FD_DIR : 0), name_(name)
{
}

KV_FileData::KV_FileData(const KV_String& name, const KV_String& time, int64_t size,
                         const KV_Time& tm)
    : name_(name), time_(time), tm_disp_(tm.as_str(disp_form().data())), size_(size), tm_(tm)
{
}

KV_FileData::KV_FileData(const KV_FileData& other) : KV_SafeObj()
{
    KV_FileData::operator=(other);
}

KV_FileData::~KV_FileData() = default;

KV_FD_TYPE KV_FileData::type() const
{
    return KV_FD_DATA;
}

KV_FileData* KV_FileData::clone() const
{
    return new (std::nothrow) KV_FileData(*this);
}

KV_FileData& KV_FileData::operator=(const KV_FileData& other)
{
    if (this != &other) {
        name_ = other.name_;
        time_ = other.time_;
        size_ = other.size_;
        tm_disp_ = other.tm_disp_;
        tm_ = other.tm_;
        flags_ = other.flags_;
    }
    return *this;
}

bool KV_FileData::operator==(const KV_FileData& other) const
{
    return name_ == other.name_ && time_ == other.time_ && size(false) == other.size(false) &&
           flags_ == other.flags_;
}

void KV_FileData::destr_clone(KV_FileData* fd)
{
    delete fd;
}

bool KV_FileData::compare_kind(const KV_FileData& other, int* result) const
{
    bool dir = is_dir();
    bool other_dir = other.is_dir();
    if (dir != other_dir) {
        *result = dir ? -1 : 1;
        return true;
    }
    if (dir) {
        bool dots = is_dot_name(name_);
        bool other_dots = is_dot_name(other.name_);
        if (dots != other_dots) {
            *result = dots ? -1 : 1;
            return true;
        }
    }
    return false;
}

int KV_FileData::compare(const KV_FileData& other, KV_SORT_FD key, bool descending) const
{
    int r = 0;
    if (!compare_kind(other, &r)) {
        switch (key) {
        case KV_SORT_FD_SIZE: {
            int64_t a = size(false);
            int64_t b = other.size(false);
            r = a < b ? -1 : (a > b ? 1 : 0);
            break;
        }
        case KV_SORT_FD_TIME:
            if (tm_.valid() && other.tm_.valid()) {
                r = tm_ < other.tm_ ? -1 : (other.tm_ < tm_ ? 1 : 0);
            } else {
                r = sign(time_.compare(other.time_, true));
            }
            break;
        case KV_SORT_FD_EXT:
            r = sign(fext().compare(other.fext(), false));
            break;
        default:
            break;
        }
        if (r == 0) {
            r = sign(name_.compare(other.name_, false));
        }
    }
    return descending ? -r : r;
}

void KV_FileData::set_tm(const KV_Time& tm)
{
    tm_ = tm;
    tm_disp_ = tm.as_str(disp_form().data());
}

void KV_FileData::set_fd_flags(uint8_t set, uint8_t clear)
{
    flags_ = static_cast<uint8_t>(set | (flags_ & ~clear));
}

void KV_FileData::update_nempty(const KV_String& path)
{
    if (dir_nempty_impl && dir_nempty_impl(path)) {
        flags_ |= KV_FD_NEMPTY;
    }
}

bool KV_FileData::valid_size(bool on_request) const
{
    return (flags_ & KV_FD_SIZE) != 0 || (on_request && (flags_ & KV_FD_SIZE_ONREQ) != 0);
}

bool KV_FileData::multifrag() const
{
    return (flags_ & KV_FD_MULTIFRAG) != 0 && size(false) != 0;
}

int64_t KV_FileData::size(bool on_request) const
{
    return valid_size(on_request) ? size_ : 0;
}

bool KV_FileData::cmp_size(const KV_FileData& other, bool strict) const
{
    bool both = valid_size(false) && other.valid_size(false);
    if (!both) {
        return !strict;
    }
    return size_ == other.size_;
}

KV_String KV_FileData::fext() const
{
    uint32_t pos = 0;
    bool found = false;
    for (uint32_t i = 0; i < name_.length(); ++i) {
        if (name_.data(i) == '.') {
            pos = i;
            found = true;
        }
    }
    if (!found) {
        return KV_String();
    }
    return name_.part(pos + 1, name_.length());
}

const KV_String& KV_FileData::tm_disp() const
{
    return tm_disp_.empty() ? time_ : tm_disp_;
}

void KV_FileData::set_tm_form_disp(const KV_String& form)
{
    disp_form() = form;
}

const KV_String& KV_FileData::tm_form_disp()
{
    return disp_form();
}

void KV_FileData::set_impl_dir_nempty(bool (*impl)(const KV_String& path))
{
    dir_nempty_impl = impl;
}

bool KV_FileData::write_bin(KV_Storage& st) const
{
    if (!name_.write_bin(st) || !time_.write_bin(st)) {
        return false;
    }
    return st.write_le(size_) && st.write_le(flags_);
}

bool KV_FileData::read_bin(KV_Storage& st)
{
    KV_String name;
    KV_String time;
    if (!read_str(st, name) || !read_str(st, time)) {
        return false;
    }
    int64_t size = 0;
    uint8_t flags = 0;
    if (!st.read_le(size) || !st.read_le(flags)) {
        return false;
    }
    name_ = std::move(name);
    time_ = std::move(time);
    size_ = size;
    flags_ = flags;
    tm_disp_.clear();
    tm_ = KV_Time();
    return true;
}

// ------------------------------------------------------------- KV_FileDataExt

KV_FileDataExt::KV_FileDataExt(const KV_String& name, const KV_String& time, int64_t size,
                               const KV_String& accf, const KV_String& user, const KV_String& group,
                               const KV_Time& tm)
    : KV_FileData(name, time, size, tm), accf_(accf), user_(user), group_(group)
{
}

KV_FileDataExt::KV_FileDataExt(const KV_FileDataExt& other) : KV_FileData()
{
    KV_FileDataExt::operator=(other);
}

KV_FD_TYPE KV_FileDataExt::type() const
{
    return KV_FD_DATA_EXT;
}

KV_FileData* KV_FileDataExt::clone() const
{
    return new (std::nothrow) KV_FileDataExt(*this);
}

KV_FileData& KV_FileDataExt::operator=(const KV_FileData& other)
{
    if (this == &other) {
        return *this;
    }
    KV_FileData::operator=(other);
    if (other.type() == KV_FD_DATA_EXT) {
        const auto& ext = static_cast<const KV_FileDataExt&>(other);
        accf_ = ext.accf_;
        user_ = ext.user_;
        group_ = ext.group_;
    }
    return *this;
}

KV_FileDataExt& KV_FileDataExt::operator=(const KV_FileDataExt& other)
{
    KV_FileDataExt::operator=(static_cast<const KV_FileData&>(other));
    return *this;
}

bool KV_FileDataExt::operator==(const KV_FileData& other) const
{
    if (!KV_FileData::operator==(other)) {
        return false;
    }
    if (other.type() != KV_FD_DATA_EXT) {
        return true;
    }
    const auto& ext = static_cast<const KV_FileDataExt&>(other);
    return accf_ == ext.accf_ && user_ == ext.user_ && group_ == ext.group_;
}

int KV_FileDataExt::compare(const KV_FileData& other, KV_SORT_FD key, bool descending) const
{
    if (other.type() != KV_FD_DATA_EXT ||
        (key != KV_SORT_FD_ACCF && key != KV_SORT_FD_USER && key != KV_SORT_FD_GROUP)) {
        return KV_FileData::compare(other, key, descending);
    }
    const auto& ext = static_cast<const KV_FileDataExt&>(other);
    int r = 0;
    if (!compare_kind(other, &r)) {
        const KV_String& a =
            key == KV_SORT_FD_ACCF ? accf_ : (key == KV_SORT_FD_USER ? user_ : group_);
        const KV_String& b =
            key == KV_SORT_FD_ACCF ? ext.accf_ : (key == KV_SORT_FD_USER ? ext.user_ : ext.group_);
        r = sign(a.compare(b, true));
        if (r == 0) {
            r = sign(name().compare(other.name(), false));
        }
    }
    return descending ? -r : r;
}

// ---------------------------------------------------------------- KV_FileFind

KV_FileFind::KV_FileFind() = default;

KV_FileFind::~KV_FileFind()
{
    close();
}

bool KV_FileFind::begin(const KV_String& pattern)
{
    close();
    uint32_t slash = 0;
    bool has_slash = false;
    for (uint32_t i = 0; i < pattern.length(); ++i) {
        if (pattern.data(i) == '/') {
            slash = i;
            has_slash = true;
        }
    }
    if (has_slash) {
        // "/x" lists the root itself, so the folder part keeps its slash there.
        dir_path = pattern.part(0, slash == 0 ? 1 : slash);
        name_pattern = pattern.part(slash + 1, pattern.length());
    } else {
        dir_path = ".";
        name_pattern = pattern;
    }
    // "*.*" is the "every entry" pattern of the system, dot or no dot.
    if (name_pattern == "*.*" || name_pattern == "*") {
        name_pattern.clear();
    }
    handle = opendir(dir_path.data());
    if (!handle) {
        return false;
    }
    return next_match();
}

bool KV_FileFind::next_match()
{
    while (handle) {
        errno = 0;
        struct dirent* de = readdir(handle);
        if (!de) {
            close();
            return false;
        }
        if (!name_pattern.empty() && fnmatch(name_pattern.data(), de->d_name, 0) != 0) {
            continue;
        }
        KV_String full = dir_path;
        if (!full.empty() && full.data(full.length() - 1) != '/') {
            full += '/';
        }
        full += de->d_name;
        struct stat sb;
        if (lstat(full.data(), &sb) != 0) {
            // Gone between readdir and lstat: not an entry any more.
            continue;
        }
        FindRecord rec;
        rec.name = de->d_name;
        if (S_ISDIR(sb.st_mode)) {
            rec.attrib |= 0x10;
        }
        if ((sb.st_mode & S_IWUSR) == 0) {
            rec.attrib |= 0x01;
        }
        if (de->d_name[0] == '.' && !is_dot_name(rec.name)) {
            rec.attrib |= 0x02;
        }
        rec.time_write = static_cast<int64_t>(sb.st_mtime);
        rec.size = static_cast<int64_t>(sb.st_size);
        find_data = std::move(rec);
        return true;
    }
    return false;
}

const KV_FileDataExt& KV_FileFind::get()
{
    if (!handle) {
        entry = KV_FileDataExt();
        return entry;
    }
    bool dir = (find_data.attrib & 0x10) != 0;
    uint8_t flags = dir ? (KV_FD_DIR | KV_FD_ACCF) : (KV_FD_ACCF | KV_FD_SIZE);
    KV_Time tm;
    if (find_data.time_write != -1) {
        tm = KV_Time(static_cast<long>(find_data.time_write));
        flags |= KV_FD_TIME;
    }
    KV_String accf;
    if (find_data.attrib & 0x01) {
        accf += 'R';
    }
    if (find_data.attrib & 0x02) {
        accf += 'H';
    }
    if (find_data.attrib & 0x04) {
        accf += 'S';
    }
    if (find_data.attrib & 0x20) {
        accf += 'A';
    }
    entry = KV_FileDataExt(find_data.name, tm.as_str("%c"), find_data.size, accf, KV_String(),
                           KV_String(), tm);
    entry.set_fd_flags(flags, 0);
    next_match();
    return entry;
}

void KV_FileFind::close()
{
    if (handle) {
        closedir(handle);
        handle = nullptr;
    }
}
