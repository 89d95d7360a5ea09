#ifndef KIVREL_VIEWS_FILETREEVIEW_H
#define KIVREL_VIEWS_FILETREEVIEW_H

// The folder tree of a browse pane: the folders of the data source as the
// engine's browse tree knows them, expanded on demand (an expansion asks
// the engine to list the folder; its entries arrive as notices). Selecting
// a folder shows it in the pane. Files appear only while the pane shows no
// file list. The same file operations as the list work on the selected
// item. User-interface thread only.

// Qt's headers first: moc reads the engine headers' standard includes only
// after Qt's have set the library's configuration macros.
#include <QAbstractItemModel>
#include <QIcon>
#include <QTreeView>

#include "foundation/kv_filetreenode.h"
#include "views/fileview.h"

#include <memory>
#include <vector>

class CBrowseFrm;

// The item of one tree node: the node, its children sorted as folders
// before files, "." and ".." first, then by name without case; the has-
// children flag shows an expander before the children are known.
class CFileTreeData
{
public:
    CFileTreeData(KV_FileTreeNode* node, CFileTreeData* parent) : node(node), parent(parent) {}

    KV_FileTreeNode* node;
    CFileTreeData* parent;
    std::vector<std::unique_ptr<CFileTreeData>> children;
    bool has_children = false;
    QIcon icon;
    QIcon open_icon;
    // What the tree draws: `icon`, and `open_icon` while selected.
    QIcon shown_icon;

    // The child showing `node`, or null.
    CFileTreeData* ChildOf(const KV_FileTreeNode* node) const;
    int Row() const;
};

class CFileTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit CFileTreeModel(QObject* parent = nullptr);
    ~CFileTreeModel() override;

    // The invisible root holds the top-level items.
    CFileTreeData* Root() { return &root; }
    CFileTreeData* DataOf(const QModelIndex& index) const;
    QModelIndex IndexOf(const CFileTreeData* item) const;
    void SetPane(CBrowseFrm* pane) { this->pane = pane; }

    // Inserts an item for `node` under `parent` at its sorted place.
    CFileTreeData* Insert(CFileTreeData* parent, KV_FileTreeNode* node);
    void Remove(CFileTreeData* item);
    void RemoveChildren(CFileTreeData* item);
    void Update(CFileTreeData* item);
    void SetHasChildren(CFileTreeData* item, bool has);
    // The folder a drag hovers over is drawn highlighted; null for none.
    void SetDropItem(const CFileTreeData* item);
    const CFileTreeData* GetDropItem() const { return drop_item; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void FillIcons(CFileTreeData* item) const;

    CFileTreeData root{nullptr, nullptr};
    CBrowseFrm* pane = nullptr;
    const CFileTreeData* drop_item = nullptr;
};

class CFileTreeView : public QTreeView, public CFileView
{
    Q_OBJECT
public:
    explicit CFileTreeView(QWidget* parent = nullptr);
    ~CFileTreeView() override;

    CFileTreeModel* GetModel() const { return model; }

    // The full path of an item (the names from the top level down).
    KV_PathDef PathOf(const CFileTreeData* item) const;
    // The item of a path; the top level compares exactly, below it the file
    // manager's case sensitivity counts. Null when not shown.
    CFileTreeData* ItemOf(const KV_PathDef& path) const;
    CFileTreeData* GetSelectedItem() const;
    CFileTreeData* GetPendingItem() const { return pending; }

    // Fills the tree anew, keeping the expanded folders and the selection
    // (the pane started or stopped showing a file list).
    void Rebuild();

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
    KV_FileData* GetSelectedEntry() const override;
    bool CanNewDirectory() override;
    bool CanRename() override;
    KV_PathDef GetTargetPath() override;

    // Binds the view to its pane when it was not yet (once it sits inside
    // one); the first binding fills it. False without a pane or adapter.
    bool EnsureRegistered();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* e) override;
    void commitData(QWidget* editor) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void startDrag(Qt::DropActions actions) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dragLeaveEvent(QDragLeaveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void InitialFill();
    void OnExpanded(const QModelIndex& index);
    void Select(CFileTreeData* item);
    void DeleteItem(CFileTreeData* item);
    void OnEndLabelEdit(CFileTreeData* item, const QString& text);
    void OnEnter();
    // The folder under a drop point whose path lies below the top level;
    // empty elsewhere.
    KV_PathDef DropFolder(const QPoint& pt) const;

    CFileTreeModel* model;
    CFileTreeData* pending = nullptr;
    bool internal_change = false;
    bool bound = false;
    std::unique_ptr<KV_FileTreeNode> temp_node;
    CFileTreeData* editing = nullptr;
    bool reopen = false;
};

#endif
