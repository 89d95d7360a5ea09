#include "foundation/kv_ids.h"

#include "foundation/kv_storage.h"

namespace {

// Integers are stored little-endian whatever the host does, one write() per
// field of exactly its width.
bool write_u16(KV_Storage& st, uint16_t v)
{
    const unsigned char b[2] = {static_cast<unsigned char>(v & 0xFF),
                                static_cast<unsigned char>(v >> 8)};
    return st.write(b, 2) == 2;
}

bool read_u16(KV_Storage& st, uint16_t& v)
{
    unsigned char b[2];
    if (st.read(b, 2) != 2)
        return false;
    v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool write_u32(KV_Storage& st, uint32_t v)
{
    const unsigned char b[4] = {
        static_cast<unsigned char>(v & 0xFF), static_cast<unsigned char>((v >> 8) & 0xFF),
        static_cast<unsigned char>((v >> 16) & 0xFF), static_cast<unsigned char>(v >> 24)};
    return st.write(b, 4) == 4;
}

bool read_u32(KV_Storage& st, uint32_t& v)
{
    unsigned char b[4];
    if (st.read(b, 4) != 4)
        return false;
    v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
        (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

} // namespace

KV_DsId::KV_DsId(uint16_t type, const KV_String& name1, const KV_String& name2,
                 const KV_String& name3)
    : type_(type), name1_(name1), name2_(name2), name3_(name3)
{
}

bool KV_DsId::operator==(const KV_DsId& other) const
{
    return type_ == other.type_ && name1_ == other.name1_ && name2_ == other.name2_ &&
           name3_ == other.name3_;
}

bool KV_DsId::write_bin(KV_Storage& st) const
{
    return write_u16(st, type_) && name1_.write_bin(st) && name2_.write_bin(st) &&
           name3_.write_bin(st);
}

bool KV_DsId::read_bin(KV_Storage& st)
{
    return read_u16(st, type_) && name1_.read_bin(st) && name2_.read_bin(st) && name3_.read_bin(st);
}

KV_FileManId::KV_FileManId(const KV_DsId& ds, uint32_t impl) : KV_DsId(ds), impl_(impl) {}

KV_FileManId& KV_FileManId::operator=(const KV_DsId& ds)
{
    KV_DsId::operator=(ds);
    return *this;
}

bool KV_FileManId::operator==(const KV_FileManId& other) const
{
    return KV_DsId::operator==(other) && impl_ == other.impl_;
}

bool KV_FileManId::operator<(const KV_FileManId&) const
{
    return false;
}

KV_FileManId::operator KV_String() const
{
    return KV_String::format_impl("# %lu", static_cast<unsigned long>(impl_));
}

bool KV_FileManId::write_bin(KV_Storage& st) const
{
    return KV_DsId::write_bin(st) && write_u32(st, impl_);
}

bool KV_FileManId::read_bin(KV_Storage& st)
{
    return KV_DsId::read_bin(st) && read_u32(st, impl_);
}
