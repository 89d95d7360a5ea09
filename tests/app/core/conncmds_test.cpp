// The rules behind the browse window's connection and view commands: which
// worker a command names, when Connect, Disconnect and Disconnect all may
// run, what a custom command sends, and the items' styles and modes.
#include "core/conncmds.h"

#include "foundation/kv_msg.h"
#include "requests/kv_sessinfo.h"

#include <gtest/gtest.h>

namespace {

KV_SessInfo Ctrl(bool running)
{
    KV_SessInfo s;
    s.set_type(KV_SESS_TYPE_FTP_CTRL);
    s.set_run(running);
    return s;
}

TEST(ConnCmds, ConnectAndDisconnectFollowTheSelectedWorkersState)
{
    KV_TavoInfoMan table;
    KV_MsgLoginStatNtf idle(1, KV_LOGIN_STATUS_NONE);
    KV_MsgLoginStatNtf logged(2, KV_LOGIN_STATUS_LOGGED_IN);
    ASSERT_TRUE(table.process_ntf(&idle));
    ASSERT_TRUE(table.process_ntf(&logged));

    struct Case
    {
        const char* what;
        const KV_TavoInfoMan* table;
        uint32_t worker;
        bool connect;
        bool disconnect;
    };
    const Case cases[] = {
        {"a disconnected worker", &table, 1, true, false},
        {"a logged-in worker", &table, 2, false, true},
        {"no worker selected", &table, 0, false, false},
        {"a worker without info", &table, 9, false, false},
        {"a pane without worker table", nullptr, 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WorkerCommandEnabled(c.table, c.worker, true), c.connect);
        EXPECT_EQ(WorkerCommandEnabled(c.table, c.worker, false), c.disconnect);
    }
}

TEST(ConnCmds, DisconnectAllNeedsARunningControlSession)
{
    KV_TavoInfoMan table;
    EXPECT_FALSE(AnyWorkerRunning(nullptr));
    EXPECT_FALSE(AnyWorkerRunning(&table));
    KV_MsgSessNtf stopped(1, Ctrl(false));
    ASSERT_TRUE(table.process_ntf(&stopped));
    EXPECT_FALSE(AnyWorkerRunning(&table));
    KV_MsgSessNtf running(2, Ctrl(true));
    ASSERT_TRUE(table.process_ntf(&running));
    EXPECT_TRUE(AnyWorkerRunning(&table));
}

TEST(ConnCmds, CustomCommandIsTrimmedAndBlankSendsNothing)
{
    struct Case
    {
        const char* typed;
        bool sent;
        const char* text;
    };
    const Case cases[] = {
        {"SYST", true, "SYST"},
        {"  SITE CHMOD 644 a b \t\r\n", true, "SITE CHMOD 644 a b"},
        {"", false, ""},
        {" \t \r\n ", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        KV_String out("stale");
        EXPECT_EQ(CustomCommandText(KV_String(c.typed), out), c.sent);
        EXPECT_EQ(out, KV_String(c.text));
    }
    // Outside the details view the command goes to whichever worker is free.
    EXPECT_EQ(CustomCommandWorker(true, 3), 3u);
    EXPECT_EQ(CustomCommandWorker(false, 3), 0u);
}

TEST(ConnCmds, TheLastViewOfTheWindowCannotBeHidden)
{
    EXPECT_TRUE(ViewToggleEnabled(false, 0));
    EXPECT_TRUE(ViewToggleEnabled(false, 1));
    EXPECT_FALSE(ViewToggleEnabled(true, 1));
    EXPECT_TRUE(ViewToggleEnabled(true, 2));
}

TEST(ConnCmds, ItemsStandForTheirStylesAndModes)
{
    const std::pair<uint32_t, int> styles[] = {{59409, 0}, {59411, 1},  {59408, 2},
                                               {59410, 3}, {59412, -1}, {32779, -1}};
    for (const auto& [id, style] : styles) {
        EXPECT_EQ(ListStyleOfCommand(id), style) << id;
    }
    const std::pair<uint32_t, uint32_t> modes[] = {{32846, 1}, {32845, 2}, {32847, 3}, {32784, 0}};
    for (const auto& [id, mode] : modes) {
        EXPECT_EQ(TransferModeOfCommand(id), mode) << id;
    }
}

} // namespace
