#ifndef KIVREL_CORE_BRWNDS_H
#define KIVREL_CORE_BRWNDS_H

// The list of browse windows open at the last quit, kept in the user's
// settings as the binary value "Init"/"BrWnds":
//
//   u32 count, then per window: left id, right id (KV_FileManId::write_bin)
//   and the u16 layout word; little-endian, no padding, no trailer.
//
// A stored value over 1 MiB is treated as absent. Any thread may use a list
// of its own; the settings file is shared (see core/settings.h).

#include "foundation/kv_ids.h"
#include "foundation/kv_storage.h"
#include "foundation/kvtl.h"

#include <QByteArray>
#include <cstdint>

class BrWndMan
{
public:
    // The value's name, and the largest value read.
    static constexpr const char* kKey = "BrWnds";
    static constexpr uint32_t kMaxBytes = 0x100000;
    // The bytes of a record of two empty ids.
    static constexpr uint32_t kMinRecord = 38;

    class BrWndPair
    {
    public:
        BrWndPair() = default;
        BrWndPair(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags)
            : left(left), right(right), flags(flags)
        {
        }
        bool operator==(const BrWndPair& other) const
        {
            return left == other.left && right == other.right && flags == other.flags;
        }

        bool write_bin(KV_Storage& st) const;
        bool read_bin(KV_Storage& st);

        KV_FileManId left;
        KV_FileManId right;
        uint16_t flags = 0;
    };

    void clear() { list.clear(); }
    bool append(const BrWndPair& pair) { return list.add(pair); }
    uint32_t count() const { return list.size(); }
    const BrWndPair& at(uint32_t index) const { return list.at(index); }

    // The count, then every record; true when every write succeeded.
    bool write_bin(KV_Storage& st) const;
    // Clears, then reads the count and as many records; records read before
    // a failure stay, and the result is false.
    bool read_bin(KV_Storage& st);

    // Parses a stored value (read_bin); an empty or over-long value leaves
    // the list empty and is no failure.
    bool FromBytes(const QByteArray& bytes);
    // The list as a value; false when it cannot be written.
    bool ToBytes(QByteArray& bytes) const;

    // The settings value to the list: no value, or one over 1 MiB, is no
    // failure (nothing read); a value that is not binary is one.
    bool Load();
    // The list to the settings value; the result is whether it could be
    // written to a stream (a settings file that cannot be written is not
    // reported).
    bool Save() const;

private:
    KVTL::KV_ListVal<BrWndPair> list;
};

#endif
