// The frame of the stores of trusted server identities: accepted TLS server
// certificates (KV_SSLCertMan, "trusted-certs.bin", path type 7) and known
// SSH host keys (path type 8, "trusted-pks.bin", filled by the SSH client).
//
// An entry has an id, a name (its key: the destination the user connects
// to), two descriptions for the trusted-entries dialog, and the data of its
// kind. A store kind keeps its entries in its own list and implements the
// six operations of KV_CKMan; the frame allocates ids, loads and saves the
// file and deletes by ids.
//
// Store file (little-endian except where said):
//   u32 count, then count entries; each entry: u32 id, name, descr1, descr2
//   (each as KV_String::write_bin writes it), then the kind's own data.
//
// Loading keeps every whole entry before the first one that cannot be read
// (a file cut short, a length beyond the file's end, a count larger than the
// entries there are) and drops the rest; bytes after the last counted entry
// are ignored. An empty file is an empty store. Loading appends to what the
// store holds; the next save writes what was kept. Saving writes
// a complete new file beside the old one and renames it into place
// (KV_SafeFile), so a failed save leaves the previous file intact.
//
// A store kind is KV_CKList over its entry class and path type: the list, the
// six operations and the checked append live there once; the kind adds its
// own valid() and add() over them.
//
// Threads: every operation that touches the entries takes the store's lock
// (lock() / unlock(); not re-entrant). Callers that read entries() and at()
// from outside hold it around their loop. The six virtual operations expect
// the caller to hold it, except load and save, which take it themselves.
#pragma once

#include <cstdint>
#include <mutex>

#include "foundation/kv_event.h"
#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_CKEntry
{
public:
    // Id 0 (a temporary entry that is in no store), empty texts.
    KV_CKEntry() = default;
    KV_CKEntry(uint32_t id, const KV_String& name, const KV_String& descr1,
               const KV_String& descr2);
    KV_CKEntry(const KV_CKEntry&) = default;
    KV_CKEntry& operator=(const KV_CKEntry&) = default;
    virtual ~KV_CKEntry();

    // The id and the three texts; a kind writes its own data after them.
    // False when the storage did not take every byte.
    virtual bool write(KV_Storage& st) const;
    // Reads what write wrote; false at the first short read (the entry is
    // then incomplete and must not be kept).
    virtual bool read(KV_Storage& st);

    // The names are equal ignoring ASCII case.
    bool operator==(const KV_CKEntry& other) const;
    // Store lists are not sorted.
    bool operator<(const KV_CKEntry&) const { return false; }

    uint32_t id() const { return id_; }
    const KV_String& name() const { return name_; }
    const KV_String& descr1() const { return descr1_; }
    const KV_String& descr2() const { return descr2_; }

private:
    uint32_t id_ = 0;
    KV_String name_;
    KV_String descr1_;
    KV_String descr2_;
};

class KV_CKMan
{
public:
    KV_CKMan() = default;
    virtual ~KV_CKMan();
    KV_CKMan(const KV_CKMan&) = delete;
    KV_CKMan& operator=(const KV_CKMan&) = delete;

    // Number of entries.
    virtual uint32_t entries() const = 0;
    // The entry at index (< entries()).
    virtual const KV_CKEntry& at(uint32_t index) const = 0;
    // Removes the entry at index.
    virtual bool del(uint32_t index) = 0;
    // Reads one entry of the kind from the storage and appends it; false,
    // with nothing appended, when it cannot be read whole (every length is
    // bounded by the bytes there are).
    virtual bool add(KV_Storage& st) = 0;
    // The store's file, under the lock (load_impl / save_impl).
    virtual bool load() = 0;
    virtual bool save() = 0;

    void lock() { lock_.lock(); }
    void unlock() { lock_.unlock(); }

    // Index of the entry with this id; caller holds the lock.
    bool find(uint32_t id, uint32_t* index) const;
    // The smallest id, counting from 1, that no entry has; caller holds the
    // lock.
    uint32_t next_id() const;
    // Under the lock, appends a plain copy (id and texts) of every entry.
    // False when an append fails (the rest is not copied).
    bool get(KVTL::KV_ListVal<KV_CKEntry>& list);
    // Under the lock, deletes the entries with these ids in order, stopping
    // at the first id that is not found or not deleted (false, nothing
    // saved). When all went, the store is saved and its result returned.
    bool del_ids(const KVTL::KV_ListVal<uint32_t>& ids);

    // Appends the entries of a store image (the count, then the entries):
    // every whole entry before the first that cannot be read. An image too
    // short for the count adds nothing. Always true: damage past the sound
    // entries is no failure of the store. Caller holds the lock.
    bool load_bin(KV_Storage& st);
    // The whole store: the count, then every entry in index order. Caller
    // holds the lock.
    bool save_bin(KV_Storage& st) const;

protected:
    // Caller holds the lock. A missing file leaves the store as it is and
    // succeeds; a damaged one adds its entries before the damage and
    // succeeds (load_bin). A file that cannot be opened or read fails and
    // changes nothing. An unset path fails.
    bool load_impl(KV_PATH_TYPE type);
    // Caller holds the lock. Writes the whole store to a new file and puts
    // it in place of the old one only once it is complete and synced.
    bool save_impl(KV_PATH_TYPE type);

private:
    KV_Lock lock_;
};

// The list plumbing every store kind shares. Entry derives from KV_CKEntry,
// reads and writes its own data and compares by name and data (operator==).
template <class Entry, KV_PATH_TYPE Type> class KV_CKList : public KV_CKMan
{
public:
    KV_CKList() = default;
    // clear().
    ~KV_CKList() override { clear(); }

    uint32_t entries() const override { return list_.size(); }
    const KV_CKEntry& at(uint32_t index) const override { return list_.at(index); }
    bool del(uint32_t index) override { return list_.remove_at(index); }
    bool add(KV_Storage& st) override
    {
        Entry e;
        return e.read(st) && list_.add(e);
    }
    // The file of path type Type, under the lock.
    bool load() override
    {
        std::lock_guard<KV_CKMan> guard(*this);
        return load_impl(Type);
    }
    bool save() override
    {
        std::lock_guard<KV_CKMan> guard(*this);
        return save_impl(Type);
    }

    // Under the lock, empties the list.
    void clear()
    {
        std::lock_guard<KV_CKMan> guard(*this);
        list_.clear();
    }

protected:
    // Under the lock: an entry equal to probe is stored.
    bool holds(const Entry& probe)
    {
        std::lock_guard<KV_CKMan> guard(*this);
        return list_.find(probe);
    }
    // Under the lock, appends make(id) with the next free id unless an entry
    // equal to probe exists (false then, nothing saved). After the lock is
    // released an added entry is saved; a failed save leaves it in memory
    // and does not change the result.
    template <class Make> bool add_new(const Entry& probe, Make make)
    {
        {
            std::lock_guard<KV_CKMan> guard(*this);
            if (list_.find(probe))
                return false;
            const uint32_t id = next_id();
            if (id == 0 || !list_.add(make(id)))
                return false;
        }
        // save() takes the lock itself.
        save();
        return true;
    }

    KVTL::KV_ListVal<Entry> list_;
};
