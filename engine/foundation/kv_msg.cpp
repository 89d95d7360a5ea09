#include "foundation/kv_msg.h"

#include "foundation/kv_filetreenode.h"

KV_Msg::~KV_Msg() = default;

KV_MsgTreeScan::KV_MsgTreeScan(const KV_PathDef& path) : KV_MsgTree(path)
{
    nodes.set_grow(128);
}

KV_MsgTreeScan::~KV_MsgTreeScan()
{
    for (KV_FileTreeNode* node : nodes) {
        delete node;
    }
    nodes.clear();
}
