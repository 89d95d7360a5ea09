// The answer of a lookup by server address (KV_DsTree::get_info): the data
// sources and live instances that serve the address, and possibly a data
// source made for it, in a fixed order, each with an optional clone for the
// caller.
//
// While a result names an instance node, the live file manager of that
// instance is held locked (KV_FileReqMan::lock), so that neither the manager
// nor its instance node can go while somebody looks at the result; clear()
// and the destructor let go of every such lock.
//
// Threads: the tree's thread. The manager locks are the managers' own counted
// locks and safe against their threads.
#pragma once

#include "foundation/kv_ids.h"
#include "foundation/kvtl.h"

class KV_DsTreeNode;
class KV_DsRoot;

// One result.
class KV_DsTreeNodeInfo
{
public:
    // `orig` is the node found in the tree (not owned) or, with `new_node`,
    // a node made for the lookup, which is then also `clone`. `clone` is
    // owned: a clone of `orig` for the caller, the new node itself, or null.
    KV_DsTreeNodeInfo(KV_DsTreeNode* const orig, KV_DsTreeNode* const clone, bool new_node);
    KV_DsTreeNodeInfo(const KV_DsTreeNodeInfo&) = delete;
    KV_DsTreeNodeInfo& operator=(const KV_DsTreeNodeInfo&) = delete;
    // Frees the clone (and so a new node); a found `orig` is left alone.
    virtual ~KV_DsTreeNodeInfo();

    KV_DsTreeNode* orig() const { return orig_; }
    KV_DsTreeNode* clone() const { return clone_; }
    bool new_node() const { return new_node_; }

    // The order of the results: found nodes before new ones, then by the id
    // type of orig, then by name, then by instance number from the highest
    // down (the instances of a data source before the data source itself).
    // Equal: the same in all four. A null argument gives false.
    bool operator==(KV_DsTreeNodeInfo* const other) const;
    bool operator<(KV_DsTreeNodeInfo* const other) const;

private:
    KV_DsTreeNode* orig_;
    KV_DsTreeNode* clone_;
    bool new_node_;
};

// The ordered results of one lookup.
class KV_DsTreeInfo
{
public:
    // Empty. `pool`, the engine root, must outlive the object: it finds,
    // locks and unlocks the live file managers of instance results.
    explicit KV_DsTreeInfo(KV_DsRoot& pool);
    KV_DsTreeInfo(const KV_DsTreeInfo&) = delete;
    KV_DsTreeInfo& operator=(const KV_DsTreeInfo&) = delete;
    // clear().
    virtual ~KV_DsTreeInfo();

    // The results in their order, for reading; the infos stay owned here.
    const KVTL::KV_ListPtrSrt<KV_DsTreeNodeInfo>& list() const { return list_; }
    // Takes ownership of `info` in every case. An instance result is taken
    // only while its manager is live, and that manager is then locked. False
    // for null and for a result that was not taken (it is deleted).
    bool add(KV_DsTreeNodeInfo* const info);
    // Unlocks the managers held, deletes every result (with its clone),
    // empties the list, then lets the engine root delete the managers that
    // nobody holds any more.
    void clear();
    // The file manager to use for the address: the first live instance in
    // the order of the results, else the data source of the first result,
    // else an invalid id.
    KV_FileManId find_man() const;

private:
    KV_DsRoot& pool;
    KVTL::KV_ListPtrSrt<KV_DsTreeNodeInfo> list_;
};
