#include "core/filetrans.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string S(const KV_String& s)
{
    return std::string(s.data(), s.length());
}

} // namespace

TEST(FileTrans, SplitFindsTheFileNameOnlyWhenTheTextEndsInOne)
{
    const KV_PathMan unix_man('/');
    struct Case
    {
        const char* text;
        bool names_file;
        const char* name;
        const char* folder;
    } cases[] = {
        {"/pub/f.bin", true, "f.bin", "/pub/"},
        {"  /pub/f.bin \t", true, "f.bin", "/pub/"},
        {"/f.bin", true, "f.bin", "/"},
        {"/pub/", false, "", ""},
        {"/", false, "", ""},
        {"", false, "", ""},
        {"   ", false, "", ""},
        {"/pub/..", false, "", ""},
    };
    for (const Case& c : cases) {
        KV_String name;
        KV_String folder;
        EXPECT_EQ(FileTransSplitFile(unix_man, c.text, &name, &folder), c.names_file) << c.text;
        EXPECT_EQ(S(name), c.name) << c.text;
        EXPECT_EQ(S(folder), c.folder) << c.text;
    }
}

TEST(FileTrans, RebuildCarriesTheNameToTheNewStartFolder)
{
    const KV_PathMan unix_man('/');
    // The old folder goes back to the old data source; the name moves on.
    FileTransRebuilt r = FileTransRebuildDest("/home/u/dl/f.bin", &unix_man, unix_man, "/srv/in");
    EXPECT_TRUE(r.old_folder_set);
    EXPECT_EQ(S(r.old_folder), "/home/u/dl/");
    EXPECT_EQ(S(r.text), "/srv/in/f.bin");

    // No start folder: the root.
    r = FileTransRebuildDest("/a/f.bin", &unix_man, unix_man, "");
    EXPECT_EQ(S(r.text), "/f.bin");

    // Only a folder: nothing kept, and the text ends in one separator however
    // the start folder was written.
    r = FileTransRebuildDest("/a/", &unix_man, unix_man, "/srv/in//");
    EXPECT_FALSE(r.old_folder_set);
    EXPECT_EQ(S(r.text), "/srv/in/");

    // No data source before: the whole text is the name.
    r = FileTransRebuildDest("  f.bin ", nullptr, unix_man, "/srv");
    EXPECT_FALSE(r.old_folder_set);
    EXPECT_EQ(S(r.text), "/srv/f.bin");
}

TEST(FileTrans, DestinationTakesTheSourceNameUntilItNamesAFile)
{
    const KV_PathMan unix_man('/');
    KV_String out("unchanged");
    EXPECT_TRUE(FileTransTakeSourceName(false, unix_man, "/pub/f.bin", unix_man, "/in/", out));
    EXPECT_EQ(S(out), "/in/f.bin");

    // Once the destination names a file, source edits leave it alone.
    out = "unchanged";
    EXPECT_FALSE(FileTransTakeSourceName(true, unix_man, "/pub/g.bin", unix_man, "/in/f.bin", out));
    EXPECT_EQ(S(out), "unchanged");

    // A source that is only a folder gives no name.
    EXPECT_FALSE(FileTransTakeSourceName(false, unix_man, "/pub/", unix_man, "/in/", out));
    EXPECT_EQ(S(out), "unchanged");
}
