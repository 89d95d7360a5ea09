// Browse windows with an FTP pane against a real vsftpd on loopback: the
// FTP side lists beside the local one with permissions and owners, the tree
// lists a folder once when it is expanded, closing hides the window until
// the control window hears that nothing holds its manager, and windows with
// live FTP sides come back at the next start.
#include "browse_fixture.h"

#include "../support/kv_dlgdriver.h"
#include "datasources/kv_dstreenodeds.h"
#include "shell/mainfrm.h"
#include "support/kv_nettest.h"
#include "support/kv_vsftpd.h"
#include "views/filelistview.h"
#include "views/filetreeview.h"

#include <filesystem>
#include <fstream>

namespace {

class FtpPanes_MT : public kvtest::BrowseFixture
{
protected:
    void SetUp() override
    {
        if (!kvtest::vsftpd_usable()) {
            GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
        }
        kvtest::BrowseFixture::SetUp();
        namespace fs = std::filesystem;
        const std::string root = dir / "ftproot";
        fs::create_directories(root + "/pub/sub/deeper");
        std::ofstream(root + "/pub/readme.txt") << "hello";
        std::ofstream(root + "/pub/sub/in.txt") << "x";
        port = kvtest::closed_port();
        server = kvtest::start_vsftpd(dir.path(), root, port, "");
        ASSERT_TRUE(server && server->wait_port(port)) << (server ? server->log() : "");

        KV_DsTreeNodeFtp n;
        n.set_name("Loopback");
        n.set_inh_params(false);
        n.params_ftp().set_dst_addr(KV_String(("127.0.0.1:" + std::to_string(port)).c_str()));
        n.params_ftp().set_anonymous(true);
        ftp = pool->tree().create(pool->tree().find(KV_DS_NODE_FTP, true), &n, 0, true);
        ASSERT_NE(ftp, nullptr);
    }

    // Waits until the side's manager knows its folder.
    bool Bound(CBrowseSplt* wnd, uint32_t side, int ms = 20000)
    {
        return Until(
            [wnd, side] {
                CBrowseFrm* pane = wnd->GetPane(side);
                KV_FileMan* m = pane && pane->GetData() ? pane->GetData()->GetFileMan() : nullptr;
                return m != nullptr && m->pwd_done() && pane->GetData()->GetFileTree()->root();
            },
            ms);
    }
    // Shows the FTP folder `path` (absolute) in the side's pane; true once
    // the engine listed it.
    bool ShowFtp(CBrowseSplt* wnd, uint32_t side, const char* path)
    {
        CFileManData* data = wnd->GetPane(side)->GetData();
        if (!data->SetPathText(KV_String(path), false)) {
            return false;
        }
        return Until([data, path] {
            KV_String shown;
            KV_FileTreeNode* node = data->GetFileTree()->find(data->GetPath().list());
            return data->GetPathText(shown, data->GetPath(), false, 0) &&
                   std::string(shown.data(), shown.length()) == path && node != nullptr &&
                   node->valid_items() != 0xFFFFFFFFu;
        });
    }
    static std::vector<std::string> Row(const CFileListView* list, const char* name)
    {
        const CFileListModel* m = list->GetModel();
        for (int r = 0; r < m->rowCount(); ++r) {
            if (m->index(r, 0).data().toString() == name) {
                std::vector<std::string> cells;
                for (int c = 0; c < m->columnCount(); ++c) {
                    cells.push_back(m->index(r, c).data().toString().toStdString());
                }
                return cells;
            }
        }
        return {};
    }

    uint16_t port = 0;
    std::unique_ptr<kvtest::ChildProc> server;
    KV_DsTreeNode* ftp = nullptr;
};

TEST_F(FtpPanes_MT, AnFtpPaneBesideALocalOneListsPermissionsAndOwners)
{
    // FTP lists show name, permissions, user and group.
    WriteProfileString("UI", "FileListCols2", "0456");
    CBrowseSplt* wnd = Open(KV_FileManId(local, 0), KV_FileManId(ftp->id(), 0), 0x0202);
    ASSERT_NE(wnd, nullptr);
    wnd->resize(900, 500);
    wnd->show();
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft));
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kRight)) << server->log();
    EXPECT_EQ(wnd->GetPane(CBrowseSplt::kRight)->GetData()->GetFileMan()->type(),
              KV_FILE_MAN_TYPE_FTP);
    ASSERT_TRUE(ShowFtp(wnd, CBrowseSplt::kRight, "/pub"));

    auto* list = wnd->GetPane(CBrowseSplt::kRight)->findChild<CFileListView*>();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetColumns(), (std::vector<int>{0, 4, 5, 6}));
    ASSERT_TRUE(Until([&] { return list->GetModel()->rowCount() >= 2; }));
    const std::vector<std::string> file = Row(list, "readme.txt");
    const std::vector<std::string> folder = Row(list, "sub");
    ASSERT_EQ(file.size(), 4u);
    ASSERT_EQ(folder.size(), 4u);
    EXPECT_EQ(file[1], "-rw-r--r--");
    EXPECT_EQ(folder[1].substr(0, 1), "d");
    EXPECT_EQ(folder[1].size(), 10u);
    for (int c : {2, 3}) {
        EXPECT_FALSE(file[static_cast<size_t>(c)].empty()) << c;
    }

    // The local side lists its own folder meanwhile.
    auto* local_list = wnd->GetPane(CBrowseSplt::kLeft)->findChild<CFileListView*>();
    ASSERT_NE(local_list, nullptr);
    EXPECT_TRUE(Until([&] { return local_list->GetModel()->rowCount() > 0; }));
    EXPECT_EQ(local_list->GetColumns(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(FtpPanes_MT, ExpandingAnFtpSubfolderListsItOnce)
{
    CBrowseSplt* wnd = Open(KV_FileManId(ftp->id(), 0), KV_FileManId(), 0x0003);
    ASSERT_NE(wnd, nullptr);
    wnd->show();
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft)) << server->log();
    ASSERT_TRUE(ShowFtp(wnd, CBrowseSplt::kLeft, "/pub"));
    CFileManData* data = wnd->GetPane(CBrowseSplt::kLeft)->GetData();
    auto* tree = wnd->GetPane(CBrowseSplt::kLeft)->findChild<CFileTreeView*>();
    ASSERT_NE(tree, nullptr);
    KV_PathDef sub;
    sub = data->GetPath();
    sub.append("sub");
    ASSERT_TRUE(Until([&] { return tree->ItemOf(sub) != nullptr; }));

    struct Counter : KV_FileTreeNtfRecv
    {
        KV_FileTree* tree = nullptr;
        KV_PathDef path;
        int listed = 0;
        ~Counter() override
        {
            if (tree != nullptr) {
                tree->unreg(this);
            }
        }
        void on_tree_ntf(const KV_MsgTreeNtf* msg) override
        {
            listed += msg->ntf == KV_TREE_NTF_SCAN_END && msg->path == path ? 1 : 0;
        }
        void on_node_ntf(KV_FileTreeNode*, KV_TREE_NODE_NTF, const KV_PathDef&, uint32_t) override
        {
        }
    } counter;
    counter.path = sub;
    ASSERT_TRUE(data->GetFileTree()->reg(&counter));
    counter.tree = data->GetFileTree();
    CFileTreeData* item = tree->ItemOf(sub);
    // An FTP listing cannot tell whether a folder has content, so the
    // folder is opened by choosing it; it lists once and then expands.
    EXPECT_TRUE(item->children.empty());
    tree->setFocus();
    tree->selectionModel()->setCurrentIndex(tree->GetModel()->IndexOf(item),
                                            QItemSelectionModel::ClearAndSelect);
    ASSERT_TRUE(Until([&] { return counter.listed == 1 && !item->children.empty(); }))
        << server->log();
    EXPECT_EQ(item->children.size(), 1u) << "folders only while the list is shown";
    EXPECT_EQ(kvtest::Q(item->children[0]->node->name()), "deeper");
    tree->collapse(tree->GetModel()->IndexOf(item));
    tree->expand(tree->GetModel()->IndexOf(item));
    EXPECT_FALSE(Until([&] { return counter.listed != 1; }, 1000));
    KV_FileTreeNode* node = data->GetFileTree()->find(sub.list());
    ASSERT_NE(node, nullptr);
    EXPECT_NE(data->GetFileTree()->find(node, KV_String("in.txt")), nullptr);
}

TEST_F(FtpPanes_MT, ClosingHidesUntilTheControlWindowHearsTheManagerIsFree)
{
    // The control window hears the engine's notices here.
    auto* frm = new CMainFrm;
    ASSERT_TRUE(frm->CreateFrame());
    app->SetMainFrm(frm);
    CBrowseSplt* wnd = Open(KV_FileManId(ftp->id(), 0), KV_FileManId(), 0x0002);
    ASSERT_NE(wnd, nullptr);
    wnd->show();
    const auto bound = [wnd] {
        CBrowseFrm* pane = wnd->GetPane(CBrowseSplt::kLeft);
        KV_FileMan* m = pane && pane->GetData() ? pane->GetData()->GetFileMan() : nullptr;
        return m != nullptr && m->pwd_done();
    };
    ASSERT_TRUE(kvtest::WaitFor([&] { return bound(); }, 20000)) << server->log();
    const KV_FileManId id = wnd->GetLeftManId();
    QPointer<CBrowseSplt> alive(wnd);
    // A request holds the manager.
    KV_FileMan* man = pool->man(id);
    man->lock(true);
    wnd->close();
    EXPECT_FALSE(wnd->isVisible()) << "closing hides";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_NE(alive, nullptr) << "kept while a request holds its manager";
    // The request ends: the control window hears that the manager is free,
    // the hidden window goes, and the manager with it.
    man->unlock(true);
    EXPECT_TRUE(kvtest::WaitFor(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return alive == nullptr;
        },
        30000));
    EXPECT_TRUE(kvtest::WaitFor([&] { return pool->man(id) == nullptr; }, 10000));
    app->SetMainFrm(nullptr);
    delete frm;
}

TEST_F(FtpPanes_MT, WindowsWithLiveFtpSidesComeBackAndALiveInstanceIsRaised)
{
    CBrowseSplt* one = Open(KV_FileManId(local, 0), KV_FileManId(ftp->id(), 0), 0x0202);
    CBrowseSplt* two = Open(KV_FileManId(ftp->id(), 0), KV_FileManId(), 0x0003);
    ASSERT_TRUE(one && two);
    ASSERT_TRUE(Bound(one, CBrowseSplt::kRight)) << server->log();
    ASSERT_TRUE(Bound(two, CBrowseSplt::kLeft)) << server->log();
    one->show();
    two->show();
    const KV_FileManId a = one->GetRightManId();
    const KV_FileManId b = two->GetLeftManId();
    EXPECT_FALSE(a == b) << "each window has its own FTP instance";

    // A live instance opened from the data-source tree raises its window.
    QList<QWidget*> before;
    app->ListBrowseWnds(before);
    two->showMinimized();
    KV_DsTreeNode* node = pool->tree().find(b);
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(app->OpenDsBrowseWnd(node));
    QList<QWidget*> after;
    app->ListBrowseWnds(after);
    EXPECT_EQ(after.size(), before.size()) << "no second window";
    EXPECT_TRUE(two->isVisible());
    EXPECT_FALSE(two->isMinimized());

    // Quit: both are saved; requests keep their FTP instances alive until
    // the next start, where both come back shown.
    ASSERT_TRUE(app->SaveBrowseWnds());
    ASSERT_EQ(app->GetBrWndMan().count(), 2u);
    KV_FileMan* ma = pool->man(a);
    KV_FileMan* mb = pool->man(b);
    ma->lock(true);
    mb->lock(true);
    delete one;
    delete two;
    ASSERT_TRUE(app->RestoreBrowseWnds());
    QList<QWidget*> wnds;
    app->ListBrowseWnds(wnds);
    ASSERT_EQ(wnds.size(), 2);
    std::vector<std::pair<KV_FileManId, KV_FileManId>> ids;
    for (QWidget* w : wnds) {
        auto* bw = qobject_cast<CBrowseSplt*>(w);
        EXPECT_TRUE(bw->isVisible()) << "restored windows are shown";
        ids.emplace_back(bw->GetLeftManId(), bw->GetRightManId());
    }
    EXPECT_EQ(std::count_if(ids.begin(), ids.end(),
                            [&](auto& p) { return p.second == a && p.first.valid(); }),
              1);
    EXPECT_EQ(std::count_if(ids.begin(), ids.end(),
                            [&](auto& p) { return p.first == b && !p.second.valid(); }),
              1);
    for (QWidget* w : wnds) {
        delete w;
    }
    ma->unlock(true);
    mb->unlock(true);
}

} // namespace
