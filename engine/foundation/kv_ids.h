// Identifiers of data sources and of live file-manager instances.
//
// KV_DsId names a data source (a server entry or the local disk) by its node
// type and three names chosen by the node that makes it; KV_FileManId adds the
// instance number that tells apart several live file managers (connections)
// of one data source. Both are plain values: the program keeps them in its
// windows and on the clipboard, transfer logs store them, the engine's pool
// finds managers by them.
//
// Threads: plain values; one thread at a time per object.
#pragma once

#include <cstdint>

#include "foundation/kv_string.h"

class KV_Storage;

class KV_DsId
{
public:
    // type 0 means "no data source".
    KV_DsId() = default;
    KV_DsId(uint16_t type, const KV_String& name1, const KV_String& name2, const KV_String& name3);
    KV_DsId(const KV_DsId& other) = default;
    KV_DsId& operator=(const KV_DsId& other) = default;

    // Equal type and all three names equal, case-sensitive.
    bool operator==(const KV_DsId& other) const;
    // A data source is named (type > 0).
    bool valid() const { return type_ > 0; }

    // The data-source node type (kinds of the data-source tree's nodes).
    uint16_t type() const { return type_; }
    const KV_String& name1() const { return name1_; }
    const KV_String& name2() const { return name2_; }
    const KV_String& name3() const { return name3_; }

    // type as 2 bytes little-endian, then name1, name2, name3 in string form.
    // True only when every part moved completely. A read that fails part-way
    // leaves the fields read so far changed.
    bool write_bin(KV_Storage& st) const;
    bool read_bin(KV_Storage& st);

private:
    uint16_t type_ = 0;
    KV_String name1_;
    KV_String name2_;
    KV_String name3_;
};

class KV_FileManId : public KV_DsId
{
public:
    // An empty data-source part and instance 0 (no instance).
    KV_FileManId() = default;
    KV_FileManId(const KV_DsId& ds, uint32_t impl);
    KV_FileManId(const KV_FileManId& other) = default;
    KV_FileManId& operator=(const KV_FileManId& other) = default;

    // Equal data-source parts and equal instance numbers.
    bool operator==(const KV_FileManId& other) const;
    // Always false: ids carry no order (lists of ids are searched, not
    // sorted).
    bool operator<(const KV_FileManId& other) const;

    // A data source and a live instance of it (impl != 0).
    bool valid_man() const { return valid() && impl_ != 0; }
    uint32_t impl() const { return impl_; }

    // The display text of the instance: "# " and the instance number in
    // decimal ("# 2"). The data-source names are not part of it.
    operator KV_String() const;

    // The KV_DsId form, then impl as 4 bytes little-endian. True only when
    // both parts moved completely.
    bool write_bin(KV_Storage& st) const;
    bool read_bin(KV_Storage& st);

protected:
    // Replaces the data-source part; the instance number stays.
    KV_FileManId& operator=(const KV_DsId& ds);

private:
    uint32_t impl_ = 0;
};
