// The adapter between a pane and a live local file manager: the folder moves
// only when the user's own listing succeeds, typed folders, "..", refreshing,
// cancelled parameter dialogs, and an adapter that could not bind.
#include "browse_fixture.h"

#include "../support/kv_dlgdriver.h"
#include "dialogs/dlgtranspar.h"
#include "foundation/kv_msg.h"

#include <QMessageBox>

namespace {

using kvtest::Text;

// The tree's views: which notices were passed on to them.
struct TreeViews : KV_FileTreeNtfRecv
{
    std::vector<KV_TREE_NTF> passed;
    void on_tree_ntf(const KV_MsgTreeNtf* msg) override { passed.push_back(msg->ntf); }
    void on_node_ntf(KV_FileTreeNode*, KV_TREE_NODE_NTF, const KV_PathDef&, uint32_t) override {}
};

struct Global : KV_FileTreeGlobalNtfRecv
{
    int updates = 0;
    void node_updated(KV_FileTreeNode*) override { ++updates; }
};

// Parameter dialogs answered by the test instead of a person.
class Answering : public CFileManDataStd
{
public:
    bool ok = false;
    int asked = 0;

protected:
    bool EditRmParams(KV_FileReqTransParamsRm&, QWidget*) override { return ++asked, ok; }
    bool EditCpParams(KV_FileReqTransParamsCp&, uint16_t, uint16_t, QWidget*) override
    {
        return ++asked, ok;
    }
};

class FileManData_MT : public kvtest::BrowseFixture
{
protected:
    // Binds `data` to a new local instance and waits for its working folder.
    void Bind(CFileManData& data)
    {
        ASSERT_TRUE(data.Attach(nullptr, &global, KV_FileManId(local, 0)));
        man = data.GetFileMan();
        ASSERT_NE(man, nullptr);
        ASSERT_TRUE(Until([&] { return Pump(data) && data.GetFileTree()->root() != nullptr; }));
        tree = data.GetFileTree();
        tree->reg(&views);
    }
    // Hands the manager's messages to the adapter as the pane would; the
    // kinds of tree notices and the error texts are kept.
    bool Pump(CFileManData& data)
    {
        while (KV_Msg* m = data.GetInformer()->pop()) {
            if (m->type() == KV_MSG_TREE_NTF) {
                tree_ntfs.push_back(static_cast<KV_MsgTreeNtf*>(m)->ntf);
            } else if (m->type() == KV_MSG_ERR) {
                errors.push_back(static_cast<KV_MsgErrNtf*>(m)->text.data());
            }
            data.ProcessNtf(m);
            KV_Informer::destroy(m);
        }
        return true;
    }
    int Count(KV_TREE_NTF kind) const
    {
        return static_cast<int>(std::count(tree_ntfs.begin(), tree_ntfs.end(), kind));
    }
    KV_PathDef Work(const std::string& sub) { return kvtest::LocalPath(man, dir / sub); }

    Global global;
    TreeViews views;
    KV_FileMan* man = nullptr;
    KV_FileTree* tree = nullptr;
    std::vector<KV_TREE_NTF> tree_ntfs;
    std::vector<std::string> errors;
};

TEST_F(FileManData_MT, TheFolderMovesWhenTheUsersListingSucceeds)
{
    CFileManDataStd data;
    Bind(data);
    EXPECT_EQ(man->lock_cnt(), 1u) << "the adapter's own lock";
    EXPECT_TRUE(data.GetManId().valid_man());

    // An absolute typed folder is listed; it becomes current only once the
    // listing is in.
    const KV_PathDef a = Work("work/a");
    ASSERT_TRUE(data.SetPathText(KV_String((dir / "work/a").c_str()), false));
    EXPECT_NE(Text(data.GetPath()), Text(a)) << "not current before the listing";
    ASSERT_TRUE(Until([&] { return Pump(data) && Text(data.GetPath()) == Text(a); }));
    EXPECT_TRUE(Listed(tree, a, "one.txt"));
    EXPECT_TRUE(Listed(tree, a, "deep"));
    EXPECT_TRUE(std::find(views.passed.begin(), views.passed.end(), KV_TREE_NTF_RECV_ONLY) ==
                views.passed.end())
        << "the listing's success moves the folder and is never passed on";

    // A relative one is taken below the current folder.
    ASSERT_TRUE(data.SetPathText(KV_String("deep"), false));
    ASSERT_TRUE(
        Until([&] { return Pump(data) && Text(data.GetPath()) == Text(Work("work/a/deep")); }));

    // Typed text that climbs above the top is refused and reported.
    EXPECT_FALSE(data.SetPathText(KV_String("../../../../../../../../../../../../.."), false));
    ASSERT_TRUE(Until([&] { return Pump(data) && !errors.empty(); }, 5000));
    EXPECT_EQ(errors.back().rfind("Invalid path (../", 0), 0u) << errors.back();
    EXPECT_EQ(Text(data.GetPath()), Text(Work("work/a/deep")));

    // ".." goes up, "." stays.
    ASSERT_TRUE(data.ChangeFolder(KV_String(".."), true));
    EXPECT_EQ(Text(data.GetPath()), Text(a));
    ASSERT_TRUE(data.ChangeFolder(KV_String("."), true));
    EXPECT_EQ(Text(data.GetPath()), Text(a));
}

TEST_F(FileManData_MT, TopLevelUnknownFoldersAndStrayNoticesChangeNothing)
{
    CFileManDataStd data;
    Bind(data);
    const int updates = global.updates;

    // ".." at the top level (a one-entry path) changes nothing and lists
    // nothing.
    KV_PathDef top;
    top.append(tree->root()->name());
    ASSERT_TRUE(data.SetFolder(top, false));
    Until([&] { return Pump(data) && Count(KV_TREE_NTF_SCAN_END) > 0; }, 5000);
    Pump(data);
    const int scans = Count(KV_TREE_NTF_SCAN_REQ);
    ASSERT_TRUE(data.ChangeFolder(KV_String(".."), true));
    EXPECT_EQ(Text(data.GetPath()), Text(top));

    // A folder the tree does not know is shown without asking for it.
    ASSERT_TRUE(data.SetFolder(Work("work/b"), false));
    EXPECT_EQ(Text(data.GetPath()), Text(Work("work/b")));
    QTest::qWait(200);
    Pump(data);
    EXPECT_EQ(Count(KV_TREE_NTF_SCAN_REQ), scans) << "neither step asked for a listing";
    EXPECT_GE(global.updates, updates);

    // A listing success for the folder that is current already: nothing
    // moves, and still it is not passed on.
    const KV_PathDef cur = data.GetPath();
    auto* same = new KV_MsgTreeNtf(cur, KV_TREE_NTF_RECV_ONLY, true, KV_String());
    EXPECT_TRUE(data.ProcessNtf(same));
    KV_Informer::destroy(same);
    EXPECT_EQ(Text(data.GetPath()), Text(cur));
    // One for a folder the tree knows moves the folder, without a pane to
    // refresh it answers false, and is not passed on either.
    auto* other = new KV_MsgTreeNtf(top, KV_TREE_NTF_RECV_ONLY, true, KV_String());
    EXPECT_FALSE(data.ProcessNtf(other));
    KV_Informer::destroy(other);
    EXPECT_EQ(Text(data.GetPath()), Text(top));
    EXPECT_TRUE(std::find(views.passed.begin(), views.passed.end(), KV_TREE_NTF_RECV_ONLY) ==
                views.passed.end());

    // No session runs on a local disk: disconnecting asks for nothing.
    Pump(data);
    const size_t before = tree_ntfs.size();
    data.DisconnectAll();
    QTest::qWait(200);
    EXPECT_EQ(data.GetInformer()->pop(), nullptr);
    EXPECT_EQ(tree_ntfs.size(), before);
}

TEST_F(FileManData_MT, ACancelledParameterDialogQueuesNothing)
{
    Answering data;
    Bind(data);
    QWidget parent;
    KVTL::KV_ListVal<KV_String> names;
    names.add("one.txt");
    const KV_PathDef a = Work("work/a");
    const KV_PathDef b = Work("work/b");

    struct Case
    {
        const char* what;
        bool ok;
        bool remove;
        bool queued;
    };
    const Case cases[] = {
        {"delete cancelled", false, true, false},
        {"copy cancelled", false, false, false},
        {"copy confirmed", true, false, true},
    };
    for (const Case& c : cases) {
        data.ok = c.ok;
        const int asked = data.asked;
        const uint32_t before = pool->man_trans().man_info().map().entries();
        const bool result = c.remove
                                ? data.Remove(a, names, &parent)
                                : data.Receive(data.GetManId(), a, b, names, false, false, &parent);
        EXPECT_TRUE(result) << c.what << ": a cancelled dialog is no failure";
        EXPECT_EQ(data.asked, asked + 1) << c.what;
        Until([&] { return pool->man_trans().man_info().map().entries() > before; },
              c.queued ? 5000 : 300);
        EXPECT_EQ(pool->man_trans().man_info().map().entries() > before, c.queued) << c.what;
    }
    // Without a parent no dialog is asked.
    data.ok = false;
    const int asked = data.asked;
    EXPECT_TRUE(data.Remove(b, names, nullptr));
    EXPECT_EQ(data.asked, asked);
}

TEST_F(FileManData_MT, TheRealDeleteDialogCancelledQueuesNothing)
{
    CFileManDataStd data;
    Bind(data);
    KVTL::KV_ListVal<KV_String> names;
    names.add("one.txt");
    kvtest::DialogDriver<CDlgTransParRm> cancel([](CDlgTransParRm& dlg) { dlg.reject(); });
    QWidget parent;
    EXPECT_TRUE(data.Remove(Work("work/a"), names, &parent));
    EXPECT_EQ(cancel.handled, 1);
    QTest::qWait(200);
    EXPECT_EQ(pool->man_trans().man_info().map().entries(), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir / "work/a/one.txt"));
}

TEST_F(FileManData_MT, AnAdapterThatCannotBindAnswersNothing)
{
    CFileManDataFtp data;
    Global g;
    EXPECT_FALSE(data.Attach(nullptr, &g, KV_FileManId(KV_DsId(2, "Kivrel", "Ftp", "Gone"), 0)));
    EXPECT_EQ(data.GetFileMan(), nullptr);
    EXPECT_FALSE(data.GetManId().valid());
    EXPECT_EQ(data.GetInformer(), nullptr);
    EXPECT_EQ(data.GetFileTree(), nullptr);
    EXPECT_EQ(data.GetTavoInfoMan(), nullptr);
    EXPECT_EQ(data.GetTransferMode(), 0u);
    EXPECT_FALSE(data.Refresh());
    EXPECT_FALSE(data.CanRefresh());
    EXPECT_FALSE(data.SetPathText(KV_String("/x"), false));
    EXPECT_FALSE(data.Scan(KV_PathDef(), true));
    KVTL::KV_ListVal<KV_String> names;
    EXPECT_FALSE(data.Remove(KV_PathDef(), names, nullptr));
    data.DisconnectAll();

    // Bound to a manager of another protocol, the FTP queries answer nothing.
    CFileManDataFtp wrong;
    ASSERT_TRUE(wrong.Attach(nullptr, &g, KV_FileManId(local, 0)));
    EXPECT_NE(wrong.GetFileMan(), nullptr);
    EXPECT_EQ(wrong.GetFileTree(), nullptr);
    EXPECT_EQ(wrong.GetTavoInfoMan(), nullptr);
    EXPECT_EQ(wrong.GetTransferMode(), 0u);
}

} // namespace
