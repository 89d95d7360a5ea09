// Frames, dialogs and toolbars of the menu library driven as a person does:
// keys on a shown window, popups opening, toolbar buttons.
#include "menus/commands.h"
#include "menus/kvtoolbar.h"
#include "menus/menufind.h"
#include "menus/newframe.h"
#include "menus/newmenuicons.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

CNewMenuItemData* DataOf(CNewMenu& menu, quintptr id)
{
    int pos = -1;
    CNewMenu* holder = menu.FindItemHolder(id, pos);
    return holder != nullptr ? holder->ItemDataList()[pos] : nullptr;
}

TEST(NewFrame, LoadFrameFailsWithoutAMenu)
{
    CNewFrameWnd frame;
    EXPECT_FALSE(frame.LoadFrame(4242));
    EXPECT_EQ(frame.DefaultMenu().GetSafeHmenu(), nullptr);
    EXPECT_EQ(frame.FrameMenuBar(), nullptr);
    EXPECT_TRUE(frame.windowTitle().isEmpty());

    ASSERT_TRUE(frame.LoadFrame(109));
    EXPECT_EQ(frame.windowTitle(), "Kivrel browser");
    EXPECT_EQ(frame.HelpId(), 109u);
    ASSERT_NE(frame.FrameMenuBar(), nullptr);
    QStringList bar;
    for (const QAction* a : frame.FrameMenuBar()->actions()) {
        bar << a->text();
    }
    EXPECT_EQ(bar, (QStringList{"&File", "&Edit", "&Data Source", "&View", "&Help"}));
}

TEST(NewFrame, MenuBarShowsAPopupBorrowedFromAnotherMenu)
{
    CNewFrameWnd frame;
    ASSERT_TRUE(frame.LoadFrame(109));
    CNewMenu popups;
    ASSERT_TRUE(popups.LoadMenu(110));
    CNewMenu& bar = frame.DefaultMenu();

    // The browse window's swap of its "&Data Source" popup.
    uint32_t pos = 0;
    ASSERT_NE(FindMenuByText(&bar, QStringLiteral("&Data Source"), &pos, false), nullptr);
    ASSERT_TRUE(bar.RemoveItemById(pos, MF_BYPOSITION));
    CNewMenu* ftp = FindMenuByText(&popups, QStringLiteral("FTP"), nullptr, false);
    ASSERT_NE(ftp, nullptr);
    ASSERT_TRUE(bar.InsertItemWithIcon(pos, QStringLiteral("&Data Source"),
                                       MF_POPUP | MF_OWNERDRAW | MF_BYPOSITION,
                                       MenuHandleId(ftp->GetSafeHmenu()), -1));
    frame.DrawMenuBar();
    const QList<QAction*> shown = frame.FrameMenuBar()->actions();
    ASSERT_EQ(shown.size(), 5);
    EXPECT_EQ(shown[2]->menu(), ftp->GetSafeHmenu());
    EXPECT_EQ(shown[2]->text(), "&Data Source");
    EXPECT_EQ(FindMenuById(&bar, 32846),
              FindMenuByText(&popups, QStringLiteral("&Transfer mode"), nullptr, true));
    QString text;
    ASSERT_TRUE(bar.GetItemText(2, text, MF_BYPOSITION));
    EXPECT_EQ(text, "&Data Source");

    // The bar follows on its own once the event loop runs.
    ASSERT_TRUE(bar.DeleteItemById(3, MF_BYPOSITION)); // "&View"
    QTest::qWait(1);
    EXPECT_EQ(frame.FrameMenuBar()->actions().size(), 4);
}

// A frame of table 109 with a list view inside (the "view").
struct Browser
{
    Browser()
    {
        EXPECT_TRUE(frame.LoadFrame(109));
        view = new QListWidget(&frame);
        frame.setCentralWidget(view);
        frame.show();
        frame.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
        view->setFocus();
    }
    CNewFrameWnd frame;
    QListWidget* view = nullptr;
};

TEST(NewFrame, AcceleratorsOfTable109ReachTheirCommands)
{
    Browser b;
    QList<uint32_t> ran;
    for (uint32_t id : {57634u, 57637u, 32797u, 32804u, 32806u, 57643u, 57680u}) {
        CCommandLayer::On(&b.frame, id, [&ran](uint32_t cmd) { ran.append(cmd); });
    }
    QTest::qWait(1); // the idle update
    struct Case
    {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        uint32_t id;
    };
    const Case cases[] = {
        {Qt::Key_C, Qt::ControlModifier, 57634},
        {Qt::Key_Insert, Qt::ControlModifier, 57634},
        {Qt::Key_Insert, Qt::ShiftModifier, 57637},
        {Qt::Key_V, Qt::ControlModifier | Qt::AltModifier, 32797},
        {Qt::Key_N, Qt::AltModifier, 32804},
        {Qt::Key_F5, Qt::NoModifier, 32806},
        {Qt::Key_Backspace, Qt::AltModifier, 57643},
        {Qt::Key_Tab, Qt::NoModifier, 57680},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        ran.clear();
        QTest::keyClick(b.view, c.key, c.mods);
        EXPECT_EQ(ran, QList<uint32_t>{c.id});
    }
    // Every accelerator became a shortcut of the command's named action.
    QAction* copy = b.frame.findChild<QAction*>("edit_copy");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->shortcuts().size(), 2);
    // A command without handler is disabled and runs nothing.
    ran.clear();
    QTest::keyClick(b.view, Qt::Key_F3);
    EXPECT_TRUE(ran.isEmpty());
}

TEST(NewFrame, CommandsRouteFromViewToWindowToApplication)
{
    Browser b;
    QStringList log;
    CCommandLayer::On(&b.frame, 32806, [&log](uint32_t) { log << "window"; });
    CCommandLayer::On(b.view, 32806, [&log](uint32_t) { log << "view"; });
    // The application's handlers outlive the test: no captures.
    static int appRuns = 0;
    CCommandLayer::On(qApp, 32809, [](uint32_t) { ++appRuns; });
    QAction* refresh = b.frame.findChild<QAction*>("refresh");
    ASSERT_NE(refresh, nullptr);

    QTest::qWait(1); // the idle update
    refresh->trigger();
    EXPECT_EQ(log, QStringList{"view"});
    // The focus leaves the view: the window's handler answers.
    auto* edit = new QLineEdit(&b.frame);
    b.frame.setMenuWidget(nullptr);
    b.frame.addToolBar(QStringLiteral("t"))->addWidget(edit);
    edit->setFocus();
    QCoreApplication::processEvents();
    log.clear();
    refresh->trigger();
    EXPECT_EQ(log, QStringList{"window"});
    // Help contents is the application's.
    log.clear();
    const int runsBefore = appRuns;
    EXPECT_TRUE(CCommandLayer::Execute(&b.frame, 32809));
    EXPECT_EQ(appRuns, runsBefore + 1);
    EXPECT_TRUE(log.isEmpty());

    // An enabler that disables the command stops it, from a menu too.
    CCommandLayer::OnUpdate(&b.frame, 32806, [](CCmdUI& ui) { ui.Enable(false); });
    log.clear();
    CNewMenu* file = b.frame.DefaultMenu().GetSubMenu(0);
    QAction* item = file->GetSafeHmenu()->findChild<QAction*>("refresh");
    ASSERT_NE(item, nullptr);
    item->trigger();
    EXPECT_TRUE(log.isEmpty());
    CCommandLayer::Of(&b.frame)->UpdateActions();
    EXPECT_FALSE(refresh->isEnabled());
}

TEST(NewDialog, PopupItemsFollowTheDialogsEnablers)
{
    CNewDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLineEdit(&dialog));
    ASSERT_TRUE(dialog.LoadFrameMenu(111));
    bool onTop = true;
    CCommandLayer::On(&dialog, 32821, [](uint32_t) {});
    CCommandLayer::On(
        &dialog, 32848, [&onTop](uint32_t) { onTop = !onTop; },
        [&onTop](CCmdUI& ui) { ui.SetCheck(onTop ? 1 : 0); });
    CCommandLayer::OnUpdate(&dialog, 57634, [](CCmdUI& ui) { ui.Enable(false); });
    CCommandLayer::OnUpdate(&dialog, 32796, [](CCmdUI& ui) {
        ui.Enable(true);
        ui.SetText(QStringLiteral("&Data sources (shown)"));
    });
    dialog.show();

    CNewMenu& menu = dialog.DefaultMenu();
    CNewMenu* file = FindMenuByText(&menu, QStringLiteral("&File"), nullptr, false);
    CNewMenu* edit = FindMenuByText(&menu, QStringLiteral("&Edit"), nullptr, false);
    CNewMenu* view = FindMenuByText(&menu, QStringLiteral("&View"), nullptr, false);
    ASSERT_TRUE(file && edit && view);
    for (CNewMenu* popup : {file, edit, view}) {
        popup->GetSafeHmenu()->popup(dialog.mapToGlobal(QPoint(0, 0)));
        popup->GetSafeHmenu()->hide();
    }
    auto item = [](CNewMenu* m, const char* name) {
        return m->GetSafeHmenu()->findChild<QAction*>(name);
    };
    EXPECT_TRUE(item(file, "quick_connect")->isEnabled());
    EXPECT_FALSE(item(file, "close_all_browsers")->isEnabled()); // no handler
    EXPECT_FALSE(item(edit, "edit_copy")->isEnabled());
    EXPECT_TRUE(item(view, "always_on_top")->isChecked());
    EXPECT_EQ(item(view, "view_data_sources")->text(), "&Data sources (shown)");

    // Running the command from its item, then opening again, follows it.
    item(view, "always_on_top")->trigger();
    EXPECT_FALSE(onTop);
    view->GetSafeHmenu()->popup(dialog.mapToGlobal(QPoint(0, 0)));
    view->GetSafeHmenu()->hide();
    EXPECT_FALSE(item(view, "always_on_top")->isChecked());
    // The text the enabler set is the item's text after the next conversion.
    view->GetSafeHmenu()->popup(dialog.mapToGlobal(QPoint(0, 0)));
    view->GetSafeHmenu()->hide();
    QString text;
    ASSERT_TRUE(menu.GetItemText(32796, text, MF_BYCOMMAND));
    EXPECT_EQ(text, "&Data sources (shown)");
}

TEST(KVToolBar, ButtonsRunCommandsAndLendTheirPicturesOnce)
{
    CNewFrameWnd frame;
    ASSERT_TRUE(frame.LoadFrame(109));
    auto* bar = new CKVToolBar(&frame);
    frame.addToolBar(bar);
    ASSERT_TRUE(bar->LoadToolBar(109));
    ASSERT_TRUE(bar->SetBitmaps(32, 33));
    EXPECT_EQ(bar->ButtonIds().mid(0, 5), (QList<uint32_t>{57635, 57634, 57637, 0, 32801}));
    EXPECT_FALSE(frame.findChild<QAction*>("edit_cut")->icon().isNull());

    int refreshed = 0;
    CCommandLayer::On(&frame, 32806, [&refreshed](uint32_t) { ++refreshed; });
    frame.findChild<QAction*>("refresh")->trigger();
    EXPECT_EQ(refreshed, 1);

    bar->AddMenuImages(&frame.DefaultMenu());
    // Separators take no place among the pictures: the ninth button
    // (parent directory) is the sixth picture.
    EXPECT_EQ(DataOf(frame.DefaultMenu(), 57634)->icon_index, 3);
    EXPECT_EQ(DataOf(frame.DefaultMenu(), 32800)->icon_index, 15);
    EXPECT_EQ(DataOf(frame.DefaultMenu(), 57664)->icon_index, 33);
    EXPECT_EQ(DataOf(frame.DefaultMenu(), 32809)->icon_index, -1);

    // A button added later is not in the description made by the first call.
    bar->addAction(CCommandLayer::Of(&frame)->Action(32809));
    CNewMenu other;
    ASSERT_TRUE(other.LoadMenu(109));
    bar->AddMenuImages(&other);
    EXPECT_EQ(DataOf(other, 57634)->icon_index, 3);
    EXPECT_EQ(DataOf(other, 32809)->icon_index, -1);
    // Both menus share one icon object.
    EXPECT_EQ(DataOf(other, 57634)->icons, DataOf(frame.DefaultMenu(), 57634)->icons);
}

} // namespace

namespace {

TEST(NewMenu, IconRefreshFollowsThePaletteAtMostEveryTwoSeconds)
{
    CNewMenu menu;
    ASSERT_TRUE(menu.LoadMenu(109));
    const uint16_t toolbar[] = {36, 16, 16, 57665, 32809, 0};
    ASSERT_TRUE(menu.AddToolBarIcons(toolbar));
    CNewMenuItemData* contents = DataOf(menu, 32809);
    ASSERT_NE(contents, nullptr);
    ASSERT_EQ(contents->icon_index, 3);
    CNewMenuIcons* icons = contents->icons;
    auto disabledPixel = [icons] { return icons->Image(5).pixel(6, 6); };

    CNewMenu::RefreshIcons();
    const QRgb before = disabledPixel();
    const QPalette saved = QApplication::palette();
    QPalette red = saved;
    red.setColor(QPalette::Window, QColor(255, 0, 0));
    QApplication::setPalette(red);
    CNewMenu::RefreshIcons(); // within two seconds of the last: nothing
    EXPECT_EQ(disabledPixel(), before);

    QTest::qWait(2100);
    CNewMenu::RefreshIcons();
    const QRgb after = disabledPixel();
    QApplication::setPalette(saved);
    EXPECT_GT(qRed(after), qRed(before));
    EXPECT_LT(qBlue(after), qBlue(before));
}

} // namespace
