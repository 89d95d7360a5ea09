// The HTTP data source end to end through its file manager and workers,
// against Apache with mod_dav: listings, names with blanks and UTF-8,
// MKCOL, MOVE onto an existing name, DELETE of a tree, a plain-HTTP folder
// listed from the documents, downloads (whole, resumed, in fragments),
// uploads and the server's own COPY, Basic authentication; and lighttpd's
// mod_webdav as a second listing peer.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pwd.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "datasources/kv_filemanparamshttp.h"
#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_file.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_tmpfile.h"
#include "http/kv_filemanhttp.h"
#include "http/kv_xml.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "root/kv_filemanpool.h"
#include "support/kv_apache.h"
#include "support/kv_childproc.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_translogcp.h"

namespace fs = std::filesystem;

namespace {

using kvtest::LogErr;

constexpr uint32_t LONG_WAIT_MS = 120000;

std::string pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
    return s;
}

// One elementary copy step, as the transfer worker builds them.
class Step : public KV_FileReqCopy
{
public:
    Step(KV_ErrHandler& eh, KV_FileReqTransCp& t, KV_TransLogCp* log, const KV_ComplPath& src,
         const KV_ComplPath& dst, KV_FileFrag* frag, KV_FILE_TRANS_TYPE type, bool man_eq = true)
        : KV_FileReqCopy(eh, t, log, src, dst, frag, type, man_eq, false)
    {
    }
};

struct Entry
{
    std::string name;
    bool dir;
    int64_t size;
};

// lighttpd with mod_webdav on a port and a folder of the test's own.
class Lighttpd
{
public:
    Lighttpd() : dir_("kvlighttpd"), port_(kvtest::closed_port()) {}
    ~Lighttpd()
    {
        if (proc_)
            proc_->stop();
    }
    static bool installed()
    {
        return !kvtest::find_program("lighttpd").empty() &&
               fs::exists("/usr/lib/lighttpd/mod_webdav.so");
    }
    bool start()
    {
        const passwd* pw = ::getpwnam("www-data");
        if (pw == nullptr || !dir_.ok())
            return false;
        ::chmod(dir_.c_str(), 0755);
        for (const std::string& d : {dir_ / "dav", dir_ / "run"})
            if (::mkdir(d.c_str(), 0755) != 0 || ::chown(d.c_str(), pw->pw_uid, pw->pw_gid) != 0)
                return false;
        std::ofstream(dir_ / "lighttpd.conf")
            << "server.modules = ( \"mod_webdav\" )\n"
            << "server.document-root = \"" << (dir_ / "dav") << "\"\n"
            << "server.bind = \"127.0.0.1\"\nserver.port = " << port_ << "\n"
            << "server.pid-file = \"" << (dir_ / "run/lighttpd.pid") << "\"\n"
            << "server.errorlog = \"" << (dir_ / "run/error.log") << "\"\n"
            << "server.username = \"www-data\"\nserver.groupname = \"www-data\"\n"
            << "webdav.activate = \"enable\"\nwebdav.is-readonly = \"disable\"\n";
        proc_ = std::make_unique<kvtest::ChildProc>(
            kvtest::find_program("lighttpd"),
            std::vector<std::string>{"-D", "-f", dir_ / "lighttpd.conf"}, dir_ / "stdout.log");
        return proc_->wait_port(port_);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string path(const std::string& rel) const { return dir_ / ("dav/" + rel); }
    std::string log() const
    {
        return kvtest::read_file(dir_ / "run/error.log") + kvtest::read_file(dir_ / "stdout.log");
    }

private:
    kvtest::TempDir dir_;
    uint16_t port_;
    std::unique_ptr<kvtest::ChildProc> proc_;
};

class DavPeer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(KV_XmlHelperImpl::init());
        suite = std::make_unique<kvtest::TempDir>("kvdavpeer");
        ASSERT_TRUE(suite->ok());
        fs::create_directory(suite->path() + "/tmp");
        // Sub-log files go to the program's temporary folder.
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (suite->path() + "/tmp").c_str()));
    }
    static void TearDownTestSuite()
    {
        suite.reset();
        KV_XmlHelperImpl::term();
    }

    void TearDown() override
    {
        trans_.reset();
        fm.reset();
        local.reset();
    }

    // Starts Apache; false when it is not installed (the test skips).
    bool start_apache(const kvtest::ApacheOpts& opts = kvtest::ApacheOpts())
    {
        if (!kvtest::Apache::installed())
            return false;
        apache = std::make_unique<kvtest::Apache>(opts);
        EXPECT_TRUE(apache->start()) << apache->log();
        return true;
    }
    // The HTTP data source "web" on `host`.
    void start(const std::string& host, std::initializer_list<const char*> docs = {},
               const KV_HttpLoginData* login = nullptr, bool resume_put = false)
    {
        KV_FileManParamsHttp p;
        p.set_name("web");
        p.opts_http().http().set_can_resume_put(resume_put);
        p.set_dst_addr(host.c_str());
        p.opts_http().set_ntavos(4);
        if (login != nullptr)
            p.set_ldata(*login);
        for (const char* d : docs) {
            bool changed = false;
            ASSERT_TRUE(p.add_doc(d, changed));
        }
        fm = std::make_unique<KV_FileManHttp>(KV_FileManId(KV_DsId(4, "web", host.c_str(), ""), 1));
        ASSERT_TRUE(fm->init(&p));
        ASSERT_TRUE(fm->start());
    }
    // The local disk, and a copy request between it and the web source.
    void start_local(bool to_web)
    {
        KV_FileManParamsStd p;
        p.set_name("Local");
        local = std::make_unique<KV_FileManStd>(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
        ASSERT_TRUE(local->init(&p));
        ASSERT_TRUE(local->start());
        const KVTL::KV_ListVal<KV_String> none;
        KV_PathDef l;
        l.append("Local");
        if (to_web)
            trans_ = std::make_unique<KV_FileReqTransCp>(local.get(), fm.get(), l, path("/"), none,
                                                         none, KV_FileReqTransParamsCp());
        else
            trans_ = std::make_unique<KV_FileReqTransCp>(fm.get(), local.get(), path("/"), l, none,
                                                         none, KV_FileReqTransParamsCp());
    }

    KV_PathDef path(const std::string& text) const
    {
        KV_PathDef p;
        EXPECT_TRUE(fm->man_path().split_path(text.c_str(), p, true));
        EXPECT_TRUE(p.prepend("web"));
        return p;
    }
    KV_ComplPath web(const std::string& text) const
    {
        return KV_ComplPath(fm->man_path(), path(text));
    }
    KV_ComplPath disk(const std::string& abs) const
    {
        KV_PathDef p;
        EXPECT_TRUE(local->man_path().split_path(abs.c_str(), p, true));
        EXPECT_TRUE(p.prepend("Local"));
        return KV_ComplPath(local->man_path(), p);
    }
    static KV_ComplPath data_path(const KV_TransLogCp& log)
    {
        KV_PathDef p;
        EXPECT_TRUE(log.own_path(p));
        return KV_ComplPath(KV_TransLog::tmp_file_man().path_man(), p);
    }
    // A sub-log that keeps the data itself, as the transfer worker makes one.
    std::unique_ptr<KV_TransLogCp> kept_log(const std::string& name, int64_t size, bool multifrag,
                                            int64_t min_size = 0)
    {
        KV_FileData fd(name.c_str(), "", size, KV_Time());
        fd.set_fd_flags(KV_FD_SIZE, 0);
        auto log =
            std::make_unique<KV_TransLogCp>(trans_.get(), "", fd, KV_PathDef(), KV_PathDef());
        log->set_flags_init(true, multifrag, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        if (min_size > 0)
            log->man_frag().set_min_size(min_size);
        KV_PathDef file;
        EXPECT_TRUE(KV_TransLog::tmp_file_man().new_file(KV_PATH_TMP, file, ""));
        EXPECT_TRUE(log->set_path(file));
        EXPECT_TRUE(log->create(trans_->eh()));
        EXPECT_TRUE(log->set_status(KV_TransLogCp::ST_RECEIVING));
        if (multifrag) {
            EXPECT_TRUE(log->init_frags(true));
        }
        return log;
    }
    KV_REQ_STAT run_on(KV_FileMan& m, KV_FileReq* r, KV_FileReq* parent = nullptr)
    {
        KV_FileReqObs obs;
        if (!m.add_req(r, parent, &obs, KV_REQ_STAT_QUEUED))
            return KV_REQ_STAT_ERROR;
        EXPECT_FALSE(obs.wait(LONG_WAIT_MS)) << "request did not end";
        return obs.status();
    }
    KV_REQ_STAT run(KV_FileReq* r) { return run_on(*fm, r); }
    KV_REQ_STAT list(const std::string& dir, std::vector<Entry>& out)
    {
        KV_FileListStore store(true, nullptr);
        const KV_REQ_STAT st = run(new KV_FileReqScan(eh, path(dir), &store, false, false));
        out.clear();
        for (KV_FileTreeNode* n : store.entries()) {
            const KV_FileData& fd = n->fdc();
            out.push_back(
                {fd.name().data(), fd.is_dir(), fd.valid_size(false) ? fd.size(false) : -1});
        }
        std::sort(out.begin(), out.end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });
        return st;
    }
    // The data an unsegmented or fully fetched sub-log holds, written out by
    // the local disk's store step and given its name, as the transfer does
    // once its checks have passed.
    std::string deliver(KV_TransLogCp& log, const std::string& file)
    {
        EXPECT_EQ(run_on(*local,
                         new Step(eh, *trans_, &log, data_path(log), disk(file), nullptr,
                                  KV_FILE_TRANS_TYPE_STORE, false),
                         trans_.get()),
                  KV_REQ_STAT_COMPLETED)
            << eh.all();
        EXPECT_TRUE(local->settle_store(trans_->log().path_dst(), disk(file).path(), true));
        return kvtest::read_file(file);
    }

    static inline std::unique_ptr<kvtest::TempDir> suite;
    kvtest::TempDir tmp{"case", suite->c_str()};
    std::unique_ptr<kvtest::Apache> apache;
    std::unique_ptr<KV_FileManHttp> fm;
    std::unique_ptr<KV_FileManStd> local;
    std::unique_ptr<KV_FileReqTransCp> trans_;
    LogErr eh;
};

#define NEED_APACHE(...)                                                                           \
    do {                                                                                           \
        if (!start_apache(__VA_ARGS__))                                                            \
            GTEST_SKIP() << "apache2 is not installed";                                            \
    } while (false)

TEST_F(DavPeer, ListsFilesAndFoldersWithBlanksAndUtf8)
{
    NEED_APACHE();
    ASSERT_TRUE(apache->put("a.txt", "hello"));
    ASSERT_TRUE(apache->put("b.bin", pattern(3000, 1)));
    start(apache->host());
    std::vector<Entry> e;
    ASSERT_EQ(list("/", e), KV_REQ_STAT_COMPLETED) << eh.all() << apache->log();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].name, "a.txt");
    EXPECT_EQ(e[0].size, 5);
    EXPECT_EQ(e[1].name, "b.bin");
    EXPECT_EQ(e[1].size, 3000);

    // A folder made with MKCOL, a file with a blank and one with UTF-8 in
    // it: the names come back as they went.
    const std::string odd = "caf\xC3\xA9 \xE6\x97\xA5.txt";
    ASSERT_EQ(run(new KV_FileReqMkDir(eh, path("/new dir"))), KV_REQ_STAT_COMPLETED) << eh.all();
    EXPECT_TRUE(fs::is_directory(apache->path("new dir")));
    ASSERT_TRUE(apache->put("new dir/" + odd, "x"));
    ASSERT_TRUE(apache->put("new dir/two words", "yy"));
    ASSERT_EQ(list("/", e), KV_REQ_STAT_COMPLETED) << eh.all();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[2].name, "new dir");
    EXPECT_TRUE(e[2].dir);
    ASSERT_EQ(list("/new dir", e), KV_REQ_STAT_COMPLETED) << eh.all();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].name, odd);
    EXPECT_EQ(e[1].name, "two words");

    // MKCOL onto an existing folder is the server's refusal.
    EXPECT_EQ(run(new KV_FileReqMkDir(eh, path("/new dir"))), KV_REQ_STAT_ERROR);
}

TEST_F(DavPeer, MoveOntoAnExistingNameAndDeleteATree)
{
    NEED_APACHE();
    start(apache->host());
    ASSERT_EQ(run(new KV_FileReqMkDir(eh, path("/d"))), KV_REQ_STAT_COMPLETED) << eh.all();
    ASSERT_TRUE(apache->put("d/a", "new"));
    ASSERT_TRUE(apache->put("d/c \xC3\xBC", "old"));
    ASSERT_EQ(run(new KV_FileReqRen(eh, path("/d/a"), path("/d/c \xC3\xBC"), false, true)),
              KV_REQ_STAT_COMPLETED)
        << eh.all() << apache->log();
    EXPECT_EQ(apache->get("d/c \xC3\xBC"), "new");
    EXPECT_FALSE(fs::exists(apache->path("d/a")));

    // A MOVE that fails leaves the existing destination alone.
    LogErr e2;
    EXPECT_EQ(run(new KV_FileReqRen(e2, path("/d/missing"), path("/d/c \xC3\xBC"), false, true)),
              KV_REQ_STAT_ERROR);
    EXPECT_EQ(apache->get("d/c \xC3\xBC"), "new");

    ASSERT_EQ(run(new KV_FileReqMkDir(eh, path("/d/sub"))), KV_REQ_STAT_COMPLETED);
    ASSERT_TRUE(apache->put("d/sub/deep", "z"));
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(path("/d"), true))), KV_REQ_STAT_COMPLETED)
        << eh.all();
    EXPECT_FALSE(fs::exists(apache->path("d")));
}

TEST_F(DavPeer, PlainHttpFolderFromTheDocuments)
{
    NEED_APACHE();
    fs::create_directories(apache->path("pub/sub"));
    ASSERT_TRUE(apache->put("pub/a.txt", "12345678"));
    ASSERT_TRUE(apache->put("pub/sub/b.txt", "b"));
    start(apache->host(), {"/pub/a.txt", "/pub/gone.txt", "/pub/sub/b.txt", "/dav/"});
    std::vector<Entry> e;
    ASSERT_EQ(list("/pub", e), KV_REQ_STAT_COMPLETED) << eh.all();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].name, "a.txt");
    EXPECT_EQ(e[0].size, 8);
    EXPECT_EQ(e[1].name, "sub");
    EXPECT_TRUE(e[1].dir);
    // No folder can be made there; below the folder document it can.
    EXPECT_FALSE(fm->can_mkdir(path("/pub/x")));
    EXPECT_TRUE(fm->can_mkdir(path("/dav/x")));
}

TEST_F(DavPeer, DownloadsWholeResumedAndInFragments)
{
    NEED_APACHE();
    const std::string data = pattern(1000003, 3);
    ASSERT_TRUE(apache->put("big.bin", data));
    start(apache->host());
    start_local(false);
    const auto size = static_cast<int64_t>(data.size());

    // Whole.
    {
        auto log = kept_log("big.bin", size, false);
        ASSERT_EQ(run_on(*fm,
                         new Step(eh, *trans_, log.get(), web("/big.bin"), data_path(*log), nullptr,
                                  KV_FILE_TRANS_TYPE_FETCH),
                         trans_.get()),
                  KV_REQ_STAT_COMPLETED)
            << eh.all();
        EXPECT_TRUE(deliver(*log, tmp / "whole.bin") == data);
    }
    // Resumed: the first bytes stored before stand for an earlier attempt;
    // only the rest is asked for.
    {
        auto log = kept_log("big.bin", size, false);
        const std::string head(400000, 'X');
        ASSERT_TRUE(log->write_at(0, reinterpret_cast<const unsigned char*>(head.data()),
                                  static_cast<uint32_t>(head.size())));
        ASSERT_TRUE(log->set_flags(1, 0));
        ASSERT_EQ(run_on(*fm,
                         new Step(eh, *trans_, log.get(), web("/big.bin"), data_path(*log), nullptr,
                                  KV_FILE_TRANS_TYPE_FETCH),
                         trans_.get()),
                  KV_REQ_STAT_COMPLETED)
            << eh.all();
        EXPECT_TRUE(deliver(*log, tmp / "resumed.bin") == head + data.substr(head.size()));
    }
    // Four fragments, fetched by four workers at once.
    {
        auto log = kept_log("big.bin", size, true, size / 4 + 1);
        // Each step puts its fragment in transfer, so that the next take
        // hands out another one.
        std::vector<Step*> steps;
        for (;;) {
            KV_FileFrag* f = nullptr;
            ASSERT_TRUE(log->man_frag().take(&f));
            if (f == nullptr || steps.size() == 8)
                break;
            steps.push_back(new Step(eh, *trans_, log.get(), web("/big.bin"), data_path(*log), f,
                                     KV_FILE_TRANS_TYPE_FETCH));
        }
        ASSERT_EQ(steps.size(), 4u);
        std::vector<std::unique_ptr<KV_FileReqObs>> obs;
        for (Step* st : steps) {
            obs.push_back(std::make_unique<KV_FileReqObs>());
            ASSERT_TRUE(fm->add_req(st, trans_.get(), obs.back().get(), KV_REQ_STAT_QUEUED));
        }
        for (auto& o : obs) {
            EXPECT_FALSE(o->wait(LONG_WAIT_MS));
            EXPECT_EQ(o->status(), KV_REQ_STAT_COMPLETED) << eh.all();
        }
        EXPECT_TRUE(log->man_frag().all_done());
        EXPECT_TRUE(deliver(*log, tmp / "frags.bin") == data);
    }
}

TEST_F(DavPeer, UploadsAndCopiesOnTheServer)
{
    NEED_APACHE();
    const std::string data = pattern(700001, 4);
    const std::string src = tmp / "up.bin";
    std::ofstream(src, std::ios::binary) << data;
    fs::create_directories(apache->path("pub"));
    const passwd* pw = ::getpwnam("www-data");
    ASSERT_NE(pw, nullptr);
    ASSERT_EQ(::chown(apache->path("pub").c_str(), pw->pw_uid, pw->pw_gid), 0);
    ASSERT_TRUE(apache->put("pub/index.html", "<html/>"));
    KV_FileManPool pool;
    // Resumed uploads allowed: they must start at 0 all the same.
    start(apache->host(), {"/in/", "/pub/index.html"}, nullptr, true);
    start_local(true);
    ASSERT_EQ(run(new KV_FileReqMkDir(eh, path("/in"))), KV_REQ_STAT_COMPLETED);

    // The local source is read into the sub-log, then put.
    auto log = kept_log("up.bin", static_cast<int64_t>(data.size()), false);
    ASSERT_EQ(run_on(*local,
                     new Step(eh, *trans_, log.get(), disk(src), data_path(*log), nullptr,
                              KV_FILE_TRANS_TYPE_FETCH, false),
                     trans_.get()),
              KV_REQ_STAT_COMPLETED)
        << eh.all();
    ASSERT_EQ(run(new Step(eh, *trans_, log.get(), data_path(*log), web("/in/up load.bin"), nullptr,
                           KV_FILE_TRANS_TYPE_STORE, false)),
              KV_REQ_STAT_COMPLETED)
        << eh.all() << apache->log();
    EXPECT_TRUE(apache->get("in/up load.bin") == data);
    EXPECT_TRUE(log->flag2());

    // A second attempt of the same upload (its begun bit set) over a
    // partial copy on the server sends the whole file again.
    ASSERT_TRUE(apache->put("pub/new.bin", data.substr(0, 1000)));
    ASSERT_EQ(run(new Step(eh, *trans_, log.get(), data_path(*log), web("/pub/new.bin"), nullptr,
                           KV_FILE_TRANS_TYPE_STORE, false)),
              KV_REQ_STAT_COMPLETED)
        << eh.all() << apache->log();
    EXPECT_TRUE(apache->get("pub/new.bin") == data);

    // Only the upload into the plain-HTTP folder joins the document list.
    std::vector<std::string> notices;
    while (KV_Msg* m = pool.informer().pop()) {
        if (m->type() == KV_MSG_MAN) {
            auto* n = static_cast<KV_MsgManNtf*>(m);
            notices.push_back(std::to_string(n->ntf) + ":" + n->text.data());
        }
        KV_Informer::destroy(m);
    }
    EXPECT_EQ(notices, (std::vector<std::string>{"4:/pub/new.bin"}));

    // Within WebDAV folders of one source the server copies: the sub-log
    // keeps no data and no byte passes the client.
    EXPECT_FALSE(fm->log_incl_data(path("/in/up load.bin"), path("/in/copy.bin"), fm.get()));
    KV_FileData fd("up load.bin", "", int64_t(data.size()), KV_Time());
    KV_TransLogCp copy_log(trans_.get(), "", fd, path("/in/up load.bin"), path("/in/copy.bin"));
    copy_log.set_no_file(true);
    ASSERT_TRUE(copy_log.set_status(KV_TransLogCp::ST_RECEIVING));
    ASSERT_EQ(run(new Step(eh, *trans_, &copy_log, web("/in/up load.bin"), web("/in/copy.bin"),
                           nullptr, KV_FILE_TRANS_TYPE_STORE, true)),
              KV_REQ_STAT_COMPLETED)
        << eh.all() << apache->log();
    EXPECT_TRUE(apache->get("in/copy.bin") == data);
    trans_.reset();
    fm.reset();
    local.reset();
}

TEST_F(DavPeer, RedirectsOnTheServer)
{
    kvtest::ApacheOpts o;
    o.extra = "LoadModule alias_module /usr/lib/apache2/modules/mod_alias.so\n"
              "Redirect 301 /old.bin /new.bin\n"
              "Redirect 302 /loop1 /loop2\n"
              "Redirect 302 /loop2 /loop1\n"
              "Redirect 302 /toftp ftp://127.0.0.1/x\n";
    NEED_APACHE(o);
    const std::string data = pattern(10000, 9);
    ASSERT_TRUE(apache->put("new.bin", data));
    start(apache->host());
    start_local(false);

    // A download follows a redirect on the same server.
    auto log = kept_log("old.bin", static_cast<int64_t>(data.size()), false);
    ASSERT_EQ(run_on(*fm,
                     new Step(eh, *trans_, log.get(), web("/old.bin"), data_path(*log), nullptr,
                              KV_FILE_TRANS_TYPE_FETCH),
                     trans_.get()),
              KV_REQ_STAT_COMPLETED)
        << eh.all() << apache->log();
    EXPECT_TRUE(deliver(*log, tmp / "old.bin") == data);

    // A loop ends; a redirect to FTP is refused.
    LogErr e1;
    EXPECT_EQ(run(new KV_FileReqRm(e1, KV_PathDefDir(path("/loop1"), false))), KV_REQ_STAT_ERROR);
    EXPECT_NE(e1.all().find("Too many redirections"), std::string::npos) << e1.all();
    LogErr e2;
    EXPECT_EQ(run(new KV_FileReqRm(e2, KV_PathDefDir(path("/toftp"), false))), KV_REQ_STAT_ERROR);
    EXPECT_NE(e2.all().find("Switching to another protocol not supported."), std::string::npos)
        << e2.all();
}

TEST_F(DavPeer, BasicAuthentication)
{
    kvtest::ApacheOpts o;
    o.basic_auth = true;
    NEED_APACHE(o);
    ASSERT_TRUE(apache->put("secret.txt", "s"));
    KV_HttpLoginData good(o.user.c_str(), o.pass.c_str());
    good.set_auth(true);
    start(apache->host(), {}, &good);
    std::vector<Entry> e;
    ASSERT_EQ(list("/", e), KV_REQ_STAT_COMPLETED) << eh.all();
    ASSERT_EQ(e.size(), 1u);
    fm.reset();

    KV_HttpLoginData bad(o.user.c_str(), "wrong");
    bad.set_auth(true);
    start(apache->host(), {}, &bad);
    LogErr e2;
    KV_FileListStore store(true, nullptr);
    EXPECT_EQ(run(new KV_FileReqScan(e2, path("/"), &store, false, false)), KV_REQ_STAT_ERROR);
    EXPECT_NE(e2.all().find("Unauthorized"), std::string::npos) << e2.all();
}

TEST_F(DavPeer, LighttpdListing)
{
    if (!Lighttpd::installed())
        GTEST_SKIP() << "lighttpd with mod_webdav is not installed";
    Lighttpd l;
    ASSERT_TRUE(l.start()) << l.log();
    fs::create_directories(l.path("d/sub"));
    std::ofstream(l.path("d/f \xC3\xA9.txt")) << "1234567";
    // The server's workers run as www-data and make folders there.
    const passwd* pw = ::getpwnam("www-data");
    ASSERT_NE(pw, nullptr);
    for (const std::string& p : {l.path("d"), l.path("d/sub")})
        ASSERT_EQ(::chown(p.c_str(), pw->pw_uid, pw->pw_gid), 0);
    start(l.host());
    std::vector<Entry> e;
    ASSERT_EQ(list("/d", e), KV_REQ_STAT_COMPLETED) << eh.all() << l.log();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].name, "f \xC3\xA9.txt");
    EXPECT_FALSE(e[0].dir);
    EXPECT_EQ(e[0].size, 7);
    EXPECT_EQ(e[1].name, "sub");
    EXPECT_TRUE(e[1].dir);
    ASSERT_EQ(run(new KV_FileReqMkDir(eh, path("/d/made"))), KV_REQ_STAT_COMPLETED) << eh.all();
    EXPECT_TRUE(fs::is_directory(l.path("d/made")));
}

} // namespace
