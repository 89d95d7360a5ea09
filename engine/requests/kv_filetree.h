// The browse tree of a file manager: the folders and files of its data source
// that the program has seen so far, from the root (the data-source name) down
// to the listed folders.
//
// Workers never touch the tree. They send tree messages (KV_MsgTreeScan,
// KV_MsgTreePwd, KV_MsgTreeNtf, KV_MsgTreeExp) through the informer, and the
// user-interface thread hands each one to process_ntf. A listing is merged
// into the known children by mark and sweep: a listing start marks every
// child, the listing unmarks what it names, its end removes what is still
// marked. Registered receivers (the program's tree and list views) are told
// of every node added, removed, changed or re-announced.
//
// Threads: everything here runs on the user-interface thread, receivers'
// calls included. Nothing is locked.
#pragma once

#include <cstdint>

#include "datasources/kv_treenodentf.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_Msg;
class KV_MsgTreeNtf;
class KV_MsgTreePwd;
class KV_MsgTreeScan;
class KV_MsgTreeExp;

// A view of the tree. Called on the user-interface thread, from inside
// process_ntf and refresh. The node pointers stay valid until the receiver is
// told of their removal (or of the removal of a folder above them).
class KV_FileTreeNtfRecv
{
public:
    virtual ~KV_FileTreeNtfRecv() = default;
    // A tree notice passed on as it came.
    virtual void on_tree_ntf(const KV_MsgTreeNtf* msg) = 0;
    // node (null for the refresh brackets) had event ntf; path is the folder
    // that holds it; extra is the value the caller of refresh gave (0 for
    // events caused by messages).
    virtual void on_node_ntf(KV_FileTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_PathDef& path,
                             uint32_t extra) = 0;
};

// The one receiver that hears when the node it watches has been listed again.
class KV_FileTreeGlobalNtfRecv
{
public:
    virtual ~KV_FileTreeGlobalNtfRecv() = default;
    // Called on the user-interface thread with act_node, after a listing of
    // it was merged or requested.
    virtual void node_updated(KV_FileTreeNode* node) = 0;

    // The node watched; set through KV_FileTree::set_act_inf.
    KV_FileTreeNode* act_node = nullptr;
};

class KV_FileTree
{
public:
    KV_FileTree();
    // Tells nobody: deletes every node and forgets the receivers.
    virtual ~KV_FileTree();
    KV_FileTree(const KV_FileTree&) = delete;
    KV_FileTree& operator=(const KV_FileTree&) = delete;

    // The root (the data-source name), null until the first current-folder
    // message. Owned by the tree.
    KV_FileTreeNode* root() const { return root_; }
    bool case_sens() const { return case_sens_; }
    void set_case_sens(bool case_sens) { case_sens_ = case_sens; }
    // The root can be listed (otherwise it is flagged not scanned).
    void set_root_scan(bool root_scan) { root_scan_ = root_scan; }
    // First-level folders are drives.
    void set_drv_relevant(bool drv_relevant) { drv_relevant_ = drv_relevant; }
    // The current folder of the first current-folder message.
    const KV_PathDef& pwd_path() const { return pwd_path_; }

    // The node at entries, walked from the root; null when one is missing or
    // the list is empty.
    KV_FileTreeNode* find(const KVTL::KV_ListVal<KV_String>& entries) const;
    // With a null parent the root when it bears name, else the child of
    // parent of that name; null when there is none.
    KV_FileTreeNode* find(KV_FileTreeNode* parent, const KV_String& name) const;

    // Adds or removes a receiver (not owned; it must stay alive while
    // registered). Receivers are told in registration order.
    bool reg(KV_FileTreeNtfRecv* recv);
    bool unreg(KV_FileTreeNtfRecv* recv);

    // The global receiver (not owned), null for none.
    void set_ntf(KV_FileTreeGlobalNtfRecv* recv) { glob_recv = recv; }
    // Sets the global receiver's watched node; nothing without one.
    void set_act_inf(const KV_FileTreeNode* node);
    // node_updated(node) when node is the one the global receiver watches.
    void inform_global(KV_FileTreeNode* node);

    // Stores the status and announces KV_TREE_NODE_STATUS; path is the node's
    // own path (the receivers get its folder).
    void set_status(KV_FileTreeNode* node, KV_TREE_NODE_STAT status, const KV_PathDef& path);
    // Tells every receiver on_node_ntf, unless notices are off. For
    // KV_TREE_NODE_STATUS, path is the node's own path and the receivers get
    // the path of its folder.
    void inform(KV_FileTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_PathDef& path,
                uint32_t extra);
    // Passes a tree notice to every receiver, unless notices are off.
    void inform(const KV_MsgTreeNtf* msg);

    // Re-announces the known nodes under path (the root for an empty path),
    // bracketed by KV_TREE_NODE_REFRESH_BEGIN and _END; with recursive, the
    // whole subtree. False when path is not in the tree.
    bool refresh(const KV_PathDef& path, uint32_t extra, bool recursive);
    // One slice of a refresh that a caller spreads over time: re-announces
    // (KV_TREE_NODE_REFRESH, no brackets) at most `max` children of the
    // folder at path, from the first one whose name sorts after `*after`
    // (from the first child when `*after` is empty), and sets `*after` to the
    // last name announced. The cursor is a name, so children added or
    // removed between slices shift nothing. The count announced (fewer than
    // `max`: the folder's end was reached); -1 when path is not in the tree.
    int64_t refresh_part(const KV_PathDef& path, uint32_t extra, KV_String* after, uint32_t max);

    // Applies one tree message; other messages are ignored (true). The message
    // stays the caller's; the nodes of a merged listing are taken out of it.
    // False for null, or when a node that was needed could not be found,
    // created or added.
    // A listing's notices come in the listing's order, but the folder's child
    // list already holds every new entry of that listing when the first one
    // is told; a sweep's removals are told after all of them left the list.
    bool process_ntf(KV_Msg* msg);

protected:
    bool refresh_node(const KV_PathDef& path, uint32_t extra, bool recursive);

private:
    // Read-only for the root and first-level folders, plus not-scanned or
    // drive where the tree's settings say so. level: path entries above node.
    void adj_flags(KV_FileTreeNode* node, uint32_t level) const;
    bool on_pwd(const KV_MsgTreePwd& msg);
    bool on_scan(KV_MsgTreeScan& msg);
    bool on_ntf(const KV_MsgTreeNtf& msg);
    bool on_exp(const KV_MsgTreeExp& msg);
    // The node of path, creating the missing folders on the way (announced as
    // added); null without a root or when one cannot be created.
    KV_FileTreeNode* make_path(const KV_PathDef& path);
    // Index of the child of that name in parent's sorted list; false when
    // there is none (*pos then holds the place where it would go).
    bool child_pos(const KV_FileTreeNode* parent, const KV_String& name, uint32_t* pos) const;
    // Removes every marked child of node in one pass, then announces each
    // removal (in list order) and deletes the removed nodes.
    void sweep(KV_FileTreeNode* node, const KV_PathDef& path);

    bool ntf_on = true;
    KV_PathDef pwd_path_;
    KV_FileTreeGlobalNtfRecv* glob_recv = nullptr;
    KVTL::KV_ListPtr<KV_FileTreeNtfRecv> recvs;
    KV_FileTreeNode* root_ = nullptr;
    bool case_sens_ = true;
    bool root_scan_ = false;
    bool drv_relevant_ = false;
};
