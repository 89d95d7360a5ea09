// Helpers of the transfer-manager tests: a file manager that never starts,
// an engine root that hands out the tests' own file managers, and readers of
// the request logs a run leaves in the temporary transfer folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_ids.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_filemanpool.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_transtest.h"

namespace transtest {

// A file manager that is never started: its id, kind, name and case rule.
class FakeMan : public KV_FileMan
{
public:
    FakeMan(const KV_FileManId& id, KV_FILE_MAN_TYPE type, const char* name, bool case_sens = true)
        : KV_FileMan(id), type_(type)
    {
        KV_FileManParamsStd params;
        params.set_name(name);
        params.opts().set_case_sens(case_sens);
        EXPECT_TRUE(init(&params));
    }
    ~FakeMan() override { terminate(); }
    KV_FILE_MAN_TYPE type() const override { return type_; }
    KV_Tavo* create_tavo() override { return nullptr; }

private:
    KV_FILE_MAN_TYPE type_;
};

inline KV_FileManId id_of(uint16_t type, const char* host, uint32_t impl)
{
    return KV_FileManId(KV_DsId(type, host, "user", ""), impl);
}

// An engine root whose registry finds the managers the test gave it.
class TestPool : public KV_FileManPool
{
public:
    void add(KV_FileMan* man) { mans.push_back(man); }
    KV_FileMan* reg(const KV_FileManId& id) override
    {
        for (KV_FileMan* m : mans) {
            if (m->id() == id)
                return m;
        }
        return nullptr;
    }

private:
    std::vector<KV_FileMan*> mans;
};

// The files of `dir` whose frame is that of a transfer log of `type`.
inline std::vector<std::string> log_files(const std::string& dir, uint8_t type)
{
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const Bytes b = read_all(e.path().string());
        if (b.size() > k_header.size() + 1 && std::string(b.begin(), b.begin() + 51) == k_header &&
            b[51] == 0 && b[52] == type)
            out.push_back(e.path().string());
    }
    return out;
}

// The texts of the lines of `kind` (messages, item records ...) of the
// request log at `path` (of the kind `R` builds), in order of their records;
// empty when it does not restore.
template <class R>
std::vector<std::string> log_lines(const std::string& path, KV_FILE_REQ_LOG_ELEM kind)
{
    std::vector<std::string> out;
    R req(path.c_str());
    KV_TransLogTrans& log = req.log_trans();
    if (!log.restore(nullptr))
        return out;
    log.set_id(0x7FFFFFF0);
    KV_FileReqLog lines;
    log.get_log(0x7FFFFFF0, lines);
    KV_TransLogTrans::set_id_log(0);
    for (const KV_FileReqLogElem* e : lines.list_elems()) {
        if (e->kind == kind)
            out.emplace_back(e->text.data());
    }
    return out;
}

// The messages of the request log at `path`, in order of addition.
template <class R> std::vector<std::string> log_msgs(const std::string& path)
{
    return log_lines<R>(path, KV_FILE_REQ_LOG_ELEM_MSG);
}

// The status recorded in the request log at `path`.
template <class R> KV_REQ_STAT log_status(const std::string& path)
{
    R req(path.c_str());
    return req.log_trans().restore(nullptr) ? req.log_trans().req_status() : KV_REQ_STAT_QUEUED;
}

} // namespace transtest
