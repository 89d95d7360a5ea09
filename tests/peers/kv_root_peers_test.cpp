// The engine root against real servers on loopback: a data-source file that
// names a vsftpd and an Apache with mod_dav over HTTPS, trees copied through
// the façade each way and compared byte for byte, a settings change reaching
// the live manager, the save and the shut-down; and the update check over
// HTTPS with the run's own CA.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanparamsftp.h"
#include "foundation/kv_file.h"
#include "net/kv_sslsess.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_autoupdtman.h"
#include "root/kv_filemanpool.h"
#include "root/kv_init.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"
#include "support/kv_apache.h"
#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"
#include "support/kv_sshd.h"
#include "support/kv_testdir.h"
#include "support/kv_tlstest.h"

namespace {

namespace fs = std::filesystem;
using Names = KVTL::KV_ListVal<KV_String>;

struct names : Names
{
    names(std::initializer_list<const char*> l)
    {
        for (const char* s : l)
            add(s);
    }
};

const std::string big = [] {
    std::string s(300000, '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>((i * 7919u) >> 3);
    return s;
}();

class RootPeers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // As the program starts: the XML library of WebDAV among the rest.
        ASSERT_TRUE(kv_init("C"));
        inited = true;
        ASSERT_TRUE(tmp.ok());
        for (const char* sub : {"settings", "tmp", "systmp", "work", "work/src", "work/src/sub"})
            ASSERT_TRUE(KV_File::mkdir((tmp / sub).c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, (tmp / "settings").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (tmp / "tmp").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, (tmp / "systmp").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SRV_CERTS, (tmp / "certs.bin").c_str()));
        KV_SSLSess::man_cert.clear();
        ASSERT_TRUE(kvtest::write_file(tmp / "work/src/a.txt", "alpha\n"));
        ASSERT_TRUE(kvtest::write_file(tmp / "work/src/sub/b.bin", big));
    }
    void TearDown() override
    {
        if (pool) {
            EXPECT_TRUE(pump_until([this] { return pool->term(); }));
            pool.reset();
        }
        KV_SSLSess::man_cert.clear();
        for (KV_Msg* m : fileops)
            KV_Informer::destroy(m);
        if (inited)
            kv_cleanup();
    }

    // Starts vsftpd over an anonymous root whose "pub" the client may write.
    bool start_vsftpd()
    {
        const std::string exe = kvtest::find_program("/usr/sbin/vsftpd");
        const passwd* pw = ::getpwnam("ftp");
        if (exe.empty() || ::getuid() != 0 || pw == nullptr)
            return false;
        fs::permissions(ftp_dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                            fs::perms::group_exec | fs::perms::others_read |
                                            fs::perms::others_exec);
        fs::create_directories(ftp_dir / "root/pub");
        EXPECT_EQ(::chown((ftp_dir / "root/pub").c_str(), pw->pw_uid, pw->pw_gid), 0);
        fs::create_directories("/var/run/vsftpd/empty");
        std::ofstream(ftp_dir / "vsftpd.conf")
            << "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" << ftp_port
            << "\nbackground=NO\nanonymous_enable=YES\nanon_root=" << ftp_dir / "root"
            << "\nno_anon_password=YES\nftp_username=ftp\nseccomp_sandbox=NO\npasv_enable=YES\n"
               "secure_chroot_dir=/var/run/vsftpd/empty\nxferlog_enable=NO\nwrite_enable=YES\n"
               "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
               "anon_other_write_enable=YES\nanon_umask=022\n";
        vsftpd = std::make_unique<kvtest::ChildProc>(
            exe, std::vector<std::string>{ftp_dir / "vsftpd.conf"}, ftp_dir / "vsftpd.log");
        return vsftpd->wait_port(ftp_port);
    }
    bool start_apache()
    {
        if (!kvtest::Apache::installed())
            return false;
        kvtest::ApacheOpts o;
        o.tls = true;
        apache = std::make_unique<kvtest::Apache>(o);
        return apache->start();
    }

    // The engine root on a data-source file naming the servers started.
    void load(const std::string& ds_file)
    {
        ASSERT_TRUE(kvtest::write_file(tmp / "settings/kivrel.ds", ds_file));
        pool = std::make_unique<KV_FileManPool>();
        if (apache) {
            KV_String err;
            ASSERT_TRUE(pool->ssl_ctx().init(
                KV_String(), KV_String(), KV_String(apache->ca_file().c_str()), KV_String(), &err))
                << err.data();
        }
        ASSERT_TRUE(pool->load_ds());
        ASSERT_TRUE(pool->load_req());
        ASSERT_TRUE(pool->man_trans().start());
    }

    void pump()
    {
        while (KV_Msg* m = pool->informer().pop()) {
            if (m->type() == KV_MSG_ERR)
                errors += std::string(static_cast<KV_MsgErrNtf*>(m)->text.data()) + "\n";
            pool->process_ntf(m);
            if (m->type() == KV_MSG_FILEOP)
                fileops.push_back(m);
            else
                KV_Informer::destroy(m);
        }
    }
    bool pump_until(const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            pump();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // Every transfer request has ended; the failures' texts otherwise.
    std::string requests_done()
    {
        std::string failed;
        bool all = pump_until([&] {
            failed.clear();
            bool done = true;
            KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(
                pool->man_trans().man_info().map());
            for (it.first(); !it.end(); it.next()) {
                const KV_REQ_STAT st = it.value()->status();
                if (!KV_FileReq::processed(st))
                    done = false;
                else if (st != KV_REQ_STAT_COMPLETED)
                    failed += std::string(it.value()->descr().data()) + ": " +
                              it.value()->last_err().data() + "\n";
            }
            return done;
        });
        return all ? failed : "requests still running\n" + failed;
    }

    KV_DsTreeNode* node(const char* name) { return pool->tree().find(KV_String(name)); }
    // The engine path of `text` on the live manager `m`.
    static KV_PathDef path(KV_FileMan* m, const std::string& text)
    {
        KV_PathDef p;
        EXPECT_TRUE(m->man_path().split_path(KV_String(text.c_str()), p, true));
        EXPECT_TRUE(p.prepend(m->man_path().dir_pre()));
        return p;
    }

    // Copies work/src's two items to `remote_dir` on `remote` and back into
    // work/<back>; every copy is compared byte for byte.
    void round_trip(KV_FileMan* remote, const std::string& remote_dir, const std::string& on_disk,
                    const char* back)
    {
        KV_FileMan* local =
            pool->reg(KV_FileManId(pool->tree().find(KV_DS_NODE_STD, false)->id(), 0));
        ASSERT_NE(local, nullptr);
        local->lock(false);
        const KV_FileReqTransParamsCp params;
        ASSERT_TRUE(pool->copy(local->id(), remote->id(), path(local, tmp / "work/src"),
                               path(remote, remote_dir), names({"a.txt", "sub"}), params, false,
                               false, false));
        EXPECT_EQ(requests_done(), "") << errors;
        EXPECT_EQ(kvtest::read_file(on_disk + "/a.txt"), "alpha\n");
        EXPECT_TRUE(kvtest::read_file(on_disk + "/sub/b.bin") == big);

        const std::string dst = tmp / "work/" + back;
        ASSERT_TRUE(KV_File::mkdir(dst.c_str()));
        ASSERT_TRUE(pool->copy(remote->id(), local->id(), path(remote, remote_dir),
                               path(local, dst), names({"a.txt", "sub"}), params, false, false,
                               false));
        EXPECT_EQ(requests_done(), "") << errors;
        EXPECT_EQ(kvtest::read_file(dst + "/a.txt"), "alpha\n");
        EXPECT_TRUE(kvtest::read_file(dst + "/sub/b.bin") == big);
        local->unlock(false);
    }

    bool inited = false;
    kvtest::TempDir tmp{"kv_rootpeers"};
    kvtest::TempDir ftp_dir{"kv_rootftp"};
    const uint16_t ftp_port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> vsftpd;
    std::unique_ptr<kvtest::Apache> apache;
    std::unique_ptr<KV_FileManPool> pool;
    std::string errors;
    std::vector<KV_Msg*> fileops;
};

std::string ds_file(uint16_t ftp_port, uint16_t http_port, uint16_t sftp_port = 0)
{
    std::string t = "### Node definition: Kivrel ###\n"
                    "NODE: TYPE = GROUP|DS NAME = Kivrel\n\n"
                    "### Node definition: Ftp ###\n"
                    "NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp\n\n";
    if (ftp_port != 0)
        t += "### Node definition: Vs ###\n"
             "NODE: TYPE = FTP NAME = Kivrel|Ftp|Vs\n"
             "SET DST_ADDR 127.0.0.1:" +
             std::to_string(ftp_port) +
             "\n"
             "SET USER anonymous\n\n";
    t += "### Node definition: Http ###\n"
         "NODE: TYPE = GROUP|HTTP NAME = Kivrel|Http\n\n";
    if (http_port != 0)
        t += "### Node definition: Dav ###\n"
             "NODE: TYPE = HTTP NAME = Kivrel|Http|Dav\n"
             "SET DST_ADDR localhost:" +
             std::to_string(http_port) +
             "\n"
             "SET SECURITY 1\n\n";
    t += "### Node definition: SFtp ###\n"
         "NODE: TYPE = GROUP|SFTP NAME = Kivrel|SFtp\n\n";
    if (sftp_port != 0)
        t += "### Node definition: Ssh ###\n"
             "NODE: TYPE = SFTP NAME = Kivrel|SFtp|Ssh\n"
             "SET DST_ADDR 127.0.0.1:" +
             std::to_string(sftp_port) + "\nSET USER " + kvtest::Sshd::user + "\n\n";
    return t;
}

TEST_F(RootPeers, FtpTreeBothWaysSettingsSaveAndTerm)
{
    if (!start_vsftpd())
        GTEST_SKIP() << "vsftpd is not installed or not run as root";
    load(ds_file(ftp_port, 0));
    KV_DsTreeNode* vs = node("Vs");
    ASSERT_NE(vs, nullptr);
    pool->tree().set_pass(vs->id(), KV_String("test@"));
    KV_FileMan* ftp = pool->reg(KV_FileManId(vs->id(), 0));
    ASSERT_NE(ftp, nullptr);
    EXPECT_EQ(ftp->type(), KV_FILE_MAN_TYPE_FTP);
    ftp->lock(false);
    round_trip(ftp, "/pub", ftp_dir / "root/pub", "back");

    // A settings change reaches the live manager, and is saved.
    KV_DsTreeNode* edit = pool->tree().clone(vs, false);
    ASSERT_NE(edit, nullptr);
    edit->set_inh_params(false);
    static_cast<KV_DsTreeNodeFtp*>(edit)->params_ftp().opts().set_scan_cache(11);
    EXPECT_TRUE(pool->update(vs, edit, 0));
    KV_DsTreeNode::destr_clone(edit);
    KV_FileManParams* now = ftp->clone_params();
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->opts().scan_cache(), 11u);
    KV_FileManParams::destr_clone(now);
    EXPECT_TRUE(pool->save());
    EXPECT_NE(kvtest::read_file(tmp / "settings/kivrel.ds").find("SET SCAN_CACHE 11"),
              std::string::npos);
    ftp->unlock(false);
    EXPECT_TRUE(pump_until([this] { return pool->term(); }));
}

TEST_F(RootPeers, WebDavOverHttpsTreeBothWays)
{
    if (!start_apache())
        GTEST_SKIP() << "apache2 is not installed";
    load(ds_file(0, apache->port()));
    KV_DsTreeNode* dav = node("Dav");
    ASSERT_NE(dav, nullptr);
    KV_FileMan* web = pool->reg(KV_FileManId(dav->id(), 0));
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(web->type(), KV_FILE_MAN_TYPE_HTTP);
    web->lock(false);
    ASSERT_TRUE(KV_File::mkdir(KV_String(apache->path("up").c_str())));
    ASSERT_EQ(::chown(apache->path("up").c_str(), ::getpwnam("www-data")->pw_uid,
                      ::getpwnam("www-data")->pw_gid),
              0);
    round_trip(web, "/up", apache->path("up"), "back");
    web->unlock(false);
}

TEST_F(RootPeers, SftpTreeBothWays)
{
    ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, (tmp / "host-keys.bin").c_str()));
    KV_SshSess::man_key().clear();
    kvtest::Sshd sshd;
    if (!sshd.ready())
        GTEST_SKIP() << sshd.why();
    // The host key is new: the user accepts it.
    kvtest::TrustHost host;
    for (int i = 0; i < 10; ++i)
        host.push(KV_ANS_YES);
    const std::string remote =
        std::string("/home/") + kvtest::Sshd::user + "/kvroot-" + std::to_string(::getpid());
    fs::create_directories(remote);
    ASSERT_EQ(std::system(("chown " + std::string(kvtest::Sshd::user) + " " + remote).c_str()), 0);

    load(ds_file(0, 0, sshd.port()));
    KV_DsTreeNode* ssh = node("Ssh");
    ASSERT_NE(ssh, nullptr);
    pool->tree().set_pass(ssh->id(), KV_String(kvtest::Sshd::pass));
    KV_FileMan* sftp = pool->reg(KV_FileManId(ssh->id(), 0));
    ASSERT_NE(sftp, nullptr);
    EXPECT_EQ(sftp->type(), KV_FILE_MAN_TYPE_SFTP);
    sftp->lock(false);
    round_trip(sftp, remote, remote, "back");
    sftp->unlock(false);
    EXPECT_TRUE(pump_until([this] { return pool->term(); }));
    pool.reset();
    std::error_code ec;
    fs::remove_all(remote, ec);
    KV_SshSess::man_key().clear();
    KV_File::set_path(KV_PATH_HOST_KEYS, "");
}

// The download is queued over HTTPS only, and once: a second check while
// the first download is among the transfer requests queues nothing. What
// the downloaded descriptor says is the unit tests' matter.
TEST_F(RootPeers, UpdateCheckQueuesOneHttpsDownload)
{
    if (!start_apache())
        GTEST_SKIP() << "apache2 is not installed";
    ASSERT_TRUE(KV_File::mkdir(KV_String(apache->path("update").c_str())));
    ASSERT_TRUE(apache->put("update/kivrel.updt", "3.0.0.0\nsetup-3.0.bin\nNew things.\n"));
    load(ds_file(0, 0));
    // The certificate names "localhost": the host check compares names.
    KV_AutoUpdtMan::set_server(
        KV_String(("https://localhost:" + std::to_string(apache->port())).c_str()));
    KV_AutoUpdtMan upd;
    ASSERT_TRUE(upd.init(*pool)) << errors;
    EXPECT_TRUE(upd.man_id().valid());
    auto* n = static_cast<KV_DsTreeNodeHttp*>(node(KV_AutoUpdtMan::node_name));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->params_http().security(), 1u);
    EXPECT_EQ(std::string(n->params_http().dst_addr().data()),
              "localhost:" + std::to_string(apache->port()));
    EXPECT_EQ(std::string(n->params_http().docs().data()), KV_AutoUpdtMan::doc_path);

    ASSERT_TRUE(pump_until([this] {
        KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(
            pool->man_trans().man_info().map());
        for (it.first(); !it.end(); it.next())
            if (it.value()->fileop() == KV_FILEOP_UPDATE_CHECK)
                return true;
        return false;
    }));
    KV_AutoUpdtMan again;
    EXPECT_TRUE(again.init(*pool));
    EXPECT_FALSE(again.man_id().valid()) << "nothing queued";
    size_t reserved = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(tmp / "systmp"))
        ++reserved;
    EXPECT_EQ(reserved, 1u);
    KV_AutoUpdtMan::set_server(KV_String());
}

} // namespace
