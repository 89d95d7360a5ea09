#include "foundation/kv_msg.h"

#include "foundation/kv_filetreenode.h"

#include <algorithm>
#include <new>

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

void KV_MsgTreeScan::prepare()
{
    order.clear();
    order_dup.clear();
    counted = 0;
    counted_size = 0;
    const uint32_t n = nodes.size();
    if (n == 0 || nodes.at(0) == nullptr) {
        return;
    }
    const bool cs = nodes.at(0)->case_sens();
    for (uint32_t i = 1; i < n; ++i) {
        if (nodes.at(i) == nullptr || nodes.at(i)->case_sens() != cs) {
            return;
        }
    }
    try {
        order.resize(n);
        for (uint32_t i = 0; i < n; ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            return nodes.at(a)->name().compare(nodes.at(b)->name(), cs) < 0;
        });
        order_dup.assign(n, 0);
    } catch (const std::bad_alloc&) {
        order.clear();
        order_dup.clear();
        return;
    }
    for (uint32_t k = 1; k < n; ++k) {
        order_dup[k] = nodes.at(order[k - 1])->name().compare(nodes.at(order[k])->name(), cs) == 0;
    }
    for (const KV_FileTreeNode* node : nodes) {
        if (node->is_dot_dir()) {
            continue;
        }
        ++counted;
        if (node->fdc().valid_size(true)) {
            counted_size += node->fdc().size(false);
        }
    }
    order_case_sens = cs;
}
