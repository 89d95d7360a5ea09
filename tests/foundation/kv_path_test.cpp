#include "foundation/kv_path.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/kv_storage.h"

namespace {

using Entries = std::vector<std::string>;

KV_PathDef make_path(const Entries& entries, bool root)
{
    KV_PathDef p;
    p.set_root_entry(root);
    for (const std::string& e : entries)
        EXPECT_TRUE(p.append(KV_String(e.c_str())));
    return p;
}

Entries entries_of(const KV_PathDef& p)
{
    Entries out;
    for (uint32_t i = 0; i < p.entries(); ++i)
        out.emplace_back(p.at(i).data(), p.at(i).length());
    return out;
}

std::vector<uint8_t> bytes_of(const KV_Stream& st)
{
    const unsigned char* b = st;
    return b ? std::vector<uint8_t>(b, b + st.length()) : std::vector<uint8_t>();
}

// ------------------------------------------------------------------ split_path

struct SplitCase
{
    char dir_sep;
    char par_sep;
    const char* text;
    Entries expected;
};

TEST(KvPathManSplit, SplitsAtSeparatorsBeforeTheParameters)
{
    const SplitCase cases[] = {
        {'/', 0, "", {}},
        {'/', 0, "abc", {"abc"}},
        {'/', 0, "/", {"/"}},
        {'/', 0, "/pub/dir/", {"/", "pub", "dir"}},
        {'/', 0, "a//b", {"a", "/", "b"}},
        {'/', 0, "//", {"/", "/"}},
        {'\\', 0, "D:\\x\\y.txt", {"D:", "x", "y.txt"}},
        {'|', 0, "Kivrel|Http|Web", {"Kivrel", "Http", "Web"}},
        // Separators inside the parameters never split, however far the
        // splitting has gone before reaching them.
        {'/', '?', "aaaa/b?c/d", {"aaaa", "b?c/d"}},
        {'/', '?', "a/b/c?x/y/z", {"a", "b", "c?x/y/z"}},
        {'/', '?', "?/a", {"?/a"}},
        {'/', '?', "/a/b?", {"/", "a", "b?"}},
        {'/', '?', "a/b/", {"a", "b"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(std::string("text '") + c.text + "' sep " + c.dir_sep);
        KV_PathMan man(c.dir_sep);
        man.set_par_sep(c.par_sep);
        KV_PathDef out = make_path({"old", "entries"}, false);
        ASSERT_TRUE(man.split_path(KV_String(c.text), out, true));
        EXPECT_TRUE(out.root_entry());
        EXPECT_EQ(entries_of(out), c.expected);

        ASSERT_TRUE(man.split_path(KV_String(c.text), out, false));
        EXPECT_FALSE(out.root_entry());
        EXPECT_EQ(entries_of(out), c.expected);
    }
}

TEST(KvPathManSplit, TextMayBeAnEntryOfTheOutput)
{
    KV_PathMan man('/');
    KV_PathDef p = make_path({"x/y/z"}, false);
    ASSERT_TRUE(man.split_path(p.at(0), p, true));
    EXPECT_EQ(entries_of(p), (Entries{"x", "y", "z"}));
}

// ------------------------------------------------------------------ build_path

struct BuildCase
{
    const char* what;
    char dir_sep;
    const char* dir_pre;
    Entries entries;
    bool root;
    bool with_pre;
    uint32_t nabbrev;
    const char* expected;
};

TEST(KvPathManBuild, FollowsPrefixAbbreviationAndSeparatorRules)
{
    // clang-format off
    const BuildCase cases[] = {
        {"empty path", '/', "", {}, true, true, 0, ""},
        {"empty entries skipped", '/', "", {"", "a", "", "b"}, false, false, 0, "a/b"},
        {"root separator not doubled", '/', "", {"/", "pub", "f"}, true, false, 0, "/pub/f"},
        {"drive", '\\', "", {"D:", "x", "y.txt"}, true, false, 0, "D:\\x\\y.txt"},
        {"abbreviated", '/', "", {"pub", "dir", "f"}, false, false, 1, ".../dir/f"},
        {"abbreviation skips only non-empty entries", '/', "", {"", "a", "", "b", "c"}, false,
         false, 2, ".../c"},
        {"abbreviation longer than the path", '/', "", {"a"}, false, false, 5, "..."},
        {"prefix put in front", '/', "ftp://host", {"pub", "f"}, false, true, 0,
         "ftp://host/pub/f"},
        {"prefix ending in separator", '/', "ftp://host/", {"pub", "f"}, false, true, 0,
         "ftp://host/pub/f"},
        {"prefix and abbreviation", '/', "Site", {"a", "b", "c"}, false, true, 1, "Site/.../b/c"},
        {"root entry written with prefix flag", '/', "Site", {"Site", "pub"}, true, true, 0,
         "Site/pub"},
        {"root entry left out without prefix flag", '/', "Site", {"Site", "pub"}, true, false, 0,
         "pub"},
        {"root entry skipped before abbreviation", '/', "Site", {"Site", "a", "b"}, true, false,
         1, ".../b"},
        {"no prefix: root kept without prefix flag", '/', "", {"/", "a"}, true, false, 0, "/a"},
        {"relative path without prefix flag", '/', "Site", {"a", "b"}, false, false, 0, "a/b"},
        {"tree separator", '|', "", {"Kivrel", "Http", "Web"}, true, true, 0, "Kivrel|Http|Web"},
    };
    // clang-format on
    for (const BuildCase& c : cases) {
        SCOPED_TRACE(c.what);
        KV_PathMan man(c.dir_sep);
        man.set_dir_pre(KV_String(c.dir_pre));
        const KV_PathDef path = make_path(c.entries, c.root);
        KV_String out("stale text");
        ASSERT_TRUE(man.build_path(out, path, c.with_pre, c.nabbrev));
        EXPECT_STREQ(out.data(), c.expected);
    }
}

TEST(KvPathManBuild, WithNameAppendsItWithoutChangingThePath)
{
    KV_PathMan man('/');
    const KV_PathDef path = make_path({"/", "pub"}, true);
    KV_String out;
    ASSERT_TRUE(man.build_path(out, path, KV_String("f.txt"), false, 0));
    EXPECT_STREQ(out.data(), "/pub/f.txt");
    EXPECT_EQ(entries_of(path), (Entries{"/", "pub"}));

    // An empty name is refused and the output is left alone.
    KV_String kept("kept");
    EXPECT_FALSE(man.build_path(kept, path, KV_String(), false, 0));
    EXPECT_STREQ(kept.data(), "kept");
}

TEST(KvPathManBuild, SplitThenBuildGivesTheTextBack)
{
    KV_PathMan man('/');
    man.set_par_sep('?');
    const char* texts[] = {"/pub/dir/f.txt", "a/b", "/", "/cgi/x?p=/a/b"};
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        KV_PathDef p;
        ASSERT_TRUE(man.split_path(KV_String(t), p, true));
        KV_String out;
        ASSERT_TRUE(man.build_path(out, p, false, 0));
        EXPECT_STREQ(out.data(), t);
    }
}

// ------------------------------------------------------ compl_dir and is_fname

TEST(KvPathMan, ComplDirAndIsFname)
{
    KV_PathMan man('/');
    struct
    {
        const char* in;
        const char* dir;
        bool fname;
    } const cases[] = {
        {"", "", false},   {"dir", "dir/", true}, {"dir/", "dir/", false}, {"dir//", "dir/", false},
        {"/", "/", false}, {"///", "/", false},   {"a/b", "a/b/", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_STREQ(man.compl_dir(KV_String(c.in)).data(), c.dir);
        EXPECT_EQ(man.is_fname(KV_String(c.in)), c.fname);
    }
}

TEST(KvPathMan, DefaultsAndCopy)
{
    KV_PathMan def;
    EXPECT_EQ(def.dir_sep(), '\\');
    EXPECT_EQ(def.par_sep(), 0);
    EXPECT_TRUE(def.case_sens());
    EXPECT_TRUE(def.dir_pre().empty());

    KV_PathMan man('/');
    man.set_case_sens(false);
    man.set_par_sep('?');
    man.set_dir_pre(KV_String("Site"));
    KV_PathMan copy(man);
    def = man;
    for (const KV_PathMan* m : {&copy, &def}) {
        EXPECT_EQ(m->dir_sep(), '/');
        EXPECT_EQ(m->par_sep(), '?');
        EXPECT_FALSE(m->case_sens());
        EXPECT_STREQ(m->dir_pre().data(), "Site");
    }
}

// -------------------------------------------------------------------- validate

TEST(KvPathDef, ValidateResolvesDotsWithoutClimbingOut)
{
    struct
    {
        Entries in;
        bool root;
        bool valid;
        Entries out;
    } const cases[] = {
        {{"a", "b", ".."}, false, true, {"a"}},
        {{"a", ".."}, false, false, {"a", ".."}},
        {{"a", "..", "b"}, false, false, {"a", "..", "b"}},
        {{"a", ".", "b", "."}, false, true, {"a", "b"}},
        {{"a", "b", "c", "..", "..", "d"}, false, true, {"a", "d"}},
        // The "." goes first, and then the ".." would climb out.
        {{"a", ".", ".."}, false, false, {"a", ".."}},
        {{"a", "b", ".", ".."}, false, true, {"a"}},
        {{"."}, false, false, {}},
        {{}, false, false, {}},
        {{"/", "a", "b", "..", "c"}, true, true, {"/", "a", "c"}},
        {{"/", "a", ".."}, true, false, {"/", "a", ".."}},
        {{"/"}, true, false, {"/"}},
        // The root entry is not an ordinary entry: it is never resolved.
        {{".", "a"}, true, true, {".", "a"}},
        {{"...", "a.."}, false, true, {"...", "a.."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        KV_PathDef p = make_path(c.in, c.root);
        EXPECT_EQ(p.validate(), c.valid);
        EXPECT_EQ(entries_of(p), c.out);
    }
}

// ------------------------------------------------------------------- is_parent

TEST(KvPathDef, IsParentAndChildName)
{
    struct
    {
        Entries parent;
        Entries other;
        bool case_sens;
        bool result;
        const char* child; // expected child, or the untouched marker
    } const cases[] = {
        {{}, {"a"}, true, true, "a"},
        {{}, {}, true, true, "<untouched>"},
        {{"a"}, {"a"}, true, true, "<untouched>"},
        {{"a"}, {"a", "b", "c"}, true, true, "b"},
        {{"PUB"}, {"pub", "x"}, false, true, "x"},
        {{"PUB"}, {"pub", "x"}, true, false, "<untouched>"},
        {{"a", "b"}, {"a"}, true, false, "<untouched>"},
        {{"a", "c"}, {"a", "b", "d"}, true, false, "<untouched>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.parent) + " in " +
                     ::testing::PrintToString(c.other));
        const KV_PathDef parent = make_path(c.parent, false);
        const KV_PathDef other = make_path(c.other, false);
        KV_String child("<untouched>");
        EXPECT_EQ(parent.is_parent(other, c.case_sens, &child), c.result);
        EXPECT_STREQ(child.data(), c.child);
        EXPECT_EQ(parent.is_parent(other, c.case_sens), c.result);
    }
}

// ---------------------------------------------------------------------- adjust

TEST(KvPathDef, AdjustTakesTheOthersRootForm)
{
    struct
    {
        const char* what;
        Entries in;
        bool root;
        bool other_root;
        const char* prefix;
        bool result;
        Entries out;
    } const cases[] = {
        {"same form", {"a"}, false, false, "Site", true, {"a"}},
        {"becomes rooted", {"a"}, false, true, "Site", true, {"Site", "a"}},
        {"becomes rooted, no prefix", {"a"}, false, true, "", true, {"a"}},
        {"becomes relative", {"Site", "a"}, true, false, "Site", true, {"a"}},
        {"becomes relative, root differs in case",
         {"site", "a"},
         true,
         false,
         "Site",
         false,
         {"site", "a"}},
        {"becomes relative, empty path", {}, true, false, "Site", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KV_PathDef p = make_path(c.in, c.root);
        const KV_PathDef other = make_path({"x"}, c.other_root);
        EXPECT_EQ(p.adjust(other, KV_String(c.prefix)), c.result);
        EXPECT_EQ(p.root_entry(), c.other_root);
        EXPECT_EQ(entries_of(p), c.out);
    }
}

// ------------------------------------------------ comparisons and accessors

TEST(KvPathDef, ComparisonsIgnoreTheRootFlag)
{
    const KV_PathDef a = make_path({"a", "b"}, true);
    const KV_PathDef a_rel = make_path({"a", "b"}, false);
    const KV_PathDef a_upper = make_path({"A", "b"}, false);
    const KV_PathDef ac = make_path({"a", "c"}, true);
    const KV_PathDef z = make_path({"z"}, true);

    EXPECT_TRUE(a == a_rel);
    EXPECT_FALSE(a == a_upper);
    EXPECT_TRUE(a.is_equal(a_upper, false));
    EXPECT_FALSE(a.is_equal(a_upper, true));
    EXPECT_FALSE(a.is_equal(z, false));

    // Fewer entries first, then the first differing pair.
    EXPECT_TRUE(z < a);
    EXPECT_FALSE(a < z);
    EXPECT_TRUE(a < ac);
    EXPECT_FALSE(ac < a);
    EXPECT_FALSE(a < a_rel);
    EXPECT_TRUE(a_upper < a);
}

TEST(KvPathDef, AccessorsAndEditing)
{
    KV_PathDef p;
    EXPECT_TRUE(p.root_entry());
    EXPECT_TRUE(p.empty());
    EXPECT_TRUE(p.first().empty());
    EXPECT_TRUE(p.last().empty());
    EXPECT_TRUE(p.remove_last());

    ASSERT_TRUE(p.append(KV_String("pub")));
    EXPECT_EQ(p.first_ind(), 1u);
    EXPECT_TRUE(p.first().empty()); // only the root entry is there
    ASSERT_TRUE(p.prepend(KV_String("/")));
    ASSERT_TRUE(p.append(KV_String("f")));
    EXPECT_EQ(entries_of(p), (Entries{"/", "pub", "f"}));
    EXPECT_STREQ(p.first().data(), "pub");
    EXPECT_STREQ(p.last().data(), "f");
    EXPECT_TRUE(p.at(3).empty());
    EXPECT_EQ(p.list().size(), 3u);

    ASSERT_TRUE(p.remove_last());
    EXPECT_STREQ(p.last().data(), "pub");

    p.set_root_entry(false);
    EXPECT_EQ(p.first_ind(), 0u);
    EXPECT_STREQ(p.first().data(), "/");

    p.clear();
    EXPECT_TRUE(p.empty());
    EXPECT_FALSE(p.root_entry());
}

TEST(KvPathDef, CopiesKeepEntriesAndFlags)
{
    const KV_PathDef src = make_path({"a", "b"}, false);
    KV_PathDef copy(src);
    EXPECT_EQ(entries_of(copy), (Entries{"a", "b"}));
    EXPECT_FALSE(copy.root_entry());

    KV_PathDef assigned = make_path({"x", "y", "z"}, true);
    ASSERT_TRUE(assigned = src);
    EXPECT_EQ(entries_of(assigned), (Entries{"a", "b"}));
    EXPECT_FALSE(assigned.root_entry());

    KV_PathDef& self = assigned;
    ASSERT_TRUE(assigned = self);
    EXPECT_EQ(entries_of(assigned), (Entries{"a", "b"}));

    KV_PathDefDir dir(src, true);
    KV_PathDefDir file(make_path({"a", "b"}, true), false);
    EXPECT_TRUE(dir.is_dir());
    EXPECT_FALSE(dir.is_equal(file, true));
    KV_PathDefDir dir_copy(dir);
    EXPECT_TRUE(dir_copy.is_equal(dir, true));
    ASSERT_TRUE(file = dir);
    EXPECT_TRUE(file.is_dir());
    EXPECT_FALSE(file.root_entry());
    EXPECT_TRUE(file.is_equal(dir, true));
    KV_PathDefDir upper(make_path({"A", "B"}, false), true);
    EXPECT_TRUE(upper.is_equal(dir, false));
    EXPECT_FALSE(upper.is_equal(dir, true));
}

TEST(KvComplPath, BuildsWithItsOwnSyntax)
{
    KV_PathMan man('\\');
    const KV_ComplPath cp(man, make_path({"C:", "tmp", "f.txt"}, true));
    KV_String out;
    ASSERT_TRUE(cp.build_path(out, false, 0));
    EXPECT_STREQ(out.data(), "C:\\tmp\\f.txt");

    KV_ComplPath other(KV_PathMan('/'), make_path({"x"}, false));
    ASSERT_TRUE(other = cp);
    ASSERT_TRUE(other.build_path(out, false, 2));
    EXPECT_STREQ(out.data(), "...\\f.txt");
    EXPECT_EQ(other.man().dir_sep(), '\\');
    EXPECT_TRUE(other.path().root_entry());
}

// ---------------------------------------------------------------- binary form

TEST(KvPathDefBin, StoredFormIsExact)
{
    const KV_PathDef p = make_path({"a", "\xE9"}, true);
    KV_Stream st;
    ASSERT_TRUE(p.write_bin(st));
    const std::vector<uint8_t> expected = {0x01, 0x02, 0x00, 0x00, 0x00,        // root, count
                                           0x01, 0x00, 0x00, 0x00, 0x61, 0x00,  // "a"
                                           0x01, 0x00, 0x00, 0x00, 0xE9, 0xFF}; // E9
    EXPECT_EQ(bytes_of(st), expected);

    KV_PathDef back;
    back.set_root_entry(false);
    ASSERT_TRUE(back.read_bin(st));
    EXPECT_TRUE(back == p);
    EXPECT_TRUE(back.root_entry());
    EXPECT_EQ(st.length(), 0u);
}

TEST(KvPathDefBin, RoundTripKeepsRootFlagAndAddsToPresentEntries)
{
    const KV_PathDef src = make_path({"pub", "", "f"}, false);
    KV_Stream st;
    ASSERT_TRUE(src.write_bin(st));
    KV_PathDef fresh;
    KV_Stream copy(st);
    ASSERT_TRUE(fresh.read_bin(copy));
    EXPECT_TRUE(fresh == src);
    EXPECT_FALSE(fresh.root_entry());

    KV_PathDef present = make_path({"x"}, true);
    ASSERT_TRUE(present.read_bin(st));
    EXPECT_EQ(entries_of(present), (Entries{"x", "pub", "", "f"}));
}

TEST(KvPathDefBin, LongPathReadsBackWithoutSpareRoom)
{
    KV_PathDef src;
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(src.append(KV_String::format_impl("d%d", i)));
    KV_Stream st;
    ASSERT_TRUE(src.write_bin(st));
    KV_PathDef back;
    ASSERT_TRUE(back.read_bin(st));
    EXPECT_TRUE(back == src);
    EXPECT_LE(back.list().capacity(), back.entries() + 4);
}

TEST(KvPathDefBin, ShortReadsFailAtEveryCut)
{
    const KV_PathDef src = make_path({"ab", "c"}, true);
    KV_Stream full;
    ASSERT_TRUE(src.write_bin(full));
    const std::vector<uint8_t> bytes = bytes_of(full);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        KV_Stream st;
        ASSERT_TRUE(st.append(bytes.data(), static_cast<uint32_t>(cut)));
        KV_PathDef p;
        EXPECT_FALSE(p.read_bin(st));
        EXPECT_LE(p.entries(), 2u);
    }
}

TEST(KvPathDefBin, ForgedCountReadsOnlyWhatIsThere)
{
    // Root byte, a count of 0xFFFFFFFF, then one real entry: the read must
    // stop at the end of the data with just that entry, not reserve room for
    // four billion.
    const std::vector<uint8_t> bytes = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                                        0x00, 0x00, 0x00, 0x7A, 0x00};
    KV_Stream st;
    ASSERT_TRUE(st.append(bytes.data(), static_cast<uint32_t>(bytes.size())));
    KV_PathDef p;
    EXPECT_FALSE(p.read_bin(st));
    EXPECT_FALSE(p.root_entry());
    EXPECT_EQ(entries_of(p), (Entries{"z"}));
    EXPECT_LE(p.list().capacity(), 4u);
}

TEST(KvPathDefBin, AnyNonZeroRootByteMeansRoot)
{
    const std::vector<uint8_t> bytes = {0x07, 0x00, 0x00, 0x00, 0x00};
    KV_Stream st;
    ASSERT_TRUE(st.append(bytes.data(), static_cast<uint32_t>(bytes.size())));
    KV_PathDef p;
    p.set_root_entry(false);
    ASSERT_TRUE(p.read_bin(st));
    EXPECT_TRUE(p.root_entry());
    EXPECT_TRUE(p.empty());
}

} // namespace

// A name that a server lists becomes one entry below a folder, or nothing.
TEST(KV_PathDef, EntryNamesStayInTheirFolder)
{
    const struct
    {
        std::string name;
        bool ok;
    } cases[] = {
        {"a.txt", true},
        {"...", true},
        {".hidden", true},
        {"..x", true},
        {"x..", true},
        {"back\\slash", true},
        {"with blank ", true},
        {"\xc3\xa9t\xc3\xa9", true},
        {"", false},
        {".", false},
        {"..", false},
        {"../x", false},
        {"a/b", false},
        {"/etc/x", false},
        {"/", false},
        {"x/", false},
        {std::string("x\0", 2), false},
        {std::string("\0", 1), false},
        {std::string("a.txt\0/../b", 11), false},
        {std::string(".\0", 2), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KV_String k;
        ASSERT_TRUE(k.append(reinterpret_cast<const unsigned char*>(c.name.data()),
                             static_cast<uint32_t>(c.name.size())));
        EXPECT_EQ(KV_PathDef::is_entry_name(k), c.ok);
        EXPECT_EQ(KV_PathDef::is_entry_name(reinterpret_cast<const unsigned char*>(c.name.data()),
                                            static_cast<uint32_t>(c.name.size())),
                  c.ok);
    }
    EXPECT_FALSE(KV_PathDef::is_entry_name(nullptr, 3));
}
