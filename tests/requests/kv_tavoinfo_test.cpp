// The worker-info table: what each message does to the infos and to the
// receivers, the capped log, the summary text and the search for workers
// still to be connected.
#include "requests/kv_tavoinfo.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "foundation/kv_msg.h"
#include "requests/kv_reqmsg.h"
#include "requests/kv_sessinfo.h"

namespace {

// Records every notice in order.
class Recv : public KV_TavoInfoNtfRecv
{
public:
    void notify(unsigned int id, KV_TAVO_NTF_TYPE kind) override { seen.emplace_back(id, kind); }
    std::vector<std::pair<unsigned int, KV_TAVO_NTF_TYPE>> seen;
};

using Seen = std::vector<std::pair<unsigned int, KV_TAVO_NTF_TYPE>>;

KV_MsgTavoNtf tavo(KV_TAVO_NTF ntf, uint32_t id, const char* t1 = "", const char* t2 = "")
{
    return KV_MsgTavoNtf(ntf, id, t1, t2);
}

KV_SessInfo sess(KV_SESS_TYPE type, bool running)
{
    KV_SessInfo s;
    s.set_type(type);
    s.set_run(running);
    s.set_bytes_recv(running ? 100 : 7);
    return s;
}

KV_MsgSessLog log_line(uint32_t id, const std::string& text)
{
    return KV_MsgSessLog(id, KV_SessLogInfo(KV_SESS_LOG_RECV, text.c_str(), false));
}

class TavoInfoTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(table.reg(&recv)); }
    void TearDown() override { table.unreg(&recv); }

    // Sets worker `id` to connection state `conn`.
    void set_conn(uint32_t id, KV_LOGIN_STATUS conn)
    {
        KV_MsgLoginStatNtf m(id, conn);
        ASSERT_TRUE(table.process_ntf(&m));
    }

    KV_TavoInfoMan table;
    Recv recv;
};

TEST_F(TavoInfoTest, WorkerNoticesCreateChangeAndRemoveInfos)
{
    auto added = tavo(KV_TAVO_NTF_ADDED, 1, "Ready");
    auto status = tavo(KV_TAVO_NTF_STATUS, 1, "Listing", "/pub");
    ASSERT_TRUE(table.process_ntf(&added));
    ASSERT_TRUE(table.process_ntf(&status));
    const KV_TavoInfo* info = table.at(1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->status_text, "Listing");
    EXPECT_EQ(info->detail_text, "/pub");

    // The set-changed notice touches nothing and tells nobody.
    auto changed = tavo(KV_TAVO_NTF_CHANGED, 0);
    EXPECT_TRUE(table.process_ntf(&changed));
    EXPECT_EQ(table.entries(), 1u);
    EXPECT_EQ(table.at(0), nullptr);

    auto removed = tavo(KV_TAVO_NTF_REMOVED, 1);
    EXPECT_TRUE(table.process_ntf(&removed));
    EXPECT_EQ(table.at(1), nullptr);
    // A second removal finds nothing: false, and nobody is told.
    EXPECT_FALSE(table.process_ntf(&removed));

    EXPECT_EQ(recv.seen, (Seen{{1, KV_TAVO_NTF_TYPE_CHANGED},
                               {1, KV_TAVO_NTF_TYPE_CHANGED},
                               {1, KV_TAVO_NTF_TYPE_REMOVED}}));
}

TEST_F(TavoInfoTest, LogLineOfUnknownWorkerCreatesItsInfo)
{
    auto m = log_line(5, "220 ready");
    ASSERT_TRUE(table.process_ntf(&m));
    const KV_TavoInfo* info = table.at(5);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->status_text, "Ready");
    EXPECT_EQ(info->conn, 0);
    ASSERT_EQ(info->list_log().size(), 1u);
    EXPECT_EQ(info->list_log().at(0).text(), "220 ready");
    EXPECT_EQ(recv.seen, (Seen{{5, KV_TAVO_NTF_TYPE_LOG}}));
}

TEST_F(TavoInfoTest, LogKeepsTheLast256LinesPerWorker)
{
    for (int i = 0; i < 300; ++i) {
        auto m = log_line(1, "line " + std::to_string(i));
        ASSERT_TRUE(table.process_ntf(&m)) << i;
        if (i == 255) {
            ASSERT_EQ(table.at(1)->list_log().size(), 256u);
            EXPECT_EQ(table.at(1)->list_log().at(0).text(), "line 0");
        }
    }
    auto other = log_line(2, "other");
    ASSERT_TRUE(table.process_ntf(&other));

    const auto& log = table.at(1)->list_log();
    ASSERT_EQ(log.size(), KV_TavoInfo::max_log);
    EXPECT_EQ(log.at(0).text(), "line 44");
    EXPECT_EQ(log.at(255).text(), "line 299");
    EXPECT_EQ(table.at(2)->list_log().size(), 1u);
}

TEST(KV_TavoInfo, CopyTakesStateButNotTheLog)
{
    KV_TavoInfo a;
    a.status_text = "Busy";
    a.detail_text = "/x";
    a.conn = 2;
    a.sess_ctrl = sess(KV_SESS_TYPE_FTP_CTRL, true);
    ASSERT_TRUE(a.add_log(KV_SessLogInfo(KV_SESS_LOG_SENT, "USER a", false)));

    KV_TavoInfo b(a);
    KV_TavoInfo c;
    ASSERT_TRUE(c.add_log(KV_SessLogInfo(KV_SESS_LOG_SENT, "kept", false)));
    c = a;
    for (const KV_TavoInfo* copy : {&b, &c}) {
        EXPECT_EQ(copy->status_text, "Busy");
        EXPECT_EQ(copy->detail_text, "/x");
        EXPECT_EQ(copy->conn, 2);
        EXPECT_EQ(copy->sess_ctrl, a.sess_ctrl);
    }
    EXPECT_EQ(b.list_log().size(), 0u);
    ASSERT_EQ(c.list_log().size(), 1u);
    EXPECT_EQ(c.list_log().at(0).text(), "kept");
}

TEST_F(TavoInfoTest, SessionNoticesSetSessionsAndConnectionState)
{
    struct Case
    {
        const char* name;
        KV_SESS_TYPE type;
        bool running;
        int conn_before;
        int conn_after;
        bool ctrl_set;
        bool data_set;
    };
    const Case cases[] = {
        {"ftp control up keeps state", KV_SESS_TYPE_FTP_CTRL, true, 2, 2, true, false},
        {"ftp control down disconnects", KV_SESS_TYPE_FTP_CTRL, false, 2, 0, true, false},
        {"ftp data down keeps state", KV_SESS_TYPE_FTP_DATA, false, 2, 2, false, true},
        {"ftp data up keeps state", KV_SESS_TYPE_FTP_DATA, true, 0, 0, false, true},
        {"http up connects", KV_SESS_TYPE_HTTP, true, 0, 1, true, true},
        {"http up over logged in", KV_SESS_TYPE_HTTP, true, 2, 1, true, true},
        {"http down disconnects", KV_SESS_TYPE_HTTP, false, 1, 0, true, true},
        {"ssh up keeps state", KV_SESS_TYPE_SSH, true, 2, 2, true, true},
        {"ssh down disconnects", KV_SESS_TYPE_SSH, false, 2, 0, true, true},
        {"telnet stores nothing", KV_SESS_TYPE_TELNET, false, 2, 2, false, false},
    };
    uint32_t id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        set_conn(id, static_cast<KV_LOGIN_STATUS>(c.conn_before));
        recv.seen.clear();
        const KV_SessInfo s = sess(c.type, c.running);
        KV_MsgSessNtf m(id, s);
        ASSERT_TRUE(table.process_ntf(&m));
        const KV_TavoInfo* info = table.at(id);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->conn, c.conn_after);
        EXPECT_EQ(info->sess_ctrl == s, c.ctrl_set);
        EXPECT_EQ(info->sess_data == s, c.data_set);
        // Every session notice for a worker is told, stored or not.
        EXPECT_EQ(recv.seen, (Seen{{id, KV_TAVO_NTF_TYPE_CHANGED}}));
        ++id;
    }

    // Id 0 stands for no worker: nothing is created or told.
    recv.seen.clear();
    KV_MsgSessNtf all(0, sess(KV_SESS_TYPE_FTP_CTRL, true));
    EXPECT_TRUE(table.process_ntf(&all));
    EXPECT_EQ(table.at(0), nullptr);
    EXPECT_TRUE(recv.seen.empty());
}

TEST_F(TavoInfoTest, StatusSummarisesTheBestConnectionState)
{
    struct Case
    {
        const char* name;
        std::vector<KV_LOGIN_STATUS> conns;
        const char* text;
        KV_CONN_CLR clr;
    };
    const Case cases[] = {
        {"no workers", {}, "Disconnected", KV_CONN_CLR_NONE},
        {"all disconnected",
         {KV_LOGIN_STATUS_NONE, KV_LOGIN_STATUS_NONE, KV_LOGIN_STATUS_NONE},
         "Disconnected [3]",
         KV_CONN_CLR_NONE},
        {"two logged in of three",
         {KV_LOGIN_STATUS_LOGGED_IN, KV_LOGIN_STATUS_LOGGED_IN, KV_LOGIN_STATUS_CONNECTED},
         "Logged in [2]",
         KV_CONN_CLR_LOGGED_IN},
        {"one connected",
         {KV_LOGIN_STATUS_NONE, KV_LOGIN_STATUS_CONNECTED},
         "Connected [1]",
         KV_CONN_CLR_CONNECTED},
        {"refused is beyond logged in",
         {KV_LOGIN_STATUS_REFUSED, KV_LOGIN_STATUS_LOGGED_IN},
         "Unknown [1]",
         KV_CONN_CLR_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_TavoInfoMan t;
        uint32_t id = 1;
        for (KV_LOGIN_STATUS conn : c.conns) {
            KV_MsgLoginStatNtf m(id++, conn);
            ASSERT_TRUE(t.process_ntf(&m));
        }
        KV_String out = "stale";
        KV_CONN_CLR clr = KV_CONN_CLR_LOGGED_IN;
        t.status(out, clr);
        EXPECT_EQ(out, c.text);
        EXPECT_EQ(clr, c.clr);
    }
}

// A wrong password as an FTP worker reports it: connected, refused, the
// closing session's "connected" and its end, then the worker tries again.
// Through all of it the summary says the login was refused, until a login
// succeeds.
TEST_F(TavoInfoTest, ARefusedLoginStaysInTheSummaryUntilALoginSucceeds)
{
    struct Step
    {
        uint32_t id;
        int login; // a KV_LOGIN_STATUS, or -1 for the control session's end
        const char* text;
        KV_CONN_CLR clr;
    };
    const Step steps[] = {
        {1, KV_LOGIN_STATUS_CONNECTED, "Connected [1]", KV_CONN_CLR_CONNECTED},
        {1, KV_LOGIN_STATUS_REFUSED, "Login refused [1]", KV_CONN_CLR_NONE},
        {1, KV_LOGIN_STATUS_CONNECTED, "Login refused [1]", KV_CONN_CLR_NONE},
        {1, -1, "Login refused [1]", KV_CONN_CLR_NONE},
        // The next attempt and a second worker's.
        {1, KV_LOGIN_STATUS_NONE, "Login refused [1]", KV_CONN_CLR_NONE},
        {1, KV_LOGIN_STATUS_CONNECTED, "Login refused [1]", KV_CONN_CLR_NONE},
        {2, KV_LOGIN_STATUS_CONNECTED, "Login refused [1]", KV_CONN_CLR_NONE},
        {2, KV_LOGIN_STATUS_REFUSED, "Login refused [2]", KV_CONN_CLR_NONE},
        {2, -1, "Login refused [2]", KV_CONN_CLR_NONE},
        // The password was mended: a worker that logs in ends its refusal.
        {1, KV_LOGIN_STATUS_LOGGED_IN, "Logged in [1]", KV_CONN_CLR_LOGGED_IN},
        {1, -1, "Login refused [1]", KV_CONN_CLR_NONE},
        {2, KV_LOGIN_STATUS_LOGGED_IN, "Logged in [1]", KV_CONN_CLR_LOGGED_IN},
        {2, -1, "Disconnected [2]", KV_CONN_CLR_NONE},
    };
    int n = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(++n);
        if (step.login < 0) {
            KV_MsgSessNtf m(step.id, sess(KV_SESS_TYPE_FTP_CTRL, false));
            ASSERT_TRUE(table.process_ntf(&m));
        } else {
            set_conn(step.id, static_cast<KV_LOGIN_STATUS>(step.login));
        }
        KV_String out;
        KV_CONN_CLR clr = KV_CONN_CLR_LOGGED_IN;
        table.status(out, clr);
        EXPECT_EQ(out, step.text);
        EXPECT_EQ(clr, step.clr);
    }
    // A refusal is part of a worker's state: a copy keeps it.
    set_conn(3, KV_LOGIN_STATUS_REFUSED);
    const KV_TavoInfo copy(*table.at(3));
    EXPECT_TRUE(copy.refused);
    EXPECT_FALSE(table.at(1)->refused);
}

TEST_F(TavoInfoTest, MinConnListsFirstWorkersNotLoggedIn)
{
    set_conn(1, KV_LOGIN_STATUS_LOGGED_IN);
    set_conn(2, KV_LOGIN_STATUS_CONNECTED);
    set_conn(3, KV_LOGIN_STATUS_NONE);

    struct Case
    {
        unsigned int n;
        std::vector<unsigned int> ids;
    };
    // Ids below 512 sit in buckets of their own, so the map's order is the
    // id order.
    const Case cases[] = {{0, {}}, {1, {}}, {2, {2}}, {3, {2, 3}}, {10, {2, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        KVTL::KV_ListVal<unsigned int> ids;
        ASSERT_TRUE(table.min_conn(c.n, ids));
        std::vector<unsigned int> got(ids.begin(), ids.end());
        EXPECT_EQ(got, c.ids);
        ids.clear();
    }
}

TEST_F(TavoInfoTest, RegAnnouncesKnownWorkersToTheNewReceiverOnly)
{
    auto a = tavo(KV_TAVO_NTF_ADDED, 1, "Ready");
    auto b = tavo(KV_TAVO_NTF_ADDED, 2, "Ready");
    ASSERT_TRUE(table.process_ntf(&a));
    ASSERT_TRUE(table.process_ntf(&b));
    recv.seen.clear();

    Recv late;
    ASSERT_TRUE(table.reg(&late));
    EXPECT_EQ(late.seen, (Seen{{1, KV_TAVO_NTF_TYPE_CHANGED}, {2, KV_TAVO_NTF_TYPE_CHANGED}}));
    EXPECT_TRUE(recv.seen.empty());

    // Both hear later changes, in registration order; after unreg only the
    // first does.
    late.seen.clear();
    auto s = tavo(KV_TAVO_NTF_STATUS, 2, "Busy");
    ASSERT_TRUE(table.process_ntf(&s));
    EXPECT_EQ(recv.seen, (Seen{{2, KV_TAVO_NTF_TYPE_CHANGED}}));
    EXPECT_EQ(late.seen, (Seen{{2, KV_TAVO_NTF_TYPE_CHANGED}}));

    EXPECT_TRUE(table.unreg(&late));
    EXPECT_FALSE(table.unreg(&late));
    late.seen.clear();
    ASSERT_TRUE(table.process_ntf(&s));
    EXPECT_TRUE(late.seen.empty());
    EXPECT_EQ(recv.seen.size(), 2u);
}

TEST_F(TavoInfoTest, OtherMessagesAreIgnored)
{
    KV_MsgStdNtf m(KV_MSG_STD_NTF_ALL_PROC);
    EXPECT_TRUE(table.process_ntf(&m));
    EXPECT_EQ(table.entries(), 0u);
    EXPECT_TRUE(recv.seen.empty());
}

} // namespace
