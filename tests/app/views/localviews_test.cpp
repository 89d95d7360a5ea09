// The file list and the folder tree of a local browse pane, with the
// engine's threads listing the disk: what they show follows the engine's
// notices, and what the user does there becomes the right requests.
#include "kv_viewfixture.h"

#include "core/fileclip.h"
#include "dialogs/dlgask.h"
#include "dialogs/dlgselcols.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <filesystem>

namespace {

using kvtest::write_file;

// Suites that run the engine's threads end in _MT.
class LocalViews_MT : public kvtest::ViewFixture
{
protected:
    void MakeFiles()
    {
        ASSERT_TRUE(write_file(work + "/a.txt", "a"));
        ASSERT_TRUE(write_file(work + "/c.dat", "cc"));
        ASSERT_TRUE(KV_File::mkdir((work + "/b").c_str()));
        ASSERT_TRUE(KV_File::mkdir((work + "/b/sub").c_str()));
        ASSERT_TRUE(write_file(work + "/b/in.txt", "x"));
    }

    // The open editor of a view, or null (a closed one waits hidden for
    // its deletion).
    static QLineEdit* Editor(QWidget* view)
    {
        for (QLineEdit* e : view->findChildren<QLineEdit*>()) {
            if (e->isVisible()) {
                return e;
            }
        }
        return nullptr;
    }

    // Counts what the browse tree tells its views: a request that reaches
    // the engine comes back as notices.
    struct Notices : KV_FileTreeNtfRecv
    {
        int count = 0;
        void on_tree_ntf(const KV_MsgTreeNtf*) override { ++count; }
        void on_node_ntf(KV_FileTreeNode*, KV_TREE_NODE_NTF kind, const KV_PathDef&,
                         uint32_t) override
        {
            if (kind == KV_TREE_NODE_ADDED || kind == KV_TREE_NODE_REMOVED ||
                kind == KV_TREE_NODE_CHANGED) {
                ++count;
            }
        }
    };
};

TEST_F(LocalViews_MT, ListAndTreeFollowNewRenamedAndDeletedEntries)
{
    MakeFiles();
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    CFileTreeView* tree = Tree();
    ASSERT_NE(list, nullptr);
    ASSERT_NE(tree, nullptr);
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; })) << Names(list).size();
    EXPECT_EQ(Names(list), (std::vector<std::string>{"b", "a.txt", "c.dat"}));
    // The tree holds the folders only while the list is shown.
    const CFileTreeData* folder = tree->ItemOf(Data()->GetPath());
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(Children(folder), (std::vector<std::string>{"b"}));
    // The pane asks its views to follow a change of folder.
    tree->UpdateStatus();
    EXPECT_EQ(tree->GetSelectedItem(), folder);

    // A new folder named in the list.
    list->setFocus();
    list->NewDirectory();
    QLineEdit* editor = Editor(list);
    ASSERT_NE(editor, nullptr);
    editor->setText("  made  ");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(Until([&] { return std::filesystem::is_directory(work + "/made"); }));
    ASSERT_TRUE(Until([&] { return Children(folder).size() == 2; }));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"b", "made", "a.txt", "c.dat"}));
    EXPECT_EQ(Children(folder), (std::vector<std::string>{"b", "made"}));

    // Renamed in the list: the list and the tree follow the engine.
    const int row = list->GetModel()->RowOf(tree->ItemOf(Data()->GetPath())->children[1]->node);
    ASSERT_GE(row, 0);
    list->selectionModel()->setCurrentIndex(list->GetModel()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
    list->Rename();
    editor = Editor(list);
    ASSERT_NE(editor, nullptr);
    editor->setText("done");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(Until([&] { return Children(folder) == std::vector<std::string>{"b", "done"}; }));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"b", "done", "a.txt", "c.dat"}));

    // Deleted from the list, once the engine's question is answered.
    int asked = 0;
    kvtest::DialogDriver<CDlgAsk> yes([&](CDlgAsk& dlg) {
        ++asked;
        dlg.Item<QPushButton>(CDlgAsk::IDC_YES)->click();
    });
    list->selectionModel()->setCurrentIndex(list->GetModel()->index(1, 0),
                                            QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
    list->Delete(false);
    ASSERT_TRUE(Until([&] { return Children(folder) == std::vector<std::string>{"b"}; }));
    EXPECT_FALSE(std::filesystem::exists(work + "/done"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"b", "a.txt", "c.dat"}));
}

} // namespace

namespace {

TEST_F(LocalViews_MT, EscapeAndAnUnchangedNameSendNothing)
{
    MakeFiles();
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    CFileTreeView* tree = Tree();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    tree->UpdateStatus();
    const std::vector<std::string> before = Names(list);
    Notices notices;
    ASSERT_TRUE(Data()->GetFileTree()->reg(&notices));

    // Escape on a new folder's name: the temporary entry goes, nothing is
    // asked of the engine, and the editor does not come back.
    list->setFocus();
    list->NewDirectory();
    ASSERT_NE(Editor(list), nullptr);
    EXPECT_EQ(Names(list).size(), 4u);
    QTest::keyClick(Editor(list), Qt::Key_Escape);
    EXPECT_FALSE(Until([&] { return Editor(list) != nullptr; }, 300));
    EXPECT_EQ(Names(list), before);

    tree->setFocus();
    CFileTreeData* folder = tree->GetSelectedItem();
    ASSERT_NE(folder, nullptr);
    tree->NewDirectory();
    ASSERT_NE(Editor(tree), nullptr);
    QTest::keyClick(Editor(tree), Qt::Key_Escape);
    EXPECT_FALSE(Until([&] { return Editor(tree) != nullptr; }, 300));
    EXPECT_EQ(Children(tree->ItemOf(Data()->GetPath())), (std::vector<std::string>{"b"}));

    // The same name again, and Escape on a rename.
    list->setFocus();
    list->selectionModel()->setCurrentIndex(list->GetModel()->index(1, 0),
                                            QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
    list->Rename();
    ASSERT_NE(Editor(list), nullptr);
    Editor(list)->setText(" a.txt ");
    QTest::keyClick(Editor(list), Qt::Key_Return);
    list->Rename();
    ASSERT_NE(Editor(list), nullptr);
    Editor(list)->setText("");
    QTest::keyClick(Editor(list), Qt::Key_Escape);
    EXPECT_FALSE(Until([&] { return Editor(list) != nullptr; }, 300));
    EXPECT_FALSE(Until([&] { return notices.count != 0; }, 500));
    EXPECT_FALSE(std::filesystem::exists(work + "/New directory"));
    EXPECT_EQ(Names(list), before);

    // An empty name committed opens the editor again.
    list->Rename();
    ASSERT_NE(Editor(list), nullptr);
    Editor(list)->setText("  ");
    QTest::keyClick(Editor(list), Qt::Key_Return);
    ASSERT_TRUE(Until([&] { return Editor(list) != nullptr; }, 2000));
    Editor(list)->setText("e.txt");
    QTest::keyClick(Editor(list), Qt::Key_Return);
    // The probe sees a request when one is made.
    ASSERT_TRUE(Until([&] { return std::filesystem::exists(work + "/e.txt"); }));
    EXPECT_TRUE(Until([&] { return notices.count != 0; }));
    Data()->GetFileTree()->unreg(&notices);
}

TEST_F(LocalViews_MT, DeliveriesForAnotherViewAreIgnored)
{
    MakeFiles();
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    CFileTreeView* tree = Tree();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    KV_FileTree* t = Data()->GetFileTree();
    const KV_PathDef& path = Data()->GetPath();
    KV_FileTreeNode* a = t->find(Folder(Data()), "a.txt");
    ASSERT_NE(a, nullptr);
    const CFileTreeData* folder = tree->ItemOf(path);
    const uint32_t other = 0x7FFFFFFF;

    struct Step
    {
        KV_FileTreeNode* node;
        KV_TREE_NODE_NTF kind;
        uint32_t number; // 1: the list's own, 2: the tree's own
        size_t list_rows;
        size_t tree_children;
    };
    const Step steps[] = {
        {nullptr, KV_TREE_NODE_REFRESH_BEGIN, other, 3, 1},
        // Number 0 reaches every list, but no tree.
        {nullptr, KV_TREE_NODE_REFRESH_BEGIN, 0, 0, 1},
        {a, KV_TREE_NODE_REFRESH, other, 0, 1},
        {a, KV_TREE_NODE_REFRESH, 0, 1, 1},
        {a, KV_TREE_NODE_REFRESH, 1, 1, 1},
        {nullptr, KV_TREE_NODE_REFRESH_BEGIN, 2, 1, 0},
        {nullptr, KV_TREE_NODE_REFRESH_BEGIN, 1, 0, 0},
    };
    int i = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(i++);
        const uint32_t number = s.number == 1   ? list->GetNumber()
                                : s.number == 2 ? tree->GetNumber()
                                                : s.number;
        t->inform(s.node, s.kind, path, number);
        EXPECT_EQ(Names(list).size(), s.list_rows);
        EXPECT_EQ(tree->ItemOf(path), folder);
        EXPECT_EQ(Children(folder).size(), s.tree_children);
    }
    EXPECT_NE(list->GetNumber(), tree->GetNumber());
}

TEST_F(LocalViews_MT, PasteTargetsAndSelections)
{
    MakeFiles();
    Open(CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    auto select = [&](std::vector<int> rows) {
        list->clearSelection();
        for (int r : rows) {
            list->selectionModel()->select(list->GetModel()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    };
    KV_PathDef here;
    here = Data()->GetPath();
    KV_PathDef into_b;
    into_b = here;
    into_b.append("b");

    select({});
    EXPECT_TRUE(list->GetTargetPath() == here);
    EXPECT_FALSE(list->GetSelection(0, nullptr, nullptr, false));
    select({0});
    EXPECT_TRUE(list->GetTargetPath() == into_b);
    // A folder is no file, and refused as one.
    EXPECT_FALSE(list->GetSelection(0, nullptr, nullptr, true));
    EXPECT_FALSE(list->GetSelection(KV_TN_DIR, nullptr, nullptr, false));
    select({1, 2});
    EXPECT_TRUE(list->GetTargetPath().empty());
    EXPECT_TRUE(list->GetSelection(0, nullptr, nullptr, true));
    KV_PathDef path;
    EXPECT_FALSE(list->GetSelection(0, &path, nullptr, false));
    EXPECT_EQ(list->GetSelectedEntry(), nullptr);
    select({1});
    uint32_t type = 99;
    ASSERT_TRUE(list->GetSelection(0, &path, &type, true));
    EXPECT_EQ(std::string(path.last().data()), "a.txt");
    EXPECT_EQ(type, static_cast<uint32_t>(KV_FD_DATA_EXT));
    KV_FileData* entry = list->GetSelectedEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->name().data()), "a.txt");
    KV_FileData::destr_clone(entry);
    EXPECT_TRUE(list->CanGoUp());
}

TEST_F(LocalViews_MT, ExpandingAFolderListsItOnce)
{
    MakeFiles();
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileTreeView* tree = Tree();
    ASSERT_TRUE(Until([&] { return Children(tree->ItemOf(Data()->GetPath())).size() == 1; }));
    KV_PathDef b_path;
    b_path = Data()->GetPath();
    b_path.append("b");

    // Counts the listings of b the engine reports.
    struct Counter : KV_FileTreeNtfRecv
    {
        KV_PathDef path;
        int listed = 0;
        void on_tree_ntf(const KV_MsgTreeNtf* msg) override
        {
            if (msg->ntf == KV_TREE_NTF_SCAN_END && msg->path == path) {
                ++listed;
            }
        }
        void on_node_ntf(KV_FileTreeNode*, KV_TREE_NODE_NTF, const KV_PathDef&, uint32_t) override
        {
        }
    } counter;
    counter.path = b_path;
    KV_FileTree* t = Data()->GetFileTree();
    ASSERT_TRUE(t->reg(&counter));

    CFileTreeData* b = tree->ItemOf(b_path);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->has_children);
    EXPECT_TRUE(b->children.empty());
    tree->expand(tree->GetModel()->IndexOf(b));
    EXPECT_EQ(tree->GetPendingItem(), b);
    ASSERT_TRUE(Until([&] { return counter.listed == 1 && !b->children.empty(); }));
    EXPECT_EQ(Children(b), (std::vector<std::string>{"sub"}));
    EXPECT_TRUE(tree->isExpanded(tree->GetModel()->IndexOf(b)));

    tree->collapse(tree->GetModel()->IndexOf(b));
    tree->expand(tree->GetModel()->IndexOf(b));
    EXPECT_FALSE(Until([&] { return counter.listed != 1; }, 500));
    t->unreg(&counter);
}

TEST_F(LocalViews_MT, WithoutTheListTheTreeShowsFiles)
{
    MakeFiles();
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileTreeView* tree = Tree();
    KV_PathDef here;
    here = Data()->GetPath();
    KV_PathDef b_path;
    b_path = here;
    b_path.append("b");
    ASSERT_TRUE(Until([&] { return tree->ItemOf(b_path) != nullptr; }));
    tree->expand(tree->GetModel()->IndexOf(tree->ItemOf(b_path)));
    ASSERT_TRUE(Until([&] { return Children(tree->ItemOf(b_path)).size() == 1; }));
    tree->setFocus();
    tree->selectionModel()->setCurrentIndex(tree->GetModel()->IndexOf(tree->ItemOf(b_path)),
                                            QItemSelectionModel::ClearAndSelect);
    // Selecting a folder in the tree shows it.
    ASSERT_TRUE(Until([&] { return Data()->GetPath() == b_path; }));

    CFileSplitter* splitter = Pane()->GetSplitter();
    const CPaneInfo list_pane(&classCFileListView, 0);
    splitter->TogglePane(list_pane);
    // The splitter frees the view from the event loop, which the test has
    // not got.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(Until([&] { return List() == nullptr; }));
    EXPECT_TRUE(Data()->IsListHidden());
    EXPECT_EQ(Children(tree->ItemOf(here)), (std::vector<std::string>{"b", "a.txt", "c.dat"}));
    EXPECT_EQ(Children(tree->ItemOf(b_path)), (std::vector<std::string>{"sub", "in.txt"}));
    EXPECT_TRUE(tree->isExpanded(tree->GetModel()->IndexOf(tree->ItemOf(b_path))));
    EXPECT_EQ(tree->GetSelectedItem(), tree->ItemOf(b_path));

    splitter->TogglePane(list_pane);
    ASSERT_TRUE(Until([&] { return List() != nullptr && !Data()->IsListHidden(); }));
    EXPECT_EQ(Children(tree->ItemOf(here)), (std::vector<std::string>{"b"}));
    EXPECT_EQ(Children(tree->ItemOf(b_path)), (std::vector<std::string>{"sub"}));
    EXPECT_TRUE(tree->isExpanded(tree->GetModel()->IndexOf(tree->ItemOf(b_path))));
    EXPECT_EQ(tree->GetSelectedItem(), tree->ItemOf(b_path));
    // Below the top level the engine lists "..".
    ASSERT_TRUE(Until([&] { return Names(List()).size() == 3; }));
    EXPECT_EQ(Names(List()), (std::vector<std::string>{"..", "sub", "in.txt"}));
}

TEST_F(LocalViews_MT, ADropOfTwoFilesFromTheOtherPaneQueuesOneCopy)
{
    ASSERT_TRUE(KV_File::mkdir((work + "/src").c_str()));
    ASSERT_TRUE(KV_File::mkdir((work + "/dst").c_str()));
    ASSERT_TRUE(write_file(work + "/src/a.txt", "a"));
    ASSERT_TRUE(write_file(work + "/src/c.dat", "cc"));
    Open(CBrowseSplt::kList | (CBrowseSplt::kList << 8), true);
    ASSERT_TRUE(Show(work + "/src", CBrowseSplt::kLeft));
    ASSERT_TRUE(Show(work + "/dst", CBrowseSplt::kRight));
    const size_t queued = pool->man_trans().man_info().map().entries();

    CFileClipData clip;
    clip.src = Data(CBrowseSplt::kLeft)->GetManId();
    clip.dir = Data(CBrowseSplt::kLeft)->GetPath();
    clip.names.add("a.txt");
    clip.names.add("c.dat");
    std::unique_ptr<QMimeData> mime(MakeFileMimeData(clip, CKivrelApp::GetClipFormatBrDd(), true));
    CFileListView* target = List(CBrowseSplt::kRight);
    ASSERT_NE(target, nullptr);
    // Below the entries: into the shown folder. Ctrl: the same disk moves
    // by default.
    const QPoint below(20, target->GetItemView()->viewport()->height() - 5);
    EXPECT_EQ(target->OnDrop(mime.get(), below, Qt::ControlModifier), 1);
    ASSERT_TRUE(Until([&] {
        return std::filesystem::exists(work + "/dst/a.txt") &&
               std::filesystem::exists(work + "/dst/c.dat");
    }));
    EXPECT_TRUE(std::filesystem::exists(work + "/src/a.txt"));
    EXPECT_EQ(pool->man_trans().man_info().map().entries(), queued + 1);
}

TEST_F(LocalViews_MT, ColumnsAndSorting)
{
    MakeFiles();
    Open(CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    EXPECT_EQ(list->GetColumns(), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(list->GetModel()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Size");

    kvtest::DialogDriver<CDlgSelCols> driver([](CDlgSelCols& dlg) {
        auto* available = dlg.Item<QListWidget>(CDlgSelCols::IDC_AVAILABLE);
        std::vector<std::string> offered;
        for (int i = 0; i < available->count(); ++i) {
            offered.push_back(available->item(i)->text().toStdString());
        }
        // Local panes have no owners.
        EXPECT_EQ(offered, (std::vector<std::string>{"Permissions"}));
        auto* selected = dlg.Item<QListWidget>(CDlgSelCols::IDC_SELECTED);
        selected->item(1)->setSelected(true);
        dlg.Item<QPushButton>(CDlgSelCols::IDC_REMOVE)->click();
        dlg.Item<QCheckBox>(CDlgSelCols::IDC_DEFAULT)->setChecked(true);
        dlg.accept();
    });
    list->ChooseColumns();
    EXPECT_EQ(driver.handled, 1);
    EXPECT_EQ(list->GetColumns(), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(GetProfileString("UI", "FileListCols1"), "023");
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    // Type names come from the MIME database, not the fallback.
    EXPECT_NE(list->GetModel()->index(1, 1).data().toString(), ".TXT File");
    EXPECT_FALSE(list->GetModel()->index(1, 1).data().toString().isEmpty());

    // "Name" again: descending, folders included.
    list->OnColumnClick(0);
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"c.dat", "a.txt", "b"}));
    EXPECT_TRUE(list->GetSortOrder().descending);
}

} // namespace
