#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datasources/kv_filemanparamshttp.h"
#include "http/kv_filemanhttp.h"

namespace {

// The server's path syntax with the data-source name as its prefix, as the
// file manager sets it.
KV_PathMan syntax()
{
    KV_PathMan pm = KV_FileManHttpOpts().man_path();
    pm.set_dir_pre("web");
    return pm;
}

KV_PathDef path(const char* text)
{
    KV_PathDef p;
    EXPECT_TRUE(syntax().split_path(text, p, true));
    EXPECT_TRUE(p.prepend("web"));
    return p;
}

void docs(std::initializer_list<const char*> list, KVTL::KV_ListVal<KV_String>& out)
{
    out.clear();
    for (const char* d : list)
        out.add(d);
}

TEST(KV_FileManHttpDav, DocumentsDecideWhatIsWebDav)
{
    struct Case
    {
        std::initializer_list<const char*> docs;
        const char* path;
        bool dav;
    } const cases[] = {
        // No documents: the whole server is WebDAV.
        {{}, "/", true},
        {{}, "/any/where", true},
        // A folder document declares its subtree.
        {{"/dav/"}, "/dav", true},
        {{"/dav/"}, "/dav/x/y", true},
        {{"/dav/"}, "/", false},
        {{"/dav/"}, "/other", false},
        {{"/dav/"}, "/davx", false},
        // A file document makes its folder and everything below plain HTTP,
        // and wins over a folder document.
        {{"/dav/", "/dav/readme.txt"}, "/dav", false},
        {{"/dav/", "/dav/readme.txt"}, "/dav/x", false},
        {{"/dav/readme.txt", "/dav/"}, "/dav/x", false},
        {{"/dav/", "/dav/sub/readme.txt"}, "/dav", true},
        {{"/dav/", "/dav/sub/readme.txt"}, "/dav/sub", false},
        {{"/index.html"}, "/", false},
        // A relative document is made absolute the way a path is: it
        // matches paths written relative, not the ones below "/".
        {{"dav/"}, "dav/x", true},
        {{"dav/"}, "/dav/x", false},
        {{"dav/", "dav/a.txt"}, "dav", false},
    };
    const KV_PathMan pm = syntax();
    for (const Case& c : cases) {
        std::string trace = std::string(c.path) + " with";
        for (const char* d : c.docs)
            trace += std::string(" ") + d;
        SCOPED_TRACE(trace);
        KVTL::KV_ListVal<KV_String> list;
        docs(c.docs, list);
        EXPECT_EQ(KV_FileManHttp::dir_dav(path(c.path), pm, list), c.dav);
    }
}

class KV_FileManHttpCaps : public ::testing::Test
{
protected:
    void SetUp() override { id = KV_FileManId(KV_DsId(4, "web", "127.0.0.1", ""), 1); }
    // A manager over `docs`; not started.
    std::unique_ptr<KV_FileManHttp> make(std::initializer_list<const char*> list, bool auto_mkdir)
    {
        KV_FileManParamsHttp p;
        p.set_name("web");
        p.set_dst_addr("127.0.0.1");
        for (const char* d : list) {
            bool changed = false;
            EXPECT_TRUE(p.add_doc(d, changed));
        }
        p.opts_http().set_auto_mkdir(auto_mkdir);
        auto fm = std::make_unique<KV_FileManHttp>(id);
        EXPECT_TRUE(fm->set_params(&p, nullptr));
        return fm;
    }
    KV_FileManId id;
};

TEST_F(KV_FileManHttpCaps, WithoutParametersNothingIsAllowed)
{
    KV_FileManHttp fm(id);
    EXPECT_EQ(fm.can_create_dir(path("/a")), KV_DIR_CRT_NEVER);
    EXPECT_FALSE(fm.can_mkdir(path("/a")));
    EXPECT_FALSE(fm.can_resume_get());
    EXPECT_EQ(fm.scan_cache(), 0u);
    uint32_t n = 99;
    EXPECT_EQ(fm.min_frag_size(n), 0);
    EXPECT_FALSE(fm.init(nullptr));
}

TEST_F(KV_FileManHttpCaps, WebDavFoldersAllowFoldersAndMoves)
{
    auto fm = make({"/dav/", "/pub/index.html"}, false);
    EXPECT_EQ(fm->type(), KV_FILE_MAN_TYPE_HTTP);
    EXPECT_EQ(fm->can_create_dir(path("/dav/x")), KV_DIR_CRT_CREATE);
    EXPECT_EQ(fm->can_create_dir(path("/pub/x")), KV_DIR_CRT_NEVER);
    EXPECT_TRUE(fm->can_mkdir(path("/dav/x")));
    EXPECT_TRUE(fm->can_rename(path("/dav/x")));
    EXPECT_FALSE(fm->can_rename(path("/pub/x")));
    EXPECT_TRUE(fm->can_move(path("/dav/a"), path("/dav/b"), false));
    EXPECT_FALSE(fm->can_move(path("/dav/a"), path("/pub/b"), false));
    // Resumed downloads by default, not uploads.
    EXPECT_TRUE(fm->can_resume_get());
    EXPECT_FALSE(fm->can_resume_put());
}

TEST_F(KV_FileManHttpCaps, CopyToPlainHttpNeedsAutoMkdirForFolders)
{
    for (bool auto_mkdir : {false, true}) {
        SCOPED_TRACE(auto_mkdir);
        auto fm = make({"/dav/", "/pub/index.html"}, auto_mkdir);
        EXPECT_EQ(fm->can_create_dir(path("/pub/x")),
                  auto_mkdir ? KV_DIR_CRT_NONE : KV_DIR_CRT_NEVER);
        EXPECT_EQ(fm->can_copy(path("/dav/a"), path("/pub/x"), true), auto_mkdir);
        // A single file needs no folder made.
        EXPECT_TRUE(fm->can_copy(path("/dav/a"), path("/pub/x"), false));
        EXPECT_TRUE(fm->can_copy(path("/dav/a"), path("/dav/x"), true));
    }
}

TEST_F(KV_FileManHttpCaps, OnlyCopiesWithinWebDavOfOneSourceCarryNoData)
{
    auto fm = make({"/dav/", "/pub/index.html"}, true);
    EXPECT_FALSE(fm->log_incl_data(path("/dav/a"), path("/dav/b"), fm.get()));
    EXPECT_TRUE(fm->log_incl_data(path("/dav/a"), path("/pub/b"), fm.get()));
    EXPECT_TRUE(fm->log_incl_data(path("/pub/a"), path("/dav/b"), fm.get()));
    EXPECT_TRUE(fm->log_incl_data(path("/dav/a"), path("/dav/b"), nullptr));
    // Another instance of the same data source is the same server.
    KV_FileManParamsHttp p;
    p.set_name("web");
    KV_FileManHttp same(KV_FileManId(KV_DsId(4, "web", "127.0.0.1", ""), 2));
    ASSERT_TRUE(same.set_params(&p, nullptr));
    EXPECT_FALSE(fm->log_incl_data(path("/dav/a"), path("/dav/b"), &same));
    KV_FileManHttp other(KV_FileManId(KV_DsId(4, "other", "127.0.0.2", ""), 1));
    ASSERT_TRUE(other.set_params(&p, nullptr));
    EXPECT_TRUE(fm->log_incl_data(path("/dav/a"), path("/dav/b"), &other));
}

TEST_F(KV_FileManHttpCaps, EmptyDocumentListMakesEverythingWebDav)
{
    auto fm = make({}, false);
    for (const char* p : {"/", "/a", "/a/b/c"}) {
        SCOPED_TRACE(p);
        EXPECT_TRUE(fm->can_mkdir(path(p)));
        EXPECT_TRUE(fm->can_rename(path(p)));
    }
    EXPECT_FALSE(fm->log_incl_data(path("/a"), path("/b"), fm.get()));
}

} // namespace
