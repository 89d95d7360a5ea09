// KV_TmpFileMan: names in the two temporary folders, the registry, and many
// callers at once. Runs under ThreadSanitizer as well.
#include "foundation/kv_tmpfile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_path.h"
#include "support/kv_testdir.h"

// Drives the random-name search with name sources of the test's choosing.
class KV_TmpFileManPeer
{
public:
    static bool new_reg_name(KV_PathDef& out, KV_String (*draw)())
    {
        return KV_TmpFileMan::singleton().new_reg_name(out, draw);
    }
};

namespace {

namespace fs = std::filesystem;

std::atomic<int> g_draws{0};

KV_String same_name()
{
    ++g_draws;
    return "/somewhere/else/kvsame";
}
KV_String no_name()
{
    ++g_draws;
    return KV_String();
}
KV_String dotted_name()
{
    ++g_draws;
    return "kv12.";
}

std::string text_of(const KV_PathDef& path)
{
    KV_String text;
    EXPECT_TRUE(KV_TmpFileMan::singleton().path_man().build_path(text, path, false, 0));
    return text.data();
}

// Both temporary folders point into a fresh folder of the test's own.
class KV_TmpFileManTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        prog_dir = dir / "prog";
        sys_dir = dir / "sys";
        fs::create_directories(prog_dir);
        fs::create_directories(sys_dir);
        saved_prog = KV_File::path(KV_PATH_TMP, false);
        saved_sys = KV_File::path(KV_PATH_SYS_TMP, false);
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (prog_dir + "/").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, sys_dir.c_str()));
    }
    void TearDown() override
    {
        for (const std::string& name : registered) {
            KV_TmpFileMan::singleton().unreg(name.c_str());
        }
        KV_File::set_path(KV_PATH_TMP, saved_prog);
        KV_File::set_path(KV_PATH_SYS_TMP, saved_sys);
    }

    std::string prog_dir, sys_dir;
    KV_String saved_prog, saved_sys;
    std::vector<std::string> registered; // unregistered after the test
};

TEST_F(KV_TmpFileManTest, TmpDirKeepsTheRoot)
{
    KV_PathDef path;
    ASSERT_TRUE(KV_TmpFileMan::singleton().tmp_dir(KV_PATH_TMP, path));
    EXPECT_FALSE(path.root_entry());
    EXPECT_EQ(path.at(0), "/");
    EXPECT_EQ(text_of(path), prog_dir);
}

TEST_F(KV_TmpFileManTest, SystemFolderNamesCountUp)
{
    KV_TmpFileMan& man = KV_TmpFileMan::singleton();
    struct Case
    {
        const char* name;
        std::vector<const char*> expected; // in the order they are handed out
    };
    const Case cases[] = {
        {"a:b.txt", {"ab.txt", "ab1.txt", "ab2.txt"}},
        {" report.tar.gz ", {"report.tar.gz", "report1.tar.gz"}},
        {"noext", {"noext", "noext1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* want : c.expected) {
            KV_PathDef out;
            ASSERT_TRUE(man.new_file(KV_PATH_SYS_TMP, out, c.name));
            EXPECT_EQ(text_of(out), sys_dir + "/" + want);
            // The file exists once its name is handed out.
            EXPECT_TRUE(fs::is_regular_file(sys_dir + "/" + want));
        }
    }
    // A name that cleans to nothing has no file.
    KV_PathDef out;
    EXPECT_FALSE(man.new_file(KV_PATH_SYS_TMP, out, " :*?<>| "));
}

TEST_F(KV_TmpFileManTest, OtherTypesAreLeftAlone)
{
    KV_PathDef out;
    out.append("keep");
    EXPECT_TRUE(KV_TmpFileMan::singleton().new_file(KV_PATH_CA_FILE, out, "x.txt"));
    ASSERT_EQ(out.entries(), 1u);
    EXPECT_EQ(out.at(0), "keep");
}

TEST_F(KV_TmpFileManTest, UnsetOrMissingFolderGivesNoName)
{
    KV_TmpFileMan& man = KV_TmpFileMan::singleton();
    const KV_PATH_TYPE types[] = {KV_PATH_TMP, KV_PATH_SYS_TMP};
    for (const KV_PATH_TYPE type : types) {
        SCOPED_TRACE(type);
        KV_PathDef out;
        ASSERT_TRUE(KV_File::set_path(type, ""));
        EXPECT_FALSE(man.new_file(type, out, "x.txt"));
        ASSERT_TRUE(KV_File::set_path(type, (dir / "missing").c_str()));
        EXPECT_FALSE(man.new_file(type, out, "x.txt"));
    }
}

TEST_F(KV_TmpFileManTest, RegistryKeepsOneEntryPerName)
{
    KV_TmpFileMan& man = KV_TmpFileMan::singleton();
    const std::string name = prog_dir + "/by-hand";
    EXPECT_TRUE(man.reg(name.c_str()));
    EXPECT_TRUE(man.reg(name.c_str()));
    EXPECT_TRUE(man.unreg(name.c_str()));
    EXPECT_FALSE(man.unreg(name.c_str()));

    KV_PathDef path;
    EXPECT_TRUE(man.reg(path)); // the empty path: nothing to keep
    EXPECT_TRUE(man.unreg(path));
    ASSERT_TRUE(man.tmp_dir(KV_PATH_TMP, path));
    path.append("by-path");
    EXPECT_TRUE(man.reg(path));
    EXPECT_TRUE(man.unreg((prog_dir + "/by-path").c_str()));
    EXPECT_TRUE(man.unreg(KV_String()));
}

TEST_F(KV_TmpFileManTest, RandomNamesSkipRegisteredAndEndWhenTheSourceRunsDry)
{
    const std::string same = prog_dir + "/kvsame";

    // A name in the registry is never handed out, even with no file on disk.
    ASSERT_TRUE(KV_TmpFileMan::singleton().reg(same.c_str()));
    registered.push_back(same);
    KV_PathDef out;
    g_draws = 0;
    EXPECT_FALSE(KV_TmpFileManPeer::new_reg_name(out, &same_name));
    EXPECT_GT(g_draws.load(), 1);
    EXPECT_FALSE(fs::exists(same));

    // Once unregistered it may come back; the file is made and the name
    // registered again, so the next search runs dry once more.
    ASSERT_TRUE(KV_TmpFileMan::singleton().unreg(same.c_str()));
    ASSERT_TRUE(KV_TmpFileManPeer::new_reg_name(out, &same_name));
    EXPECT_EQ(text_of(out), same);
    EXPECT_TRUE(fs::is_regular_file(same));
    EXPECT_FALSE(KV_TmpFileManPeer::new_reg_name(out, &same_name));

    // A file on disk holds its name too, registered or not.
    ASSERT_TRUE(KV_TmpFileMan::singleton().unreg(same.c_str()));
    EXPECT_FALSE(KV_TmpFileManPeer::new_reg_name(out, &same_name));

    // Sources that give nothing usable end the search as well.
    EXPECT_FALSE(KV_TmpFileManPeer::new_reg_name(out, &no_name));
    EXPECT_FALSE(KV_TmpFileManPeer::new_reg_name(out, &dotted_name));
}

TEST_F(KV_TmpFileManTest, ManyThreadsNeverShareARandomName)
{
    constexpr int kThreads = 16;
    constexpr int kEach = 40;
    std::vector<std::vector<std::string>> got(kThreads);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                KV_PathDef out;
                if (!KV_TmpFileMan::singleton().new_file(KV_PATH_TMP, out, "ignored")) {
                    ++failures;
                    continue;
                }
                KV_String text;
                KV_TmpFileMan::singleton().path_man().build_path(text, out, false, 0);
                got[t].push_back(text.data());
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    EXPECT_EQ(failures.load(), 0);
    std::set<std::string> names;
    for (const auto& list : got) {
        for (const std::string& name : list) {
            EXPECT_TRUE(names.insert(name).second) << "handed out twice: " << name;
            EXPECT_EQ(name.rfind(prog_dir + "/", 0), 0u) << name;
            EXPECT_TRUE(fs::is_regular_file(name)) << name;
            registered.push_back(name);
        }
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kThreads * kEach));
    // Every name was registered: each one can be unregistered exactly once.
    for (const std::string& name : names) {
        EXPECT_TRUE(KV_TmpFileMan::singleton().unreg(name.c_str()));
    }
    registered.clear();
}

TEST_F(KV_TmpFileManTest, ManyThreadsNeverShareACounterName)
{
    constexpr int kThreads = 12;
    constexpr int kEach = 15;
    std::vector<std::vector<std::string>> got(kThreads);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                KV_PathDef out;
                if (!KV_TmpFileMan::singleton().new_file(KV_PATH_SYS_TMP, out, "report.txt")) {
                    ++failures;
                    continue;
                }
                got[t].push_back(out.last().data());
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    EXPECT_EQ(failures.load(), 0);
    std::set<std::string> names;
    for (const auto& list : got) {
        for (const std::string& name : list) {
            EXPECT_TRUE(names.insert(name).second) << "handed out twice: " << name;
        }
    }
    // The counter names, each given once, with no gap.
    std::set<std::string> expected = {"report.txt"};
    for (int i = 1; i < kThreads * kEach; ++i) {
        expected.insert("report" + std::to_string(i) + ".txt");
    }
    EXPECT_EQ(names, expected);
}

// Another process has a registry and locks of its own: only the file system
// can keep two programs from taking one name.
TEST_F(KV_TmpFileManTest, TwoProcessesNeverShareAName)
{
    constexpr int kEach = 150;
    struct Case
    {
        KV_PATH_TYPE type;
        const char* name;
    };
    const Case cases[] = {{KV_PATH_SYS_TMP, "shared.log"}, {KV_PATH_TMP, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const std::string child_list = dir / "child.txt";
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        auto take = [&](std::ostream& out) {
            int failed = 0;
            for (int i = 0; i < kEach; ++i) {
                KV_PathDef path;
                if (KV_TmpFileMan::singleton().new_file(c.type, path, c.name)) {
                    KV_String text;
                    KV_TmpFileMan::singleton().path_man().build_path(text, path, false, 0);
                    out << text.data() << '\n';
                } else {
                    ++failed;
                }
            }
            return failed;
        };
        if (pid == 0) {
            std::ofstream out(child_list);
            const int failed = take(out);
            out.close();
            _exit(failed == 0 && out ? 0 : 1);
        }
        std::stringstream mine;
        EXPECT_EQ(take(mine), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);

        std::set<std::string> names;
        std::ifstream theirs(child_list);
        for (std::istream* in :
             {static_cast<std::istream*>(&mine), static_cast<std::istream*>(&theirs)}) {
            std::string line;
            while (std::getline(*in, line)) {
                EXPECT_TRUE(names.insert(line).second) << "handed out twice: " << line;
                if (c.type == KV_PATH_TMP) {
                    registered.push_back(line);
                }
            }
        }
        EXPECT_EQ(names.size(), static_cast<size_t>(2 * kEach));
    }
}

} // namespace
