// Copy and move requests end to end on the local disk: the transfer manager
// runs them through its worker, the local-disk file manager does the copy
// steps, all in real temporary folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_file.h"
#include "local/kv_filemanstd.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_filetransman.h"
#include "transfers/kv_tavotrans.h"
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
        // Deletions walk the folders themselves rather than handing whole
        // trees to the desktop's recycle bin.
        params.opts_std().set_recycle(false);
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

    static void list_of(KVTL::KV_ListVal<KV_String>& list, const std::vector<std::string>& names)
    {
        for (const auto& n : names)
            list.add(n.c_str());
    }

    // Queues a copy request over `names` of src into dst.
    bool add(const std::vector<std::string>& names, const KV_FileReqTransParamsCp& p)
    {
        KVTL::KV_ListVal<KV_String> list;
        list_of(list, names);
        const KVTL::KV_ListVal<KV_String> none;
        return tm->add_req(new KV_FileReqTransCp(fm.get(), fm.get(), local(root + "/src"),
                                                 local(root + "/dst"), list, none, p));
    }

    // Polls until there is one request log of `type` for which `done`
    // holds, then collects its messages; false after two minutes.
    template <class R, class F> bool poll(uint8_t type, F done)
    {
        const auto until = std::chrono::steady_clock::now() + 120s;
        while (std::chrono::steady_clock::now() < until) {
            const auto logs = transtest::log_files(root + "/tmp", type);
            if (logs.size() == 1 && done(logs[0])) {
                for (const auto& m : transtest::log_msgs<R>(logs[0]))
                    msgs += m + "\n";
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // Waits for the one request log of `type` to reach a final status.
    template <class R> KV_REQ_STAT wait(uint8_t type)
    {
        KV_REQ_STAT st = KV_REQ_STAT_RUNNING;
        const bool ended = poll<R>(type, [&st](const std::string& path) {
            st = transtest::log_status<R>(path);
            return st == KV_REQ_STAT_COMPLETED || st == KV_REQ_STAT_ERROR ||
                   st == KV_REQ_STAT_CANCELLED;
        });
        return ended ? st : KV_REQ_STAT_RUNNING;
    }

    // src holds "good" (1,000 bytes) and "bad", listed as a file but
    // unreadable (a link to a folder); a file is given up after its first
    // failure and ended requests stay listed.
    void give_up_bad_files_at_once()
    {
        KV_FileTransManOpts o;
        o.set_auto_rm_req(0);
        o.set_auto_rm_req_st(0);
        o.set_nfretries(1);
        tm->set_opts(o);
        put(root + "/src/good", content(1000, 1));
        fs::create_directories(root + "/elsewhere");
        fs::create_directory_symlink(root + "/elsewhere", root + "/src/bad");
    }

    // Runs a request over `names` of src into dst and returns its final
    // status as its log records it.
    KV_REQ_STAT run(const std::vector<std::string>& names, const KV_FileReqTransParamsCp& p)
    {
        return add(names, p) ? wait<KV_FileReqTransCp>(2) : KV_REQ_STAT_ERROR;
    }

    // Starts a mirror request that repeats an hour after each pass and
    // waits until its first pass has been recorded.
    bool mirror_pass(const std::vector<std::string>& names, KV_FileReqTransParamsCp p)
    {
        p.set_tm_type(1);
        p.set_tm_def(3600);
        return add(names, p) && poll<KV_FileReqTransCp>(2, [](const std::string& path) {
                   KV_FileReqTransCp saved(path.c_str());
                   return saved.log_trans().restore(nullptr) && saved.log().tm_last_cp().valid();
               });
    }

    // Makes src/<rel> a chain of `levels` nested folders "d" ending in a
    // file; returns the deepest folder.
    std::string chain(const std::string& rel, int levels)
    {
        std::string p = root + "/" + rel;
        for (int i = 0; i < levels; ++i)
            p += "/d";
        fs::create_directories(p);
        put(p + "/leaf", "x");
        return p;
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

// ---------------------------------------------------------------------------
// The plan: what the destination holds decides what a file or folder does.

struct PlanCase
{
    const char* name;
    enum { NONE, SAME_SIZE, OTHER_SIZE, FOLDER } dst_f; // what dst/f is
    bool dst_g_file;                                    // dst/g a file
    bool skip_sz;
    uint8_t mirror;
    KV_REQ_STAT want;     // normal requests only
    const char* want_f;   // content of dst/f afterwards; null: a folder
    bool want_g_copied;   // dst/g/x arrived
    const char* want_msg; // in the log, or null
};

class Plan : public LocalTransfer, public ::testing::WithParamInterface<PlanCase>
{
};

TEST_P(Plan, DecidesPerEntry)
{
    const PlanCase& c = GetParam();
    const std::string src_f = content(1000, 1);
    put(root + "/src/m/f", src_f);
    put(root + "/src/m/g/x", "gx");
    put(root + "/dst/m/keep", "k");
    switch (c.dst_f) {
    case PlanCase::NONE:
        break;
    case PlanCase::SAME_SIZE:
        put(root + "/dst/m/f", std::string(1000, 'o'));
        break;
    case PlanCase::OTHER_SIZE:
        put(root + "/dst/m/f", "old");
        break;
    case PlanCase::FOLDER:
        fs::create_directories(root + "/dst/m/f");
        break;
    }
    if (c.dst_g_file)
        put(root + "/dst/m/g", "a file");
    KV_FileReqTransParamsCp p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    p.set_skip_sz(c.skip_sz);
    p.set_mirror(c.mirror);
    // Within a folder: a mirror with deletion looks at every destination
    // entry of the folders it walks.
    const std::vector<std::string> all{"m"};
    if (c.mirror == 0) {
        EXPECT_EQ(run(all, p), c.want) << msgs;
    } else {
        ASSERT_TRUE(mirror_pass(all, p)) << msgs;
    }
    if (c.want_f == nullptr) {
        EXPECT_TRUE(fs::is_directory(root + "/dst/m/f"));
    } else {
        const std::string f = get(root + "/dst/m/f");
        EXPECT_TRUE(f == (std::string(c.want_f) == "src" ? src_f : c.want_f))
            << f.size() << " bytes";
    }
    EXPECT_EQ(fs::exists(root + "/dst/m/g/x") && get(root + "/dst/m/g/x") == "gx", c.want_g_copied);
    EXPECT_EQ(fs::exists(root + "/dst/m/keep"), c.mirror != 2) << "only a mirror with deletion "
                                                                  "removes extra entries";
    if (c.want_msg != nullptr) {
        EXPECT_NE(msgs.find(c.want_msg), std::string::npos) << msgs;
    }
}

const std::string same_size(1000, 'o');

INSTANTIATE_TEST_SUITE_P(
    Cases, Plan,
    ::testing::Values(PlanCase{"NewFile", PlanCase::NONE, false, false, 0, KV_REQ_STAT_COMPLETED,
                               "src", true, nullptr},
                      PlanCase{"SameSizeSkipped", PlanCase::SAME_SIZE, false, true, 0,
                               KV_REQ_STAT_COMPLETED, same_size.c_str(), true, nullptr},
                      PlanCase{"SameSizeOverwritten", PlanCase::SAME_SIZE, false, false, 0,
                               KV_REQ_STAT_COMPLETED, "src", true, nullptr},
                      PlanCase{"OtherSizeOverwritten", PlanCase::OTHER_SIZE, false, true, 0,
                               KV_REQ_STAT_COMPLETED, "src", true, nullptr},
                      PlanCase{"FileOntoFolderFails", PlanCase::FOLDER, false, false, 0,
                               KV_REQ_STAT_ERROR, nullptr, false,
                               "The directory f already exists."},
                      // The folder fails as a whole: f is not copied either.
                      PlanCase{"FolderOntoFileFails", PlanCase::NONE, true, false, 0,
                               KV_REQ_STAT_ERROR, "", false, "The file g already exists."},
                      PlanCase{"MirrorNewFile", PlanCase::NONE, false, false, 1,
                               KV_REQ_STAT_RUNNING, "src", true, nullptr},
                      PlanCase{"MirrorSameSizeSkipped", PlanCase::SAME_SIZE, false, true, 1,
                               KV_REQ_STAT_RUNNING, same_size.c_str(), true, nullptr},
                      PlanCase{"MirrorFileOntoFolderWarns", PlanCase::FOLDER, false, false, 1,
                               KV_REQ_STAT_RUNNING, nullptr, true,
                               "The directory f already exists."},
                      PlanCase{"MirrorFolderOntoFileWarns", PlanCase::NONE, true, false, 1,
                               KV_REQ_STAT_RUNNING, "src", false, "The file g already exists."},
                      PlanCase{"MirrorDeletingReplacesAll", PlanCase::OTHER_SIZE, false, false, 2,
                               KV_REQ_STAT_RUNNING, "src", true, nullptr}),
    [](const ::testing::TestParamInfo<PlanCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Moves, mirrors and deep trees

TEST_F(LocalTransfer, AMoveLeavesAGivenUpSourceInPlace)
{
    KV_FileTransManOpts o;
    o.set_auto_rm_req(0);
    o.set_auto_rm_req_st(0);
    o.set_ntmpfiles(2);
    o.set_nfretries(1);
    tm->set_opts(o);
    put(root + "/src/one", content(1000, 1));
    put(root + "/src/two", content(2000, 2));
    // Listed as a file but unreadable: a link to a folder cannot be read as
    // one, however privileged the test runs.
    fs::create_directories(root + "/elsewhere");
    fs::create_directory_symlink(root + "/elsewhere", root + "/src/bad");
    KV_FileReqTransParamsCp p;
    p.set_del_src(true);
    p.set_forced_exec(KV_FEXEC_FORCED);
    run({"one", "two", "bad"}, p);
    EXPECT_EQ(get(root + "/dst/one"), content(1000, 1)) << msgs;
    EXPECT_EQ(get(root + "/dst/two"), content(2000, 2));
    EXPECT_FALSE(fs::exists(root + "/src/one")) << "copied sources go";
    EXPECT_FALSE(fs::exists(root + "/src/two"));
    EXPECT_TRUE(fs::is_symlink(root + "/src/bad")) << "the given-up one stays\n" << msgs;
    EXPECT_EQ(sublogs(), 0u);
}

TEST_F(LocalTransfer, AGivenUpFileFailsTheRequestAndLeavesTheTargetAsItWas)
{
    give_up_bad_files_at_once();
    put(root + "/dst/bad", "the file as it was");
    KV_FileReqTransParamsCp p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    EXPECT_EQ(run({"good", "bad"}, p), KV_REQ_STAT_ERROR) << msgs;
    EXPECT_EQ(get(root + "/dst/good"), content(1000, 1));
    EXPECT_EQ(get(root + "/dst/bad"), "the file as it was");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root + "/dst"))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bad", "good"})) << "no temporary file is left";
    EXPECT_NE(msgs.find("Some files were not copied"), std::string::npos) << msgs;
    EXPECT_EQ(sublogs(), 0u);
}

// A request that gave a file up ends with its summary as the last error,
// which the transfer list shows: the summary carries the error that gave
// the file up, so a person sees why (a full disk says so) without opening
// the request's log.
TEST_F(LocalTransfer, AGivenUpFilesErrorStaysInTheRequestsLastError)
{
    give_up_bad_files_at_once();
    KV_FileReqTransParamsCp p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    ASSERT_EQ(run({"good", "bad"}, p), KV_REQ_STAT_ERROR) << msgs;
    const auto logs = transtest::log_files(root + "/tmp", 2);
    ASSERT_EQ(logs.size(), 1u);
    KV_FileReqTransCp saved(logs[0].c_str());
    ASSERT_TRUE(saved.log_trans().restore(nullptr));
    const std::string last = saved.log_trans().last_err().data();
    // The reason is the message logged just before the summary.
    const std::string summary = "Some files were not copied: they were skipped after errors.";
    std::string why;
    std::string before;
    for (size_t at = 0, end; (end = msgs.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = msgs.substr(at, end - at);
        if (line.starts_with(summary))
            why = before;
        before = line;
    }
    ASSERT_FALSE(why.empty()) << msgs;
    ASSERT_NE(why, "Started") << msgs;
    EXPECT_EQ(last, summary + " Reason: " + why) << msgs;
}

TEST_F(LocalTransfer, LinksInTheDestinationAreNeverFollowed)
{
    const std::string outside = root + "/outside";
    const struct
    {
        const char* what;
        const char* link; // below dst, a link to outside/<to>
        const char* to;
        KV_REQ_STAT want;
    } cases[] = {
        {"a link at the file's name", "m/f", "victim", KV_REQ_STAT_COMPLETED},
        {"a dangling link at the file's name", "m/f", "made", KV_REQ_STAT_COMPLETED},
        {"a link at a folder on the way", "m", "", KV_REQ_STAT_ERROR},
    };
    put(root + "/src/m/f", content(5000, 1));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tm.reset();
        for (const std::string& d : {root + "/dst", root + "/tmp", outside}) {
            fs::remove_all(d);
            fs::create_directories(d);
        }
        tm = std::make_unique<KV_FileTransMan>();
        KV_FileTransManOpts o;
        o.set_auto_rm_req(0);
        o.set_auto_rm_req_st(0);
        o.set_nfretries(1);
        tm->set_opts(o);
        ASSERT_TRUE(tm->init());
        ASSERT_TRUE(tm->start());
        msgs.clear();
        put(outside + "/victim", "untouched");
        fs::create_directories(fs::path(root + "/dst/" + c.link).parent_path());
        fs::create_symlink(outside + "/" + c.to, root + "/dst/" + c.link);
        KV_FileReqTransParamsCp p;
        p.set_forced_exec(KV_FEXEC_FORCED);
        EXPECT_EQ(run({"m"}, p), c.want) << msgs;
        std::vector<std::string> there;
        for (const auto& e : fs::directory_iterator(outside))
            there.push_back(e.path().filename().string());
        EXPECT_EQ(there, std::vector<std::string>{"victim"}) << "nothing is made through a link";
        EXPECT_EQ(get(outside + "/victim"), "untouched");
        if (c.want == KV_REQ_STAT_COMPLETED) {
            EXPECT_FALSE(fs::is_symlink(root + "/dst/m/f"));
            EXPECT_EQ(get(root + "/dst/m/f"), content(5000, 1));
        }
    }
}

TEST_F(LocalTransfer, AMirrorLogsTheExtraEntriesItDeletes)
{
    put(root + "/src/m/a", "a");
    put(root + "/dst/m/a", "a");
    put(root + "/dst/m/extra1", "1");
    put(root + "/dst/m/gone/extra2", "2");
    KV_FileReqTransParamsCp p;
    p.set_mirror(2);
    p.set_forced_exec(KV_FEXEC_FORCED);
    ASSERT_TRUE(mirror_pass({"m"}, p)) << msgs;
    EXPECT_FALSE(fs::exists(root + "/dst/m/extra1"));
    EXPECT_FALSE(fs::exists(root + "/dst/m/gone"));
    EXPECT_EQ(get(root + "/dst/m/a"), "a");
    const auto logs = transtest::log_files(root + "/tmp", 2);
    ASSERT_EQ(logs.size(), 1u);
    KV_FileReqTransCp saved(logs[0].c_str());
    ASSERT_TRUE(saved.log_trans().restore(nullptr));
    EXPECT_NE(saved.log().status(local(root + "/dst/m/extra1")), 0) << "the deletion is recorded";
    EXPECT_NE(saved.log().status(local(root + "/dst/m/gone")), 0);
}

TEST_F(LocalTransfer, TooDeepATreeIsRefusedByTheCopyWalker)
{
    const int levels = static_cast<int>(KV_TavoTrans::MAX_DEPTH) + 3;
    chain("src/deep", levels);
    EXPECT_EQ(run({"deep"}, KV_FileReqTransParamsCp()), KV_REQ_STAT_ERROR);
    EXPECT_NE(msgs.find("levels deep"), std::string::npos) << msgs;
}

TEST_F(LocalTransfer, TooDeepATreeIsRefusedByTheDeleteWalker)
{
    const std::string bottom = chain("src/deep", static_cast<int>(KV_TavoTrans::MAX_DEPTH) + 3);
    KVTL::KV_ListVal<KV_String> list;
    list_of(list, {"deep"});
    KV_FileReqTransParamsRm p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    auto* r = new KV_FileReqTransRm(fm.get(), local(root + "/src"), list, p);
    ASSERT_TRUE(tm->add_req(r));
    EXPECT_EQ(wait<KV_FileReqTransRm>(3), KV_REQ_STAT_ERROR);
    EXPECT_NE(msgs.find("levels deep"), std::string::npos) << msgs;
    EXPECT_TRUE(fs::exists(bottom + "/leaf")) << "nothing below the limit was touched";
}

TEST_F(LocalTransfer, TooDeepATreeIsRefusedByTheRenameWalker)
{
    // Folders on both sides are merged level by level.
    const int levels = static_cast<int>(KV_TavoTrans::MAX_DEPTH) + 3;
    const std::string bottom = chain("src/deep", levels);
    chain("dst/deep", levels);
    KVTL::KV_ListVal<KV_String> list;
    list_of(list, {"deep"});
    KV_FileReqTransParamsRen p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    auto* r = new KV_FileReqTransRen(fm.get(), local(root + "/src"), local(root + "/dst"), list, p);
    ASSERT_TRUE(tm->add_req(r));
    EXPECT_EQ(wait<KV_FileReqTransRen>(4), KV_REQ_STAT_ERROR);
    EXPECT_NE(msgs.find("levels deep"), std::string::npos) << msgs;
    EXPECT_TRUE(fs::exists(bottom + "/leaf"));
}

} // namespace
