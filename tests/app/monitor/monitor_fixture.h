// The control window over a real engine root, with its transfer list, for
// the tests of the request windows. Request notices are either fed as the
// engine would send them (Feed) or come from the real transfer manager.
#pragma once

#include "core/settings.h"
#include "foundation/kv_file.h"
#include "monitor/dlgreqinfolog.h"
#include "monitor/translistview.h"
#include "requests/kv_reqmsg.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace kvtest {

// The control window without sounds and hints.
class QuietFrm : public CMainFrm
{
protected:
    void PlayResultSound(const QString&) override {}
    void ShowHint(const QString&, uint32_t) override {}
};

// A request snapshot as a request fills it.
class Snap : public KV_FileReqInfo
{
public:
    explicit Snap(KV_REQ_STAT s = KV_REQ_STAT_RUNNING, const char* descr = "/a -> /b")
    {
        operation_ = "Copy";
        status_str_ = s == KV_REQ_STAT_RUNNING ? "Running" : "Other";
        status_ = s;
        type_ = KV_REQ_TYPE_TRANS_CP;
        descr_ = descr;
    }
    Snap& Add(KV_REQ_ADD a, uint8_t f = 0)
    {
        add_ = a;
        flags_ = f;
        return *this;
    }
    Snap& Prog(int32_t p)
    {
        prog_perc_ = p;
        return *this;
    }
    Snap& Errors(uint32_t n)
    {
        err_cnt_ = n;
        return *this;
    }
    Snap& Light(KV_REQ_TL tl)
    {
        tl_ = tl;
        return *this;
    }
    Snap& Start(long t)
    {
        tm_start_ = KV_Time(t);
        return *this;
    }
};

class MonitorTest : public TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel/kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        // Questions as dialogs, and the informer's doorbell to the window.
        app->GetBridge().InstallHooks();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        pool = app->GetPool();
        for (const char* sub : {"settings", "tmp", "systmp", "work"}) {
            ASSERT_TRUE(KV_File::mkdir((dir / sub).c_str()));
        }
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, (dir / "settings").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (dir / "tmp").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, (dir / "systmp").c_str()));
        ASSERT_TRUE(write_file(dir / "settings/kivrel.ds", ""));
        ASSERT_TRUE(pool->tree().load(pool->man_trans()));
        // The hint of an added request waits for the user: off unless a
        // test wants it.
        WriteProfileInt("UI", "InfoReqAdd", 0);
        frm = new QuietFrm;
        ASSERT_TRUE(frm->CreateFrame());
        list = frm->findChild<CTransListView*>();
        ASSERT_NE(list, nullptr);
    }
    void TearDown() override
    {
        CDlgReqInfoLog::CloseIf(0, false);
        CDlgReqInfoLog::CloseIf(0, true);
        delete frm;
        if (started) {
            WaitFor([this] {
                frm_pump();
                return pool->term();
            });
        }
        app->DeletePool();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void Feed(KV_Msg* msg)
    {
        frm->HandleMsg(msg);
        KV_Informer::destroy(msg);
    }
    void Feed(KV_REQ_NTF kind, uint32_t id, const KV_FileReqInfo& info)
    {
        auto* m = new KV_MsgReqNtf(kind, id);
        m->info = info;
        Feed(m);
    }
    // Drains the engine root's informer as the control window does (without
    // a control window once it is gone).
    void frm_pump()
    {
        while (KV_Msg* m = pool->informer().pop()) {
            pool->process_ntf(m);
            KV_Informer::destroy(m);
        }
    }

    // The row texts of the list, top to bottom, column `c`.
    QStringList Column(int c) const
    {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            texts << list->topLevelItem(i)->text(c);
        }
        return texts;
    }
    std::vector<unsigned> Ids() const
    {
        std::vector<unsigned> ids;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            ids.push_back(CTransListView::IdOf(list->topLevelItem(i)));
        }
        return ids;
    }

    CKivrelApp* app = nullptr;
    KV_FileManPool* pool = nullptr;
    QuietFrm* frm = nullptr;
    CTransListView* list = nullptr;
    bool started = false;
};

} // namespace kvtest
