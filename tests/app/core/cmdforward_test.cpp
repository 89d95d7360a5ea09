#include "core/cmdforward.h"
#include "core/startrules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string S(const KV_String& s)
{
    return std::string(s.data(), s.length());
}

QList<QByteArray> Argv(std::initializer_list<const char*> list)
{
    QList<QByteArray> out;
    for (const char* s : list) {
        out.append(QByteArray(s));
    }
    return out;
}

std::vector<KV_String> Args(std::initializer_list<const char*> list)
{
    std::vector<KV_String> out;
    for (const char* s : list) {
        out.emplace_back(s);
    }
    return out;
}

} // namespace

TEST(CmdForward, PayloadBytesAreExact)
{
    // u32 count, then each string as a u32 length and 16-bit units, the
    // bytes of 0x80 and above sign-extended.
    const QByteArray bytes = PackCommandLine(Argv({"k", "CP", "\xE9"}));
    const QByteArray expected = QByteArray::fromHex("03000000"
                                                    "01000000"
                                                    "6b00"
                                                    "02000000"
                                                    "43005000"
                                                    "01000000"
                                                    "e9ff");
    EXPECT_EQ(bytes.toHex(), expected.toHex());

    std::vector<KV_String> args;
    ASSERT_TRUE(UnpackCommandLine(bytes, args));
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(S(args[0]), "CP");
    EXPECT_EQ(S(args[1]), "\xE9");
}

TEST(CmdForward, DamagedPayloadsAreRefused)
{
    const QByteArray good = PackCommandLine(Argv({"k", "REG", "ftp://h/f"}));
    struct Case
    {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"count cut short", QByteArray::fromHex("0200")},
        {"truncated", good.left(good.size() - 1)},
        {"bytes left over", good + QByteArray(1, '\0')},
        // A count no payload of this size can hold.
        {"huge count", QByteArray::fromHex("ffffffff01000000"
                                           "6b00")},
        // One string whose length runs past the end.
        {"length past the end", QByteArray::fromHex("01000000"
                                                    "ffffff7f"
                                                    "6b00")},
        {"length one too long", QByteArray::fromHex("01000000"
                                                    "02000000"
                                                    "6b00")},
    };
    for (const Case& c : cases) {
        std::vector<KV_String> args = Args({"stale"});
        EXPECT_FALSE(UnpackCommandLine(c.bytes, args)) << c.what;
        EXPECT_TRUE(args.empty()) << c.what;
    }
    std::vector<KV_String> args;
    EXPECT_TRUE(UnpackCommandLine(PackCommandLine(Argv({"k"})), args));
    EXPECT_TRUE(args.empty());
}

TEST(CmdForward, CommandsAndTheirParameters)
{
    std::vector<KV_String> args;
    // Lower-case command, quoted and padded URI; the parameter keeps its case.
    ASSERT_TRUE(UnpackCommandLine(
        PackCommandLine(Argv({"k", " reg\r\n", "\t\"ftp://Host/Doc.TXT\" "})), args));
    CCmdLineAction a = ParseCommandLine(args);
    EXPECT_EQ(a.kind, CCmdLineAction::kRegister);
    EXPECT_EQ(S(a.first), "ftp://Host/Doc.TXT");

    struct Case
    {
        std::vector<KV_String> args;
        CCmdLineAction::Kind kind;
        const char* first;
        const char* second;
        bool drag;
        bool move;
        const char* error;
    } cases[] = {
        {Args({"CP", "ftp://h/f.bin"}), CCmdLineAction::kCopy, "ftp://h/f.bin", "", false, false,
         ""},
        {Args({"cp", "ftp://h/f.bin", "/tmp/f.bin"}), CCmdLineAction::kCopy, "ftp://h/f.bin",
         "/tmp/f.bin", false, false, ""},
        {Args({"CP"}), CCmdLineAction::kError, "", "", false, false,
         "Wrong number of parameters (2 parameter(s) expected)."},
        {Args({"CP", "a", "b", "c"}), CCmdLineAction::kError, "", "", false, false,
         "Wrong number of parameters (2 parameter(s) expected)."},
        {Args({"REG", "a", "b"}), CCmdLineAction::kError, "", "", false, false,
         "Wrong number of parameters (1 parameter(s) expected)."},
        {Args({"wexpl_drop", "/Home/Dir", "dd", "mv"}), CCmdLineAction::kDrop, "/Home/Dir", "",
         true, true, ""},
        {Args({"WEXPL_DROP", "/d", "CL", "cp"}), CCmdLineAction::kDrop, "/d", "", false, false, ""},
        {Args({"WEXPL_DROP", "/d", "xx", "MV"}), CCmdLineAction::kNone, "", "", false, false, ""},
        {Args({"WEXPL_DROP", "/d", "DD"}), CCmdLineAction::kError, "", "", false, false,
         "Wrong number of parameters (3 parameter(s) expected)."},
        {Args({"sync", "x"}), CCmdLineAction::kError, "", "", false, false,
         "Unrecognized command SYNC."},
        {Args({}), CCmdLineAction::kNone, "", "", false, false, ""},
    };
    for (const Case& c : cases) {
        const CCmdLineAction got = ParseCommandLine(c.args);
        const std::string name = c.args.empty() ? "(none)" : S(c.args[0]);
        EXPECT_EQ(got.kind, c.kind) << name;
        EXPECT_EQ(S(got.first), c.first) << name;
        EXPECT_EQ(S(got.second), c.second) << name;
        EXPECT_EQ(got.drag, c.drag) << name;
        EXPECT_EQ(got.move, c.move) << name;
        EXPECT_EQ(got.error.toStdString(), c.error) << name;
    }
}
