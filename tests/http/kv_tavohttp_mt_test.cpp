// The HTTP worker through its file manager against a scripted server: the
// wire form of the WebDAV methods, redirects (followed on the same server,
// refused elsewhere, bounded), a rename that never loses its destination,
// plain-HTTP folders listed from the documents, hostile listings, the
// current folder and connecting.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "datasources/kv_filemanparamshttp.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "http/kv_filemanhttp.h"
#include "http/kv_httptest.h"
#include "http/kv_xml.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_reqmsg.h"
#include "root/kv_filemanpool.h"
#include "support/kv_reqtest.h"
#include "support/kv_testdir.h"

namespace {

using httptest::Request;
using httptest::ScriptPeer;
using kvtest::Fd;
using kvtest::LogErr;

constexpr uint32_t LONG_WAIT_MS = 120000;

std::string reply(int code, const std::string& reason, const std::string& extra = "",
                  const std::string& body = "")
{
    return "HTTP/1.1 " + std::to_string(code) + " " + reason +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

std::string method_of(const Request& r)
{
    return r.head.substr(0, r.head.find(' '));
}
std::string target_of(const Request& r)
{
    const size_t a = r.head.find(' ') + 1;
    return r.head.substr(a, r.head.find(' ', a) - a);
}
std::string line_of(const Request& r, const std::string& name)
{
    const size_t at = r.head.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return std::string();
    const size_t from = at + 4 + name.size();
    return r.head.substr(from, r.head.find("\r\n", from) - from);
}

struct Entry
{
    std::string name;
    bool dir;
    int64_t size;
};

class HttpWorker_MT : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(KV_XmlHelperImpl::init()); }
    static void TearDownTestSuite() { KV_XmlHelperImpl::term(); }

    void TearDown() override { fm.reset(); }

    // A manager on `host` with the documents `docs`, one worker.
    void start(const std::string& host, std::initializer_list<const char*> docs = {})
    {
        KV_FileManParamsHttp p;
        p.set_name("web");
        p.set_dst_addr(host.c_str());
        p.opts_http().set_ntavos(1);
        for (const char* d : docs) {
            bool changed = false;
            ASSERT_TRUE(p.add_doc(d, changed));
        }
        fm = std::make_unique<KV_FileManHttp>(KV_FileManId(KV_DsId(4, "web", host.c_str(), ""), 1));
        ASSERT_TRUE(fm->init(&p));
        ASSERT_TRUE(fm->start());
    }
    KV_PathDef path(const char* text) const
    {
        KV_PathDef p;
        EXPECT_TRUE(fm->man_path().split_path(text, p, true));
        EXPECT_TRUE(p.prepend("web"));
        return p;
    }
    KV_REQ_STAT run(KV_FileReq* r)
    {
        KV_FileReqObs obs;
        if (!fm->add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED))
            return KV_REQ_STAT_ERROR;
        EXPECT_FALSE(obs.wait(LONG_WAIT_MS)) << "request did not end";
        return obs.status();
    }
    KV_REQ_STAT list(const char* dir, std::vector<Entry>& out)
    {
        KV_FileListStore store(true, nullptr);
        const KV_REQ_STAT st = run(new KV_FileReqScan(eh, path(dir), &store, false, false));
        out.clear();
        for (KV_FileTreeNode* n : store.entries()) {
            const KV_FileData& fd = n->fdc();
            out.push_back(
                {fd.name().data(), fd.is_dir(), fd.valid_size(false) ? fd.size(false) : -1});
        }
        return st;
    }
    // The worker's status texts and the final notice, in order.
    std::vector<std::string> statuses()
    {
        std::vector<std::string> out;
        while (KV_Msg* m = fm->informer().pop()) {
            if (m->type() == KV_MSG_TAVO) {
                auto* t = static_cast<KV_MsgTavoNtf*>(m);
                if (t->ntf == KV_TAVO_NTF_STATUS)
                    out.push_back(std::string(t->text1.data()) +
                                  (t->text2.empty() ? "" : std::string("|") + t->text2.data()));
            }
            KV_Informer::destroy(m);
        }
        return out;
    }

    std::unique_ptr<KV_FileManHttp> fm;
    LogErr eh;
};

TEST_F(HttpWorker_MT, MkcolSendsAnEmptyBody)
{
    ScriptPeer peer(
        [](const Fd& fd, const Request&, int) { return fd.write_all(reply(201, "Created")); });
    start(peer.host());
    EXPECT_EQ(run(new KV_FileReqMkDir(eh, path("/new dir"))), KV_REQ_STAT_COMPLETED) << eh.all();
    const std::vector<Request> reqs = peer.requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(method_of(reqs[0]), "MKCOL");
    EXPECT_EQ(target_of(reqs[0]), "/new%20dir");
    EXPECT_EQ(line_of(reqs[0], "Content-Length"), "0");
    EXPECT_EQ(line_of(reqs[0], "Content-Type"), "");
    const std::vector<std::string> st = statuses();
    EXPECT_NE(std::find(st.begin(), st.end(), "MKDIR /new dir"), st.end());
    EXPECT_EQ(st.back(), "Ready");
}

TEST_F(HttpWorker_MT, PropfindAsksForThreePropertiesAtDepthOne)
{
    const std::string body =
        "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\">"
        "<D:response><D:href>/d%20x/</D:href><D:propstat><D:prop><D:resourcetype>"
        "<D:collection/></D:resourcetype></D:prop></D:propstat></D:response>"
        "<D:response><D:href>/d%20x/f1</D:href><D:propstat><D:prop>"
        "<D:getcontentlength>12</D:getcontentlength></D:prop></D:propstat></D:response>"
        "<D:response><D:href>/d%20x/f2</D:href><D:propstat><D:prop>"
        "<D:getcontentlength>3</D:getcontentlength></D:prop></D:propstat></D:response>"
        "</D:multistatus>";
    ScriptPeer peer([&](const Fd& fd, const Request&, int) {
        return fd.write_all(reply(207, "Multi-Status", "Content-Type: text/xml\r\n", body));
    });
    start(peer.host());
    std::vector<Entry> entries;
    ASSERT_EQ(list("/d x", entries), KV_REQ_STAT_COMPLETED) << eh.all();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "f1");
    EXPECT_EQ(entries[0].size, 12);
    EXPECT_EQ(entries[1].name, "f2");
    const Request r = peer.requests().at(0);
    EXPECT_EQ(method_of(r), "PROPFIND");
    EXPECT_EQ(target_of(r), "/d%20x/");
    EXPECT_EQ(line_of(r, "Depth"), "1");
    EXPECT_EQ(line_of(r, "Content-Type"), "text/xml");
    EXPECT_EQ(line_of(r, "Content-Length"), std::to_string(r.body.size()));
    EXPECT_NE(r.body.find("<propfind xmlns=\"DAV:\">"), std::string::npos) << r.body;
    for (const char* p : {"<prop>", "<getlastmodified/>", "<getcontentlength/>", "<resourcetype/>"})
        EXPECT_NE(r.body.find(p), std::string::npos) << p << " in " << r.body;
    EXPECT_EQ(r.body.find("xmlns=\"\""), std::string::npos) << r.body;
}

TEST_F(HttpWorker_MT, HostileListingsYieldOnlySafeNames)
{
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<D:x>";
    deep += "y";
    for (int i = 0; i < 5000; ++i)
        deep += "</D:x>";
    const std::string safe = "<D:multistatus xmlns:D=\"DAV:\">"
                             "<D:response><D:href>/d/..</D:href></D:response>"
                             "<D:response><D:href>/d/%2e%2E</D:href></D:response>"
                             "<D:response><D:href>/d/a%2Fb</D:href></D:response>"
                             "<D:response><D:href>/d/..%2F..%2Fetc%2Fpasswd</D:href></D:response>"
                             "<D:response><D:href>/d/x%00y</D:href></D:response>"
                             "<D:response><D:href>/d/ok</D:href><D:propstat><D:prop>" +
                             deep + "</D:prop></D:propstat></D:response></D:multistatus>";
    const std::string entity =
        "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>"
        "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/d/&e;</D:href></D:response>"
        "</D:multistatus>";
    std::atomic<int> which{0};
    ScriptPeer peer([&](const Fd& fd, const Request&, int) {
        return fd.write_all(reply(207, "Multi-Status", "", which.load() == 0 ? safe : entity));
    });
    start(peer.host());
    std::vector<Entry> entries;
    ASSERT_EQ(list("/d", entries), KV_REQ_STAT_COMPLETED) << eh.all();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "ok");

    // The external entity is never read: whatever the listing gives, no
    // name holds the local file's text.
    which = 1;
    const std::string host = kvtest::read_file("/etc/hostname");
    list("/d", entries);
    for (const Entry& e : entries)
        EXPECT_TRUE(host.empty() ||
                    e.name.find(host.substr(0, host.find('\n'))) == std::string::npos);
}

TEST_F(HttpWorker_MT, RedirectsAreFollowedOnlyOnTheSameServer)
{
    std::string self;
    ScriptPeer peer([&](const Fd& fd, const Request& r, int) {
        const std::string t = target_of(r);
        if (t == "/a")
            return fd.write_all(reply(301, "Moved", "Location: /b\r\n"));
        if (t == "/b")
            return fd.write_all(reply(302, "Found", "Location: http://" + self + "/c\r\n"));
        if (t.find("/c") != std::string::npos)
            return fd.write_all(reply(204, "No Content"));
        if (t == "/loop1")
            return fd.write_all(reply(302, "Found", "Location: /loop2\r\n"));
        if (t == "/loop2")
            return fd.write_all(reply(302, "Found", "Location: /loop1\r\n"));
        if (t == "/ftp")
            return fd.write_all(reply(302, "Found", "Location: ftp://127.0.0.1/x\r\n"));
        if (t == "/other")
            return fd.write_all(reply(302, "Found", "Location: http://127.0.0.2:1/x\r\n"));
        if (t == "/tls")
            return fd.write_all(reply(302, "Found", "Location: https://" + self + "/x\r\n"));
        return fd.write_all(reply(404, "Not Found"));
    });
    self = peer.host();
    start(peer.host());

    // Relative and absolute Locations on this server are followed.
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(path("/a"), false))), KV_REQ_STAT_COMPLETED)
        << eh.all();
    EXPECT_EQ(peer.requests().size(), 3u);

    // A loop ends after ten redirects.
    const size_t before = peer.requests().size();
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(path("/loop1"), false))), KV_REQ_STAT_ERROR);
    EXPECT_EQ(peer.requests().size() - before, 11u);
    EXPECT_NE(eh.all().find("Too many redirections"), std::string::npos) << eh.all();

    struct Case
    {
        const char* path;
        const char* error;
    } const cases[] = {
        {"/ftp", "Switching to another protocol not supported."},
        {"/other", "Redirection to another server or protocol not supported"},
        {"/tls", "Redirection to another server or protocol not supported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const size_t n = peer.requests().size();
        LogErr e;
        EXPECT_EQ(run(new KV_FileReqRm(e, KV_PathDefDir(path(c.path), false))), KV_REQ_STAT_ERROR);
        EXPECT_EQ(peer.requests().size(), n + 1) << "nothing sent after the refused redirect";
        EXPECT_NE(e.all().find(c.error), std::string::npos) << e.all();
        const std::vector<std::string> st = statuses();
        EXPECT_EQ(st.back().rfind("Error|", 0), 0u) << st.back();
    }
}

TEST_F(HttpWorker_MT, RenameOntoAnExistingNameNeverLosesIt)
{
    // First server: MOVE fails. Nothing may be deleted.
    {
        ScriptPeer peer([](const Fd& fd, const Request&, int) {
            return fd.write_all(reply(500, "Internal Server Error"));
        });
        start(peer.host());
        EXPECT_EQ(run(new KV_FileReqRen(eh, path("/d/a"), path("/d/b"), false, true)),
                  KV_REQ_STAT_ERROR);
        const std::vector<Request> reqs = peer.requests();
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(method_of(reqs[0]), "MOVE");
        const std::vector<std::string> st = statuses();
        EXPECT_EQ(st.back(), "Error|Internal Server Error");
        fm.reset();
    }
    // Second server: refuses to overwrite (412), then takes the DELETE and
    // the second MOVE.
    ScriptPeer peer([](const Fd& fd, const Request&, int index) {
        return fd.write_all(index == 0 ? reply(412, "Precondition Failed")
                                       : reply(index == 1 ? 204 : 201, "OK"));
    });
    start(peer.host());
    EXPECT_EQ(run(new KV_FileReqRen(eh, path("/d/a b"), path("/d/c\xC3\xA9"), false, true)),
              KV_REQ_STAT_COMPLETED)
        << eh.all();
    const std::vector<Request> reqs = peer.requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(method_of(reqs[0]), "MOVE");
    EXPECT_EQ(target_of(reqs[0]), "/d/a%20b");
    EXPECT_EQ(line_of(reqs[0], "Destination"), "http://" + peer.host() + "/d/c%C3%A9");
    EXPECT_EQ(line_of(reqs[0], "Depth"), "infinity");
    // Destination comes right after Host.
    EXPECT_LT(reqs[0].head.find("\r\nHost: "), reqs[0].head.find("\r\nDestination: "));
    EXPECT_EQ(reqs[0].head.find("\r\nDestination: "),
              reqs[0].head.find("\r\n", reqs[0].head.find("\r\nHost: ") + 2));
    EXPECT_EQ(method_of(reqs[1]), "DELETE");
    EXPECT_EQ(target_of(reqs[1]), "/d/c%C3%A9");
    EXPECT_EQ(method_of(reqs[2]), "MOVE");
}

TEST_F(HttpWorker_MT, PlainHttpFolderListsTheDocumentsWithHead)
{
    ScriptPeer peer([](const Fd& fd, const Request& r, int) {
        const std::string t = target_of(r);
        if (t == "/a/d.txt")
            return fd.write_all(
                reply(200, "OK", "Last-Modified: Fri, 11 Dec 2026 01:00:00 GMT\r\n"));
        return fd.write_all(reply(404, "Not Found"));
    });
    // The engine's pool receives the notices about documents.
    KV_FileManPool pool;
    start(peer.host(), {"/a/b/c.txt", "/a/d.txt", "/a/b/e.txt", "/a/gone.txt", "/x/y.txt"});
    std::vector<Entry> entries;
    ASSERT_EQ(list("/a", entries), KV_REQ_STAT_COMPLETED) << eh.all();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "b");
    EXPECT_TRUE(entries[0].dir);
    EXPECT_EQ(entries[1].name, "d.txt");
    EXPECT_FALSE(entries[1].dir);
    // HEAD only for the files right in the folder; the 404 drops its entry.
    std::vector<std::string> asked;
    for (const Request& r : peer.requests()) {
        EXPECT_EQ(method_of(r), "HEAD");
        asked.push_back(target_of(r));
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"/a/d.txt", "/a/gone.txt"}));
    // The vanished document leaves the list.
    std::vector<std::string> notices;
    while (KV_Msg* m = pool.informer().pop()) {
        if (m->type() == KV_MSG_MAN) {
            auto* n = static_cast<KV_MsgManNtf*>(m);
            notices.push_back(std::to_string(n->ntf) + ":" + n->text.data());
            EXPECT_TRUE(n->man_id == KV_FileManId(KV_DsId(4, "web", peer.host().c_str(), ""), 0));
        }
        KV_Informer::destroy(m);
    }
    EXPECT_EQ(notices, (std::vector<std::string>{"5:/a/gone.txt"}));
    fm.reset();
}

TEST_F(HttpWorker_MT, FoldersExistByListingOnlyInWebDav)
{
    const std::string body =
        "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/dav/sub/</D:href><D:propstat>"
        "<D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop></D:propstat>"
        "</D:response></D:multistatus>";
    ScriptPeer peer([&](const Fd& fd, const Request&, int) {
        return fd.write_all(reply(207, "Multi-Status", "", body));
    });
    start(peer.host(), {"/dav/", "/pub/x.txt"});
    reqtest::Journal journal;
    reqtest::TestTrans trans(journal, reqtest::TestParams());
    bool exists = false;
    ASSERT_TRUE(fm->dir_exists(trans, path("/dav"), "sub", exists));
    EXPECT_TRUE(exists);
    exists = true;
    ASSERT_TRUE(fm->dir_exists(trans, path("/dav"), "none", exists));
    EXPECT_FALSE(exists);
    const size_t asked = peer.requests().size();
    EXPECT_EQ(asked, 2u);
    // Nothing can be listed in a plain-HTTP folder: the folder counts as
    // there, and the server is not asked.
    exists = false;
    ASSERT_TRUE(fm->dir_exists(trans, path("/pub"), "new", exists));
    EXPECT_TRUE(exists);
    EXPECT_EQ(peer.requests().size(), asked);
}

TEST_F(HttpWorker_MT, CurrentFolderComesFromTheDocuments)
{
    start("127.0.0.1:1", {"/docs/readme.txt", "/dav/"});
    EXPECT_EQ(run(new KV_FileReqPwd(eh, *fm, "")), KV_REQ_STAT_COMPLETED);
    bool seen = false;
    while (KV_Msg* m = fm->informer().pop()) {
        if (m->type() == KV_MSG_TREE_PWD) {
            EXPECT_TRUE(static_cast<KV_MsgTree*>(m)->path == path("/docs"));
            seen = true;
        }
        KV_Informer::destroy(m);
    }
    EXPECT_TRUE(seen);
}

TEST_F(HttpWorker_MT, ConnectFailsWithTheConnectionsErrorAndDisconnectAlwaysWorks)
{
    start("127.0.0.1:" + std::to_string(kvtest::closed_port()));
    EXPECT_EQ(run(new KV_FileReqUMan(eh, 0, KV_MANAGE_CMD_CONNECT, "")), KV_REQ_STAT_ERROR);
    const std::vector<std::string> st = statuses();
    EXPECT_NE(std::find(st.begin(), st.end(), "Connecting"), st.end());
    EXPECT_EQ(st.back(), "Error|Connection attempt failed.");
    EXPECT_EQ(run(new KV_FileReqUMan(eh, 0, KV_MANAGE_CMD_DISCONNECT, "")), KV_REQ_STAT_COMPLETED);
}

} // namespace
