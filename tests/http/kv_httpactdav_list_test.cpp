#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datasources/kv_filemanopts.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "http/kv_httpactdavlist.h"
#include "http/kv_xml.h"

namespace {

struct Node
{
    std::string name;
    bool dir;
    int64_t size; // -1: no valid size
    bool time;
};

class KV_DavList : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(KV_XmlHelperImpl::init()); }
    static void TearDownTestSuite() { KV_XmlHelperImpl::term(); }

    KV_DavList()
    {
        pm = KV_FileManHttpOpts().man_path();
        pm.set_dir_pre("web");
        folder("/dav/");
    }
    void folder(const char* text)
    {
        KV_PathDef p;
        EXPECT_TRUE(pm.split_path(text, p, true));
        EXPECT_TRUE(p.prepend(pm.dir_pre()));
        params.pm = &pm;
        params.path = p;
    }
    // Parses `body` into a listing message; `ok` gets the result.
    std::vector<Node> list(const std::string& body, bool& ok)
    {
        KV_MsgTreeScan msg(params.path);
        ok = kv_dav_parse_list(reinterpret_cast<const uint8_t*>(body.data()),
                               static_cast<uint32_t>(body.size()), params, true, &msg);
        std::vector<Node> out;
        for (uint32_t i = 0; i < msg.nodes.size(); ++i) {
            const KV_FileData& fd = msg.nodes.at(i)->fdc();
            out.push_back({fd.name().data(), fd.is_dir(),
                           fd.valid_size(false) ? fd.size(false) : -1, fd.valid_time()});
        }
        return out;
    }
    std::vector<std::string> names(const std::string& body)
    {
        bool ok = false;
        std::vector<std::string> out;
        for (const Node& n : list(body, ok))
            out.push_back(n.name);
        EXPECT_TRUE(ok);
        return out;
    }

    KV_PathMan pm{'/'};
    KV_HttpActPropfindParams params;
};

std::string response(const std::string& href, const std::string& props = "")
{
    return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop>" + props +
           "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
}

std::string multistatus(const std::string& responses)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">" +
           responses + "</D:multistatus>";
}

// Apache 2.4 mod_dav_fs, indented as it sends it: the folder itself, two
// files and a subfolder; the properties it lacks come in a 404 propstat.
const char* const apache_body = R"(<?xml version="1.0" encoding="utf-8"?>
<D:multistatus xmlns:D="DAV:" xmlns:ns0="DAV:">
<D:response xmlns:lp1="DAV:">
<D:href>/dav/</D:href>
<D:propstat>
<D:prop>
<lp1:resourcetype>
  <D:collection/>
</lp1:resourcetype>
<lp1:getlastmodified>Fri, 11 Dec 2026 01:00:00 GMT</lp1:getlastmodified>
</D:prop>
<D:status>HTTP/1.1 200 OK</D:status>
</D:propstat>
<D:propstat>
<D:prop>
<getcontentlength/>
</D:prop>
<D:status>HTTP/1.1 404 Not Found</D:status>
</D:propstat>
</D:response>
<D:response xmlns:lp1="DAV:">
<D:href>/dav/a.txt</D:href>
<D:propstat>
<D:prop>
<lp1:resourcetype/>
<lp1:getlastmodified>Fri, 11 Dec 2026 01:00:00 GMT</lp1:getlastmodified>
<lp1:getcontentlength>1234</lp1:getcontentlength>
</D:prop>
<D:status>HTTP/1.1 200 OK</D:status>
</D:propstat>
</D:response>
<D:response xmlns:lp1="DAV:">
<D:href>/dav/my%20file%C3%A9.txt</D:href>
<D:propstat>
<D:prop>
<lp1:resourcetype/>
<lp1:getcontentlength>0</lp1:getcontentlength>
</D:prop>
<D:status>HTTP/1.1 200 OK</D:status>
</D:propstat>
</D:response>
<D:response xmlns:lp1="DAV:">
<D:href>/dav/sub/</D:href>
<D:propstat>
<D:prop>
<lp1:resourcetype>
    <D:collection/>
  </lp1:resourcetype>
</D:prop>
<D:status>HTTP/1.1 200 OK</D:status>
</D:propstat>
</D:response>
</D:multistatus>
)";

// lighttpd 1.4 mod_webdav: one line per response, a ns0:dt attribute on the
// date, a content length on folders.
const char* const lighttpd_body =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<D:multistatus xmlns:D=\"DAV:\" "
    "xmlns:ns0=\"urn:uuid:c2f41010-65b3-11d1-a29f-00aa00c14882/\">\n"
    "<D:response><D:href>http://127.0.0.1:8080/dav/</D:href><D:propstat><D:prop>"
    "<D:getlastmodified ns0:dt=\"dateTime.rfc1123\">Fri, 11 Dec 2026 01:00:00 GMT"
    "</D:getlastmodified><D:getcontentlength>4096</D:getcontentlength><D:resourcetype>"
    "<D:collection/></D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status>"
    "</D:propstat></D:response>\n"
    "<D:response><D:href>http://127.0.0.1:8080/dav/sub/</D:href><D:propstat><D:prop>"
    "<D:getcontentlength>4096</D:getcontentlength><D:resourcetype><D:collection/>"
    "</D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
    "</D:response>\n"
    "<D:response><D:href>http://127.0.0.1:8080/dav/b.bin</D:href><D:propstat><D:prop>"
    "<D:getcontentlength>7</D:getcontentlength><D:resourcetype/></D:prop>"
    "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n"
    "</D:multistatus>\n";

TEST_F(KV_DavList, ReadsApacheListing)
{
    bool ok = false;
    const std::vector<Node> nodes = list(apache_body, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].name, "a.txt");
    EXPECT_FALSE(nodes[0].dir);
    EXPECT_EQ(nodes[0].size, 1234);
    EXPECT_TRUE(nodes[0].time);
    // Escapes decoded; a length of 0 leaves the size unknown.
    EXPECT_EQ(nodes[1].name, "my file\xC3\xA9.txt");
    EXPECT_EQ(nodes[1].size, -1);
    EXPECT_FALSE(nodes[1].time);
    // An indented resourcetype is a folder all the same.
    EXPECT_EQ(nodes[2].name, "sub");
    EXPECT_TRUE(nodes[2].dir);
}

TEST_F(KV_DavList, ReadsLighttpdListing)
{
    bool ok = false;
    const std::vector<Node> nodes = list(lighttpd_body, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0].name, "sub");
    EXPECT_TRUE(nodes[0].dir);
    EXPECT_EQ(nodes[1].name, "b.bin");
    EXPECT_FALSE(nodes[1].dir);
    EXPECT_EQ(nodes[1].size, 7);
}

TEST_F(KV_DavList, KeepsOnlyEntriesOneLevelBelow)
{
    const std::string body =
        multistatus(response("/dav/") + response("/dav") + response("/other/x.txt") +
                    response("/dav/sub/deep.txt") + response("/da/x") + response("/dav/ok.txt") +
                    response("") + "<D:response><D:propstat/></D:response>");
    EXPECT_EQ(names(body), std::vector<std::string>{"ok.txt"});
}

TEST_F(KV_DavList, DropsHostileNames)
{
    // Each of these would name a file outside the target folder, or one the
    // server cannot have meant, once downloaded.
    const char* const hrefs[] = {"/dav/..",   "/dav/.",        "/dav/%2E%2E",
                                 "/dav/%2e",  "/dav/a%2Fb",    "/dav/..%2F..%2Fetc",
                                 "/dav/a%2f", "/dav/a%00b",    "/dav/%00",
                                 "/dav//",    "/dav/../dav/x", "http://h/dav/%2E%2E/"};
    for (const char* href : hrefs) {
        SCOPED_TRACE(href);
        EXPECT_TRUE(names(multistatus(response(href) + response("/dav/keep"))) ==
                    std::vector<std::string>{"keep"});
    }
}

TEST_F(KV_DavList, MatchesNamesAsWholeWordsWhateverThePrefix)
{
    const std::string body =
        "<x:multistatus xmlns:x=\"DAV:\"><x:response><x:href>/dav/d1</x:href>"
        "<x:propstat><x:prop><x:resourcetype><y:collection xmlns:y=\"DAV:\"/></x:resourcetype>"
        "</x:prop></x:propstat></x:response>"
        // Unprefixed names in a default namespace.
        "<response xmlns=\"DAV:\"><href>/dav/f1</href><propstat><prop>"
        "<getcontentlength>5</getcontentlength></prop></propstat></response>"
        // Names that only contain the words are not those elements.
        "<x:response><x:hrefs>/dav/nope</x:hrefs><x:href>/dav/f2</x:href><x:propstat>"
        "<x:proper><x:getcontentlength>9</x:getcontentlength></x:proper></x:propstat>"
        "</x:response></x:multistatus>";
    bool ok = false;
    const std::vector<Node> nodes = list(body, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].name, "d1");
    EXPECT_TRUE(nodes[0].dir);
    EXPECT_EQ(nodes[1].name, "f1");
    EXPECT_EQ(nodes[1].size, 5);
    EXPECT_EQ(nodes[2].name, "f2");
    EXPECT_EQ(nodes[2].size, -1);
}

TEST_F(KV_DavList, FailsOnBodiesThatDoNotParse)
{
    for (const char* body : {"", "<D:multistatus xmlns:D=\"DAV:\">", "garbage"}) {
        SCOPED_TRACE(body);
        bool ok = true;
        EXPECT_TRUE(list(body, ok).empty());
        EXPECT_FALSE(ok);
    }
    // Nothing to list is a listing.
    bool ok = false;
    EXPECT_TRUE(list(multistatus(""), ok).empty());
    EXPECT_TRUE(ok);
}

TEST_F(KV_DavList, ReadsTheTextAndKindOfEachElementAsAWhole)
{
    struct Case
    {
        const char* what;
        std::string body;
        Node want;
    };
    const Case cases[] = {
        {"href after the properties",
         "<D:response><D:propstat><D:prop><D:getcontentlength>3"
         "</D:getcontentlength></D:prop></D:propstat>"
         "<D:href>/dav/late</D:href></D:response>",
         {"late", false, 3, false}},
        {"href text in pieces",
         "<D:response><D:href>/dav/a<![CDATA[b]]><!-- c -->&#100;<D:x>e</D:x></D:href>"
         "</D:response>",
         {"abde", false, -1, false}},
        {"length inside an element of its own",
         response("/dav/n", "<D:getcontentlength> <D:v>12</D:v> </D:getcontentlength>"),
         {"n", false, 12, false}},
        {"only the first kind counts",
         response("/dav/f", "<D:resourcetype><D:other/><D:collection/></D:resourcetype>"),
         {"f", false, -1, false}},
        {"a collection below another element is no kind",
         response("/dav/g", "<D:resourcetype><D:x><D:collection/></D:x></D:resourcetype>"),
         {"g", false, -1, false}},
        {"properties outside a propstat",
         "<D:response><D:href>/dav/o</D:href><D:prop><D:getcontentlength>4"
         "</D:getcontentlength></D:prop></D:response>",
         {"o", false, -1, false}},
        {"every propstat",
         "<D:response><D:href>/dav/p</D:href><D:propstat><D:prop><D:getcontentlength>6"
         "</D:getcontentlength></D:prop></D:propstat><D:propstat><D:prop>"
         "<D:resourcetype><D:collection/></D:resourcetype></D:prop></D:propstat></D:response>",
         {"p", true, 6, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool ok = false;
        // A skipped response between does not leak into the next one.
        const std::vector<Node> nodes = list(
            multistatus(response("/dav/", "<D:getcontentlength>99</D:getcontentlength>") + c.body),
            ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(nodes.size(), 1u);
        EXPECT_EQ(nodes[0].name, c.want.name);
        EXPECT_EQ(nodes[0].dir, c.want.dir);
        EXPECT_EQ(nodes[0].size, c.want.size);
    }
}

TEST_F(KV_DavList, ListsNothingFromABodyCutAfterWholeEntries)
{
    // The entries before the cut were read whole, but the listing is not:
    // none of them may pass for the folder's content.
    std::string body = multistatus(response("/dav/a") + response("/dav/b"));
    body.resize(body.size() - std::string("</D:multistatus>").size());
    KV_FileListStore store(true, nullptr);
    params.store = &store;
    EXPECT_FALSE(kv_dav_parse_list(reinterpret_cast<const uint8_t*>(body.data()),
                                   static_cast<uint32_t>(body.size()), params, true, nullptr));
    EXPECT_TRUE(store.entries().empty());
}

TEST_F(KV_DavList, FillsAStoreWithTheNamesItWants)
{
    KVTL::KV_ListVal<KV_String> wanted;
    wanted.add("a.txt");
    wanted.add("sub");
    KV_FileListStore store(true, &wanted);
    params.store = &store;
    ASSERT_TRUE(kv_dav_parse_list(reinterpret_cast<const uint8_t*>(apache_body),
                                  static_cast<uint32_t>(std::string(apache_body).size()), params,
                                  true, nullptr));
    ASSERT_EQ(store.entries().size(), 2u);
    EXPECT_STREQ(store.entries().at(0)->name().data(), "a.txt");
    EXPECT_STREQ(store.entries().at(1)->name().data(), "sub");
}

TEST(KV_DavHref, UnescapesSegmentBySegment)
{
    struct Case
    {
        const char* href;
        bool ok;
        const char* path;
    } const cases[] = {
        {"/dav/a%20b", true, "/dav/a b"},
        {"http://host:81/dav/x/", true, "/dav/x/"},
        {"https://host", true, ""},
        {"  /x  ", true, "/x"},
        {"/dav/a%2Fb", false, ""},
        {"/dav/a%00", false, ""},
        {"/d%C3%A9j%C3%A0", true, "/d\xC3\xA9j\xC3\xA0"},
        {"/100%", true, "/100%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.href);
        KV_String out;
        EXPECT_EQ(kv_dav_href_path(c.href, out), c.ok);
        if (c.ok) {
            EXPECT_STREQ(out.data(), c.path);
        }
    }
}

} // namespace
