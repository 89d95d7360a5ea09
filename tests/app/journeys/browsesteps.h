#ifndef KV_TESTS_APP_JOURNEYS_BROWSESTEPS_H
#define KV_TESTS_APP_JOURNEYS_BROWSESTEPS_H

// Steps of a person in the browse windows, shared by the journeys that
// move files between an FTP server and the local disk: the data-source file
// a returning user has, a browse window opened from the control window's
// tree, and a file dragged from one pane onto the other.

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/fileclip.h"
#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "foundation/kv_file.h"
#include "monitor/translistview.h"
#include "requests/kv_filereqinfoman.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "support/kv_testdir.h"
#include "views/filelistview.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace kvtest {

// Writes the data-source file in `data_dir` through the engine's own save,
// as a user who has used the program before left it: the default tree, and
// what `add` puts into it (it is given the pool and the local disk's node).
// `scratch` takes the settings the engine writes meanwhile.
inline void WriteDsFile(const std::string& data_dir, const std::string& scratch,
                        const std::function<void(KV_FileManPool&, KV_DsTreeNode&)>& add)
{
    CSettingsEnv env;
    env.user_conf = QString::fromStdString(scratch + "/scratch.conf");
    env.tmp = QString::fromStdString(scratch);
    SetSettingsEnv(env);
    CKivrelApp* app = CKivrelApp::Instance();
    app->DeletePool();
    ASSERT_TRUE(app->CreatePool());
    KV_FileManPool& pool = *app->GetPool();
    ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, data_dir.c_str()));
    ASSERT_TRUE(write_file(data_dir + "/kivrel.ds", ""));
    ASSERT_TRUE(pool.tree().load(pool.man_trans()));
    KV_DsTreeNode* local = pool.tree().find(KV_DS_NODE_STD, false);
    ASSERT_TRUE(local != nullptr && local->params() != nullptr);
    add(pool, *local);
    ASSERT_TRUE(pool.save());
    app->DeletePool();
    SetSettingsEnv(CSettingsEnv());
}

// Adds `server` to the group of its kind, named `name`, opening in its
// start folder beside the local disk (its list on the left, the local list
// on the right).
inline void AddServerBesideLocal(KV_FileManPool& pool, const KV_DsTreeNode& local,
                                 KV_DsTreeNode& server, KV_DS_NODE_TYPE group, const char* name)
{
    server.set_name(name);
    server.set_inh_params(false);
    KV_FileManOpts& opts = server.params()->opts();
    opts.set_open_with(local.id());
    opts.set_disp_info(static_cast<uint16_t>(CBrowseSplt::kList | CBrowseSplt::kList << 8));
    ASSERT_NE(pool.tree().create(pool.tree().find(group, true), &server, 0, true), nullptr);
}

// The data-source file with the local disk opening in `local_dir` and the
// anonymous FTP server `name` at `port` opening in "/pub" beside it.
inline void WriteFtpDsFile(const std::string& data_dir, const std::string& scratch,
                           const char* name, uint16_t port, const std::string& local_dir)
{
    WriteDsFile(data_dir, scratch, [&](KV_FileManPool& pool, KV_DsTreeNode& local) {
        local.params()->set_def_path(KV_String(local_dir.c_str()), false);
        KV_DsTreeNodeFtp n;
        n.params_ftp().set_dst_addr(KV_String(("127.0.0.1:" + std::to_string(port)).c_str()));
        n.params_ftp().set_anonymous(true);
        n.params_ftp().set_def_path(KV_String("/pub"), false);
        AddServerBesideLocal(pool, local, n, KV_DS_NODE_FTP, name);
    });
}

// The item `name` of `menu` or of its popups, or null.
inline QAction* MenuItem(QMenu* menu, const QString& name)
{
    for (QAction* a : menu->actions()) {
        if (a->objectName() == name) {
            return a;
        }
        if (a->menu() != nullptr) {
            if (QAction* found = MenuItem(a->menu(), name)) {
                return found;
            }
        }
    }
    return nullptr;
}

// The named action of the window `wnd` (kvres::CommandName): its own, or
// the item of its menu bar a person would click.
inline QAction* Action(QWidget& wnd, uint32_t command)
{
    const QString name = kvres::CommandName(command);
    if (auto* own = wnd.findChild<QAction*>(name)) {
        return own;
    }
    for (QMenuBar* bar : wnd.findChildren<QMenuBar*>()) {
        for (QAction* a : bar->actions()) {
            if (a->objectName() == name) {
                return a;
            }
            if (QAction* found = a->menu() != nullptr ? MenuItem(a->menu(), name) : nullptr) {
                return found;
            }
        }
    }
    return nullptr;
}

// The browse windows, in the order they were made.
inline QList<CBrowseSplt*> BrowseWnds()
{
    QList<CBrowseSplt*> wnds;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<CBrowseSplt*>(w)) {
            wnds << b;
        }
    }
    return wnds;
}

// The control window's tree item of the data source `name`, made visible.
inline QTreeWidgetItem* DsItem(CDsView& view, const QString& name)
{
    for (QTreeWidgetItemIterator it(&view); *it != nullptr; ++it) {
        const KV_DsTreeNode* node = CDsView::NodeOf(*it);
        if (node != nullptr && QString::fromUtf8(node->name().data()) == name) {
            for (QTreeWidgetItem* up = (*it)->parent(); up != nullptr; up = up->parent()) {
                up->setExpanded(true);
            }
            view.scrollToItem(*it);
            return *it;
        }
    }
    return nullptr;
}

// What a person does to browse a data source: clicks its item in the
// control window's tree and chooses "Open". The new browse window, or null.
inline CBrowseSplt* OpenFromTree(CMainFrm& frm, const QString& name)
{
    auto* view = frm.findChild<CDsView*>();
    QAction* open = Action(frm, 32786);
    EXPECT_TRUE(view != nullptr && open != nullptr);
    if (view == nullptr || open == nullptr) {
        return nullptr;
    }
    QTreeWidgetItem* item = DsItem(*view, name);
    EXPECT_NE(item, nullptr) << name.toStdString();
    if (item == nullptr) {
        return nullptr;
    }
    frm.raise();
    frm.activateWindow();
    QTest::qWait(100);
    const QRect r = view->visualItemRect(item);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    EXPECT_EQ(view->SelectedItem(), item);
    // The menu offers "Open" once the tree has the focus.
    EXPECT_TRUE(QTest::qWaitFor([&] { return open->isEnabled(); }, 5000))
        << "focus in "
        << (QApplication::focusWidget() != nullptr
                ? QApplication::focusWidget()->metaObject()->className()
                : "nothing");
    const QList<CBrowseSplt*> before = BrowseWnds();
    open->trigger();
    CBrowseSplt* made = nullptr;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (CBrowseSplt* b : BrowseWnds()) {
                if (!before.contains(b) && b->isVisible()) {
                    made = b;
                }
            }
            return made != nullptr;
        },
        10000))
        << "no browse window for " << name.toStdString();
    return made;
}

// The list view of the browse window's `side`, once its pane shows the
// folder whose last entry is `last` (empty: any listed folder).
inline CFileListView* ListShowing(CBrowseSplt& wnd, uint32_t side, const QString& last,
                                  int ms = 30000)
{
    CBrowseFrm* pane = wnd.GetPane(side);
    EXPECT_NE(pane, nullptr);
    if (pane == nullptr) {
        return nullptr;
    }
    auto* list = pane->findChild<CFileListView*>();
    EXPECT_NE(list, nullptr);
    if (list == nullptr) {
        return nullptr;
    }
    const bool there = QTest::qWaitFor(
        [&] {
            CFileManData* data = list->GetData();
            if (data == nullptr || data->GetPath().entries() == 0) {
                return false;
            }
            const KV_PathDef& path = data->GetPath();
            return last.isEmpty() || QString::fromUtf8(path.at(path.entries() - 1).data()) == last;
        },
        ms);
    EXPECT_TRUE(there) << "the pane does not show " << last.toStdString();
    return there ? list : nullptr;
}

// Drags the file `name` of the folder `from` shows onto an empty place of
// `to` (its current folder) and lets go: what the program's own drag
// carries, entering, moving and dropping as a mouse does.
inline void DragFile(CFileListView& from, CFileListView& to, const char* name)
{
    CFileManData* data = from.GetData();
    ASSERT_NE(data, nullptr);
    CFileClipData clip;
    clip.src = data->GetManId();
    clip.dir = data->GetPath();
    clip.names.add(KV_String(name));
    clip.has_dir = false;
    const bool local = clip.src.type() == KV_DS_NODE_STD;
    std::unique_ptr<QMimeData> mime(MakeFileMimeData(clip, CKivrelApp::GetClipFormatBrDd(), local));
    QWidget* target = to.GetItemView()->viewport();
    const QPoint empty(20, target->height() - 5);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(empty, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDragMoveEvent move(empty, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    EXPECT_TRUE(move.isAccepted());
    EXPECT_EQ(move.dropAction(), Qt::CopyAction);
    QDropEvent drop(empty, actions, mime.get(), Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    ASSERT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
}

// The one request of the transfer manager, or null.
inline const KV_FileReqInfo* TheRequest(KV_FileManPool& pool)
{
    KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(pool.man_trans().man_info().map());
    it.first();
    return it.end() ? nullptr : it.value();
}

} // namespace kvtest

#endif
