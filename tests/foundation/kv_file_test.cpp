// KV_File: the file object, the file-system statics, the trash and the
// well-known folder table, on real folders under a fresh temporary folder.
#include "foundation/kv_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_stoppable.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"
#include "support/kv_testdir.h"

namespace {

namespace fs = std::filesystem;

using kvtest::read_file;
using kvtest::write_file;

// Bytes that differ from one position to the next, so a shifted or
// truncated copy shows.
std::string pattern(size_t n)
{
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    }
    return bytes;
}

class ProgressLog : public KV_ProgressMan
{
public:
    void progress(int64_t done) override { seen.push_back(done); }
    std::vector<int64_t> seen;
};

// Stops the copy it watches once the first chunk is written.
class StopAfterFirst : public KV_ProgressMan
{
public:
    explicit StopAfterFirst(KV_Stoppable& stop) : stop_(stop) {}
    void progress(int64_t) override { stop_.stop(KV_STOP_CANCEL); }

private:
    KV_Stoppable& stop_;
};

// A fresh folder for each test, removed with everything in it afterwards.
class KV_FileTest : public kvtest::TempDirTest
{
protected:
    std::string at(const std::string& name) const { return dir / name; }
    static KV_String ks(const std::string& s) { return KV_String(s.c_str()); }
};

// ---- the file object

TEST_F(KV_FileTest, FileObjectWritesReadsAndSeeks)
{
    KV_File file(ks(at("f.bin")), "w+b");
    EXPECT_FALSE(file.opened());
    EXPECT_TRUE(file.end());
    ASSERT_TRUE(file.open());
    const std::string bytes = pattern(1000);
    EXPECT_EQ(file.write(reinterpret_cast<const unsigned char*>(bytes.data()), 1000), 1000u);
    int64_t pos = -1;
    ASSERT_TRUE(file.pos(pos));
    EXPECT_EQ(pos, 1000);
    ASSERT_TRUE(file.set_pos(10));
    char buf[20];
    EXPECT_EQ(file.read(buf, 20), 20u);
    EXPECT_EQ(std::string(buf, 20), bytes.substr(10, 20));
    EXPECT_FALSE(file.set_pos(-1));
    ASSERT_TRUE(file.set_pos(990));
    EXPECT_EQ(file.read(buf, 20), 10u);
    EXPECT_TRUE(file.end());

    // A copy is closed: the stream stays with the original and is closed
    // once (a double fclose would show under AddressSanitizer).
    KV_File twin(file);
    EXPECT_FALSE(twin.opened());
    EXPECT_EQ(twin.name(), file.name());
    EXPECT_TRUE(file.opened());
    EXPECT_TRUE(twin.open());

    // Changing the mode of an open file reopens it at once.
    EXPECT_TRUE(file.set_mode("rb"));
    EXPECT_TRUE(file.opened());
    EXPECT_EQ(file.write(reinterpret_cast<const unsigned char*>("x"), 1), 0u);
    EXPECT_FALSE(file.set_name(ks(at("missing"))));
    EXPECT_FALSE(file.opened());
    EXPECT_TRUE(file.close());
}

TEST_F(KV_FileTest, WritesInPlaceNeverLoseOrMisplaceBytes)
{
    const auto u = [](const char* t) { return reinterpret_cast<const unsigned char*>(t); };
    // Unbuffered (as the logs keep their files) and buffered streams, with
    // bytes written before and after a rewrite: the rewrite lands where it
    // is asked to, and a buffered stream's pending bytes are not overtaken.
    for (const bool unbuffered : {true, false}) {
        SCOPED_TRACE(unbuffered ? "unbuffered" : "buffered");
        const std::string name = at(unbuffered ? "u.bin" : "b.bin");
        KV_File file(ks(name), "w+b");
        if (unbuffered)
            file.set_no_buff();
        ASSERT_TRUE(file.open());
        EXPECT_EQ(file.write(u("abcdef"), 6), 6u);
        EXPECT_EQ(file.write_at(1, u("XY"), 2), 2u);
        ASSERT_TRUE(file.set_pos(6));
        EXPECT_EQ(file.write(u("gh"), 2), 2u);
        // Past the end: the gap reads as zero bytes.
        EXPECT_EQ(file.write_at(10, u("Z"), 1), 1u);
        EXPECT_EQ(file.write_at(-1, u("Z"), 1), 0u);
        EXPECT_TRUE(file.close());
        EXPECT_EQ(read_file(name), std::string("aXYdefgh\0\0Z", 11));
        EXPECT_EQ(file.write_at(0, u("Z"), 1), 0u) << "closed";
    }
}

TEST_F(KV_FileTest, ClosedOrNamelessFileRefusesWork)
{
    KV_File file;
    EXPECT_EQ(file.mode(), "rt");
    EXPECT_FALSE(file.open());
    EXPECT_FALSE(file.remove());
    char buf[4];
    EXPECT_EQ(file.read(buf, 4), 0u);
    EXPECT_EQ(file.write(reinterpret_cast<const unsigned char*>("abcd"), 4), 0u);
    int64_t pos = 7;
    EXPECT_FALSE(file.pos(pos));
    EXPECT_EQ(pos, 0);
    EXPECT_FALSE(file.set_pos(0));
    EXPECT_EQ(static_cast<FILE*>(file), nullptr);
}

TEST_F(KV_FileTest, SkipAndRemove)
{
    write_file(at("t.txt"), "one\r\ntwo\nthree\nfour");
    KV_File file(ks(at("t.txt")), "rb");
    file.set_no_buff();
    ASSERT_TRUE(file.open());
    EXPECT_TRUE(file.skip(2));
    KV_String line;
    EXPECT_TRUE(line.read_txt(file));
    EXPECT_EQ(line, "three");
    EXPECT_FALSE(file.skip(2)); // "four" has no LF
    EXPECT_TRUE(file.remove());
    EXPECT_FALSE(file.opened());
    EXPECT_FALSE(fs::exists(at("t.txt")));
}

// ---- byte-range copies

struct CopyCase
{
    const char* what;
    size_t src_len;
    int64_t src_pos;
    int64_t dst_pos;
    int64_t size;
    bool ok;
    int64_t copied; // the count reported; 0 on failure
    std::vector<int64_t> progress;
    size_t dst_len; // bytes in the destination afterwards
};

TEST_F(KV_FileTest, CopyRangesAndProgress)
{
    const CopyCase cases[] = {
        {"to the end", 70000, 0, 0, 0, true, 70000, {32768, 65536, 70000}, 70000},
        {"bounded, offsets", 50000, 100, 1000, 40000, true, 40000, {33768, 41000}, 41000},
        {"exact chunks", 65536, 0, 0, 65536, true, 65536, {32768, 65536}, 65536},
        {"empty source", 0, 0, 0, 0, true, 0, {}, 0},
        {"source too short", 1000, 0, 0, 5000, false, 0, {1000}, 1000},
        {"start past the end", 1000, 2000, 0, 10, false, 0, {}, 0},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = pattern(c.src_len);
        write_file(at("src"), bytes);
        KV_File src(ks(at("src")), "rb");
        KV_File dst(ks(at("dst")), "w+b");
        ASSERT_TRUE(src.open());
        ASSERT_TRUE(dst.open());
        ProgressLog log;
        int64_t copied = -1;
        EXPECT_EQ(KV_File::copy(src, dst, c.src_pos, c.dst_pos, c.size, &copied, nullptr, &log),
                  c.ok);
        EXPECT_EQ(copied, c.copied);
        EXPECT_EQ(log.seen, c.progress);
        dst.close();
        const std::string out = read_file(at("dst"));
        ASSERT_EQ(out.size(), c.dst_len);
        if (c.ok) {
            EXPECT_EQ(out.substr(0, static_cast<size_t>(c.dst_pos)),
                      std::string(static_cast<size_t>(c.dst_pos), '\0'));
            EXPECT_EQ(out.substr(static_cast<size_t>(c.dst_pos)),
                      bytes.substr(static_cast<size_t>(c.src_pos), static_cast<size_t>(c.copied)));
        }
    }
}

TEST_F(KV_FileTest, StoppedCopyFails)
{
    const std::string bytes = pattern(100000);
    write_file(at("src"), bytes);
    for (const int64_t size : {int64_t{0}, int64_t{100000}}) {
        SCOPED_TRACE(size == 0 ? "unbounded" : "bounded");
        KV_File src(ks(at("src")), "rb");
        KV_File dst(ks(at("dst")), "wb");
        ASSERT_TRUE(src.open());
        ASSERT_TRUE(dst.open());

        // Stopped during the copy: only the first chunk goes over.
        KV_Stoppable stop;
        StopAfterFirst stopper(stop);
        int64_t copied = -1;
        EXPECT_FALSE(KV_File::copy(src, dst, 0, 0, size, &copied, &stop, &stopper));
        EXPECT_EQ(copied, 0);
        dst.close();
        EXPECT_EQ(read_file(at("dst")), bytes.substr(0, 32768));

        // Stopped before it starts: nothing goes over.
        ASSERT_TRUE(dst.open());
        EXPECT_FALSE(KV_File::copy(src, dst, 0, 0, size, nullptr, &stop, nullptr));
        dst.close();
        EXPECT_EQ(read_file(at("dst")), "");
    }
    // By names, too.
    KV_Stoppable stop;
    stop.stop(KV_STOP_CANCEL);
    EXPECT_FALSE(KV_File::copy(ks(at("src")), ks(at("dst2")), 0, 0, 0, &stop, nullptr));
}

TEST_F(KV_FileTest, CopyReportsReadAndWriteErrors)
{
    write_file(at("src"), pattern(100));

    // A folder opens as a stream but every read fails: no end of data.
    KV_File folder(ks(dir.path()), "rb");
    KV_File dst(ks(at("dst")), "wb");
    ASSERT_TRUE(folder.open());
    ASSERT_TRUE(dst.open());
    EXPECT_FALSE(KV_File::copy(folder, dst, 0, 0, 0));

    // A destination that takes no bytes.
    KV_File src(ks(at("src")), "rb");
    KV_File ro(ks(at("src")), "rb");
    ASSERT_TRUE(src.open());
    ASSERT_TRUE(ro.open());
    EXPECT_FALSE(KV_File::copy(src, ro, 0, 0, 0));

    // A full disk that shows only when the buffer is flushed.
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_FALSE(KV_File::copy(ks(at("src")), "/dev/full", 0, 0, 0));
    }
}

TEST_F(KV_FileTest, CopyByNames)
{
    const std::string bytes = pattern(40000);
    write_file(at("src"), bytes);
    write_file(at("dst"), std::string(50000, 'x')); // truncated by the copy
    ProgressLog log;
    EXPECT_TRUE(KV_File::copy(ks(at("src")), ks(at("dst")), 0, 0, 0, nullptr, &log));
    EXPECT_EQ(read_file(at("dst")), bytes);
    EXPECT_EQ(log.seen, (std::vector<int64_t>{32768, 40000}));

    // A missing source: nothing else happens, no destination is made.
    EXPECT_FALSE(KV_File::copy(ks(at("none")), ks(at("dst3")), 0, 0, 0));
    EXPECT_FALSE(fs::exists(at("dst3")));
    EXPECT_FALSE(KV_File::copy(ks(at("src")), ks(at("no/such/dst")), 0, 0, 0));
}

// ---- 64-bit sizes and positions

TEST_F(KV_FileTest, SizesAndPositionsBeyondFourGiB)
{
    constexpr int64_t k5GiB = int64_t{5} << 30;
    const int fd = open(at("big").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const bool sized = ftruncate(fd, k5GiB) == 0;
    close(fd);
    if (!sized) {
        GTEST_SKIP() << "this file system cannot hold a sparse 5 GiB file";
    }
    int64_t size = 0;
    KV_Time mtime;
    ASSERT_TRUE(KV_File::props(ks(at("big")), size, mtime));
    EXPECT_EQ(size, k5GiB);
    EXPECT_TRUE(mtime.valid());

    KV_File file(ks(at("big")), "r+b");
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.set_pos(k5GiB - 4));
    int64_t pos = 0;
    ASSERT_TRUE(file.pos(pos));
    EXPECT_EQ(pos, k5GiB - 4);
    ASSERT_EQ(file.write(reinterpret_cast<const unsigned char*>("tail"), 4), 4u);
    file.close();

    // A range read from beyond 4 GiB lands at its absolute position.
    KV_File src(ks(at("big")), "rb");
    KV_File dst(ks(at("small")), "wb");
    ASSERT_TRUE(src.open());
    ASSERT_TRUE(dst.open());
    int64_t copied = 0;
    EXPECT_TRUE(KV_File::copy(src, dst, k5GiB - 6, 0, 6, &copied));
    EXPECT_EQ(copied, 6);
    dst.close();
    EXPECT_EQ(read_file(at("small")), std::string("\0\0tail", 6));
}

// ---- file-system statics

TEST_F(KV_FileTest, FoldersExistenceAndProps)
{
    EXPECT_TRUE(KV_File::mkdir(ks(at("d"))));
    EXPECT_FALSE(KV_File::mkdir(ks(at("d"))));
    EXPECT_FALSE(KV_File::mkdir(ks(at("x/y"))));
    EXPECT_TRUE(KV_File::exists(ks(at("d"))));
    EXPECT_TRUE(KV_File::is_dir(ks(at("d"))));
    write_file(at("f"), "12345");
    EXPECT_TRUE(KV_File::exists(ks(at("f"))));
    EXPECT_FALSE(KV_File::is_dir(ks(at("f"))));
    EXPECT_FALSE(KV_File::exists(ks(at("none"))));

    int64_t size = -1;
    KV_Time mtime;
    ASSERT_TRUE(KV_File::props(ks(at("f")), size, mtime));
    EXPECT_EQ(size, 5);
    KV_Time now;
    now.now();
    EXPECT_LE(std::abs(now.impl() - mtime.impl()), 60);

    // A failure leaves the outputs alone.
    size = 42;
    const KV_Time before(1234L);
    mtime = before;
    EXPECT_FALSE(KV_File::props(ks(at("none")), size, mtime));
    EXPECT_EQ(size, 42);
    EXPECT_EQ(mtime, before);
}

TEST_F(KV_FileTest, RenameReplacesTargetAtomically)
{
    write_file(at("new"), "new contents");
    write_file(at("old"), "old contents");
    // The target's inode is replaced, never deleted first: a reader that had
    // it open still reads the old contents.
    std::ifstream reader(at("old"), std::ios::binary);
    ASSERT_TRUE(KV_File::rename(ks(at("new")), ks(at("old"))));
    EXPECT_FALSE(fs::exists(at("new")));
    EXPECT_EQ(read_file(at("old")), "new contents");
    std::string seen;
    std::getline(reader, seen);
    EXPECT_EQ(seen, "old contents");

    fs::create_directories(at("d1/sub"));
    EXPECT_TRUE(KV_File::rename(ks(at("d1")), ks(at("d2"))));
    EXPECT_TRUE(fs::is_directory(at("d2/sub")));
    EXPECT_FALSE(KV_File::rename(ks(at("none")), ks(at("d3"))));
}

TEST_F(KV_FileTest, RmdirRemovesOnlyAnEmptyFolder)
{
    fs::create_directories(at("tree/a/b"));
    write_file(at("tree/a/b/f"), "x");
    write_file(at("tree/g"), "y");
    fs::create_directories(at("outside"));
    write_file(at("outside/keep"), "keep");
    fs::create_directory_symlink(at("outside"), at("tree/a/link"));

    EXPECT_FALSE(KV_File::rmdir(ks(at("tree/g")), false)); // not a folder
    EXPECT_TRUE(fs::exists(at("tree/g")));
    EXPECT_FALSE(KV_File::rmdir(ks(at("tree/a/link")), false)); // a link, not a folder
    EXPECT_TRUE(fs::is_symlink(at("tree/a/link")));
    EXPECT_EQ(read_file(at("outside/keep")), "keep");

    // Without the trash a folder that holds anything stays whole: the caller
    // empties it item by item, so nothing it did not see goes unasked.
    errno = 0;
    EXPECT_FALSE(KV_File::rmdir(ks(at("tree")), false));
    EXPECT_EQ(errno, ENOTEMPTY);
    EXPECT_FALSE(KV_File::rmdir(ks(at("tree/a/b")), false));
    EXPECT_EQ(read_file(at("tree/a/b/f")), "x");
    EXPECT_EQ(read_file(at("tree/g")), "y");
    EXPECT_TRUE(fs::is_symlink(at("tree/a/link")));

    fs::remove(at("tree/a/b/f"));
    EXPECT_TRUE(KV_File::rmdir(ks(at("tree/a/b")), false));
    EXPECT_FALSE(fs::exists(at("tree/a/b")));
    EXPECT_TRUE(fs::exists(at("tree/a")));
    EXPECT_FALSE(KV_File::rmdir(ks(at("none")), false));
}

TEST_F(KV_FileTest, DeleteTakesFilesAndLinksButNeverAFolder)
{
    fs::create_directories(at("tree/a"));
    write_file(at("tree/a/f"), "x");
    fs::create_directories(at("outside"));
    write_file(at("outside/keep"), "keep");
    fs::create_directory_symlink(at("outside"), at("link"));
    write_file(at("file"), "x");

    // A folder stays whole, contents and all.
    errno = 0;
    EXPECT_FALSE(KV_File::del(ks(at("tree")), false));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(read_file(at("tree/a/f")), "x");

    // A link goes, its target stays.
    EXPECT_TRUE(KV_File::del(ks(at("link")), false));
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("link"))));
    EXPECT_EQ(read_file(at("outside/keep")), "keep");

    EXPECT_TRUE(KV_File::del(ks(at("file")), false));
    EXPECT_FALSE(fs::exists(at("file")));
    EXPECT_FALSE(KV_File::del(ks(at("none")), false));
    EXPECT_FALSE(KV_File::del(KV_String(), false));
}

TEST_F(KV_FileTest, NamesAndDrives)
{
    char buf[4096];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    const std::string cwd = buf;
    EXPECT_EQ(KV_File::cwd(), cwd.c_str());

    struct Case
    {
        const char* name;
        std::string full;
    };
    const Case cases[] = {
        {"/a/b/../c", "/a/c"},
        {"/a/./b//c/", "/a/b/c"},
        {"/..", "/"},
        {"/", "/"},
        {"rel/x", (cwd == "/" ? "" : cwd) + "/rel/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KV_File::path_full(c.name, false), c.full.c_str());
        EXPECT_EQ(KV_File::path_full(c.name, true), (c.full + "/").c_str());
    }

    const KV_String a = KV_File::tmp_name();
    const KV_String b = KV_File::tmp_name();
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.data(0), '/');
    EXPECT_NE(a, b);
    EXPECT_FALSE(KV_File::exists(a));

    KVTL::KV_ListVal<KV_String> drives;
    drives.add("x");
    EXPECT_TRUE(KV_File::get_drives(drives));
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives.at(1), "/");
    drives.clear();
}

// ---- the trash

// Points the trash into the test's folder for the test's length.
class KV_TrashTest : public KV_FileTest
{
protected:
    void SetUp() override
    {
        KV_FileTest::SetUp();
        const char* old = std::getenv("XDG_DATA_HOME");
        if (old != nullptr) {
            saved = old;
        }
        data = at("data");
        setenv("XDG_DATA_HOME", data.c_str(), 1);
    }
    void TearDown() override
    {
        if (saved) {
            setenv("XDG_DATA_HOME", saved->c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
    }
    std::string trash(const std::string& rest) const { return data + "/Trash/" + rest; }

    // The description must be these lines exactly, with a local time.
    static void expect_info(const std::string& info, const std::string& escaped_path)
    {
        const std::string head = "[Trash Info]\nPath=" + escaped_path + "\nDeletionDate=";
        ASSERT_EQ(info.substr(0, head.size()), head);
        EXPECT_TRUE(std::regex_match(info.substr(head.size()),
                                     std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
            << info;
    }

    std::optional<std::string> saved;
    std::string data;
};

TEST_F(KV_TrashTest, FileGoesToTrashWithDescription)
{
    const std::string name = "my file \xC3\xA9.txt";
    write_file(at(name), "contents");
    ASSERT_TRUE(KV_File::del(ks(at(name)), true));
    EXPECT_FALSE(fs::exists(at(name)));
    EXPECT_EQ(read_file(trash("files/" + name)), "contents");
    expect_info(read_file(trash("info/" + name + ".trashinfo")), dir / "my%20file%20%C3%A9.txt");

    // The folders it made are private.
    struct stat st;
    ASSERT_EQ(stat(trash("files").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(KV_TrashTest, FolderTreeGoesWhole)
{
    fs::create_directories(at("tree/sub"));
    write_file(at("tree/sub/f"), "deep");
    fs::create_symlink("sub/f", at("tree/link"));
    ASSERT_TRUE(KV_File::rmdir(ks(at("tree")), true));
    EXPECT_FALSE(fs::exists(at("tree")));
    EXPECT_EQ(read_file(trash("files/tree/sub/f")), "deep");
    EXPECT_TRUE(fs::is_symlink(trash("files/tree/link")));
    expect_info(read_file(trash("info/tree.trashinfo")), dir / "tree");

    // A relative name is described by its absolute path.
    fs::create_directories(at("rel"));
    write_file(at("rel/r.txt"), "r");
    const fs::path old = fs::current_path();
    fs::current_path(at("rel"));
    const std::string here = fs::current_path().string();
    const bool ok = KV_File::del("./r.txt", true);
    fs::current_path(old);
    ASSERT_TRUE(ok);
    expect_info(read_file(trash("info/r.txt.trashinfo")), here + "/r.txt");
}

TEST_F(KV_TrashTest, NamesTakenGetNumbers)
{
    const char* folders[] = {"one", "two", "three"};
    for (const char* folder : folders) {
        fs::create_directories(at(folder));
        write_file(at(std::string(folder) + "/a.txt"), folder);
        ASSERT_TRUE(KV_File::del(ks(at(std::string(folder) + "/a.txt")), true)) << folder;
    }
    // A stray item without a description is not replaced either.
    write_file(trash("files/b"), "stray");
    write_file(at("b"), "mine");
    ASSERT_TRUE(KV_File::del(ks(at("b")), true));

    struct Expect
    {
        const char* entry;
        const char* contents;
        std::string origin;
    };
    const Expect expects[] = {
        {"a.txt", "one", dir / "one/a.txt"},
        {"a.2.txt", "two", dir / "two/a.txt"},
        {"a.3.txt", "three", dir / "three/a.txt"},
        {"b.2", "mine", dir / "b"},
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.entry);
        EXPECT_EQ(read_file(trash(std::string("files/") + e.entry)), e.contents);
        expect_info(read_file(trash(std::string("info/") + e.entry + ".trashinfo")), e.origin);
    }
    EXPECT_EQ(read_file(trash("files/b")), "stray");
    EXPECT_FALSE(fs::exists(trash("info/b.trashinfo")));
}

TEST_F(KV_TrashTest, RefusalsLeaveNoTrace)
{
    write_file(at("f"), "x");
    EXPECT_FALSE(KV_File::rmdir(ks(at("f")), true)); // not a folder
    EXPECT_TRUE(fs::exists(at("f")));
    EXPECT_FALSE(KV_File::del(ks(at("none")), true));
    EXPECT_FALSE(KV_File::del(ks(data), true)); // holds the trash itself
    EXPECT_TRUE(fs::exists(at("f")));
    if (fs::exists(trash("info"))) {
        EXPECT_TRUE(fs::is_empty(trash("info")));
    }
}

TEST_F(KV_TrashTest, OtherFileSystemIsCopiedThenRemoved)
{
    // /dev/shm is a tmpfs on most systems; when it shares the test folder's
    // file system there is nothing to cross.
    struct stat here;
    struct stat shm;
    if (stat(dir.c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev ||
        access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    }
    const kvtest::TempDir other("kv_trash_test", "/dev/shm");
    ASSERT_TRUE(other.ok());
    const std::string item = other / "tree";
    fs::create_directories(item + "/sub");
    write_file(item + "/sub/f", pattern(100000));
    fs::permissions(item + "/sub/f", fs::perms::owner_read);
    fs::create_symlink("sub/f", item + "/link");

    ASSERT_TRUE(KV_File::del(ks(item), true));
    EXPECT_FALSE(fs::exists(item));
    EXPECT_EQ(read_file(trash("files/tree/sub/f")), pattern(100000));
    EXPECT_EQ(fs::status(trash("files/tree/sub/f")).permissions() & fs::perms::all,
              fs::perms::owner_read);
    EXPECT_EQ(fs::read_symlink(trash("files/tree/link")), "sub/f");
    expect_info(read_file(trash("info/tree.trashinfo")), item);
}

// ---- the well-known folder table

TEST(KV_FilePathTable, TrimsAndAppendsOneSeparator)
{
    const KV_String saved = KV_File::path(KV_PATH_DATA, false);
    struct Case
    {
        const char* value;
        const char* stored;
    };
    const Case cases[] = {
        {"/home/u/.local/share/kivrel", "/home/u/.local/share/kivrel"},
        {"/srv/data//", "/srv/data"},
        {"/srv/data\\/\\", "/srv/data"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_TRUE(KV_File::set_path(KV_PATH_DATA, c.value));
        EXPECT_EQ(KV_File::path(KV_PATH_DATA, false), c.stored);
        EXPECT_EQ(KV_File::path(KV_PATH_DATA, true), std::string(c.stored).append("/").c_str());
    }
    EXPECT_FALSE(KV_File::set_path(static_cast<KV_PATH_TYPE>(KV_PATH_COUNT), "/x"));
    EXPECT_EQ(KV_File::path(static_cast<KV_PATH_TYPE>(KV_PATH_COUNT), false), "");
    EXPECT_EQ(KV_File::path(static_cast<KV_PATH_TYPE>(KV_PATH_COUNT), true), "/");
    EXPECT_TRUE(KV_File::set_path(KV_PATH_DATA, saved));
}

} // namespace
