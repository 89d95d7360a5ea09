#include "foundation/kv_fileliststore.h"

#include "foundation/kv_filetreenode.h"

KV_FileListStore::KV_FileListStore(bool case_sens, const KVTL::KV_ListVal<KV_String>* wanted)
    : wanted_(wanted), case_sens_(case_sens)
{
    nodes.set_grow(256);
}

KV_FileListStore::~KV_FileListStore()
{
    clear();
}

void KV_FileListStore::clear()
{
    for (KV_FileTreeNode* node : nodes) {
        delete node;
    }
    nodes.clear();
}

bool KV_FileListStore::add(KV_FileTreeNode* node)
{
    return node && nodes.add(node);
}

bool KV_FileListStore::remove_at(uint32_t index)
{
    return nodes.remove_at(index);
}

bool KV_FileListStore::find(const KV_String& name, KV_FileTreeNode** out) const
{
    for (KV_FileTreeNode* node : nodes) {
        if (node && node->name().compare(name, case_sens_) == 0) {
            if (out) {
                *out = node;
            }
            return true;
        }
    }
    return false;
}

bool KV_FileListStore::contains(const KV_FileTreeNode* node, KV_FileTreeNode** out) const
{
    if (!node) {
        return false;
    }
    for (KV_FileTreeNode* stored : nodes) {
        if (stored && stored->is_dir() == node->is_dir() &&
            stored->name().compare(node->name(), case_sens_) == 0) {
            if (out) {
                *out = stored;
            }
            return true;
        }
    }
    return false;
}

bool KV_FileListStore::is_wanted(const KV_String& name) const
{
    if (!wanted_) {
        return true;
    }
    for (const KV_String& w : *wanted_) {
        if (w.compare(name, case_sens_) == 0) {
            return true;
        }
    }
    return false;
}

KV_String KV_FileListStore::missing() const
{
    KV_String text;
    if (!wanted_) {
        return text;
    }
    bool first = true;
    for (const KV_String& w : *wanted_) {
        if (find(w)) {
            continue;
        }
        if (!first) {
            text += ", ";
        }
        text += w;
        first = false;
    }
    return text;
}
