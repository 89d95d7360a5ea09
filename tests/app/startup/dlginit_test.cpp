// The start-up splash over a real engine root: its pictures and result, the
// trust stores after a TLS failure, and the resumption question with its
// settings.
#include "core/settings.h"
#include "foundation/kv_file.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"
#include "startup/dlginit.h"
#include "startup/dlgreqask.h"
#include "startup/starthooks.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_sshtest.h"
#include "support/kv_testdir.h"

#include <QCheckBox>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <mutex>

namespace {

// The names of the requests a cancel reached (on the manager's thread).
struct CancelledLog
{
    std::mutex mutex;
    QStringList names; // guarded by mutex

    QStringList Names()
    {
        std::lock_guard<std::mutex> guard(mutex);
        QStringList sorted = names;
        sorted.sort();
        return sorted;
    }
};

// A reloaded request as the resumption question sees it.
class ResumeReq : public KV_FileReq
{
public:
    ResumeReq(KV_ErrHandler& eh, const char* name, bool can, bool checked, bool hide,
              CancelledLog* log = nullptr)
        : KV_FileReq(eh), name(name), can(can), checked(checked), hide(hide), log(log)
    {
    }
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override
    {
        KV_FileReq::stop_done(type, threshold);
        // The end of the engine stops everything with terminate instead.
        if (log != nullptr && type == KV_STOP_CANCEL) {
            std::lock_guard<std::mutex> guard(log->mutex);
            log->names << name;
        }
    }
    using KV_FileReq::operator==;
    bool operator==(const KV_FileReq&) const override { return false; }
    const char* get_descr(KV_String& descr, bool) const override
    {
        descr = name;
        return "Copy";
    }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_MKDIR; }
    bool run_on(KV_Tavo&) override { return false; }
    bool hidden() const override { return hide; }
    bool resume(bool& out) override
    {
        if (can) {
            out = checked;
        }
        return can;
    }

    const char* name;
    bool can, checked, hide;
    CancelledLog* log;
};

KV_SshKey KeyOf(const char* blob)
{
    KV_Stream in;
    kvtest::put(in, kvtest::unhex(blob));
    KV_SshKey k;
    EXPECT_TRUE(k.read(in));
    return k;
}

// Two DSA key blobs that differ in their last number.
const char* kBlobA = "000000077373682d6473730000000117000000010b0000000200800000000105";
const char* kBlobB = "000000077373682d6473730000000117000000010b0000000200800000000106";

class DlgInit_MT : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (dir / "tmp").c_str()));
        std::filesystem::create_directories(dir / "tmp");
        ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, (dir / "trusted-pks.bin").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SRV_CERTS, (dir / "trusted-certs.bin").c_str()));
        // No key file: TLS cannot start.
        ASSERT_TRUE(KV_File::set_path(KV_PATH_CERT_FILE, (dir / "missing.pem").c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        KV_SshSess::man_key().clear();
        saved = StartHooks();
        StartHooks().error = [this](const QString& text) { errors << text; };
        StartHooks().ask_resume = [this](DlgReqAsk& dlg) { return ask(dlg); };
        ask = [this](DlgReqAsk&) {
            ++asked;
            return false;
        };
    }
    void TearDown() override
    {
        StartHooks() = saved;
        app->DeletePool();
        KV_SshSess::man_key().clear();
    }
    bool Run(int* picture = nullptr)
    {
        CDlgInit dlg(*app->GetPool());
        dlg.SetLastPictureMs(0);
        dlg.exec();
        if (picture != nullptr) {
            *picture = dlg.Picture();
        }
        return dlg.GetResult();
    }
    // `log`: the request is suspended without a time to wake, so that only
    // a cancel ends it once the manager runs.
    void Add(const char* name, bool can, bool checked, bool hide, CancelledLog* log = nullptr)
    {
        KV_FileReqMan& man = app->GetPool()->man_trans();
        ASSERT_TRUE(man.add_req(new ResumeReq(man.informer(), name, can, checked, hide, log),
                                nullptr, nullptr,
                                log != nullptr ? KV_REQ_STAT_SUSPENDED : KV_REQ_STAT_QUEUED));
    }

    CKivrelApp* app = nullptr;
    CStartHooks saved;
    QStringList errors;
    int asked = 0;
    std::function<bool(DlgReqAsk&)> ask;
};

TEST_F(DlgInit_MT, ATlsFailureStillLoadsTheTrustStoresSoTrustingKeepsOldEntries)
{
    // An earlier run trusted one host key.
    ASSERT_TRUE(KV_SshSess::man_key().add(KeyOf(kBlobA), "old.example", "fp a"));
    KV_SshSess::man_key().clear();

    int picture = 0;
    EXPECT_TRUE(Run(&picture));
    EXPECT_EQ(picture, 12);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("SSL initialization failed (")) << errors[0].toStdString();
    EXPECT_FALSE(errors[0].startsWith("SSL initialization failed (unknown)"));

    // "Always trust" for another host now: the store keeps the old entry.
    ASSERT_TRUE(KV_SshSess::man_key().add(KeyOf(kBlobB), "new.example", "fp b"));
    KV_SshSess::man_key().clear();
    ASSERT_TRUE(KV_SshSess::man_key().load());
    EXPECT_EQ(KV_SshSess::man_key().entries(), 2u);
}

TEST_F(DlgInit_MT, ADataSourceFileThatCannotBeReadEndsWithFailureOnItsPicture)
{
    std::filesystem::remove(dir / "kivrel.ds");
    std::filesystem::create_directories(dir / "kivrel.ds"); // a folder cannot be read
    int picture = 0;
    EXPECT_FALSE(Run(&picture));
    EXPECT_EQ(picture, 10);
    EXPECT_EQ(asked, 0);
}

TEST_F(DlgInit_MT, ResumptionListsOnlyResumableShownRequests)
{
    Add("hidden", true, true, true);
    Add("cannot", false, true, false);
    Add("go on", true, true, false);
    Add("start unchecked", true, false, false);
    QStringList listed;
    QList<bool> checks;
    ask = [&](DlgReqAsk& dlg) {
        ++asked;
        // A dialog on any other thread is undefined in Qt: the loader waits.
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        dlg.show(); // fills the list
        QTreeWidget* list = dlg.List();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            listed << list->topLevelItem(i)->text(0);
            checks << (list->topLevelItem(i)->checkState(0) == Qt::Checked);
        }
        dlg.Item<QCheckBox>(1044)->setChecked(true);
        dlg.accept();
        return true;
    };
    EXPECT_TRUE(Run());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(listed, (QStringList{"Copy: go on", "Copy: start unchecked"}));
    EXPECT_EQ(checks, (QList<bool>{true, false}));
    // "Don't show this dialog again." switches the question off ...
    EXPECT_EQ(GetProfileInt("UI", "ReqResume", 1), 0);
}

// A copy describes itself on several lines, each ended by "\r\n"; the
// list shows each line end as one line break, not as an empty line.
TEST_F(DlgInit_MT, ResumptionShowsEachLineEndOfADescriptionAsOneBreak)
{
    Add("Data source:\tMirror # 1\r\n\r\nSource path:\t/pub/\r\nFile(s):\t\tbig.bin", true, true,
        false);
    QString text;
    ask = [&](DlgReqAsk& dlg) {
        ++asked;
        dlg.show();
        QTreeWidget* list = dlg.List();
        if (list->topLevelItemCount() == 1) {
            text = list->topLevelItem(0)->text(0);
        }
        dlg.reject();
        return false;
    };
    Run();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(text, "Copy: Data source:\tMirror # 1\n\nSource path:\t/pub/\nFile(s):\t\tbig.bin");
}

TEST_F(DlgInit_MT, NoQuestionWithoutResumableRequestsOrWhenSwitchedOff)
{
    Add("hidden", true, true, true);
    Add("cannot", false, true, false);
    EXPECT_TRUE(Run());
    EXPECT_EQ(asked, 0);

    app->DeletePool();
    ASSERT_TRUE(app->CreatePool());
    Add("go on", true, true, false);
    ASSERT_TRUE(WriteProfileInt("UI", "ReqResume", 0));
    EXPECT_TRUE(Run());
    EXPECT_EQ(asked, 0);
}

TEST_F(DlgInit_MT, UncheckedRequestsAreCancelledOnOkAndAllButCheckedOnesWhenNotAsked)
{
    enum Answer { kOk, kOkToggled, kClosed, kSwitchedOff };
    struct Case
    {
        const char* what;
        Answer answer;
        QStringList cancelled; // sorted
    } const cases[] = {
        {"OK as listed", kOk, {"start unchecked"}},
        {"OK after the user swapped both boxes", kOkToggled, {"go on"}},
        // Not resumed: what cannot resume goes too, and what would start
        // unchecked; a hidden request that would go on stays.
        {"closed without OK", kClosed, {"cannot", "start unchecked"}},
        {"question switched off", kSwitchedOff, {"cannot", "start unchecked"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CancelledLog log;
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        ASSERT_TRUE(WriteProfileInt("UI", "ReqResume", c.answer == kSwitchedOff ? 0 : 1));
        Add("hidden", true, true, true, &log);
        Add("cannot", false, true, false, &log);
        Add("go on", true, true, false, &log);
        Add("start unchecked", true, false, false, &log);
        ask = [&](DlgReqAsk& dlg) {
            if (c.answer == kClosed) {
                return false;
            }
            dlg.show();
            QTreeWidget* list = dlg.List();
            for (int i = 0; c.answer == kOkToggled && i < list->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = list->topLevelItem(i);
                item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked
                                                                          : Qt::Checked);
            }
            dlg.accept();
            return true;
        };
        EXPECT_TRUE(Run());
        // The cancel tasks wait for the manager, as at a real start.
        ASSERT_TRUE(app->GetPool()->man_trans().start());
        EXPECT_TRUE(kvtest::WaitFor([&] { return log.Names().size() >= c.cancelled.size(); }));
        // The root's end stops the others with terminate.
        app->DeletePool();
        EXPECT_EQ(log.Names(), c.cancelled);
    }
}

} // namespace
