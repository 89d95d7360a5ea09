// The store of SSH host keys the user chose to trust ("trusted-pks.bin",
// path type 8). The SSH session asks valid() before it asks the user about
// a server's key, and add()s the key when the user answers "always trust
// this server".
//
// An entry's name is the host as the session names its destination
// (compared ignoring case), descr1 the key's fingerprint, descr2 empty; its
// data after the frame's id and texts (see kv_ckman.h) is the key blob.
// A host may have several keys: a new key is stored beside the old ones,
// never in their place.
//
// Threads: one store is shared by every SSH session thread; see kv_ckman.h.
// valid, add, load, save and clear take the lock themselves.
#pragma once

#include <cstdint>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "net/kv_ckman.h"
#include "ssh/kv_sshkey.h"

class KV_SshKeyEntry : public KV_CKEntry
{
public:
    // Id 0, empty texts and key (for reading).
    KV_SshKeyEntry() = default;
    KV_SshKeyEntry(uint32_t id, const KV_String& name, const KV_SshKey& key,
                   const KV_String& descr1, const KV_String& descr2);
    KV_SshKeyEntry(const KV_SshKeyEntry& other) = default;
    // Both parts; an empty key is copied as empty.
    KV_SshKeyEntry& operator=(const KV_SshKeyEntry& other);
    ~KV_SshKeyEntry() override;

    // The frame's part, then the key blob. False for an empty key.
    bool write(KV_Storage& st) const override;
    // What write wrote; false at the first field that cannot be read whole
    // (every length bounded by the bytes there are).
    bool read(KV_Storage& st) override;

    // The hosts are equal ignoring case and the keys are equal.
    bool operator==(const KV_SshKeyEntry& other) const;

    const KV_SshKey& key() const { return key_; }

private:
    KV_SshKey key_;
};

class KV_SshKeyMan : public KV_CKList<KV_SshKeyEntry, KV_PATH_HOST_KEYS>
{
public:
    KV_SshKeyMan();

    // entries, at, del, add(KV_Storage&), load, save (path type 8) and clear
    // are KV_CKList's.
    using KV_CKList::add;

    // Under the lock: an entry of this host (ignoring case) holds an equal
    // key.
    bool valid(const KV_SshKey& key, const KV_String& host);
    // Under the lock, appends the key for the host with the next free id and
    // the fingerprint text `descr`, unless an equal entry exists (false then,
    // nothing saved). After the lock is released an added key is saved; a
    // failed save leaves it in memory and does not change the result.
    bool add(const KV_SshKey& key, const KV_String& host, const KV_String& descr);
};
