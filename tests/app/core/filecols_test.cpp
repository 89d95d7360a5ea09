// What a file list shows: the stored column profiles, the sort order of
// column clicks, the type texts and the place of arriving entries.
#include "core/filecols.h"

#include "foundation/kv_time.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(FileColumns, ProfileValuesGiveValidDistinctColumns)
{
    struct Case
    {
        const char* value;
        std::vector<int> columns;
    };
    const Case cases[] = {
        {"06", {0, 6}},
        {"", {0, 1, 2, 3}},
        {"3210", {3, 2, 1, 0}},
        {"0123456", {0, 1, 2, 3, 4, 5, 6}},
        // Digits past the table used to index past it.
        {"79", {0, 1, 2, 3}},
        {"0719", {0, 1}},
        // A column is shown once.
        {"0011", {0, 1}},
        {"x5y", {5}},
        // Non-ASCII digits are no table index.
        {"\xd9\xa3", {0, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ParseFileColumns(QString::fromUtf8(c.value)), c.columns);
    }
    EXPECT_EQ(FormatFileColumns({0, 6, 4}), QStringLiteral("064"));
    EXPECT_EQ(FileColumnsProfileKey(4), QStringLiteral("FileListCols4"));
}

TEST(FileColumns, TableMatchesTheStoredIndexes)
{
    const char* titles[] = {"Name", "Size", "Type", "Time", "Permissions", "User", "Group"};
    const int widths[] = {200, 80, 180, 100, 100, 100, 100};
    for (int i = 0; i < kFileColumnCount; ++i) {
        ASSERT_NE(GetFileColumnDef(i), nullptr);
        EXPECT_STREQ(GetFileColumnDef(i)->title, titles[i]);
        EXPECT_EQ(GetFileColumnDef(i)->width, widths[i]);
    }
    EXPECT_EQ(GetFileColumnDef(-1), nullptr);
    EXPECT_EQ(GetFileColumnDef(7), nullptr);
}

TEST(FileColumns, ClicksToggleTheCurrentKeyAndKeepTheDirection)
{
    CFileSortOrder order;
    struct Step
    {
        int code;
        KV_SORT_FD key;
        bool descending;
    };
    const Step steps[] = {
        {kColSize, KV_SORT_FD_SIZE, false}, {kColSize, KV_SORT_FD_SIZE, true},
        {kColName, KV_SORT_FD_NAME, true},  {kColName, KV_SORT_FD_NAME, false},
        {kColType, KV_SORT_FD_EXT, false},  {kColTime, KV_SORT_FD_TIME, false},
        {kColTime, KV_SORT_FD_TIME, true},  {kColGroup, KV_SORT_FD_GROUP, true},
        {kColUser, KV_SORT_FD_USER, true},  {kColPermissions, KV_SORT_FD_ACCF, true},
    };
    for (const Step& s : steps) {
        order.Click(SortKeyOfColumn(s.code));
        EXPECT_EQ(order.key, s.key) << s.code;
        EXPECT_EQ(order.descending, s.descending) << s.code;
    }
}

TEST(FileColumns, TypeTextFallbacks)
{
    EXPECT_EQ(FileTypeFallback(KV_FileData(KV_String("readme"))), QStringLiteral("File"));
    EXPECT_EQ(FileTypeFallback(KV_FileData(KV_String("a.xyz"))), QStringLiteral(".XYZ File"));
    EXPECT_EQ(FileTypeFallback(KV_FileData(KV_String("dir.d"), true)), QString());
    // A name no MIME type claims gets the fallback.
    EXPECT_EQ(FileTypeText(KV_FileData(KV_String("a.qqzzk"))), QStringLiteral(".QQZZK File"));
}

TEST(FileColumns, EntryTexts)
{
    KV_FileDataExt ext(KV_String("a.txt"), KV_String("Jan 1"), 1234, KV_String("-rw-r--r--"),
                       KV_String("ann"), KV_String("staff"), KV_Time());
    ext.set_fd_flags(KV_FD_SIZE, 0);
    EXPECT_EQ(FileColumnText(ext, kColName), QStringLiteral("a.txt"));
    EXPECT_EQ(FileColumnText(ext, kColSize), QStringLiteral("1234"));
    EXPECT_EQ(FileColumnText(ext, kColPermissions), QStringLiteral("-rw-r--r--"));
    EXPECT_EQ(FileColumnText(ext, kColUser), QStringLiteral("ann"));
    EXPECT_EQ(FileColumnText(ext, kColGroup), QStringLiteral("staff"));
    // No valid time, and a plain entry has no rights.
    EXPECT_EQ(FileColumnText(ext, kColTime), QString());
    const KV_FileData plain(KV_String("b"));
    EXPECT_EQ(FileColumnText(plain, kColSize), QString());
    EXPECT_EQ(FileColumnText(plain, kColPermissions), QString());
    // Names are UTF-8 bytes.
    EXPECT_EQ(FileColumnText(KV_FileData(KV_String("\xC3\xBC")), kColName), QString(QChar(0xFC)));
}

// Entries arrive one at a time and go to their sorted place; entries that
// compare equal keep their arrival order.
TEST(FileColumns, InsertionKeepsArrivalOrderOfEqualEntries)
{
    struct Case
    {
        KV_SORT_FD key;
        bool descending;
        std::vector<std::string> arrival;
        std::vector<std::string> shown;
    };
    // "README" and "readme" compare equal (names ignore case); "..", and
    // folders (ending in "/") come first.
    const Case cases[] = {
        {KV_SORT_FD_NAME,
         false,
         {"b", "README", "a", "readme", "sub/", "../", "Readme"},
         {"../", "sub/", "a", "b", "README", "readme", "Readme"}},
        {KV_SORT_FD_NAME, true, {"b", "README", "a", "readme"}, {"README", "readme", "b", "a"}},
        {KV_SORT_FD_EXT, false, {"x.c", "y.a", "X.C", "z"}, {"z", "y.a", "x.c", "X.C"}},
    };
    for (const Case& c : cases) {
        std::vector<KV_FileData> shown;
        shown.reserve(c.arrival.size());
        for (const std::string& name : c.arrival) {
            const bool dir = name.back() == '/';
            const KV_FileData fd(
                KV_String(dir ? name.substr(0, name.size() - 1).c_str() : name.c_str()), dir);
            const int pos = SortedInsertPos(static_cast<int>(shown.size()), [&](int i) {
                return shown[static_cast<size_t>(i)].compare(fd, c.key, c.descending) > 0;
            });
            shown.insert(shown.begin() + pos, fd);
        }
        std::vector<std::string> names;
        for (const KV_FileData& fd : shown) {
            names.emplace_back(std::string(fd.name().data(), fd.name().length()) +
                               (fd.is_dir() ? "/" : ""));
        }
        EXPECT_EQ(names, c.shown);
    }
}

} // namespace
