#include "datasources/kv_filemanparamsstd.h"

#include <new>

// ---------------------------------------------------------------------------
// KV_FileManParamsStd

KV_FileManParamsStd::KV_FileManParamsStd(const KV_FileManStdOpts& opts) : opts_(opts) {}

KV_FileManParamsStd::~KV_FileManParamsStd() = default;

bool KV_FileManParamsStd::operator==(const KV_FileManParams& other) const
{
    return other.type() == type();
}

KV_FileManParams* KV_FileManParamsStd::clone() const
{
    return new (std::nothrow) KV_FileManParamsStd(*this);
}
