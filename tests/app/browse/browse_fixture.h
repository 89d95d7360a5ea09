// An engine root over a test folder for the browse-window tests: the
// data-source file of the test, the transfer manager running, the engine's
// doorbell wired to the program's windows; and ways to wait for the engine.
#pragma once

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/settings.h"
#include "foundation/kv_file.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace kvtest {

inline QString Q(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.length()));
}

// A folder path as the local file manager spells it.
inline KV_PathDef LocalPath(KV_FileMan* man, const std::string& text)
{
    KV_PathDef p;
    EXPECT_TRUE(man->man_path().split_path(KV_String(text.c_str()), p, true));
    EXPECT_TRUE(p.prepend(man->man_path().dir_pre()));
    return p;
}

inline std::string Text(const KV_PathDef& p)
{
    std::string s;
    for (uint32_t i = 0; i < p.entries(); ++i) {
        s += (i ? "|" : "") + std::string(p.at(i).data());
    }
    return s;
}

class BrowseFixture : public TempDirTest
{
protected:
    // The data-source file; the local computer is always there.
    virtual std::string DsFile() const { return ""; }
    // Whether the transfer manager runs from the start (the program starts
    // it only after its saved windows are back).
    virtual bool StartTransfers() const { return true; }

    void SetUp() override
    {
        TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        app->GetBridge().InstallHooks();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        pool = app->GetPool();
        for (const char* sub : {"settings", "tmp", "work", "work/a", "work/a/deep", "work/b"}) {
            ASSERT_TRUE(KV_File::mkdir((dir / sub).c_str()));
        }
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, (dir / "settings").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (dir / "tmp").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, (dir / "tmp").c_str()));
        ASSERT_TRUE(write_file(dir / "work/a/one.txt", "1"));
        ASSERT_TRUE(write_file(dir / "work/a/two.txt", "22"));
        ASSERT_TRUE(write_file(dir / "settings/kivrel.ds", DsFile()));
        ASSERT_TRUE(pool->load_ds());
        if (StartTransfers()) {
            ASSERT_TRUE(pool->man_trans().start());
        }
        local = pool->tree().find(KV_DS_NODE_STD, false)->id();
    }

    void TearDown() override
    {
        // Deleting a window takes its menus, also top-level widgets, along.
        QList<QPointer<CBrowseSplt>> wnds;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* b = qobject_cast<CBrowseSplt*>(w)) {
                wnds.append(b);
            }
        }
        for (const QPointer<CBrowseSplt>& w : wnds) {
            delete w.data();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (pool != nullptr) {
            EXPECT_TRUE(Until([this] { return pool->term(); }, 30000));
        }
        app->DeletePool();
        SetSettingsEnv(CSettingsEnv());
    }

    // Runs the event loop (and so the panes' doorbells) until `done` or
    // the time is up; the engine root's own notices are followed meanwhile.
    bool Until(const std::function<bool()>& done, int ms = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (KV_Msg* m = pool->informer().pop()) {
                root_msgs.push_back(m->type());
                pool->process_ntf(m);
                KV_Informer::destroy(m);
            }
            if (done()) {
                return true;
            }
            if (clock.elapsed() > ms) {
                return false;
            }
            QTest::qWait(5);
        }
    }

    // The browse window made for the ids, not shown.
    CBrowseSplt* Open(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags)
    {
        auto* wnd = new CBrowseSplt(left, right, flags);
        if (!wnd->CreateFrame()) {
            delete wnd;
            return nullptr;
        }
        return wnd;
    }

    static bool Listed(KV_FileTree* tree, const KV_PathDef& folder, const char* name)
    {
        KV_FileTreeNode* node = tree != nullptr ? tree->find(folder.list()) : nullptr;
        return node != nullptr && tree->find(node, KV_String(name)) != nullptr;
    }

    CKivrelApp* app = nullptr;
    KV_FileManPool* pool = nullptr;
    KV_DsId local;
    std::vector<KV_MSG> root_msgs;
};

} // namespace kvtest
