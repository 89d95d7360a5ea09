// The styles of a file list: one model shown with columns (details) or as
// icons, the switch keeping what the user selected, and the list's work
// done the same way in every style.
#include "kv_viewfixture.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>
#include <filesystem>

namespace {

using kvtest::write_file;

class ListStyles_MT : public kvtest::ViewFixture
{
protected:
    void SetUp() override
    {
        kvtest::ViewFixture::SetUp();
        ASSERT_TRUE(write_file(work + "/a.txt", "a"));
        ASSERT_TRUE(write_file(work + "/c.dat", "cc"));
        ASSERT_TRUE(KV_File::mkdir((work + "/b").c_str()));
        ASSERT_TRUE(write_file(work + "/b/in.txt", "x"));
    }

    static std::vector<int> SelectedRows(const CFileListView* list)
    {
        std::vector<int> rows;
        for (const QModelIndex& i : list->selectionModel()->selectedIndexes()) {
            if (std::find(rows.begin(), rows.end(), i.row()) == rows.end()) {
                rows.push_back(i.row());
            }
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    static QLineEdit* Editor(QWidget* view)
    {
        for (QLineEdit* e : view->findChildren<QLineEdit*>()) {
            if (e->isVisible()) {
                return e;
            }
        }
        return nullptr;
    }
    void Select(CFileListView* list, std::initializer_list<int> rows, int current)
    {
        list->clearSelection();
        for (int r : rows) {
            list->selectionModel()->select(list->GetModel()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        list->selectionModel()->setCurrentIndex(list->GetModel()->index(current, 0),
                                                QItemSelectionModel::NoUpdate);
    }
};

TEST_F(ListStyles_MT, SwitchingKeepsSelectionCurrentEntryAndFocus)
{
    Open(CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    EXPECT_EQ(list->GetStyle(), CFileListView::kStyleDetails);
    list->setFocus();
    ASSERT_TRUE(Until([&] { return list->hasFocus(); }));
    Select(list, {0, 2}, 2);

    struct Case
    {
        int style;
        bool icons;
        QListView::ViewMode mode;
        QListView::Flow flow;
        bool arranges;
    };
    const Case cases[] = {
        {CFileListView::kStyleIcons, true, QListView::IconMode, QListView::LeftToRight, true},
        {CFileListView::kStyleList, true, QListView::ListMode, QListView::TopToBottom, false},
        {CFileListView::kStyleSmallIcons, true, QListView::ListMode, QListView::LeftToRight, true},
        {CFileListView::kStyleDetails, false, QListView::ListMode, QListView::LeftToRight, false},
        {CFileListView::kStyleList, true, QListView::ListMode, QListView::TopToBottom, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        list->SetStyle(c.style);
        EXPECT_EQ(list->GetStyle(), c.style);
        QAbstractItemView* shown = list->GetItemView();
        ASSERT_NE(shown, nullptr);
        EXPECT_TRUE(shown->isVisible());
        EXPECT_EQ(shown->model(), list->GetModel());
        EXPECT_EQ(shown->selectionModel(), list->selectionModel());
        // Only one widget shows the list.
        int visible = 0;
        for (QAbstractItemView* v : list->findChildren<QAbstractItemView*>()) {
            visible += v->isVisible() && qobject_cast<QHeaderView*>(v) == nullptr ? 1 : 0;
        }
        EXPECT_EQ(visible, 1);
        auto* icons = qobject_cast<QListView*>(shown);
        EXPECT_EQ(icons != nullptr, c.icons);
        EXPECT_EQ(qobject_cast<QTreeView*>(shown) != nullptr, !c.icons);
        if (icons != nullptr) {
            EXPECT_EQ(icons->viewMode(), c.mode);
            EXPECT_EQ(icons->flow(), c.flow);
            EXPECT_TRUE(icons->isWrapping());
        }
        EXPECT_EQ(list->ArrangeIcons(), c.arranges);
        EXPECT_EQ(SelectedRows(list), (std::vector<int>{0, 2}));
        EXPECT_EQ(list->selectionModel()->currentIndex().row(), 2);
        EXPECT_TRUE(shown->hasFocus());
        EXPECT_EQ(CFileView::FromWidget(QApplication::focusWidget()), list);
    }
    // Back in details, entries picked among icons are whole rows again.
    Select(list, {1}, 1);
    list->SetStyle(CFileListView::kStyleDetails);
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 1);
    // Numbers that are no style change nothing.
    for (int bad : {-1, 4, 59409}) {
        list->SetStyle(bad);
        EXPECT_EQ(list->GetStyle(), CFileListView::kStyleDetails);
    }
}

TEST_F(ListStyles_MT, IconStylesDoTheListsWork)
{
    Open(CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    list->SetStyle(CFileListView::kStyleIcons);
    list->setFocus();
    ASSERT_TRUE(Until([&] { return list->hasFocus(); }));

    // One folder picked among icons: the paste goes into it; the entry is
    // counted once, whatever the columns.
    Select(list, {0}, 0);
    KV_PathDef into_b;
    into_b = Data()->GetPath();
    into_b.append("b");
    EXPECT_TRUE(list->GetTargetPath() == into_b);
    EXPECT_TRUE(list->GetSelection(KV_TN_RDONLY, nullptr, nullptr, false));

    // A rename edited among icons reaches the engine.
    Select(list, {1}, 1);
    list->Rename();
    QLineEdit* editor = Editor(list);
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(list->GetItemView()->isAncestorOf(editor));
    editor->setText("renamed.txt");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(Until([&] { return std::filesystem::exists(work + "/renamed.txt"); }));

    // Switching styles with a new folder's name open drops the temporary
    // entry and asks nothing.
    list->NewDirectory();
    ASSERT_NE(Editor(list), nullptr);
    EXPECT_EQ(Names(list).size(), 4u);
    list->SetStyle(CFileListView::kStyleSmallIcons);
    EXPECT_EQ(Editor(list), nullptr);
    EXPECT_EQ(Names(list).size(), 3u);
    EXPECT_FALSE(Until([&] { return std::filesystem::exists(work + "/New directory"); }, 300));

    // Enter on a folder among small icons goes into it.
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    Select(list, {0}, 0);
    list->GetItemView()->setFocus();
    QTest::keyClick(list->GetItemView(), Qt::Key_Return);
    ASSERT_TRUE(Until([&] { return Data()->GetPath().is_equal(into_b, true); }));
    ASSERT_TRUE(Until([&] {
        return Names(list) == std::vector<std::string>{"..", "in.txt"};
    })) << testing::PrintToString(Names(list));
}

} // namespace
