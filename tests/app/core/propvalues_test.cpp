// The arithmetic of the property pages without widgets: typed numbers,
// units, radio and bit mappings, path checks, the cipher list and the
// layout word.
#include "core/propvalues.h"

#include "ssh/kv_sshcipher.h"

#include <gtest/gtest.h>

namespace {

TEST(PropValues, TypedNumbers)
{
    struct Case
    {
        const char* text;
        uint32_t min, max;
        kvprop::NumCheck want;
        uint32_t value;
    } cases[] = {
        {"20", 1, 20, kvprop::NumCheck::ok, 20},
        {" 7 ", 0, 9999, kvprop::NumCheck::ok, 7},
        {"0", 1, 20, kvprop::NumCheck::out_of_range, 0},
        {"21", 1, 20, kvprop::NumCheck::out_of_range, 0},
        // More digits than 32 bits hold must not wrap into the range.
        {"4294967297", 0, 20, kvprop::NumCheck::out_of_range, 0},
        {"99999999999999999999999", 0, 4294967295u, kvprop::NumCheck::out_of_range, 0},
        {"4294967295", 0, 4294967295u, kvprop::NumCheck::ok, 4294967295u},
        {"", 0, 9, kvprop::NumCheck::not_number, 0},
        {"-1", 0, 9, kvprop::NumCheck::not_number, 0},
        {"+1", 0, 9, kvprop::NumCheck::not_number, 0},
        {"1 2", 0, 99, kvprop::NumCheck::not_number, 0},
        {"0x10", 0, 99, kvprop::NumCheck::not_number, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t v = 12345;
        EXPECT_EQ(kvprop::CheckUInt(c.text, c.min, c.max, v), c.want);
        EXPECT_EQ(v, c.want == kvprop::NumCheck::ok ? c.value : 12345u);
    }
    EXPECT_EQ(kvprop::NumCheckMessage(kvprop::NumCheck::out_of_range, 1, 3600),
              "Please enter an integer between 1 and 3600.");
    EXPECT_EQ(kvprop::NumCheckMessage(kvprop::NumCheck::not_number, 1, 3600),
              "Please enter a positive integer.");
}

TEST(PropValues, Units)
{
    EXPECT_EQ(kvprop::MsToSeconds(90000), 90u);
    EXPECT_EQ(kvprop::MsToSeconds(999), 0u);
    EXPECT_EQ(kvprop::BytesToKb(1024 * 1024), 1024u);
    EXPECT_EQ(kvprop::BytesToKb(1023), 0u);
    EXPECT_EQ(kvprop::BytesToKb(-5), 0u);
    EXPECT_EQ(kvprop::BytesToKb(int64_t{1} << 60), 4294967295u);
}

TEST(PropValues, FtpRadiosAndListBits)
{
    // Radio 0 Automatic = 3, 1 Passive = 2, 2 Normal = 1; unknown shows 0.
    const struct
    {
        uint32_t mode;
        int radio;
    } modes[] = {{3, 0}, {2, 1}, {1, 2}, {0, 0}, {7, 0}};
    for (const auto& m : modes) {
        EXPECT_EQ(kvprop::ConnModeToRadio(m.mode), m.radio) << m.mode;
    }
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(kvprop::ConnModeToRadio(kvprop::RadioToConnMode(r)), r);
    }
    EXPECT_EQ(kvprop::RadioToConnMode(-1), 0u);
    EXPECT_EQ(kvprop::KeepAliveToRadio(0), 0);
    EXPECT_EQ(kvprop::KeepAliveToRadio(1), 1);
    EXPECT_EQ(kvprop::KeepAliveToRadio(5), -1);
    EXPECT_EQ(kvprop::ListFlags(true, false), 1);
    EXPECT_EQ(kvprop::ListFlags(false, true), 2);
    EXPECT_EQ(kvprop::ListFlags(true, true), 3);
}

TEST(PropValues, DefaultFolderAndDocuments)
{
    EXPECT_TRUE(kvprop::IsValidDefPath("", '/'));
    EXPECT_TRUE(kvprop::IsValidDefPath("/pub", '/'));
    EXPECT_FALSE(kvprop::IsValidDefPath("pub", '/'));
    EXPECT_FALSE(kvprop::IsValidDefPath("/pub", '\\'));
    EXPECT_TRUE(kvprop::IsValidDefPath("\\pub", '\\'));

    EXPECT_EQ(kvprop::CheckDocPath(""), kvprop::DocCheck::empty);
    EXPECT_EQ(kvprop::CheckDocPath("docs/a.html"), kvprop::DocCheck::invalid);
    EXPECT_EQ(kvprop::CheckDocPath("/docs/a.html"), kvprop::DocCheck::ok);
    EXPECT_EQ(kvprop::JoinDocs({"/a", "  ", " /b/ "}), "/a\r\n/b/\r\n");
    EXPECT_EQ(kvprop::JoinDocs({}), "");
}

TEST(PropValues, HttpMethodsAndVersion)
{
    ASSERT_EQ(kvprop::HttpMethods().size(), 8);
    EXPECT_EQ(kvprop::HttpMethods().front(), "GET");
    EXPECT_EQ(kvprop::HttpMethods().back(), "COPY");
    EXPECT_EQ(kvprop::MethodMask({true, false, true}), 0x05);
    EXPECT_EQ(kvprop::MethodMask(std::vector<bool>(8, true)), 0xFF);
    EXPECT_TRUE(kvprop::MethodChecked(0x80, 7));
    EXPECT_FALSE(kvprop::MethodChecked(0x80, 6));
    EXPECT_EQ(kvprop::VersionToRadio(KV_HttpVer(1, 0)), 0);
    EXPECT_EQ(kvprop::VersionToRadio(KV_HttpVer(1, 1)), 1);
    EXPECT_EQ(kvprop::VersionToRadio(KV_HttpVer(2, 0)), -1);
    EXPECT_EQ(kvprop::RadioToVersion(1), KV_HttpVer(1, 1));
    EXPECT_FALSE(kvprop::RadioToVersion(-1).valid());
}

TEST(PropValues, CipherListRoundTrip)
{
    ASSERT_GE(KV_SshCipherDef::nciphers(), 2u);
    const QString first = KV_SshCipherDef::cipher(0)->name();
    const QString second = KV_SshCipherDef::cipher(1)->name();
    // An unknown name is neither shown nor written back; blanks around
    // names do not matter.
    const KV_String stored = kvprop::ToKv("bogus-cbc, " + second + " ,");
    std::vector<kvprop::CipherCheck> checks = kvprop::CipherChecks(stored);
    ASSERT_EQ(checks.size(), KV_SshCipherDef::nciphers());
    EXPECT_EQ(checks[0].name, first);
    EXPECT_TRUE(checks[0].allowed);
    EXPECT_FALSE(checks[1].allowed);
    for (const auto& c : checks) {
        EXPECT_NE(c.name, "bogus-cbc");
    }
    EXPECT_EQ(kvprop::FromKv(kvprop::DisabledCiphers(checks)), second);
    checks[0].allowed = false;
    EXPECT_EQ(kvprop::FromKv(kvprop::DisabledCiphers(checks)), first + "," + second);
    for (auto& c : checks) {
        c.allowed = true;
    }
    EXPECT_EQ(kvprop::DisabledCiphers(checks).length(), 0u);
}

TEST(PropValues, LayoutWord)
{
    kvprop::Panes p = kvprop::PanesFromWord(0x0306);
    EXPECT_FALSE(p.own[0]);
    EXPECT_TRUE(p.own[1]);
    EXPECT_TRUE(p.own[2]);
    EXPECT_TRUE(p.other[0]);
    EXPECT_TRUE(p.other[1]);
    EXPECT_FALSE(p.other[2]);
    EXPECT_EQ(kvprop::PanesToWord(p), 0x0306);
    // Bits outside the three panes of each side are not kept.
    EXPECT_EQ(kvprop::PanesToWord(kvprop::PanesFromWord(0xFFFF)), 0x0707);

    kvprop::Panes empty = kvprop::PanesFromWord(0);
    kvprop::FixEmptySides(empty);
    EXPECT_EQ(kvprop::PanesToWord(empty), 0x0101);

    const bool only_list[3] = {false, true, false};
    EXPECT_FALSE(kvprop::PaneSwitchable(only_list, 1));
    EXPECT_TRUE(kvprop::PaneSwitchable(only_list, 0));
}

} // namespace
