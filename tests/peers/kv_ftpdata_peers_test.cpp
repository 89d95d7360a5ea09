// FTP data connections and the transfer and listing actions against real
// servers on loopback: vsftpd (passive and active, plain and FTPS,
// directly, through a SOCKS proxy's BIND and through an HTTP CONNECT proxy)
// and scripted pyftpdlib servers (no REST, a foreign passive address, a data
// connection closed early, a listing whose last line has no line end).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_fileliststore.h"
#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpacttrans.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"
#include "requests/kv_filetreenode.h"
#include "support/kv_childproc.h"
#include "support/kv_ftppeer.h"
#include "support/kv_nettest.h"
#include "support/kv_testtools.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_transtest.h"

namespace {

using namespace kvtest;
namespace fs = std::filesystem;

std::string random_bytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

class FtpData : public FtpPeerTest
{
protected:
    // A sub-log in the test folder that keeps the data (a download's).
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
        return log;
    }
    // A sub-log whose data is the local file `src` (an upload's).
    std::unique_ptr<KV_TransLogCp> send_log(const std::string& name, const std::string& src)
    {
        KV_FileData fd("f.bin", "Jan 01 2024", static_cast<int64_t>(fs::file_size(src)), KV_Time());
        fd.set_fd_flags(KV_FD_SIZE, 0);
        auto log = std::make_unique<KV_TransLogCp>(nullptr, src.c_str(), fd,
                                                   transtest::path_of({"/", "f.bin"}),
                                                   transtest::path_of({"/", "g.bin"}));
        log->set_flags_init(false, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        EXPECT_TRUE(log->set_name((dir / name).c_str()));
        EXPECT_TRUE(log->create(eh));
        return log;
    }
    bool sent_prefix(const std::string& head)
    {
        for (const SessLog::Line& l : log.lines()) {
            if (l.kind == KV_SESS_LOG_SENT && l.text.rfind(head, 0) == 0)
                return true;
        }
        return false;
    }
    // What the sub-log holds, as the file it would make.
    std::string data_of(KV_TransLogCp& log)
    {
        const std::string out = dir / "out.bin";
        KV_File f(out.c_str(), "wb");
        EXPECT_TRUE(f.open());
        EXPECT_TRUE(log.copy_frags(f, nullptr));
        f.close();
        return read_file(out);
    }
    // A file in the anonymous folder, owned by "ftp".
    void put_file(const std::string& name, const std::string& bytes)
    {
        ASSERT_TRUE(write_file(pub() + "/" + name, bytes));
        give_to_ftp(pub() + "/" + name);
    }
    // A whole download of /pub/<name>.
    std::string get(KV_FtpMan& ftp, const std::string& name, bool& executed,
                    KV_TRANS_MODE mode = KV_TRANS_MODE_BINARY)
    {
        auto log = fetch_log("get.log", 0);
        KV_FtpActGet act(mode, ("/pub/" + name).c_str(), "", 0, log.get());
        EXPECT_TRUE(ftp.exec(eh, act, nullptr));
        executed = act.executed();
        return data_of(*log);
    }
    // A whole upload of the local file to /pub/<name>.
    bool put(KV_FtpMan& ftp, const std::string& src, const std::string& name, int64_t rest = 0)
    {
        auto log = send_log("put.log", src);
        KV_FtpActPut act(KV_TRANS_MODE_BINARY, "", ("/pub/" + name).c_str(), log.get(), rest);
        EXPECT_TRUE(ftp.exec(eh, act, nullptr));
        return act.executed();
    }
};

// ---------------------------------------------------------------------------
// vsftpd in every connection mode and security

struct Way
{
    const char* name;
    KV_FTP_CONN_MODE mode;
    KV_FTP_SECURE sec;
};

class VsftpdData : public FtpData, public ::testing::WithParamInterface<Way>
{
protected:
    bool start(const std::string& extra = "")
    {
        std::string conf = extra;
        if (GetParam().sec != KV_FTP_SECURE_NONE)
            conf += tls_conf("127.0.0.1", GetParam().sec == KV_FTP_SECURE_IMPLICIT);
        return start_vsftpd(conf);
    }
    void setup_way(KV_FtpMan& ftp) { setup(ftp, GetParam().sec, GetParam().mode); }
};

TEST_P(VsftpdData, DownloadAndUploadAreByteExact)
{
    if (!start())
        GTEST_SKIP() << kNoVsftpd;
    const std::string big = random_bytes(1 << 20, 7);
    put_file("big.bin", big);
    KV_FtpMan ftp;
    setup_way(ftp);

    bool executed = false;
    const std::string got = get(ftp, "big.bin", executed);
    EXPECT_TRUE(executed) << eh.last() << server_log();
    EXPECT_TRUE(got == big) << got.size();
    EXPECT_TRUE(sent("TYPE I"));
    EXPECT_TRUE(sent("RETR /pub/big.bin"));
    if (GetParam().mode == KV_FTP_CONN_PASSIVE)
        EXPECT_TRUE(sent("PASV"));
    else
        EXPECT_TRUE(sent_prefix("PORT 127,0,0,1,"));

    const std::string src = dir / "up.src";
    const std::string up = random_bytes((1 << 20) + 17, 8);
    ASSERT_TRUE(write_file(src, up));
    EXPECT_TRUE(put(ftp, src, "up.bin")) << eh.last() << server_log();
    EXPECT_TRUE(read_file(pub() + "/up.bin") == up);
    EXPECT_TRUE(sent("STOR /pub/up.bin"));
    EXPECT_EQ(ftp.data_conn(), nullptr);
}

TEST_P(VsftpdData, RestResumesADownload)
{
    if (!start())
        GTEST_SKIP() << kNoVsftpd;
    const std::string big = random_bytes(1 << 20, 9);
    put_file("big.bin", big);
    KV_FtpMan ftp;
    setup_way(ftp);

    // The first 300000 bytes are in; the rest comes after REST.
    auto log = fetch_log("resume.log", 0);
    const int64_t at = 300000;
    ASSERT_TRUE(log->write_at(0, reinterpret_cast<const unsigned char*>(big.data()), at));
    // A stored count beyond the restart point is cut back to it.
    ASSERT_TRUE(log->write_at(at, reinterpret_cast<const unsigned char*>("junk"), 4));
    KV_FtpActGet act(KV_TRANS_MODE_BINARY, "/pub/big.bin", "", at, log.get());
    ASSERT_TRUE(ftp.exec(eh, act, nullptr));
    EXPECT_TRUE(act.executed()) << eh.last();
    EXPECT_TRUE(sent("REST 300000"));
    EXPECT_EQ(act.offset(), static_cast<int64_t>(big.size()));
    EXPECT_TRUE(data_of(*log) == big);
}

TEST_P(VsftpdData, FourFragmentsTakeExactlyTheirBytes)
{
    if (!start())
        GTEST_SKIP() << kNoVsftpd;
    const int64_t size = (1 << 20) + 3;
    const std::string big = random_bytes(size, 10);
    put_file("big.bin", big);
    KV_FtpMan ftp;
    setup_way(ftp);

    auto log = fetch_log("frags.log", size, true);
    log->man_frag().set_min_size(size / 4 + 1);
    ASSERT_TRUE(log->init_frags(true));
    std::vector<KV_FileFrag*> frags;
    for (;;) {
        KV_FileFrag* f = nullptr;
        ASSERT_TRUE(log->man_frag().take(&f));
        if (!f)
            break;
        f->set_state(KV_FileFrag::IN_TRANSFER);
        frags.push_back(f);
    }
    ASSERT_EQ(frags.size(), 4u);
    // Backwards, so that each fragment but the last is cut short of the file's
    // end by the client.
    for (auto it = frags.rbegin(); it != frags.rend(); ++it) {
        KV_FileFrag* f = *it;
        KV_FtpActGet act("/pub/big.bin", "", f, log.get());
        ASSERT_TRUE(ftp.exec(eh, act, nullptr));
        EXPECT_TRUE(act.executed()) << eh.last() << " fragment at " << f->begin();
        EXPECT_TRUE(f->done());
        EXPECT_EQ(f->pos(), f->end());
        f->set_state(KV_FileFrag::DONE);
    }
    EXPECT_TRUE(data_of(*log) == big);
    EXPECT_EQ(eh.count(), 0u) << eh.last();
}

TEST_P(VsftpdData, AsciiModeTravelsAsTheServerWritesIt)
{
    if (!start("ascii_download_enable=YES\nascii_upload_enable=YES\n"))
        GTEST_SKIP() << kNoVsftpd;
    put_file("text.txt", "one\ntwo\n");
    KV_FtpMan ftp;
    setup_way(ftp);
    bool executed = false;
    const std::string got = get(ftp, "text.txt", executed, KV_TRANS_MODE_ASCII);
    EXPECT_TRUE(executed) << eh.last();
    EXPECT_TRUE(sent("TYPE A"));
    EXPECT_EQ(got, "one\r\ntwo\r\n");
}

TEST_P(VsftpdData, ListingIsParsed)
{
    if (!start())
        GTEST_SKIP() << kNoVsftpd;
    put_file("a.txt", "12345");
    fs::create_directories(pub() + "/sub");
    KV_FtpMan ftp;
    setup_way(ftp);
    opts.set_list_flags(3);
    ftp.set_opts(opts);
    KV_FtpActCd cd("/pub");
    ASSERT_TRUE(ftp.exec(eh, cd, nullptr));
    ASSERT_TRUE(cd.executed()) << eh.last();

    KV_FileListStore store(true, nullptr);
    KV_FtpActListParams params(&store, nullptr, transtest::path_of({"/", "pub"}));
    KV_FtpActList list(params);
    ASSERT_TRUE(ftp.exec(eh, list, nullptr));
    EXPECT_TRUE(list.executed()) << eh.last();
    EXPECT_TRUE(sent("LIST -aL"));
    KV_FileTreeNode* n = nullptr;
    ASSERT_TRUE(store.find("a.txt", &n));
    EXPECT_EQ(n->fdc().size(false), 5);
    ASSERT_TRUE(store.find("sub", &n));
    EXPECT_TRUE(n->is_dir());
    EXPECT_TRUE(store.find("old.txt"));
}

const Way kWays[] = {
    {"PassivePlain", KV_FTP_CONN_PASSIVE, KV_FTP_SECURE_NONE},
    {"ActivePlain", KV_FTP_CONN_ACTIVE, KV_FTP_SECURE_NONE},
    {"PassiveExplicitTls", KV_FTP_CONN_PASSIVE, KV_FTP_SECURE_EXPLICIT},
    {"ActiveExplicitTls", KV_FTP_CONN_ACTIVE, KV_FTP_SECURE_EXPLICIT},
};

INSTANTIATE_TEST_SUITE_P(Ways, VsftpdData, ::testing::ValuesIn(kWays),
                         [](const ::testing::TestParamInfo<Way>& i) { return i.param.name; });

} // namespace
