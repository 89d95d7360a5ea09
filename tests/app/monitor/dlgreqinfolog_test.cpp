// The request information window: one window, filled by request-log
// notices bit by bit, following new log rows only at the bottom.
#include "monitor/dlgreqinfolog.h"

#include "monitor_fixture.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_reqmsg.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>

namespace {

using kvtest::Snap;

class ReqInfoLog : public kvtest::MonitorTest
{
protected:
    // A notice with `chg` bits and lines seq first..last of kind `kind`.
    KV_MsgReqLog* Notice(uint32_t id, uint32_t chg, uint32_t first = 0, uint32_t last = 0,
                         KV_FILE_REQ_LOG_ELEM kind = KV_FILE_REQ_LOG_ELEM_FILEOP, int code = 1)
    {
        auto* msg = new KV_MsgReqLog(id);
        msg->log.chg = chg;
        Snap info(KV_REQ_STAT_RUNNING, "Copy 2 files\r\n/a -> /b");
        info.set_last_err(KV_String("550 denied"));
        info.Start(1700000000);
        msg->log.info = info;
        for (uint32_t seq = first; seq != 0 && seq <= last; ++seq) {
            const std::string file = "f" + std::to_string(seq);
            EXPECT_TRUE(msg->log.insert(new KV_FileReqLogElem(kind, seq, KV_Time(1700000000),
                                                              KV_String(file.c_str()), code,
                                                              KV_String("Completed"))));
        }
        return msg;
    }
    CDlgReqInfoLog* Dlg() { return CDlgReqInfoLog::Instance(); }
    QString Field(int id) { return Dlg()->Item<QTextEdit>(id)->toPlainText(); }
};

TEST_F(ReqInfoLog, OneWindowServesEveryRequestAndClosesForAnotherOne)
{
    CDlgReqInfoLog::ShowRequest(1);
    CDlgReqInfoLog* first = Dlg();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), "Request info");
    EXPECT_EQ(first->RequestId(), 1u);
    Feed(Notice(1, CDlgReqInfoLog::kFillElems, 1, 3));
    EXPECT_EQ(first->LogList()->topLevelItemCount(), 3);

    CDlgReqInfoLog::ShowRequest(2);
    EXPECT_EQ(Dlg(), first);
    EXPECT_EQ(first->RequestId(), 2u);
    EXPECT_EQ(first->LogList()->topLevelItemCount(), 0); // cleared for the new request
    // A notice still on its way for the first request stays out.
    Feed(Notice(1, CDlgReqInfoLog::kFillElems, 1, 3));
    EXPECT_EQ(first->LogList()->topLevelItemCount(), 0);

    CDlgReqInfoLog::CloseIf(2, false); // shows 2: stays
    EXPECT_EQ(Dlg(), first);
    CDlgReqInfoLog::CloseIf(5, true); // does not show 5: stays
    EXPECT_EQ(Dlg(), first);
    CDlgReqInfoLog::CloseIf(5, false);
    EXPECT_EQ(Dlg(), nullptr);
}

TEST_F(ReqInfoLog, EachBitFillsItsPart)
{
    CDlgReqInfoLog::ShowRequest(4);
    ASSERT_NE(Dlg(), nullptr);
    EXPECT_GE(Dlg()->width(), Dlg()->MinimumTrackSize().width());
    EXPECT_EQ(Dlg()->minimumSize(), Dlg()->MinimumTrackSize());
    // Lines alone: header, status and last error untouched.
    Feed(Notice(4, CDlgReqInfoLog::kFillElems, 1, 2));
    EXPECT_EQ(Field(1144), "");
    EXPECT_EQ(Field(1142), "");
    EXPECT_EQ(Field(1052), "");
    ASSERT_EQ(Dlg()->LogList()->topLevelItemCount(), 2);

    Feed(Notice(4, CDlgReqInfoLog::kFillStatus));
    EXPECT_EQ(Field(1142), "Running");
    EXPECT_EQ(Field(1144), "");
    Feed(Notice(4, CDlgReqInfoLog::kFillHeader | CDlgReqInfoLog::kFillLastErr));
    EXPECT_EQ(Field(1144), "Copy");
    EXPECT_FALSE(Field(1143).isEmpty());
    EXPECT_EQ(Field(1052), "550 denied");
    // The description: the first line bold green, the rest blue.
    QTextEdit* descr = Dlg()->Item<QTextEdit>(1040);
    const QTextBlock head = descr->document()->firstBlock();
    EXPECT_EQ(head.text(), "Copy 2 files/a -> /b");
    const QTextCharFormat green = head.begin().fragment().charFormat();
    EXPECT_EQ(green.foreground().color(), QColor(55, 157, 31));
    EXPECT_EQ(green.fontWeight(), QFont::Bold);
    QTextBlock::iterator rest = head.begin();
    ++rest;
    EXPECT_EQ(rest.fragment().text(), "/a -> /b");
    EXPECT_EQ(rest.fragment().charFormat().foreground().color(), QColor(0, 0, 0xA0));
    QTextEdit* err = Dlg()->Item<QTextEdit>(1052);
    EXPECT_EQ(err->document()->firstBlock().begin().fragment().charFormat().foreground().color(),
              QColor(255, 0, 0));

    // Restart: the list starts again.
    Feed(Notice(4, CDlgReqInfoLog::kFillRestart | CDlgReqInfoLog::kFillElems, 1, 1));
    EXPECT_EQ(Dlg()->LogList()->topLevelItemCount(), 1);
}

TEST_F(ReqInfoLog, LinesShowTheirKindInColourAndAFarRowIsSkipped)
{
    CDlgReqInfoLog::ShowRequest(3);
    Feed(Notice(3, CDlgReqInfoLog::kFillElems, 1, 1, KV_FILE_REQ_LOG_ELEM_MSG, 2));
    Feed(Notice(3, CDlgReqInfoLog::kFillElems, 2, 2, KV_FILE_REQ_LOG_ELEM_FILEOP_CP, 2));
    QTreeWidget* list = Dlg()->LogList();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    QTreeWidgetItem* error = list->topLevelItem(0);
    EXPECT_EQ(error->text(1), "Error");
    EXPECT_EQ(error->text(2), "Completed");
    EXPECT_EQ(error->text(3), "f1");
    EXPECT_EQ(error->foreground(2).color(), QColor(255, 0, 0));
    EXPECT_EQ(error->foreground(3).color(), QColor(255, 0, 0));
    EXPECT_EQ(error->foreground(0).color(), QColor(0, 0, 0));
    QTreeWidgetItem* done = list->topLevelItem(1);
    EXPECT_EQ(done->text(1), "File stat.");
    EXPECT_EQ(done->foreground(2).color(), QColor(55, 157, 31));
    // Codes per cell, 4 bits each, "Time" lowest: black, default, green,
    // default.
    EXPECT_EQ(done->data(0, CDlgReqInfoLog::ColourRole).toUInt(), 0x5250u);

    // A line numbered far beyond the rows shown adds no rows up to it.
    Feed(Notice(3, CDlgReqInfoLog::kFillElems, 4000000, 4000000));
    EXPECT_EQ(list->topLevelItemCount(), 2);
    // A small gap is filled: the lines of one notice may come in any order.
    Feed(Notice(3, CDlgReqInfoLog::kFillElems, 4, 4));
    EXPECT_EQ(list->topLevelItemCount(), 4);
}

TEST_F(ReqInfoLog, NewRowsAreFollowedOnlyFromTheBottom)
{
    CDlgReqInfoLog::ShowRequest(6);
    Dlg()->resize(Dlg()->MinimumTrackSize());
    QTreeWidget* list = Dlg()->LogList();
    QScrollBar* bar = list->verticalScrollBar();
    Feed(Notice(6, CDlgReqInfoLog::kFillElems, 1, 100));
    ASSERT_GT(bar->maximum(), 0);
    // At the bottom: new rows stay in view.
    bar->setValue(bar->maximum());
    Feed(Notice(6, CDlgReqInfoLog::kFillElems, 101, 110));
    EXPECT_EQ(bar->value(), bar->maximum());
    // Scrolled up: the list does not move.
    bar->setValue(5);
    Feed(Notice(6, CDlgReqInfoLog::kFillElems, 111, 120));
    EXPECT_EQ(bar->value(), 5);
    EXPECT_EQ(list->topLevelItemCount(), 120);
}

} // namespace
