#ifndef KIVREL_SHELL_INNERFRM_H
#define KIVREL_SHELL_INNERFRM_H

// The frame that holds views, and its splitter of named panes.
//
// Every window of the program that holds views is a CInnerFrm whose client is
// a CFileSplitter: at most two panes, side by side or stacked. A pane is
// either a view or another CInnerFrm, so the panes of a window form a tree;
// leaf panes are views. A pane is named by a CPaneInfo (class and number),
// and every operation that takes one also finds panes inside nested frames.
// A splitter knows which panes it may hold (AddPane): their class, number
// and remembered size. A negative size marks a pane whose size is kept when
// the window is resized.
//
// All of it belongs to the user-interface thread.

#include "menus/newframe.h"
#include "shell/paneclass.h"

#include <QPointer>
#include <QSplitter>
#include <QTimer>
#include <cstdint>
#include <vector>

class CFileSplitter;
class CInnerFrm;

// Names a pane: its class and its number. Number 0 matches any number, so
// panes of the same class in different nested frames are told apart by the
// number of the frame they sit in.
class CPaneInfo
{
public:
    CPaneInfo() = default;
    CPaneInfo(const CRuntimeClass* cls, uint32_t number) : cls(cls), number(number) {}

    const CRuntimeClass* GetClass() const { return cls; }
    uint32_t GetNumber() const { return number; }

private:
    const CRuntimeClass* cls = nullptr;
    uint32_t number = 0;
};

// Frame whose client is a pane splitter. Owners add the panes they may show
// in their constructor (GetSplitter()->AddPane), set the pending pane to the
// one they want first, then call Create.
class CInnerFrm : public CNewFrameWnd
{
    Q_OBJECT
public:
    static const CRuntimeClass classCInnerFrm;

    // `layout` non-zero: panes side by side; 0: stacked. `flat`: a splitter
    // without borders whose bars are drawn flat. The frame's number is the
    // pending number at construction (set by a splitter that makes this frame
    // as one of its panes).
    CInnerFrm(uint8_t layout, uint8_t flat, QWidget* parent = nullptr);
    // A window that goes brings the control window to the top.
    ~CInnerFrm() override;

    // Makes the client: the splitter and its first pane, the pending pane.
    // Call once. False when no pane description matches the pending pane or
    // the pane could not be made.
    bool Create();

    CFileSplitter* GetSplitter() const { return splitter; }
    uint32_t GetNumber() const { return number; }
    bool IsSideBySide() const { return layout != 0; }

    // The blink: every 500 ms Flash(false) until StopFlash, which calls
    // Flash(true). Starting a running blink changes nothing.
    void StartFlash();
    void StopFlash();
    bool IsFlashing() const { return blink.isActive(); }

    // One blink step; `stop` ends the blinking. The base asks the window
    // manager to draw attention to the window (it cannot take the request
    // back, so `stop` does nothing here).
    virtual void Flash(bool stop);

    // Called around the making of each pane of this frame's splitter.
    virtual void OnBeforeCreatePane(const CRuntimeClass* cls);
    virtual void OnAfterCreatePane(const CRuntimeClass* cls);

    // The view that commands go to first; null when none. A view removed from
    // the splitter stops being the active view of every frame holding it.
    QWidget* GetActiveView() const { return active_view; }
    void SetActiveView(QWidget* view) { active_view = view; }

protected:
    // Makes the splitter's first pane. Derived frames that add client parts
    // call the base first.
    virtual bool OnCreateClient();

    // Activation: restores the focus (OnActivate); minimizing: tells the
    // splitter so that restoring keeps the pane sizes.
    void changeEvent(QEvent* event) override;
    void OnActivate(bool active);

private:
    QTimer blink;
    uint8_t layout;
    uint32_t number;
    QPointer<QWidget> saved_focus;
    QPointer<QWidget> active_view;
    CFileSplitter* splitter; // the central widget, owned through Qt
};

// The splitter of a CInnerFrm: a dynamic splitter of at most two panes (one
// row of two columns when side by side, two rows of one column when
// stacked). Panes are made from the pane descriptions added with AddPane;
// which one is made next is the pending pane.
class CFileSplitter : public QSplitter
{
    Q_OBJECT
public:
    explicit CFileSplitter(bool flat, QWidget* parent = nullptr);
    ~CFileSplitter() override;

    void SetOwner(CInnerFrm* frame) { owner = frame; }
    CInnerFrm* GetOwner() const { return owner; }

    // Adds a pane this splitter may show: its class, its size in pixels when
    // shown (negative: also kept on resizing) and its number (0: any).
    void AddPane(const CRuntimeClass* cls, int size, uint32_t number);

    // The pane the next pane creation makes, for every splitter.
    static void SetPendingPane(const CPaneInfo& info);

    // Sets the orientation (`layout` true: side by side) and makes the first
    // pane from the pending pane. False when it could not be made.
    bool Create(bool layout);

    // Shows the pane when hidden, hides it when shown; hiding the only pane
    // of a nested frame hides that frame instead. Whether a pane was shown or
    // hidden.
    bool TogglePane(const CPaneInfo& info);
    // Shows the pane by splitting the live splitter that may hold it; the new
    // pane comes after the first and gets about its remembered size. True
    // when it is shown afterwards (also when it was shown already).
    bool ShowPane(const CPaneInfo& info);
    bool IsPaneShown(const CPaneInfo& info) const;

    // The first pane in row-major order that is of the class (or derived from
    // it) and is not `skip`; `nested`: also inside nested frames. Or null.
    QWidget* FindPane(const CRuntimeClass* cls, const QWidget* skip, bool nested) const;
    // The shown pane that `info` names, with the splitter holding it and its
    // place there (each out value may be null). Null when not shown.
    QWidget* LocatePane(const CPaneInfo& info, CFileSplitter** holder = nullptr, int* row = nullptr,
                        int* column = nullptr) const;

    // The leaf pane holding the focus, or null; `counter` (may be null) gets
    // the number of leaves before it.
    QWidget* GetFocusPane(int* counter = nullptr) const;
    // `cls` with the number of the nearest frame around the focus pane that
    // has a non-zero number (0 when none).
    CPaneInfo GetFocusPaneInfo(const CRuntimeClass* cls) const;
    // Moves the focus to the next (previous) leaf, wrapping; nothing when no
    // leaf holds the focus.
    void FocusNextPane(bool forward);
    bool HasSeveralPanes() const;

    int GetRowCount() const;
    int GetColumnCount() const;
    QWidget* GetPane(int row, int column) const;
    // Smallest size of a row (column) in pixels: 1 at first, 3 after a split.
    int GetRowMin(int row) const;
    int GetColumnMin(int column) const;
    // Splits the first row (column) so that it is `position` pixels; the new
    // pane is made from the pending pane. False when the splitter is full,
    // lies the other way or the pane could not be made.
    bool SplitRow(int position);
    bool SplitColumn(int position);
    // Remove one row (column) and its pane when there is more than one.
    bool DeleteRow(int row);
    bool DeleteColumn(int column);

    // Set by the frame while it is minimized: resizing then leaves the panes
    // alone, so that restoring keeps their sizes.
    void SetMinimized(bool minimized) { this->minimized = minimized; }

protected:
    // Makes the pending pane at (row, column); false when no description
    // matches or the pane could not be made.
    virtual bool CreateView(int row, int column);
    // Removes the pane at (row, column) from the splitter and deletes it.
    virtual void DeleteView(int row, int column);

    void resizeEvent(QResizeEvent* event) override;
    QSplitterHandle* createHandle() override;

private:
    struct Entry
    {
        const CRuntimeClass* cls;
        uint32_t number;
        CFileSplitter* owner;
        int size;
    };

    static bool Matches(const Entry& entry, const CPaneInfo& info);
    const Entry* FindEntry(const CPaneInfo& info, int depth) const;
    bool ResolveShow(const CPaneInfo& info, CFileSplitter** holder, const Entry** entry);
    void CollectLeaves(std::vector<QWidget*>& leaves) const;
    int PaneIndex(int row, int column) const;
    bool Split(int position);
    // Where a split of `current` pixels puts the bar for a new pane of
    // `size`: that size, or the middle when it leaves the first pane less
    // than a usable strip.
    static int SplitPosition(int current, int minimum, int size);
    bool DeletePane(int index);
    void ApplyMinimums();

    bool minimized = false;
    std::vector<Entry> panes;
    CInnerFrm* owner = nullptr;
    bool layout = true;
    bool flat;
    int uncovered_width = 0;
    int uncovered_height = 0;
    int pane_min[2] = {1, 1};
    // The size of a pane shown before the splitter had a size of its own,
    // applied at its first resize; 0 when none waits. With the first pane's
    // minimum at that split.
    int deferred_size = 0;
    int deferred_min = 1;
};

// Class of the folder-tree view, which shows the folders of a data source
// (views/filetreeview.h).
extern const CRuntimeClass classCFileTreeView;
// Class of the file-list view, which lists one folder of a data source
// (views/filelistview.h).
extern const CRuntimeClass classCFileListView;

// The folder tree beside the file list, as one pane of a browse window: the
// tree keeps its 225 pixels when the window is resized, the list is shown
// 240 pixels wide.
class CFileTreeFrm : public CInnerFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classCFileTreeFrm;

    explicit CFileTreeFrm(QWidget* parent = nullptr);
};

#endif
