#include "ssh/kv_sshkeyman.h"

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

bool KV_SshKeyMan::valid(const KV_SshKey& key, const KV_String& host)
{
    return holds(KV_SshKeyEntry(0, host, key, KV_String(), KV_String()));
}

bool KV_SshKeyMan::add(const KV_SshKey& key, const KV_String& host, const KV_String& descr)
{
    const KV_SshKeyEntry probe(0, host, key, KV_String(), KV_String());
    // Only a key that can be stored is taken: it must have a blob.
    if (!probe.key().ssh2())
        return false;
    return add_new(probe,
                   [&](uint32_t id) { return KV_SshKeyEntry(id, host, key, descr, KV_String()); });
}
