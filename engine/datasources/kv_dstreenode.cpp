#include "datasources/kv_dstreenode.h"

#include <algorithm>

#include "datasources/kv_dstree.h"
#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparams.h"
#include "datasources/kv_filereqtransparams.h"

namespace {

// The HTTP data source that the automatic-update check keeps for itself; the
// user never sees it.
const char auto_updt_name[] = "Kivrel - Automatic Update";

} // namespace

KV_DsTreeNode::KV_DsTreeNode()
{
    list_.set_grow(10);
}

KV_DsTreeNode::~KV_DsTreeNode()
{
    for (uint32_t i = 0; i < list_.size(); ++i)
        delete list_.at(i);
    list_.clear();
}

bool KV_DsTreeNode::save(const KV_DsTree& tree, KV_Storage& st) const
{
    (void)tree;
    (void)st;
    return false;
}

bool KV_DsTreeNode::operator=(const KV_DsTreeNode* other)
{
    if (other == nullptr)
        return false;
    if (other == this)
        return true;
    set_name(other->name_);
    path_ = other->path_;
    comment_ = other->comment_;
    inh_params_ = other->inh_params_;
    return true;
}

KV_String KV_DsTreeNode::save_type() const
{
    return KV_String();
}

bool KV_DsTreeNode::can_open() const
{
    return true;
}

bool KV_DsTreeNode::node_doc_add(const KV_String& doc, bool& changed)
{
    (void)doc;
    changed = false;
    return true;
}

bool KV_DsTreeNode::node_doc_del(const KV_String& doc, bool& changed)
{
    (void)doc;
    changed = false;
    return true;
}

bool KV_DsTreeNode::load(const KV_String& key, const KV_String& value)
{
    if (key == "COMMENT") {
        set_comment(value);
        return true;
    }
    if (key == "INH_PARAMS") {
        bool inh = inh_params_;
        if (!set_bool(value, inh))
            return false;
        inh_params_ = inh;
        return true;
    }
    if (key == "DEFAULT_PATH") {
        KV_FileManParams* p = params();
        if (p == nullptr)
            return false;
        p->set_def_path(value, false);
        return true;
    }
    return false;
}

bool KV_DsTreeNode::rdonly() const
{
    const KV_FileManOpts* o = opts();
    return o != nullptr && o->rdonly();
}

bool KV_DsTreeNode::visible() const
{
    return name_ != auto_updt_name;
}

bool KV_DsTreeNode::set_pass(const KV_String& pass)
{
    (void)pass;
    return false;
}

KV_String KV_DsTreeNode::srv() const
{
    return KV_String();
}

KV_String KV_DsTreeNode::info(const KV_DsRoot& pool) const
{
    (void)pool;
    return KV_String();
}

KV_FileManParams* KV_DsTreeNode::params()
{
    return nullptr;
}

const KV_FileManParams* KV_DsTreeNode::params() const
{
    return nullptr;
}

KV_FileManOpts* KV_DsTreeNode::opts()
{
    KV_FileManParams* p = params();
    return p != nullptr ? &p->opts() : nullptr;
}

const KV_FileManOpts* KV_DsTreeNode::opts() const
{
    const KV_FileManParams* p = params();
    return p != nullptr ? &p->opts() : nullptr;
}

KV_FileReqTransParamsCp KV_DsTreeNode::params_cp(const KV_DsTreeNode& other) const
{
    (void)other;
    return KV_FileReqTransParamsCp();
}

KV_FileReqTransParamsRen KV_DsTreeNode::params_ren() const
{
    return KV_FileReqTransParamsRen();
}

KV_FileReqTransParamsRm KV_DsTreeNode::params_rm() const
{
    return KV_FileReqTransParamsRm();
}

void KV_DsTreeNode::set_name(const KV_String& name)
{
    // '|' separates the names of a path in the data-source file.
    name_ = name.replace("|", "").trim();
}

void KV_DsTreeNode::post_updt() {}

void KV_DsTreeNode::set_comment(const KV_String& comment)
{
    comment_ = comment.trim();
}

void KV_DsTreeNode::set_path(const KV_String& path)
{
    path_ = path.upper().trim();
}

bool KV_DsTreeNode::insert(KV_DsTreeNode* const child)
{
    if (child == nullptr)
        return false;
    // A group may hold thousands of data sources: growing by the small fixed
    // step would copy the whole list every few insertions, and loading such
    // a group would take time that grows with the square of its size.
    list_.set_grow(std::max<uint32_t>(10, list_.size()));
    return list_.add(child);
}

bool KV_DsTreeNode::remove(KV_DsTreeNode* const child)
{
    return child != nullptr && list_.remove(child);
}

KV_String KV_DsTreeNode::disp_name() const
{
    if (!save_type().empty())
        return name_;
    return KV_String(id());
}

KV_String KV_DsTreeNode::info_add(const KV_DsTree& tree) const
{
    KV_String text;
    if (inh_params_) {
        const KV_DsTreeNode* grp = tree.parent_grp(this, true);
        if (grp != nullptr && !grp->name().empty())
            text = KV_String("Inherits settings from: ") + grp->name();
    }
    if (!comment_.empty()) {
        if (!text.empty())
            text += "\r\n";
        text += "\r\n";
        text += comment_;
    }
    return text;
}

bool KV_DsTreeNode::save(KV_Storage& st, const KV_DsTreeNode& def) const
{
    if (comment_ != def.comment_ && !save_var(st, "COMMENT", comment_))
        return false;
    if (inh_params_ != def.inh_params_ && !save_bool(st, "INH_PARAMS", inh_params_))
        return false;
    const KV_FileManParams* p = params();
    if (p != nullptr) {
        const KV_FileManParams* dp = def.params();
        if (dp == nullptr || dp->def_path() != p->def_path())
            return save_var(st, "DEFAULT_PATH", p->def_path());
    }
    return true;
}

void KV_DsTreeNode::destr_clone(const KV_DsTreeNode* const node)
{
    delete node;
}

void KV_DsTreeNode::get_type(const KV_String& word, KV_DS_NODE_TYPE& type, bool& secure,
                             KV_DS_NODE_TYPE def)
{
    const KV_String w = word.trim().upper();
    if (w == "FTP") {
        type = KV_DS_NODE_FTP;
        secure = false;
    } else if (w == "FTPS") {
        type = KV_DS_NODE_FTP;
        secure = true;
    } else if (w == "HTTP") {
        type = KV_DS_NODE_HTTP;
        secure = false;
    } else if (w == "HTTPS") {
        type = KV_DS_NODE_HTTP;
        secure = true;
    } else if (w == "SFTP") {
        type = KV_DS_NODE_SFTP;
        secure = true;
    } else if (w.empty()) {
        type = def;
    } else {
        type = KV_DS_NODE_NONE;
    }
}
