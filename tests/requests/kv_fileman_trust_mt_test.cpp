// Trust in a server tied to its identity (a certificate's or host key's
// digest): one question per identity, shared by concurrent askers, and a
// refusal that ends the manager's questions.
#include <gtest/gtest.h>

#include <thread>

#include "requests/kv_fileman.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;

TEST(FileManTrust, EachIdentityIsAskedAboutOnce)
{
    TrustHost host;
    TrustFileMan fm;
    host.push(KV_ANS_YES);
    EXPECT_FALSE(fm.sec_accepted("aa"));

    // Two connections meet the same server at once: one question.
    KV_ANS ans[2] = {KV_ANS_NONE, KV_ANS_NONE};
    bool res[2] = {false, false};
    std::thread a([&] { res[0] = fm.sec_forced("Trust aa?", KV_ASK_TRUST, ans[0], "aa"); });
    std::thread b([&] { res[1] = fm.sec_forced("Trust aa?", KV_ASK_TRUST, ans[1], "aa"); });
    a.join();
    b.join();
    EXPECT_TRUE(res[0] && res[1]);
    EXPECT_EQ(host.asked(), 1u);
    EXPECT_TRUE(fm.sec_accepted("aa"));

    // Another identity is asked about; a refusal is final for new ones but
    // leaves the accepted one accepted.
    host.push(KV_ANS_NO);
    KV_ANS other = KV_ANS_NONE;
    EXPECT_FALSE(fm.sec_forced("Trust bb?", KV_ASK_TRUST, other, "bb"));
    EXPECT_EQ(other, KV_ANS_NO);
    EXPECT_EQ(host.asked(), 2u);
    host.push(KV_ANS_YES);
    EXPECT_FALSE(fm.sec_forced("Trust cc?", KV_ASK_TRUST, other, "cc"));
    EXPECT_EQ(host.asked(), 2u);
    EXPECT_TRUE(fm.sec_forced("Trust aa?", KV_ASK_TRUST, other, "aa"));

    // An identity found elsewhere (a store) is recorded without a question;
    // an empty one is never accepted.
    fm.set_sec_accepted("dd");
    EXPECT_TRUE(fm.sec_accepted("dd"));
    fm.set_sec_accepted("");
    EXPECT_FALSE(fm.sec_accepted(""));
    EXPECT_FALSE(fm.sec_forced()) << "the plain trust flag is another matter";
}

} // namespace
