// Copy and move requests end to end on the local disk: the transfer manager
// runs them through its worker, the local-disk file manager does the copy
// steps, all in real temporary folders.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_file.h"
#include "requests/kv_filemanstd.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filetransman.h"
#include "transfers/kv_transmantest.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string content(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
    return s;
}

void put(const std::string& path, const std::string& data)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

std::string get(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class LocalTransfer : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        root = dir.path();
        fs::create_directories(root + "/tmp");
        fs::create_directories(root + "/src");
        fs::create_directories(root + "/dst");
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (root + "/tmp").c_str()));
        fm = std::make_unique<KV_FileManStd>(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
        params.set_name("Local");
        params.opts_std().set_ntavos(4);
        ASSERT_TRUE(fm->init(&params));
        ASSERT_TRUE(fm->start());
        tm = std::make_unique<KV_FileTransMan>();
        KV_FileTransManOpts o;
        o.set_auto_rm_req(0);
        o.set_auto_rm_req_st(0);
        o.set_ntmpfiles(2);
        tm->set_opts(o);
        ASSERT_TRUE(tm->init());
        ASSERT_TRUE(tm->start());
    }
    void TearDown() override
    {
        tm.reset();
        fm.reset();
        kvtest::TempDirTest::TearDown();
    }

    KV_PathDef local(const std::string& abs) const
    {
        KV_PathDef p;
        EXPECT_TRUE(params.opts().man_path().split_path(abs.c_str(), p, true));
        p.prepend("Local");
        return p;
    }

    // Runs a request over `names` of src into dst and returns its final
    // status as its log records it.
    KV_REQ_STAT run(const std::vector<std::string>& names, const KV_FileReqTransParamsCp& p)
    {
        KVTL::KV_ListVal<KV_String> list;
        for (const auto& n : names)
            list.add(n.c_str());
        const KVTL::KV_ListVal<KV_String> none;
        auto* r = new KV_FileReqTransCp(fm.get(), fm.get(), local(root + "/src"),
                                        local(root + "/dst"), list, none, p);
        if (!tm->add_req(r))
            return KV_REQ_STAT_ERROR;
        const auto until = std::chrono::steady_clock::now() + 120s;
        while (std::chrono::steady_clock::now() < until) {
            const auto logs = transtest::log_files(root + "/tmp", 2);
            if (logs.size() == 1) {
                const KV_REQ_STAT st = transtest::log_status<KV_FileReqTransCp>(logs[0]);
                if (st == KV_REQ_STAT_COMPLETED || st == KV_REQ_STAT_ERROR ||
                    st == KV_REQ_STAT_CANCELLED) {
                    for (const auto& m : transtest::log_msgs<KV_FileReqTransCp>(logs[0]))
                        msgs += m + "\n";
                    return st;
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        return KV_REQ_STAT_RUNNING;
    }
    // Sub-logs left in the temporary folder.
    size_t sublogs() const { return transtest::log_files(root + "/tmp", 1).size(); }

    std::string root;
    std::string msgs;
    KV_FileManParamsStd params;
    std::unique_ptr<KV_FileManStd> fm;
    std::unique_ptr<KV_FileTransMan> tm;
};

TEST_F(LocalTransfer, ACopyOfATreeArrivesWholeInBatches)
{
    std::vector<std::pair<std::string, std::string>> files = {
        {"a.bin", content(300000, 1)}, {"b.txt", content(5, 2)},   {"empty", ""},
        {"d/c", content(70000, 3)},    {"d/e/f", content(123, 4)}, {"d/e/g", content(9, 5)},
        {"d/h", content(1, 6)},
    };
    for (const auto& f : files)
        put(root + "/src/" + f.first, f.second);
    fs::create_directories(root + "/src/d/void");

    EXPECT_EQ(run({"a.bin", "b.txt", "empty", "d"}, KV_FileReqTransParamsCp()),
              KV_REQ_STAT_COMPLETED);
    for (const auto& f : files)
        EXPECT_EQ(get(root + "/dst/" + f.first), f.second) << f.first;
    EXPECT_TRUE(fs::is_directory(root + "/dst/d/void"));
    EXPECT_EQ(sublogs(), 0u);
    for (const auto& f : files)
        EXPECT_TRUE(fs::exists(root + "/src/" + f.first)) << "a copy keeps its sources";
}

TEST_F(LocalTransfer, AMoveDeletesTheCopiedSourcesOnly)
{
    put(root + "/src/d/one", content(1000, 1));
    put(root + "/src/d/two", content(2000, 2));
    put(root + "/src/top", content(10, 3));
    KV_FileReqTransParamsCp p;
    p.set_del_src(true);
    p.set_forced_exec(KV_FEXEC_FORCED);
    EXPECT_EQ(run({"d", "top"}, p), KV_REQ_STAT_COMPLETED) << msgs;
    EXPECT_EQ(get(root + "/dst/d/two"), content(2000, 2));
    EXPECT_EQ(get(root + "/dst/top"), content(10, 3));
    EXPECT_FALSE(fs::exists(root + "/src/d/one"));
    EXPECT_FALSE(fs::exists(root + "/src/top"));
}

} // namespace
