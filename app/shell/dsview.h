#ifndef KIVREL_SHELL_DSVIEW_H
#define KIVREL_SHELL_DSVIEW_H

// The data-source tree of the control window. The view never builds the tree
// itself: it is the engine tree's receiver and inserts, updates and removes
// items as the tree reports them. What the user does (rename, delete, drag a
// node onto a group) becomes an operation of the tree or the engine root,
// whose notices then change the view. User-interface thread only.

#include "datasources/kv_dstree.h"
#include "shell/paneclass.h"

#include <QHash>
#include <QList>
#include <QTreeWidget>
#include <cstdint>

class CDsView;
class KV_FileManPool;

class CDsView : public QTreeWidget
{
    Q_OBJECT
public:
    static const CRuntimeClass classCDsView;

    explicit CDsView(QWidget* parent = nullptr);
    ~CDsView() override;

    // Groups before other nodes, then display names without regard to case.
    static bool CompareNodes(const KV_DsTreeNode* a, const KV_DsTreeNode* b);

    static KV_DsTreeNode* NodeOf(const QTreeWidgetItem* item);
    // The item of `node` among the children of `parent` (null: the top
    // level), or null.
    QTreeWidgetItem* FindChildItem(QTreeWidgetItem* parent, const KV_DsTreeNode* node) const;
    // The item reached by following the ancestors, root first; null as soon
    // as one step fails.
    QTreeWidgetItem* FindItemByPath(const KV_DsTreePath& path) const;
    // From `item` (null: the selection) up to the first group.
    QTreeWidgetItem* GetGroupItem(QTreeWidgetItem* item) const;
    QTreeWidgetItem* SelectedItem() const;
    KV_DsTreeNode* SelectedNode() const;

    // Stops hearing the engine tree and empties the view, for a time in which
    // another thread changes the tree (the start-up loader): the tree tells
    // its receiver on the thread that changes it, and a widget may only be
    // changed on the user-interface thread.
    void Detach();
    // Hears the engine tree again and shows every node it holds, in the
    // tree's order. The items are built off the widget and inserted in one
    // step: one insertion per node would cost the model's bookkeeping each
    // time. The selection starts empty.
    void Attach();

    // The engine tree's notice (see KV_DsTreeNtfRecv).
    void OnDsTreeNtf(KV_DsTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_DsTreePath& path,
                     uint8_t flags);

    // Starts the label edit of the item unless the tree calls it read-only.
    void EditLabel(QTreeWidgetItem* item);
    // Commits a label edit: trims the text and updates the node through the
    // engine root; a failed update opens the editor again. Escape commits
    // too, so that a new node cannot stay without a name.
    void CommitLabel(QTreeWidgetItem* item, const QString& text);

    // Asks "Are you sure ..." through the engine root's informer and
    // removes the selected node on yes.
    void DeleteSelected();
    // Whether the selected node may be deleted (`in_use`) or renamed.
    bool CanChangeSelected(bool in_use) const;

    // Whether the group above the selection gathers nodes of `type`.
    bool IsSelGroupOfType(KV_DS_NODE_TYPE type) const;
    // Puts a copy of `templ` into the group above the selection and starts
    // the label edit on the new node, so that the user names it. False when
    // a step fails.
    bool NewNode(KV_DsTreeNode* templ);
    // The New commands: a data source of the selected group's protocol, or
    // a folder inside it.
    bool NewDataSource(KV_DS_NODE_TYPE type);
    bool NewFolder();

    // Whether moving `node` onto the group of `target` is possible
    // (`test`), or does it.
    bool MoveNode(KV_DsTreeNode* node, QTreeWidgetItem* target, bool test);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void startDrag(Qt::DropActions actions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class Receiver : public KV_DsTreeNtfRecv
    {
    public:
        explicit Receiver(CDsView* owner) : owner(owner) {}
        void on_node_ntf(KV_DsTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_DsTreePath& path,
                         uint8_t flags) override
        {
            if (owner != nullptr) {
                owner->OnDsTreeNtf(node, ntf, path, flags);
            }
        }
        CDsView* owner;
    };

    QTreeWidgetItem* InsertNodeItem(QTreeWidgetItem* parent, KV_DsTreeNode* node);
    void UpdateNodeItem(QTreeWidgetItem* item, const KV_DsTreeNode* node);
    void OpenOrToggle(QTreeWidgetItem* item, bool open_nongroups);
    void RegisterCommands();
    // The node a drag from this program carries, or null.
    KV_DsTreeNode* DraggedNode(const QMimeData* data) const;
    bool EvaluateDrop(QDropEvent* event);

    Receiver receiver{this};
    KV_FileManPool* pool;
    // While Attach builds: the items made so far, by node, and those of the
    // top level, not yet in the widget.
    bool building = false;
    QHash<const KV_DsTreeNode*, QTreeWidgetItem*> built;
    QList<QTreeWidgetItem*> built_top;
    QTreeWidgetItem* dragged = nullptr;
    uint32_t drag_handle = 0; // the handle of the running drag's record
};

#endif
