// The WebDAV actions on one connection against a scripted server: the body
// lines with and without chunked coding, the COPY head, a listing sent to
// the browse tree, and error answers that must end the action at once.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "datasources/kv_filemanparamshttp.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "http/kv_httpactdav.h"
#include "http/kv_httptest.h"
#include "http/kv_xml.h"

namespace {

using httptest::Conn;
using httptest::Request;
using httptest::ScriptPeer;
using kvtest::Fd;

std::string reply(int code, const std::string& reason, const std::string& body = "")
{
    return "HTTP/1.1 " + std::to_string(code) + " " + reason +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class DavAct_MT : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(KV_XmlHelperImpl::init()); }
    static void TearDownTestSuite() { KV_XmlHelperImpl::term(); }
};

TEST_F(DavAct_MT, MkcolBodyLinesWithAndWithoutChunks)
{
    ScriptPeer peer(
        [](const Fd& fd, const Request&, int) { return fd.write_all(reply(201, "Created")); });
    Conn c(peer.host());
    KV_HttpActMkcol plain("/a", false);
    EXPECT_TRUE(c.run(plain));
    KV_HttpActMkcol chunked("/b", true);
    EXPECT_TRUE(c.run(chunked));
    const auto reqs = peer.requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_NE(reqs[0].head.find("\r\nContent-Length: 0\r\n"), std::string::npos) << reqs[0].head;
    EXPECT_EQ(reqs[0].head.find("Transfer-encoding"), std::string::npos);
    EXPECT_EQ(reqs[0].raw_body, "");
    EXPECT_NE(reqs[1].head.find("\r\nTransfer-encoding: chunked\r\n"), std::string::npos);
    EXPECT_EQ(reqs[1].head.find("Content-Length"), std::string::npos);
    // Only the end of the body: the last chunk and three line ends.
    EXPECT_EQ(reqs[1].raw_body, "0\r\n\r\n\r\n");
    EXPECT_EQ(reqs[1].head.find("Content-Type"), std::string::npos);
}

TEST_F(DavAct_MT, CopyHeadAndAListingForTheTree)
{
    const std::string listing =
        "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/d/f</D:href></D:response>"
        "</D:multistatus>";
    ScriptPeer peer([&](const Fd& fd, const Request& r, int) {
        if (r.head.rfind("PROPFIND", 0) == 0)
            return fd.write_all(reply(207, "Multi-Status", listing));
        return fd.write_all(reply(201, "Created"));
    });
    Conn c(peer.host());
    const std::string dst = "http://" + peer.host() + "/d/c d";
    KV_HttpActCopy copy("/d/a b", dst.c_str(), false);
    EXPECT_TRUE(c.run(copy));
    const Request r = peer.requests().at(0);
    EXPECT_EQ(r.head.rfind("COPY /d/a%20b HTTP/1.1\r\nHost: ", 0), 0u) << r.head;
    EXPECT_NE(r.head.find("\r\nDestination: http://" + peer.host() + "/d/c%20d\r\n"),
              std::string::npos)
        << r.head;
    EXPECT_NE(r.head.find("\r\nDepth: infinity\r\n"), std::string::npos);

    // Without a store the entries go to the informer in one message.
    KV_PathMan pm = KV_FileManHttpOpts().man_path();
    pm.set_dir_pre("web");
    KV_Informer inf;
    KV_HttpActPropfindParams params;
    params.pm = &pm;
    params.informer = &inf;
    ASSERT_TRUE(pm.split_path("/d", params.path, true));
    ASSERT_TRUE(params.path.prepend("web"));
    KV_HttpActPropfind list(params, false);
    EXPECT_TRUE(c.run(list)) << c.man.err_msg().data();
    KV_Msg* m = inf.pop();
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->type(), KV_MSG_TREE_SCAN);
    auto* scan = static_cast<KV_MsgTreeScan*>(m);
    EXPECT_TRUE(scan->path == params.path);
    ASSERT_EQ(scan->nodes.size(), 1u);
    EXPECT_STREQ(scan->nodes.at(0)->name().data(), "f");
    KV_Informer::destroy(m);
}

TEST_F(DavAct_MT, ErrorAnswersEndTheActionAtOnce)
{
    // The server answers before the client could send the request body.
    ScriptPeer peer([](const Fd& fd, const Request&, int index) {
        return fd.write_all(index == 0 ? reply(404, "Not Found") : reply(500, "Broken"));
    });
    Conn c(peer.host());
    KV_PathMan pm = KV_FileManHttpOpts().man_path();
    KV_Informer inf;
    KV_HttpActPropfindParams params;
    params.pm = &pm;
    params.informer = &inf;
    ASSERT_TRUE(pm.split_path("/gone", params.path, true));
    const auto t0 = std::chrono::steady_clock::now();
    KV_HttpActPropfind list(params, false);
    EXPECT_FALSE(c.run(list));
    EXPECT_FALSE(list.timed_out());
    EXPECT_EQ(c.man.last_err(), KV_HTTP_ERR_NOT_FOUND);
    EXPECT_EQ(inf.pop(), nullptr) << "no listing for a failed answer";
    KV_HttpActMove move("/a", "http://h/b", false);
    EXPECT_FALSE(c.run(move));
    EXPECT_STREQ(c.man.err_msg().data(), "Broken");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

TEST_F(DavAct_MT, AListingThatCannotBeReadFailsTheAction)
{
    ScriptPeer peer([](const Fd& fd, const Request&, int) {
        return fd.write_all(reply(207, "Multi-Status", "<D:multistatus xmlns:D=\"DAV:\">"));
    });
    Conn c(peer.host());
    KV_PathMan pm = KV_FileManHttpOpts().man_path();
    KV_Informer inf;
    KV_HttpActPropfindParams params;
    params.pm = &pm;
    params.informer = &inf;
    ASSERT_TRUE(pm.split_path("/d", params.path, true));
    KV_HttpActPropfind list(params, false);
    EXPECT_FALSE(c.run(list));
    EXPECT_STREQ(c.man.err_msg().data(), "The server's folder listing cannot be read.");
    EXPECT_EQ(inf.pop(), nullptr);
}

} // namespace
