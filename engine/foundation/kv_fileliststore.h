// The entries of one folder listing, collected as browse-tree nodes so that a
// listing request can hand them over as one batch. A listing may be limited to
// a set of wanted names: workers ask is_wanted before adding a node, and
// missing() afterwards names the wanted ones that were never seen.
//
// Threads: filled by one worker thread, then handed over with its nodes to the
// consumer; never used by two threads at once.
#pragma once

#include <cstdint>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_FileTreeNode;

class KV_FileListStore : public KV_SafeObj
{
public:
    // wanted: the names to keep, or null for every name. Not owned: the
    // request that owns the store owns the list, which must outlive the store.
    KV_FileListStore(bool case_sens, const KVTL::KV_ListVal<KV_String>* wanted);
    // Deletes the nodes still held.
    virtual ~KV_FileListStore();
    KV_FileListStore(const KV_FileListStore&) = delete;
    KV_FileListStore& operator=(const KV_FileListStore&) = delete;

    // Deletes every stored node.
    void clear();
    // Appends and takes ownership; null is refused. On false the caller still
    // owns the node.
    bool add(KV_FileTreeNode* node);
    // Takes the node at index out of the store without deleting it: the caller
    // owns it then.
    bool remove_at(uint32_t index);
    // The stored nodes, in the order they were added.
    const KVTL::KV_ListPtr<KV_FileTreeNode>& entries() const { return nodes; }
    KVTL::KV_ListPtr<KV_FileTreeNode>& entries() { return nodes; }

    // The first node of that name (KV_String::compare with case_sens); *out
    // receives it when out is given.
    bool find(const KV_String& name, KV_FileTreeNode** out = nullptr) const;
    // As find, but only a node of node's kind (folder or file) matches.
    bool contains(const KV_FileTreeNode* node, KV_FileTreeNode** out = nullptr) const;
    // True without a wanted list, or when name is one of the wanted names.
    bool is_wanted(const KV_String& name) const;
    // The wanted names that no stored node bears, in list order, joined with
    // ", "; empty without a wanted list or when all were found.
    KV_String missing() const;

    const KVTL::KV_ListVal<KV_String>* wanted() const { return wanted_; }
    bool case_sens() const { return case_sens_; }

private:
    const KVTL::KV_ListVal<KV_String>* wanted_;
    KVTL::KV_ListPtr<KV_FileTreeNode> nodes;
    bool case_sens_;
};
