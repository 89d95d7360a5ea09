#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparamshttp.h"
#include "foundation/kv_path.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_filemanpool.h"
#include "root/kv_rootfixture.h"
#include "support/kv_poolthreads.h"

namespace {

using Names = KVTL::KV_ListVal<KV_String>;

struct names : Names
{
    names(std::initializer_list<const char*> l)
    {
        for (const char* s : l)
            add(s);
    }
};

class Facade : public roottest::RootTest
{
protected:
    void SetUp() override
    {
        RootTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(pool->load_req());
        ASSERT_TRUE(pool->man_trans().start());
        local = pool->reg(KV_FileManId(local_ds(), 0));
        ASSERT_NE(local, nullptr);
        local->lock(false);
        ASSERT_TRUE(KV_File::mkdir((work + "/src").c_str()));
        ASSERT_TRUE(kvtest::write_file(work + "/src/a.txt", "alpha\n"));
        ASSERT_TRUE(KV_File::mkdir((work + "/src/sub").c_str()));
        ASSERT_TRUE(kvtest::write_file(work + "/src/sub/b.bin", std::string(70000, '\x5a')));
        ASSERT_TRUE(KV_File::mkdir((work + "/dst").c_str()));
    }
    void TearDown() override
    {
        if (local)
            local->unlock(false);
        RootTest::TearDown();
    }

    KV_PathDef path(const std::string& text)
    {
        KV_PathDef p;
        EXPECT_TRUE(local->man_path().split_path(KV_String(text.c_str()), p, true));
        EXPECT_TRUE(p.prepend(local->man_path().dir_pre()));
        return p;
    }
    bool arrives(const std::string& file, const std::string& bytes)
    {
        if (pump_until([&] { return kvtest::read_file(file) == bytes; }))
            return true;
        KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(
            pool->man_trans().man_info().map());
        for (it.first(); !it.end(); it.next())
            ADD_FAILURE() << it.value()->descr().data() << ": " << it.value()->status_str() << " "
                          << it.value()->last_err().data();
        return false;
    }

    KV_FileMan* local = nullptr;
};

TEST_F(Facade, CopiesATreeBetweenTwoLocalInstances)
{
    const KV_FileManId src = local->id();
    const KV_FileManId dst(local_ds(), 0);
    ASSERT_TRUE(pool->copy(src, dst, path(work + "/src"), path(work + "/dst"),
                           names({"a.txt", "sub"}), KV_FileReqTransParamsCp(), false, false,
                           false));
    EXPECT_TRUE(arrives(work + "/dst/a.txt", "alpha\n"));
    EXPECT_TRUE(arrives(work + "/dst/sub/b.bin", std::string(70000, '\x5a')));
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(Facade, AMoveInsideOneDataSourceIsARename)
{
    const KV_FileManId id = local->id();
    ASSERT_TRUE(pool->copy(id, id, path(work + "/src"), path(work + "/dst"), names({"sub"}),
                           KV_FileReqTransParamsCp(), true, false, true));
    EXPECT_TRUE(arrives(work + "/dst/sub/b.bin", std::string(70000, '\x5a')));
    EXPECT_TRUE(pump_until([&] { return !KV_File::exists((work + "/src/sub").c_str()); }));
}

TEST_F(Facade, PathTextCopies)
{
    const KV_FileManId id = local->id();
    const KV_FileReqTransParamsCp params;
    // A destination ending in the separator is a folder; otherwise its last
    // entry names the copy.
    ASSERT_TRUE(pool->copy(id, id, KV_String(("  " + work + "/src/a.txt ").c_str()),
                           KV_String((work + "/dst/").c_str()), params, KV_FILEOP_COPY));
    EXPECT_TRUE(arrives(work + "/dst/a.txt", "alpha\n")) << (errors.empty() ? "" : errors[0]);
    ASSERT_TRUE(pool->copy(id, id, KV_String((work + "/src/a.txt").c_str()),
                           KV_String((work + "/dst/other.txt").c_str()), params, KV_FILEOP_COPY));
    EXPECT_TRUE(arrives(work + "/dst/other.txt", "alpha\n"));

    struct Bad
    {
        std::string src, dst, err;
    } bad[] = {
        {"   ", work + "/dst/", "Invalid source file name ."},
        {"", work + "/dst/", "Invalid source file name ."},
        {work + "/src/a.txt", "  ", "Invalid destination file name ."},
    };
    for (const Bad& b : bad) {
        errors.clear();
        EXPECT_FALSE(pool->copy(id, id, KV_String(b.src.c_str()), KV_String(b.dst.c_str()), params,
                                KV_FILEOP_COPY))
            << b.src << " -> " << b.dst;
        pump();
        ASSERT_EQ(errors.size(), 1u) << b.src << " -> " << b.dst;
        EXPECT_EQ(errors[0], b.err);
    }
}

TEST_F(Facade, AFileOperationOnTheLocalDiskUsesTheItemInPlace)
{
    KV_FileManId used;
    ASSERT_TRUE(pool->fileop(local->id(), KV_String((work + "/src/a.txt").c_str()),
                             KV_FileReqTransParamsCp(), KV_FILEOP_OPEN, &used));
    EXPECT_TRUE(used == local->id());
    ASSERT_TRUE(pump_until([&] { return !fileops.empty(); }));
    const auto* op = static_cast<const KV_MsgFileOp*>(fileops[0]);
    EXPECT_EQ(op->fileop, KV_FILEOP_OPEN);
    // The local item itself, named without the root's separator.
    const std::string p1 = op->path1.data();
    const std::string tail = "work/src/a.txt";
    EXPECT_EQ(p1.substr(p1.size() - std::min(p1.size(), tail.size())), tail) << p1;
    EXPECT_TRUE(std::filesystem::is_empty(tmp / "systmp")) << "nothing copied";
}

TEST_F(Facade, SingleRequestsNeedALiveManager)
{
    const KV_FileManId id = local->id();
    const KV_FileManId none(local_ds(), 77);
    ASSERT_TRUE(pool->mkdir(id, path(work + "/made")));
    EXPECT_TRUE(pump_until([&] { return KV_File::exists((work + "/made").c_str()); }));
    ASSERT_TRUE(pool->rename(id, path(work + "/made"), path(work + "/named"), false));
    EXPECT_TRUE(pump_until([&] { return KV_File::exists((work + "/named").c_str()); }));
    EXPECT_TRUE(pool->scan(id, path(work + "/src"), false, true));
    EXPECT_TRUE(pool->chmod(id, path(work + "/src/a.txt"), KV_String("644"), KV_String("644")));
    EXPECT_TRUE(pool->can_mkdir(id, path(work)));

    EXPECT_FALSE(pool->mkdir(none, path(work + "/x")));
    EXPECT_FALSE(pool->rename(none, path(work), path(work + "/y"), false));
    EXPECT_FALSE(pool->scan(none, path(work), false, false));
    EXPECT_FALSE(pool->pwd(none));
    EXPECT_FALSE(pool->tavo_man(none, 1, KV_MANAGE_CMD_DISCONNECT, KV_String()));
    EXPECT_FALSE(pool->can_mkdir(none, path(work)));
    EXPECT_FALSE(pool->can_rename(none, path(work)));
    EXPECT_FALSE(pool->remove(none, path(work), names({"a"}), KV_FileReqTransParamsRm()));
    EXPECT_FALSE(pool->copy(none, id, path(work), path(work), names({"a"}), Names(),
                            KV_FileReqTransParamsCp()));
}

TEST_F(Facade, PwdOnceTheFolderIsKnownQueuesNothing)
{
    local->set_pwd_done(true);
    const uint32_t before = local->nbusy();
    EXPECT_TRUE(pool->pwd(local->id()));
    EXPECT_EQ(local->nbusy(), before);
}

TEST_F(Facade, CanMoveTable)
{
    KV_FileMan* other = pool->reg(KV_FileManId(local_ds(), 0));
    ASSERT_NE(other, nullptr);
    KV_DsTreeNode* ftp = add_ftp("Srv", "127.0.0.1:1");
    ASSERT_NE(ftp, nullptr);
    KV_FileMan* remote = pool->reg(KV_FileManId(ftp->id(), 0));
    ASSERT_NE(remote, nullptr);
    const std::string w = work;
    struct Row
    {
        const char* what;
        KV_FileManId dst;
        std::string from, to;
        std::vector<const char*> items;
        bool ok;
    } rows[] = {
        {"another folder", other->id(), w + "/src", w + "/dst", {"a.txt"}, true},
        {"the same folder", other->id(), w + "/src", w + "/src", {"a.txt"}, false},
        {"a folder into itself", other->id(), w, w + "/src/sub", {"src"}, false},
        {"onto its own folder", other->id(), w + "/src", w, {"src"}, false},
        {"to another data source", remote->id(), w + "/src", w + "/dst", {"a.txt"}, false},
    };
    for (const Row& r : rows) {
        Names n;
        for (const char* i : r.items)
            n.add(i);
        EXPECT_EQ(pool->can_move(local->id(), r.dst, path(r.from), path(r.to), n, false), r.ok)
            << r.what;
    }
}

TEST_F(Facade, CanCopyToAPlainHttpFolderNeedsTheServerToMakeFolders)
{
    for (bool auto_mkdir : {true, false}) {
        KV_DsTreeNodeHttp n;
        n.set_name(auto_mkdir ? "Web auto" : "Web plain");
        n.params_http().set_dst_addr(auto_mkdir ? "127.0.0.1:1" : "127.0.0.2:1");
        n.set_inh_params(false);
        n.params_http().opts_http().set_auto_mkdir(auto_mkdir);
        // A folder that holds a listed document is a plain-HTTP one.
        ASSERT_TRUE(n.params_http().set_docs("/pub/index.html"));
        KV_DsTreeNode* node = add_ds(n);
        ASSERT_NE(node, nullptr);
        KV_FileMan* web = pool->reg(KV_FileManId(node->id(), 0));
        ASSERT_NE(web, nullptr);
        EXPECT_EQ(web->type(), KV_FILE_MAN_TYPE_HTTP);
        KV_PathDef to;
        ASSERT_TRUE(web->man_path().split_path(KV_String("/pub/"), to, true));
        ASSERT_TRUE(to.prepend(web->man_path().dir_pre()));
        // The local source without an instance is checked by the pool's own
        // manager, which is never started.
        const KV_FileManId src(local_ds(), 0);
        EXPECT_EQ(pool->can_copy(src, web->id(), path(work + "/src"), to, names({"sub"}), true),
                  auto_mkdir)
            << auto_mkdir;
        EXPECT_TRUE(
            pool->can_copy(src, web->id(), path(work + "/src"), to, names({"a.txt"}), false));
    }
    EXPECT_FALSE(pool->can_copy(KV_FileManId(local_ds(), 55), local->id(), path(work),
                                path(work + "/dst"), names({"a"}), false));
}

} // namespace
