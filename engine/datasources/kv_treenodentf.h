// The node events that a tree tells its receivers: the browse tree of a file
// manager (requests/kv_filetree.h) and the data-source tree
// (datasources/kv_dstree.h) share them.
#pragma once

#include <cstdint>

// Node events told to the receivers.
enum KV_TREE_NODE_NTF : uint32_t {
    KV_TREE_NODE_ADDED = 0,
    KV_TREE_NODE_REMOVED = 1,
    KV_TREE_NODE_CHANGED = 2,
    KV_TREE_NODE_STATUS = 3,        // the node's listing state changed
    KV_TREE_NODE_REFRESH = 4,       // a known node re-announced by refresh()
    KV_TREE_NODE_REFRESH_BEGIN = 5, // node null
    KV_TREE_NODE_REFRESH_END = 6,   // node null
};
