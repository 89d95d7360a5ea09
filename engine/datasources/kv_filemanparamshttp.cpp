#include "datasources/kv_filemanparamshttp.h"

#include <new>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"

namespace {

// The growth step of the document list, in elements.
constexpr uint32_t docs_grow = 85;

} // namespace

KV_FileManParamsHttp::KV_FileManParamsHttp()
{
    docs_.set_grow(docs_grow);
}

KV_FileManParamsHttp::KV_FileManParamsHttp(const KV_FileManParamsHttp& other)
    : KV_FileManParams(other)
{
    docs_.set_grow(docs_grow);
    *this = other;
}

KV_FileManParamsHttp& KV_FileManParamsHttp::operator=(const KV_FileManParamsHttp& other)
{
    if (&other == this)
        return *this;
    KV_FileManParams::operator=(other);
    src_addr_ = other.src_addr_;
    dst_addr_ = other.dst_addr_;
    opts_ = other.opts_;
    security_ = other.security_;
    ldata_ = other.ldata_;
    proxy_ = other.proxy_;
    update_docs_ = other.update_docs_;
    other.get_docs(docs_);
    return *this;
}

KV_FileManParamsHttp::~KV_FileManParamsHttp()
{
    docs_.clear();
}

bool KV_FileManParamsHttp::operator==(const KV_FileManParams& other) const
{
    if (other.type() != type())
        return false;
    const auto* o = dynamic_cast<const KV_FileManParamsHttp*>(&other);
    return o != nullptr && src_addr_ == o->src_addr_ && dst_addr_ == o->dst_addr_ &&
           ldata_ == o->ldata_;
}

KV_FileManParams* KV_FileManParamsHttp::clone() const
{
    return new (std::nothrow) KV_FileManParamsHttp(*this);
}

bool KV_FileManParamsHttp::init(const KV_DsTree& tree, KV_DsTreeNode* const node)
{
    const KV_DsTreeNode* grp = node != nullptr ? tree.parent_grp(node, true) : nullptr;
    if (!KV_FileManParams::init(tree, node))
        return false;
    const auto* http = dynamic_cast<const KV_DsTreeNodeGrpHttp*>(grp);
    if (http == nullptr)
        return false;
    proxy_ = http->proxy();
    return true;
}

void KV_FileManParamsHttp::set_src_addr(const KV_String& addr)
{
    src_addr_ = addr.trim();
}

void KV_FileManParamsHttp::set_dst_addr(const KV_String& addr)
{
    dst_addr_ = addr.trim();
}

bool KV_FileManParamsHttp::get_docs(KVTL::KV_ListVal<KV_String>& list) const
{
    list.clear();
    for (uint32_t i = 0; i < docs_.size(); ++i) {
        if (!list.add(docs_.at(i)))
            return false;
    }
    return true;
}

bool KV_FileManParamsHttp::add_doc(const KV_String& doc, bool& changed)
{
    changed = false;
    const KV_String d = doc.trim();
    if (d.empty() || docs_.find(d))
        return true;
    changed = docs_.add(d);
    return changed;
}

bool KV_FileManParamsHttp::del_doc(const KV_String& doc, bool& changed)
{
    changed = false;
    const KV_String d = doc.trim();
    if (d.empty() || !docs_.find(d))
        return true;
    changed = docs_.remove(d);
    return changed;
}

bool KV_FileManParamsHttp::set_docs(const KV_String& text)
{
    docs_.clear();
    // Every line break separates documents, not only CR LF: a document can
    // hold no line break, since the file writer would split it into two.
    bool ok = true;
    uint32_t from = 0;
    const uint32_t n = text.length();
    for (uint32_t i = 0; ok && i <= n; ++i) {
        const char c = i < n ? text.data(i) : '\n';
        if (c != '\r' && c != '\n')
            continue;
        bool changed = false;
        ok = add_doc(text.part(from, i), changed);
        from = i + 1;
    }
    return ok;
}

KV_String KV_FileManParamsHttp::docs() const
{
    KV_String text;
    for (uint32_t i = 0; i < docs_.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += docs_.at(i);
    }
    return text;
}
