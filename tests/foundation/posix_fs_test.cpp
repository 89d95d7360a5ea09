// The engine's internal file-system steps: renames that never replace, tree
// removal that never follows links, attributes carried over to a copy.
#include "foundation/posix_fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_stoppable.h"
#include "support/kv_testdir.h"

namespace {

namespace fs = std::filesystem;

using kvtest::read_file;
using kvtest::write_file;

using PosixFs = kvtest::TempDirTest;

TEST_F(PosixFs, RemoveTreeNeverFollowsLinks)
{
    fs::create_directories(dir / "outside/sub");
    write_file(dir / "outside/sub/keep", "keep");
    write_file(dir / "outside/file", "file");
    fs::create_directories(dir / "tree/a/b");
    write_file(dir / "tree/a/b/f", "x");
    fs::create_directory_symlink(dir / "outside", dir / "tree/a/to_folder");
    fs::create_symlink(dir / "outside/file", dir / "tree/a/b/to_file");
    fs::create_symlink(dir / "gone", dir / "tree/dangling");

    EXPECT_TRUE(kv_remove_tree((dir / "tree").c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "tree")));
    EXPECT_EQ(read_file(dir / "outside/sub/keep"), "keep");
    EXPECT_EQ(read_file(dir / "outside/file"), "file");

    // A link given as the tree itself goes alone.
    fs::create_directory_symlink(dir / "outside", dir / "link");
    EXPECT_TRUE(kv_remove_tree((dir / "link").c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link")));
    EXPECT_EQ(read_file(dir / "outside/sub/keep"), "keep");

    // A plain file is a tree of one.
    EXPECT_TRUE(kv_remove_tree((dir / "outside/file").c_str()));
    EXPECT_FALSE(fs::exists(dir / "outside/file"));

    errno = 0;
    EXPECT_FALSE(kv_remove_tree((dir / "none").c_str()));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(kv_remove_tree(""));
}

TEST_F(PosixFs, CopyTreeCopiesLinksAsLinks)
{
    fs::create_directories(dir / "outside");
    write_file(dir / "outside/keep", "keep");
    fs::create_directories(dir / "tree/sub");
    write_file(dir / "tree/sub/f", "data");
    fs::permissions(dir / "tree/sub/f", fs::perms::owner_read);
    fs::create_directory_symlink(dir / "outside", dir / "tree/to_folder");
    fs::create_symlink("sub/f", dir / "tree/rel");

    ASSERT_TRUE(kv_copy_tree((dir / "tree").c_str(), (dir / "copy").c_str()));
    EXPECT_EQ(read_file(dir / "copy/sub/f"), "data");
    EXPECT_EQ(fs::status(dir / "copy/sub/f").permissions() & fs::perms::all, fs::perms::owner_read);
    EXPECT_EQ(fs::read_symlink(dir / "copy/to_folder"), dir / "outside");
    EXPECT_EQ(fs::read_symlink(dir / "copy/rel"), "sub/f");

    // Nothing is replaced: an existing name refuses the copy.
    write_file(dir / "taken", "taken");
    EXPECT_FALSE(kv_copy_tree((dir / "outside/keep").c_str(), (dir / "taken").c_str()));
    EXPECT_EQ(read_file(dir / "taken"), "taken");

    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    errno = 0;
    EXPECT_FALSE(kv_copy_tree((dir / "pipe").c_str(), (dir / "pipe2").c_str()));
    EXPECT_EQ(errno, EOPNOTSUPP);
    EXPECT_FALSE(fs::exists(dir / "pipe2"));
}

// A file that another program swaps for a link while the copy runs (the
// trash copies what a person deletes, in folders others may write) is never
// followed: the copy holds the file's bytes, a link, or nothing.
using PosixFs_MT = kvtest::TempDirTest;

TEST_F(PosixFs_MT, CopyTreeNeverFollowsALinkSwappedIn)
{
    write_file(dir / "secret", "secret");
    const std::string src = dir / "src";
    write_file(src, "plain");
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const std::string f = dir / "f.tmp";
        const std::string l = dir / "l.tmp";
        const std::string secret = dir / "secret";
        while (!stop.load()) {
            write_file(f, "plain");
            ::rename(f.c_str(), src.c_str());
            ::symlink(secret.c_str(), l.c_str());
            ::rename(l.c_str(), src.c_str());
        }
    });
    int copies = 0;
    int followed = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end && followed == 0) {
        const std::string dst = dir / ("copy" + std::to_string(copies++));
        if (kv_copy_tree(src.c_str(), dst.c_str()) && !fs::is_symlink(dst) &&
            read_file(dst) != "plain")
            ++followed;
        kv_remove_tree(dst.c_str());
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(followed, 0) << "a link swapped in was followed, in " << copies << " copies";
}

TEST_F(PosixFs, RenameNoReplaceKeepsWhatIsThere)
{
    write_file(dir / "src", "src");
    write_file(dir / "taken", "taken");
    fs::create_symlink(dir / "gone", dir / "dangling");

    // Anything at the destination, even a link to nothing, keeps its name.
    for (const char* dst : {"taken", "dangling"}) {
        SCOPED_TRACE(dst);
        errno = 0;
        EXPECT_FALSE(kv_rename_noreplace((dir / "src").c_str(), (dir / dst).c_str()));
        EXPECT_EQ(errno, EEXIST);
        EXPECT_EQ(read_file(dir / "src"), "src");
    }
    EXPECT_EQ(read_file(dir / "taken"), "taken");
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));

    EXPECT_TRUE(kv_rename_noreplace((dir / "src").c_str(), (dir / "free").c_str()));
    EXPECT_EQ(read_file(dir / "free"), "src");
    EXPECT_FALSE(fs::exists(dir / "src"));
    EXPECT_FALSE(kv_rename_noreplace((dir / "src").c_str(), (dir / "other").c_str()));
}

TEST_F(PosixFs, KeepAttrsCarriesPermissionsAndTimes)
{
    write_file(dir / "orig", "o");
    fs::permissions(dir / "orig", fs::perms::owner_read | fs::perms::group_read);
    struct timespec times[2] = {{1000000000, 0}, {1200000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "orig").c_str(), times, 0), 0);
    struct stat st;
    ASSERT_EQ(lstat((dir / "orig").c_str(), &st), 0);

    write_file(dir / "copy", "o");
    EXPECT_TRUE(kv_keep_attrs((dir / "copy").c_str(), st));
    struct stat got;
    ASSERT_EQ(lstat((dir / "copy").c_str(), &got), 0);
    EXPECT_EQ(got.st_mode & 07777, 0440u);
    EXPECT_EQ(got.st_mtim.tv_sec, 1200000000);

    // A link gets the times of the link it copies, its target nothing.
    fs::create_symlink(dir / "copy", dir / "link");
    struct stat link_st = st;
    link_st.st_mode = S_IFLNK | 0777;
    EXPECT_TRUE(kv_keep_attrs((dir / "link").c_str(), link_st));
    ASSERT_EQ(lstat((dir / "link").c_str(), &got), 0);
    EXPECT_EQ(got.st_mtim.tv_sec, 1200000000);
    ASSERT_EQ(stat((dir / "copy").c_str(), &got), 0);
    EXPECT_EQ(got.st_mode & 07777, 0440u);

    EXPECT_FALSE(kv_keep_attrs((dir / "none").c_str(), st));
}

TEST_F(PosixFs, AFolderBeneathIsReachedAndWrittenWithoutLinks)
{
    fs::create_directories(dir / "outside");
    write_file(dir / "outside/victim", "victim");
    fs::create_directories(dir / "base/a/b");
    fs::create_directory_symlink(dir / "outside", dir / "base/a/link");
    // A link is refused even where it stays inside the base.
    fs::create_directory_symlink("b", dir / "base/a/inner");
    // The base itself is taken as named, a link included.
    fs::create_directory_symlink(dir / "base", dir / "chosen");

    const struct
    {
        const char* what;
        std::vector<const char*> below;
        int err; // 0: opens
    } walks[] = {
        {"the base alone", {}, 0},
        {"folders below", {"a", "b"}, 0},
        {"a link on the way", {"a", "link"}, ENOTDIR},
        {"a link further up", {"a", "link", "x"}, ENOTDIR},
        {"a link to a folder inside", {"a", "inner"}, ENOTDIR},
        {"a link inside, further up", {"a", "inner", "x"}, ENOTDIR},
        {"no such folder", {"a", "none"}, ENOENT},
        {"a name that climbs", {"a", ".."}, EINVAL},
        {"a name with a separator", {"a/b"}, EINVAL},
        {"an empty name", {""}, EINVAL},
    };
    for (const auto& w : walks) {
        SCOPED_TRACE(w.what);
        KV_DirBeneath d;
        errno = 0;
        const bool ok =
            d.open((dir / "chosen").c_str(), w.below.data(), static_cast<uint32_t>(w.below.size()));
        EXPECT_EQ(ok, w.err == 0);
        EXPECT_EQ(d.opened(), ok);
        if (w.err != 0) {
            EXPECT_EQ(errno, w.err);
        }
    }

    KV_DirBeneath d;
    const char* ab[] = {"a", "b"};
    ASSERT_TRUE(d.open((dir / "base").c_str(), ab, 2));
    fs::create_symlink(dir / "outside/victim", dir / "base/a/b/at");
    fs::create_symlink(dir / "outside/made", dir / "base/a/b/dangling");
    // Without `fresh` nothing at the name is written through, nor made.
    for (const char* name : {"at", "dangling"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(d.create(name, false), -1);
        EXPECT_EQ(errno, EEXIST);
    }
    EXPECT_FALSE(fs::exists(dir / "outside/made"));
    // With it, the link goes and a new file takes its place.
    const int fd = d.create("at", true);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, "new", 3), 3);
    ::close(fd);
    EXPECT_FALSE(fs::is_symlink(dir / "base/a/b/at"));
    EXPECT_EQ(read_file(dir / "base/a/b/at"), "new");
    EXPECT_EQ(read_file(dir / "outside/victim"), "victim");
    // A rename replaces a link at the new name itself.
    EXPECT_TRUE(d.rename("at", "dangling"));
    EXPECT_FALSE(fs::is_symlink(dir / "base/a/b/dangling"));
    EXPECT_EQ(read_file(dir / "base/a/b/dangling"), "new");
    EXPECT_FALSE(fs::exists(dir / "outside/made"));
    EXPECT_TRUE(d.remove("dangling"));
    EXPECT_TRUE(d.remove("dangling")) << "nothing there is nothing left";
    EXPECT_TRUE(fs::is_empty(dir / "base/a/b"));
}

TEST_F(PosixFs, AFreshFileReplacesAFileOrLinkButNeverAFolder)
{
    fs::create_directories(dir / "base");
    fs::create_directories(dir / "outside");
    write_file(dir / "outside/victim", "victim");
    KV_DirBeneath d;
    ASSERT_TRUE(d.open((dir / "base").c_str(), nullptr, 0));

    // What an earlier run may have left at a part's name, and what a fresh
    // creation makes of it.
    const struct
    {
        const char* what;
        void (*make)(const fs::path& at, const fs::path& outside);
        int err; // 0: a new empty file takes the name
    } cases[] = {
        {"nothing", [](const fs::path&, const fs::path&) {}, 0},
        {"a file with old bytes",
         [](const fs::path& at, const fs::path&) { write_file(at, "old"); }, 0},
        {"a link to a file outside",
         [](const fs::path& at, const fs::path& o) { fs::create_symlink(o / "victim", at); }, 0},
        {"a dangling link",
         [](const fs::path& at, const fs::path& o) { fs::create_symlink(o / "made", at); }, 0},
        {"a folder", [](const fs::path& at, const fs::path&) { fs::create_directory(at); }, EISDIR},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "p" + std::to_string(i++);
        const fs::path at = dir / ("base/" + name);
        c.make(at, dir / "outside");
        errno = 0;
        const int fd = d.create(name.c_str(), true);
        if (c.err != 0) {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(errno, c.err);
            EXPECT_TRUE(fs::is_directory(fs::symlink_status(at)));
            continue;
        }
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::write(fd, "new", 3), 3);
        ::close(fd);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(at)));
        EXPECT_EQ(read_file(at), "new");
    }
    EXPECT_EQ(read_file(dir / "outside/victim"), "victim");
    EXPECT_FALSE(fs::exists(dir / "outside/made"));
}

} // namespace

namespace {

// Records every progress value it hears.
struct Heard : KV_ProgressMan
{
    std::vector<int64_t> at;
    void progress(int64_t done) override { at.push_back(done); }
};

// Whether `fd` is still an open descriptor.
bool still_open(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST_F(PosixFs, CopyFileToWritesTheWholeFileAndClosesTheTarget)
{
    // Empty, one small piece, and sizes around and past the read piece.
    const size_t sizes[] = {0, 1, 4096, 256 * 1024, 256 * 1024 + 1, 3 * 256 * 1024 + 8315};
    for (const size_t n : sizes) {
        SCOPED_TRACE(n);
        std::string data(n, '\0');
        for (size_t i = 0; i < n; ++i)
            data[i] = static_cast<char>(i * 131 + n);
        write_file(dir / "src", data);
        const int out = ::open((dir / "dst").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(out, 0);
        Heard heard;
        ASSERT_TRUE(kv_copy_file_to((dir / "src").c_str(), out, nullptr, &heard));
        EXPECT_FALSE(still_open(out));
        EXPECT_EQ(read_file(dir / "dst"), data);
        if (n == 0) {
            EXPECT_TRUE(heard.at.empty());
        } else {
            ASSERT_FALSE(heard.at.empty());
            EXPECT_EQ(heard.at.back(), static_cast<int64_t>(n));
        }
    }
}

TEST_F(PosixFs, CopyFileToFailsWithTheReasonAndStillClosesTheTarget)
{
    write_file(dir / "src", std::string(1000, 'x'));
    KV_Stoppable stopped;
    stopped.stop(KV_STOP_CANCEL);
    struct Case
    {
        const char* what;
        std::string src;
        KV_Stoppable* stop;
        int err;
    } cases[] = {
        {"missing source", dir / "none", nullptr, ENOENT},
        {"source is a folder", dir.path(), nullptr, EISDIR},
        {"stopped", dir / "src", &stopped, ECANCELED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int out = ::open((dir / "dst").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(out, 0);
        errno = 0;
        EXPECT_FALSE(kv_copy_file_to(c.src.c_str(), out, c.stop, nullptr));
        EXPECT_EQ(errno, c.err);
        EXPECT_FALSE(still_open(out));
    }
    // No target at all (its creation failed): the copy fails, errno kept.
    errno = EEXIST;
    EXPECT_FALSE(kv_copy_file_to((dir / "src").c_str(), -1, nullptr, nullptr));
    EXPECT_EQ(errno, EEXIST);
}

} // namespace
