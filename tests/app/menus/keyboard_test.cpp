// Every menu command can be reached without a mouse: by the mnemonics of the
// menu titles and items, or by a shortcut of the window. Checked on the menu
// resources as stored and on the control window as a person meets it, where
// keys pressed on the shown window must run the named actions.
#include "core/settings.h"
#include "foundation/kv_file.h"
#include "menus/newmenu.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_menukeys.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>
#include <set>

namespace {

QStringList ResourceFaults(const QString& where, const kvres::MenuItem& menu,
                           const std::set<uint32_t>& accelerated)
{
    QStringList faults;
    QList<kvtest::MenuEntry> entries;
    for (const kvres::MenuItem& item : menu.items) {
        if (!item.popup && item.id == 0) {
            continue; // separator
        }
        entries.append({item.text, !item.popup && accelerated.count(item.id) != 0});
        if (item.popup) {
            faults += ResourceFaults(where + QStringLiteral(" > ") + item.text, item, accelerated);
        }
    }
    faults += kvtest::MnemonicFaults(where, entries);
    return faults;
}

TEST(MenuKeys, EveryResourceMenuItemHasAUniqueMnemonicOrAShortcut)
{
    struct Case
    {
        uint32_t menu;
        uint32_t accelerators; // the table of the window that shows it; 0 none
        bool titles_shown;     // its popups are a menu bar's titles
    };
    const Case cases[] = {
        {109, 109, true},  // browse window's menu bar
        {110, 109, false}, // browse window's context and per-protocol popups
        {111, 0, true},    // control window's menu bar
        {112, 0, false},   // tray icon's menu
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.menu);
        const kvres::MenuItem* menu = kvres::FindMenu(c.menu);
        ASSERT_NE(menu, nullptr);
        std::set<uint32_t> accelerated;
        if (c.accelerators != 0) {
            for (const kvres::Accelerator& a : *kvres::FindAccelerators(c.accelerators)) {
                accelerated.insert(a.command);
            }
        }
        QStringList faults;
        QList<kvtest::MenuEntry> titles;
        for (const kvres::MenuItem& popup : menu->items) {
            ASSERT_TRUE(popup.popup);
            titles.append({popup.text, false});
            faults += ResourceFaults(popup.text, popup, accelerated);
        }
        if (c.titles_shown) {
            faults += kvtest::MnemonicFaults(QStringLiteral("menu bar"), titles);
        }
        EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
    }
}

TEST(MenuKeys, TheMnemonicIsTheLetterAfterTheAmpersand)
{
    struct Case
    {
        const char* text;
        const char* mnemonic;
    };
    const Case cases[] = {
        {"Re&fresh\tF5", "F"}, {"Parent directory", ""},  {"Save && &quit", "Q"},
        {"Tom && Jerry", ""},  {"&Delete\tAlt+Del", "D"}, {"E&xt. Paste", "X"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kvtest::MnemonicOf(QString::fromUtf8(c.text)), QString::fromUtf8(c.mnemonic))
            << c.text;
    }
}

// The menu item of that name below the items, through submenus.
QAction* FindItem(const QList<QAction*>& items, const QString& name)
{
    for (QAction* a : items) {
        if (a->objectName() == name) {
            return a;
        }
        if (QAction* found = a->menu() ? FindItem(a->menu()->actions(), name) : nullptr) {
            return found;
        }
    }
    return nullptr;
}

class ControlWindowKeys : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel/kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        ASSERT_TRUE(app->GetPool()->tree().load(app->GetPool()->man_trans()));
        frm = new CMainFrm;
        ASSERT_TRUE(frm->CreateFrame());
    }
    void TearDown() override
    {
        delete frm;
        app->DeletePool();
        SetSettingsEnv(CSettingsEnv());
    }

    CKivrelApp* app = nullptr;
    CMainFrm* frm = nullptr;
};

TEST_F(ControlWindowKeys, MenuBarAndTrayMenuAreReachableAndNoKeyRunsTwoCommands)
{
    const auto shortcut = [this](const QAction* item) {
        for (const QAction* a : frm->findChildren<QAction*>(item->objectName())) {
            if (!a->shortcuts().isEmpty()) {
                return true;
            }
        }
        return false;
    };
    ASSERT_NE(frm->FrameMenuBar(), nullptr);
    QStringList faults =
        kvtest::MenuBarFaults(QStringLiteral("control window"), frm->FrameMenuBar(), shortcut);
    ASSERT_NE(frm->TrayMenu(), nullptr);
    faults += kvtest::LiveMenuFaults(QStringLiteral("tray"), frm->TrayMenu()->GetSafeHmenu(),
                                     [](const QAction*) { return false; });
    faults += kvtest::ShortcutCollisions(*frm);
    EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ControlWindowKeys, MnemonicsOnTheShownWindowRunTheNamedActions)
{
    frm->show();
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
    struct Case
    {
        Qt::Key title;
        Qt::Key item;
        uint32_t id;
    };
    // Two toggles, so that the window stays as it was after each pair.
    const Case cases[] = {
        {Qt::Key_V, Qt::Key_T, 59392}, // &View > &Toolbar
        {Qt::Key_V, Qt::Key_T, 59392},
        {Qt::Key_V, Qt::Key_S, 59393}, // &View > &Status Bar
        {Qt::Key_V, Qt::Key_S, 59393},
    };
    auto* bar = frm->findChild<QToolBar*>();
    ASSERT_NE(bar, nullptr);
    const bool bar_shown = bar->isVisible();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        QAction* item = FindItem(frm->FrameMenuBar()->actions(), kvres::CommandName(c.id));
        ASSERT_NE(item, nullptr);
        QSignalSpy spy(item, &QAction::triggered);
        QTest::keyClick(frm, c.title, Qt::AltModifier);
        ASSERT_TRUE(kvtest::WaitFor([] { return QApplication::activePopupWidget() != nullptr; }))
            << "Alt+title opened no menu";
        QTest::keyClick(QApplication::activePopupWidget(), c.item);
        EXPECT_TRUE(kvtest::WaitFor([&spy] { return spy.count() == 1; }));
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    }
    EXPECT_EQ(bar->isVisible(), bar_shown);
}

} // namespace
