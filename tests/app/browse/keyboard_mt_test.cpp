// The browse window from the keyboard: every item of its menu bar and of its
// popups (the file views' context menu, the per-protocol "&Data Source"
// popups) has a mnemonic of its own in its menu or a shortcut, no key runs
// two commands, and keys pressed on the shown window run the named actions.
#include "browse_fixture.h"

#include "../support/kv_dlgdriver.h"
#include "../support/kv_menukeys.h"
#include "menus/newmenu.h"
#include "res/resources.h"

#include <QMenuBar>
#include <QSignalSpy>

namespace {

class BrowseKeys_MT : public kvtest::BrowseFixture
{
protected:
    CBrowseSplt* OpenShown()
    {
        CBrowseSplt* wnd = Open(KV_FileManId(local, 0), KV_FileManId(local, 1), 0x0303);
        if (wnd == nullptr) {
            return nullptr;
        }
        wnd->show();
        wnd->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(wnd));
        for (uint32_t side : {CBrowseSplt::kLeft, CBrowseSplt::kRight}) {
            EXPECT_TRUE(Until([wnd, side] {
                CBrowseFrm* pane = wnd->GetPane(side);
                KV_FileMan* m = pane && pane->GetData() ? pane->GetData()->GetFileMan() : nullptr;
                return m != nullptr && m->pwd_done() && pane->GetData()->GetFileTree()->root();
            }));
        }
        return wnd;
    }

    // The window's action of a command, the one its shortcuts run.
    static QAction* WindowAction(CBrowseSplt* wnd, uint32_t id)
    {
        return wnd->Commands()->FindAction(id);
    }
};

TEST_F(BrowseKeys_MT, MenuBarAndPopupsAreReachableAndNoKeyRunsTwoCommands)
{
    CBrowseSplt* wnd = OpenShown();
    ASSERT_NE(wnd, nullptr);
    const auto shortcut = [wnd](const QAction* item) {
        const QAction* a = WindowAction(wnd, item->data().toUInt());
        if (a == nullptr) {
            for (const QAction* named : wnd->findChildren<QAction*>(item->objectName())) {
                a = named->shortcuts().isEmpty() ? a : named;
            }
        }
        return a != nullptr && !a->shortcuts().isEmpty();
    };
    QStringList faults =
        kvtest::MenuBarFaults(QStringLiteral("browse window"), wnd->FrameMenuBar(), shortcut);
    for (QAction* popup : wnd->PopupCollection().GetSafeHmenu()->actions()) {
        ASSERT_NE(popup->menu(), nullptr) << popup->text().toStdString();
        faults += kvtest::LiveMenuFaults(popup->text(), popup->menu(), shortcut);
    }
    faults += kvtest::ShortcutCollisions(*wnd);
    EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

TEST_F(BrowseKeys_MT, KeysOnTheShownWindowRunTheNamedActions)
{
    CBrowseSplt* wnd = OpenShown();
    ASSERT_NE(wnd, nullptr);
    QWidget* left = wnd->GetPane(CBrowseSplt::kLeft);
    ASSERT_NE(left, nullptr);
    // The list of the left side has the focus, as after a click into it.
    QWidget* view = nullptr;
    for (QWidget* w : left->findChildren<QWidget*>()) {
        if (view == nullptr && w->focusPolicy() != Qt::NoFocus && w->isVisible()) {
            view = w;
        }
    }
    ASSERT_NE(view, nullptr);
    struct Case
    {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        uint32_t id;
    };
    const Case cases[] = {
        {Qt::Key_F5, Qt::NoModifier, 32806},     // Re&fresh
        {Qt::Key_A, Qt::ControlModifier, 57642}, // Select &all
        {Qt::Key_F6, Qt::NoModifier, 57680},     // &Next pane
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        view->setFocus();
        QTest::qWait(1); // the idle update enables what the focus allows
        QAction* action = WindowAction(wnd, c.id);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->objectName(), kvres::CommandName(c.id));
        QSignalSpy spy(action, &QAction::triggered);
        QTest::keyClick(QApplication::focusWidget(), c.key, c.mods);
        EXPECT_EQ(spy.count(), 1);
    }
    // F6 went on to the other side.
    EXPECT_FALSE(left->isAncestorOf(QApplication::focusWidget()));

    // Alt+F, then F: the "&File" menu's Re&fresh.
    view->setFocus();
    QTest::qWait(1);
    QAction* item = nullptr;
    for (QAction* a : wnd->FrameMenuBar()->actions().at(0)->menu()->actions()) {
        item = a->objectName() == kvres::CommandName(32806) ? a : item;
    }
    ASSERT_NE(item, nullptr);
    QSignalSpy refresh(item, &QAction::triggered);
    QTest::keyClick(wnd, Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(kvtest::WaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_F);
    EXPECT_TRUE(kvtest::WaitFor([&refresh] { return refresh.count() == 1; }));
}

} // namespace
