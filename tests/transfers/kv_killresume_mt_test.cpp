// A copy that is killed at random moments and resumed from its request folder
// each time must end with every file identical to its source.
//
// The parent builds a tree of files of mixed sizes and one large random file,
// then starts this program again as a child (KillResume.Child, told its folder
// through KV_KILLRESUME_DIR) that runs the engine on it: the child reloads the
// saved request, or queues a new copy when there is none, and waits for the
// request to end. The parent kills the child with SIGKILL after a random delay,
// again and again, then lets a last child finish and checks the result. A copy
// that finishes before its kill is checked too, and the next round starts from
// an empty destination with kills that come sooner.
//
// Parameters (environment):
//   KV_KILLRESUME_KILLS     kills before the last run (default 5)
//   KV_KILLRESUME_FILES     files of the tree (default 300)
//   KV_KILLRESUME_BIG_MIB   size of the large file in MiB (default 32)
//   KV_KILLRESUME_MAX_MS    longest delay before a kill (default 1500)
//   KV_KILLRESUME_SEED      seed of the contents and delays (default: time)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_file.h"
#include "local/kv_filemanstd.h"
#include "support/kv_filedigest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filetransman.h"
#include "transfers/kv_transmantest.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using kvtest::digests;
using kvtest::sha256;
using kvtest::write_random;

uint64_t env_num(const char* name, uint64_t def)
{
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0')
        return def;
    return std::strtoull(v, nullptr, 10);
}

// The child: one run of the engine over the request folder.
TEST(KillResume, Child)
{
    const char* dir = std::getenv("KV_KILLRESUME_DIR");
    if (dir == nullptr)
        GTEST_SKIP() << "started by KillResume.ACopyKilledAtRandomResumesToIdenticalFiles";
    const std::string root = dir;
    const std::string tmp = root + "/tmp";
    ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, tmp.c_str()));

    KV_FileManParamsStd params;
    params.set_name("Local");
    params.opts_std().set_ntavos(4);
    params.opts_std().set_recycle(false);
    KV_FileManStd fm(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
    ASSERT_TRUE(fm.init(&params));
    ASSERT_TRUE(fm.start());
    transtest::TestPool pool;
    pool.add(&fm);

    KV_FileTransMan tm;
    KV_FileTransManOpts o;
    o.set_auto_rm_req(0);
    o.set_auto_rm_req_st(0);
    o.set_ntmpfiles(4);
    tm.set_opts(o);
    ASSERT_TRUE(tm.init());
    ASSERT_TRUE(tm.load_req(pool));
    ASSERT_TRUE(tm.start());
    if (transtest::log_files(tmp, 2).empty()) {
        // Killed before the request was saved, or never started: queue it.
        KV_PathDef src;
        KV_PathDef dst;
        ASSERT_TRUE(params.opts().man_path().split_path((root + "/src").c_str(), src, true));
        ASSERT_TRUE(params.opts().man_path().split_path((root + "/dst").c_str(), dst, true));
        src.prepend("Local");
        dst.prepend("Local");
        KVTL::KV_ListVal<KV_String> names;
        names.add("tree");
        names.add("big.bin");
        const KVTL::KV_ListVal<KV_String> none;
        KV_FileReqTransParamsCp p;
        p.set_forced_exec(KV_FEXEC_FORCED);
        ASSERT_TRUE(tm.add_req(new KV_FileReqTransCp(&fm, &fm, src, dst, names, none, p)));
    }
    KV_REQ_STAT st = KV_REQ_STAT_RUNNING;
    const auto until = std::chrono::steady_clock::now() + 600s;
    while (std::chrono::steady_clock::now() < until) {
        const auto logs = transtest::log_files(tmp, 2);
        if (logs.size() == 1) {
            st = transtest::log_status<KV_FileReqTransCp>(logs[0]);
            if (st == KV_REQ_STAT_COMPLETED || st == KV_REQ_STAT_ERROR ||
                st == KV_REQ_STAT_CANCELLED)
                break;
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(st, KV_REQ_STAT_COMPLETED);
}

// Starts this program as the child over `root`, its output in `out`.
pid_t spawn_child(const std::string& root, const std::string& out)
{
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<std::string> env_s;
    for (char** e = environ; *e != nullptr; ++e)
        env_s.emplace_back(*e);
    env_s.push_back("KV_KILLRESUME_DIR=" + root);
    std::vector<char*> envp;
    for (auto& s : env_s)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=KillResume.Child";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

TEST(KillResume, ACopyKilledAtRandomResumesToIdenticalFiles)
{
    const uint64_t kills = env_num("KV_KILLRESUME_KILLS", 5);
    const uint64_t nfiles = env_num("KV_KILLRESUME_FILES", 300);
    const uint64_t big = env_num("KV_KILLRESUME_BIG_MIB", 32) << 20;
    const uint64_t max_ms = std::max<uint64_t>(env_num("KV_KILLRESUME_MAX_MS", 1500), 20);
    const uint64_t seed =
        env_num("KV_KILLRESUME_SEED",
                static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    std::mt19937_64 rng(seed);
    SCOPED_TRACE("KV_KILLRESUME_SEED=" + std::to_string(seed));

    kvtest::TempDir dir;
    const std::string root = dir.path();
    fs::create_directories(root + "/tmp");
    fs::create_directories(root + "/src/tree");
    fs::create_directories(root + "/dst");
    // Mixed sizes: many small files, some of a few blocks, a few of
    // megabytes, and empty ones; spread over nested folders.
    uint64_t bytes = big;
    for (uint64_t i = 0; i < nfiles; ++i) {
        const uint64_t kind = rng() % 100;
        uint64_t size = 0;
        if (kind < 5)
            size = 0;
        else if (kind < 70)
            size = rng() % 4096;
        else if (kind < 97)
            size = 4096 + rng() % (256 << 10);
        else
            size = (1 << 20) + rng() % (3 << 20);
        const std::string rel = "tree/d" + std::to_string(i % 7) + "/e" + std::to_string(i % 3) +
                                "/f" + std::to_string(i);
        write_random(root + "/src/" + rel, size, rng);
        bytes += size;
    }
    write_random(root + "/src/big.bin", big, rng);
    const auto want = digests(root + "/src");

    const std::string out = root + "/child.out";
    auto child_output = [&out] {
        std::ifstream in(out);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    uint64_t killed = 0;
    uint64_t rounds = 0;
    uint64_t failures = 0;
    uint64_t checked = 0;
    uint64_t last_ms = 0;
    // Checks a finished copy: every file identical, nothing left over, the
    // request completed.
    auto verify = [&] {
        ++rounds;
        checked += bytes;
        const auto got = digests(root + "/dst");
        for (const auto& [rel, sum] : want) {
            const auto it = got.find(rel);
            if (it == got.end() || it->second != sum) {
                ++failures;
                ADD_FAILURE() << rel << (it == got.end() ? " missing" : " differs");
            }
        }
        for (const auto& [rel, sum] : got) {
            if (want.find(rel) == want.end()) {
                ++failures;
                ADD_FAILURE() << rel << " left over at the destination";
            }
        }
        EXPECT_TRUE(transtest::log_files(root + "/tmp", 1).empty()) << "no copy sub-log is left";
        const auto logs = transtest::log_files(root + "/tmp", 2);
        ASSERT_EQ(logs.size(), 1u);
        EXPECT_EQ(transtest::log_status<KV_FileReqTransCp>(logs[0]), KV_REQ_STAT_COMPLETED);
        size_t in_tmp = 0;
        for (const auto& e : fs::directory_iterator(root + "/tmp")) {
            ++in_tmp;
            EXPECT_EQ(e.path().string(), logs[0]) << "left over in the temporary folder";
        }
        EXPECT_EQ(in_tmp, 1u);
    };
    // Runs a child to its end; false when it failed.
    auto finish = [&](pid_t pid, const std::chrono::steady_clock::time_point& started) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid)
            return false;
        last_ms = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - started)
                                            .count());
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };

    uint64_t bound = max_ms;
    while (killed < kills) {
        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = spawn_child(root, out);
        ASSERT_GT(pid, 0);
        const auto deadline = started + std::chrono::milliseconds(10 + rng() % bound);
        int status = 0;
        bool gone = false;
        while (!(gone = waitpid(pid, &status, WNOHANG) == pid) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        if (!gone) {
            ::kill(pid, SIGKILL);
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            ++killed;
            continue;
        }
        // The copy finished before its kill: check it, then start a new
        // round with kills that come sooner, so that they land inside the
        // copy.
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << child_output();
        verify();
        if (HasFatalFailure())
            return;
        const auto took =
            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count());
        bound = std::max<uint64_t>(20, std::min(bound, took) * 3 / 4);
        for (const char* sub : {"/dst", "/tmp"}) {
            fs::remove_all(root + sub);
            fs::create_directories(root + sub);
        }
    }
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = spawn_child(root, out);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(finish(pid, started)) << child_output();
    verify();
    std::printf("kill-and-resume: %llu kills over %llu rounds, %zu files, %llu bytes checked, "
                "%llu failures; last run %llu ms, kills within %llu ms of a start\n",
                static_cast<unsigned long long>(killed), static_cast<unsigned long long>(rounds),
                want.size() * rounds, static_cast<unsigned long long>(checked),
                static_cast<unsigned long long>(failures), static_cast<unsigned long long>(last_ms),
                static_cast<unsigned long long>(bound));
}

} // namespace
