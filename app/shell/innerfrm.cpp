#include "shell/innerfrm.h"

#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QSplitterHandle>
#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

// Which pane the next creation makes, and the number the next nested frame
// takes; shared by every splitter as pane creation runs down the tree.
CPaneInfo g_pending_pane;
uint32_t g_pending_number = 0;

// Pane descriptions may name frame classes that name frame classes; a class
// that (by mistake) holds itself must not search for ever.
const int kMaxNesting = 16;

const int kBlinkMs = 500;
// A pane shown by splitting leaves at least this much to the first pane.
const int kMinFirstPane = 60;
const int kSplitMin = 3;

QWidget* MakeInnerFrm()
{
    return new CInnerFrm(1, 1);
}

QWidget* MakeFileTreeFrm()
{
    return new CFileTreeFrm;
}

bool IsFrameClass(const CRuntimeClass* cls)
{
    return cls != nullptr && cls->IsDerivedFrom(&CInnerFrm::classCInnerFrm);
}

// Splitter bar of a flat splitter: button face with a light top and left
// edge and a dark bottom and right edge, like a raised button.
class CFlatSplitterHandle : public QSplitterHandle
{
public:
    CFlatSplitterHandle(Qt::Orientation o, QSplitter* parent) : QSplitterHandle(o, parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect r = rect();
        p.fillRect(r, palette().button());
        p.setPen(palette().color(QPalette::Light));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(palette().color(QPalette::Dark));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
    }
};

} // namespace

const CRuntimeClass CInnerFrm::classCInnerFrm("CInnerFrm", &MakeInnerFrm, nullptr);
const CRuntimeClass CFileTreeFrm::classCFileTreeFrm("CFileTreeFrm", &MakeFileTreeFrm,
                                                    &CInnerFrm::classCInnerFrm);

// ---------------------------------------------------------------------------
// CInnerFrm

CInnerFrm::CInnerFrm(uint8_t layout, uint8_t flat, QWidget* parent)
    : CNewFrameWnd(parent), layout(layout), number(g_pending_number),
      splitter(new CFileSplitter(flat != 0, this))
{
    splitter->SetOwner(this);
    setCentralWidget(splitter);
    blink.setInterval(kBlinkMs);
    connect(&blink, &QTimer::timeout, this, [this] { Flash(false); });
}

CInnerFrm::~CInnerFrm()
{
    // When a window goes the control window comes to the top, not whatever
    // window the window manager picks next. The pointer the application
    // keeps is trusted only while that window still exists.
    CKivrelApp* app = CKivrelApp::Instance();
    QWidget* main = app != nullptr ? app->GetMainFrm() : nullptr;
    if (isWindow() && main != nullptr && main != this &&
        QApplication::topLevelWidgets().contains(main) && main->isVisible()) {
        main->raise();
    }
}

bool CInnerFrm::Create()
{
    return OnCreateClient();
}

bool CInnerFrm::OnCreateClient()
{
    return splitter->Create(layout != 0);
}

void CInnerFrm::StartFlash()
{
    if (!blink.isActive()) {
        blink.start();
    }
}

void CInnerFrm::StopFlash()
{
    blink.stop();
    Flash(true);
}

void CInnerFrm::Flash(bool stop)
{
    if (!stop) {
        QApplication::alert(window(), kBlinkMs);
    }
}

void CInnerFrm::OnBeforeCreatePane(const CRuntimeClass*) {}

void CInnerFrm::OnAfterCreatePane(const CRuntimeClass*) {}

void CInnerFrm::changeEvent(QEvent* event)
{
    CNewFrameWnd::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isWindow()) {
        OnActivate(isActiveWindow());
    } else if (event->type() == QEvent::WindowStateChange) {
        splitter->SetMinimized(isMinimized());
    }
}

void CInnerFrm::OnActivate(bool active)
{
    if (!active) {
        saved_focus = focusWidget();
        return;
    }
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || focus == this) {
        // A frame that shows one pane passes the focus down to it, through
        // nested frames, so that the keyboard reaches a view at once.
        QWidget* wnd = this;
        while (CInnerFrm* frame = qobject_cast<CInnerFrm*>(wnd)) {
            if (frame->splitter->count() != 1) {
                break;
            }
            wnd = frame->splitter->widget(0);
            wnd->setFocus(Qt::ActiveWindowFocusReason);
        }
    }
    if (saved_focus != nullptr) {
        saved_focus->setFocus(Qt::ActiveWindowFocusReason);
    }
}

// ---------------------------------------------------------------------------
// CFileSplitter

CFileSplitter::CFileSplitter(bool flat, QWidget* parent) : QSplitter(parent), flat(flat)
{
    // A pane is removed by the toggle commands, never by dragging a bar to
    // the edge.
    setChildrenCollapsible(false);
    setFrameShape(flat ? QFrame::NoFrame : QFrame::StyledPanel);
    if (!flat) {
        setFrameShadow(QFrame::Sunken);
    }
}

CFileSplitter::~CFileSplitter() = default;

void CFileSplitter::AddPane(const CRuntimeClass* cls, int size, uint32_t number)
{
    panes.push_back(Entry{cls, number, this, size});
}

void CFileSplitter::SetPendingPane(const CPaneInfo& info)
{
    g_pending_pane = info;
}

bool CFileSplitter::Create(bool layout)
{
    this->layout = layout;
    setOrientation(layout ? Qt::Horizontal : Qt::Vertical);
    return CreateView(0, 0);
}

int CFileSplitter::GetRowCount() const
{
    return layout ? (count() > 0 ? 1 : 0) : count();
}

int CFileSplitter::GetColumnCount() const
{
    return layout ? count() : (count() > 0 ? 1 : 0);
}

int CFileSplitter::PaneIndex(int row, int column) const
{
    const int index = layout ? (row == 0 ? column : -1) : (column == 0 ? row : -1);
    return index >= 0 && index < count() ? index : -1;
}

QWidget* CFileSplitter::GetPane(int row, int column) const
{
    const int index = PaneIndex(row, column);
    return index < 0 ? nullptr : widget(index);
}

int CFileSplitter::GetRowMin(int row) const
{
    if (layout) {
        return row == 0 ? pane_min[0] : 0;
    }
    return row >= 0 && row < 2 ? pane_min[row] : 0;
}

int CFileSplitter::GetColumnMin(int column) const
{
    if (!layout) {
        return column == 0 ? pane_min[0] : 0;
    }
    return column >= 0 && column < 2 ? pane_min[column] : 0;
}

bool CFileSplitter::Matches(const Entry& entry, const CPaneInfo& info)
{
    return entry.number == 0 || entry.number == info.GetNumber();
}

// The description in this splitter's own list that leads to the pane `info`
// names: the pane's own description, or that of a nested frame class whose
// descriptions (searched on a temporary frame of that class) lead to it.
const CFileSplitter::Entry* CFileSplitter::FindEntry(const CPaneInfo& info, int depth) const
{
    if (info.GetClass() == nullptr || depth > kMaxNesting) {
        return nullptr;
    }
    for (const Entry& e : panes) {
        if (e.cls == info.GetClass() && Matches(e, info)) {
            return &e;
        }
    }
    for (const Entry& e : panes) {
        if (!IsFrameClass(e.cls) || !Matches(e, info)) {
            continue;
        }
        // Frames add their descriptions when constructed, so a frame that is
        // never created shows what it may hold. Construction makes no pane.
        std::unique_ptr<QWidget> temp(e.cls->CreateObject());
        auto* frame = qobject_cast<CInnerFrm*>(temp.get());
        if (frame != nullptr && frame->GetSplitter()->FindEntry(info, depth + 1) != nullptr) {
            return &e;
        }
    }
    return nullptr;
}

bool CFileSplitter::CreateView(int row, int column)
{
    const int index = layout ? column : row;
    if ((layout ? row : column) != 0 || index < 0 || index > count()) {
        return false;
    }
    const Entry* entry = FindEntry(g_pending_pane, 0);
    if (entry == nullptr) {
        return false;
    }
    const CRuntimeClass* cls = entry->cls;
    if (owner != nullptr) {
        owner->OnBeforeCreatePane(cls);
    }
    // A nested frame takes the number while it is constructed; afterwards
    // the number is spent, so that a frame made later elsewhere does not
    // inherit it.
    g_pending_number = entry->number;
    QWidget* pane = cls->CreateObject();
    g_pending_number = 0;
    if (pane == nullptr) {
        return false;
    }
    if (auto* frame = qobject_cast<CInnerFrm*>(pane)) {
        if (!frame->Create()) {
            delete pane;
            return false;
        }
    }
    insertWidget(index, pane);
    ApplyMinimums();
    if (owner != nullptr) {
        owner->OnAfterCreatePane(cls);
        if (owner->GetActiveView() == nullptr) {
            owner->SetActiveView(FindPane(&classCView, nullptr, true));
        }
    }
    return true;
}

void CFileSplitter::DeleteView(int row, int column)
{
    const int index = PaneIndex(row, column);
    if (index < 0) {
        return;
    }
    QWidget* pane = widget(index);
    // No frame may keep a view that is leaving as its active view, also not
    // one inside a nested frame that leaves.
    for (QWidget* w = owner; w != nullptr; w = w->parentWidget()) {
        auto* frame = qobject_cast<CInnerFrm*>(w);
        QWidget* active = frame == nullptr ? nullptr : frame->GetActiveView();
        if (active != nullptr && (active == pane || pane->isAncestorOf(active))) {
            frame->SetActiveView(nullptr);
        }
    }
    // The pane may be running the command that removes it: take it out of
    // the tree now and free it when control is back in the event loop.
    pane->hide();
    pane->setParent(nullptr);
    pane->deleteLater();
    ApplyMinimums();
    if (owner != nullptr && owner->GetActiveView() == nullptr) {
        owner->SetActiveView(FindPane(&classCView, nullptr, true));
    }
}

void CFileSplitter::ApplyMinimums()
{
    for (int i = 0; i < count() && i < 2; ++i) {
        QWidget* pane = widget(i);
        if (orientation() == Qt::Horizontal) {
            pane->setMinimumWidth(pane_min[i]);
        } else {
            pane->setMinimumHeight(pane_min[i]);
        }
    }
}

bool CFileSplitter::SplitRow(int position)
{
    return !layout && Split(position);
}

bool CFileSplitter::SplitColumn(int position)
{
    return layout && Split(position);
}

bool CFileSplitter::Split(int position)
{
    if (count() != 1) {
        return false;
    }
    const int total = layout ? contentsRect().width() : contentsRect().height();
    if (!CreateView(layout ? 0 : 1, layout ? 1 : 0)) {
        return false;
    }
    // Both panes keep the sizes the split gives them, and may not be
    // squeezed below 3 pixels from now on.
    pane_min[0] = pane_min[1] = kSplitMin;
    ApplyMinimums();
    const int bars = handleWidth();
    setSizes({position, std::max(kSplitMin, total - bars - position)});
    if (layout) {
        uncovered_width = bars;
    } else {
        uncovered_height = bars;
    }
    return true;
}

bool CFileSplitter::DeletePane(int index)
{
    if (count() < 2 || index < 0 || index >= count()) {
        return false;
    }
    DeleteView(layout ? 0 : index, layout ? index : 0);
    deferred_size = 0;
    if (index == 0) {
        pane_min[0] = pane_min[1];
    }
    return true;
}

bool CFileSplitter::DeleteRow(int row)
{
    return !layout && DeletePane(row);
}

bool CFileSplitter::DeleteColumn(int column)
{
    return layout && DeletePane(column);
}

QWidget* CFileSplitter::FindPane(const CRuntimeClass* cls, const QWidget* skip, bool nested) const
{
    for (int i = 0; i < count(); ++i) {
        QWidget* pane = widget(i);
        const CRuntimeClass* pane_cls = CRuntimeClass::Of(pane);
        if (pane != skip && pane_cls != nullptr && pane_cls->IsDerivedFrom(cls)) {
            return pane;
        }
        if (nested) {
            if (auto* frame = qobject_cast<CInnerFrm*>(pane)) {
                if (QWidget* found = frame->GetSplitter()->FindPane(cls, skip, true)) {
                    return found;
                }
            }
        }
    }
    return nullptr;
}

QWidget* CFileSplitter::LocatePane(const CPaneInfo& info, CFileSplitter** holder, int* row,
                                   int* column) const
{
    if (info.GetClass() == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < count(); ++i) {
        QWidget* pane = widget(i);
        auto* frame = qobject_cast<CInnerFrm*>(pane);
        if (frame != nullptr && frame->GetNumber() != 0 && frame->GetNumber() != info.GetNumber()) {
            continue;
        }
        const CRuntimeClass* cls = CRuntimeClass::Of(pane);
        if (cls != nullptr && cls->IsDerivedFrom(info.GetClass())) {
            if (holder != nullptr) {
                *holder = const_cast<CFileSplitter*>(this);
            }
            if (row != nullptr) {
                *row = layout ? 0 : i;
            }
            if (column != nullptr) {
                *column = layout ? i : 0;
            }
            return pane;
        }
        if (frame != nullptr) {
            if (QWidget* found = frame->GetSplitter()->LocatePane(info, holder, row, column)) {
                return found;
            }
        }
    }
    return nullptr;
}

bool CFileSplitter::IsPaneShown(const CPaneInfo& info) const
{
    return LocatePane(info) != nullptr;
}

// The live splitter that is to show the pane, and the description giving its
// size. A nested frame that is already there and may hold the pane takes it
// in; otherwise this splitter shows the pane, or the nested frame leading to
// it, itself.
bool CFileSplitter::ResolveShow(const CPaneInfo& info, CFileSplitter** holder, const Entry** entry)
{
    const Entry* own = FindEntry(info, 0);
    if (own == nullptr) {
        return false;
    }
    *holder = this;
    *entry = own;
    for (int i = 0; i < count(); ++i) {
        auto* frame = qobject_cast<CInnerFrm*>(widget(i));
        if (frame == nullptr ||
            (frame->GetNumber() != 0 && frame->GetNumber() != info.GetNumber())) {
            continue;
        }
        CFileSplitter* inner_holder = nullptr;
        const Entry* inner_entry = nullptr;
        if (frame->GetSplitter()->ResolveShow(info, &inner_holder, &inner_entry)) {
            *holder = inner_holder;
            *entry = inner_entry;
            break;
        }
    }
    return true;
}

bool CFileSplitter::ShowPane(const CPaneInfo& info)
{
    if (IsPaneShown(info)) {
        return true;
    }
    CFileSplitter* holder = nullptr;
    const Entry* entry = nullptr;
    if (!ResolveShow(info, &holder, &entry)) {
        return false;
    }
    SetPendingPane(info);
    const QList<int> sizes = holder->sizes();
    const int current = sizes.isEmpty() ? 0 : sizes.front();
    const int minimum = holder->pane_min[0];
    int position = SplitPosition(current, minimum, std::abs(entry->size));
    // A window made but not shown yet has no size: its splitter's extent is
    // a placeholder, and a split there would leave the new pane a few pixels
    // that it then keeps. The pane gets its size once the splitter has one.
    const bool unsized = holder->testAttribute(Qt::WA_PendingResizeEvent);
    if (!(holder->layout ? holder->SplitColumn(position) : holder->SplitRow(position))) {
        return false;
    }
    if (unsized) {
        holder->deferred_size = std::abs(entry->size);
        holder->deferred_min = minimum;
    }
    return true;
}

int CFileSplitter::SplitPosition(int current, int minimum, int size)
{
    const int position = current - size;
    // A remembered size that leaves the first pane less than a usable strip
    // does not fit: split in the middle instead.
    if (position < std::max(minimum, kMinFirstPane) || position > current) {
        return (minimum + current) / 2;
    }
    return position;
}

bool CFileSplitter::TogglePane(const CPaneInfo& info)
{
    CFileSplitter* holder = nullptr;
    int row = 0;
    int column = 0;
    if (LocatePane(info, &holder, &row, &column) == nullptr) {
        return ShowPane(info);
    }
    if (holder->layout ? holder->DeleteColumn(column) : holder->DeleteRow(row)) {
        return true;
    }
    // The only pane of a nested frame: hide the frame itself, and so on up,
    // but never beyond this splitter.
    while (holder != this) {
        CInnerFrm* frame = holder->owner;
        auto* outer =
            frame == nullptr ? nullptr : qobject_cast<CFileSplitter*>(frame->parentWidget());
        if (outer == nullptr) {
            return false;
        }
        const int index = outer->indexOf(frame);
        if (outer->DeletePane(index)) {
            return true;
        }
        holder = outer;
    }
    return false;
}

void CFileSplitter::CollectLeaves(std::vector<QWidget*>& leaves) const
{
    for (int i = 0; i < count(); ++i) {
        QWidget* pane = widget(i);
        if (auto* frame = qobject_cast<CInnerFrm*>(pane)) {
            frame->GetSplitter()->CollectLeaves(leaves);
        } else {
            leaves.push_back(pane);
        }
    }
}

namespace {

int FocusLeafIndex(const std::vector<QWidget*>& leaves)
{
    QWidget* focus = QApplication::focusWidget();
    for (size_t i = 0; i < leaves.size(); ++i) {
        if (focus != nullptr && (focus == leaves[i] || leaves[i]->isAncestorOf(focus))) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

QWidget* CFileSplitter::GetFocusPane(int* counter) const
{
    std::vector<QWidget*> leaves;
    CollectLeaves(leaves);
    const int index = FocusLeafIndex(leaves);
    if (counter != nullptr) {
        *counter = index < 0 ? static_cast<int>(leaves.size()) : index;
    }
    return index < 0 ? nullptr : leaves[static_cast<size_t>(index)];
}

CPaneInfo CFileSplitter::GetFocusPaneInfo(const CRuntimeClass* cls) const
{
    for (QWidget* w = GetFocusPane(); w != nullptr; w = w->parentWidget()) {
        auto* frame = qobject_cast<CInnerFrm*>(w);
        if (frame != nullptr && frame->GetNumber() != 0) {
            return CPaneInfo(cls, frame->GetNumber());
        }
    }
    return CPaneInfo(cls, 0);
}

void CFileSplitter::FocusNextPane(bool forward)
{
    std::vector<QWidget*> leaves;
    CollectLeaves(leaves);
    const int index = FocusLeafIndex(leaves);
    if (index < 0) {
        return;
    }
    const int n = static_cast<int>(leaves.size());
    const int next = forward ? (index + 1) % n : (index + n - 1) % n;
    leaves[static_cast<size_t>(next)]->setFocus(forward ? Qt::TabFocusReason
                                                        : Qt::BacktabFocusReason);
}

bool CFileSplitter::HasSeveralPanes() const
{
    std::vector<QWidget*> leaves;
    CollectLeaves(leaves);
    return leaves.size() > 1;
}

void CFileSplitter::resizeEvent(QResizeEvent* event)
{
    // The child geometries still hold the sizes from before the resize.
    if (minimized) {
        // A minimized window is not seen; leaving the panes as they are lets
        // the resize that restores it start from the sizes the user saw.
        return;
    }
    const QList<int> before = sizes();
    QSplitter::resizeEvent(event);
    const QRect client = contentsRect();
    const int extent = layout ? client.width() : client.height();
    const int uncovered = layout ? uncovered_width : uncovered_height;
    if (deferred_size > 0 && count() == 2 && extent > 0) {
        // The first size the splitter gets: the split made before it had one
        // is made again, as if the pane had been shown now.
        const int first = SplitPosition(extent, deferred_min, deferred_size);
        deferred_size = 0;
        setSizes({first, std::max(pane_min[1], extent - uncovered - first)});
        return;
    }
    if (count() != 2 || before.size() != 2 || before[0] + before[1] <= 0) {
        return;
    }
    // The first pane keeps its size and the second takes the difference,
    // unless the second is to keep its size: then the first takes it.
    int first = std::min(before[0], extent - uncovered - pane_min[1]);
    for (const Entry& e : panes) {
        if (e.size < 0 && CRuntimeClass::Of(widget(1)) == e.cls) {
            first = extent - before[1] - uncovered;
            break;
        }
    }
    first = std::max(pane_min[0], first);
    setSizes({first, std::max(pane_min[1], extent - uncovered - first)});
}

QSplitterHandle* CFileSplitter::createHandle()
{
    if (flat) {
        return new CFlatSplitterHandle(orientation(), this);
    }
    return QSplitter::createHandle();
}

// ---------------------------------------------------------------------------
// CFileTreeFrm

CFileTreeFrm::CFileTreeFrm(QWidget* parent) : CInnerFrm(1, 1, parent)
{
    GetSplitter()->AddPane(&classCFileTreeView, -225, 0);
    GetSplitter()->AddPane(&classCFileListView, 240, 0);
}
