// The control window's "&Quick connect" command opens the quick-connect
// dialog over the window.
#include "setup/dlgquickconn.h"

#include "core/settings.h"
#include "foundation/kv_file.h"
#include "menus/commands.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"

#include <QAction>
#include <gtest/gtest.h>

namespace {

class MainFrmQuickConn : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        ASSERT_TRUE(app->GetPool()->tree().load(app->GetPool()->man_trans()));
    }
    void TearDown() override { app->DeletePool(); }

    CKivrelApp* app = nullptr;
};

TEST_F(MainFrmQuickConn, CommandOpensTheDialog)
{
    auto* frm = new CMainFrm;
    ASSERT_TRUE(frm->CreateFrame());
    QWidget* owner = nullptr;
    kvtest::DialogDriver<CDlgQuickConn> driver([&owner](CDlgQuickConn& dlg) {
        owner = dlg.parentWidget();
        dlg.reject();
    });
    QAction* action = CCommandLayer::Of(frm)->Action(32821);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->objectName(), kvres::CommandName(32821));
    action->trigger();
    EXPECT_EQ(driver.handled, 1);
    EXPECT_EQ(owner, frm);
    delete frm;
}

} // namespace
