#include "datasources/kv_logindata.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "datasources/kv_ftplogindata.h"
#include "datasources/kv_httplogindata.h"
#include "datasources/kv_sshlogindata.h"
#include "foundation/kv_string.h"

namespace {

// Stands in for the file manager's password question.
struct FakePrompt
{
    KV_String pass(const KV_String& user)
    {
        ++asked;
        last_user = user;
        return answer;
    }
    int asked = 0;
    KV_String last_user;
    KV_String answer = "typed";
};

TEST(KV_LoginData, KeyHasTheStoredFormAndScramblesReversibly)
{
    // Two letters, '-', eight digits, '+', eight digits, '-', two letters.
    const char* k = KV_LoginData::bf_key;
    ASSERT_EQ(std::strlen(k), 23u);
    for (int i = 0; i < 23; ++i) {
        SCOPED_TRACE(i);
        const unsigned char c = static_cast<unsigned char>(k[i]);
        if (i < 2 || i > 20)
            EXPECT_TRUE(std::isalpha(c));
        else if (i == 2 || i == 20)
            EXPECT_EQ(c, '-');
        else if (i == 11)
            EXPECT_EQ(c, '+');
        else
            EXPECT_TRUE(std::isdigit(c));
    }
    const KV_String pass = "s3cret \xC3\xA9";
    const KV_String scrambled = pass.encrypt_bf(KV_LoginData::bf_key);
    EXPECT_NE(scrambled, pass);
    EXPECT_EQ(scrambled.decrypt_bf(KV_LoginData::bf_key), pass);
}

TEST(KV_LoginData, SettersTrimButTheConstructorKeepsTheText)
{
    KV_LoginData kept(" bob ", "\tpw \r\n");
    EXPECT_EQ(kept.user(), " bob ");
    EXPECT_EQ(kept.pass(), "\tpw \r\n");

    KV_LoginData set;
    set.set_user(" bob ");
    set.set_pass("\tpw \r\n");
    EXPECT_EQ(set.user(), "bob");
    EXPECT_EQ(set.pass(), "pw");
    EXPECT_FALSE(set == kept);
}

TEST(KV_LoginData, EqualityAndEmptiness)
{
    EXPECT_TRUE(KV_LoginData() == KV_LoginData());
    EXPECT_TRUE(KV_LoginData("u", "p") == KV_LoginData("u", "p"));
    EXPECT_FALSE(KV_LoginData("u", "p") == KV_LoginData("U", "p"));
    EXPECT_FALSE(KV_LoginData("u", "p") == KV_LoginData("u", "P"));

    EXPECT_TRUE(KV_LoginData().empty());
    EXPECT_FALSE(KV_LoginData("u").empty());
    EXPECT_FALSE(KV_LoginData("", "p").empty());
}

TEST(KV_LoginData, PassAsksTheFileManagerOnlyWhenNoneIsStored)
{
    FakePrompt fm;
    KV_LoginData stored("bob", "pw");
    EXPECT_EQ(stored.pass(&fm), "pw");
    EXPECT_EQ(fm.asked, 0);

    KV_LoginData missing("bob");
    EXPECT_EQ(missing.pass(&fm), "typed");
    EXPECT_EQ(fm.asked, 1);
    EXPECT_EQ(fm.last_user, "bob");
    EXPECT_TRUE(missing.pass().empty()); // the answer is not kept

    EXPECT_TRUE(missing.pass(static_cast<FakePrompt*>(nullptr)).empty());
}

TEST(KV_FtpLoginData, AccountIsPartOfTheLogin)
{
    KV_FtpLoginData a(" u ", "p", " acct ");
    EXPECT_EQ(a.user(), " u ");
    EXPECT_EQ(a.acct(), " acct ");
    a.set_acct("  acct\t");
    EXPECT_EQ(a.acct(), "acct");

    KV_FtpLoginData b = a;
    EXPECT_TRUE(a == b);
    b.set_acct("other");
    EXPECT_FALSE(a == b); // only the account differs

    // A plain login carries no account: the old one must not survive.
    b = KV_LoginData("v", "q");
    EXPECT_EQ(b.user(), "v");
    EXPECT_EQ(b.pass(), "q");
    EXPECT_TRUE(b.acct().empty());

    KV_FtpLoginData c;
    c = a;
    EXPECT_EQ(c.acct(), "acct");
}

TEST(KV_HttpLoginData, AuthFlagsAndEquality)
{
    KV_HttpLoginData d("u", "p");
    EXPECT_FALSE(d.auth());
    EXPECT_EQ(d.auth_cmds(), 0xFF);

    KV_HttpLoginData e = d;
    e.set_auth(true);
    EXPECT_TRUE(d == e); // auth takes no part
    e.set_auth_cmds(0x01);
    EXPECT_FALSE(d == e);
    e.set_auth_cmds(0xFFFF);
    EXPECT_EQ(e.auth_cmds(), 0xFFFF);

    KV_HttpLoginData copy;
    copy = e;
    EXPECT_TRUE(copy.auth());
    EXPECT_EQ(copy.auth_cmds(), 0xFFFF);

    // A plain login is meant to be sent with every method.
    KV_HttpLoginData f;
    f.set_auth_cmds(0x04);
    f = KV_LoginData("v", "q");
    EXPECT_EQ(f.user(), "v");
    EXPECT_EQ(f.pass(), "q");
    EXPECT_TRUE(f.auth());
    EXPECT_EQ(f.auth_cmds(), 0xFF);
}

TEST(KV_SshLoginData, PlainLoginIsCopiedUnchanged)
{
    KV_SshLoginData s;
    EXPECT_TRUE(s.empty());
    s = KV_LoginData(" u ", " p ");
    EXPECT_EQ(s.user(), " u ");
    EXPECT_EQ(s.pass(), " p ");
    EXPECT_TRUE(s == KV_SshLoginData(" u ", " p "));
    EXPECT_FALSE(s == KV_SshLoginData("u", " p "));
}

} // namespace
