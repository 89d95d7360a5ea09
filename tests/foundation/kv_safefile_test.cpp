// KV_SafeFile: a stored file is replaced whole or not at all.
#include "foundation/kv_safefile.h"

#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/kv_testdir.h"

namespace {

namespace fs = std::filesystem;

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_all(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

uint32_t put(KV_Storage& st, const std::string& bytes)
{
    return st.write(reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<uint32_t>(bytes.size()));
}

// Files of this process may grow to `limit` bytes while the object lives; a
// write beyond fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lim = saved_;
        lim.rlim_cur = limit;
        ok_ = setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, old_handler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    sighandler_t old_handler_;
    bool ok_ = false;
};

class KV_SafeFileTest : public kvtest::TempDirTest
{
protected:
    KV_String name() const { return KV_String((dir / "store").c_str()); }
    std::string next() const { return dir / "store.new"; }
};

TEST_F(KV_SafeFileTest, CommitReplacesTheFileWhole)
{
    // A new file, then a replacement: the reader of the old version keeps
    // reading it whole.
    for (const char* text : {"first version", "second, longer version"}) {
        SCOPED_TRACE(text);
        std::ifstream reader(dir / "store", std::ios::binary);
        KV_SafeFile file(name());
        EXPECT_EQ(file.next_name(), KV_String(next().c_str()));
        ASSERT_TRUE(file.open());
        EXPECT_TRUE(file.opened());
        EXPECT_EQ(put(file, text), std::string(text).size());
        EXPECT_TRUE(fs::exists(next()));
        EXPECT_TRUE(file.commit());
        EXPECT_FALSE(file.opened());
        EXPECT_EQ(read_all(dir / "store"), text);
        EXPECT_FALSE(fs::exists(next()));
        if (reader) {
            std::string seen;
            std::getline(reader, seen);
            EXPECT_EQ(seen, "first version");
        }
    }

    // A storage like any other: binary forms go straight in. sync() before
    // commit() leaves the file where it was until the rename.
    KV_SafeFile file(name());
    ASSERT_TRUE(file.open());
    EXPECT_TRUE(file.write_le(uint32_t{0x64636261}));
    EXPECT_TRUE(file.sync());
    EXPECT_EQ(read_all(dir / "store"), "second, longer version");
    EXPECT_EQ(read_all(next()), "abcd");
    EXPECT_TRUE(file.commit());
    EXPECT_EQ(read_all(dir / "store"), "abcd");
    unsigned char b;
    EXPECT_EQ(file.read(&b, 1), 0u);
}

TEST_F(KV_SafeFileTest, FailedSaveLeavesTheOldFile)
{
    struct Case
    {
        const char* what;
        size_t size;  // bytes written
        rlim_t limit; // largest file this process may write
    };
    // A write refused at once, and one that shows only when the buffer goes
    // out (as a full disk often does).
    const Case cases[] = {
        {"write", 1 << 20, 4096},
        {"flush", 100, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_all(dir / "store", "old");
        KV_SafeFile file(name());
        ASSERT_TRUE(file.open());
        bool committed;
        {
            FileSizeLimit limit(c.limit);
            ASSERT_TRUE(limit.ok());
            put(file, std::string(c.size, 'n'));
            committed = file.commit();
        }
        EXPECT_FALSE(committed);
        EXPECT_EQ(read_all(dir / "store"), "old");
        EXPECT_FALSE(fs::exists(next()));
    }

    // A rename that fails (a folder holds the name) costs nothing either.
    fs::remove(dir / "store");
    fs::create_directories(dir / "store/inside");
    KV_SafeFile file(name());
    ASSERT_TRUE(file.open());
    put(file, "new");
    EXPECT_FALSE(file.commit());
    EXPECT_TRUE(fs::is_directory(dir / "store/inside"));
    EXPECT_FALSE(fs::exists(next()));

    // No folder to write in: nothing to open.
    KV_SafeFile lost(KV_String((dir / "none/store").c_str()));
    EXPECT_FALSE(lost.open());
    EXPECT_FALSE(lost.commit());
    EXPECT_FALSE(KV_SafeFile(KV_String()).open());
}

TEST_F(KV_SafeFileTest, UncommittedVersionIsDiscarded)
{
    write_all(dir / "store", "old");
    {
        KV_SafeFile file(name());
        ASSERT_TRUE(file.open());
        put(file, "half");
    }
    EXPECT_EQ(read_all(dir / "store"), "old");
    EXPECT_FALSE(fs::exists(next()));

    KV_SafeFile file(name());
    ASSERT_TRUE(file.open());
    put(file, "half");
    EXPECT_TRUE(file.close());
    EXPECT_FALSE(fs::exists(next()));
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(read_all(dir / "store"), "old");
}

TEST_F(KV_SafeFileTest, LeftoverOfAnInterruptedSaveIsReplaced)
{
    fs::create_directories(dir / "outside");
    write_all(dir / "outside/target", "target");
    struct Case
    {
        const char* what;
        void (*make)(const std::string& next, const std::string& outside);
    };
    const Case cases[] = {
        {"half-written file",
         [](const std::string& next, const std::string&) { write_all(next, "half-writ"); }},
        // The new bytes never go through a link planted under the name.
        {"link to a file",
         [](const std::string& next, const std::string& outside) {
             fs::create_symlink(outside + "/target", next);
         }},
        {"dangling link",
         [](const std::string& next, const std::string& outside) {
             fs::create_symlink(outside + "/gone", next);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_all(dir / "store", "old");
        c.make(next(), dir / "outside");
        KV_SafeFile file(name());
        ASSERT_TRUE(file.open());
        put(file, "new");
        EXPECT_TRUE(file.commit());
        EXPECT_EQ(read_all(dir / "store"), "new");
        EXPECT_FALSE(fs::exists(fs::symlink_status(next())));
        EXPECT_EQ(read_all(dir / "outside/target"), "target");
        EXPECT_FALSE(fs::exists(dir / "outside/gone"));
    }
}

} // namespace
