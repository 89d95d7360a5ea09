#include "net/kv_ckman.h"

#include <cstdio>
#include <mutex>

#include "foundation/kv_safefile.h"

// ---------------------------------------------------------------------------
// KV_CKEntry

KV_CKEntry::KV_CKEntry(uint32_t id, const KV_String& name, const KV_String& descr1,
                       const KV_String& descr2)
    : id_(id), name_(name), descr1_(descr1), descr2_(descr2)
{
}

KV_CKEntry::~KV_CKEntry() = default;

bool KV_CKEntry::write(KV_Storage& st) const
{
    return st.write_le(id_) && name_.write_bin(st) && descr1_.write_bin(st) &&
           descr2_.write_bin(st);
}

bool KV_CKEntry::read(KV_Storage& st)
{
    return st.read_le(id_) && name_.read_bin(st) && descr1_.read_bin(st) && descr2_.read_bin(st);
}

bool KV_CKEntry::operator==(const KV_CKEntry& other) const
{
    return name_.compare(other.name_, false) == 0;
}

// ---------------------------------------------------------------------------
// KV_CKMan

KV_CKMan::~KV_CKMan() = default;

bool KV_CKMan::find(uint32_t id, uint32_t* index) const
{
    const uint32_t n = entries();
    for (uint32_t i = 0; i < n; ++i) {
        if (at(i).id() == id) {
            if (index)
                *index = i;
            return true;
        }
    }
    return false;
}

uint32_t KV_CKMan::next_id() const
{
    // Ids are reused: after deleting 2 of 1, 2, 3 the next entry gets 2.
    // There are fewer entries than ids, so a free one exists below UINT32_MAX.
    uint32_t id = 1;
    while (find(id, nullptr))
        ++id;
    return id;
}

bool KV_CKMan::get(KVTL::KV_ListVal<KV_CKEntry>& list)
{
    std::lock_guard<KV_CKMan> guard(*this);
    const uint32_t n = entries();
    for (uint32_t i = 0; i < n; ++i) {
        const KV_CKEntry& e = at(i);
        if (!list.add(KV_CKEntry(e.id(), e.name(), e.descr1(), e.descr2())))
            return false;
    }
    return true;
}

bool KV_CKMan::del_ids(const KVTL::KV_ListVal<uint32_t>& ids)
{
    {
        std::lock_guard<KV_CKMan> guard(*this);
        for (uint32_t i = 0; i < ids.size(); ++i) {
            uint32_t index = 0;
            if (!find(ids.at(i), &index) || !del(index))
                return false;
        }
    }
    // save() takes the lock itself.
    return save();
}

bool KV_CKMan::load_bin(KV_Storage& st)
{
    // A store cut short (a full disk, a crash while it was written) or
    // damaged further on still holds sound entries before the damage; a
    // count that promises more than the image holds ends at the first entry
    // that cannot be read. Whatever is past that is dropped. An image too
    // short even for the count is an empty store.
    uint32_t count = 0;
    if (!st.read_le(count))
        return true;
    for (uint32_t i = 0; i < count; ++i) {
        if (!add(st))
            break;
    }
    return true;
}

bool KV_CKMan::save_bin(KV_Storage& st) const
{
    const uint32_t n = entries();
    if (!st.write_le(n))
        return false;
    for (uint32_t i = 0; i < n; ++i) {
        if (!at(i).write(st))
            return false;
    }
    return true;
}

bool KV_CKMan::load_impl(KV_PATH_TYPE type)
{
    const KV_String name = KV_File::path(type, false);
    if (name.empty())
        return false;
    if (!KV_File::exists(name))
        return true;
    KV_File file(name, "rb");
    if (!file.open())
        return false;
    KV_Stream image(4096);
    const bool read_ok = image.read_bin(file) && !std::ferror(static_cast<FILE*>(file));
    file.close();
    return read_ok && load_bin(image);
}

bool KV_CKMan::save_impl(KV_PATH_TYPE type)
{
    const KV_String name = KV_File::path(type, false);
    if (name.empty())
        return false;
    KV_SafeFile file(name);
    if (!file.open())
        return false;
    if (!save_bin(file)) {
        file.close();
        return false;
    }
    return file.commit();
}
