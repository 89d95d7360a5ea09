#include "foundation/kv_ids.h"

#include "foundation/kv_storage.h"

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
    return st.write_le(type_) && name1_.write_bin(st) && name2_.write_bin(st) &&
           name3_.write_bin(st);
}

bool KV_DsId::read_bin(KV_Storage& st)
{
    return st.read_le(type_) && name1_.read_bin(st) && name2_.read_bin(st) && name3_.read_bin(st);
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
    return KV_DsId::write_bin(st) && st.write_le(impl_);
}

bool KV_FileManId::read_bin(KV_Storage& st)
{
    return KV_DsId::read_bin(st) && st.read_le(impl_);
}
