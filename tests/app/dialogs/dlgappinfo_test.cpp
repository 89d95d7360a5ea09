// The switch-off of information texts and questions, and the countdown.
#include "dialogs/dlgappinfo.h"

#include "core/settings.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

class AppInfoTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel/kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
    }
};

void Answer(CDlgAppInfo& dlg, bool check, const char* button)
{
    dlg.findChild<QCheckBox*>("1044")->setChecked(check);
    dlg.findChild<QPushButton*>(button)->click();
}

TEST_F(AppInfoTest, OnlyYesWithTheBoxSwitchesAQuestionOff)
{
    struct Case
    {
        bool check;
        const char* button;
        bool answer;
        bool enabled_after;
    };
    const Case cases[] = {
        {true, "2", false, true}, // No never switches off
        {false, "1", true, true},
        {true, "1", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        kvtest::DialogDriver<CDlgAppInfo> driver(
            [&](CDlgAppInfo& dlg) { Answer(dlg, c.check, c.button); });
        EXPECT_EQ(CDlgAppInfo::Ask("QuitApp", 121, nullptr, false, true), c.answer);
        EXPECT_EQ(driver.handled, 1);
        EXPECT_EQ(CDlgAppInfo::IsEnabled("QuitApp"), c.enabled_after);
    }
    // Switched off: the default answer, without a window.
    kvtest::DialogDriver<CDlgAppInfo> driver([](CDlgAppInfo& dlg) { dlg.reject(); });
    EXPECT_TRUE(CDlgAppInfo::Ask("QuitApp", 121, nullptr, false, true));
    EXPECT_FALSE(CDlgAppInfo::Ask("QuitApp", 121, nullptr, false, false));
    EXPECT_FALSE(CDlgAppInfo::Info("QuitApp", 121, nullptr));
    EXPECT_EQ(driver.handled, 0);
}

TEST_F(AppInfoTest, AnEmptyKeyAlwaysShowsWithoutBox)
{
    WriteProfileInt("UI", "", 0);
    bool box_visible = true;
    QString text;
    kvtest::DialogDriver<CDlgAppInfo> driver([&](CDlgAppInfo& dlg) {
        box_visible = dlg.findChild<QCheckBox*>("1044")->isVisible();
        text = dlg.findChild<QLabel*>("1073")->text();
        dlg.accept();
    });
    EXPECT_TRUE(CDlgAppInfo::Info("", 119, nullptr));
    EXPECT_FALSE(box_visible);
    EXPECT_TRUE(text.startsWith("Errors occurred during the request processing"));
}

TEST_F(AppInfoTest, TheCountdownEndsWithOkAfter30Ticks)
{
    for (int kind : {1, 3}) {
        CDlgShutdown dlg(kind, nullptr);
        dlg.open();
        EXPECT_EQ(dlg.Text(), kind == 1 ? "The application will be closed in 30 seconds."
                                        : "The system is going to shutdown in 30 seconds.");
        for (int i = 0; i < 29; ++i) {
            dlg.Tick();
        }
        EXPECT_EQ(dlg.Progress(), 29);
        QCoreApplication::processEvents();
        EXPECT_TRUE(dlg.isVisible());
        dlg.Tick();
        EXPECT_EQ(dlg.Progress(), 30);
        ASSERT_TRUE(kvtest::WaitFor([&] { return !dlg.isVisible(); }));
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
}

} // namespace
