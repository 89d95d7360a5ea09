// The SFTP manager and its channel without a connection: the test plays the
// session (data_out, data_in) and the server (the replies it feeds).
#include "ssh/kv_sftpman.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_informer.h"
#include "ssh/kv_sshchannel.h"
#include "support/kv_nettest.h"
#include "support/kv_sshtest.h"

namespace {

using kvtest::hex;
using kvtest::put;
using kvtest::unhex;

std::string u32(uint32_t v)
{
    char b[9];
    std::snprintf(b, sizeof b, "%08x", v);
    return b;
}

// A reply frame from its type and body in hexadecimal.
std::string frame(uint8_t type, const std::string& body_hex)
{
    const std::string body = unhex(body_hex);
    return unhex(u32(static_cast<uint32_t>(body.size() + 1))) + static_cast<char>(type) + body;
}

std::string status(uint32_t id, uint32_t code)
{
    return frame(101, u32(id) + u32(code));
}

class SftpManTest : public ::testing::Test
{
protected:
    SftpManTest() : log(informer)
    {
        man.set_informer(&informer);
        chans = man.init_channels();
        ch = static_cast<KV_SshChannelSftp*>(chans->chan(1));
        ch->confirm(0, 1 << 20, 0);
        ch->set_state(1);
    }

    // What the channel sends now, as hexadecimal.
    std::string pull()
    {
        EXPECT_TRUE(ch->data_out());
        KV_Stream dest;
        EXPECT_TRUE(ch->take_out(dest));
        return hex(dest);
    }

    bool feed(const std::string& bytes)
    {
        KV_Stream s;
        put(s, bytes);
        bool adjust = false;
        return ch->data_in(s, adjust, 4096, buf);
    }

    KV_Informer informer;
    kvtest::SessLog log;
    KV_SftpMan man;
    std::unique_ptr<KV_SshChanMapIf> chans;
    KV_SshChannelSftp* ch = nullptr;
    uint8_t buf[4096] = {};
};

TEST_F(SftpManTest, IdsCountUpAcrossActionsAndConnections)
{
    EXPECT_EQ(std::string(man.prot_err()), "SFTP: %s");
    EXPECT_EQ(man.type_ssh(), KV_SSH_MAN_SFTP);

    KV_SftpActInit init;
    man.act_set(&init);
    EXPECT_EQ(pull(), "00000005"
                      "0100000003")
        << "INIT carries no id";
    EXPECT_EQ(man.ack_reg(), 0u);
    ASSERT_TRUE(feed(frame(2, "00000003")));
    EXPECT_TRUE(init.done());
    EXPECT_TRUE(init.executed());
    man.act_end(false);

    KV_SftpActMkDir mk(KV_SshString("/d"));
    man.act_set(&mk);
    EXPECT_EQ(pull(), "0000000f"
                      "0e"
                      "00000001"
                      "000000022f64"
                      "00000000");
    EXPECT_EQ(pull(), "") << "the first message goes once";
    EXPECT_EQ(man.ack_reg(), 1u);
    ASSERT_TRUE(feed(status(1, 0)));
    EXPECT_TRUE(mk.done());
    EXPECT_TRUE(mk.executed());
    EXPECT_EQ(man.ack_reg(), 0u);
    man.act_end(false);

    // EOF ends a simple action as failed, without an error text.
    KV_SftpActDel del(KV_SshString("/f"));
    man.act_set(&del);
    EXPECT_EQ(pull().substr(10, 8), "00000002");
    ASSERT_TRUE(feed(status(2, 1)));
    EXPECT_TRUE(del.done());
    EXPECT_FALSE(del.executed());
    EXPECT_EQ(std::string(man.err_msg().data()), "");
    man.act_end(false);

    // A reply nobody asked for breaks the stream.
    KV_SftpActRmDir rm(KV_SshString("/d"));
    man.act_set(&rm);
    EXPECT_EQ(pull().substr(10, 8), "00000003");
    EXPECT_FALSE(feed(status(99, 0)));
    man.act_end(true);
    EXPECT_FALSE(rm.executed());

    // A new connection forgets what was owed, not the count.
    man.new_conn();
    EXPECT_EQ(man.ack_reg(), 0u);
    KV_SftpActPwd pwd;
    man.act_set(&pwd);
    EXPECT_EQ(pull(), "00000009"
                      "10"
                      "00000004"
                      "00000000")
        << "REALPATH of an empty path";
    ASSERT_TRUE(feed(frame(104, "00000004 00000001 00000006 2f686f6d652f 00000000 00000000")));
    EXPECT_TRUE(pwd.executed());
    EXPECT_EQ(kvtest::bytes(pwd.path()), "/home/");
    man.act_end(false);
}

TEST_F(SftpManTest, PwdWithoutEntriesFails)
{
    KV_SftpActPwd pwd;
    man.act_set(&pwd);
    pull();
    EXPECT_FALSE(feed(frame(104, "00000001 00000000")));
    EXPECT_FALSE(pwd.executed());
    man.act_end(true);
}

TEST_F(SftpManTest, BulkMessagesAreLoggedOnceUntilSomethingElseIs)
{
    KV_SshChannelSftp& c = *ch;
    KV_SftpMsgRead rd(KV_SshString("h"), 0, 0, 10);
    KV_SftpMsgData data;
    KV_SftpMsgClose close(KV_SshString("h"));
    KV_SftpMsgStatus st;
    std::vector<bool> got;
    got.push_back(c.note_log(rd, false));    // READ
    got.push_back(c.note_log(data, true));   // DATA
    got.push_back(c.note_log(rd, false));    // READ again: no
    got.push_back(c.note_log(data, true));   // DATA again: no
    got.push_back(c.note_log(close, false)); // CLOSE always
    got.push_back(c.note_log(data, true));   // DATA again after a logged send
    got.push_back(c.note_log(st, true));     // STATUS 0
    got.push_back(c.note_log(st, true));     // same STATUS: no
    EXPECT_EQ(got, (std::vector<bool>{true, true, false, false, true, true, true, false}));
}

TEST_F(SftpManTest, ChannelLogsWhatCrosses)
{
    KV_SftpActInit init;
    man.act_set(&init);
    pull();
    ASSERT_TRUE(feed(frame(2, "00000003")));
    man.act_end(false);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].kind, KV_SESS_LOG_SENT);
    EXPECT_EQ(lines[0].text, "INIT ( version: 3 )");
    EXPECT_EQ(lines[1].kind, KV_SESS_LOG_RECV);
    EXPECT_EQ(lines[1].text, "VERSION ( 3 )");
}

TEST_F(SftpManTest, SilenceTimesOutOnTheOutputPass)
{
    KV_SftpManOpts o;
    o.set_tmout_msg_resp(1);
    man.set_opts(o);
    KV_SftpActMkDir mk(KV_SshString("/d"));
    man.act_set(&mk);
    pull();
    EXPECT_TRUE(ch->data_out()) << "within the time-out";
    EXPECT_TRUE(kvtest::eventually([&] { return !ch->data_out(); }));
    EXPECT_FALSE(mk.executed());
    EXPECT_EQ(std::string(man.err_msg().data()), "Message acknowledgment timed out.");
    man.act_end(true);
}

// A peer that sends nothing at all gives the session no pass to check in:
// the waiting worker finds the time-out itself.
TEST_F(SftpManTest, SilenceTimesOutWithoutAnyPass)
{
    KV_SftpManOpts o;
    o.set_tmout_msg_resp(1);
    man.set_opts(o);
    KV_SftpActMkDir mk(KV_SshString("/d"));
    man.act_set(&mk);
    pull();
    man.wait_trans_end();
    EXPECT_FALSE(mk.executed());
    EXPECT_EQ(std::string(man.err_msg().data()), "Message acknowledgment timed out.");
    man.act_end(false);
}

} // namespace
