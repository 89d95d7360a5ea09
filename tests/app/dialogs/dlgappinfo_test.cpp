// The switch-off of information texts and questions, and the countdown.
#include "dialogs/dlgappinfo.h"

#include "core/settings.h"
#include "core/versioninfo.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
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

TEST_F(AppInfoTest, TheUpdateOfferDownloadsOnlyWithDownload)
{
    struct Case
    {
        bool notice_only;
        const char* button;
        int result;
    };
    const Case cases[] = {
        {false, "1", QDialog::Accepted}, // "&Download"
        {false, "2", QDialog::Rejected}, // "&Ignore"
        {true, "1", QDialog::Accepted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        CDlgAppUpdate dlg("Version 9.1 is out.\r\nIt mends things.", c.notice_only, nullptr);
        auto* text = dlg.findChild<QPlainTextEdit*>("1073");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->toPlainText(), "Version 9.1 is out.\nIt mends things.");
        auto* ok = dlg.findChild<QPushButton*>("1");
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(ok->text(), c.notice_only ? "&OK" : "&Download");
        EXPECT_EQ(dlg.findChild<QPushButton*>("2") == nullptr, c.notice_only);
        kvtest::DialogDriver<CDlgAppUpdate> driver(
            [&](CDlgAppUpdate& d) { d.findChild<QPushButton*>(c.button)->click(); });
        EXPECT_EQ(dlg.exec(), c.result);
    }
}

TEST(CDlgAbout, BuildsItsLinesFromTheVersionInformation)
{
    const CVersionString full[] = {
        {"040904b0", "Productname", "Kivrel"},
        {"040904b0", "SpecialBuild", "beta"},
        {"040904b0", "LegalCopyright", "(C) 2026 Someone, (C) 2025"},
        {"040904b0", "CompanyName", "Kivrel Works"},
        {"040904b0", "Comments", "First line.  Second line."},
    };
    const CVersionString bare[] = {{"040904b0", "Productname", "Kivrel"}};
    const uint32_t english[] = {0x04b00409};
    // 1.2.3 with the fourth part as letter "b".
    const uint64_t version = (uint64_t{1} << 48) | (uint64_t{2} << 32) | (uint64_t{3} << 16) | 2;

    const CVersionBlock full_block{true, version, english, 1, full, 5};
    const CVersionBlock bare_block{true, version, english, 1, bare, 1};
    CVersionInfo info;
    ASSERT_TRUE(info.ReadBlock(&full_block));
    EXPECT_EQ(CDlgAbout::TitleLine(info), "Kivrel 1.2.3b beta");
    EXPECT_EQ(CDlgAbout::CopyrightLine(info),
              QString::fromUtf8("\u00a9 2026 Someone, \u00a9 2025   Kivrel Works"));
    EXPECT_EQ(CDlgAbout::Description(info, "Dec  1 2026", "07:05:09"),
              "First line.\r\nSecond line.\r\nBuilt time: Dec  1 2026 07:05:09\r\n"
              "Unicode encoding: off");

    // Without comments no empty line comes first, the two lines still
    // stand apart, and without a special build the title ends at the
    // version.
    ASSERT_TRUE(info.ReadBlock(&bare_block));
    EXPECT_EQ(CDlgAbout::TitleLine(info), "Kivrel 1.2.3b");
    EXPECT_EQ(CDlgAbout::Description(info, "Dec  1 2026", "07:05:09"),
              "Built time: Dec  1 2026 07:05:09\r\nUnicode encoding: off");
}

} // namespace
