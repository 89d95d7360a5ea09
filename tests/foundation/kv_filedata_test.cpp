#include "foundation/kv_filedata.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kv_storage.h"
#include "support/kv_testdir.h"

namespace {

KV_FileData file(const char* name, int64_t size = 0)
{
    KV_FileData fd(name, KV_String(), size, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    return fd;
}

KV_FileData folder(const char* name)
{
    return KV_FileData(name, true);
}

int sgn(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

std::vector<std::string> sorted_names(std::vector<KV_FileData> v, KV_SORT_FD key, bool desc)
{
    std::stable_sort(v.begin(), v.end(), [&](const KV_FileData& a, const KV_FileData& b) {
        return a.compare(b, key, desc) < 0;
    });
    std::vector<std::string> names;
    for (const auto& fd : v) {
        names.emplace_back(fd.name().data());
    }
    return names;
}

} // namespace

TEST(KV_FileData, SortsFoldersFirstDotsFirstAndIgnoresCase)
{
    std::vector<KV_FileData> v = {file("b"),   folder(".."), folder("a"),      file("A"),
                                  folder("."), folder("Z"),  file("\xC3\xA9"), file("z")};
    // "\xC3\xA9" (UTF-8 e-acute) is not case-mapped and sorts after ASCII.
    std::vector<std::string> asc = {".", "..", "a", "Z", "A", "b", "z", "\xC3\xA9"};
    EXPECT_EQ(sorted_names(v, KV_SORT_FD_NAME, false), asc);
    std::vector<std::string> desc(asc.rbegin(), asc.rend());
    EXPECT_EQ(sorted_names(v, KV_SORT_FD_NAME, true), desc);
}

TEST(KV_FileData, CompareTable)
{
    KV_FileData t_early("x", "zzz", 0, KV_Time(100000L));
    KV_FileData t_late("w", "aaa", 0, KV_Time(200000L));
    KV_FileData t_raw_a("v", "2001", 0, KV_Time());
    KV_FileData t_raw_b("u", "1999", 0, KV_Time());
    KV_FileDataExt ext_a("n1", "", 0, "rw", "bob", "staff", KV_Time());
    KV_FileDataExt ext_b("n2", "", 0, "Rw", "alice", "wheel", KV_Time());
    KV_FileDataExt ext_c("N0", "", 0, "rw", "bob", "staff", KV_Time());
    KV_FileData size_only_on_req("s", KV_String(), 99, KV_Time());
    size_only_on_req.set_fd_flags(KV_FD_SIZE_ONREQ, 0);

    struct Case
    {
        const char* what;
        const KV_FileData& a;
        const KV_FileData& b;
        KV_SORT_FD key;
        bool desc;
        int want;
    };
    KV_FileData big = file("a", 5000000000LL);
    KV_FileData small = file("b", 10);
    KV_FileData same1 = file("B", 7);
    KV_FileData same2 = file("a", 7);
    KV_FileData dir_a = folder("a");
    KV_FileData dots = folder("..");
    KV_FileData dot = folder(".");
    KV_FileData ext_txt = file("a.TXT");
    KV_FileData ext_doc = file("b.doc");
    KV_FileData noext = file("zz");
    const Case cases[] = {
        {"64-bit sizes compare as numbers", big, small, KV_SORT_FD_SIZE, false, 1},
        {"size descending", big, small, KV_SORT_FD_SIZE, true, -1},
        {"equal sizes fall back to names", same1, same2, KV_SORT_FD_SIZE, false, 1},
        {"invalid size counts as 0", size_only_on_req, small, KV_SORT_FD_SIZE, false, -1},
        {"folder before file whatever the key", dir_a, big, KV_SORT_FD_SIZE, false, -1},
        {"descending puts files before folders", dir_a, big, KV_SORT_FD_SIZE, true, 1},
        {".. before other folders", dots, dir_a, KV_SORT_FD_NAME, false, -1},
        {".. last when descending", dots, dir_a, KV_SORT_FD_NAME, true, 1},
        {". before .. by name", dot, dots, KV_SORT_FD_NAME, false, -1},
        {".. is not special among files", file(".."), file("a"), KV_SORT_FD_NAME, false, -1},
        {"valid times compare as times", t_early, t_late, KV_SORT_FD_TIME, false, -1},
        {"one time invalid: raw texts", t_late, t_raw_b, KV_SORT_FD_TIME, false, 1},
        {"raw texts byte by byte", t_raw_a, t_raw_b, KV_SORT_FD_TIME, false, 1},
        {"extension ignores case", ext_txt, ext_doc, KV_SORT_FD_EXT, false, 1},
        {"no extension sorts first", noext, ext_doc, KV_SORT_FD_EXT, false, -1},
        {"key 3 on plain entries is the name", file("a"), file("B"), KV_SORT_FD_ACCF, false, -1},
        {"access text is case-sensitive", ext_a, ext_b, KV_SORT_FD_ACCF, false, 1},
        {"owner compared", ext_a, ext_b, KV_SORT_FD_USER, false, 1},
        {"group compared, descending", ext_a, ext_b, KV_SORT_FD_GROUP, true, 1},
        {"equal texts fall back to names", ext_a, ext_c, KV_SORT_FD_USER, false, 1},
        {"ext against plain is the base compare", ext_a, file("m"), KV_SORT_FD_ACCF, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(sgn(c.a.compare(c.b, c.key, c.desc)), c.want);
        EXPECT_EQ(sgn(c.b.compare(c.a, c.key, c.desc)), -c.want);
    }
}

TEST(KV_FileData, FlagsAndSizes)
{
    KV_FileData fd("f", KV_String(), 42, KV_Time());
    EXPECT_EQ(fd.flags(), 0);
    EXPECT_FALSE(fd.valid_size(false));
    EXPECT_EQ(fd.size(true), 0);

    fd.set_fd_flags(KV_FD_SIZE_ONREQ | KV_FD_MULTIFRAG, 0);
    EXPECT_EQ(fd.size(false), 0);
    EXPECT_EQ(fd.size(true), 42);
    EXPECT_FALSE(fd.multifrag()) << "the size is not valid yet";

    fd.set_fd_flags(KV_FD_SIZE, KV_FD_SIZE_ONREQ);
    EXPECT_EQ(fd.flags(), KV_FD_SIZE | KV_FD_MULTIFRAG);
    EXPECT_TRUE(fd.multifrag());
    fd.set_size(0);
    EXPECT_FALSE(fd.multifrag());

    EXPECT_TRUE(KV_FileData("d", true).is_dir());
    KV_FileData bad("x");
    bad.set_fd_flags(KV_FD_INVALID, 0);
    EXPECT_FALSE(bad.valid_file());
}

TEST(KV_FileData, CmpSize)
{
    KV_FileData a = file("a", 10);
    KV_FileData b = file("b", 10);
    KV_FileData c = file("c", 11);
    KV_FileData unknown("u", KV_String(), 10, KV_Time());
    EXPECT_TRUE(a.cmp_size(b, true));
    EXPECT_FALSE(a.cmp_size(c, true));
    EXPECT_FALSE(a.cmp_size(c, false));
    EXPECT_TRUE(a.cmp_size(unknown, false));
    EXPECT_FALSE(a.cmp_size(unknown, true));
}

TEST(KV_FileData, Fext)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a.tar.gz", "gz"}, {"README", ""}, {".profile", "profile"}, {"trail.", ""}, {"", ""}};
    for (const auto& [name, want] : cases) {
        SCOPED_TRACE(name);
        EXPECT_STREQ(KV_FileData(name).fext().data(), want);
    }
}

TEST(KV_FileData, EqualityAndAssignmentAcrossKinds)
{
    KV_FileDataExt ext("n", "t", 5, "rw", "u", "g", KV_Time());
    KV_FileData plain("n", "t", 5, KV_Time());
    EXPECT_TRUE(ext == plain) << "a plain entry has no texts to compare";
    EXPECT_TRUE(plain == ext);
    KV_FileDataExt other = ext;
    other.set_accf("r");
    EXPECT_FALSE(ext == other);

    // From a plain entry the texts stay as they were.
    KV_FileData renamed("m", "t2", 7, KV_Time());
    other = static_cast<const KV_FileData&>(renamed);
    EXPECT_STREQ(other.name().data(), "m");
    EXPECT_STREQ(other.accf().data(), "r");
    EXPECT_STREQ(other.user().data(), "u");

    KV_FileData* c = ext.clone();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->type(), KV_FD_DATA_EXT);
    EXPECT_TRUE(*c == ext);
    KV_FileData::destr_clone(c);
    KV_FileData::destr_clone(nullptr);

    // The size compares only where it is valid.
    KV_FileData s1("n", "t", 1, KV_Time());
    KV_FileData s2("n", "t", 2, KV_Time());
    EXPECT_TRUE(s1 == s2);
    s1.set_fd_flags(KV_FD_SIZE, 0);
    s2.set_fd_flags(KV_FD_SIZE, 0);
    EXPECT_FALSE(s1 == s2);
}

TEST(KV_FileData, DisplayTime)
{
    KV_String saved = KV_FileData::tm_form_disp();
    EXPECT_STREQ(saved.data(), "%c");
    KV_FileData::set_tm_form_disp("%Y");
    KV_FileData fd("f", "raw", 0, KV_Time(1000000000L)); // 2001
    EXPECT_STREQ(fd.tm_disp().data(), "2001");
    KV_FileData::set_tm_form_disp(saved);

    KV_FileData untimed("f", "raw text", 0, KV_Time());
    EXPECT_STREQ(untimed.tm_disp().data(), "raw text");
}

TEST(KV_FileData, NotEmptyHook)
{
    KV_FileData d("d", true);
    d.update_nempty("/x");
    EXPECT_FALSE(d.not_empty()) << "no hook installed";
    KV_FileData::set_impl_dir_nempty([](const KV_String& path) { return path == "/full"; });
    d.update_nempty("/empty");
    EXPECT_FALSE(d.not_empty());
    d.update_nempty("/full");
    EXPECT_TRUE(d.not_empty());
    KV_FileData::set_impl_dir_nempty(nullptr);
}

TEST(KV_FileDataBin, ExactBytesAndRoundTrip)
{
    KV_FileData fd("ab", "t", 0x123456789LL, KV_Time(100000L));
    fd.set_fd_flags(KV_FD_SIZE | KV_FD_TIME, 0);
    KV_Stream st;
    ASSERT_TRUE(fd.write_bin(st));
    const unsigned char want[] = {2,    0,    0,    0,    'a',  0, 'b', 0, // name
                                  1,    0,    0,    0,    't',  0,         // raw time
                                  0x89, 0x67, 0x45, 0x23, 0x01, 0, 0,   0, // size
                                  0x30};                                   // flags
    ASSERT_EQ(st.length(), sizeof(want));
    EXPECT_EQ(0, memcmp(static_cast<const unsigned char*>(st), want, sizeof(want)));

    KV_FileData back;
    ASSERT_TRUE(back.read_bin(st));
    EXPECT_TRUE(back == fd);
    EXPECT_EQ(back.size(false), 0x123456789LL);
    EXPECT_FALSE(back.tm().valid());
    EXPECT_STREQ(back.tm_disp().data(), "t");
}

TEST(KV_FileDataBin, TruncatedRecordLeavesEntryUntouched)
{
    KV_FileDataExt src("name", "time", 77, "", "", "", KV_Time());
    src.set_fd_flags(KV_FD_SIZE, 0);
    KV_Stream whole;
    ASSERT_TRUE(src.write_bin(whole));
    for (uint32_t cut = 0; cut < whole.length(); ++cut) {
        SCOPED_TRACE(cut);
        KV_Stream part;
        part.append(static_cast<const unsigned char*>(whole), cut);
        KV_FileData target("keep", "me", 5, KV_Time());
        EXPECT_FALSE(target.read_bin(part));
        EXPECT_STREQ(target.name().data(), "keep");
        EXPECT_STREQ(target.time().data(), "me");
    }
    // A name count of four thousand million with nothing behind it.
    const unsigned char huge[] = {0xFF, 0xFF, 0xFF, 0xFF, 'a', 0};
    KV_Stream lie;
    lie.append(huge, sizeof(huge));
    KV_FileData target;
    EXPECT_FALSE(target.read_bin(lie));
}

// ------------------------------------------------------------------ KV_FileFind

class KV_FileFindTest : public kvtest::TempDirTest
{
protected:
    void touch(const std::string& name, const std::string& content = "")
    {
        ASSERT_TRUE(kvtest::write_file(dir / name, content));
    }
    std::map<std::string, KV_FileDataExt> list(const std::string& pattern)
    {
        std::map<std::string, KV_FileDataExt> out;
        KV_FileFind ff;
        if (!ff.begin((dir / pattern).c_str())) {
            EXPECT_TRUE(ff.end());
            return out;
        }
        while (!ff.end()) {
            const KV_FileDataExt& e = ff.get();
            out[e.name().data()] = e;
        }
        return out;
    }
};

TEST_F(KV_FileFindTest, StarDotStarListsEveryEntry)
{
    touch("plain", "12345");
    touch("a.txt");
    touch(".hidden");
    touch("locked");
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0444), 0);
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);

    auto all = list("*.*");
    std::vector<std::string> names;
    for (const auto& [n, e] : all) {
        names.push_back(n);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{".", "..", ".hidden", "a.txt", "locked", "plain", "sub"}));

    const KV_FileDataExt& plain = all["plain"];
    EXPECT_EQ(plain.flags(), KV_FD_ACCF | KV_FD_SIZE | KV_FD_TIME);
    EXPECT_EQ(plain.size(false), 5);
    EXPECT_TRUE(plain.tm().valid());
    EXPECT_STREQ(plain.time().data(), plain.tm().as_str("%c").data());
    EXPECT_STREQ(plain.accf().data(), "");

    EXPECT_EQ(all["sub"].flags(), KV_FD_DIR | KV_FD_ACCF | KV_FD_TIME);
    EXPECT_STREQ(all["locked"].accf().data(), "R");
    EXPECT_STREQ(all[".hidden"].accf().data(), "H");
    EXPECT_STREQ(all[".."].accf().data(), "") << "the way up is not hidden";

    EXPECT_EQ(list("*").size(), all.size());
    auto txt = list("*.txt");
    ASSERT_EQ(txt.size(), 1u);
    EXPECT_EQ(txt.begin()->first, "a.txt");
}

TEST_F(KV_FileFindTest, FilesOver4GiBListWithTheirRealSize)
{
    const int64_t five_gib = 5LL << 30;
    std::string path = dir / "big.bin";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    int rc = ftruncate(fd, five_gib); // sparse: takes no disk space
    close(fd);
    if (rc != 0) {
        GTEST_SKIP() << "the file system here cannot hold a sparse 5 GiB file";
    }
    auto all = list("*.bin");
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all["big.bin"].size(false), five_gib);
}

TEST_F(KV_FileFindTest, SearchEndsAndRestarts)
{
    touch("one");
    KV_FileFind ff;
    EXPECT_TRUE(ff.end());
    EXPECT_STREQ(ff.get().name().data(), "") << "no search open gives an empty entry";
    ASSERT_TRUE(ff.begin((dir / "one").c_str()));
    EXPECT_STREQ(ff.get().name().data(), "one");
    EXPECT_TRUE(ff.end()) << "closes right after the last match";
    EXPECT_FALSE(ff.begin((dir / "none*").c_str()));
    EXPECT_FALSE(ff.begin((dir / "missing/*.*").c_str()));
    EXPECT_TRUE(ff.end());
    ASSERT_TRUE(ff.begin((dir / "*").c_str()));
    ff.close();
    EXPECT_TRUE(ff.end());
}
