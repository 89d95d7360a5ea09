#include "transfers/kv_filereqtransparams.h"

#include <new>

namespace {

// Integers move as raw little-endian bytes of their declared width, one
// write or read per field.
bool write_le(KV_Storage& st, uint32_t value, uint32_t size)
{
    unsigned char bytes[4];
    for (uint32_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    return st.write(bytes, size) == size;
}

bool read_le(KV_Storage& st, uint32_t& value, uint32_t size)
{
    unsigned char bytes[4];
    if (st.read(bytes, size) != size)
        return false;
    value = 0;
    for (uint32_t i = 0; i < size; ++i)
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return true;
}

} // namespace

KV_FileReqTransParams::KV_FileReqTransParams()
{
    tm_started_.now();
}

KV_FileReqTransParams::~KV_FileReqTransParams() = default;

void KV_FileReqTransParams::destr_clone(const KV_FileReqTransParams* params)
{
    delete params;
}

void KV_FileReqTransParams::reset_tm_susp()
{
    tm_start_.now();
}

bool KV_FileReqTransParams::write_bin(KV_Storage& st) const
{
    return write_le(st, forced_exec_, 4) && tm_start_.write_bin(st) && tm_started_.write_bin(st);
}

bool KV_FileReqTransParams::read_bin(KV_Storage& st)
{
    uint32_t fexec = 0;
    if (!read_le(st, fexec, 4))
        return false;
    forced_exec_ = static_cast<KV_FEXEC_TYPE>(fexec);
    return tm_start_.read_bin(st) && tm_started_.read_bin(st);
}

// ---------------------------------------------------------------------------
// KV_FileReqTransParamsCp

KV_FileReqTransParamsCp::KV_FileReqTransParamsCp() = default;

KV_FileReqTransParamsCp::KV_FileReqTransParamsCp(const KV_FileReqTransParamsCp& other)
    : KV_FileReqTransParams()
{
    *this = other;
}

KV_FileReqTransParamsCp::KV_FileReqTransParamsCp(const KV_FileReqTransParams& other)
{
    *this = other;
}

KV_FileReqTransParamsCp::~KV_FileReqTransParamsCp() = default;

KV_FileReqTransParamsCp& KV_FileReqTransParamsCp::operator=(const KV_FileReqTransParamsCp& other)
{
    KV_FileReqTransParams::operator=(other);
    mirror_ = other.mirror_;
    tm_type_ = other.tm_type_;
    tm_def_ = other.tm_def_;
    dayspec_ = other.dayspec_;
    skip_sz_ = other.skip_sz_;
    del_src_ = other.del_src_;
    dtrans_ = other.dtrans_;
    return *this;
}

KV_FileReqTransParamsCp&
KV_FileReqTransParamsCp::operator=(const KV_FileReqTransParams& other) noexcept
{
    // Decided by the dynamic kind, so that no other kind is ever read as a
    // copy's parameters.
    if (const auto* cp = dynamic_cast<const KV_FileReqTransParamsCp*>(&other))
        return *this = *cp;
    KV_FileReqTransParams::operator=(other);
    return *this;
}

KV_FileReqTransParams* KV_FileReqTransParamsCp::clone() const
{
    return new (std::nothrow) KV_FileReqTransParamsCp(*this);
}

bool KV_FileReqTransParamsCp::write_bin(KV_Storage& st) const
{
    return KV_FileReqTransParams::write_bin(st) && write_le(st, mirror_, 1) &&
           write_le(st, tm_type_, 1) && write_le(st, tm_def_, 4) && write_le(st, dayspec_, 2) &&
           write_le(st, skip_sz_ ? 1 : 0, 1) && write_le(st, del_src_ ? 1 : 0, 1) &&
           write_le(st, dtrans_ ? 1 : 0, 1);
}

bool KV_FileReqTransParamsCp::read_bin(KV_Storage& st)
{
    if (!KV_FileReqTransParams::read_bin(st))
        return false;
    uint32_t v = 0;
    if (!read_le(st, v, 1))
        return false;
    mirror_ = static_cast<uint8_t>(v);
    if (!read_le(st, v, 1))
        return false;
    tm_type_ = static_cast<uint8_t>(v);
    if (!read_le(st, v, 4))
        return false;
    tm_def_ = v;
    if (!read_le(st, v, 2))
        return false;
    dayspec_ = static_cast<uint16_t>(v);
    if (!read_le(st, v, 1))
        return false;
    skip_sz_ = v != 0;
    if (!read_le(st, v, 1))
        return false;
    del_src_ = v != 0;
    if (!read_le(st, v, 1))
        return false;
    dtrans_ = v != 0;
    return true;
}

// ---------------------------------------------------------------------------
// KV_FileReqTransParamsRen

KV_FileReqTransParamsRen::KV_FileReqTransParamsRen(const KV_FileReqTransParamsRen& other)
    : KV_FileReqTransParams()
{
    *this = other;
}

KV_FileReqTransParamsRen::KV_FileReqTransParamsRen(const KV_FileReqTransParams& other)
{
    *this = other;
}

KV_FileReqTransParamsRen::~KV_FileReqTransParamsRen() = default;

KV_FileReqTransParamsRen& KV_FileReqTransParamsRen::operator=(const KV_FileReqTransParamsRen& other)
{
    KV_FileReqTransParams::operator=(other);
    return *this;
}

KV_FileReqTransParamsRen&
KV_FileReqTransParamsRen::operator=(const KV_FileReqTransParams& other) noexcept
{
    KV_FileReqTransParams::operator=(other);
    return *this;
}

KV_FileReqTransParams* KV_FileReqTransParamsRen::clone() const
{
    return new (std::nothrow) KV_FileReqTransParamsRen(*this);
}

// ---------------------------------------------------------------------------
// KV_FileReqTransParamsRm

KV_FileReqTransParamsRm::KV_FileReqTransParamsRm(const KV_FileReqTransParamsRm& other)
    : KV_FileReqTransParams()
{
    *this = other;
}

KV_FileReqTransParamsRm::KV_FileReqTransParamsRm(const KV_FileReqTransParams& other)
{
    *this = other;
}

KV_FileReqTransParamsRm::~KV_FileReqTransParamsRm() = default;

KV_FileReqTransParamsRm& KV_FileReqTransParamsRm::operator=(const KV_FileReqTransParamsRm& other)
{
    KV_FileReqTransParams::operator=(other);
    return *this;
}

KV_FileReqTransParamsRm&
KV_FileReqTransParamsRm::operator=(const KV_FileReqTransParams& other) noexcept
{
    KV_FileReqTransParams::operator=(other);
    return *this;
}

KV_FileReqTransParams* KV_FileReqTransParamsRm::clone() const
{
    return new (std::nothrow) KV_FileReqTransParamsRm(*this);
}
