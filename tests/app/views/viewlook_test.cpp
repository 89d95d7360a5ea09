// What the file views show beside the entries: the browse window's "&File"
// popup on a right click, the entry's description as tooltip, the folder a
// drag would drop into, open folders.
#include "kv_viewfixture.h"

#include "core/fileclip.h"
#include "menus/menufind.h"
#include "menus/newmenu.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QSplitter>

namespace {

using kvtest::write_file;

class ViewLook_MT : public kvtest::ViewFixture
{
protected:
    void SetUp() override
    {
        kvtest::ViewFixture::SetUp();
        ASSERT_TRUE(write_file(work + "/a.txt", "a"));
        ASSERT_TRUE(KV_File::mkdir((work + "/b").c_str()));
        ASSERT_TRUE(write_file(work + "/b/in.txt", "x"));
    }

    // Sends a right click's menu request to `target` and tells what popped
    // up (its items' names), closing it again. The popup does not block.
    QString PoppedUp(QWidget* target)
    {
        QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(5, 5),
                            target->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(target, &e);
        QString popped;
        Until([&popped] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) {
                return false;
            }
            for (QAction* a : menu->actions()) {
                popped += a->objectName() + QLatin1Char(' ');
            }
            menu->close();
            return true;
        });
        return popped;
    }
};

TEST_F(ViewLook_MT, RightClickPopsUpTheFileMenuInEveryView)
{
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    CFileTreeView* tree = Tree();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 2; }));
    // The "&File" popup of the window's popup collection, not of its menu bar.
    CNewMenu* file = FindMenuByText(&wnd->PopupCollection(), "&File", nullptr, false);
    ASSERT_NE(file, nullptr);
    QString expected;
    for (QAction* a : file->GetSafeHmenu()->actions()) {
        expected += a->objectName() + QLatin1Char(' ');
    }
    ASSERT_FALSE(expected.trimmed().isEmpty());
    EXPECT_EQ(PoppedUp(list->GetItemView()->viewport()).toStdString(), expected.toStdString());
    list->SetStyle(CFileListView::kStyleIcons);
    EXPECT_EQ(PoppedUp(list->GetItemView()->viewport()).toStdString(), expected.toStdString());
    EXPECT_EQ(PoppedUp(tree->viewport()).toStdString(), expected.toStdString());
}

TEST_F(ViewLook_MT, TooltipsDescribeTheEntry)
{
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    CFileTreeView* tree = Tree();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 2; }));
    tree->UpdateStatus();
    // Rows: the folder b, then a.txt; the description starts with the name
    // and names the size on a line of its own.
    const QString file_tip = list->GetModel()->index(1, 0).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(file_tip.startsWith("a.txt")) << file_tip.toStdString();
    EXPECT_TRUE(file_tip.contains("\r\n")) << file_tip.toStdString();
    const CFileTreeData* b = tree->ItemOf(Data()->GetPath())->children.at(0).get();
    const QString folder_tip = tree->GetModel()->IndexOf(b).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(folder_tip.startsWith("b")) << folder_tip.toStdString();
}

TEST_F(ViewLook_MT, ADragHighlightsItsTargetFolderAndASelectedFolderShowsOpen)
{
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileTreeView* tree = Tree();
    ASSERT_TRUE(Until([&] { return tree->ItemOf(Data()->GetPath()) != nullptr; }));
    tree->UpdateStatus();
    CFileTreeData* here = tree->ItemOf(Data()->GetPath());
    ASSERT_TRUE(Until([&] { return !here->children.empty(); }));
    CFileTreeData* b = here->children.at(0).get();
    const QModelIndex bi = tree->GetModel()->IndexOf(b);
    tree->expand(tree->GetModel()->IndexOf(here));
    tree->scrollTo(bi);
    // Made before the window had its size, the list added beside the tree
    // still gets the width it asks for, and the tree the rest.
    auto* splitter = qobject_cast<QSplitter*>(List()->parentWidget());
    ASSERT_NE(splitter, nullptr);
    EXPECT_EQ(List()->width(), 240 - splitter->handleWidth());
    EXPECT_GT(tree->width(), 240);
    ASSERT_TRUE(Until([&] { return tree->indexAt(tree->visualRect(bi).center()) == bi; }, 2000));
    const QPoint on_b = tree->visualRect(bi).center();

    CFileClipData clip;
    clip.src = Data()->GetManId();
    clip.dir = Data()->GetPath();
    clip.names.add("a.txt");
    std::unique_ptr<QMimeData> mime(MakeFileMimeData(clip, CKivrelApp::GetClipFormatBrDd(), true));
    QDragEnterEvent over(on_b, Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton,
                         Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &over);
    EXPECT_TRUE(over.isAccepted());
    EXPECT_EQ(tree->GetModel()->GetDropItem(), b);
    EXPECT_EQ(bi.data(Qt::BackgroundRole).value<QBrush>().color(),
              QApplication::palette().color(QPalette::Highlight));
    // Outside any folder: nothing is highlighted.
    QDragEnterEvent away(QPoint(5, tree->viewport()->height() - 2), Qt::CopyAction, mime.get(),
                         Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &away);
    EXPECT_EQ(tree->GetModel()->GetDropItem(), nullptr);
    QApplication::sendEvent(tree->viewport(), &over);
    QDragLeaveEvent leave;
    QApplication::sendEvent(tree->viewport(), &leave);
    EXPECT_EQ(tree->GetModel()->GetDropItem(), nullptr);
    EXPECT_FALSE(bi.data(Qt::BackgroundRole).isValid());

    // A selected folder shows open.
    const QIcon icon = bi.data(Qt::DecorationRole).value<QIcon>();
    EXPECT_NE(icon.pixmap(16, QIcon::Normal).toImage(), icon.pixmap(16, QIcon::Selected).toImage());
}

} // namespace
