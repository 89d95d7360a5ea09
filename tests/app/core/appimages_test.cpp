// Images of the data-source tree and the version text: plain functions that
// need no application object.
#include "core/appimages.h"

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "foundation/kv_file.h"
#include "root/kv_filemanpool.h"
#include "support/kv_testdir.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatVersion, WritesLettersForSmallFourthNumbers)
{
    struct Case
    {
        uint64_t v;
        const char* text;
    };
    auto ver = [](uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
        return a << 48 | b << 32 | c << 16 | d;
    };
    const Case cases[] = {
        {0, "0.0"},
        {ver(2, 1, 0, 0), "2.1"},
        {ver(2, 1, 3, 0), "2.1.3"},
        {ver(2, 1, 3, 2), "2.1.3b"},
        {ver(2, 1, 0, 1), "2.1.0a"},
        {ver(2, 1, 0, 26), "2.1.0z"},
        {ver(2, 1, 0, 27), "2.1.0.27"},
        {ver(65535, 65535, 65535, 65535), "65535.65535.65535.65535"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatVersion(c.v).toStdString(), c.text);
    }
}

TEST(ImageIndexes, ManagerKindsAndStates)
{
    const std::pair<uint32_t, int> kinds[] = {
        {0, -1},
        {1, KV_IMG_COMPUTER},
        {2, KV_IMG_FTP_VAR},
        {3, KV_IMG_HTTP_VAR},
        {4, KV_IMG_SFTP_VAR},
        {5, -1},
    };
    for (const auto& [kind, image] : kinds) {
        EXPECT_EQ(GetManTypeImage(kind), image) << kind;
    }
    struct State
    {
        int state;
        bool variant;
        int image;
    };
    const State states[] = {
        {0, false, 10}, {0, true, 10}, {1, true, 11},   {1, false, 12},
        {2, true, 12},  {3, true, 10}, {-1, false, 10},
    };
    for (const State& s : states) {
        EXPECT_EQ(GetStateImage(s.state, s.variant), s.image) << s.state << " " << s.variant;
    }
}

class TestTree : public KV_DsTree
{
public:
    using KV_DsTree::KV_DsTree;
    bool load_file() { return KV_DsTree::load(static_cast<KV_FileTransMan*>(nullptr)); }
};

// The default tree (root, the protocol groups, the computer) with a folder
// inside the FTP group and a data source inside that folder.
class NodeImagesTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        tree.set_pool(&pool);
        ASSERT_TRUE(tree.load_file());
        KV_DsTreeNodeGrpFtp g(tree);
        g.set_name("Folder");
        nested = tree.create(tree.find(KV_DS_NODE_FTP, true), &g, 0, true);
        KV_DsTreeNodeFtp n;
        n.set_name("Server");
        n.params_ftp().set_dst_addr("ftp.example.com");
        ftp = tree.create(nested, &n, 0, true);
        ASSERT_TRUE(nested && ftp);
    }

    KV_FileManPool pool;
    kvtest::LogErr err;
    TestTree tree{err};
    KV_DsTreeNode* nested = nullptr;
    KV_DsTreeNode* ftp = nullptr;
};

TEST_F(NodeImagesTest, TopLevelGroupsShowTheirKindNestedOnesAFolder)
{
    struct Case
    {
        const char* name;
        const KV_DsTreeNode* node;
        bool variant;
        int image;
        int selected;
    };
    const Case cases[] = {
        {"no node", nullptr, false, 0, 1},
        {"root group", tree.find(KV_DS_NODE_GRP_DS, true), false, 9, 9},
        {"FTP group", tree.find(KV_DS_NODE_FTP, true), false, 6, 6},
        {"SFTP group", tree.find(KV_DS_NODE_SFTP, true), false, 8, 8},
        {"HTTP group", tree.find(KV_DS_NODE_HTTP, true), true, 7, 7},
        {"nested FTP group", nested, true, 0, 1},
        {"computer", tree.find(KV_DS_NODE_STD, false), false, 2, 2},
        {"FTP server", ftp, false, 3, 3},
        {"FTP server, own image", ftp, true, 6, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int image = 99, selected = 99;
        EXPECT_TRUE(GetNodeImages(tree, c.node, image, selected, c.variant));
        EXPECT_EQ(image, c.image);
        EXPECT_EQ(selected, c.selected);
    }
}

} // namespace
