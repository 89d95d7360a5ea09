// The transfer list of the control window: rows follow the request notices
// (fed as the engine sends them, or from the real transfer manager), the
// result overlay blinks with the window, commands enable by status, and the
// rows sort.
#include "monitor/translistview.h"

#include "datasources/kv_filereqtransparams.h"
#include "dialogs/dlgappinfo.h"
#include "dialogs/dlgask.h"
#include "foundation/kv_path.h"
#include "menus/commands.h"
#include "monitor/tlmenu.h"
#include "monitor_fixture.h"
#include "requests/kv_fileman.h"

#include "res/resources.h"

#include <QAction>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QToolTip>

namespace {

using kvtest::Snap;

class TransList : public kvtest::MonitorTest
{
protected:
    void Show()
    {
        frm->show();
        frm->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
        // Room for more rows than the pane's own height holds.
        if (auto* split = qobject_cast<QSplitter*>(list->parentWidget())) {
            split->setSizes({100, 200});
        }
        list->setFocus();
    }
    bool Enabled(uint32_t id)
    {
        CCmdUI ui(id);
        frm->Commands()->Update(ui, true);
        return ui.enabled;
    }
    void Select(unsigned id) { list->setCurrentItem(list->FindRow(id)); }
};

TEST_F(TransList, NoticeKindsAddChangeAndRemoveRows)
{
    // An id without snapshot changes nothing.
    list->OnReqNtf(99, KV_REQ_NTF_STATUS);
    list->OnReqNtf(99, KV_REQ_NTF_INIT);
    EXPECT_EQ(list->topLevelItemCount(), 0);

    // Added: a row at the end, selected, all four columns filled.
    Feed(KV_REQ_NTF_INIT, 1, Snap().Prog(100).Errors(2).Start(1700000000));
    ASSERT_EQ(list->topLevelItemCount(), 1);
    QTreeWidgetItem* row = list->FindRow(1);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->isSelected());
    EXPECT_EQ(row->text(0), "Copy ( download 100% ) : /a -> /b");
    EXPECT_EQ(row->text(1), "Running");
    EXPECT_EQ(row->text(2), "2");
    EXPECT_FALSE(row->text(3).isEmpty());
    EXPECT_EQ(row->data(0, CTransListView::IconRole).toUInt(), 18u);
    EXPECT_EQ(row->toolTip(2), "Copy (Running, download: 100%)\r\n/a -> /b");

    // A change shows the new progress: 101 is an upload at 0 percent.
    Feed(KV_REQ_NTF_STATUS, 1, Snap().Prog(101).Errors(3).Light(KV_REQ_TL_RUNNING));
    EXPECT_EQ(row->text(0), "Copy ( upload 0% ) : /a -> /b");
    EXPECT_EQ(row->text(2), "3");
    EXPECT_EQ(row->data(0, CTransListView::LightRole).toUInt(), uint32_t(KV_REQ_TL_RUNNING));

    // A change for a request without a row inserts the row, whole.
    delete list->FindRow(1);
    Feed(KV_REQ_NTF_STATUS, 1, Snap().Prog(150).Errors(4));
    row = list->FindRow(1);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(0), "Copy ( upload 49% ) : /a -> /b");
    EXPECT_EQ(row->text(2), "4");
    EXPECT_FALSE(row->text(3).isEmpty()); // the start time of the first snapshot

    // Removing: the selected last row leaves no selection; a selected middle
    // row passes the selection to the row that moves up.
    Feed(KV_REQ_NTF_INIT, 2, Snap());
    Feed(KV_REQ_NTF_INIT, 3, Snap());
    Feed(KV_REQ_NTF_INIT, 4, Snap());
    EXPECT_EQ(Ids(), (std::vector<unsigned>{1, 2, 3, 4}));
    EXPECT_EQ(list->SelectedId(), 4u); // the newest row takes the selection
    Feed(KV_REQ_NTF_ENDED, 4, Snap());
    EXPECT_EQ(list->SelectedId(), 0u);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    Select(2);
    Feed(KV_REQ_NTF_ENDED, 2, Snap());
    EXPECT_EQ(Ids(), (std::vector<unsigned>{1, 3}));
    EXPECT_EQ(list->SelectedId(), 3u);
    EXPECT_EQ(CTransListView::IdOf(list->currentItem()), 3u);
    // An unselected row goes without moving the selection.
    Feed(KV_REQ_NTF_ENDED, 1, Snap());
    EXPECT_EQ(list->SelectedId(), 3u);
}

// A transfer reports every percent: the row takes the first progress at
// once and then the newest a few times a second instead of being filled
// (and laid out) per notice, while a change of status, errors or light
// shows at once.
TEST_F(TransList, ProgressReachesTheRowAFewTimesASecondAndAChangeOfStateAtOnce)
{
    Feed(KV_REQ_NTF_INIT, 1, Snap().Prog(0));
    Feed(KV_REQ_NTF_INIT, 2, Snap().Prog(0));
    QTreeWidgetItem* row = list->FindRow(1);
    ASSERT_NE(row, nullptr);
    const QString first = row->text(0);
    for (int p = 1; p <= 100; ++p) {
        Feed(KV_REQ_NTF_STATUS, 1, Snap().Prog(p));
    }
    EXPECT_EQ(row->text(0), "Copy ( download 1% ) : /a -> /b")
        << "the first shows at once, the rest waits rather than fill the row per notice";
    const QString done = "Copy ( download 100% ) : /a -> /b";
    EXPECT_TRUE(kvtest::WaitFor([&] { return row->text(0) == done; }));
    EXPECT_TRUE(row->toolTip(0).contains("100%")) << row->toolTip(0).toStdString();
    EXPECT_EQ(list->FindRow(2)->text(0), first) << "a row without news stays";

    // Each case starts from the state the case before it left.
    struct Case
    {
        const char* what;
        Snap before; // the same state as shown, progress 39 then 40
        Snap change;
        int column;
        QString shown;
    };
    const Snap paused = Snap(KV_REQ_STAT_PAUSED).Errors(1);
    const Case cases[] = {
        {"errors", Snap().Prog(40), Snap().Prog(50).Errors(1), 2, "1"},
        {"status", Snap().Prog(40).Errors(1), Snap(paused).Prog(50), 1, "Other"},
        {"light", Snap(paused).Prog(40), Snap(paused).Prog(50).Light(KV_REQ_TL_WAITING), 0,
         "Copy ( download 50% ) : /a -> /b"},
    };
    for (const Case& c : cases) {
        // Whether or not a period runs, the second of two waits.
        Feed(KV_REQ_NTF_STATUS, 1, Snap(c.before).Prog(39));
        Feed(KV_REQ_NTF_STATUS, 1, c.before);
        EXPECT_FALSE(row->text(0).contains("40%")) << c.what << ": the progress alone waits";
        Feed(KV_REQ_NTF_STATUS, 1, c.change);
        EXPECT_EQ(row->text(c.column), c.shown) << c.what;
        EXPECT_EQ(row->text(0), "Copy ( download 50% ) : /a -> /b")
            << c.what << ": the newest progress comes with it";
    }
    EXPECT_EQ(row->data(0, CTransListView::LightRole).toUInt(), uint32_t(KV_REQ_TL_WAITING));

    // A row that ends while its progress waits goes at once, and the refresh
    // brings nothing back.
    Feed(KV_REQ_NTF_STATUS, 2, Snap().Prog(70));
    Feed(KV_REQ_NTF_ENDED, 2, Snap());
    EXPECT_EQ(Ids(), std::vector<unsigned>{1});
    QTest::qWait(2 * CTransListView::kRefreshMs);
    EXPECT_EQ(Ids(), std::vector<unsigned>{1});
}

TEST_F(TransList, ShownAfterItWasMadeThePaneHasItsHeightAndTipsWakeAfterHalfASecond)
{
    Feed(KV_REQ_NTF_INIT, 1, Snap().Prog(40));
    frm->show();
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm));
    // The window was made (and the pane shown in it) before it had a size:
    // the pane still gets its 109 pixels.
    auto* split = qobject_cast<QSplitter*>(list->parentWidget());
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(split->sizes().at(1) + split->handleWidth(), 109);
    EXPECT_GT(list->viewport()->height(), 40);

    // The application asks the viewport's style when to wake a tip.
    EXPECT_EQ(list->viewport()->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr,
                                                   list->viewport()),
              500);
    EXPECT_NE(list->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, list), 500)
        << "only the list's tips change";
    // Resting on the row brings up its tip (moves as the window system
    // sends them).
    const QRect row = list->visualItemRect(list->FindRow(1));
    const QPoint at = list->viewport()->mapTo(frm, QPoint(row.left() + 40, row.center().y()));
    QTest::mouseMove(frm->windowHandle(), at - QPoint(5, 0));
    QTest::mouseMove(frm->windowHandle(), at);
    ASSERT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 5000));
    EXPECT_EQ(QToolTip::text(), list->FindRow(1)->toolTip(0));
    EXPECT_TRUE(QToolTip::text().contains("40%")) << QToolTip::text().toStdString();
    QToolTip::hideText();
}

TEST_F(TransList, WithTheInfoWindowOpenNewRowsDoNotTakeTheSelection)
{
    Feed(KV_REQ_NTF_INIT, 1, Snap());
    EXPECT_EQ(list->SelectedId(), 1u);
    CDlgReqInfoLog::ShowRequest(1);
    ASSERT_NE(CDlgReqInfoLog::Instance(), nullptr);
    Feed(KV_REQ_NTF_INIT, 2, Snap());
    EXPECT_EQ(list->SelectedId(), 1u);
    EXPECT_NE(CDlgReqInfoLog::Instance(), nullptr);
    // Selecting another request closes the window; deleting the shown one too.
    Select(2);
    EXPECT_EQ(CDlgReqInfoLog::Instance(), nullptr);
    CDlgReqInfoLog::ShowRequest(2);
    Feed(KV_REQ_NTF_ENDED, 2, Snap());
    EXPECT_EQ(CDlgReqInfoLog::Instance(), nullptr);
}

TEST_F(TransList, AddedRequestsShowTheHintUnlessTheRequestAsksNot)
{
    WriteProfileInt("UI", "InfoReqAdd", 1);
    Show();
    int hints = 0;
    kvtest::DialogDriver<CDlgAppInfo> driver([&](CDlgAppInfo& dlg) {
        ++hints;
        dlg.reject();
    });
    Feed(KV_REQ_NTF_INIT, 1, Snap());
    EXPECT_EQ(hints, 1);
    Feed(KV_REQ_NTF_STATUS, 1, Snap().Errors(1));
    Feed(KV_REQ_NTF_INIT, 2, Snap().Add(KV_REQ_ADD_NONE, 1));
    EXPECT_EQ(hints, 1);
    WriteProfileInt("UI", "InfoReqAdd", 0);
    Feed(KV_REQ_NTF_INIT, 3, Snap());
    EXPECT_EQ(hints, 1);
}

TEST_F(TransList, OverlaysBlinkOnlyInTheBlinkPhaseAndStaySteadyOnceSeen)
{
    frm->AddTrayIcon(); // start-up ends: the window blinks from now on
    Feed(KV_REQ_NTF_INIT, 1, Snap());
    Feed(KV_REQ_NTF_INIT, 2, Snap());
    Feed(KV_REQ_NTF_STATUS, 1, Snap(KV_REQ_STAT_COMPLETED).Add(KV_REQ_ADD_COMPLETED));
    Feed(KV_REQ_NTF_STATUS, 2, Snap(KV_REQ_STAT_ERROR).Add(KV_REQ_ADD_ERRORS).Errors(3));
    auto overlay = [&](unsigned id) {
        return list->FindRow(id)->data(0, CTransListView::OverlayRole).toInt();
    };
    std::vector<std::pair<int, int>> seen;
    for (int i = 0; i < 4; ++i) {
        frm->Flash(false);
        EXPECT_EQ(frm->IsBlinkLit(), i % 2 == 0);
        seen.emplace_back(overlay(1), overlay(2));
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 3}, {0, 0}, {1, 3}, {0, 0}}));
    // Acknowledged in the dark phase: the completed mark stays, "errors"
    // does not.
    Select(1);
    list->AcknowledgeSelected();
    EXPECT_EQ(overlay(1), 1);
    Select(2);
    list->AcknowledgeSelected();
    EXPECT_EQ(overlay(2), 0);
    frm->StopFlash();
}

TEST_F(TransList, CommandsEnableByTheSelectedAndTheListedRequests)
{
    Show();
    // Nothing listed: nothing to act on.
    for (uint32_t id : {32823u, 32827u, 32831u, 32829u, 32824u, 32828u, 32832u, 32826u}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    Feed(KV_REQ_NTF_INIT, 1, Snap(KV_REQ_STAT_RUNNING));
    Feed(KV_REQ_NTF_INIT, 2, Snap(KV_REQ_STAT_COMPLETED));
    Select(1);
    EXPECT_TRUE(Enabled(32823));  // cancel
    EXPECT_TRUE(Enabled(32831));  // pause
    EXPECT_FALSE(Enabled(32825)); // continue
    EXPECT_FALSE(Enabled(32827)); // delete
    EXPECT_TRUE(Enabled(32829));  // view info
    Select(2);
    EXPECT_FALSE(Enabled(32823));
    EXPECT_TRUE(Enabled(32827));
    EXPECT_TRUE(Enabled(32833));
    EXPECT_TRUE(Enabled(32842)); // the green lamp restarts
    // The all-request commands of the window follow every listed request.
    EXPECT_TRUE(Enabled(32824));  // some not processed
    EXPECT_TRUE(Enabled(32828));  // some processed
    EXPECT_TRUE(Enabled(32832));  // some running
    EXPECT_FALSE(Enabled(32826)); // none paused
    Feed(KV_REQ_NTF_STATUS, 1, Snap(KV_REQ_STAT_PAUSED));
    EXPECT_TRUE(Enabled(32826));
    EXPECT_FALSE(Enabled(32832));

    // The red lamp asks first; only "yes" goes on.
    Select(1);
    QStringList asked;
    kvtest::DialogDriver<CDlgAsk> driver([&](CDlgAsk& dlg) {
        asked << dlg.Text();
        dlg.Item<QPushButton>(CDlgAsk::IDC_NO)->click();
    });
    EXPECT_TRUE(CCommandLayer::Execute(frm, 32843));
    EXPECT_EQ(asked, QStringList{"Are you sure you want to cancel the selected request ?"});
}

TEST_F(TransList, SortingTwiceReturnsToTheFirstOrder)
{
    Feed(KV_REQ_NTF_INIT, 1, Snap(KV_REQ_STAT_RUNNING, "b").Start(1700000300));
    Feed(KV_REQ_NTF_INIT, 2, Snap(KV_REQ_STAT_RUNNING, "C").Start(1700000100));
    Feed(KV_REQ_NTF_INIT, 3, Snap(KV_REQ_STAT_RUNNING, "a").Start(1700000200));
    Select(3);
    list->SortByStartTime();
    const std::vector<unsigned> oldest_first{2, 3, 1};
    EXPECT_EQ(Ids(), oldest_first);
    list->OnHeaderClicked(3);
    EXPECT_EQ(Ids(), (std::vector<unsigned>{1, 3, 2}));
    list->OnHeaderClicked(3);
    EXPECT_EQ(Ids(), oldest_first);
    EXPECT_EQ(list->SelectedId(), 3u); // the selection moves with its row
    // A text column sorts descending first, case aside.
    list->OnHeaderClicked(0);
    EXPECT_EQ(Column(0), (QStringList{"Copy: C", "Copy: b", "Copy: a"}));
    list->OnHeaderClicked(0);
    EXPECT_EQ(Column(0), (QStringList{"Copy: a", "Copy: b", "Copy: C"}));
}

TEST_F(TransList, EnterOpensTheInfoWindowAndAClickOnTheLightOpensTheLamps)
{
    Show();
    Feed(KV_REQ_NTF_INIT, 1, Snap(KV_REQ_STAT_RUNNING).Light(KV_REQ_TL_RUNNING));
    Feed(KV_REQ_NTF_INIT, 2, Snap(KV_REQ_STAT_COMPLETED));
    // Enter is the list's own key, although the window's menus give it to
    // more than one command.
    ASSERT_EQ(list->SelectedId(), 2u);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_NE(CDlgReqInfoLog::Instance(), nullptr);
    EXPECT_EQ(CDlgReqInfoLog::Instance()->RequestId(), 2u);
    CDlgReqInfoLog::CloseIf(2, true);
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm));

    // A click on the text only selects.
    const QRect text = list->visualItemRect(list->FindRow(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(text.left() + 60, text.center().y()));
    CTlMenu* lamps = list->TrafficLightMenu();
    EXPECT_FALSE(lamps->isVisible());
    EXPECT_EQ(list->SelectedId(), 1u);
    // A click on the light (a while later: no double click) opens the lamps.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    const QRect row = list->visualItemRect(list->FindRow(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() + 6, row.center().y()));
    ASSERT_TRUE(kvtest::WaitFor([&] { return lamps->isVisible(); }, 2000));
    EXPECT_EQ(list->SelectedId(), 2u);
    // Completed: only the green lamp (restart) is lit.
    ASSERT_EQ(lamps->actions().size(), 3);
    EXPECT_FALSE(lamps->actions()[0]->isEnabled());
    EXPECT_FALSE(lamps->actions()[1]->isEnabled());
    EXPECT_TRUE(lamps->actions()[2]->isEnabled());
    QTest::keyClick(lamps, Qt::Key_Escape);
}

TEST(TlMenu, LampsAreDrawnInTheirColoursWithAFrameForTheSelectedOne)
{
    CTlMenu menu;
    QWidget owner;
    ASSERT_TRUE(menu.Create(&owner, 32843, 0, 32842));
    EXPECT_FALSE(menu.Create(&owner, 1, 2, 3));
    ASSERT_EQ(menu.actions().size(), 2);
    EXPECT_EQ(menu.actions()[0]->data().toUInt(), 32843u);
    EXPECT_EQ(menu.actions()[1]->objectName(), kvres::CommandName(32842));
    EXPECT_EQ(menu.LampColour(32843, true), QColor(255, 0, 0));
    EXPECT_EQ(menu.LampColour(32842, true), QColor(0, 255, 0));
    EXPECT_EQ(menu.LampColour(32843, false), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(menu.LampColour(4711, true), QColor(0, 0, 0));

    for (bool selected : {false, true}) {
        QImage image(8, 15, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter p(&image);
        CTlMenu::DrawLamp(p, QRect(0, 0, 8, 15), QColor(255, 255, 0), selected);
        p.end();
        EXPECT_EQ(image.pixelColor(4, 11), QColor(255, 255, 0));     // the lamp
        EXPECT_EQ(image.pixelColor(1, 7), QColor(0x80, 0x80, 0x80)); // the ground beside it
        EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::white));        // the highlight
        EXPECT_EQ(image.pixelColor(0, 0), selected ? QColor(Qt::white) : QColor(0x80, 0x80, 0x80));
    }
}

class TransList_MT : public TransList
{
};

TEST_F(TransList_MT, ACopyOfTheRealTransferManagerComesAndGoes)
{
    ASSERT_TRUE(pool->load_req());
    ASSERT_TRUE(pool->man_trans().start());
    started = true;
    const KV_DsId ds = pool->tree().find(KV_DS_NODE_STD, false)->id();
    KV_FileMan* local = pool->reg(KV_FileManId(ds, 0));
    ASSERT_NE(local, nullptr);
    local->lock(false);
    const std::string work = dir / "work";
    ASSERT_TRUE(KV_File::mkdir((work + "/src").c_str()));
    ASSERT_TRUE(KV_File::mkdir((work + "/dst").c_str()));
    ASSERT_TRUE(kvtest::write_file(work + "/src/a.txt", "alpha\n"));
    ASSERT_TRUE(kvtest::write_file(work + "/src/b.bin", std::string(70000, '\x5a')));
    auto path = [&](const std::string& text) {
        KV_PathDef p;
        EXPECT_TRUE(local->man_path().split_path(KV_String(text.c_str()), p, true));
        EXPECT_TRUE(p.prepend(local->man_path().dir_pre()));
        return p;
    };
    KVTL::KV_ListVal<KV_String> names;
    names.add("a.txt");
    names.add("b.bin");
    ASSERT_TRUE(pool->copy(local->id(), KV_FileManId(ds, 0), path(work + "/src"),
                           path(work + "/dst"), names, KV_FileReqTransParamsCp(), false, false,
                           false));
    // The control window drains the informer from its event loop.
    ASSERT_TRUE(kvtest::WaitFor([&] { return list->topLevelItemCount() == 1; }));
    const unsigned id = CTransListView::IdOf(list->topLevelItem(0));
    ASSERT_TRUE(kvtest::WaitFor([&] {
        const KV_FileReqInfo* info = pool->man_trans().man_info().at(id);
        return info != nullptr && info->status() == KV_REQ_STAT_COMPLETED;
    }));
    EXPECT_EQ(kvtest::read_file(work + "/dst/a.txt"), "alpha\n");
    EXPECT_EQ(kvtest::read_file(work + "/dst/b.bin"), std::string(70000, '\x5a'));
    QTreeWidgetItem* row = list->FindRow(id);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(1).toStdString(), pool->man_trans().man_info().at(id)->status_str());
    EXPECT_TRUE(row->text(0).startsWith(
        QString::fromUtf8(pool->man_trans().man_info().at(id)->operation())));

    // Delete through the command, as the Delete key does: the request ends
    // and its row goes.
    Show();
    list->setCurrentItem(row);
    EXPECT_TRUE(CCommandLayer::Execute(frm, 32827));
    EXPECT_TRUE(kvtest::WaitFor([&] { return list->topLevelItemCount() == 0; }));
    local->unlock(false);
}

} // namespace

TEST_F(TransList, EveryStatusAndAFullStartTimeFitTheirColumns)
{
    const QFontMetrics metrics(list->font());
    for (uint32_t stat = KV_REQ_STAT_QUEUED; stat <= KV_REQ_STAT_CANCELLED; ++stat) {
        const QString text = QString::fromUtf8(
            KV_FileReq::status_str(static_cast<KV_REQ_STAT>(stat), nullptr, nullptr));
        EXPECT_LT(metrics.horizontalAdvance(text), list->columnWidth(1)) << text.toStdString();
    }
    // The longest day and month names of the C locale's full form.
    EXPECT_LT(metrics.horizontalAdvance("Wed Sep 30 23:59:59 2026"), list->columnWidth(3));
}
