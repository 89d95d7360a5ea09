// Tab walks every dialog of the program in reading order: top to bottom,
// left to right, one group box after the other, a sheet's tabs before its
// page; and every control that takes focus is on the way.
#include "core/settings.h"
#include "foundation/kv_file.h"
#include "props/dsprop.h"
#include "shell/kivrelapp.h"
#include "support/kv_dialogtable.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QWizard>
#include <gtest/gtest.h>

namespace {

// Where `w` stands among its siblings under `common` (the nearest ancestor
// it shares with the widget it is compared to): its ancestor that is a
// child of `common`, in `common`'s coordinates. A group box is read as one
// block.
QRect BlockIn(const QWidget* w, const QWidget* common)
{
    while (w->parentWidget() != common) {
        w = w->parentWidget();
    }
    return w->geometry();
}

const QWidget* CommonAncestor(const QWidget* a, const QWidget* b)
{
    for (const QWidget* p = a->parentWidget(); p != nullptr; p = p->parentWidget()) {
        if (p->isAncestorOf(b)) {
            return p;
        }
    }
    return nullptr;
}

// Whether `b`, reached by Tab from `a`, stands before it in reading order.
bool GoesBack(const QWidget* a, const QWidget* b)
{
    const QWidget* common = CommonAncestor(a, b);
    if (common == nullptr || a == common || b == common) {
        return false;
    }
    const QRect ra = BlockIn(a, common);
    const QRect rb = BlockIn(b, common);
    if (rb.left() > ra.right()) {
        return false; // the next column, read from its top
    }
    if (rb.bottom() < ra.top()) {
        return true; // wholly above
    }
    if (rb.top() > ra.bottom()) {
        return false; // wholly below
    }
    return rb.right() < ra.left(); // same band, to the left
}

QString Describe(const QWidget* w)
{
    QString text;
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
        text = QStringLiteral(" \"") + b->text() + QStringLiteral("\"");
    }
    return QString::fromLatin1(w->metaObject()->className()) + QLatin1Char('#') + w->objectName() +
           text;
}

// The controls Tab visits from the focus, once round.
QList<QWidget*> TabCycle()
{
    QList<QWidget*> cycle;
    for (int i = 0; i < 200; ++i) {
        QWidget* f = QApplication::focusWidget();
        if (f == nullptr || cycle.contains(f)) {
            break;
        }
        cycle << f;
        QTest::keyClick(f, Qt::Key_Tab);
    }
    return cycle;
}

// Controls a person may expect Tab to reach: shown, enabled, taking focus
// from Tab. Of a set of exclusive radio buttons Tab reaches only one.
QList<QWidget*> Reachable(QWidget& dlg)
{
    QList<QWidget*> out;
    for (QWidget* w : dlg.findChildren<QWidget*>()) {
        if (!w->isVisible() || !w->isEnabled() || (w->focusPolicy() & Qt::TabFocus) == 0 ||
            w->focusProxy() != nullptr || qobject_cast<QRadioButton*>(w) != nullptr) {
            continue;
        }
        out << w;
    }
    return out;
}

class TabOrder : public kvtest::TempDirTest
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
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        ASSERT_TRUE(app->GetPool()->tree().load(app->GetPool()->man_trans()));
    }
    void TearDown() override
    {
        app->DeletePool();
        SetSettingsEnv(CSettingsEnv());
    }
    CKivrelApp* app = nullptr;
};

TEST_F(TabOrder, EveryDialogIsWalkedInReadingOrder)
{
    for (const kvtest::DialogCase& c : kvtest::ProgramDialogs(*app->GetPool())) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QDialog> dlg = c.make();
        ASSERT_NE(dlg, nullptr);
        dlg->show();
        if (c.page >= 0) {
            auto* sheet = dynamic_cast<CDsProp*>(dlg.get());
            ASSERT_NE(sheet, nullptr);
            ASSERT_TRUE(sheet->SetActivePage(c.page));
        }
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
        if (QApplication::focusWidget() == nullptr) {
            for (QWidget* w = dlg->nextInFocusChain(); w != dlg.get(); w = w->nextInFocusChain()) {
                if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) != 0) {
                    w->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
        const QList<QWidget*> cycle = TabCycle();
        ASSERT_FALSE(cycle.isEmpty());
        // Round the cycle, reading order goes back once: from the last
        // control to the first.
        QStringList back;
        for (qsizetype i = 0; i < cycle.size(); ++i) {
            const QWidget* a = cycle[i];
            const QWidget* b = cycle[(i + 1) % cycle.size()];
            if (GoesBack(a, b)) {
                back << Describe(a) + QStringLiteral(" -> ") + Describe(b);
            }
        }
        EXPECT_LE(back.size(), 1) << back.join(QLatin1Char('\n')).toStdString();
        QStringList missed;
        for (QWidget* w : Reachable(*dlg)) {
            if (!cycle.contains(w) && w->window() == dlg.get()) {
                missed << Describe(w);
            }
        }
        QStringList walked;
        for (const QWidget* w : cycle) {
            walked << Describe(w);
        }
        EXPECT_TRUE(missed.isEmpty())
            << "Tab never reaches " << missed.join(QStringLiteral(", ")).toStdString()
            << "\nit walks " << walked.join(QStringLiteral(", ")).toStdString();
        dlg->hide();
    }
}

} // namespace
