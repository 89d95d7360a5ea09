// The connection parameters of the local disk, which the data-source tree
// stores and the local-disk manager (local/kv_filemanstd.h) clones.
#pragma once

#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparams.h"

// The parameters of the local disk: the common ones plus the local options.
class KV_FileManParamsStd : public KV_FileManParams
{
public:
    // Empty name and default path, default options.
    KV_FileManParamsStd() = default;
    // Empty name and default path, the options copied.
    explicit KV_FileManParamsStd(const KV_FileManStdOpts& opts);
    KV_FileManParamsStd(const KV_FileManParamsStd& other) = default;
    // Name, default path and options.
    KV_FileManParamsStd& operator=(const KV_FileManParamsStd& other) = default;
    ~KV_FileManParamsStd() override;

    // True for any other local-disk parameters, whatever their options: the
    // local disk is one connection.
    bool operator==(const KV_FileManParams& other) const override;
    const KV_FileManOpts& opts() const override { return opts_; }
    KV_FileManOpts& opts() override { return opts_; }
    KV_FileManParams* clone() const override;
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_STD; }

    void set_opts(const KV_FileManStdOpts& opts) { opts_ = opts; }
    KV_FileManStdOpts& opts_std() { return opts_; }
    const KV_FileManStdOpts& opts_std() const { return opts_; }

private:
    KV_FileManStdOpts opts_;
};
