// A person who has never seen the program starts it, sets it up for an FTP
// server (vsftpd on 127.0.0.1, anonymous uploads into "/pub") and copies a
// folder of 1,000 files and one 200 MiB file onto it.
//
// Two starts of the program, each with a screenshots folder of its own:
// "first-start" answers the setup wizards and ends when the control window
// lists the new server; "browse-and-copy" starts again from what the first
// start saved, opens the server from the control window beside the local
// disk, drops the folder and the file on the server's "pub" and watches
// the transfer list until the copy is Completed. The parent then compares
// both ends byte for byte.
#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/fileclip.h"
#include "dialogs/dlgappinfo.h"
#include "dialogs/dlgask.h"
#include "dialogs/dlgchdir.h"
#include "monitor/translistview.h"
#include "props/dsprop.h"
#include "requests/kv_filereqinfoman.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "setup/dspropgrpds.h"
#include "setup/wizconn.h"
#include "setup/wiznet.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/starthooks.h"
#include "startup/starttips.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_filedigest.h"
#include "support/kv_journey.h"
#include "support/kv_nettest.h"
#include "support/kv_vsftpd.h"
#include "views/filelistview.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHash>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <pwd.h>
#include <random>
#include <vector>

namespace {

const char kPhaseVar[] = "KV_JOURNEY_FIRSTCOPY";
const char kPortVar[] = "KV_JOURNEY_FIRSTCOPY_PORT";
const char kWorkVar[] = "KV_JOURNEY_FIRSTCOPY_WORK";
const QString kFirstStart = QStringLiteral("first-start");
const QString kBrowseAndCopy = QStringLiteral("browse-and-copy");
const QString kDsName = QStringLiteral("Upload server");
constexpr int kFiles = 1000;
constexpr uint64_t kBigSize = 200ull << 20;

uint16_t Port()
{
    return static_cast<uint16_t>(qEnvironmentVariable(kPortVar).toUInt());
}

// The local folder that holds "files" (the 1,000) and "big.bin".
QString Work()
{
    return qEnvironmentVariable(kWorkVar);
}

// Drawn and settled before the picture: a freshly shown window needs its
// first paint, and the steps that come from the engine a moment more.
QImage ShotOf(kvtest::JourneyShots& shots, QWidget& w, const QString& step)
{
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&w)) << step.toStdString();
    QTest::qWait(200);
    return shots.Shot(w, step);
}

QImage ShotScreen(kvtest::JourneyShots& shots, const QString& step)
{
    QTest::qWait(200);
    return shots.Shot(step);
}

template <class T = QWidget> T* Ctl(QWidget* page, int id)
{
    return page->findChild<T*>(QString::number(id));
}

QAction* InMenu(const QList<QAction*>& actions, const QString& name)
{
    for (QAction* action : actions) {
        if (action->menu() != nullptr) {
            if (QAction* found = InMenu(action->menu()->actions(), name)) {
                return found;
            }
        } else if (action->objectName() == name) {
            return action;
        }
    }
    return nullptr;
}

// The item of the window's menu bar that runs command `id`, brought up to
// date as opening its menu does, or null.
QAction* MenuCommand(QMainWindow* window, uint32_t id)
{
    for (QAction* top : window->menuBar()->actions()) {
        if (top->menu() != nullptr) {
            emit top->menu()->aboutToShow();
        }
    }
    return InMenu(window->menuBar()->actions(), kvres::CommandName(id));
}

// Pixels of `rect` that stand out from its most common colour (the row's
// background, highlighted or not): its text and pictures.
int InkPixels(const QImage& image, const QRect& rect)
{
    const QRect r = rect.intersected(image.rect());
    QHash<QRgb, int> counts;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    QRgb back = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            back = it.key();
        }
    }
    int ink = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            ink += std::abs(qGray(p) - qGray(back)) > 60 ? 1 : 0;
        }
    }
    return ink;
}

QList<CBrowseSplt*> BrowseWnds()
{
    QList<CBrowseSplt*> out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<CBrowseSplt*>(w); b != nullptr && b->isVisible()) {
            out << b;
        }
    }
    return out;
}

CFileListView* ListOf(CBrowseFrm* pane)
{
    return pane != nullptr ? pane->findChild<CFileListView*>() : nullptr;
}

QStringList Listed(CFileListView* list)
{
    QStringList names;
    const QAbstractItemModel* model = list != nullptr ? list->GetModel() : nullptr;
    for (int row = 0; model != nullptr && row < model->rowCount(); ++row) {
        names << model->index(row, 0).data().toString();
    }
    return names;
}

QModelIndex RowNamed(CFileListView* list, const QString& name)
{
    const QAbstractItemModel* model = list->GetModel();
    for (int row = 0; model != nullptr && row < model->rowCount(); ++row) {
        if (model->index(row, 0).data().toString() == name) {
            return model->index(row, 0);
        }
    }
    return {};
}

// The control window's item of the server, or null.
QTreeWidgetItem* DsItem(CMainFrm* frm)
{
    auto* view = frm->findChild<CDsView*>();
    for (QTreeWidgetItemIterator it(view); view != nullptr && *it != nullptr; ++it) {
        if ((*it)->text(0) == kDsName) {
            return *it;
        }
    }
    return nullptr;
}

// What goes wrong on the way is collected, not answered: a message box or
// an error of the start would otherwise block or pass unseen.
struct Complaints
{
    QStringList texts;
    kvtest::DialogDriver<QMessageBox> boxes{[this](QMessageBox& box) {
        texts << box.text();
        box.close();
    }};
    kvtest::DialogDriver<CDlgAsk> questions{[this](CDlgAsk& dlg) {
        texts << QStringLiteral("asked: ") + dlg.windowTitle();
        dlg.done(QDialog::Accepted);
    }};
    Complaints()
    {
        StartHooks().error = [this](const QString& text) { texts << text; };
        StartHooks().last_picture_ms = 0;
    }
    std::string Joined() const { return texts.join('|').toStdString(); }
};

// The program's notes and yes/no questions, looked at and answered yes;
// each is named by the step it comes in.
struct Notes
{
    explicit Notes(kvtest::JourneyShots& shots)
        : driver([this, &shots](CDlgAppInfo& dlg) {
              seen << step;
              ShotOf(shots, dlg, step);
              dlg.accept();
          })
    {
    }
    QString step = QStringLiteral("note");
    QStringList seen;
    kvtest::DialogDriver<CDlgAppInfo> driver;
};

// The exit command, as the menu gives it, and its question answered yes;
// the event loop runs as main runs it until the engine has stopped, then
// the exit sequence.
void QuitAsAPersonDoes(CKivrelApp& app, CMainFrm* frm, Notes& notes)
{
    notes.step = QStringLiteral("quit-question");
    QAction* exit = MenuCommand(frm, 57665);
    ASSERT_NE(exit, nullptr);
    QTimer::singleShot(0, exit, &QAction::trigger);
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(app.exec(), 0) << "the exit command did not end the event loop";
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_TRUE(notes.seen.contains(notes.step)) << notes.seen.join(',').toStdString();
}

// The start tips a start shows: looked at and closed.
void CloseStartTips(kvtest::JourneyShots& shots)
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* tips = qobject_cast<CStartTipsFrm*>(w); tips != nullptr && tips->isVisible()) {
            ShotOf(shots, *tips, QStringLiteral("start-tips"));
            tips->close();
        }
    }
}

void FirstStart()
{
    kvtest::JourneyShots shots(kFirstStart);
    const QString url = QStringLiteral("ftp://127.0.0.1:%1").arg(Port());
    CKivrelApp& app = *CKivrelApp::Instance();
    ASSERT_EQ(app.arguments().size(), 1) << "a start with a command line runs no setup";
    app.setQuitOnLastWindowClosed(false);
    Complaints complaints;
    Notes notes(shots);

    QStringList steps;
    kvtest::DialogDriver<CWizNet> net([&](CWizNet& wiz) {
        steps << "network";
        wiz.move(20, 20);
        auto* direct = Ctl<QRadioButton>(wiz.currentPage(), CWizNetMain::IDC_DIRECT);
        QTest::mouseClick(direct, Qt::LeftButton, {}, QPoint(8, direct->height() / 2));
        EXPECT_TRUE(direct->isChecked());
        ShotOf(shots, wiz, QStringLiteral("network-setup-direct"));
        QTest::mouseClick(wiz.button(QWizard::NextButton), Qt::LeftButton);
        EXPECT_EQ(wiz.currentId(), CWizNet::kPageBwt);
        ShotOf(shots, wiz, QStringLiteral("network-setup-bandwidth"));
        QTest::mouseClick(wiz.button(QWizard::FinishButton), Qt::LeftButton);
        if (wiz.isVisible()) {
            ADD_FAILURE() << "the network setup stayed open";
            wiz.reject();
        }
    });
    kvtest::DialogDriver<CWizConn> conn([&](CWizConn& wiz) {
        steps << "connection";
        wiz.move(20, 20);
        auto* addr = Ctl<QLineEdit>(wiz.Srv(), CWizConnSrv::IDC_ADDR);
        addr->setFocus();
        QTest::keyClicks(addr, url);
        EXPECT_EQ(Ctl<QLineEdit>(wiz.Srv(), CWizConnSrv::IDC_PORT)->text(),
                  QString::number(Port()));
        EXPECT_TRUE(Ctl<QRadioButton>(wiz.Srv(), CWizConnSrv::IDC_FTP)->isChecked());
        ShotOf(shots, wiz, QStringLiteral("connection-setup-server"));
        QTest::mouseClick(wiz.button(QWizard::NextButton), Qt::LeftButton);
        EXPECT_EQ(wiz.currentId(), CWizConn::kPageLogin);
        auto* anon = Ctl<QCheckBox>(wiz.Login(), CWizConnLogin::IDC_ANONYMOUS);
        QTest::mouseClick(anon, Qt::LeftButton, {}, QPoint(8, anon->height() / 2));
        EXPECT_TRUE(anon->isChecked());
        ShotOf(shots, wiz, QStringLiteral("connection-setup-anonymous"));
        QTest::mouseClick(wiz.button(QWizard::NextButton), Qt::LeftButton);
        EXPECT_EQ(wiz.currentId(), CWizConn::kPageDs);
        auto* name = Ctl<QLineEdit>(wiz.Ds(), CWizConnDs::IDC_NAME);
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, kDsName);
        ShotOf(shots, wiz, QStringLiteral("connection-setup-name"));
        QTest::mouseClick(wiz.button(QWizard::FinishButton), Qt::LeftButton);
        if (wiz.isVisible()) {
            ADD_FAILURE() << "the connection setup stayed open";
            wiz.reject();
        }
    });

    ASSERT_TRUE(app.InitInstance()) << complaints.Joined();
    EXPECT_EQ(steps, (QStringList{"network", "connection"}));
    CMainFrm* frm = app.GetMainFrm();
    ASSERT_NE(frm, nullptr);
    CloseStartTips(shots);

    // The setup opens the new server at once; it logs in and lists the
    // server's root.
    CBrowseSplt* wnd = nullptr;
    const bool listed = kvtest::WaitFor(
        [&] {
            const QList<CBrowseSplt*> wnds = BrowseWnds();
            wnd = wnds.size() == 1 ? wnds[0] : nullptr;
            const QStringList names =
                wnd != nullptr ? Listed(ListOf(wnd->GetPane(CBrowseSplt::kLeft))) : QStringList();
            return names.contains("pub") && names.contains("readme.txt");
        },
        30000);
    ASSERT_TRUE(listed) << "browse windows: " << BrowseWnds().size() << "; " << complaints.Joined();
    wnd->setGeometry(40, 40, 900, 560);
    ShotOf(shots, *wnd, QStringLiteral("server-opened"));
    // Closed, so that the next start opens it as a person does.
    wnd->close();
    ASSERT_TRUE(kvtest::WaitFor([] { return BrowseWnds().isEmpty(); }, 10000));

    // The control window lists the server, drawn where its item is.
    frm->showNormal();
    frm->raise();
    auto* view = frm->findChild<CDsView*>();
    ASSERT_NE(view, nullptr);
    QTreeWidgetItem* item = DsItem(frm);
    ASSERT_NE(item, nullptr) << "the control window does not list " << kDsName.toStdString();
    view->scrollToItem(item);
    const QImage image = ShotOf(shots, *frm, QStringLiteral("control-window-lists-server"));
    const QRect at = view->visualItemRect(item).translated(view->viewport()->mapTo(frm, QPoint()));
    EXPECT_GT(InkPixels(image, at), 40) << "the server's item is drawn";

    QuitAsAPersonDoes(app, frm, notes);
    EXPECT_TRUE(complaints.texts.isEmpty()) << complaints.Joined();
}

void BrowseAndCopy()
{
    kvtest::JourneyShots shots(kBrowseAndCopy);
    CKivrelApp& app = *CKivrelApp::Instance();
    app.setQuitOnLastWindowClosed(false);
    Complaints complaints;
    kvtest::DialogDriver<CWizNet> net([](CWizNet& wiz) { wiz.reject(); });
    kvtest::DialogDriver<CWizConn> conn([](CWizConn& wiz) { wiz.reject(); });
    Notes notes(shots);
    ASSERT_TRUE(app.InitInstance()) << complaints.Joined();
    EXPECT_EQ(net.handled + conn.handled, 0) << "a setup ran again";
    EXPECT_TRUE(BrowseWnds().isEmpty()) << "no window was open at the last quit";
    CloseStartTips(shots);
    CMainFrm* frm = app.GetMainFrm();
    ASSERT_NE(frm, nullptr);

    // Requests that completed leave the transfer list by themselves; the
    // person keeps them there to see how they ended: File, Options, "Main".
    std::function<void(CDsProp&)> sheet_answer = [&](CDsProp& sheet) {
        QTabWidget* tabs = sheet.GetTabs();
        ASSERT_EQ(tabs->tabText(tabs->currentIndex()).remove('&'), "Main");
        CDsPropPage* page = sheet.GetActivePage();
        ASSERT_NE(page, nullptr);
        auto* completed = Ctl<QCheckBox>(page, CDsPropGrpDsMain::IDC_RM_COMPLETED);
        ASSERT_NE(completed, nullptr);
        while (completed->checkState() != Qt::Unchecked) {
            QTest::mouseClick(completed, Qt::LeftButton, {}, QPoint(8, completed->height() / 2));
        }
        ShotOf(shots, sheet, QStringLiteral("options-keep-completed"));
        QTest::mouseClick(sheet.GetButtons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        if (sheet.isVisible()) {
            ADD_FAILURE() << "the options stayed open";
            sheet.reject();
        }
    };
    kvtest::DialogDriver<CDsProp> sheets([&](CDsProp& sheet) { sheet_answer(sheet); });
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
    notes.step = QStringLiteral("options-note");
    QAction* options = MenuCommand(frm, 32818);
    ASSERT_NE(options, nullptr);
    options->trigger();
    ASSERT_EQ(sheets.handled, 1) << "no options";
    ASSERT_FALSE(::testing::Test::HasFailure());

    // The server chosen in the control window's tree and opened; the
    // window made wide enough to show the transfer list's columns.
    frm->showNormal();
    frm->setGeometry(20, 20, 640, 560);
    frm->raise();
    auto* view = frm->findChild<CDsView*>();
    ASSERT_NE(view, nullptr);
    QTreeWidgetItem* item = DsItem(frm);
    ASSERT_NE(item, nullptr);
    view->scrollToItem(item);
    // No window manager gives the clicked window the focus: the test does.
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
    view->setFocus(Qt::MouseFocusReason);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(item).center());
    EXPECT_EQ(view->SelectedItem(), item);
    ShotOf(shots, *frm, QStringLiteral("control-window-server-selected"));

    // A server of a first start opens alone: its group was made before the
    // local computer. The person asks for the local computer beside it on
    // the "Layout" page of the server's properties.
    sheet_answer = [&](CDsProp& sheet) {
        QTabWidget* tabs = sheet.GetTabs();
        int layout = -1;
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->tabText(i).remove('&') == "Layout") {
                layout = i;
            }
        }
        ASSERT_GE(layout, 0) << "no Layout page";
        QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {},
                          tabs->tabBar()->tabRect(layout).center());
        CDsPropPage* page = sheet.GetActivePage();
        ASSERT_TRUE(page != nullptr && tabs->currentIndex() == layout);
        auto* with = Ctl<QComboBox>(page, 1080);
        ASSERT_NE(with, nullptr);
        if (auto* inherit = Ctl<QCheckBox>(page, CDsPropPage::IDC_INHERIT);
            !with->isEnabled() && inherit != nullptr && inherit->isChecked()) {
            QTest::mouseClick(inherit, Qt::LeftButton, {}, QPoint(8, inherit->height() / 2));
        }
        EXPECT_TRUE(with->isEnabled());
        with->setFocus();
        QTest::keyClicks(with, QStringLiteral("This"));
        EXPECT_EQ(with->currentText(), "This Computer");
        auto* list = Ctl<QCheckBox>(page, 1148);
        if (list != nullptr && !list->isChecked()) {
            QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(8, list->height() / 2));
        }
        EXPECT_TRUE(list != nullptr && list->isChecked());
        ShotOf(shots, sheet, QStringLiteral("properties-layout-this-computer"));
        QTest::mouseClick(sheet.GetButtons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        if (sheet.isVisible()) {
            ADD_FAILURE() << "the properties stayed open";
            sheet.reject();
        }
    };
    QAction* properties = MenuCommand(frm, 32793);
    ASSERT_NE(properties, nullptr);
    properties->trigger();
    ASSERT_EQ(sheets.handled, 2) << "no properties";
    // Back in the control window, the server still chosen.
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(item).center());
    ASSERT_TRUE(kvtest::WaitFor([&] { return view->hasFocus(); }, 5000));

    QAction* open = MenuCommand(frm, 32786);
    ASSERT_NE(open, nullptr);
    ASSERT_TRUE(open->isEnabled()) << "Open is not offered for the chosen server";
    open->trigger();

    // Beside the local disk: the server on the left, the disk on the right.
    CBrowseSplt* wnd = nullptr;
    ASSERT_TRUE(kvtest::WaitFor(
        [&] {
            const QList<CBrowseSplt*> wnds = BrowseWnds();
            wnd = wnds.size() == 1 ? wnds[0] : nullptr;
            return wnd != nullptr &&
                   Listed(ListOf(wnd->GetPane(CBrowseSplt::kLeft))).contains("pub");
        },
        30000))
        << "browse windows: " << BrowseWnds().size() << "; " << complaints.Joined();
    wnd->setGeometry(20, 20, 980, 560);
    CBrowseFrm* server = wnd->GetPane(CBrowseSplt::kLeft);
    CBrowseFrm* local = wnd->GetPane(CBrowseSplt::kRight);
    ASSERT_NE(local, nullptr) << "the server opens alone, not beside the local disk";
    ASSERT_EQ(server->GetData()->GetManId().type(), KV_DS_NODE_FTP);
    ASSERT_EQ(local->GetData()->GetManId().type(), KV_DS_NODE_STD);
    CFileListView* server_list = ListOf(server);
    CFileListView* local_list = ListOf(local);
    ASSERT_TRUE(server_list != nullptr && local_list != nullptr);
    ShotOf(shots, *wnd, QStringLiteral("two-panes-opened"));

    // The local pane goes to the folder with what is to be copied: a click
    // into it, "Change directory", the folder typed.
    kvtest::DialogDriver<CDlgChdir> chdir([&](CDlgChdir& dlg) {
        auto* edit = dlg.Item<QLineEdit>(CDlgChdir::IDC_FOLDER);
        edit->setFocus();
        QTest::keyClicks(edit, Work());
        ShotOf(shots, dlg, QStringLiteral("local-change-directory"));
        QTest::keyClick(edit, Qt::Key_Return);
        if (dlg.isVisible()) {
            ADD_FAILURE() << "the folder dialog stayed open";
            dlg.reject();
        }
    });
    wnd->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(wnd));
    QAbstractItemView* local_items = local_list->GetItemView();
    // The local computer lists its file systems first: "/" is entered with
    // a click and Enter, which makes a folder to change from.
    const QModelIndex slash = RowNamed(local_list, "/");
    ASSERT_TRUE(slash.isValid()) << Listed(local_list).join(',').toStdString();
    QTest::mouseClick(local_items->viewport(), Qt::LeftButton, {},
                      local_items->visualRect(slash).center());
    local_items->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(local_items, Qt::Key_Return);
    ASSERT_TRUE(kvtest::WaitFor([&] { return Listed(local_list).contains("usr"); }, 30000))
        << Listed(local_list).join(',').toStdString();
    QAction* change = MenuCommand(wnd, 32776);
    ASSERT_NE(change, nullptr);
    change->trigger();
    ASSERT_EQ(chdir.handled, 1) << "no folder dialog";
    ASSERT_TRUE(kvtest::WaitFor(
        [&] {
            const QStringList names = Listed(local_list);
            return names.contains("files") && names.contains("big.bin");
        },
        30000))
        << Listed(local_list).join(',').toStdString();

    // One drag for the folder, one for the file: a request that copies one
    // file shows its percentage in the transfer list. Each drag carries
    // what the local pane's own drag carries (its folder and the chosen
    // name); it enters the server's list and is let go on "pub".
    QAbstractItemView* server_items = server_list->GetItemView();
    const auto drag_onto_pub = [&](const QString& name, bool is_dir) {
        const QModelIndex index = RowNamed(local_list, name);
        ASSERT_TRUE(index.isValid()) << name.toStdString();
        QTest::mouseClick(local_items->viewport(), Qt::LeftButton, {},
                          local_items->visualRect(index).center());
        const QModelIndexList chosen = local_items->selectionModel()->selectedRows();
        ASSERT_TRUE(chosen.size() == 1 && chosen[0].data().toString() == name);
        ShotOf(shots, *wnd, QStringLiteral("drag-") + name);
        CFileClipData clip;
        clip.src = local->GetData()->GetManId();
        clip.dir = local->GetData()->GetPath();
        clip.names.add(KV_String(name.toUtf8().constData()));
        clip.has_dir = is_dir;
        std::unique_ptr<QMimeData> mime(
            MakeFileMimeData(clip, CKivrelApp::GetClipFormatBrDd(), true));
        const QModelIndex pub = RowNamed(server_list, "pub");
        ASSERT_TRUE(pub.isValid());
        const QPoint on_pub = server_items->visualRect(pub).center();
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(on_pub, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(server_items->viewport(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDragMoveEvent move(on_pub, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(server_items->viewport(), &move);
        EXPECT_TRUE(move.isAccepted());
        EXPECT_EQ(move.dropAction(), Qt::CopyAction) << "across data sources a drop copies";
        QDropEvent drop(on_pub, actions, mime.get(), Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(server_items->viewport(), &drop);
        ASSERT_TRUE(drop.isAccepted());
    };
    auto* translist = frm->findChild<CTransListView*>();
    ASSERT_NE(translist, nullptr);
    QStringList history;
    QElapsedTimer clock;
    qint64 last_tick = 0;
    qint64 longest_gap = 0;
    // What the list shows, each change with its time: the steps between two
    // checks of the test are seen too.
    // The quit destroys the list while the event loop still runs.
    const QPointer<CTransListView> alive(translist);
    const auto rows = [&] {
        QStringList texts;
        if (alive.isNull()) {
            return texts;
        }
        for (int i = 0; i < translist->topLevelItemCount(); ++i) {
            texts << translist->topLevelItem(i)->text(0) + " / " +
                         translist->topLevelItem(i)->text(1);
        }
        const QString now = texts.join(" | ");
        if (history.isEmpty() || !history.last().endsWith(now)) {
            history << QStringLiteral("%1 ms: %2").arg(clock.elapsed()).arg(now);
        }
        longest_gap = std::max(longest_gap, clock.elapsed() - last_tick);
        last_tick = clock.elapsed();
        return texts;
    };
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, rows);
    watch.start(10);
    notes.step = QStringLiteral("request-added-note");
    clock.start();
    drag_onto_pub(QStringLiteral("files"), true);
    ASSERT_FALSE(::testing::Test::HasFailure());
    drag_onto_pub(QStringLiteral("big.bin"), false);
    ASSERT_FALSE(::testing::Test::HasFailure());

    // The transfer list: a row for each drop; the file's counts up.
    const QRegularExpression percent(QStringLiteral("upload ([0-9]+)%"));
    QTreeWidgetItem* counting = nullptr;
    ASSERT_TRUE(kvtest::WaitFor(
        [&] {
            rows();
            for (int i = 0; i < translist->topLevelItemCount(); ++i) {
                const QRegularExpressionMatch m =
                    percent.match(translist->topLevelItem(i)->text(0));
                if (m.hasMatch() && m.captured(1).toInt() > 0 && m.captured(1).toInt() < 100) {
                    counting = translist->topLevelItem(i);
                    return true;
                }
            }
            return false;
        },
        120000))
        << history.join('\n').toStdString() << "\nlongest gap " << longest_gap << " ms\n"
        << complaints.Joined();
    EXPECT_TRUE(counting->text(0).contains("big.bin")) << counting->text(0).toStdString();
    frm->raise();
    {
        const QImage image = ShotOf(shots, *frm, QStringLiteral("transfer-list-progress"));
        const QRect at = translist->visualItemRect(counting).translated(
            translist->viewport()->mapTo(frm, QPoint()));
        EXPECT_GT(InkPixels(image, at), 40) << "the row's texts are drawn";
    }
    ShotScreen(shots, QStringLiteral("screen-while-copying"));

    // Both requests end Completed and stay listed.
    const bool ended = kvtest::WaitFor(
        [&] {
            const QStringList texts = rows();
            return texts.size() == 2 && texts[0].endsWith(" / Completed") &&
                   texts[1].endsWith(" / Completed");
        },
        240000);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    ASSERT_TRUE(ended) << "after " << seconds << " s:\n"
                       << history.join('\n').toStdString() << "\n"
                       << complaints.Joined();
    std::printf("journey: the copy took %.1f s from the first drop; the longest wait of the "
                "event loop %lld ms\n",
                seconds, static_cast<long long>(longest_gap));
    frm->raise();
    ShotOf(shots, *frm, QStringLiteral("transfer-list-completed"));

    // The server's pane shows what came: "pub" opened with a click and
    // Enter.
    wnd->raise();
    wnd->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(wnd));
    const QModelIndex pub = RowNamed(server_list, "pub");
    ASSERT_TRUE(pub.isValid());
    QTest::mouseClick(server_items->viewport(), Qt::LeftButton, {},
                      server_items->visualRect(pub).center());
    server_items->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(server_items, Qt::Key_Return);
    EXPECT_TRUE(kvtest::WaitFor(
        [&] {
            const QStringList names = Listed(server_list);
            return names.contains("files") && names.contains("big.bin");
        },
        30000))
        << Listed(server_list).join(',').toStdString();
    ShotOf(shots, *wnd, QStringLiteral("server-pub-after-copy"));

    watch.stop();
    QuitAsAPersonDoes(app, frm, notes);
    EXPECT_TRUE(complaints.texts.isEmpty()) << complaints.Joined();
}

// `size` bytes of one random MiB in which every MiB carries its own number
// in each of its words: a MiB sent twice, lost or out of place changes the
// digest, and making it costs little under the sanitizers.
void WriteBigFile(const std::string& path, uint64_t size, std::mt19937_64& rng)
{
    std::vector<uint64_t> block(1 << 17);
    for (uint64_t& w : block) {
        w = rng();
    }
    std::ofstream out(path, std::ios::binary);
    std::vector<uint64_t> mib(block.size());
    for (uint64_t done = 0, n = 0; done < size; ++n) {
        for (size_t i = 0; i < block.size(); ++i) {
            mib[i] = block[i] ^ (n * 0x9E3779B97F4A7C15ull);
        }
        const uint64_t part = std::min<uint64_t>(size - done, mib.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(mib.data()), static_cast<std::streamsize>(part));
        done += part;
    }
}

TEST(FirstCopyJourney_MT, ANewUserSetsUpAnFtpServerAndUploadsAFolderAndABigFileOntoIt)
{
    const QString phase = qEnvironmentVariable(kPhaseVar);
    if (!phase.isEmpty()) {
        kvtest::RunProgramPart(phase == kFirstStart ? &FirstStart : &BrowseAndCopy);
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
    }
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    kvtest::ProgramHome home;
    ASSERT_TRUE(home.ok());
    namespace fs = std::filesystem;

    // The server: a root vsftpd accepts, "pub" writable by anonymous.
    kvtest::TempDir srv("kvjourneyftp");
    ASSERT_TRUE(srv.ok());
    const std::string root = srv / "root";
    fs::create_directories(root + "/pub");
    ASSERT_TRUE(kvtest::write_file(root + "/readme.txt", "hello\n"));
    const passwd* pw = ::getpwnam("ftp");
    ASSERT_EQ(::chown((root + "/pub").c_str(), pw->pw_uid, pw->pw_gid), 0);
    const uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> ftpd = kvtest::start_vsftpd(srv.path(), root, port, "");
    ASSERT_TRUE(ftpd && ftpd->wait_port(port)) << (ftpd ? ftpd->log() : "");

    // What the person copies: 1,000 files of up to 16 KiB (one empty) and
    // one file of 200 MiB.
    const auto t_files = std::chrono::steady_clock::now();
    const std::string work = home / "work";
    std::mt19937_64 rng(42);
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/files/f%04d.bin", i);
        kvtest::write_random(work + name, i == 0 ? 0 : rng() % (16 * 1024), rng);
    }
    WriteBigFile(work + "/big.bin", kBigSize, rng);
    const std::chrono::duration<double> made = std::chrono::steady_clock::now() - t_files;
    std::printf("the files to copy made in %.1f s\n", made.count());

    kvtest::XServer xserver;
    const QString display = xserver.Start(QStringLiteral("1024x768x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    QProcessEnvironment env = home.Env(display, QStringLiteral("FirstCopyJourney_MT.*"));
    env.insert(kPortVar, QString::number(port));
    env.insert(kWorkVar, QString::fromStdString(work));

    kvtest::JourneyShots::Begin(kFirstStart);
    kvtest::JourneyShots::Begin(kBrowseAndCopy);
    const auto timed = [&](const QString& part, int ms) {
        const auto t0 = std::chrono::steady_clock::now();
        const QByteArray output = kvtest::RunStart(env, kPhaseVar, part, ms);
        for (const QByteArray& line : output.split('\n')) {
            if (line.startsWith("journey: ")) {
                std::printf("%s\n", line.constData());
            }
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
        std::printf("%s: %.1f s\n", part.toUtf8().constData(), took.count());
    };
    timed(kFirstStart, 120000);
    ASSERT_FALSE(HasFailure());
    const std::string saved = kvtest::read_file(home.DataDir() + "/kivrel.ds");
    EXPECT_NE(saved.find(kDsName.toStdString()), std::string::npos) << saved;

    timed(kBrowseAndCopy, 300000);
    ASSERT_FALSE(HasFailure());
    const auto t_digests = std::chrono::steady_clock::now();
    const auto sent = kvtest::digests(work + "/files");
    EXPECT_EQ(sent.size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(kvtest::digests(root + "/pub/files"), sent);
    EXPECT_EQ(kvtest::sha256(root + "/pub/big.bin"), kvtest::sha256(work + "/big.bin"));
    std::error_code ec;
    EXPECT_EQ(fs::file_size(root + "/pub/big.bin", ec), kBigSize) << ec.message();
    const std::chrono::duration<double> compared = std::chrono::steady_clock::now() - t_digests;
    std::printf("both ends compared in %.1f s\n", compared.count());
}

} // namespace
