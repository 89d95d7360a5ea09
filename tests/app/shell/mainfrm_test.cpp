// The control window over a real engine root: its tree follows the engine's
// data-source tree, its commands run through their actions, and its engine
// notices reach a recording stand-in for the sound player and the launcher.
#include "shell/mainfrm.h"

#include "core/ntfbatch.h"
#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "dialogs/dlgfiletrans.h"
#include "foundation/kv_file.h"
#include "menus/commands.h"
#include "requests/kv_reqmsg.h"
#include "requests/kv_sessinfo.h"
#include "root/kv_filemanpool.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

class RecordingFrm : public CMainFrm
{
public:
    QStringList sounds;
    QList<QStringList> launches;
    int shutdown_dlgs = 0;
    int params_dlgs = 0;
    QStringList updates; // the texts of the update dialogs shown
    bool download = false; // the answer to the update dialog

protected:
    void PlayResultSound(const QString& name) override { sounds << name; }
    bool Launch(const QString& program, const QStringList& args, QString&) override
    {
        launches << (QStringList{program} + args);
        return true;
    }
    bool RunShutdownDlg(int) override
    {
        ++shutdown_dlgs;
        return false;
    }
    KV_FileReqTransParams* RunParamsDlg(const KV_MsgReqParams&, QWidget*) override
    {
        ++params_dlgs;
        return nullptr;
    }
    void ShowHint(const QString&, uint32_t) override {}
    bool RunUpdateDlg(const QString& text, bool) override
    {
        updates << text;
        return download; // "&Download" or "&Ignore"
    }
};

// A request snapshot as a request fills it.
class Snap : public KV_FileReqInfo
{
public:
    Snap(KV_REQ_STAT s, KV_REQ_ADD a, uint8_t f = 0)
    {
        operation_ = "Copy";
        status_ = s;
        add_ = a;
        flags_ = f;
        type_ = KV_REQ_TYPE_COPY;
    }
};

QString Q(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

class MainFrmTest : public kvtest::TempDirTest
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
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        pool = app->GetPool();
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        ASSERT_TRUE(pool->tree().load(pool->man_trans()));
        frm = new RecordingFrm;
        ASSERT_TRUE(frm->CreateFrame());
        view = frm->findChild<CDsView*>();
        ASSERT_NE(view, nullptr);
    }
    void TearDown() override
    {
        delete frm;
        app->DeletePool();
    }

    KV_DsTreeNode* AddFtp(const char* name, KV_DsTreeNode* group = nullptr)
    {
        KV_DsTreeNodeFtp n;
        n.set_name(name);
        n.params_ftp().set_dst_addr("ftp.example.com");
        return pool->tree().create(group != nullptr ? group : FtpGroup(), &n, 0, true);
    }
    KV_DsTreeNode* FtpGroup() { return pool->tree().find(KV_DS_NODE_FTP, true); }

    QTreeWidgetItem* ItemOf(const KV_DsTreeNode* node)
    {
        for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it) {
            if (CDsView::NodeOf(*it) == node) {
                return *it;
            }
        }
        return nullptr;
    }
    QStringList ChildTexts(const KV_DsTreeNode* group)
    {
        QStringList texts;
        QTreeWidgetItem* item = ItemOf(group);
        for (int i = 0; item != nullptr && i < item->childCount(); ++i) {
            texts << item->child(i)->text(0);
        }
        return texts;
    }
    void Feed(KV_Msg* msg)
    {
        frm->HandleMsg(msg);
        KV_Informer::destroy(msg);
    }
    KV_MsgReqNtf* Req(KV_REQ_NTF kind, uint32_t id, const KV_FileReqInfo& info)
    {
        auto* m = new KV_MsgReqNtf(kind, id);
        m->info = info;
        return m;
    }

    CKivrelApp* app = nullptr;
    KV_FileManPool* pool = nullptr;
    RecordingFrm* frm = nullptr;
    CDsView* view = nullptr;
};

TEST_F(MainFrmTest, TheTreeFollowsCreateRenameMoveAndDelete)
{
    KV_DsTreeNode* beta = AddFtp("beta");
    KV_DsTreeNode* alpha = AddFtp("Alpha");
    ASSERT_NE(beta, nullptr);
    ASSERT_NE(alpha, nullptr);
    KV_DsTreeNodeGrpFtp g(pool->tree());
    g.set_name("zeta folder");
    KV_DsTreeNode* sub = pool->tree().create(FtpGroup(), &g, 0, true);
    ASSERT_NE(sub, nullptr);
    ASSERT_NE(ItemOf(alpha), nullptr);
    // New items come at the end; a change of name sorts: groups first, then
    // names without regard to case.
    KV_DsTreeNode* clone = pool->tree().clone(beta, false);
    clone->set_name("Beta");
    ASSERT_TRUE(pool->update(beta, clone, 0));
    KV_DsTreeNode::destr_clone(clone);
    EXPECT_EQ(ChildTexts(FtpGroup()), (QStringList{"zeta folder", "Alpha", "Beta"}));

    ASSERT_TRUE(pool->tree().move(alpha, sub, false));
    EXPECT_EQ(ChildTexts(FtpGroup()), (QStringList{"zeta folder", "Beta"}));
    EXPECT_EQ(ChildTexts(sub), QStringList{"Alpha"});

    ASSERT_TRUE(pool->tree().remove(sub));
    EXPECT_EQ(ChildTexts(FtpGroup()), QStringList{"Beta"});
    EXPECT_EQ(ItemOf(alpha), nullptr);
}

// Every item in pre-order: depth, text, foreground and icon, and whether
// the item's node carries that text.
QStringList Dump(CDsView* view)
{
    QStringList rows;
    for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it) {
        int depth = 0;
        for (QTreeWidgetItem* p = (*it)->parent(); p != nullptr; p = p->parent()) {
            ++depth;
        }
        const KV_DsTreeNode* node = CDsView::NodeOf(*it);
        rows << QStringLiteral("%1 %2 %3 %4 %5")
                    .arg(depth)
                    .arg((*it)->text(0))
                    .arg((*it)->foreground(0).color().name())
                    .arg((*it)->icon(0).cacheKey())
                    .arg(node != nullptr && Q(node->disp_name()) == (*it)->text(0));
    }
    return rows;
}

TEST_F(MainFrmTest, ALoadShowsTheSameTreeWhetherHeardNodeByNodeOrAttachedAfterwards)
{
    // Nested folders, a long group (its list grows many times while the file
    // is read) and names out of sorted order: the file's order is kept.
    KV_DsTreeNodeGrpFtp g(pool->tree());
    g.set_name("zeta folder");
    KV_DsTreeNode* sub = pool->tree().create(FtpGroup(), &g, 0, true);
    ASSERT_NE(sub, nullptr);
    KV_DsTreeNodeGrpFtp g2(pool->tree());
    g2.set_name("deeper");
    KV_DsTreeNode* deeper = pool->tree().create(sub, &g2, 0, true);
    ASSERT_NE(deeper, nullptr);
    ASSERT_NE(AddFtp("inner", deeper), nullptr);
    ASSERT_NE(AddFtp("beside", sub), nullptr);
    pool->tree().set_autosave(false);
    for (int i = 300; i > 0; --i) {
        ASSERT_NE(AddFtp(("s" + std::to_string(i)).c_str()), nullptr);
    }
    ASSERT_TRUE(pool->save());

    // Heard node by node: the view listens while the tree is read again.
    ASSERT_TRUE(pool->tree().load(pool->man_trans()));
    const QStringList heard = Dump(view);
    ASSERT_GE(heard.size(), 4 + 300); // the default nodes, the folders and sources
    EXPECT_EQ(ChildTexts(FtpGroup()).mid(0, 3), (QStringList{"zeta folder", "s300", "s299"}));
    EXPECT_EQ(ChildTexts(FtpGroup()).last(), "s1");

    // As a start-up: the view hears nothing while the tree loads, then
    // shows it at once.
    view->Detach();
    EXPECT_EQ(view->topLevelItemCount(), 0);
    ASSERT_TRUE(pool->tree().load(pool->man_trans()));
    EXPECT_EQ(view->topLevelItemCount(), 0);
    view->Attach();
    EXPECT_EQ(Dump(view), heard);

    // Attached again, the view follows changes as before.
    KV_DsTreeNode* added = AddFtp("after", pool->tree().find(KV_String("deeper")));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(ChildTexts(pool->tree().find(KV_String("deeper"))), (QStringList{"inner", "after"}));
}

TEST_F(MainFrmTest, EscapeCommitsTheLabelAndAFailedRenameReopensIt)
{
    KV_DsTreeNode* node = AddFtp("old");
    AddFtp("taken");
    frm->show();
    view->setFocus();
    view->EditLabel(ItemOf(node));
    auto* edit = view->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->setText("  renamed ");
    QTest::keyClick(edit, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(Q(node->name()), "renamed");
    EXPECT_EQ(ItemOf(node)->text(0), "renamed");

    // A name the tree refuses keeps the editor open on the same item.
    view->EditLabel(ItemOf(node));
    edit = view->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->setText("");
    QTest::keyClick(edit, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(Q(node->name()), "renamed");
    EXPECT_NE(view->findChild<QLineEdit*>(), nullptr); // the editor is open again
    EXPECT_EQ(view->currentItem(), ItemOf(node));
}

TEST_F(MainFrmTest, AutoExitTwiceTurnsItOff)
{
    QAction* action = frm->Commands()->Action(32771);
    action->trigger();
    EXPECT_EQ(frm->AutoAction(), CMainFrm::kAutoExit);
    EXPECT_TRUE(action->isChecked());
    EXPECT_TRUE(pool->man_trans().inf_all_proc());
    action->trigger();
    EXPECT_EQ(frm->AutoAction(), CMainFrm::kAutoNone);
    EXPECT_FALSE(action->isChecked());
    EXPECT_FALSE(pool->man_trans().inf_all_proc());

    // All requests done with an automatic action: the countdown is shown
    // once, and the action is cleared before it.
    frm->Commands()->Action(32773)->trigger();
    Feed(new KV_MsgStdNtf(KV_MSG_STD_NTF_ALL_PROC));
    Feed(new KV_MsgStdNtf(KV_MSG_STD_NTF_ALL_PROC));
    EXPECT_EQ(frm->shutdown_dlgs, 1);
    EXPECT_EQ(frm->AutoAction(), CMainFrm::kAutoNone);
}

TEST_F(MainFrmTest, ResultSoundsFollowTheBlink)
{
    // Before start-up ends, notices make no sound.
    Feed(Req(KV_REQ_NTF_INIT, 1, Snap(KV_REQ_STAT_RUNNING, KV_REQ_ADD_NONE)));
    Feed(Req(KV_REQ_NTF_STATUS, 1, Snap(KV_REQ_STAT_COMPLETED, KV_REQ_ADD_COMPLETED)));
    EXPECT_TRUE(frm->sounds.isEmpty());
    frm->AddTrayIcon();

    struct Case
    {
        KV_REQ_ADD add;
        uint8_t flags;
        QStringList sounds; // after two such results in a row
    };
    const Case cases[] = {
        {KV_REQ_ADD_COMPLETED, 0, {"sounds/reqdone.wav"}},
        {KV_REQ_ADD_ERROR, 0, {"sounds/reqerr.wav"}},
        {KV_REQ_ADD_ERRORS, 0, {"sounds/reqerrs.wav", "sounds/reqerrs.wav"}},
        {KV_REQ_ADD_COMPLETED, 1, {}}, // silent request
    };
    uint32_t id = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.add));
        frm->StopFlash();
        frm->sounds.clear();
        Feed(Req(KV_REQ_NTF_INIT, id, Snap(KV_REQ_STAT_RUNNING, KV_REQ_ADD_NONE)));
        Feed(Req(KV_REQ_NTF_INIT, id + 1, Snap(KV_REQ_STAT_RUNNING, KV_REQ_ADD_NONE)));
        for (uint32_t i = 0; i < 2; ++i) {
            Feed(Req(KV_REQ_NTF_STATUS, id + i, Snap(KV_REQ_STAT_RUNNING, c.add, c.flags)));
        }
        id += 2;
        EXPECT_EQ(frm->sounds, c.sounds);
        EXPECT_TRUE(frm->IsFlashing());
        EXPECT_EQ(frm->LastResult(), static_cast<int>(c.add));
    }
    // The blink alternates the result icon and ends on the normal one.
    frm->StopFlash();
    Feed(Req(KV_REQ_NTF_INIT, 99, Snap(KV_REQ_STAT_RUNNING, KV_REQ_ADD_NONE)));
    Feed(Req(KV_REQ_NTF_STATUS, 99, Snap(KV_REQ_STAT_RUNNING, KV_REQ_ADD_ERROR)));
    frm->Flash(false);
    EXPECT_EQ(frm->TrayIconKind(), 2);
    frm->Flash(false);
    EXPECT_EQ(frm->TrayIconKind(), 0);
    frm->Flash(false);
    frm->StopFlash();
    EXPECT_EQ(frm->TrayIconKind(), 0);
}

TEST_F(MainFrmTest, TrayTipIsLeftAloneWhenItWouldReach64Characters)
{
    EXPECT_EQ(CMainFrm::FormatTrayTip(1, 2, 3, 4),
              "Total: 1\r\nSuspended: 2\r\nRunning: 3\r\nErrorneus: 4");
    EXPECT_EQ(CMainFrm::FormatTrayTip(1000000, 1000, 1000, 1000).size(), 63);
    EXPECT_EQ(CMainFrm::FormatTrayTip(1000000, 10000, 1000, 1000).size(), 64);
    frm->AddTrayIcon();
    EXPECT_EQ(frm->TrayTip(), CMainFrm::FormatTrayTip(0, 0, 0, 0));
    Feed(Req(KV_REQ_NTF_INIT, 1, Snap(KV_REQ_STAT_RUNNING, KV_REQ_ADD_NONE)));
    EXPECT_EQ(frm->TrayTip(), CMainFrm::FormatTrayTip(1, 0, 1, 0));
}

TEST_F(MainFrmTest, SpeedsOfSessionZeroOnly)
{
    struct Case
    {
        uint32_t session;
        double in;
        double out;
        QString text_in;
        QString text_out;
    };
    const Case cases[] = {
        {0, 12.5 * 1024, 3.0, "12.5 kB/s", "3.00 b/s"},
        {7, 99.0, 99.0, "12.5 kB/s", "3.00 b/s"}, // another session: ignored
        {0, 0.0001, 0.00011, "", "0.00 b/s"},
        {0, 0.0, 0.0, "", ""},
    };
    for (const Case& c : cases) {
        KV_SessInfo info;
        info.set_speed_recv(c.in);
        info.set_speed_send(c.out);
        Feed(new KV_MsgSessNtf(c.session, info));
        EXPECT_EQ(frm->SpeedText(0), c.text_in) << c.in;
        EXPECT_EQ(frm->SpeedText(1), c.text_out) << c.out;
    }
}

// A transfer that queues notices faster than the window handles them must
// not keep the event loop from input and painting until it ends: one ring
// of the doorbell handles a batch, and the doorbell rings again for the
// rest.
TEST_F(MainFrmTest, AFloodOfNoticesIsHandledInBatchesBetweenWhichTheEventLoopRuns)
{
    app->GetBridge().InstallHooks();
    KV_Informer& informer = pool->informer();
    KV_SessInfo slow;
    slow.set_speed_recv(3.0);
    for (int i = 0; i < 4 * CInformerBatch::kMaxNotices; ++i) {
        informer.send(new KV_MsgSessNtf(0, slow));
    }
    KV_SessInfo last;
    last.set_speed_recv(12.5 * 1024);
    informer.send(new KV_MsgSessNtf(0, last));
    frm->OnInformerNtf();
    EXPECT_EQ(frm->SpeedText(0), "3.00 b/s") << "one batch, not the whole flood";
    EXPECT_TRUE(kvtest::WaitFor([&] { return frm->SpeedText(0) == "12.5 kB/s"; }))
        << "the rest waits for a doorbell that never rings";
    EXPECT_EQ(informer.pop(), nullptr);
}

TEST_F(MainFrmTest, DownloadedFilesReachTheProgramAsOneArgument)
{
    const QString odd = QString::fromStdString(dir / "a; $(touch x) \"q\" 'p'.txt");
    const QByteArray path = odd.toUtf8();
    struct Case
    {
        KV_FILEOP op;
        QString editor;
        QStringList expected;
    };
    const Case cases[] = {
        {KV_FILEOP_VIEW, "", {"xdg-open", odd}},
        {KV_FILEOP_EDIT, "/usr/bin/my editor", {"/usr/bin/my editor", odd}},
        {KV_FILEOP_OPEN, "/usr/bin/my editor", {"xdg-open", odd}},
        {KV_FILEOP_PRINT, "", {"lp", odd}},
    };
    for (const Case& c : cases) {
        WriteProfileString("Init", "DefEd", c.editor);
        frm->launches.clear();
        Feed(new KV_MsgFileOp(c.op, KV_String(path.constData()), KV_String(""), false));
        ASSERT_EQ(frm->launches.size(), 1);
        EXPECT_EQ(frm->launches[0], c.expected);
    }
}

TEST_F(MainFrmTest, ADeclinedUpdateIsNotOfferedAgainButALaterOneIs)
{
    const std::string descriptor = dir / "kivrel.updt";
    struct Case
    {
        const char* name;
        const char* version;
        QByteArray stored_before; // "AutoUpdtIgn" written first; null: left as it is
        bool offered;
    };
    // The descriptor counts only as the answer to our own check.
    CKivrelApp::Instance()->GetUpdateMan() = KV_AutoUpdtMan(
        KV_FileManId(KV_DsId(KV_DS_NODE_HTTP, KV_String("u"), KV_String(""), KV_String("")), 1));
    const QByteArray v60000 = QByteArray::fromHex("000000000000"
                                                  "60ea");
    const Case cases[] = {
        {"first offer", "60000.0.0.0", QByteArray(), true},
        {"the declined version", "60000.0.0.0", QByteArray(), false},
        {"a later version", "60000.0.0.1", QByteArray(), true},
        {"an older one than declined", "60000.0.0.0", QByteArray(), false},
        {"a value of another size counts as none", "60000.0.0.0", QByteArray(4, '\xff'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.stored_before.isNull()) {
            WriteProfileBinary("Init", "AutoUpdtIgn", c.stored_before);
        }
        std::ofstream(descriptor, std::ios::binary)
            << c.version << "\nhttps://example.org/kivrel-setup\nWhat is new.";
        frm->updates.clear();
        Feed(new KV_MsgFileOp(KV_FILEOP_UPDATE_CHECK, KV_String(descriptor.c_str()), KV_String(""),
                              false));
        EXPECT_FALSE(std::filesystem::exists(descriptor));
        EXPECT_EQ(frm->updates, c.offered ? QStringList{"What is new."} : QStringList{});
    }
    // Declining writes the version as eight bytes, least significant first.
    EXPECT_EQ(GetProfileBinary("Init", "AutoUpdtIgn"), v60000);

    frm->updates.clear();
    Feed(new KV_MsgFileOp(KV_FILEOP_UPDATE_APP, KV_String("/tmp/setup.run"), KV_String(""), false));
    ASSERT_EQ(frm->updates.size(), 1);
    EXPECT_TRUE(frm->updates[0].endsWith("located at:\r\n/tmp/setup.run."));
    CKivrelApp::Instance()->GetUpdateMan() = KV_AutoUpdtMan();
}

TEST_F(MainFrmTest, TheBarsComeBackAsTheyWereLeft)
{
    auto* bar = frm->findChild<QToolBar*>("toolbar_main");
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isHidden());
    bar->hide();
    frm->statusBar()->hide();
    delete frm;
    frm = new RecordingFrm;
    ASSERT_TRUE(frm->CreateFrame());
    EXPECT_TRUE(frm->findChild<QToolBar*>("toolbar_main")->isHidden());
    EXPECT_TRUE(frm->statusBar()->isHidden());

    frm->findChild<QToolBar*>("toolbar_main")->show();
    frm->statusBar()->show();
    delete frm;
    frm = new RecordingFrm;
    ASSERT_TRUE(frm->CreateFrame());
    EXPECT_FALSE(frm->findChild<QToolBar*>("toolbar_main")->isHidden());
    EXPECT_FALSE(frm->statusBar()->isHidden());
}

TEST_F(MainFrmTest, ParameterRequestsOpenTheirDialogOnlyAfterStartUp)
{
    auto params = [] {
        return new KV_MsgReqParams(3, KV_REQ_STAT_QUEUED, new KV_FileReqTransParamsRm, 0, 0, 0);
    };
    Feed(params());
    EXPECT_EQ(frm->params_dlgs, 0);
    frm->AddTrayIcon(); // also where the desktop has no tray
    Feed(params());
    EXPECT_EQ(frm->params_dlgs, 1);
}

TEST_F(MainFrmTest, PaneTogglesNeverHideBothAndEditCommandsNeedAnEdit)
{
    frm->show();
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
    CCommandLayer* cmds = frm->Commands();
    // Both panes shown: the tree may be hidden, and then the transfer list
    // may not, so that one pane always stays.
    CCmdUI tree(32796);
    cmds->Update(tree, true);
    EXPECT_TRUE(tree.enabled);
    EXPECT_EQ(tree.check, 1);
    ASSERT_TRUE(CCommandLayer::Execute(frm, 32796));
    CCmdUI list(32849);
    cmds->Update(list, true);
    EXPECT_FALSE(list.enabled);
    EXPECT_EQ(list.check, 1);
    CCmdUI hidden(32796);
    cmds->Update(hidden, true);
    EXPECT_EQ(hidden.check, 0);
    ASSERT_TRUE(CCommandLayer::Execute(frm, 32796));
    view = frm->findChild<CDsView*>(); // made anew when shown again
    ASSERT_NE(view, nullptr);
    view->setFocus();
    CCmdUI copy(57642);
    cmds->Update(copy, true);
    EXPECT_FALSE(copy.enabled);
    QLineEdit edit(frm);
    edit.setText("abc");
    edit.show();
    edit.setFocus();
    CCmdUI all(57642);
    cmds->Update(all, true);
    EXPECT_TRUE(all.enabled);
    cmds->Action(57642)->trigger();
    EXPECT_EQ(edit.selectedText(), "abc");
    CCmdUI again(57642);
    cmds->Update(again, true);
    EXPECT_FALSE(again.enabled);
}

TEST_F(MainFrmTest, NewCommandsMakeANodeOfTheSelectedGroupAndLetTheUserNameIt)
{
    frm->show();
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
    view->setFocus();
    CCommandLayer* cmds = frm->Commands();
    // A new folder opens its group's property sheet; the user cancels it.
    int sheets = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&sheets] {
        if (auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            ++sheets;
            sheet->reject();
        }
    });
    closer.start(10);
    struct Case
    {
        uint32_t command;
        KV_DS_NODE_TYPE group;
        KV_DS_NODE_TYPE made; // the new node's type; none: nothing made
        const char* name;
    } const cases[] = {
        {57600, KV_DS_NODE_FTP, KV_DS_NODE_FTP, "ftp one"},
        {57600, KV_DS_NODE_HTTP, KV_DS_NODE_HTTP, "dav one"},
        {57600, KV_DS_NODE_SFTP, KV_DS_NODE_SFTP, "ssh one"},
        {32790, KV_DS_NODE_FTP, KV_DS_NODE_FTP, "ftp two"},
        {32791, KV_DS_NODE_HTTP, KV_DS_NODE_HTTP, "dav two"},
        {32792, KV_DS_NODE_SFTP, KV_DS_NODE_SFTP, "ssh two"},
        {32789, KV_DS_NODE_SFTP, KV_DS_NODE_GRP, "ssh folder"},
        // Of another protocol's group: not offered, nothing made.
        {32790, KV_DS_NODE_SFTP, KV_DS_NODE_NONE, ""},
        {32792, KV_DS_NODE_HTTP, KV_DS_NODE_NONE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.command) + " " + c.name);
        KV_DsTreeNode* group = pool->tree().find(c.group, true);
        ASSERT_NE(group, nullptr);
        // A sheet that was open took the focus with it.
        frm->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
        view->setFocus();
        view->setCurrentItem(ItemOf(group));
        const int before = ItemOf(group)->childCount();
        CCmdUI ui(c.command);
        cmds->Update(ui, true);
        EXPECT_EQ(ui.enabled, c.made != KV_DS_NODE_NONE);
        if (!ui.enabled) {
            EXPECT_FALSE(
                view->NewDataSource(c.group == KV_DS_NODE_SFTP ? KV_DS_NODE_FTP : KV_DS_NODE_SFTP));
            EXPECT_EQ(ItemOf(group)->childCount(), before);
            continue;
        }
        ASSERT_TRUE(cmds->Execute(c.command));
        ASSERT_EQ(ItemOf(group)->childCount(), before + 1);
        // The new node waits for its name in the label editor.
        QLineEdit* edit = nullptr;
        for (QLineEdit* e : view->findChildren<QLineEdit*>()) {
            edit = e->isVisible() ? e : edit;
        }
        ASSERT_NE(edit, nullptr);
        edit->setText(c.name);
        QTest::keyClick(edit, Qt::Key_Return);
        QCoreApplication::processEvents();
        KV_DsTreeNode* made = CDsView::NodeOf(view->currentItem());
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(made->type(), c.made);
        EXPECT_EQ(Q(made->name()), c.name);
        EXPECT_TRUE(ChildTexts(group).contains(c.name));
    }
    EXPECT_GT(sheets, 0);
    // Properties opens the group's sheet; Cancel changes nothing.
    view->setCurrentItem(ItemOf(FtpGroup()));
    CCmdUI props(32793);
    cmds->Update(props, true);
    EXPECT_TRUE(props.enabled);
    const int before = sheets;
    EXPECT_FALSE(app->EditProperties(FtpGroup(), nullptr, view));
    EXPECT_GT(sheets, before);
}

TEST_F(MainFrmTest, TheUpdateDownloadIsAskedInTheTransferDialogWithItsDestinationFixed)
{
    const std::string descriptor = dir / "kivrel.updt";
    CKivrelApp::Instance()->GetUpdateMan() = KV_AutoUpdtMan(
        KV_FileManId(KV_DsId(KV_DS_NODE_HTTP, KV_String("u"), KV_String(""), KV_String("")), 1));
    std::ofstream(descriptor, std::ios::binary)
        << "60000.0.0.0\nhttps://example.org/kivrel-setup\nWhat is new.";
    frm->download = true;
    QString source_ds;
    QString source_file;
    bool over_frame = false;
    bool dst_locked = false;
    kvtest::DialogDriver<CDlgFileTrans> answer([&](CDlgFileTrans& dlg) {
        over_frame = dlg.parentWidget() == frm;
        source_ds = dlg.Item<QComboBox>(CDlgFileTrans::IDC_SRC_DS)->currentText();
        source_file = dlg.Item<QLineEdit>(CDlgFileTrans::IDC_SRC_FILE)->text();
        dst_locked = !dlg.Item<QComboBox>(CDlgFileTrans::IDC_DST_DS)->isEnabled() &&
                     !dlg.Item<QPushButton>(CDlgFileTrans::IDC_EXTENDED)->isEnabled();
        dlg.reject();
    });
    Feed(new KV_MsgFileOp(KV_FILEOP_UPDATE_CHECK, KV_String(descriptor.c_str()), KV_String(""),
                          false));
    EXPECT_EQ(frm->updates, QStringList{"What is new."});
    ASSERT_EQ(answer.handled, 1);
    EXPECT_TRUE(over_frame);
    EXPECT_TRUE(source_ds.contains("example.org")) << source_ds.toStdString();
    EXPECT_EQ(source_file, "/kivrel-setup");
    EXPECT_TRUE(dst_locked);
    // Taken up, so not declined: the next check offers it again.
    EXPECT_TRUE(GetProfileBinary("Init", "AutoUpdtIgn").isNull());

    // A source no data source can serve asks nothing and says why.
    app->GetBridge().InstallHooks();
    QStringList errors;
    kvtest::DialogDriver<QMessageBox> error([&](QMessageBox& box) {
        errors << box.text();
        box.accept();
    });
    EXPECT_FALSE(frm->CopyUri(KV_String("nosuch://h/f"), KV_String(""), KV_FILEOP_UPDATE_APP));
    EXPECT_TRUE(kvtest::WaitFor([&] { return !errors.isEmpty(); }));
    EXPECT_EQ(errors, QStringList{"Invalid URI nosuch://h/f."});
    EXPECT_EQ(answer.handled, 1);
    CKivrelApp::Instance()->GetUpdateMan() = KV_AutoUpdtMan();
}

} // namespace
