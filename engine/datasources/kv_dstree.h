// The data-source tree: every data source of the user, their folders and the
// live file-manager instances of each, and the text file they are kept in.
//
// Shape: the root group (KV_DsTreeNodeGrpDs) holds the three protocol groups
// (FTP, HTTP, SFTP) and the local-computer node; a protocol group holds data
// sources of its protocol and folders of the same kind, to any depth; a data
// source holds one instance node (KV_DsTreeNodeManInst) per live file manager
// of it. Instance nodes are never saved. Children keep insertion order.
//
// The tree is the only way to change that shape: it checks names (not empty,
// ids unique over the whole tree), tells one receiver (the program's
// data-source pane) about every visible change, and saves its file after each
// change of a saved node kind while automatic saving is on.
//
// The file: "kivrel.ds" in the settings folder (KV_PATH_SETTINGS). One record
// per saved node, in pre-order:
//     ### Node definition: <name> ###
//     NODE: TYPE = <type word> NAME = <ancestors' names and the name, joined with '|'>
//     SET <key> <value>            (zero or more, written by the node)
//     <empty line>
// Lines end with CR LF on disk; LF alone is accepted on reading. A file that
// does not parse is refused whole: the tree stays empty and nothing is
// written over that file until a later load succeeds. A save writes the text
// to "kivrel.ds.new", flushes it to the disk and renames it over "kivrel.ds",
// so the file on disk is always either the old or the new one, complete. A
// "kivrel.ds.tmp" left by an interrupted save of an earlier version is taken
// as the valid file by the next load.
//
// Ownership: the tree owns the root group; every other node is owned by its
// parent. Lookups return nodes that stay owned by the tree and valid only
// while the tree does not change; clones belong to the caller, who frees them
// with KV_DsTreeNode::destr_clone.
//
// Threads: no lock. One thread at a time: the user-interface thread (the
// program's panes and dialogs, and the engine root's processing of engine
// messages), and at start-up the thread that loads the file while the
// user-interface thread waits. Worker and manager threads never see tree
// nodes, only clones and parameters built from them. The receiver is called
// synchronously from inside the changing operation and must not change the
// tree from there.
#pragma once

#include <cstdint>

#include "datasources/kv_dstreenode.h"
#include "datasources/kv_dstreenodegrp.h"
#include "datasources/kv_filereqtransparams.h"
#include "datasources/kv_treenodentf.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_DsTreeInfo;
class KV_DsRoot;
class KV_TransOptsRecv;
class KV_LoginData;
class KV_Msg;
class KV_PathDef;

// The ancestors of a node from the root down to its parent (the node itself
// not included). The list does not own its elements.
using KV_DsTreePath = KVTL::KV_ListPtr<KV_DsTreeNode>;

// The one receiver of the tree's node notifications (the program's
// data-source pane). Called on the tree's thread, from inside the operation
// that made the change.
class KV_DsTreeNtfRecv
{
public:
    virtual ~KV_DsTreeNtfRecv() = default;
    // `node` was added (KV_TREE_NODE_ADDED; also when refresh() or a move
    // announces it again), removed (KV_TREE_NODE_REMOVED; the receiver must
    // let go of the node and everything below it, which is deleted right
    // after), changed its settings or name (KV_TREE_NODE_CHANGED) or its state
    // (KV_TREE_NODE_STATUS). `path` holds the node's ancestors, root first.
    // `flags` is what the caller of create, update or set_status gave, 0 from
    // every other operation; the tree does not look at it.
    virtual void on_node_ntf(KV_DsTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_DsTreePath& path,
                             uint8_t flags) = 0;
};

class KV_DsTree
{
public:
    // Empty, not loaded, automatic saving on. `err` receives the refusal
    // texts of create and update (priority 2) and must outlive the tree.
    explicit KV_DsTree(KV_ErrHandler& err);
    KV_DsTree(const KV_DsTree&) = delete;
    KV_DsTree& operator=(const KV_DsTree&) = delete;
    // Tells the receiver (when one is still set) that the root is removed,
    // then deletes every node.
    virtual ~KV_DsTree();

    // The engine root, not owned: needed to load (the default nodes), by the
    // temporary-source operations and by the manager notices.
    void set_pool(KV_DsRoot* const pool) { pool_ = pool; }
    // The receiver, not owned; null for none. Nothing is sent here: the
    // receiver calls refresh() to hear about the existing nodes.
    void set_ntf(KV_DsTreeNtfRecv* const recv) { ntf_recv = recv; }
    // Whether create, update and remove of saved node kinds save the file
    // themselves.
    void set_autosave(bool autosave) { autosave_ = autosave; }
    // The error handler given at construction; the nodes report there what
    // makes their save fail.
    KV_ErrHandler& eh() const { return err_handler; }

    // ---- the file

    // Takes over a "kivrel.ds.tmp" left by an interrupted save, reads
    // "kivrel.ds", builds the tree from it and adds the default nodes that
    // are missing. `trans` is the transfer manager that the root group hands
    // its options to. False for a missing, unreadable or malformed file: the
    // tree is then empty and save() writes nothing until a later load
    // succeeds.
    bool load(KV_TransOptsRecv& trans);
    // Writes the tree when it was loaded and its text differs from the file's
    // as last read or written. True also when nothing had to be written.
    // False when the text cannot be built or the file cannot be written
    // completely; the file on disk is then the previous one, and the next
    // save tries again.
    bool save();

    // ---- changing the tree (each reports a refusal as false or null)

    // Puts a clone of `node` under `parent` (null: as the root, when there is
    // none yet) and returns the clone now in the tree. The caller keeps
    // `node`. Refused: an empty name when `check_name` is set ("The name can't
    // be empty."), an id that a node of the tree already has ("Folder already
    // exists." / "Data source already exists."), a parent not in the tree, a
    // second root. A failed automatic save gives null although the clone stays
    // in the tree.
    KV_DsTreeNode* create(KV_DsTreeNode* const parent, KV_DsTreeNode* const node, uint8_t flags,
                          bool check_name);
    // Takes the node and everything below it out of the tree and deletes
    // them. A failed automatic save gives false although the node is gone.
    bool remove(KV_DsTreeNode* const node);
    // Moves `node` (with its subtree) under the group `dst`; with `test` only
    // answers whether it would. Refused: a read-only node, a node or
    // destination not in the tree, a destination that is not a group, lies in
    // the node's own subtree or is the node itself, the root, the current
    // parent, a group of another protocol, and a folder whose id would then
    // equal that of another node. The moved nodes take the path of their new
    // place. The file is not saved here.
    bool move(KV_DsTreeNode* const node, KV_DsTreeNode* const dst, bool test);
    // Stores `pass` in the login of the data source of `id`, through update
    // (its checks, notification and automatic save apply). Nothing happens
    // for an unknown id.
    void set_pass(const KV_DsId& id, const KV_String& pass);
    // Follows the file-manager notices (KV_MsgManNtf): an instance node comes
    // with a started manager and goes with it; documents opened or deleted
    // through a manager update its data source. True for other messages;
    // false for null and for a notice whose node is not found.
    bool process_ntf(const KV_Msg* const msg);
    // Removes every temporary data source that no live manager uses. False
    // without an engine root or when a removal fails.
    bool deltemp();
    // Removes `node` when it is a temporary data source that no live manager
    // uses; removed tells whether it did.
    bool deltemp_node(KV_DsTreeNode* const node, bool& removed);

    // ---- notifications

    // Tells the receiver about every node again (KV_TREE_NODE_ADDED), root
    // first, in pre-order. True without root or receiver.
    bool refresh();

    // ---- lookups (the nodes returned stay the tree's)

    // The first node of that kind in pre-order, the root included; with
    // `grp`, the first group whose type_grp() is `type`. Null when none.
    KV_DsTreeNode* find(KV_DS_NODE_TYPE type, bool grp) const;
    // The node whose id() equals `id` (a data source: instance number 0; an
    // instance node: its manager's id).
    KV_DsTreeNode* find(const KV_FileManId& id) const;
    // The first node below the root with exactly that name.
    KV_DsTreeNode* find(const KV_String& name) const;
    // The node whose child list holds `node`; null for the root, for a direct
    // child of the root and for a node not in the tree.
    KV_DsTreeNode* parent(const KV_DsTreeNode* const node) const;
    // The group of the node's protocol that encloses it (for a group: of its
    // own group type). With `inh`, the walk goes on further up while the
    // group found takes its settings from its own enclosing group. Null when
    // there is none.
    KV_DsTreeNodeGrp* parent_grp(const KV_DsTreeNode* const node, bool inh) const;
    // A clone of `node` (null for null), owned by the caller (destr_clone).
    // With `resolve`, settings that the node inherits are taken from the
    // enclosing groups.
    KV_DsTreeNode* clone(const KV_DsTreeNode* const node, bool resolve) const;
    // The same for the data source of `id`; `*orig` (when given) receives the
    // node found in the tree, or null.
    KV_DsTreeNode* clone(const KV_DsId& id, bool resolve, KV_DsTreeNode** const orig) const;
    // Whether the node of `id` may not be edited: an unknown id, a node that
    // says so itself, the root and protocol groups, a node with a live
    // instance below it (a group only when `in_use` is set).
    bool rdonly(const KV_FileManId& id, bool in_use) const;
    // Clears `info` and fills it with the data sources and instances that
    // serve `addr` (any address when empty) of node type `type` (any when 0),
    // as `flags` ask:
    //   0x01 clone every node found, 0x02 leave out instance nodes,
    //   0x04 do not search the tree, 0x08 add a new data source for `addr`
    //   (named `addr`, with `login` when given and not empty), 0x10 that new
    //   data source is temporary, 0x20 it uses the secure variant of its
    //   protocol.
    // False when a clone or an info cannot be made.
    bool get_info(KV_DsTreeInfo& info, KV_DS_NODE_TYPE type, const KV_String& addr, uint8_t flags,
                  const KV_LoginData* const login) const;

    // Transfer parameters that the data sources' settings give; the defaults
    // when a data source is not found.
    KV_FileReqTransParamsCp params_cp(const KV_DsId& src, const KV_DsId& dst) const;
    KV_FileReqTransParamsCp params_fileop(const KV_DsId& id) const;
    KV_FileReqTransParamsRen params_ren(const KV_DsId& id) const;
    KV_FileReqTransParamsRm params_rm(const KV_DsId& id) const;

protected:
    // The engine root reaches update and set_status through its own
    // operations of those names.
    friend class KV_FileManPool;

    // Copies the settings and name of `from` into the tree's `node`. Refused:
    // an empty name ("The name can't be empty."), a change of visibility
    // ("Invalid name."), an id of another node ("Folder already exists." /
    // "Data source already exists."), a node not in the tree. A failed
    // automatic save gives false although the node changed.
    bool update(KV_DsTreeNode* const node, const KV_DsTreeNode* const from, uint8_t flags);
    // Tells the receiver that the node's state changed; false when the node
    // is not in the tree.
    bool set_status(KV_DsTreeNode* const node, uint8_t flags);

    // ---- the file, in pieces

    // The same as load(trans) with the root group's transfer manager given
    // as a pointer, which may be null (the root group then hands its options
    // to nobody).
    bool load(KV_TransOptsRecv* const trans);
    // The whole text of the tree (LF line ends) into `out`, cleared first.
    // An empty tree gives an empty text.
    bool save(KV_Stream& out) const;
    // One record and, recursively, those of the node's subtree. Nodes with an
    // empty name or without a type word are skipped with their subtree.
    bool save_node(KV_Storage& out, const KV_PathDef& parent_path,
                   const KV_DsTreeNode* const node) const;
    // The line parser: empties the tree, then builds it from `in` (LF or
    // CR LF line ends). False for a malformed text; the tree is then empty.
    bool load(KV_Stream& in, KV_TransOptsRecv* const trans);
    // Adds the root group, the three protocol groups and the local computer
    // where the tree lacks them. False without an engine root.
    bool set_default_nodes();

    // ---- walks (depth first, pre-order, first match wins)

    // With `from` null: the root when it has that name, else (with `deep`)
    // the search below the root. Else the children of `from`, and with `deep`
    // their subtrees.
    KV_DsTreeNode* find(const KV_DsTreeNode* const from, const KV_String& name, bool deep) const;
    KV_DsTreeNode* find(KV_DsTreeNode* const from, KV_DS_NODE_TYPE type, bool grp) const;
    // `from` and its subtree; `skip` is never a match. On a match `path`
    // (when given) receives the ancestors of the match from `from` down, then
    // the match.
    KV_DsTreeNode* find(KV_DsTreeNode* const from, const KV_FileManId& id,
                        KV_DsTreePath* const path, const KV_DsTreeNode* const skip) const;
    // Whether `node` lies below `from` (with `from` null: is in the tree);
    // `path` receives the nodes between. With `from` null and `deep` set,
    // `path` becomes the path list of `node`.
    bool find(const KV_DsTreeNode* const from, const KV_DsTreeNode* const node,
              KV_DsTreePath* const path, bool deep) const;
    KV_DsTreeNode* parent(const KV_DsTreeNode* const from, const KV_DsTreeNode* const node) const;
    bool get_info(const KV_DsTreeNode* const from, KV_DsTreeInfo& info, KV_DS_NODE_TYPE type,
                  const KV_String& addr, uint8_t flags) const;
    bool deltemp(KV_DsTreeNode* const from, bool& removed);
    // Tells the receiver that the root is removed, then deletes every node.
    void cleanup();

    // ---- notifications

    // False without a receiver and for a node that is never shown.
    bool inform(KV_DsTreeNode* const node, KV_TREE_NODE_NTF ntf, const KV_DsTreePath& path,
                uint8_t flags);
    // Announces `node` and its subtree as added.
    bool refresh_node(KV_DsTreeNode* const node, const KV_DsTreePath& path);

private:
    // Puts a clone of `node` under the last node of `path` (the root when
    // `path` is empty and there is no root yet), with the path text of its
    // place, and tells the receiver. `check_dupl` runs the id check against
    // the place the clone gets. No automatic save. Null on refusal.
    KV_DsTreeNode* insert_clone(const KV_DsTreePath& path, const KV_DsTreeNode* const node,
                                uint8_t flags, bool check_dupl);
    // Reports the refusal of a node whose id `found` already has.
    void refuse_dupl(const KV_DsTreeNode* const found);
    // A node of the class that a type word of the file names, with the
    // class's defaults (those that depend on a tree taken from `defaults`);
    // null for a word that names none.
    KV_DsTreeNode* new_node(const KV_String& word, KV_TransOptsRecv* const trans,
                            const KV_DsTree& defaults) const;
    // Writes the text to the file by way of "kivrel.ds.new".
    bool write_file(const KV_Stream& text) const;
    // The file's text as it is on disk, in its LF form.
    bool read_file(const KV_String& name, KV_Stream& text) const;

    bool loaded = false;
    bool autosave_ = true;
    // The file's text (LF line ends) as last read or written.
    KV_Stream cache;
    KV_DsRoot* pool_ = nullptr;
    KV_DsTreeNode* root = nullptr;
    KV_DsTreeNtfRecv* ntf_recv = nullptr;
    KV_ErrHandler& err_handler;
};
