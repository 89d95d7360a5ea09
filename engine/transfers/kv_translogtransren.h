// The request logs of rename (type byte 4) and delete (type byte 3)
// requests: the common request log (kv_translogtrans.h) plus the file
// manager, the base folder(s) and the names to work on.
//
// Body after the common start (status, then the 12 bytes of parameters):
//   id_man   KV_FileManId (u16 type, three strings, u32 instance)
//   rename:  path_src, path_dst (KV_PathDef); delete: path
//   u32 name count, then the names (KV_String)
//   the record area (kv_translogfilegrp.h)
//
// Threads: as every request log. The paths, the names and the manager id
// are set before the log is created or shared (or by its restore) and only
// read afterwards, without the lock.
#pragma once

#include <cstdint>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "transfers/kv_translogtrans.h"

// What the rename and delete logs share: the manager and the names.
class KV_TransLogTransNames : public KV_TransLogTrans
{
public:
    // Takes the names in order; a name that cannot be added ends the
    // copying (the list then holds a prefix).
    KV_TransLogTransNames(const KV_String& name, const KVTL::KV_ListVal<KV_String>& names);
    ~KV_TransLogTransNames() override;

    const KV_FileManId& id_man() const { return id_man_; }
    // In memory; it reaches the file with the body.
    void set_id(const KV_FileManId& id) { id_man_ = id; }
    using KV_TransLogTrans::set_id;
    const KVTL::KV_ListVal<KV_String>& list_files() const { return list_files_; }

    // The records, and with `all` the names too.
    void cleanup(bool all) override;

protected:
    // The body after the common start: the manager id, the `n` paths, the
    // names.
    bool write_body(const KV_PathDef* const* paths, uint32_t n);
    bool read_body(KV_PathDef* const* paths, uint32_t n);

private:
    KVTL::KV_ListVal<KV_String> list_files_;
    KV_FileManId id_man_;
};

// The log of a rename (move within one data source) request.
class KV_TransLogTransRen : public KV_TransLogTransNames
{
public:
    KV_TransLogTransRen(const KV_String& name, const KV_PathDef& path_src,
                        const KV_PathDef& path_dst, const KVTL::KV_ListVal<KV_String>& names,
                        const KV_FileReqTransParamsRen& params);
    ~KV_TransLogTransRen() override;

    uint8_t type() const override { return 4; }
    KV_FileReqTransParams& params_impl() override { return params_; }
    void reset_tm_susp() override;

    const KV_PathDef& path_src() const { return path_src_; }
    const KV_PathDef& path_dst() const { return path_dst_; }

protected:
    bool write_data() override;
    bool read_data() override;

private:
    KV_FileReqTransParamsRen params_;
    KV_PathDef path_src_;
    KV_PathDef path_dst_;
};

// The log of a delete request.
class KV_TransLogTransRm : public KV_TransLogTransNames
{
public:
    KV_TransLogTransRm(const KV_String& name, const KV_PathDef& path,
                       const KVTL::KV_ListVal<KV_String>& names,
                       const KV_FileReqTransParamsRm& params);
    ~KV_TransLogTransRm() override;

    uint8_t type() const override { return 3; }
    KV_FileReqTransParams& params_impl() override { return params_; }
    void reset_tm_susp() override;

    const KV_PathDef& path() const { return path_; }

protected:
    bool write_data() override;
    bool read_data() override;

private:
    KV_FileReqTransParamsRm params_;
    KV_PathDef path_;
};
