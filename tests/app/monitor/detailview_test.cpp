// The tab view and the pages of a pane's details: the request page and the
// two worker pages, fed by real request and worker tables of the engine.
#include "monitor/filedetailview.h"

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "datasources/kv_dstreenodeds.h"
#include "monitor/filereqview.h"
#include "monitor/filetavo.h"
#include "monitor/tabview.h"
#include "monitor_fixture.h"
#include "requests/kv_reqmsg.h"
#include "requests/kv_sessinfo.h"

#include <QDialog>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

using kvtest::Snap;

class ThreePages : public CTabView
{
public:
    explicit ThreePages(QWidget* parent) : CTabView(parent)
    {
        for (const QString& title : {QString("One"), QString("Two"), QString(60, 'x')}) {
            auto* page = new QWidget;
            page->setWindowTitle(title);
            auto* layout = new QVBoxLayout(page);
            auto* edit = new QLineEdit(page);
            edit->setObjectName(title.left(3));
            layout->addWidget(edit);
            AddPage(page);
        }
        Create();
    }
};

TEST(TabView, CtrlTabWrapsTitlesAreCutAndPagesKeepTheirMargin)
{
    QDialog dlg;
    auto* view = new ThreePages(&dlg);
    view->setGeometry(0, 0, 400, 300);
    dlg.resize(400, 300);
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));

    QTabBar* tabs = view->TabBar();
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->objectName(), "1111");
    EXPECT_EQ(tabs->tabText(2), QString(49, 'x'));

    // The page 3 pixels inside the area below the tabs, also after resizing.
    for (QSize size : {QSize(400, 300), QSize(520, 240)}) {
        view->resize(size);
        const QRect first = tabs->tabRect(0).translated(tabs->pos());
        const QRect page = view->CurrentPage()->geometry();
        EXPECT_EQ(page.left(), first.left() + 3);
        EXPECT_EQ(page.top(), first.bottom() + 1 + 3);
        EXPECT_EQ(page.right(), size.width() - 1 - 3);
        EXPECT_EQ(page.bottom(), size.height() - 1 - 3);
    }

    // Keys pressed in a page: Ctrl+Tab wraps at the end, Ctrl+Shift+Tab at
    // the start; Escape and Enter do not end the dialog around the view.
    auto* edit = view->Page(0)->findChild<QLineEdit*>();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                    Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->CurrentIndex(), 2);
    EXPECT_TRUE(view->Page(2)->isVisible());
    EXPECT_FALSE(view->Page(0)->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(view->CurrentIndex(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(view->CurrentIndex(), 1);
    // The page shown takes the focus.
    EXPECT_TRUE(view->Page(1)->isAncestorOf(QApplication::focusWidget()));
}

// A worker table of the engine, fed the messages a worker sends.
class WorkerPages : public ::testing::Test
{
protected:
    void Send(KV_Msg* msg)
    {
        EXPECT_TRUE(table.process_ntf(msg));
        delete msg;
    }
    void Added(uint32_t id, const char* status)
    {
        Send(new KV_MsgTavoNtf(KV_TAVO_NTF_ADDED, id, KV_String(status), KV_String()));
    }
    void Line(uint32_t id, KV_SESS_LOG kind, const std::string& text, bool err = false)
    {
        Send(new KV_MsgSessLog(id, KV_SessLogInfo(kind, KV_String(text.c_str()), err)));
    }
    CPaneLink Link()
    {
        CPaneLink link;
        link.tavo = &table;
        return link;
    }
    static QStringList Texts(QTreeWidget* list, int column)
    {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            texts << list->topLevelItem(i)->text(column);
        }
        return texts;
    }

    KV_TavoInfoMan table;
};

TEST_F(WorkerPages, OverviewShowsAmountsSpeedsAndSortsNumbersAsText)
{
    Added(1, "Ready");
    CFileTavoMain page(Link());
    QTreeWidget* list = page.List();
    ASSERT_EQ(list->topLevelItemCount(), 1); // announced on registration
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Ready");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "0");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "");

    KV_SessInfo data;
    data.set_type(KV_SESS_TYPE_FTP_DATA);
    data.set_bytes_recv(9);
    data.set_bytes_sent(2048);
    data.set_speed_send(2048);
    Send(new KV_MsgSessNtf(1, data));
    EXPECT_EQ(list->topLevelItem(0)->text(1), "2048");
    EXPECT_FALSE(list->topLevelItem(0)->text(2).isEmpty());

    Added(2, "Ready");
    data.set_bytes_sent(10);
    data.set_bytes_recv(0);
    Send(new KV_MsgSessNtf(2, data));
    // First click: descending text; second: ascending. "10" and "2048"
    // compare as text.
    page.OnHeaderClicked(1);
    EXPECT_EQ(Texts(list, 1), (QStringList{"2048", "10"}));
    page.OnHeaderClicked(1);
    EXPECT_EQ(Texts(list, 1), (QStringList{"10", "2048"}));

    Send(new KV_MsgTavoNtf(KV_TAVO_NTF_REMOVED, 1, KV_String(), KV_String()));
    EXPECT_EQ(Texts(list, 1), QStringList{"10"});
}

TEST_F(WorkerPages, ProtocolKeepsTheLast256LinesInTheColourOfTheirKind)
{
    Added(1, "Ready");
    for (int i = 1; i <= 300; ++i) {
        Line(1, KV_SESS_LOG_RECV, "line " + std::to_string(i));
    }
    CFileTavoLog page(Link());
    page.resize(600, 200);
    page.show();
    QTextEdit* log = page.Log();
    // The first row is selected and its log loaded.
    EXPECT_EQ(page.SelectedId(), 1u);
    EXPECT_EQ(log->document()->blockCount(), 256);
    EXPECT_EQ(log->document()->firstBlock().text(), ">>> line 45");
    // New lines go on appending, never beyond the bound.
    for (int i = 301; i <= 310; ++i) {
        Line(1, KV_SESS_LOG_RECV, "line " + std::to_string(i));
    }
    EXPECT_EQ(log->document()->blockCount(), 256);
    EXPECT_EQ(log->document()->lastBlock().text(), ">>> line 310");
    // The log follows its last line.
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());

    struct Case
    {
        KV_SESS_LOG kind;
        bool err;
        const char* text;
        QColor colour;
        bool italic;
    };
    const QColor grey = page.palette().color(QPalette::Disabled, QPalette::Text);
    const QColor normal = page.palette().color(QPalette::Text);
    const Case cases[] = {
        {KV_SESS_LOG_SENT, false, "<<< USER x", grey, false},
        {KV_SESS_LOG_RECV, false, ">>> 331 ok", normal, false},
        {KV_SESS_LOG_SENT, true, "<<< PASS ***", QColor(255, 0, 0), false},
        {KV_SESS_LOG_NOTICE, false, "FIN received", QColor(0, 0, 128), true},
        {KV_SESS_LOG_NOTICE, true, "Connection lost", QColor(255, 0, 0), true},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        if (c.kind != KV_SESS_LOG_NOTICE) {
            text = text.substr(4);
        }
        Line(1, c.kind, text, c.err);
        const QTextBlock last = log->document()->lastBlock();
        EXPECT_EQ(last.text(), c.text);
        const QTextCharFormat f = last.begin().fragment().charFormat();
        EXPECT_EQ(f.foreground().color(), c.colour) << c.text;
        EXPECT_EQ(f.fontItalic(), c.italic) << c.text;
    }
}

TEST_F(WorkerPages, RemovingTheSelectedWorkerShowsTheFirstRemainingOne)
{
    Added(1, "Ready");
    Added(2, "Connecting");
    Line(1, KV_SESS_LOG_SENT, "NOOP");
    Line(2, KV_SESS_LOG_RECV, "220 hello");
    CFileTavoLog page(Link());
    page.List()->setCurrentItem(page.FindRow(2));
    EXPECT_EQ(page.Log()->toPlainText(), ">>> 220 hello");
    Send(new KV_MsgTavoNtf(KV_TAVO_NTF_REMOVED, 2, KV_String(), KV_String()));
    EXPECT_EQ(page.SelectedId(), 1u);
    EXPECT_EQ(page.Log()->toPlainText(), "<<< NOOP");
    // A line of a worker that is not selected does not reach the log.
    Added(3, "Ready");
    Line(3, KV_SESS_LOG_SENT, "QUIT");
    EXPECT_EQ(page.Log()->toPlainText(), "<<< NOOP");
}

// A request table of the engine, fed as a request manager feeds it.
TEST(RequestPage, RowsFollowTheTableAndARowMadeByAChangeIsWhole)
{
    KV_FileReqInfoMan table;
    auto send = [&](KV_REQ_NTF kind, uint32_t id, const KV_FileReqInfo& info) {
        KV_MsgReqNtf msg(kind, id);
        msg.info = info;
        return table.process_ntf(&msg);
    };
    ASSERT_TRUE(send(KV_REQ_NTF_INIT, 7, Snap(KV_REQ_STAT_QUEUED, "/x")));
    CPaneLink link;
    link.req = &table;
    CFileReqView page(link);
    QTreeWidget* list = page.List();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    QTreeWidgetItem* row = page.FindRow(7);
    EXPECT_EQ(row->text(0), "Copy");
    EXPECT_EQ(row->text(1), "Other");
    EXPECT_EQ(row->text(2), "/x");
    EXPECT_EQ(row->text(3), "0");

    // The page missed the first notice: the change fills every column.
    delete row;
    ASSERT_TRUE(send(KV_REQ_NTF_STATUS, 7, Snap(KV_REQ_STAT_RUNNING, "/x").Errors(2)));
    row = page.FindRow(7);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(0), "Copy");
    EXPECT_EQ(row->text(1), "Running");
    EXPECT_EQ(row->text(3), "2");

    page.OnReqNtf(99, KV_REQ_NTF_ENDED); // unknown: nothing
    page.OnReqNtf(7, KV_REQ_NTF_FLASH);  // not for this page
    EXPECT_EQ(list->topLevelItemCount(), 1);
    ASSERT_TRUE(send(KV_REQ_NTF_ENDED, 7, Snap()));
    EXPECT_EQ(list->topLevelItemCount(), 0);
}

TEST(DetailView, WithoutAPaneItWaitsAndInsideOneTheWorkerIdFollowsTheCurrentTab)
{
    CFileDetailView loose;
    EXPECT_FALSE(loose.IsCreated());
    EXPECT_EQ(loose.GetSelectedTavoId(), 0u);
}

} // namespace

namespace {

class DetailPane_MT : public kvtest::MonitorTest
{
protected:
    CBrowseSplt* Open(const KV_DsId& ds)
    {
        auto* wnd = new CBrowseSplt(KV_FileManId(ds, 0), KV_FileManId(), 0x0001);
        EXPECT_TRUE(wnd->CreateFrame());
        return wnd;
    }
};

TEST_F(DetailPane_MT, APaneOnTheLocalDiskShowsOnlyItsRequests)
{
    ASSERT_TRUE(pool->man_trans().start());
    started = true;
    CBrowseSplt* wnd = Open(pool->tree().find(KV_DS_NODE_STD, false)->id());
    CBrowseFrm* pane = wnd->GetPane(CBrowseSplt::kLeft);
    ASSERT_NE(pane, nullptr);
    ASSERT_NE(pane->GetData(), nullptr);
    auto* view = new CFileDetailView(pane);
    ASSERT_TRUE(view->IsCreated());
    EXPECT_EQ(view->Pane(), pane);
    ASSERT_EQ(view->TabBar()->count(), 1);
    EXPECT_EQ(view->TabBar()->tabText(0), "Requests");
    EXPECT_EQ(view->OverviewPage(), nullptr);
    EXPECT_EQ(view->GetSelectedTavoId(), 0u);
    // The page follows the pane's own request table.
    KV_FileReqInfoMan* table = pane->GetData()->GetReqInfoMan();
    ASSERT_NE(table, nullptr);
    KV_MsgReqNtf msg(KV_REQ_NTF_INIT, 42);
    msg.info = Snap(KV_REQ_STAT_QUEUED, "/tmp");
    ASSERT_TRUE(table->process_ntf(&msg));
    EXPECT_NE(view->RequestsPage()->FindRow(42), nullptr);
    // The window takes the view along, after the pane has let go of its
    // adapter: the pages leave the tables only of a manager still living.
    delete wnd;
}

TEST_F(DetailPane_MT, APaneOnAServerShowsItsWorkersAndTheirSelectedId)
{
    ASSERT_TRUE(pool->man_trans().start());
    started = true;
    KV_DsTreeNodeFtp node;
    node.set_name("closed");
    node.params_ftp().set_dst_addr("127.0.0.1:1");
    KV_DsTreeNode* ds = pool->new_ds(&node, 0);
    ASSERT_NE(ds, nullptr);
    CBrowseSplt* wnd = Open(ds->id());
    CBrowseFrm* pane = wnd->GetPane(CBrowseSplt::kLeft);
    ASSERT_NE(pane, nullptr);
    auto* view = new CFileDetailView(pane);
    ASSERT_EQ(view->TabBar()->count(), 3);
    EXPECT_EQ(view->TabBar()->tabText(0), "Overview");
    EXPECT_EQ(view->TabBar()->tabText(1), "Protocol");
    EXPECT_EQ(view->TabBar()->tabText(2), "Requests");

    KV_TavoInfoMan* table = pane->GetData()->GetTavoInfoMan();
    ASSERT_NE(table, nullptr);
    KV_MsgTavoNtf added(KV_TAVO_NTF_ADDED, 999, KV_String("Ready"), KV_String());
    ASSERT_TRUE(table->process_ntf(&added));
    // Overview current, nothing selected there.
    view->OverviewPage()->List()->clearSelection();
    EXPECT_EQ(view->GetSelectedTavoId(), 0u);
    view->OverviewPage()->List()->setCurrentItem(view->OverviewPage()->FindRow(999));
    EXPECT_EQ(view->GetSelectedTavoId(), 999u);
    view->SetCurrentIndex(2);
    EXPECT_EQ(view->GetSelectedTavoId(), 0u);
    view->SetCurrentIndex(1);
    EXPECT_NE(view->GetSelectedTavoId(), 0u); // the log page always selects a worker
    EXPECT_EQ(view->GetSelectedTavoId(), view->ProtocolPage()->SelectedId());
    delete wnd;
}

} // namespace
