// A browse window on the local disk with the engine running: the engine
// root on a temporary settings folder, its hooks installed so that the
// panes hear their file managers, and helpers that wait for what the views
// show.
#pragma once

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/settings.h"
#include "datasources/kv_dstree.h"
#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "menus/commands.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"
#include "views/filelistview.h"
#include "views/filetreeview.h"

#include <QAction>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kvtest {

class ViewFixture : public ::testing::Test
{
protected:
    // Whether the window's command is enabled now, as a menu would show it.
    bool Enabled(uint32_t id)
    {
        CCmdUI ui(id);
        CCommandLayer::Of(wnd.get())->Update(ui, true);
        return ui.enabled;
    }
    // Runs the window's command as its menu item or key does; false when it
    // is off.
    bool Run(uint32_t id)
    {
        // A modal dialog that just closed may not have handed the
        // activation back yet (no window manager here).
        if (!wnd->isActiveWindow()) {
            wnd->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(wnd.get()));
        }
        CCommandLayer* layer = CCommandLayer::Of(wnd.get());
        QAction* action = layer->Action(id);
        layer->UpdateActions();
        if (!action->isEnabled()) {
            return false;
        }
        action->trigger();
        return true;
    }

    void SetUp() override
    {
        ASSERT_TRUE(tmp.ok());
        for (const char* sub : {"settings", "tmp", "systmp", "work"}) {
            ASSERT_TRUE(KV_File::mkdir((tmp / sub).c_str()));
        }
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, (tmp / "settings").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (tmp / "tmp").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, (tmp / "systmp").c_str()));
        ASSERT_TRUE(write_file(tmp / "settings/kivrel.ds", ""));
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(tmp / "settings/kivrel.conf");
        env.tmp = QString::fromStdString(tmp / "systmp");
        SetSettingsEnv(env);
        work = tmp / "work";
        CKivrelApp* app = CKivrelApp::Instance();
        app->DeletePool();
        app->GetBridge().InstallHooks();
        ASSERT_TRUE(app->CreatePool());
        pool = app->GetPool();
        ASSERT_TRUE(pool->load_ds());
        ASSERT_TRUE(pool->man_trans().start());
        local = pool->tree().find(KV_DS_NODE_STD, false)->id();
    }

    void TearDown() override
    {
        wnd.reset();
        if (pool != nullptr) {
            WaitFor([this] {
                Pump();
                return pool->term();
            });
        }
        CKivrelApp::Instance()->DeletePool();
    }

    // Opens a browse window: `flags` is the layout word; the right side is
    // local too when `two`.
    void Open(uint16_t flags, bool two = false)
    {
        wnd = std::make_unique<CBrowseSplt>(KV_FileManId(local, 0),
                                            two ? KV_FileManId(local, 0) : KV_FileManId(), flags);
        ASSERT_TRUE(wnd->CreateFrame());
        wnd->resize(900, 600);
        wnd->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(wnd.get()));
    }

    CBrowseFrm* Pane(uint32_t side = CBrowseSplt::kLeft) const { return wnd->GetPane(side); }
    CFileManData* Data(uint32_t side = CBrowseSplt::kLeft) const
    {
        return Pane(side) != nullptr ? Pane(side)->GetData() : nullptr;
    }
    CFileListView* List(uint32_t side = CBrowseSplt::kLeft) const
    {
        return Pane(side) != nullptr ? Pane(side)->findChild<CFileListView*>() : nullptr;
    }
    CFileTreeView* Tree(uint32_t side = CBrowseSplt::kLeft) const
    {
        return Pane(side) != nullptr ? Pane(side)->findChild<CFileTreeView*>() : nullptr;
    }

    // Hands the engine root's own messages back to it (the control window
    // does this in the program).
    void Pump()
    {
        while (KV_Msg* m = pool->informer().pop()) {
            pool->process_ntf(m);
            KV_Informer::destroy(m);
        }
    }
    bool Until(const std::function<bool()>& done, int ms = 15000)
    {
        return WaitFor(
            [&] {
                Pump();
                return done();
            },
            ms);
    }

    // Shows the local folder `path` in the side's pane; true once it is
    // current and listed.
    bool Show(const std::string& path, uint32_t side = CBrowseSplt::kLeft)
    {
        CFileManData* data = Data(side);
        if (data == nullptr) {
            return false;
        }
        // The starting folder first, so that the typed one is not mistaken
        // for it.
        if (!Until([&] { return !data->GetPath().empty(); })) {
            return false;
        }
        KV_String text(path.c_str());
        if (!data->SetPathText(text, false)) {
            return false;
        }
        const bool ok = Until([&] {
            KV_String shown;
            return data->GetPathText(shown, data->GetPath(), true, 0) &&
                   std::string(shown.data(), shown.length()).ends_with(path) &&
                   Folder(data) != nullptr && Folder(data)->valid_items() != 0xFFFFFFFFu;
        });
        if (!ok) {
            KV_String shown;
            data->GetPathText(shown, data->GetPath(), true, 0);
            ADD_FAILURE() << "shown " << shown.data() << " entries " << data->GetPath().entries()
                          << " node " << (Folder(data) != nullptr);
        }
        return ok;
    }
    static KV_FileTreeNode* Folder(CFileManData* data)
    {
        return data->GetFileTree() != nullptr ? data->GetFileTree()->find(data->GetPath().list())
                                              : nullptr;
    }

    // The list's names in display order.
    static std::vector<std::string> Names(const CFileListView* list)
    {
        std::vector<std::string> out;
        const CFileListModel* m = list->GetModel();
        for (int row = 0; row < m->rowCount(); ++row) {
            out.push_back(m->index(row, 0).data().toString().toStdString());
        }
        return out;
    }
    // The names of the tree item's children.
    static std::vector<std::string> Children(const CFileTreeData* item)
    {
        std::vector<std::string> out;
        if (item != nullptr) {
            for (const auto& c : item->children) {
                out.emplace_back(c->node->name().data(), c->node->name().length());
            }
        }
        return out;
    }

    TempDir tmp{"kv_views"};
    std::string work;
    KV_FileManPool* pool = nullptr;
    KV_DsId local;
    std::unique_ptr<CBrowseSplt> wnd;
};

} // namespace kvtest
