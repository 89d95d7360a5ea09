#ifndef KIVREL_VIEWS_FILELISTVIEW_H
#define KIVREL_VIEWS_FILELISTVIEW_H

// The file list of a browse pane: the entries of the pane's current folder
// in chosen columns, sorted; where the user opens, deletes, copies, cuts,
// pastes, drags and drops files, makes folders and renames entries in
// place.
//
// Its entries come only from the engine's browse tree: each arrives as a
// notice and goes to its sorted place (binary search, so the list is never
// sorted as a whole); a change of sort order empties the list and has the
// tree deliver the folder again. Requests go to the engine; the list
// changes when the engine reports the result.
//
// One model, two widgets: the details style shows it in a tree view with
// column headers, the icon and list styles in a list view. Both share the
// selection, so switching styles keeps the selected entries and the
// current one.
// User-interface thread only.

// Qt's headers first: moc reads the engine headers' standard includes only
// after Qt's have set the library's configuration macros.
#include <QAbstractItemDelegate>
#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QIcon>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "core/filecols.h"
#include "foundation/kv_filetreenode.h"
#include "views/fileview.h"

#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

class CBrowseFrm;
class QItemSelectionModel;
class QListView;
class QStackedLayout;
class QTreeView;
template <class Base> class CFileItemView;

// The rows of a file list: one tree node each, with the texts of the
// visible columns set when the row is inserted or its node changes.
class CFileListModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit CFileListModel(QObject* parent = nullptr);

    void SetPane(CBrowseFrm* pane) { this->pane = pane; }
    void SetFolderStatus(uint32_t status) { folder_status = status; }
    // Visible columns: indexes of the column table, in display order.
    void SetColumns(const std::vector<int>& columns);
    const std::vector<int>& GetColumns() const { return columns; }

    // Inserts the node at its sorted place; its row.
    int Insert(KV_FileTreeNode* node, const CFileSortOrder& order);
    // The row of the node, or -1.
    int RowOf(const KV_FileTreeNode* node) const;
    // The node has a row (without looking for it).
    bool Contains(const KV_FileTreeNode* node) const { return shown.count(node) != 0; }
    KV_FileTreeNode* NodeAt(int row) const;
    void RemoveRow(int row);
    void Clear();
    // Sets the row's texts and icon again.
    void Update(int row);
    // The rows whose look depends on the pane's colours are drawn again.
    void Redraw(int first, int last);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // Texts and icon are made when a view first asks for them: a listing
    // inserts every entry, a view shows a screenful.
    struct Row
    {
        KV_FileTreeNode* node;
        mutable QStringList texts;
        mutable QIcon icon;
        mutable bool filled = false;
    };
    void FillRow(const Row& row) const;
    const Row& Filled(int row) const;

    std::vector<Row> rows;
    // The nodes of `rows`: a listing adds its entries one by one, and
    // looking each up in the rows made a large folder quadratic.
    std::unordered_set<const KV_FileTreeNode*> shown;
    std::vector<int> columns;
    CBrowseFrm* pane = nullptr;
    uint32_t folder_status = 0;
};

class CFileListView : public QWidget, public CFileView
{
    Q_OBJECT
public:
    // The list styles, numbered as the browse window's style commands know
    // them.
    enum Style {
        kStyleIcons = 0,      // large icons, names below
        kStyleDetails = 1,    // one row per entry, in columns
        kStyleSmallIcons = 2, // small icons in rows
        kStyleList = 3,       // small icons in columns
    };

    explicit CFileListView(QWidget* parent = nullptr);
    ~CFileListView() override;

    CFileListModel* GetModel() const { return model; }
    // The selection both styles share.
    QItemSelectionModel* selectionModel() const { return selection; }
    void clearSelection();

    // The style shown now; a new list shows details.
    int GetStyle() const { return style; }
    // Shows the list in `style` (a Style value; others are ignored). The
    // selection, the current entry and the focus stay.
    void SetStyle(int style);
    // Puts the icons back on their grid; only the icon styles (large and
    // small icons) have one, so false in the others.
    bool ArrangeIcons();
    // The widget that shows the list in the current style.
    QAbstractItemView* GetItemView() const;
    const std::vector<int>& GetColumns() const { return model->GetColumns(); }
    const CFileSortOrder& GetSortOrder() const { return order; }

    // Empties the list; with `columns`, they become the visible columns;
    // then the tree delivers the folder again.
    void SetColumns(const std::vector<int>* columns);
    // The column chooser; on OK its columns apply and, when asked, become
    // the default of the pane's file-manager type.
    void ChooseColumns();
    // Re-reads the folder's status and redraws on a change; with
    // `select_first` a focused list without selection focuses its first row.
    void RefreshStatus(bool select_first);
    // The folder a drop at `pt` (viewport coordinates) goes into.
    KV_PathDef HitTestFolder(const QPoint& pt) const;
    // Selects every entry that is not read-only and takes the focus.
    void SelectAll();
    // A click on the column at display position `section`.
    void OnColumnClick(int section);
    // Enter on the selection: a folder is entered, a file opened.
    void OnEnter();
    // Files dropped at `pt` (viewport coordinates) with `keys` held: handed
    // to the adapter; the effect (1 copy, 2 move) or 0 when nothing was
    // queued.
    int OnDrop(const QMimeData* data, const QPoint& pt, Qt::KeyboardModifiers keys);

    // ---- CFileView
    void Unregister(QWidget* view, bool update_adapter) override;
    void NewDirectory() override;
    void Rename() override;
    void Delete(bool extended) override;
    void CopyToClipboard(bool cut) override;
    void Paste(bool extended) override;
    void FileOperation(KV_FILEOP op) override;
    bool UpdateStatus() override;
    void OnTreeMsg(const KV_MsgTreeNtf* msg) override;
    void OnTreeNode(KV_FileTreeNode* node, KV_TREE_NODE_NTF kind, const KV_PathDef& folder,
                    uint32_t view_number) override;
    bool GetSelection(uint32_t refuse_flags, KV_PathDef* path, uint32_t* type,
                      bool files_only) override;
    bool CanNewDirectory() override;
    bool CanRename() override;
    bool CanGoUp() override;
    KV_PathDef GetTargetPath() override;

    KV_FileData* GetSelectedEntry() const override;

    // Binds the view to its pane when it was not yet (once it sits inside
    // one); the first binding fills it. False without a pane or adapter.
    bool EnsureRegistered();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    template <class Base> friend class CFileItemView;

    // What the user does in either widget. A key outside name editing;
    // true when handled.
    bool OnKey(QKeyEvent* e);
    void OnDoubleClick(QAbstractItemView* view, QMouseEvent* e);
    void OnContextMenu(QAbstractItemView* view, QContextMenuEvent* e);
    void OnFocusIn();
    // Whether the entry of `row` may be edited; the editor then opens on
    // its name.
    bool CanEdit(int row);
    void OnEditStarted(int row);
    void OnCommit(QWidget* editor);
    // The entry whose editor closes; null when none was edited.
    KV_FileTreeNode* TakeEditing();
    void OnEditorClosed(KV_FileTreeNode* node);
    void OnStartDrag();
    void OnDragMove(QAbstractItemView* view, QDragMoveEvent* e);
    void OnDropEvent(QAbstractItemView* view, QDropEvent* e);
    // Opens the editor on the row's name; true when it opened.
    bool EditRow(int row);

    // The selected rows in list order.
    std::vector<int> SelectedRows() const;
    // The names of the selected rows; whether one is a folder.
    void SelectedNames(KVTL::KV_ListVal<KV_String>& names, bool* has_dir) const;
    // Nothing happens unless the current folder can be written as a path
    // of the file manager.
    bool FolderWritable() const;
    // Gives the node a row, at most a slice of them per pass of the event
    // loop; the rest wait in a queue for the next passes (InsertQueued), so
    // that a folder of 100,000 entries, which the engine announces all at
    // once, does not hold the window for the whole insertion.
    void InsertNode(KV_FileTreeNode* node);
    void InsertRow(KV_FileTreeNode* node);
    void InsertQueued();
    // Empties the list and the queue.
    void ClearRows();
    void RemoveTemp();
    void OnEndLabelEdit(KV_FileTreeNode* node, const QString& text);

    CFileListModel* model;
    QItemSelectionModel* selection = nullptr;
    QStackedLayout* stack = nullptr;
    CFileItemView<QTreeView>* details = nullptr;
    CFileItemView<QListView>* icons = nullptr;
    int style = kStyleDetails;
    CFileSortOrder order;
    uint32_t folder_status = 0;
    bool bound = false;
    // The "New directory" entry while its name is edited; owned here.
    std::unique_ptr<KV_FileTreeNode> temp_node;
    // The node whose name the open editor edits, and whether the editor is
    // to open again (an empty name was committed).
    KV_FileTreeNode* editing = nullptr;
    bool reopen = false;
    // Nodes announced and not in the list yet, in their order of arrival;
    // they live as long as rows would (a removal takes one out).
    std::vector<KV_FileTreeNode*> queued;
    std::unordered_set<const KV_FileTreeNode*> queued_set;
    size_t queued_next = 0;
    size_t inserted_in_pass = 0;
    QTimer* insert_timer = nullptr;
};

#endif
