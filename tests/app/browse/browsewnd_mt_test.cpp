// Browse windows over live local file managers: the panes' engine link
// (the informer drained, titles), the width rule, closing a side, hiding and
// destroying idle windows, and the list of windows kept across runs.
#include "browse_fixture.h"

#include "../support/kv_dlgdriver.h"
#include "core/ntfbatch.h"
#include "foundation/kv_msg.h"
#include "menus/menufind.h"

#include <QMenuBar>
#include <QMessageBox>

namespace {

using kvtest::Q;

class TitleCounter : public QObject
{
public:
    int changes = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        changes += e->type() == QEvent::WindowTitleChange ? 1 : 0;
        return false;
    }
};

class BrowseWnd_MT : public kvtest::BrowseFixture
{
protected:
    // Waits until the side's pane is bound and its manager knows its folder.
    bool Bound(CBrowseSplt* wnd, uint32_t side)
    {
        return Until([wnd, side] {
            CBrowseFrm* pane = wnd->GetPane(side);
            KV_FileMan* m = pane && pane->GetData() ? pane->GetData()->GetFileMan() : nullptr;
            return m != nullptr && m->pwd_done() && pane->GetData()->GetFileTree()->root();
        });
    }
    KV_FileManId Instance(uint32_t n) { return KV_FileManId(local, n); }

    static bool HasPopup(CBrowseSplt* wnd, const char* command_name_of_item)
    {
        return wnd->findChild<QAction*>(command_name_of_item) != nullptr;
    }
    static QStringList BarTitles(CBrowseSplt* wnd)
    {
        QStringList titles;
        for (QAction* a : wnd->FrameMenuBar()->actions()) {
            titles << a->text();
        }
        return titles;
    }
};

TEST_F(BrowseWnd_MT, WidthFollowsTheShownSides)
{
    struct Case
    {
        const char* what;
        bool left;
        bool right;
        uint16_t flags;
        int width;
    };
    const Case cases[] = {
        {"tree and list", true, false, 0x0003, 465},
        {"tree only: the minimum", true, false, 0x0001, 450},
        {"details add nothing", true, false, 0x0006, 450},
        {"two sides of tree and list", true, true, 0x0303, 930},
        {"a right side without id counts nothing", true, false, 0x0303, 465},
        {"list beside tree", true, true, 0x0201, 465},
    };
    for (const Case& c : cases) {
        const KV_FileManId l = c.left ? Instance(0) : KV_FileManId();
        const KV_FileManId r = c.right ? Instance(0) : KV_FileManId();
        EXPECT_EQ(CBrowseSplt::InitialWidth(l, r, c.flags), c.width) << c.what;
    }
    CBrowseSplt* one = Open(Instance(0), KV_FileManId(), 0x0003);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->width(), 465);
    EXPECT_EQ(one->height(), 480);
    // Only a left side: no "Right pane" popup.
    EXPECT_FALSE(BarTitles(one).isEmpty());
    EXPECT_NE(FindMenuById(&one->DefaultMenu(), 32815), nullptr);
    EXPECT_EQ(FindMenuById(&one->DefaultMenu(), 32837), nullptr);

    // A left side without a data source of a known kind: no window.
    EXPECT_EQ(Open(KV_FileManId(), Instance(0), 0x0303), nullptr);
}

TEST_F(BrowseWnd_MT, ThePaneDrainsItsInformerAndIsRungAgain)
{
    CBrowseSplt* wnd = Open(Instance(0), KV_FileManId(), 0x0003);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft));
    CBrowseFrm* pane = wnd->GetPane(CBrowseSplt::kLeft);
    KV_Informer* informer = pane->GetData()->GetInformer();
    const KV_FileManId id = pane->GetData()->GetManId();
    TitleCounter titles;
    wnd->installEventFilter(&titles);

    // One batch: a minor error, a name, the same name again, a notice of
    // another kind; each is handled once and handed back.
    informer->send(new KV_MsgErrNtf(1, KV_String("slow server")));
    informer->send(new KV_MsgManNtf(id, KV_MAN_NTF_DS_CHANGED, KV_String("Home")));
    informer->send(new KV_MsgManNtf(id, KV_MAN_NTF_DS_CHANGED, KV_String("Home")));
    informer->send(new KV_MsgManNtf(id, KV_MAN_NTF_DOC_ADD, KV_String("ignored")));
    const QString title = QString("Home # %1").arg(id.impl());
    ASSERT_TRUE(Until([&] { return pane->GetTitle() == title; }, 5000));
    EXPECT_EQ(wnd->StatusText(), "\r\n1\r\nslow server");
    EXPECT_EQ(wnd->windowTitle(), title);
    EXPECT_EQ(titles.changes, 1) << "the same name again redraws nothing";
    // The pane's views list their folder meanwhile, so the engine may have
    // queued listing notices since; none of the batch is left.
    while (KV_Msg* left = informer->pop()) {
        EXPECT_NE(left->type(), KV_MSG_ERR) << "the batch was drained";
        EXPECT_NE(left->type(), KV_MSG_MAN) << "the batch was drained";
        KV_Informer::destroy(left);
    }

    // The doorbell was re-armed: a later message comes through as well.
    informer->send(new KV_MsgManNtf(id, KV_MAN_NTF_DS_CHANGED, KV_String("Away")));
    ASSERT_TRUE(Until([&] { return pane->GetTitle().startsWith("Away"); }, 5000));
    EXPECT_EQ(titles.changes, 2);

    // A serious error waits for the user in a box over the pane.
    QString shown;
    kvtest::DialogDriver<QMessageBox> close([&](QMessageBox& box) {
        shown = box.text();
        box.accept();
    });
    informer->send(new KV_MsgErrNtf(2, KV_String("disk gone")));
    ASSERT_TRUE(Until([&] { return close.handled == 1; }, 5000));
    EXPECT_EQ(shown, "disk gone");
    EXPECT_EQ(wnd->StatusText(), "\r\n1\r\nslow server") << "not on the status line";
    wnd->removeEventFilter(&titles);
}

// A transfer that queues notices faster than the pane handles them must not
// keep the event loop from input and painting until it ends: one doorbell
// handles a batch, and the doorbell rings again for the rest.
TEST_F(BrowseWnd_MT, AFloodOfNoticesIsHandledInBatchesBetweenWhichTheEventLoopRuns)
{
    CBrowseSplt* wnd = Open(Instance(0), KV_FileManId(), 0x0003);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft));
    CBrowseFrm* pane = wnd->GetPane(CBrowseSplt::kLeft);
    KV_Informer* informer = pane->GetData()->GetInformer();
    const KV_FileManId id = pane->GetData()->GetManId();
    for (int i = 0; i < 4 * CInformerBatch::kMaxNotices; ++i) {
        informer->send(new KV_MsgManNtf(id, KV_MAN_NTF_DOC_ADD, KV_String("ignored")));
    }
    informer->send(new KV_MsgManNtf(id, KV_MAN_NTF_DS_CHANGED, KV_String("Last")));
    pane->OnInformerNtf();
    EXPECT_FALSE(pane->GetTitle().startsWith("Last")) << "one doorbell handled the whole flood";
    EXPECT_TRUE(Until([&] { return pane->GetTitle().startsWith("Last"); }, 5000))
        << "the rest waits for a doorbell that never rings";
}

TEST_F(BrowseWnd_MT, TheStatusLineShowsCodesInRed)
{
    struct Case
    {
        QString text;
        QString shown;
        bool red;
    };
    const Case cases[] = {
        {"\r\n5\r\nrefused", "refused", true},
        {"\r\n0\r\nfine", "fine", false},
        {"\r\n\r\nno code", "\r\n\r\nno code", false},
        {"\r\nno end", "\r\nno end", false},
        {"plain", "plain", false},
    };
    for (const Case& c : cases) {
        bool red = true;
        EXPECT_EQ(CBrowseMsgPane::Shown(c.text, &red), c.shown) << c.text.toStdString();
        EXPECT_EQ(red, c.red) << c.text.toStdString();
    }
    CBrowseSplt* wnd = Open(Instance(0), KV_FileManId(), 0x0003);
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(wnd->StatusText(), "Ready");
    wnd->SetStatusText("lost", 7);
    EXPECT_EQ(wnd->StatusText(), "\r\n7\r\nlost");
    wnd->SetStatusText("\r\n9\r\nkept as typed", 0);
    EXPECT_EQ(wnd->StatusText(), "\r\n9\r\nkept as typed");
}

TEST_F(BrowseWnd_MT, HidingTheRightSidesLastViewClosesThatSide)
{
    CBrowseSplt* wnd = Open(Instance(0), Instance(0), 0x0101);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft));
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kRight));
    EXPECT_TRUE(wnd->IsTwoPane());
    EXPECT_TRUE(wnd->GetRightManId().valid_man());
    EXPECT_FALSE(wnd->GetLeftManId() == wnd->GetRightManId())
        << "two instances: " << wnd->GetLeftManId().impl() << " " << wnd->GetRightManId().impl()
        << " panes " << wnd->GetPane(1) << " " << wnd->GetPane(2);

    wnd->OnViewShown(&classCFileTreeView, CBrowseSplt::kRight);
    wnd->OnViewShown(&classCFileListView, CBrowseSplt::kRight);
    wnd->OnViewHidden(&classCFileTreeView, CBrowseSplt::kRight);
    EXPECT_NE(FindMenuById(&wnd->DefaultMenu(), 32837), nullptr) << "the list is still shown";
    wnd->OnViewHidden(&classCFileListView, CBrowseSplt::kRight);
    EXPECT_EQ(FindMenuById(&wnd->DefaultMenu(), 32837), nullptr) << "\"Right pane\" removed";
    EXPECT_FALSE(wnd->GetRightManId().valid());
    EXPECT_FALSE(wnd->GetSideId(CBrowseSplt::kRight)->valid());
    EXPECT_NE(FindMenuById(&wnd->DefaultMenu(), 32815), nullptr);
}

TEST_F(BrowseWnd_MT, OnlyAHiddenWindowWhoseManagersAreIdleIsDestroyed)
{
    CBrowseSplt* wnd = Open(Instance(0), KV_FileManId(), 0x0003);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft));
    KV_FileMan* man = wnd->GetPane(CBrowseSplt::kLeft)->GetData()->GetFileMan();
    QPointer<CBrowseSplt> alive(wnd);

    wnd->show();
    EXPECT_FALSE(wnd->DestroyIfIdle()) << "visible";
    man->lock(true); // a request holds the manager
    wnd->close();
    EXPECT_FALSE(wnd->isVisible()) << "closing hides";
    EXPECT_FALSE(wnd->DestroyIfIdle()) << "a request still holds the manager";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_NE(alive, nullptr);
    man->unlock(true);
    EXPECT_TRUE(wnd->DestroyIfIdle());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(alive, nullptr);
}

TEST_F(BrowseWnd_MT, ASideThatNeverBoundDoesNotKeepAHiddenWindow)
{
    // The right side names an FTP data source that does not exist: its pane
    // is made, binds nothing and holds no lock.
    CBrowseSplt* wnd =
        Open(Instance(0), KV_FileManId(KV_DsId(2, "Kivrel", "Ftp", "Gone"), 0), 0x0303);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft));
    CBrowseFrm* right = wnd->GetPane(CBrowseSplt::kRight);
    ASSERT_NE(right, nullptr);
    ASSERT_NE(right->GetData(), nullptr);
    EXPECT_EQ(right->GetData()->GetFileMan(), nullptr);
    QPointer<CBrowseSplt> alive(wnd);
    wnd->show();
    wnd->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(alive, nullptr);
}

TEST_F(BrowseWnd_MT, AManagerOutlivingItsFirstWindowReportsToTheNextOne)
{
    CBrowseSplt* first = Open(Instance(0), KV_FileManId(), 0x0003);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(Bound(first, CBrowseSplt::kLeft));
    const KV_FileManId id = first->GetLeftManId();
    CBrowseSplt* second = Open(id, KV_FileManId(), 0x0003);
    ASSERT_NE(second, nullptr);
    CFileManData* data = second->GetPane(CBrowseSplt::kLeft)->GetData();
    EXPECT_EQ(data->GetFileMan(), pool->man(id));
    EXPECT_EQ(data->GetFileMan()->lock_cnt(), 2u);
    delete first;

    // The tree's counts go to the window that is left, not to the one gone.
    ASSERT_TRUE(data->SetPathText(KV_String((dir / "work/a").c_str()), false));
    ASSERT_TRUE(Until([&] { return second->CountText().endsWith(" item(s)"); }, 20000));
    EXPECT_EQ(data->GetFileMan()->lock_cnt(), 1u);
}

TEST_F(BrowseWnd_MT, OpenWindowsAreSavedAndTheLiveOnesComeBackShown)
{
    CBrowseSplt* one = Open(Instance(0), KV_FileManId(), 0x0003);
    CBrowseSplt* two = Open(Instance(0), Instance(0), 0x0102);
    ASSERT_TRUE(one && two);
    ASSERT_TRUE(Bound(one, CBrowseSplt::kLeft));
    ASSERT_TRUE(Bound(two, CBrowseSplt::kRight));
    one->show();
    const KV_FileManId a = one->GetLeftManId();
    const KV_FileManId b = two->GetLeftManId();
    const KV_FileManId c = two->GetRightManId();
    ASSERT_TRUE(app->SaveBrowseWnds());
    ASSERT_EQ(app->GetBrWndMan().count(), 2u) << "hidden windows are saved too";

    // The next run: the windows are gone; requests keep `a` and `c` alive,
    // `b` is not.
    KV_FileMan* ma = pool->man(a);
    KV_FileMan* mc = pool->man(c);
    ma->lock(true);
    mc->lock(true);
    delete one;
    delete two;
    ASSERT_TRUE(Until([&] { return pool->man(b) == nullptr; }, 5000));
    ASSERT_TRUE(app->RestoreBrowseWnds());

    QList<QWidget*> wnds;
    app->ListBrowseWnds(wnds);
    ASSERT_EQ(wnds.size(), 2);
    std::vector<std::pair<KV_FileManId, KV_FileManId>> ids;
    for (QWidget* w : wnds) {
        auto* bw = qobject_cast<CBrowseSplt*>(w);
        EXPECT_TRUE(bw->isVisible()) << "restored windows are shown";
        ids.emplace_back(bw->GetLeftManId(), bw->GetRightManId());
    }
    const bool one_back = std::count_if(ids.begin(), ids.end(), [&](auto& p) {
                              return p.first == a && !p.second.valid();
                          }) == 1;
    const bool two_back = std::count_if(ids.begin(), ids.end(), [&](auto& p) {
                              return p.first == b && p.second == c;
                          }) == 1;
    EXPECT_TRUE(one_back);
    EXPECT_TRUE(two_back) << "a record with one live side is restored, the other registered";

    // With no side live, a record is skipped.
    for (QWidget* w : wnds) {
        delete w;
    }
    ma->unlock(true);
    mc->unlock(true);
    ASSERT_TRUE(Until([&] { return pool->man(a) == nullptr && pool->man(c) == nullptr; }, 5000));
    ASSERT_TRUE(app->RestoreBrowseWnds());
    wnds.clear();
    app->ListBrowseWnds(wnds);
    EXPECT_TRUE(wnds.isEmpty());
}

TEST_F(BrowseWnd_MT, OpeningALiveInstanceRaisesItsWindow)
{
    CBrowseSplt* wnd = Open(Instance(0), KV_FileManId(), 0x0003);
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft));
    const KV_FileManId id = wnd->GetLeftManId();
    KV_DsTreeNode* node = pool->tree().find(id);
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(node->id() == id) << "the instance's own node";
    wnd->close(); // hidden, kept: the manager has its pane's lock only...
    QPointer<CBrowseSplt> alive(wnd);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (alive == nullptr) {
        // ...so it went; a shown window is raised instead.
        wnd = Open(Instance(0), KV_FileManId(), 0x0003);
        ASSERT_TRUE(Bound(wnd, CBrowseSplt::kLeft));
        node = pool->tree().find(wnd->GetLeftManId());
        ASSERT_NE(node, nullptr);
    }
    QList<QWidget*> before;
    app->ListBrowseWnds(before);
    ASSERT_TRUE(app->OpenDsBrowseWnd(node));
    QList<QWidget*> after;
    app->ListBrowseWnds(after);
    EXPECT_EQ(after.size(), before.size()) << "no second window";
    EXPECT_TRUE(wnd->isVisible());

    // The data source itself opens a new window on a new instance.
    ASSERT_TRUE(app->OpenDsBrowseWnd(pool->tree().find(KV_DS_NODE_STD, false)));
    after.clear();
    app->ListBrowseWnds(after);
    EXPECT_EQ(after.size(), before.size() + 1);
}

// The start-up's order: the saved requests bring up their managers, the
// saved windows come back, and only then does the transfer manager run.
class BrowseWndAtStart_MT : public BrowseWnd_MT
{
protected:
    bool StartTransfers() const override { return false; }
};

TEST_F(BrowseWndAtStart_MT, AWindowOverAManagerASavedRequestBroughtUpIsShownAndListsItsFolder)
{
    // None of the managers the requests registered has asked for its
    // folder yet.
    const KV_FileManId id(local, 7);
    KV_FileMan* m = pool->reg(id);
    ASSERT_NE(m, nullptr);
    m->lock(true);
    app->GetBrWndMan().clear();
    ASSERT_TRUE(app->GetBrWndMan().append(BrWndMan::BrWndPair(id, KV_FileManId(), 0x0003)));
    ASSERT_TRUE(app->GetBrWndMan().Save());
    ASSERT_TRUE(app->RestoreBrowseWnds());
    ASSERT_TRUE(pool->man_trans().start());

    QList<QWidget*> wnds;
    app->ListBrowseWnds(wnds);
    ASSERT_EQ(wnds.size(), 1);
    auto* wnd = qobject_cast<CBrowseSplt*>(wnds.front());
    ASSERT_NE(wnd, nullptr);
    EXPECT_TRUE(wnd->isVisible());
    EXPECT_TRUE(Bound(wnd, CBrowseSplt::kLeft)) << "the pane lists the manager's folder";
    delete wnd;
    m->unlock(true);
}

} // namespace
