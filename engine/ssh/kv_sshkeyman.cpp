#include "ssh/kv_sshkeyman.h"

#include <mutex>

// ---------------------------------------------------------------------------
// KV_SshKeyEntry

KV_SshKeyEntry::KV_SshKeyEntry(uint32_t id, const KV_String& name, const KV_SshKey& key,
                               const KV_String& descr1, const KV_String& descr2)
    : KV_CKEntry(id, name, descr1, descr2), key_(key)
{
}

KV_SshKeyEntry& KV_SshKeyEntry::operator=(const KV_SshKeyEntry& other)
{
    if (this != &other) {
        KV_CKEntry::operator=(other);
        // A key assignment refuses an empty source and keeps what it had.
        if (!(key_ = other.key_))
            key_.clear();
    }
    return *this;
}

KV_SshKeyEntry::~KV_SshKeyEntry() = default;

bool KV_SshKeyEntry::write(KV_Storage& st) const
{
    return KV_CKEntry::write(st) && key_.write(st);
}

bool KV_SshKeyEntry::read(KV_Storage& st)
{
    return KV_CKEntry::read(st) && key_.read(st);
}

bool KV_SshKeyEntry::operator==(const KV_SshKeyEntry& other) const
{
    return KV_CKEntry::operator==(other) && key_ == other.key_;
}

// ---------------------------------------------------------------------------
// KV_SshKeyMan

KV_SshKeyMan::KV_SshKeyMan()
{
    list_.set_grow(18);
}

KV_SshKeyMan::~KV_SshKeyMan()
{
    clear();
}

uint32_t KV_SshKeyMan::entries() const
{
    return list_.size();
}

const KV_CKEntry& KV_SshKeyMan::at(uint32_t index) const
{
    return list_.at(index);
}

bool KV_SshKeyMan::del(uint32_t index)
{
    return list_.remove_at(index);
}

bool KV_SshKeyMan::add(KV_Storage& st)
{
    KV_SshKeyEntry e;
    return e.read(st) && list_.add(e);
}

bool KV_SshKeyMan::load()
{
    std::lock_guard<KV_CKMan> guard(*this);
    return load_impl(KV_PATH_HOST_KEYS);
}

bool KV_SshKeyMan::save()
{
    std::lock_guard<KV_CKMan> guard(*this);
    return save_impl(KV_PATH_HOST_KEYS);
}

bool KV_SshKeyMan::valid(const KV_SshKey& key, const KV_String& host)
{
    const KV_SshKeyEntry probe(0, host, key, KV_String(), KV_String());
    std::lock_guard<KV_CKMan> guard(*this);
    return list_.find(probe);
}

bool KV_SshKeyMan::add(const KV_SshKey& key, const KV_String& host, const KV_String& descr)
{
    {
        std::lock_guard<KV_CKMan> guard(*this);
        const KV_SshKeyEntry probe(0, host, key, KV_String(), KV_String());
        // Only a key that can be stored is taken: it must have a blob.
        if (!probe.key().ssh2())
            return false;
        if (list_.find(probe))
            return false;
        const uint32_t id = next_id();
        if (id == 0 || !list_.add(KV_SshKeyEntry(id, host, key, descr, KV_String())))
            return false;
    }
    // save() takes the lock itself.
    save();
    return true;
}

void KV_SshKeyMan::clear()
{
    std::lock_guard<KV_CKMan> guard(*this);
    list_.clear();
}
