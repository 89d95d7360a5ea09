// The transfer actions' command lines and the framework's refusal to run
// without a logged-in connection, on a manager that never connects.
#include <string>

#include <gtest/gtest.h>

#include "foundation/kv_fileliststore.h"
#include "ftp/kv_ftpacttrans.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"
#include "transfers/kv_transtest.h"

namespace {

// Binds the action to the manager the way exec does; without a connection
// the action ends not executed and nothing runs.
void bind(KV_FtpMan& ftp, KV_FtpAct& act)
{
    EXPECT_TRUE(ftp.exec_impl(&act));
    EXPECT_FALSE(act.executed());
    EXPECT_EQ(ftp.data_conn(), nullptr);
}

} // namespace

TEST(KV_FtpActTrans, ListCommandFollowsFlagsAndDialect)
{
    struct Case
    {
        uint8_t flags;
        bool vm;
        const char* cmd;
    };
    const Case cases[] = {
        {0, false, "LIST"},     {1, false, "LIST -a"}, {2, false, "LIST -L"},
        {3, false, "LIST -aL"}, {3, true, "LIST"},     {0, true, "LIST"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmd);
        KV_FtpMan ftp;
        KV_FtpManOpts o;
        o.set_list_flags(c.flags);
        ftp.set_opts(o);
        ftp.serv = c.vm ? static_cast<KV_FtpServer*>(new KV_FtpServerVM) : new KV_FtpServer;
        KV_FtpActListParams params(nullptr, nullptr, transtest::path_of({"/"}));
        KV_FtpActList list(params);
        bind(ftp, list);
        EXPECT_STREQ(list.get_cmd().data(), c.cmd);
    }
}

TEST(KV_FtpActTrans, TransferCommandLines)
{
    KV_FtpMan ftp;
    KV_FtpManOpts o;
    o.set_use_append(true);
    ftp.set_opts(o);

    // No dialect yet: no command can be formed.
    KV_FtpActGet none(KV_TRANS_MODE_BINARY, "/a b.bin", "", 0, nullptr);
    bind(ftp, none);
    EXPECT_TRUE(none.get_cmd().empty());

    ftp.serv = new KV_FtpServer;
    KV_FtpActGet get(KV_TRANS_MODE_BINARY, "/a b.bin", "", 0, nullptr);
    bind(ftp, get);
    EXPECT_STREQ(get.get_cmd().data(), "RETR /a b.bin");
    KV_FtpActPut stor(KV_TRANS_MODE_BINARY, "", "/up.bin", nullptr, 0);
    bind(ftp, stor);
    EXPECT_STREQ(stor.get_cmd().data(), "STOR /up.bin");
    KV_FtpActPut appe(KV_TRANS_MODE_BINARY, "", "/up.bin", nullptr, 10);
    bind(ftp, appe);
    EXPECT_STREQ(appe.get_cmd().data(), "APPE /up.bin");
    KV_FtpActGetDirect direct("/src.bin", 5);
    bind(ftp, direct);
    EXPECT_STREQ(direct.get_cmd().data(), "RETR /src.bin");
    KV_InetAddr addr;
    EXPECT_TRUE(direct.dtrans(addr));
    EXPECT_FALSE(addr.valid());
    EXPECT_TRUE(direct.trans_end_fast());
    EXPECT_FALSE(get.close_self());
    EXPECT_TRUE(stor.close_self());
    EXPECT_TRUE(stor.trans_end_fast());
    EXPECT_FALSE(get.trans_end_fast());

    o.set_use_append(false);
    ftp.set_opts(o);
    KV_FtpActPut rest(KV_TRANS_MODE_BINARY, "", "/up.bin", nullptr, 10);
    bind(ftp, rest);
    EXPECT_STREQ(rest.get_cmd().data(), "STOR /up.bin");
}
