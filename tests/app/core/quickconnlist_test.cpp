// The quick-connect history: its stored bytes, the limit of 50 entries, one
// entry per URL, and values of any length read back.
#include "core/quickconnlist.h"

#include "core/settings.h"
#include "datasources/kv_logindata.h"
#include "support/kv_testdir.h"

#include <QString>
#include <gtest/gtest.h>
#include <string>

namespace {

CQuickConnItem Item(const char* url, long time, const char* user = "", const char* pass = "")
{
    CQuickConnItem it;
    it.url = url;
    it.user = user;
    it.pass = pass;
    it.last_use = KV_Time(time);
    return it;
}

// The KV_String binary form of ASCII text.
std::string Bin(const std::string& s)
{
    std::string out;
    const uint32_t n = static_cast<uint32_t>(s.size());
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((n >> (8 * i)) & 0xFF);
    }
    for (char c : s) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string Bytes(const QByteArray& b)
{
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

TEST(CQuickConnHistory, StoredBytes)
{
    CQuickConnHistory h;
    CQuickConnItem older = Item("ftp://files.example.com", 0x01020304, "anna", "pw");
    older.anonymous = 0;
    older.temporary = 1;
    h.Add(older);
    CQuickConnItem newer = Item("https://web.example.com:8443/dav", 0x11223344);
    newer.anonymous = 1;
    newer.temporary = 0;
    h.Add(newer);

    QByteArray bytes;
    ASSERT_TRUE(h.Save(bytes));
    const std::string scrambled = KV_String("pw").encrypt_bf(KV_LoginData::bf_key).data();
    ASSERT_EQ(scrambled.size(), 16u) << "one Blowfish block in hex";
    // Newest first; no count, no header.
    const std::string expected = Bin("https://web.example.com:8443/dav") + Bin("") + Bin("") +
                                 std::string("\x01\x00", 2) + "\x44\x33\x22\x11" +
                                 Bin("ftp://files.example.com") + Bin("anna") + Bin(scrambled) +
                                 std::string("\x00\x01", 2) + "\x04\x03\x02\x01";
    EXPECT_EQ(Bytes(bytes), expected);

    CQuickConnHistory back;
    back.Load(bytes);
    ASSERT_EQ(back.Items().size(), 2u);
    EXPECT_EQ(back.Items()[1].pass, "pw");
    EXPECT_EQ(back.Items()[1].user, "anna");
    EXPECT_EQ(back.Items()[1].anonymous, 0);
    EXPECT_EQ(back.Items()[0].temporary, 0);
    EXPECT_EQ(back.Items()[0].last_use.impl(), 0x11223344);

    // An entry cut short ends the reading; the whole ones before it stay.
    for (int cut : {1, 5, 20}) {
        SCOPED_TRACE(cut);
        back.Load(bytes.left(bytes.size() - cut));
        ASSERT_EQ(back.Items().size(), 1u);
        EXPECT_EQ(back.Items()[0].url, "https://web.example.com:8443/dav");
    }
}

TEST(CQuickConnHistory, FiftyOneKeepFiftyAndTheNewest)
{
    CQuickConnHistory h;
    for (int i = 0; i < 51; ++i) {
        h.Add(Item(std::string("ftp://host" + std::to_string(i)).c_str(), 1000 + i));
    }
    ASSERT_EQ(h.Items().size(), 50u);
    EXPECT_EQ(h.Items().front().url, "ftp://host50");
    EXPECT_EQ(h.Items().back().url, "ftp://host1") << "host0, the oldest, went";

    // Connections within the same second: the one just made is newest, so
    // the limit never drops it.
    CQuickConnHistory same;
    for (int i = 0; i < 51; ++i) {
        same.Add(Item(std::string("ftp://s" + std::to_string(i)).c_str(), 5000));
    }
    ASSERT_EQ(same.Items().size(), 50u);
    EXPECT_EQ(same.Items().front().url, "ftp://s50");
}

TEST(CQuickConnHistory, SameUrlKeepsTheNewerEntry)
{
    CQuickConnHistory h;
    h.Add(Item("ftp://a.example.com", 100, "first"));
    h.Add(Item("ftp://b.example.com", 200));
    h.Add(Item("  FTP://A.EXAMPLE.COM ", 300, "second"));
    ASSERT_EQ(h.Items().size(), 2u);
    EXPECT_EQ(h.Items()[0].user, "second");
    EXPECT_EQ(h.Items()[1].url, "ftp://b.example.com");
    // Another path is another connection.
    h.Add(Item("ftp://a.example.com/pub", 400));
    EXPECT_EQ(h.Items().size(), 3u);
}

class QuickConnProfile : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "kivrel.conf");
        SetSettingsEnv(env);
    }
};

// A history of 30 entries is far longer than 4 KiB; all of it comes back,
// and the next connection adds one entry instead of replacing the lot.
TEST_F(QuickConnProfile, LongHistoryReadsBack)
{
    CQuickConnHistory h;
    for (int i = 0; i < 30; ++i) {
        const std::string url = "sftp://server-with-a-long-name-" + std::to_string(i) +
                                ".department.example.com/home/user/projects";
        h.Add(Item(url.c_str(), 1000 + i, "someone", "a fairly long password"));
    }
    ASSERT_TRUE(h.SaveToProfile());
    QByteArray stored = GetProfileBinary("UI", "QuickConnList");
    ASSERT_GT(stored.size(), 4096);

    CQuickConnHistory back;
    back.LoadFromProfile();
    ASSERT_EQ(back.Items().size(), 30u);
    EXPECT_EQ(back.Items()[0].pass, "a fairly long password");
    back.Add(Item("ftp://new.example.com", 5000));
    ASSERT_TRUE(back.SaveToProfile());

    CQuickConnHistory again;
    again.LoadFromProfile();
    ASSERT_EQ(again.Items().size(), 31u);
    EXPECT_EQ(again.Items()[0].url, "ftp://new.example.com");
}

TEST(QuickConnRules, AnonymousAndLogin)
{
    struct Row
    {
        const char* url;
        const char* user;
        const char* pass;
        bool anonymous;
        bool login_ok;
    } rows[] = {
        {"files.example.com", "", "", true, false},
        {"ftp://files.example.com", "u", "", true, true},
        {"FtpS://files.example.com", " ", "p", true, false},
        {"http://web.example.com", "", "", false, true},
        {"https://web.example.com", "  ", " secret ", false, false},
        {"HTTPS://web.example.com", "u", "", false, true},
        {"sftp://ssh.example.com", "", "", false, false},
        {"sftp://ssh.example.com", "u", "", false, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.url) + " [" + r.user + "] [" + r.pass + "]");
        EXPECT_EQ(QuickConnAnonymousApplies(r.url), r.anonymous);
        EXPECT_EQ(QuickConnLoginOk(r.url, r.user, r.pass), r.login_ok);
    }
}

} // namespace
