// A real engine root over an empty data-source file in a temporary folder,
// the settings of the program there too, and helpers that run a sheet the
// way a person does while the code under test waits in its modal loop.
#pragma once

#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "dialogs/dlgappinfo.h"
#include "foundation/kv_file.h"
#include "props/dsprop.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <functional>
#include <gtest/gtest.h>

namespace proptest {

class PoolTest : public kvtest::TempDirTest
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
        Reload();
    }
    void TearDown() override { app->DeletePool(); }

    // A new engine root that reads the data-source file again.
    void Reload()
    {
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        pool = app->GetPool();
        ASSERT_TRUE(pool->tree().load(pool->man_trans()));
    }

    KV_DsTreeNode* FtpGroup() { return pool->tree().find(KV_DS_NODE_FTP, true); }

    KV_DsTreeNode* AddFtp(const char* name, KV_DsTreeNode* group = nullptr, bool inherit = false)
    {
        KV_DsTreeNodeFtp n;
        n.set_name(name);
        n.set_inh_params(inherit);
        n.params_ftp().set_dst_addr("ftp.example.com");
        n.params_ftp().ldata().set_user("joe");
        return pool->tree().create(group != nullptr ? group : FtpGroup(), &n, 0, true);
    }

    // Runs EditProperties(node, work) while `answer` handles the sheet
    // (it must end it); information notes are answered with OK and
    // counted, error boxes are kept.
    bool Edit(KV_DsTreeNode* node, KV_DsTreeNode* work, std::function<void(CDsProp&)> answer)
    {
        kvtest::DialogDriver<CDsProp> sheets([&](CDsProp& s) {
            answer(s);
            // A sheet that refused to close would wait for nobody.
            if (s.isVisible()) {
                ++sheets_left_open;
                s.reject();
            }
        });
        kvtest::DialogDriver<CDlgAppInfo> notes([&](CDlgAppInfo& d) {
            ++notes_shown;
            d.accept();
        });
        kvtest::DialogDriver<QMessageBox> errors([&](QMessageBox& b) {
            error_texts << b.text();
            b.accept();
        });
        const bool ok = app->EditProperties(node, work, nullptr);
        sheets_shown += sheets.handled;
        return ok;
    }

    static void Type(CDsPropPage* page, int id, const QString& text)
    {
        page->Item<QLineEdit>(id)->setText(text);
    }

    CKivrelApp* app = nullptr;
    KV_FileManPool* pool = nullptr;
    int notes_shown = 0;
    int sheets_shown = 0;
    int sheets_left_open = 0;
    QStringList error_texts;
};

} // namespace proptest
