// Frames and their pane splitters, offscreen: showing, hiding and finding
// panes by class and number through nested frames, sizes kept on resizing,
// focus moving between leaf panes, the blink.
#include "shell/innerfrm.h"
#include "shell/kvdialog.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

QWidget* MakeView()
{
    auto* view = new QWidget;
    view->setFocusPolicy(Qt::StrongFocus);
    return view;
}

const CRuntimeClass classViewA("TestViewA", &MakeView, &classCView);
const CRuntimeClass classViewB("TestViewB", &MakeView, &classCView);
const CRuntimeClass classViewC("TestViewC", &MakeView, &classCView);

QWidget* MakeUnfocusableView()
{
    return new QWidget;
}

// Neither clicking nor tabbing focuses it, so only a frame can.
const CRuntimeClass classViewD("TestViewD", &MakeUnfocusableView, &classCView);

// A stacked frame of B above C, as a pane of the test windows: C keeps its
// height, B is shown 80 pixels high. D is for a frame showing one pane only.
class NestedFrm : public CInnerFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classNestedFrm;

    NestedFrm() : CInnerFrm(0, 1)
    {
        GetSplitter()->AddPane(&classViewB, 80, 0);
        GetSplitter()->AddPane(&classViewC, -70, 0);
        GetSplitter()->AddPane(&classViewD, 50, 0);
    }
};

QWidget* MakeNestedFrm()
{
    return new NestedFrm;
}

const CRuntimeClass NestedFrm::classNestedFrm("TestNestedFrm", &MakeNestedFrm,
                                              &CInnerFrm::classCInnerFrm);

struct Pane
{
    const CRuntimeClass* cls;
    int size;
    uint32_t number;
};

// A top-level frame with the given panes, made with `first` and shown.
std::unique_ptr<CInnerFrm> ShowFrame(bool side_by_side, std::initializer_list<Pane> panes,
                                     const CPaneInfo& first, QSize size = QSize(600, 400))
{
    auto frame = std::make_unique<CInnerFrm>(side_by_side ? 1 : 0, 1);
    for (const Pane& p : panes) {
        frame->GetSplitter()->AddPane(p.cls, p.size, p.number);
    }
    CFileSplitter::SetPendingPane(first);
    EXPECT_TRUE(frame->Create());
    frame->resize(size);
    frame->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    return frame;
}

int Extent(const CFileSplitter* s, int index)
{
    return s->sizes().at(index);
}

TEST(CFileSplitter, ShowPaneSplitsAtItsSizeOrInTheMiddle)
{
    struct Case
    {
        const char* name;
        int size;  // with `leave`: only its sign
        int leave; // > 0: the size leaves this many pixels to the first pane
        bool middle;
    };
    const Case cases[] = {
        {"fits", 100, 0, false},
        {"kept size fits", -100, 0, false},
        {"leaves exactly 60", 1, 60, false},
        {"leaves 59", 1, 59, true},
        {"kept size leaves 59", -1, 59, true},
        {"larger than the window", 5000, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto frame = ShowFrame(false, {{&classViewA, 0, 0}}, CPaneInfo(&classViewA, 0));
        CFileSplitter* s = frame->GetSplitter();
        // The height of the client is known once the frame is shown; the
        // description of C, which depends on it, is added afterwards.
        const int height = Extent(s, 0);
        ASSERT_GT(height, 200);
        int size = c.size;
        if (c.leave > 0) {
            size = (c.size < 0 ? -1 : 1) * (height - c.leave);
        }
        s->AddPane(&classViewC, size, 0);
        const int minimum = s->GetRowMin(0);
        EXPECT_EQ(minimum, 1);

        ASSERT_TRUE(s->ShowPane(CPaneInfo(&classViewC, 0)));
        ASSERT_EQ(s->GetRowCount(), 2);
        EXPECT_EQ(CRuntimeClass::Of(s->GetPane(1, 0)), &classViewC);
        const int expected = c.middle ? (minimum + height) / 2 : height - std::abs(size);
        EXPECT_EQ(Extent(s, 0), expected);
        EXPECT_EQ(Extent(s, 0) + Extent(s, 1) + s->handleWidth(), height);
        EXPECT_EQ(s->GetRowMin(0), 3);
        // Showing a shown pane splits nothing.
        EXPECT_TRUE(s->ShowPane(CPaneInfo(&classViewC, 0)));
        EXPECT_EQ(s->GetRowCount(), 2);
    }
}

TEST(CFileSplitter, APaneShownBeforeTheWindowTakesItsSizeWhenTheWindowIs)
{
    struct Case
    {
        const char* name;
        bool side_by_side;
        int size;
        bool middle;
    };
    const Case cases[] = {
        {"stacked, kept size", false, -109, false},
        {"side by side", true, 150, false},
        {"larger than the window", false, 5000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Made, its pane shown, and only then sized and shown: as the
        // control window is at start-up.
        CInnerFrm frame(c.side_by_side ? 1 : 0, 1);
        frame.GetSplitter()->AddPane(&classViewA, 0, 0);
        frame.GetSplitter()->AddPane(&classViewB, c.size, 0);
        CFileSplitter::SetPendingPane(CPaneInfo(&classViewA, 0));
        ASSERT_TRUE(frame.Create());
        CFileSplitter* s = frame.GetSplitter();
        ASSERT_TRUE(s->ShowPane(CPaneInfo(&classViewB, 0)));
        frame.resize(600, 400);
        frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
        const int extent = c.side_by_side ? s->contentsRect().width() : s->contentsRect().height();
        ASSERT_GT(extent, 300);
        const int expected = c.middle ? (1 + extent) / 2 : extent - std::abs(c.size);
        EXPECT_EQ(Extent(s, 0), expected);
        EXPECT_EQ(Extent(s, 0) + Extent(s, 1) + s->handleWidth(), extent);
        // From then on the sizes are the user's: a resize keeps the kept one.
        const int second = Extent(s, 1);
        frame.resize(700, 500);
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame.size() == QSize(700, 500); }));
        QApplication::processEvents();
        if (c.size < 0) {
            EXPECT_EQ(Extent(s, 1), second);
        }
    }
}

TEST(CFileSplitter, ToggleShowsAndHidesAndKeepsTheLastPane)
{
    auto frame =
        ShowFrame(true, {{&classViewA, 200, 0}, {&classViewB, 150, 0}}, CPaneInfo(&classViewA, 0));
    CFileSplitter* s = frame->GetSplitter();
    const CPaneInfo a(&classViewA, 0);
    const CPaneInfo b(&classViewB, 0);
    QWidget* view_a = s->GetPane(0, 0);
    EXPECT_EQ(frame->GetActiveView(), view_a);

    EXPECT_TRUE(s->TogglePane(b));
    EXPECT_TRUE(s->IsPaneShown(b));
    EXPECT_EQ(s->GetColumnCount(), 2);
    EXPECT_EQ(s->FindPane(&classCView, view_a, false), s->GetPane(0, 1));
    EXPECT_TRUE(s->HasSeveralPanes());

    // Hiding the first pane moves the second into its place and makes it the
    // active view.
    EXPECT_TRUE(s->TogglePane(a));
    EXPECT_FALSE(s->IsPaneShown(a));
    ASSERT_EQ(s->GetColumnCount(), 1);
    EXPECT_EQ(CRuntimeClass::Of(s->GetPane(0, 0)), &classViewB);
    EXPECT_EQ(frame->GetActiveView(), s->GetPane(0, 0));
    EXPECT_FALSE(s->HasSeveralPanes());

    // The only pane of the window stays.
    EXPECT_FALSE(s->TogglePane(b));
    EXPECT_TRUE(s->IsPaneShown(b));

    // Shown again, a pane comes after the one there.
    EXPECT_TRUE(s->TogglePane(a));
    EXPECT_EQ(CRuntimeClass::Of(s->GetPane(0, 1)), &classViewA);

    // A class no description names is neither shown nor hidden.
    EXPECT_FALSE(s->TogglePane(CPaneInfo(&classViewC, 0)));
    EXPECT_FALSE(s->ShowPane(CPaneInfo(nullptr, 0)));
}

TEST(CFileSplitter, KeptSizeSurvivesResizing)
{
    struct Case
    {
        const char* name;
        bool side_by_side;
        int first_size;
        int second_size;
        int kept; // index of the pane that keeps its size
    };
    const Case cases[] = {
        {"second column kept", true, 300, -150, 1},
        {"second row kept", false, 300, -120, 1},
        // A first pane keeps its size anyway; the second takes the change.
        {"first column kept", true, -225, 240, 0},
        {"nothing kept", true, 225, 240, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto frame = ShowFrame(c.side_by_side,
                               {{&classViewA, c.first_size, 0}, {&classViewB, c.second_size, 0}},
                               CPaneInfo(&classViewA, 0), QSize(700, 500));
        CFileSplitter* s = frame->GetSplitter();
        ASSERT_TRUE(s->ShowPane(CPaneInfo(&classViewB, 0)));
        const int kept = Extent(s, c.kept);
        const int total = Extent(s, 0) + Extent(s, 1);
        for (QSize size : {QSize(900, 650), QSize(500, 400), QSize(800, 600)}) {
            frame->resize(size);
            ASSERT_TRUE(QTest::qWaitFor([&] { return frame->size() == size; }));
            QApplication::processEvents();
            EXPECT_EQ(Extent(s, c.kept), kept);
            const int extent =
                c.side_by_side ? s->contentsRect().width() : s->contentsRect().height();
            EXPECT_EQ(Extent(s, 0) + Extent(s, 1) + s->handleWidth(), extent);
        }
        EXPECT_NE(Extent(s, 0) + Extent(s, 1), total);
    }
}

TEST(CFileSplitter, NestedFramesHoldPanesAndHideWithTheirLastPane)
{
    auto frame = ShowFrame(true, {{&classViewA, 250, 0}, {&NestedFrm::classNestedFrm, 300, 0}},
                           CPaneInfo(&classViewA, 0));
    CFileSplitter* top = frame->GetSplitter();
    const CPaneInfo b(&classViewB, 0);
    const CPaneInfo c(&classViewC, 0);

    // B lives in the nested frame: showing it makes that frame, which starts
    // with B.
    ASSERT_TRUE(top->ShowPane(b));
    auto* nested = qobject_cast<NestedFrm*>(top->GetPane(0, 1));
    ASSERT_NE(nested, nullptr);
    CFileSplitter* inner = nested->GetSplitter();
    CFileSplitter* holder = nullptr;
    int row = -1;
    int column = -1;
    EXPECT_EQ(top->LocatePane(b, &holder, &row, &column), inner->GetPane(0, 0));
    EXPECT_EQ(holder, inner);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(column, 0);

    // C goes into the nested frame that is there, below B.
    ASSERT_TRUE(top->ShowPane(c));
    EXPECT_EQ(top->GetColumnCount(), 2);
    EXPECT_EQ(inner->GetRowCount(), 2);
    EXPECT_EQ(top->FindPane(&classViewC, nullptr, true), inner->GetPane(1, 0));
    EXPECT_EQ(top->FindPane(&classViewC, nullptr, false), nullptr);
    EXPECT_EQ(top->FindPane(&CInnerFrm::classCInnerFrm, nullptr, false), nested);

    // Hiding B leaves C; hiding C, the nested frame's last pane, hides the
    // nested frame.
    EXPECT_TRUE(top->TogglePane(b));
    EXPECT_EQ(inner->GetRowCount(), 1);
    frame->SetActiveView(top->LocatePane(c));
    EXPECT_TRUE(top->TogglePane(c));
    EXPECT_EQ(top->GetColumnCount(), 1);
    // The active view left with its frame; the view that stays takes over.
    EXPECT_EQ(frame->GetActiveView(), top->GetPane(0, 0));
    EXPECT_FALSE(top->IsPaneShown(c));
    EXPECT_EQ(top->FindPane(&CInnerFrm::classCInnerFrm, nullptr, true), nullptr);

    // Toggling C again brings the frame back with C alone.
    ASSERT_TRUE(top->TogglePane(c));
    nested = qobject_cast<NestedFrm*>(top->GetPane(0, 1));
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(nested->GetSplitter()->GetRowCount(), 1);
    EXPECT_EQ(CRuntimeClass::Of(nested->GetSplitter()->GetPane(0, 0)), &classViewC);
}

TEST(CFileSplitter, PanesAreToldApartByNumber)
{
    auto frame = ShowFrame(
        true, {{&NestedFrm::classNestedFrm, 250, 1}, {&NestedFrm::classNestedFrm, 250, 2}},
        CPaneInfo(&classViewB, 1), QSize(700, 400));
    CFileSplitter* top = frame->GetSplitter();
    const CPaneInfo b1(&classViewB, 1);
    const CPaneInfo b2(&classViewB, 2);
    auto* first = qobject_cast<NestedFrm*>(top->GetPane(0, 0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetNumber(), 1u);
    EXPECT_TRUE(top->IsPaneShown(b1));
    EXPECT_FALSE(top->IsPaneShown(b2));

    ASSERT_TRUE(top->ShowPane(b2));
    auto* second = qobject_cast<NestedFrm*>(top->GetPane(0, 1));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetNumber(), 2u);
    QWidget* view_b1 = first->GetSplitter()->GetPane(0, 0);
    QWidget* view_b2 = second->GetSplitter()->GetPane(0, 0);
    EXPECT_EQ(top->LocatePane(b1), view_b1);
    EXPECT_EQ(top->LocatePane(b2), view_b2);
    // A numbered frame holds only panes asked for with its number: number 0
    // matches any in a description, not in a request.
    EXPECT_EQ(top->LocatePane(CPaneInfo(&classViewB, 0)), nullptr);
    EXPECT_FALSE(top->ShowPane(CPaneInfo(&classViewB, 0)));
    // No frame numbered 3.
    EXPECT_EQ(top->LocatePane(CPaneInfo(&classViewB, 3)), nullptr);
    EXPECT_FALSE(top->ShowPane(CPaneInfo(&classViewB, 3)));

    // C of side 2 goes into the second frame only.
    ASSERT_TRUE(top->ShowPane(CPaneInfo(&classViewC, 2)));
    EXPECT_EQ(first->GetSplitter()->GetRowCount(), 1);
    EXPECT_EQ(second->GetSplitter()->GetRowCount(), 2);

    // The focus tells which side a command is for.
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    view_b2->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view_b2->hasFocus(); }));
    EXPECT_EQ(top->GetFocusPaneInfo(&classViewC).GetNumber(), 2u);
    EXPECT_EQ(top->GetFocusPaneInfo(&classViewC).GetClass(), &classViewC);

    // Hiding both panes of side 2 hides its frame, not side 1's.
    EXPECT_TRUE(top->TogglePane(CPaneInfo(&classViewC, 2)));
    EXPECT_TRUE(top->TogglePane(b2));
    EXPECT_EQ(top->GetColumnCount(), 1);
    EXPECT_EQ(top->GetPane(0, 0), first);
    EXPECT_TRUE(top->IsPaneShown(b1));
}

TEST(CFileSplitter, FocusMovesThroughLeavesAndWraps)
{
    // Leaves in row-major order: A, then B and C of the nested frame.
    auto frame = ShowFrame(true, {{&classViewA, 250, 0}, {&NestedFrm::classNestedFrm, 300, 0}},
                           CPaneInfo(&classViewA, 0));
    CFileSplitter* top = frame->GetSplitter();
    ASSERT_TRUE(top->ShowPane(CPaneInfo(&classViewB, 0)));
    ASSERT_TRUE(top->ShowPane(CPaneInfo(&classViewC, 0)));
    QWidget* a = top->LocatePane(CPaneInfo(&classViewA, 0));
    QWidget* b = top->LocatePane(CPaneInfo(&classViewB, 0));
    QWidget* c = top->LocatePane(CPaneInfo(&classViewC, 0));
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));

    struct Step
    {
        QWidget* from;
        bool forward;
        QWidget* to;
        int from_counter;
    };
    const Step steps[] = {
        {a, true, b, 0},  {b, true, c, 1},  {c, true, a, 2}, // last to first
        {a, false, c, 0},                                    // first to last
        {c, false, b, 2}, {b, false, a, 1},
    };
    for (const Step& step : steps) {
        step.from->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return step.from->hasFocus(); }));
        int counter = -1;
        EXPECT_EQ(top->GetFocusPane(&counter), step.from);
        EXPECT_EQ(counter, step.from_counter);
        top->FocusNextPane(step.forward);
        EXPECT_TRUE(step.to->hasFocus());
    }

    // With the focus in no leaf nothing moves.
    frame->setFocus();
    EXPECT_EQ(top->GetFocusPane(), nullptr);
    top->FocusNextPane(true);
    EXPECT_TRUE(frame->hasFocus());
}

TEST(CInnerFrm, ActivationPassesTheFocusDownToALonePane)
{
    auto frame = ShowFrame(true, {{&NestedFrm::classNestedFrm, 300, 0}}, CPaneInfo(&classViewD, 0));
    auto* nested = qobject_cast<NestedFrm*>(frame->GetSplitter()->GetPane(0, 0));
    ASSERT_NE(nested, nullptr);
    QWidget* d = nested->GetSplitter()->GetPane(0, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(frame->GetActiveView(), d);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return d->hasFocus(); }));
}

class BlinkFrm : public CInnerFrm
{
public:
    BlinkFrm() : CInnerFrm(1, 1) {}
    void Flash(bool stop) override { calls.push_back(stop); }
    std::vector<bool> calls;
};

TEST(CInnerFrm, BlinkTicksUntilStopped)
{
    BlinkFrm frame;
    EXPECT_FALSE(frame.IsFlashing());
    frame.StartFlash();
    frame.StartFlash(); // a running blink is left as it is
    EXPECT_TRUE(frame.IsFlashing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.calls.size() >= 2; }, 10000));
    for (bool stop : frame.calls) {
        EXPECT_FALSE(stop);
    }
    frame.StopFlash();
    EXPECT_FALSE(frame.IsFlashing());
    ASSERT_FALSE(frame.calls.empty());
    EXPECT_TRUE(frame.calls.back());
    const size_t calls = frame.calls.size();
    QTest::qWait(700);
    EXPECT_EQ(frame.calls.size(), calls);
}

TEST(CInnerFrm, CreateFailsWithoutAMatchingPane)
{
    CInnerFrm frame(1, 1);
    frame.GetSplitter()->AddPane(&classViewA, 100, 5);
    // Number 6 is not in any description.
    CFileSplitter::SetPendingPane(CPaneInfo(&classViewA, 6));
    EXPECT_FALSE(frame.Create());
    EXPECT_EQ(frame.GetSplitter()->count(), 0);

    // The folder-tree frame makes its tree; outside a browse pane the view
    // stays empty.
    CFileTreeFrm tree;
    CFileSplitter::SetPendingPane(CPaneInfo(&classCFileTreeView, 0));
    ASSERT_TRUE(tree.Create());
    EXPECT_EQ(CRuntimeClass::Of(tree.GetSplitter()->GetPane(0, 0)), &classCFileTreeView);
}

TEST(CRuntimeClass, FramesAndDialogsAreMadeByName)
{
    struct Case
    {
        const char* name;
        const CRuntimeClass* cls;
        const CRuntimeClass* base;
    };
    const Case cases[] = {
        {"CInnerFrm", &CInnerFrm::classCInnerFrm, &CInnerFrm::classCInnerFrm},
        {"CFileTreeFrm", &CFileTreeFrm::classCFileTreeFrm, &CInnerFrm::classCInnerFrm},
        {"CKVDialog", &CKVDialog::classCKVDialog, &CKVDialog::classCKVDialog},
        {"CView", &classCView, &classCView},
        {"TestNestedFrm", &NestedFrm::classNestedFrm, &CInnerFrm::classCInnerFrm},
        {"CFileTreeView", &classCFileTreeView, &classCView},
        {"cinnerfrm", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CRuntimeClass* cls = CRuntimeClass::FromName(c.name);
        EXPECT_EQ(cls, c.cls);
        if (cls != nullptr) {
            EXPECT_TRUE(cls->IsDerivedFrom(c.base));
            EXPECT_FALSE(cls->IsDerivedFrom(&classViewA));
        }
    }

    // Made by name, an inner frame lays its panes side by side.
    std::unique_ptr<QWidget> made(CRuntimeClass::FromName("CInnerFrm")->CreateObject());
    auto* frame = qobject_cast<CInnerFrm*>(made.get());
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->IsSideBySide());
    EXPECT_EQ(CRuntimeClass::Of(frame), &CInnerFrm::classCInnerFrm);
    std::unique_ptr<QWidget> dialog(CKVDialog::classCKVDialog.CreateObject());
    EXPECT_NE(qobject_cast<CKVDialog*>(dialog.get()), nullptr);
    // A frame made directly is no pane and has no class.
    CInnerFrm direct(0, 0);
    EXPECT_EQ(CRuntimeClass::Of(&direct), nullptr);
    EXPECT_FALSE(direct.IsSideBySide());
}

} // namespace

#include "innerfrm_test.moc"
