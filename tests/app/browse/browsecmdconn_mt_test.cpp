// The browse window's connection and view commands, driven through the
// window's actions as a person's keys and menus run them: the pane toggles
// and list styles on local panes, finding the data source and setting the
// default folder, the folder menu of a caption bar, and against vsftpd the
// worker commands, the custom command and the transfer modes.
#include "browse_fixture.h"

#include "../support/kv_dlgdriver.h"
#include "browse/browserbar.h"
#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanparams.h"
#include "dialogs/dlgchdir.h"
#include "ftp/kv_filemanftp.h"
#include "menus/commands.h"
#include "menus/menufind.h"
#include "monitor/filedetailview.h"
#include "monitor/filetavo.h"
#include "monitor/tlmenu.h"
#include "props/dsprop.h"
#include "res/resources.h"
#include "support/kv_nettest.h"
#include "support/kv_vsftpd.h"
#include "views/filelistview.h"
#include "views/filetreeview.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>

namespace {

// Records the data-source tree's state notices: what the control window's
// data-source view would be asked to show.
class StatusRecorder : public KV_DsTreeNtfRecv
{
public:
    void on_node_ntf(KV_DsTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_DsTreePath&,
                     uint8_t flags) override
    {
        if (ntf == KV_TREE_NODE_STATUS) {
            shown.push_back({node, flags});
        }
    }
    std::vector<std::pair<KV_DsTreeNode*, uint8_t>> shown;
};

class BrowseConnCmds_MT : public kvtest::BrowseFixture
{
protected:
    void TearDown() override
    {
        if (pool != nullptr) {
            pool->tree().set_ntf(nullptr);
        }
        kvtest::BrowseFixture::TearDown();
    }

    // The window made, shown and active, with its left side bound.
    CBrowseSplt* Shown(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags)
    {
        CBrowseSplt* wnd = Open(left, right, flags);
        if (wnd == nullptr) {
            return nullptr;
        }
        wnd->resize(900, 600);
        wnd->show();
        wnd->activateWindow();
        if (!QTest::qWaitForWindowActive(wnd)) {
            return nullptr;
        }
        for (uint32_t side : {CBrowseSplt::kLeft, CBrowseSplt::kRight}) {
            if (!wnd->GetSideId(side)->valid()) {
                continue;
            }
            if (!Until([wnd, side] {
                    CBrowseFrm* pane = wnd->GetPane(side);
                    return pane != nullptr && pane->GetData() != nullptr &&
                           !pane->GetData()->GetPath().empty();
                })) {
                return nullptr;
            }
        }
        return wnd;
    }

    static CFileListView* List(CBrowseSplt* wnd, uint32_t side)
    {
        CBrowseFrm* pane = wnd->GetPane(side);
        return pane != nullptr ? pane->findChild<CFileListView*>() : nullptr;
    }
    static CFileTreeView* Tree(CBrowseSplt* wnd, uint32_t side)
    {
        CBrowseFrm* pane = wnd->GetPane(side);
        return pane != nullptr ? pane->findChild<CFileTreeView*>() : nullptr;
    }

    bool Focus(QWidget* w)
    {
        if (w == nullptr) {
            return false;
        }
        // A dialog that closed leaves no window active.
        if (!w->window()->isActiveWindow()) {
            w->window()->activateWindow();
            if (!QTest::qWaitForWindowActive(w->window())) {
                return false;
            }
        }
        w->setFocus(Qt::OtherFocusReason);
        return Until([w] { return w->hasFocus() || w->isAncestorOf(QApplication::focusWidget()); },
                     5000);
    }

    // Whether the window's item of the command is enabled, brought up to
    // date as the idle update does.
    static bool Enabled(CBrowseSplt* wnd, uint32_t id)
    {
        CCommandLayer* layer = CCommandLayer::Of(wnd);
        QAction* action = layer->Action(id);
        layer->UpdateActions();
        return action->isEnabled();
    }
    static bool Checked(CBrowseSplt* wnd, uint32_t id)
    {
        CCommandLayer* layer = CCommandLayer::Of(wnd);
        QAction* action = layer->Action(id);
        layer->UpdateActions();
        return action->isChecked();
    }
    // Runs the command as its key or menu item does.
    // The idle update runs first, as it does between a person's steps.
    static void Run(CBrowseSplt* wnd, uint32_t id)
    {
        CCommandLayer* layer = CCommandLayer::Of(wnd);
        QAction* action = layer->Action(id);
        layer->UpdateActions();
        action->trigger();
    }

    // The item of `id` in `popup` (one of the window's popups).
    static QAction* Item(QMenu* popup, uint32_t id)
    {
        for (QAction* a : popup->actions()) {
            if (a->objectName() == kvres::CommandName(id)) {
                return a;
            }
        }
        return nullptr;
    }
};

// ---------------------------------------------------------------------------
// local panes

TEST_F(BrowseConnCmds_MT, PaneTogglesNeverHideTheWindowsLastView)
{
    const KV_FileManId id(local, 0);
    CBrowseSplt* wnd = Shown(id, KV_FileManId(), CBrowseSplt::kList);
    ASSERT_NE(wnd, nullptr);
    const CPaneInfo list(&classCFileListView, CBrowseSplt::kLeft);
    const CPaneInfo tree(&classCFileTreeView, CBrowseSplt::kLeft);
    EXPECT_TRUE(Checked(wnd, 32814));
    EXPECT_FALSE(Enabled(wnd, 32814)) << "the only view";
    EXPECT_TRUE(Enabled(wnd, 32815)) << "a hidden view can be shown";
    Run(wnd, 32814);
    EXPECT_TRUE(wnd->GetSplitter()->IsPaneShown(list));

    Run(wnd, 32815);
    ASSERT_TRUE(wnd->GetSplitter()->IsPaneShown(tree));
    EXPECT_TRUE(Checked(wnd, 32815));
    EXPECT_TRUE(Enabled(wnd, 32814)) << "the tree is left";
    Run(wnd, 32814);
    EXPECT_FALSE(wnd->GetSplitter()->IsPaneShown(list));
    EXPECT_FALSE(Checked(wnd, 32814));
    EXPECT_FALSE(Enabled(wnd, 32815)) << "now the tree is the only view";

    // Two sides: the right side's last view may go while the left shows one;
    // the window becomes a one-pane window.
    CBrowseSplt* two = Shown(id, id, 0x0201);
    ASSERT_NE(two, nullptr);
    EXPECT_TRUE(Enabled(two, 32836));
    Run(two, 32836);
    EXPECT_FALSE(two->GetRightManId().valid());
    EXPECT_FALSE(two->IsTwoPane());
    EXPECT_FALSE(Enabled(two, 32815)) << "the left tree is all that is left";
}

TEST_F(BrowseConnCmds_MT, ListStylesFollowTheFocusedSidesList)
{
    const KV_FileManId id(local, 0);
    CBrowseSplt* wnd = Shown(id, KV_FileManId(), CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_NE(wnd, nullptr);
    CFileListView* list = List(wnd, CBrowseSplt::kLeft);
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(Focus(list));
    CNewMenu* styles = FindMenuByText(&wnd->DefaultMenu(), "&List view", nullptr, true);
    ASSERT_NE(styles, nullptr);

    struct Case
    {
        uint32_t id;
        int style;
        bool columns;
        bool arrange;
    };
    const Case cases[] = {
        {59409, CFileListView::kStyleIcons, false, true},
        {59408, CFileListView::kStyleSmallIcons, false, true},
        {59410, CFileListView::kStyleList, false, false},
        {59411, CFileListView::kStyleDetails, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        Run(wnd, c.id);
        EXPECT_EQ(list->GetStyle(), c.style);
        EXPECT_EQ(Enabled(wnd, 32779), c.columns) << "columns only in details";
        EXPECT_EQ(Enabled(wnd, 59412), c.arrange) << "arranging only among icons";
        // The popup a person opens shows the style as its radio item.
        CCommandLayer::Of(wnd)->UpdateMenu(styles->GetSafeHmenu());
        for (const Case& other : cases) {
            QAction* item = Item(styles->GetSafeHmenu(), other.id);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->isChecked(), other.id == c.id) << other.id;
        }
    }

    // The toolbar's "List View" opens the same popup, by its command and by
    // its button's arrow.
    EXPECT_TRUE(Enabled(wnd, 32813));
    Run(wnd, 32813);
    EXPECT_TRUE(Until([&] { return styles->GetSafeHmenu()->isVisible(); }, 5000));
    styles->GetSafeHmenu()->hide();
    QToolButton* button = nullptr;
    for (QToolButton* b : wnd->findChildren<QToolButton*>()) {
        if (b->defaultAction() != nullptr &&
            b->defaultAction()->objectName() == kvres::CommandName(32813)) {
            button = b;
        }
    }
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->menu(), styles->GetSafeHmenu());
    ASSERT_TRUE(Focus(list));

    // Next and previous pane move the focus between the tree and the list.
    EXPECT_TRUE(Enabled(wnd, 57680));
    Run(wnd, 57680);
    EXPECT_TRUE(Until([&] { return Tree(wnd, CBrowseSplt::kLeft)->hasFocus(); }, 5000));
    Run(wnd, 57681);
    EXPECT_TRUE(Until([&] { return list->GetItemView()->hasFocus() || list->hasFocus(); }, 5000));
    EXPECT_TRUE(Enabled(wnd, 59409));

    // A side without a list: no styles, no columns; one view: no next pane.
    CBrowseSplt* tree_only = Shown(id, KV_FileManId(), CBrowseSplt::kTree);
    ASSERT_NE(tree_only, nullptr);
    ASSERT_TRUE(Focus(Tree(tree_only, CBrowseSplt::kLeft)));
    for (uint32_t cmd : {59409u, 59408u, 59410u, 59411u, 59412u, 32779u, 32813u, 57680u}) {
        EXPECT_FALSE(Enabled(tree_only, cmd)) << cmd;
    }
}

TEST_F(BrowseConnCmds_MT, FindingTheDataSourceFollowsFocusOnlyWithDsAutosel)
{
    StatusRecorder recorder;
    pool->tree().set_ntf(&recorder);
    const KV_FileManId id(local, 0);
    CBrowseSplt* wnd = Shown(id, KV_FileManId(), CBrowseSplt::kList);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(Focus(List(wnd, CBrowseSplt::kLeft)));
    const KV_FileManId live = wnd->GetLeftManId();
    KV_DsTreeNode* instance = pool->tree().find(live);
    ASSERT_NE(instance, nullptr);
    recorder.shown.clear();

    // "DsAutosel" 0 (the default): activation and view changes leave the
    // control window alone.
    wnd->OnPaneActivated(nullptr);
    Run(wnd, 32815);
    Run(wnd, 32815);
    EXPECT_TRUE(recorder.shown.empty());

    // The command works whatever the setting, on the live instance's node.
    EXPECT_TRUE(Enabled(wnd, 32785));
    Run(wnd, 32785);
    ASSERT_EQ(recorder.shown.size(), 1u);
    EXPECT_EQ(recorder.shown[0].first, instance);
    EXPECT_EQ(recorder.shown[0].second, 2);

    // With the setting the control window follows the browse window.
    ASSERT_TRUE(WriteProfileInt("UI", "DsAutosel", 1));
    recorder.shown.clear();
    wnd->OnPaneActivated(nullptr);
    ASSERT_EQ(recorder.shown.size(), 1u);
    EXPECT_EQ(recorder.shown[0].first, instance);

    // A view taking the focus activates its pane, so the control window
    // follows a person's clicks, not only the window's own calls.
    recorder.shown.clear();
    List(wnd, CBrowseSplt::kLeft)->clearFocus();
    ASSERT_TRUE(Focus(List(wnd, CBrowseSplt::kLeft)));
    ASSERT_FALSE(recorder.shown.empty());
    EXPECT_EQ(recorder.shown.back().first, instance);
}

TEST_F(BrowseConnCmds_MT, OptionsDefaultFolderAndTheFolderMenuActOnTheFocusedPane)
{
    const KV_FileManId id(local, 0);
    CBrowseSplt* wnd = Shown(id, id, CBrowseSplt::kList | (CBrowseSplt::kList << 8));
    ASSERT_NE(wnd, nullptr);
    CFileManData* left = wnd->GetPane(CBrowseSplt::kLeft)->GetData();
    CFileManData* right = wnd->GetPane(CBrowseSplt::kRight)->GetData();
    ASSERT_TRUE(Focus(List(wnd, CBrowseSplt::kRight)));

    // The folder menu of the right pane's caption bar: its item moves that
    // pane; an id the menu does not hold does nothing.
    auto* bar = qobject_cast<CBrowserBar*>(wnd->GetPane(CBrowseSplt::kRight)->GetStatusBar());
    ASSERT_NE(bar, nullptr);
    const std::string b = dir / "work/b";
    QMenu* menu = bar->BuildFolderMenu({{QString::fromStdString(b), "b"}});
    ASSERT_EQ(menu->actions().size(), 1);
    const KV_PathDef before_left = left->GetPath();
    Run(wnd, 35001);
    menu->actions().front()->trigger();
    ASSERT_TRUE(Until([&] {
        KV_String text;
        right->GetPathText(text, right->GetPath(), true, 0);
        return std::string(text.data(), text.length()).ends_with("work/b");
    }));
    EXPECT_EQ(kvtest::Text(left->GetPath()), kvtest::Text(before_left));

    // Set as default: the right pane's folder becomes its data source's
    // default folder, completed as a directory.
    EXPECT_TRUE(Enabled(wnd, 32839));
    Run(wnd, 32839);
    KV_DsTreeNode* node = pool->tree().find(KV_FileManId(local, 0));
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->params(), nullptr);
    EXPECT_EQ(std::string(node->params()->def_path().data()), b + "/");

    // Options opens the data source's sheet over the window.
    int sheets = 0;
    kvtest::DialogDriver<CDsProp> cancel([&](CDsProp& sheet) {
        ++sheets;
        EXPECT_EQ(sheet.parentWidget(), wnd);
        sheet.reject();
    });
    EXPECT_TRUE(Enabled(wnd, 32784));
    Run(wnd, 32784);
    EXPECT_EQ(sheets, 1);
}

// ---------------------------------------------------------------------------
// vsftpd

class BrowseConnCmdsFtp_MT : public BrowseConnCmds_MT
{
protected:
    // Anonymous without a user.
    KV_DsTreeNode* AddFtp(uint16_t port, const char* user = nullptr, const char* pass = nullptr)
    {
        KV_DsTreeNodeFtp n;
        n.set_name("Mirror");
        n.set_inh_params(false);
        n.params_ftp().set_dst_addr(
            KV_String(QStringLiteral("127.0.0.1:%1").arg(port).toUtf8().constData()));
        n.params_ftp().set_anonymous(user == nullptr);
        if (user != nullptr) {
            n.params_ftp().ldata().set_user(KV_String(user));
            n.params_ftp().ldata().set_pass(KV_String(pass));
        }
        // One worker, logged in only when there is work: a disconnected
        // worker stays so until it is told otherwise.
        n.params_ftp().opts_ftp().set_ntavos(1);
        n.params_ftp().opts_ftp().set_ntavos_conn(0);
        return pool->tree().create(pool->tree().find(KV_DS_NODE_FTP, true), &n, 0, true);
    }

    static std::vector<std::string> Sent(const KV_TavoInfo* info)
    {
        std::vector<std::string> lines;
        if (info == nullptr) {
            return lines;
        }
        const KVTL::KV_ListVal<KV_SessLogInfo>& log = info->list_log();
        for (uint32_t i = 0; i < log.size(); ++i) {
            if (log.at(i).kind() == KV_SESS_LOG_SENT) {
                lines.emplace_back(log.at(i).text().data(), log.at(i).text().length());
            }
        }
        return lines;
    }
};

TEST_F(BrowseConnCmdsFtp_MT, WorkerCommandsCustomCommandAndModesReachVsftpd)
{
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    const std::string root = dir / "root";
    std::filesystem::create_directories(root + "/pub");
    const uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> server = kvtest::start_vsftpd(dir.path(), root, port, "");
    ASSERT_TRUE(server && server->wait_port(port)) << (server ? server->log() : "");
    KV_DsTreeNode* node = AddFtp(port);
    ASSERT_NE(node, nullptr);

    // FTP on the left (list and details), the local disk on the right.
    CBrowseSplt* wnd =
        Shown(KV_FileManId(node->id(), 0), KV_FileManId(local, 0),
              CBrowseSplt::kList | CBrowseSplt::kDetails | (CBrowseSplt::kList << 8));
    ASSERT_NE(wnd, nullptr);
    CFileManData* data = wnd->GetPane(CBrowseSplt::kLeft)->GetData();
    KV_TavoInfoMan* table = data->GetTavoInfoMan();
    ASSERT_NE(table, nullptr);
    unsigned int worker = 0;
    ASSERT_TRUE(Until([&] {
        KVTL::KV_HMapPtrIterator<unsigned int, KV_TavoInfo> it(table->map_info());
        for (it.first(); !it.end(); it.next()) {
            if (it.value() != nullptr && it.value()->conn == KV_TAVO_CONN_LOGGED_IN) {
                worker = it.key();
                return true;
            }
        }
        return false;
    }));

    // In the file list: no worker is named, so neither Connect nor
    // Disconnect; Disconnect all and the modes are there.
    ASSERT_TRUE(Focus(List(wnd, CBrowseSplt::kLeft)));
    EXPECT_FALSE(Enabled(wnd, 32780));
    EXPECT_FALSE(Enabled(wnd, 32782));
    EXPECT_TRUE(Enabled(wnd, 32783));
    for (uint32_t id : {32846u, 32845u, 32847u}) {
        EXPECT_TRUE(Enabled(wnd, id)) << id;
    }

    // Transfer modes: the manager's mode changes and the popup's checks
    // follow it.
    auto* ftp = dynamic_cast<KV_FileManFtp*>(data->GetFileMan());
    ASSERT_NE(ftp, nullptr);
    CNewMenu* modes = FindMenuById(&wnd->PopupCollection(), 32846);
    ASSERT_NE(modes, nullptr);
    const std::pair<uint32_t, KV_FILE_MAN_TMODE> mode_cases[] = {{32845, KV_FILE_MAN_TMODE_ASCII},
                                                                 {32847, KV_FILE_MAN_TMODE_BINARY},
                                                                 {32846, KV_FILE_MAN_TMODE_AUTO}};
    for (const auto& [id, mode] : mode_cases) {
        SCOPED_TRACE(id);
        Run(wnd, id);
        EXPECT_EQ(ftp->tmode(), mode);
        for (const auto& [other, unused] : mode_cases) {
            EXPECT_EQ(Item(modes->GetSafeHmenu(), other)->isChecked(), other == id) << other;
        }
    }
    Run(wnd, 32845);
    // A local pane has no modes; the checks keep showing the FTP pane's.
    ASSERT_TRUE(Focus(List(wnd, CBrowseSplt::kRight)));
    for (uint32_t id : {32846u, 32845u, 32847u, 32780u, 32782u, 32783u}) {
        EXPECT_FALSE(Enabled(wnd, id)) << id;
    }
    EXPECT_TRUE(Item(modes->GetSafeHmenu(), 32845)->isChecked());
    EXPECT_EQ(ftp->tmode(), KV_FILE_MAN_TMODE_ASCII);

    // Custom commands from the file list go to any worker. A blank one
    // sends nothing; the next one is sent trimmed.
    ASSERT_TRUE(Focus(List(wnd, CBrowseSplt::kLeft)));
    // The login sent a SYST of its own; requests run in order on the one
    // worker, so a blank command sent would show before the typed one.
    const auto systs = [&] {
        const std::vector<std::string> sent = Sent(table->at(worker));
        return std::count(sent.begin(), sent.end(), "SYST");
    };
    const auto before = systs();
    const char* typed[] = {" \t  ", "  SYST  "};
    int dialogs = 0;
    kvtest::DialogDriver<CDlgUsrDefCmd> type([&](CDlgUsrDefCmd& dlg) {
        dlg.findChild<QLineEdit*>(QString::number(CDlgUsrDefCmd::IDC_COMMAND))
            ->setText(typed[dialogs++]);
        dlg.accept();
    });
    Run(wnd, 32778);
    ASSERT_EQ(dialogs, 1);
    ASSERT_TRUE(Focus(List(wnd, CBrowseSplt::kLeft)));
    Run(wnd, 32778);
    ASSERT_EQ(dialogs, 2);
    ASSERT_TRUE(Until([&] { return systs() == before + 1; }));
    for (const std::string& line : Sent(table->at(worker))) {
        EXPECT_NE(line.find_first_not_of(" \t\r\n"), std::string::npos)
            << "a blank command was sent";
    }

    // The protocol page of the details shows it.
    auto* details = wnd->GetPane(CBrowseSplt::kLeft)->findChild<CFileDetailView*>();
    ASSERT_NE(details, nullptr);
    CFileTavoLog* protocol = details->ProtocolPage();
    ASSERT_NE(protocol, nullptr);
    ASSERT_NE(protocol->FindRow(worker), nullptr);
    protocol->List()->setCurrentItem(protocol->FindRow(worker));
    EXPECT_TRUE(Until([&] { return protocol->Log()->toPlainText().contains("SYST"); }, 5000));

    // In the details with the worker selected: Disconnect, then Connect.
    CFileTavoMain* overview = details->OverviewPage();
    for (int i = 0; i < details->PageCount(); ++i) {
        if (details->Page(i) == overview) {
            details->SetCurrentIndex(i);
        }
    }
    overview->List()->setCurrentItem(overview->FindRow(worker));
    ASSERT_TRUE(Focus(overview->List()));
    ASSERT_EQ(wnd->GetFocusTavoId(), worker);
    EXPECT_FALSE(Enabled(wnd, 32780));
    EXPECT_TRUE(Enabled(wnd, 32782));
    // The caption bar's lamps: red (disconnect all) is lit while a session
    // runs, green (connect) is not for a logged-in worker.
    auto* bar = qobject_cast<CBrowserBar*>(wnd->GetPane(CBrowseSplt::kLeft)->GetStatusBar());
    ASSERT_NE(bar, nullptr);
    CTlMenu& lamps = bar->ConnMenu();
    CCommandLayer::Of(wnd)->UpdateMenu(&lamps);
    EXPECT_TRUE(Item(&lamps, 32783)->isEnabled());
    EXPECT_FALSE(Item(&lamps, 32780)->isEnabled());

    Run(wnd, 32782);
    ASSERT_TRUE(Until([&] {
        const KV_TavoInfo* info = table->at(worker);
        return info != nullptr && info->conn == KV_TAVO_CONN_NONE;
    }));
    EXPECT_TRUE(Enabled(wnd, 32780));
    EXPECT_FALSE(Enabled(wnd, 32782));
    Run(wnd, 32780);
    ASSERT_TRUE(Until([&] {
        const KV_TavoInfo* info = table->at(worker);
        return info != nullptr && info->conn == KV_TAVO_CONN_LOGGED_IN;
    }));
    EXPECT_FALSE(Enabled(wnd, 32780));
    EXPECT_TRUE(Enabled(wnd, 32782));

    // The FTP folder as the data source's default, spelt as the server's
    // paths are.
    ASSERT_TRUE(Focus(List(wnd, CBrowseSplt::kLeft)));
    Run(wnd, 32839);
    ASSERT_NE(node->params(), nullptr);
    EXPECT_EQ(std::string(node->params()->def_path().data()), "/");
}

// A wrong password: the server refuses the login and drops the connection,
// and the worker may well connect again to be refused again. The caption
// bar says the login was refused, and goes on saying it rather than
// "Connected" while a new attempt is under way.
TEST_F(BrowseConnCmdsFtp_MT, AWrongPasswordShowsTheRefusalInTheCaptionBar)
{
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    const std::string root = dir / "root";
    std::filesystem::create_directories(root + "/pub");
    const uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> server =
        kvtest::start_vsftpd(dir.path(), root, port, "anonymous_enable=NO\nlocal_enable=YES\n");
    ASSERT_TRUE(server && server->wait_port(port)) << (server ? server->log() : "");
    KV_DsTreeNode* node = AddFtp(port, "kvnobody", "not-the-password");
    ASSERT_NE(node, nullptr);
    QStringList boxes;
    kvtest::DialogDriver<QMessageBox> close([&](QMessageBox& box) {
        boxes << box.text();
        box.done(QMessageBox::Ok);
    });

    CBrowseSplt* wnd = Open(KV_FileManId(node->id(), 0), KV_FileManId(local, 0),
                            CBrowseSplt::kList | (CBrowseSplt::kList << 8));
    ASSERT_NE(wnd, nullptr);
    wnd->resize(900, 600);
    wnd->show();
    auto* bar = qobject_cast<CBrowserBar*>(wnd->GetPane(CBrowseSplt::kLeft)->GetStatusBar());
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(Until([&] { return bar->StatusText().startsWith("Login refused"); }, 30000))
        << "the bar says " << bar->StatusText().toStdString() << "; the window says "
        << wnd->StatusText().toStdString() << "; boxes: " << boxes.join(" | ").toStdString();
    EXPECT_EQ(bar->State(), KV_CONN_CLR_NONE);
    // Watch it for a while: every change the bar makes is one it shows.
    QStringList shown;
    Until(
        [&] {
            if (shown.isEmpty() || shown.back() != bar->StatusText()) {
                shown << bar->StatusText();
            }
            return false;
        },
        3000);
    for (const QString& text : shown) {
        EXPECT_TRUE(text.startsWith("Login refused")) << shown.join(", ").toStdString();
    }
}

} // namespace

TEST_F(BrowseConnCmds_MT, ANarrowPaneShortensItsTitleBeforeTheCaptionBarsRightEnd)
{
    const KV_FileManId id(local, 0);
    CBrowseSplt* wnd = Shown(id, id, CBrowseSplt::kList | (CBrowseSplt::kList << 8));
    ASSERT_NE(wnd, nullptr);
    auto* bar = qobject_cast<CBrowserBar*>(wnd->GetPane(CBrowseSplt::kLeft)->GetStatusBar());
    ASSERT_NE(bar, nullptr);
    CBrowseFrm* pane = wnd->GetPane(CBrowseSplt::kLeft);
    ASSERT_TRUE(Until([pane] { return !pane->GetTitle().isEmpty(); }));
    const QString title = pane->GetTitle();

    // Wide: the whole title. Narrow: shortened, and it ends before the
    // drop-down button instead of running under it.
    for (const int width : {600, 90}) {
        bar->resize(width, bar->sizeHint().height());
        bar->grab();
        SCOPED_TRACE(width);
        EXPECT_LT(bar->ShownTitleRect().right(), bar->GetButtonRect().left());
        if (width == 600) {
            EXPECT_EQ(bar->ShownTitle(), title);
        } else {
            EXPECT_NE(bar->ShownTitle(), title);
            EXPECT_TRUE(bar->ShownTitle().isEmpty() || bar->ShownTitle().endsWith(QChar(0x2026)))
                << bar->ShownTitle().toStdString();
        }
    }
}
