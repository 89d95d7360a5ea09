#include "datasources/kv_filereqtransparams.h"

#include <new>

#include "datasources/kv_translogio.h"

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
    return kv_write_le<uint32_t>(st, forced_exec_) && tm_start_.write_bin(st) &&
           tm_started_.write_bin(st);
}

bool KV_FileReqTransParams::read_bin(KV_Storage& st)
{
    uint32_t fexec = 0;
    if (!kv_read_le(st, fexec))
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
    // The kind decides; the cast guards against a kind of another family
    // that gives the same type().
    if (other.type() == KV_REQ_TYPE_TRANS_CP) {
        if (const auto* cp = dynamic_cast<const KV_FileReqTransParamsCp*>(&other))
            return *this = *cp;
    }
    KV_FileReqTransParams::operator=(other);
    return *this;
}

KV_FileReqTransParams* KV_FileReqTransParamsCp::clone() const
{
    return new (std::nothrow) KV_FileReqTransParamsCp(*this);
}

bool KV_FileReqTransParamsCp::write_bin(KV_Storage& st) const
{
    return KV_FileReqTransParams::write_bin(st) && kv_write_le(st, mirror_) &&
           kv_write_le(st, tm_type_) && kv_write_le(st, tm_def_) && kv_write_le(st, dayspec_) &&
           kv_write_le<uint8_t>(st, skip_sz_ ? 1 : 0) &&
           kv_write_le<uint8_t>(st, del_src_ ? 1 : 0) && kv_write_le<uint8_t>(st, dtrans_ ? 1 : 0);
}

bool KV_FileReqTransParamsCp::read_bin(KV_Storage& st)
{
    uint8_t skip = 0;
    uint8_t del = 0;
    uint8_t dtrans = 0;
    if (!KV_FileReqTransParams::read_bin(st) || !kv_read_le(st, mirror_) ||
        !kv_read_le(st, tm_type_) || !kv_read_le(st, tm_def_) || !kv_read_le(st, dayspec_) ||
        !kv_read_le(st, skip))
        return false;
    skip_sz_ = skip != 0;
    if (!kv_read_le(st, del))
        return false;
    del_src_ = del != 0;
    if (!kv_read_le(st, dtrans))
        return false;
    dtrans_ = dtrans != 0;
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
