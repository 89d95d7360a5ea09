// The engine's internal file-system steps: renames that never replace, tree
// removal that never follows links, attributes carried over to a copy.
#include "foundation/posix_fs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
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

using PosixFs = kvtest::TempDirTest;

TEST_F(PosixFs, RemoveTreeNeverFollowsLinks)
{
    fs::create_directories(dir / "outside/sub");
    write_all(dir / "outside/sub/keep", "keep");
    write_all(dir / "outside/file", "file");
    fs::create_directories(dir / "tree/a/b");
    write_all(dir / "tree/a/b/f", "x");
    fs::create_directory_symlink(dir / "outside", dir / "tree/a/to_folder");
    fs::create_symlink(dir / "outside/file", dir / "tree/a/b/to_file");
    fs::create_symlink(dir / "gone", dir / "tree/dangling");

    EXPECT_TRUE(kv_remove_tree((dir / "tree").c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "tree")));
    EXPECT_EQ(read_all(dir / "outside/sub/keep"), "keep");
    EXPECT_EQ(read_all(dir / "outside/file"), "file");

    // A link given as the tree itself goes alone.
    fs::create_directory_symlink(dir / "outside", dir / "link");
    EXPECT_TRUE(kv_remove_tree((dir / "link").c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link")));
    EXPECT_EQ(read_all(dir / "outside/sub/keep"), "keep");

    // A plain file is a tree of one.
    EXPECT_TRUE(kv_remove_tree((dir / "outside/file").c_str()));
    EXPECT_FALSE(fs::exists(dir / "outside/file"));

    errno = 0;
    EXPECT_FALSE(kv_remove_tree((dir / "none").c_str()));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(kv_remove_tree(""));
}

TEST_F(PosixFs, RenameNoReplaceKeepsWhatIsThere)
{
    write_all(dir / "src", "src");
    write_all(dir / "taken", "taken");
    fs::create_symlink(dir / "gone", dir / "dangling");

    // Anything at the destination, even a link to nothing, keeps its name.
    for (const char* dst : {"taken", "dangling"}) {
        SCOPED_TRACE(dst);
        errno = 0;
        EXPECT_FALSE(kv_rename_noreplace((dir / "src").c_str(), (dir / dst).c_str()));
        EXPECT_EQ(errno, EEXIST);
        EXPECT_EQ(read_all(dir / "src"), "src");
    }
    EXPECT_EQ(read_all(dir / "taken"), "taken");
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));

    EXPECT_TRUE(kv_rename_noreplace((dir / "src").c_str(), (dir / "free").c_str()));
    EXPECT_EQ(read_all(dir / "free"), "src");
    EXPECT_FALSE(fs::exists(dir / "src"));
    EXPECT_FALSE(kv_rename_noreplace((dir / "src").c_str(), (dir / "other").c_str()));
}

TEST_F(PosixFs, KeepAttrsCarriesPermissionsAndTimes)
{
    write_all(dir / "orig", "o");
    fs::permissions(dir / "orig", fs::perms::owner_read | fs::perms::group_read);
    struct timespec times[2] = {{1000000000, 0}, {1200000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "orig").c_str(), times, 0), 0);
    struct stat st;
    ASSERT_EQ(lstat((dir / "orig").c_str(), &st), 0);

    write_all(dir / "copy", "o");
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

} // namespace
