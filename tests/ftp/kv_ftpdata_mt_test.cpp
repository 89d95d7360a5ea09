// FTP data transfers against a scripted server on loopback, where the
// server's misbehaviour is the point: a data connection that stays silent,
// a stop in the middle of a transfer, a fragment the server sends too much
// or too little for, a PASV the server refuses (automatic mode's one retry),
// a transfer that breaks after data moved (no retry), a passive reply that
// names another host; and whole downloads into a local folder, where a file
// the server sends more or fewer bytes of than it listed, or a link planted
// in the destination, never leaves wrong bytes under a name nor sends bytes
// through a link.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "datasources/kv_filemanparamsftp.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_stoppable.h"
#include "ftp/kv_filemanftp.h"
#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpacttrans.h"
#include "ftp/kv_ftpman.h"
#include "local/kv_filemanstd.h"
#include "support/kv_ftpscript.h"
#include "support/kv_nettest.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filetransman.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_transmantest.h"
#include "transfers/kv_transtest.h"

using namespace kvtest;

namespace {

bool starts(const std::string& s, const char* p)
{
    return s.rfind(p, 0) == 0;
}

// Leaves login, TYPE, REST, PASV and PORT to `srv` (PASV refused when
// `refuse_pasv`) and hands every other command to `script`.
using Script = std::function<void(const std::string& cmd, FtpScript::Session& s)>;
void script(FtpScript& srv, Script sc, bool refuse_pasv = false)
{
    srv.set_hook([sc = std::move(sc), refuse_pasv](const std::string& cmd, FtpScript::Session& s) {
        if (refuse_pasv && starts(cmd, "PASV")) {
            s.reply("500 No passive mode here.");
            return true;
        }
        for (const char* own : {"USER", "PASS", "SYST", "TYPE", "REST", "PASV", "PORT"})
            if (starts(cmd, own))
                return false;
        sc(cmd, s);
        return true;
    });
}

// Whether the client closed the data connection (read until EOF or a reset).
bool drained(const Fd& d)
{
    bool eof = false;
    d.read_to_eof(eof, 5000);
    return eof;
}

class FtpDataScripted : public TempDirTest
{
protected:
    void setup(KV_FtpMan& ftp, const FtpScript& srv, KV_FTP_CONN_MODE mode = KV_FTP_CONN_PASSIVE)
    {
        ftp.set_informer(&informer);
        opts.set_tmout_cmd_resp(5);
        opts.set_tmout_trans_beg(5);
        opts.set_conn_mode(mode);
        ftp.set_opts(opts);
        ftp.set_ldata(KV_FtpLoginData("joe", "pw"));
        ftp.set_ctrl_addrs("", srv.dest().c_str(), KV_ProxyOptsFtp());
    }
    std::unique_ptr<KV_TransLogCp> fetch_log(const std::string& name, int64_t size,
                                             bool multifrag = false)
    {
        KV_FileData fd("f.bin", "Jan 01 2024", size, KV_Time());
        fd.set_fd_flags(KV_FD_SIZE, 0);
        auto log =
            std::make_unique<KV_TransLogCp>(nullptr, "", fd, transtest::path_of({"/", "f.bin"}),
                                            transtest::path_of({"/", "g.bin"}));
        log->set_flags_init(true, multifrag, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        EXPECT_TRUE(log->set_name((dir / name).c_str()));
        EXPECT_TRUE(log->create(eh));
        if (multifrag)
            log->man_frag().clear();
        return log;
    }
    std::string stored(KV_TransLogCp& log)
    {
        const std::string out = dir / "out.bin";
        KV_File f(out.c_str(), "wb");
        EXPECT_TRUE(f.open());
        log.copy_frags(f, nullptr);
        f.close();
        return read_file(out);
    }

    KV_Informer informer;
    KV_FtpManOpts opts;
    LogErr eh;
};

// RETR answered with a data connection that never sends a byte nor ends.
void silent_retr(const std::string& cmd, FtpScript::Session& ctl)
{
    if (!starts(cmd, "RETR")) {
        ctl.reply("502 No.");
        return;
    }
    Fd d = ctl.data();
    ctl.reply("150 Here it comes.");
    drained(d);
    ctl.reply("426 Closed.");
}

} // namespace

TEST_F(FtpDataScripted, ASilentDataConnectionTimesOut)
{
    FtpScript srv;
    script(srv, silent_retr);
    KV_FtpMan ftp;
    setup(ftp, srv);
    opts.set_tmout_trans_ack(1);
    ftp.set_opts(opts);
    auto log = fetch_log("silent.log", 0);
    KV_FtpActGet act(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log.get());
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_FALSE(act.executed());
    EXPECT_TRUE(act.timed_out());
    EXPECT_LT(ms_since(t0), 4000);
    EXPECT_EQ(eh.last(), "FTP: Transfer timed out: no data moved.");
}

TEST_F(FtpDataScripted, AStopEndsTheTransferAtOnce)
{
    FtpScript srv;
    script(srv, silent_retr);
    KV_FtpMan ftp;
    setup(ftp, srv);
    auto log = fetch_log("stop.log", 0);
    KV_FtpActGet act(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log.get());
    KV_Stoppable stopper;
    std::thread t([&] {
        eventually([&] { return srv.count("RETR") > 0; });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stopper.stop(KV_STOP_CANCEL);
    });
    const auto t0 = std::chrono::steady_clock::now();
    ftp.exec(eh, act, &stopper);
    t.join();
    EXPECT_FALSE(act.executed());
    EXPECT_LT(ms_since(t0), 3000);
    EXPECT_EQ(ftp.data_conn(), nullptr);
}

TEST_F(FtpDataScripted, AFragmentTakesNoBytePastItsEnd)
{
    // Large enough that the client's cut reaches the server before it has
    // written everything.
    const std::string file = pattern(16 << 20);
    // Sends the rest of the file from the REST point and complains when the
    // client cuts the connection.
    std::atomic<int64_t> from{0};
    std::atomic<int> aborted{0};
    FtpScript srv;
    script(srv, [&](const std::string& cmd, FtpScript::Session& ctl) {
        if (!starts(cmd, "RETR")) {
            ctl.reply("502 No.");
            return;
        }
        Fd d = ctl.data();
        ctl.reply("150 Here it comes.");
        const bool all = d.write_all(file.data() + from, file.size() - from);
        d.reset();
        aborted += all ? 0 : 1;
        ctl.reply(all ? "226 Done." : "426 Connection closed; transfer aborted.");
    });
    KV_FtpMan ftp;
    setup(ftp, srv);
    const int64_t size = static_cast<int64_t>(file.size());
    auto log = fetch_log("frag.log", size, true);
    ASSERT_TRUE(log->man_frag().add_new(0, 100000, KV_FileFrag::IN_TRANSFER));
    ASSERT_TRUE(log->man_frag().add_new(100000, 200000, KV_FileFrag::IN_TRANSFER));
    ASSERT_TRUE(log->man_frag().add_new(200000, size, KV_FileFrag::IN_TRANSFER));
    KV_FileFrag* mid = nullptr;
    ASSERT_TRUE(log->man_frag().find_pos(&mid, 100000));
    from = 100000;
    KV_FtpActGet act("/f.bin", "", mid, log.get());
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_TRUE(act.executed()) << eh.last();
    EXPECT_EQ(mid->pos(), 200000);
    EXPECT_EQ(srv.count("REST 100000"), 1);
    EXPECT_EQ(aborted.load(), 1);
    EXPECT_EQ(eh.count(), 0u) << eh.last();

    // The same fragment's data, and nothing of the next one's.
    KV_FileFrag* next = nullptr;
    ASSERT_TRUE(log->man_frag().find_pos(&next, 200000));
    EXPECT_EQ(next->pos(), 200000);
    EXPECT_EQ(next->rec_pos(), 0);
    unsigned char buf[100000];
    uint32_t n = sizeof(buf);
    ASSERT_TRUE(log->read_frag(*mid, buf, 0, n));
    ASSERT_EQ(n, 100000u);
    EXPECT_TRUE(std::string(reinterpret_cast<char*>(buf), n) == file.substr(100000, 100000));

    // A server whose file ends before the fragment does has not filled it.
    KV_FileFrag* last = next;
    from = size - 50000;
    KV_FtpActGet short_act("/f.bin", "", last, log.get());
    // The fragment starts at its position, 200000, but the server sends only
    // 50000 bytes (as if the file had shrunk) and calls it complete.
    ASSERT_TRUE(ftp.exec(eh, short_act, nullptr));
    EXPECT_FALSE(short_act.executed());
    EXPECT_EQ(last->pos(), 250000);
    EXPECT_FALSE(last->done());
}

TEST_F(FtpDataScripted, AutomaticModeRetriesOnceInTheOtherMode)
{
    const std::string file = pattern(5000);
    FtpScript srv;
    script(
        srv,
        [&](const std::string& cmd, FtpScript::Session& ctl) {
            if (!starts(cmd, "RETR")) {
                ctl.reply("502 No.");
                return;
            }
            ctl.transfer(file, "226 Done.");
        },
        true);
    KV_FtpMan ftp;
    setup(ftp, srv, KV_FTP_CONN_AUTO);
    auto log = fetch_log("auto.log", 0);
    KV_FtpActGet act(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log.get());
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_TRUE(act.executed()) << eh.last();
    EXPECT_EQ(srv.count("PASV"), 1);
    EXPECT_EQ(srv.count("PORT"), 1);
    EXPECT_EQ(ftp.last_conn_mode(), KV_FTP_CONN_ACTIVE);
    EXPECT_TRUE(stored(*log) == file);

    // The next transfer starts in the mode that worked.
    auto log2 = fetch_log("auto2.log", 0);
    KV_FtpActGet again(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log2.get());
    ASSERT_TRUE(ftp.exec(eh, again, nullptr));
    EXPECT_TRUE(again.executed()) << eh.last();
    EXPECT_EQ(srv.count("PASV"), 1);
    EXPECT_EQ(srv.count("PORT"), 2);

    // A configured passive mode is never retried actively. (Options change
    // only between connections: the control session reads them.)
    ftp.close();
    KV_FtpMan ftp2;
    setup(ftp2, srv, KV_FTP_CONN_PASSIVE);
    auto log3 = fetch_log("auto3.log", 0);
    KV_FtpActGet pasv(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log3.get());
    ASSERT_TRUE(ftp2.exec(eh, pasv, nullptr));
    EXPECT_FALSE(pasv.executed());
    EXPECT_EQ(srv.count("PASV"), 2);
    EXPECT_EQ(srv.count("PORT"), 2);
    EXPECT_EQ(eh.last(), "FTP: No passive mode here.");
}

TEST_F(FtpDataScripted, ATransferThatBrokeAfterDataMovedIsNotRetried)
{
    FtpScript srv;
    script(srv, [&](const std::string& cmd, FtpScript::Session& ctl) {
        if (!starts(cmd, "RETR")) {
            ctl.reply("502 No.");
            return;
        }
        Fd d = ctl.data();
        ctl.reply("150 Here it comes.");
        d.write_all(pattern(20000));
        d.reset();
        ctl.reply("426 Broken.");
    });
    KV_FtpMan ftp;
    setup(ftp, srv, KV_FTP_CONN_AUTO);
    auto log = fetch_log("broken.log", 0);
    KV_FtpActGet act(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log.get());
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_FALSE(act.executed());
    EXPECT_EQ(srv.count("RETR"), 1);
    EXPECT_EQ(srv.count("PORT"), 0);
    EXPECT_EQ(eh.last(), "FTP: Broken.");
}

// A server that goes away in the middle of a file (its process killed)
// closes both connections without a reply: the person reads that the
// connection was lost, not a word about the download's inner pieces.
TEST_F(FtpDataScripted, AServerThatGoesAwayMidFileIsReportedAsALostConnection)
{
    FtpScript srv;
    script(srv, [&](const std::string& cmd, FtpScript::Session& ctl) {
        if (!starts(cmd, "RETR")) {
            ctl.reply("502 No.");
            return;
        }
        Fd d = ctl.data();
        ctl.reply("150 Here it comes.");
        // More than the sockets hold: the client has taken most of it when
        // the server goes.
        d.write_all(pattern(4 << 20));
        d.reset();
        ctl.close();
    });
    KV_FtpMan ftp;
    setup(ftp, srv);
    auto log = fetch_log("gone.log", 8 << 20);
    KV_FtpActGet act(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log.get());
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_FALSE(act.executed());
    EXPECT_EQ(eh.last(), "FTP: The connection to the server was lost.");
}

TEST_F(FtpDataScripted, APassiveReplyNamingAnotherHostReachesTheControlHost)
{
    const std::string file = pattern(7000);
    FtpScript srv;
    script(srv, [&](const std::string& cmd, FtpScript::Session& ctl) {
        if (!starts(cmd, "RETR")) {
            ctl.reply("502 No.");
            return;
        }
        ctl.transfer(file, "226 Done.");
    });
    // A host that would swallow the connection attempt.
    srv.pasv_host = "192,0,2,1";
    KV_FtpMan ftp;
    setup(ftp, srv);
    auto log = fetch_log("foreign.log", 0);
    KV_FtpActGet act(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log.get());
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_TRUE(act.executed()) << eh.last();
    EXPECT_TRUE(stored(*log) == file);
}

TEST_F(FtpDataScripted, ARetryAfterAControlTimeOutDoesNotReconnect)
{
    // RETR is never answered.
    FtpScript srv;
    script(srv, [](const std::string&, FtpScript::Session&) {});
    KV_FtpMan ftp;
    setup(ftp, srv, KV_FTP_CONN_AUTO);
    opts.set_tmout_cmd_resp(1);
    ftp.set_opts(opts);
    auto log = fetch_log("tmo.log", 0);
    KV_FtpActGet act(KV_TRANS_MODE_BINARY, "/f.bin", "", 0, log.get());
    ftp.exec(eh, act, nullptr);
    EXPECT_FALSE(act.executed());
    EXPECT_TRUE(act.timed_out());
    EXPECT_FALSE(ftp.connected());
    EXPECT_EQ(srv.count("RETR"), 1);
    EXPECT_EQ(srv.count("PORT"), 0);
    EXPECT_EQ(srv.conns(), 1);
}

TEST_F(FtpDataScripted, AListingWithoutAStoreArrivesAsMessages)
{
    // Lines cut at odd places across blocks, LF and CR LF ends mixed, the
    // last line without an end.
    const std::vector<std::string> blocks = {
        "-rw-r--r-- 1 joe staff 12 Jan 01  2024 one.txt\r\n-rw-r--r-- 1 joe st",
        "aff 3 Jan 01  2024 two.txt\ndrwxr-xr-x 2 joe staff 4096 Jan 01  2024 sub\r",
        "\ntotal 9\r\n\r\n-rw-r--r-- 1 joe staff 77 Jan 01  2024 last one.txt"};
    FtpScript srv;
    script(srv, [&](const std::string& cmd, FtpScript::Session& ctl) {
        if (!starts(cmd, "LIST")) {
            ctl.reply("502 No.");
            return;
        }
        Fd d = ctl.data();
        ctl.reply("150 Listing.");
        for (const std::string& b : blocks) {
            d.write_all(b);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        d.reset();
        ctl.reply("226 Done.");
    });
    KV_FtpMan ftp;
    setup(ftp, srv);
    opts.set_sz_unrel(true);
    ftp.set_opts(opts);
    KV_Informer gui;
    KV_FtpActListParams params(nullptr, &gui, transtest::path_of({"/", "home"}));
    KV_FtpActList list(params);
    ASSERT_TRUE(ftp.exec(eh, list, nullptr));
    EXPECT_TRUE(list.executed()) << eh.last();
    EXPECT_EQ(srv.count("LIST"), 1);

    std::vector<std::string> names;
    int messages = 0;
    while (KV_Msg* m = gui.pop()) {
        if (m->type() == KV_MSG_TREE_SCAN) {
            ++messages;
            auto* scan = static_cast<KV_MsgTreeScan*>(m);
            for (uint32_t i = 0; i < scan->nodes.size(); ++i) {
                const KV_FileTreeNode* n = scan->nodes.at(i);
                names.push_back(n->name().data());
                if (n->name() == "two.txt") {
                    const auto& fd = static_cast<const KV_FileDataExt&>(n->fdc());
                    EXPECT_EQ(fd.type(), KV_FD_DATA_EXT);
                    EXPECT_STREQ(fd.user().data(), "joe");
                    EXPECT_STREQ(fd.group().data(), "staff");
                    EXPECT_FALSE(fd.valid_size(false));
                    EXPECT_EQ(fd.size(true), 3);
                }
            }
        }
        delete m;
    }
    EXPECT_GE(messages, 2);
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.txt", "sub", "last one.txt"}));
}

// A listing of 8 MB without a line end ends as a failure with a clear error
// once its line passes the limit (the server's writes fail once the client
// hung up).
TEST_F(FtpDataScripted, AnEndlessListingLineFailsWithAClearError)
{
    FtpScript srv;
    script(srv, [&](const std::string& cmd, FtpScript::Session& ctl) {
        if (!starts(cmd, "LIST")) {
            ctl.reply("502 No.");
            return;
        }
        Fd d = ctl.data();
        ctl.reply("150 Listing.");
        const std::string block(65536, 'z');
        for (size_t n = 0; n < (8u << 20) && d.write_all(block); n += block.size()) {
        }
        d.reset();
        ctl.reply("226 Done.");
    });
    KV_FtpMan ftp;
    setup(ftp, srv);
    KV_FileListStore store(true, nullptr);
    KV_FtpActListParams params(&store, nullptr, transtest::path_of({"/"}));
    KV_FtpActList list(params);
    ftp.exec(eh, list, nullptr);
    EXPECT_FALSE(list.executed());
    EXPECT_EQ(eh.last(), std::string("FTP: ") + KV_FtpActList::too_long_msg);
    EXPECT_EQ(store.entries().size(), 0u);
    EXPECT_EQ(srv.count("LIST"), 1);
}

TEST_F(FtpDataScripted, ADirectDownloadOpensNoDataConnection)
{
    // The other server fetches the data: this one only answers.
    FtpScript srv;
    script(srv, [](const std::string& cmd, FtpScript::Session& ctl) {
        if (starts(cmd, "RETR")) {
            ctl.reply("150 Sending to the other server.");
            ctl.reply("226 Done.");
        } else {
            ctl.reply("502 No.");
        }
    });
    KV_FtpMan ftp;
    setup(ftp, srv, KV_FTP_CONN_AUTO);
    // The pair's set-up leaves the server passive.
    KV_FtpActPasv pasv;
    ASSERT_TRUE(ftp.exec(eh, pasv, nullptr));
    ASSERT_TRUE(pasv.executed()) << eh.last();
    ASSERT_TRUE(ftp.passive());
    ftp.set_last_conn_mode(KV_FTP_CONN_PASSIVE);

    KV_FtpActGetDirect act("/src.bin", 4096);
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_TRUE(act.executed()) << eh.last();
    const std::vector<std::string> cmds = srv.cmds();
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ(cmds[cmds.size() - 2], "REST 4096");
    EXPECT_EQ(cmds.back(), "RETR /src.bin");
    EXPECT_EQ(srv.count("TYPE"), 0);
    EXPECT_EQ(srv.count("PASV"), 1);
    EXPECT_EQ(srv.count("PORT"), 0);
    EXPECT_FALSE(ftp.passive());
    EXPECT_EQ(ftp.last_conn_mode(), KV_FTP_CONN_PASSIVE);
}

TEST_F(FtpDataScripted, AnUnknownTransferModeSendsNothing)
{
    FtpScript srv;
    script(srv, [](const std::string&, FtpScript::Session& ctl) { ctl.reply("502 No."); });
    KV_FtpMan ftp;
    setup(ftp, srv);
    auto log = fetch_log("mode.log", 0);
    KV_FtpActGet act(static_cast<KV_TRANS_MODE>(7), "/f.bin", "", 0, log.get());
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_FALSE(act.executed());
    EXPECT_EQ(srv.count("TYPE"), 0);
    EXPECT_EQ(srv.count("PASV"), 0);
    EXPECT_EQ(srv.count("RETR"), 0);
}

// ---------------------------------------------------------------------------
// Whole downloads through the transfer manager into a local folder

namespace {

namespace fs = std::filesystem;

// The server holds the folder /pub with the file f.bin and the folder sub,
// which holds f.bin too; the listings give f.bin `listed` bytes, RETR sends `body`.
// `on_retr` runs (on the thread of the connection that asked) before the data
// goes out.
class FtpDownload : public TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        root = dir.path();
        for (const char* sub : {"/tmp", "/dst", "/outside"})
            fs::create_directories(root + sub);
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (root + "/tmp").c_str()));
    }
    void TearDown() override
    {
        tm.reset();
        ftp.reset();
        local.reset();
        srv.reset();
    }

    void serve(const std::string& cmd, FtpScript::Session& ctl)
    {
        const size_t sp = cmd.find(' ');
        const std::string arg = sp == std::string::npos ? std::string() : cmd.substr(sp + 1);
        if (starts(cmd, "PWD")) {
            ctl.reply("257 \"" + ctl.cwd + "\" is the current folder.");
        } else if (starts(cmd, "CWD")) {
            ctl.cwd = arg;
            ctl.reply("250 Ok.");
        } else if (starts(cmd, "LIST")) {
            const std::string at = arg.empty() || arg[0] == '-' ? ctl.cwd : arg;
            const std::string size = std::to_string(listed.load());
            std::string text = "-rw-r--r-- 1 joe staff " + size + " Jan 01  2024 f.bin\r\n";
            if (at == "/" || at.empty())
                text = "drwxr-xr-x 2 joe staff 4096 Jan 01  2024 pub\r\n";
            else if (at.find("sub") == std::string::npos)
                text += "drwxr-xr-x 2 joe staff 4096 Jan 01  2024 sub\r\n";
            ctl.transfer(text, "226 Done.");
        } else if (starts(cmd, "RETR")) {
            if (on_retr)
                on_retr();
            ctl.transfer(body, "226 Done.");
        } else {
            ctl.reply("502 No.");
        }
    }

    // Copies `names` of the server's /pub into dst, every question answered
    // Yes, each failing file retried `retries` times; the request's final
    // status as its log records it.
    KV_REQ_STAT download(const std::vector<std::string>& names, uint32_t retries)
    {
        srv = std::make_unique<FtpScript>();
        script(*srv, [this](const std::string& cmd, FtpScript::Session& ctl) { serve(cmd, ctl); });
        KV_FileManParamsStd lp;
        lp.set_name("Local");
        lp.opts_std().set_ntavos(2);
        local = std::make_unique<KV_FileManStd>(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
        EXPECT_TRUE(local->init(&lp));
        EXPECT_TRUE(local->start());
        KV_FileManParamsFtp fp;
        fp.set_name("Ftp");
        fp.set_dst_addr(srv->dest().c_str());
        fp.set_ldata(KV_FtpLoginData("joe", "pw", ""));
        fp.opts_ftp().set_ntavos(1);
        fp.opts_ftp().ftp().set_tmout_cmd_resp(5);
        fp.opts_ftp().ftp().set_conn_mode(KV_FTP_CONN_PASSIVE);
        fp.opts_ftp().set_rest_wait(0);
        fp.opts_ftp().set_nretries(3);
        ftp = std::make_unique<KV_FileManFtp>(KV_FileManId(KV_DsId(2, "Ftp", "joe", "srv"), 1));
        EXPECT_TRUE(ftp->init(&fp));
        EXPECT_TRUE(ftp->start());
        tm = std::make_unique<KV_FileTransMan>();
        KV_FileTransManOpts o;
        o.set_auto_rm_req(0);
        o.set_auto_rm_req_st(0);
        o.set_nfretries(retries);
        tm->set_opts(o);
        EXPECT_TRUE(tm->init());
        EXPECT_TRUE(tm->start());

        KV_PathDef from;
        EXPECT_TRUE(fp.opts().man_path().split_path("/pub", from, true));
        from.prepend("Ftp");
        KV_PathDef to;
        EXPECT_TRUE(lp.opts().man_path().split_path((root + "/dst").c_str(), to, true));
        to.prepend("Local");
        KVTL::KV_ListVal<KV_String> list;
        for (const auto& n : names)
            list.add(n.c_str());
        const KVTL::KV_ListVal<KV_String> none;
        KV_FileReqTransParamsCp p;
        p.set_forced_exec(KV_FEXEC_FORCED);
        if (!tm->add_req(new KV_FileReqTransCp(ftp.get(), local.get(), from, to, list, none, p)))
            return KV_REQ_STAT_QUEUED;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (std::chrono::steady_clock::now() < until) {
            const auto logs = transtest::log_files(root + "/tmp", 2);
            if (logs.size() == 1) {
                const KV_REQ_STAT st = transtest::log_status<KV_FileReqTransCp>(logs[0]);
                if (st == KV_REQ_STAT_COMPLETED || st == KV_REQ_STAT_ERROR ||
                    st == KV_REQ_STAT_CANCELLED) {
                    for (const auto& m : transtest::log_msgs<KV_FileReqTransCp>(logs[0]))
                        msgs += m + "\n";
                    for (const auto& m : transtest::log_lines<KV_FileReqTransCp>(
                             logs[0], KV_FILE_REQ_LOG_ELEM_FILEOP_CP))
                        msgs += "item: " + m + "\n";
                    return st;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return KV_REQ_STAT_RUNNING;
    }

    // The names of a folder, hidden ones included.
    static std::vector<std::string> names_in(const std::string& folder)
    {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(folder))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string root;
    // Written by a RETR on one connection, read by a LIST on another.
    std::atomic<int64_t> listed{0};
    std::string body;
    std::function<void()> on_retr;
    std::string msgs;
    std::unique_ptr<FtpScript> srv;
    std::unique_ptr<KV_FileManStd> local;
    std::unique_ptr<KV_FileManFtp> ftp;
    std::unique_ptr<KV_FileTransMan> tm;
};

} // namespace

TEST_F(FtpDownload, ASizeOtherThanListedNeverStandsUnderTheName)
{
    const struct
    {
        const char* what;
        int64_t listed;
        size_t sent;
        bool relisted; // the server lists the size it sent once it has sent it
    } cases[] = {
        {"more bytes than listed", 3000, 5000, false},
        {"fewer bytes than listed", 5000, 3000, false},
        {"a file that changed while it was listed", 3000, 5000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        fs::remove_all(root + "/dst");
        fs::remove_all(root + "/tmp");
        fs::create_directories(root + "/dst");
        fs::create_directories(root + "/tmp");
        msgs.clear();
        listed = c.listed;
        body = pattern(c.sent);
        ASSERT_TRUE(write_file(root + "/dst/f.bin", "the file as it was"));
        on_retr = nullptr;
        if (c.relisted)
            on_retr = [this, c] { listed = static_cast<int64_t>(c.sent); };
        if (c.relisted) {
            // Fetched again with the size the fresh listing shows.
            EXPECT_EQ(download({"f.bin"}, 20), KV_REQ_STAT_COMPLETED) << msgs;
            EXPECT_TRUE(read_file(root + "/dst/f.bin") == body);
            EXPECT_EQ(names_in(root + "/dst"), std::vector<std::string>{"f.bin"});
            EXPECT_EQ(srv->count("RETR"), 2) << msgs;
            continue;
        }
        // Retries enough that a loop over them would show.
        EXPECT_EQ(download({"f.bin"}, 20), KV_REQ_STAT_ERROR) << msgs;
        EXPECT_EQ(read_file(root + "/dst/f.bin"), "the file as it was");
        EXPECT_EQ(names_in(root + "/dst"), std::vector<std::string>{"f.bin"})
            << "no temporary file is left";
        EXPECT_NE(msgs.find("has changed"), std::string::npos) << msgs;
        EXPECT_NE(msgs.find("with another length than it lists"), std::string::npos) << msgs;
        // The server lists the file as before: fetching it again would bring
        // the same bytes.
        EXPECT_EQ(srv->count("RETR"), 1) << msgs;
    }
}

TEST_F(FtpDownload, LinksInTheDestinationAreNeverFollowed)
{
    listed = 4000;
    body = pattern(4000);
    const std::string outside = root + "/outside";
    const struct
    {
        const char* what;
        const char* item; // what the request copies from /pub
        std::function<void()> plant;
        KV_REQ_STAT want;
    } cases[] = {
        {"a link at the file's name", "f.bin",
         [&] {
             ASSERT_TRUE(write_file(outside + "/victim", "untouched"));
             fs::create_symlink(outside + "/victim", root + "/dst/f.bin");
         },
         KV_REQ_STAT_COMPLETED},
        {"a dangling link at the file's name", "f.bin",
         [&] { fs::create_symlink(outside + "/made", root + "/dst/f.bin"); },
         KV_REQ_STAT_COMPLETED},
        // The folder the transfer made is swapped for a link while the file
        // is on its way.
        {"a link at a folder on the way", "sub",
         [&] {
             on_retr = [&] {
                 fs::remove_all(root + "/dst/sub");
                 fs::create_directory_symlink(outside, root + "/dst/sub");
             };
         },
         KV_REQ_STAT_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        for (const char* sub : {"/dst", "/tmp", "/outside"}) {
            fs::remove_all(root + sub);
            fs::create_directories(root + sub);
        }
        msgs.clear();
        on_retr = nullptr;
        c.plant();
        const auto before = names_in(outside);
        const std::string victim = read_file(outside + "/victim");
        EXPECT_EQ(download({c.item}, 1), c.want) << msgs;
        EXPECT_EQ(names_in(outside), before) << "nothing is made through a link";
        EXPECT_EQ(read_file(outside + "/victim"), victim) << "nothing is written through a link";
        if (c.want == KV_REQ_STAT_COMPLETED) {
            EXPECT_FALSE(fs::is_symlink(root + "/dst/f.bin"));
            EXPECT_TRUE(read_file(root + "/dst/f.bin") == body);
            EXPECT_EQ(names_in(root + "/dst"), std::vector<std::string>{"f.bin"});
        }
    }
}

// An upload's data connection is up before STOR goes out (passive mode) or
// before the server answered it (active mode), and a new data session makes
// its first block at once: no byte of the file may go before the answer,
// which some servers need, and then the whole file goes.
TEST_F(FtpDataScripted, AnUploadSendsOnlyAfterItsCommandWasAnswered)
{
    const std::string data = pattern(10000, 3);
    const std::string src = dir / "up.bin";
    ASSERT_TRUE(write_file(src, data));
    for (const KV_FTP_CONN_MODE mode : {KV_FTP_CONN_PASSIVE, KV_FTP_CONN_ACTIVE}) {
        SCOPED_TRACE(mode == KV_FTP_CONN_PASSIVE ? "passive" : "active");
        FtpScript srv;
        std::string early;
        std::string got;
        script(srv, [&](const std::string& cmd, FtpScript::Session& s) {
            if (!starts(cmd, "STOR")) {
                s.reply("502 No.");
                return;
            }
            Fd d = s.data();
            // What comes before the answer came too early.
            early = d.read_n(1, 300);
            s.reply("150 Send it.");
            bool eof = false;
            got = early + d.read_to_eof(eof, 5000);
            d.reset();
            s.reply(eof ? "226 Stored." : "426 No end.");
        });
        KV_FtpMan ftp;
        setup(ftp, srv, mode);
        KV_FileData fd("up.bin", "Jan 01 2024", static_cast<int64_t>(data.size()), KV_Time());
        fd.set_fd_flags(KV_FD_SIZE, 0);
        KV_TransLogCp log(nullptr, src.c_str(), fd, transtest::path_of({"/", "up.bin"}),
                          transtest::path_of({"/", "up.bin"}));
        log.set_flags_init(false, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        ASSERT_TRUE(log.set_name((dir / "up.log").c_str()));
        ASSERT_TRUE(log.create(eh));
        KV_FtpActPut act(KV_TRANS_MODE_BINARY, "", "/up.bin", &log, 0);
        ASSERT_TRUE(ftp.exec(eh, act, nullptr));
        EXPECT_TRUE(act.executed()) << eh.last();
        EXPECT_EQ(early, "");
        EXPECT_TRUE(got == data) << got.size() << " bytes";
    }
}
