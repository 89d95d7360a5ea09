#include "datasources/kv_dstreenodeds.h"

#include <cstdint>
#include <new>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"
#include "datasources/kv_filereqtransparams.h"
#include "datasources/kv_logindata.h"
#include "datasources/kv_optkeys.h"
#include "foundation/kv_uriman.h"

namespace {

// The login's fields that only one kind has, for the key tables.
const KV_String& acct_of(const KV_FileManParamsFtp& p)
{
    return p.ldata().acct();
}
void set_acct_of(KV_FileManParamsFtp& p, const KV_String& acct)
{
    p.ldata().set_acct(acct);
}
bool auth_of(const KV_FileManParamsHttp& p)
{
    return p.ldata().auth();
}
void set_auth_of(KV_FileManParamsHttp& p, bool auth)
{
    p.ldata().set_auth(auth);
}
uint16_t auth_cmds_of(const KV_FileManParamsHttp& p)
{
    return p.ldata().auth_cmds();
}
void set_auth_cmds_of(KV_FileManParamsHttp& p, uint16_t cmds)
{
    p.ldata().set_auth_cmds(cmds);
}

// The keys of each server kind in writing order, between the common keys of
// every node and the options' keys. The server keys read numbers as
// leniently as they always did, but a number that does not fit is ignored
// rather than cut down into some other value.
using Ftp = KV_FileManParamsFtp;
using FtpKeys = KV_OptKeys<Ftp>;
constexpr KV_OptKey<Ftp> ftp_keys[] = {
    FtpKeys::text<&Ftp::src_addr, &Ftp::set_src_addr>("SRC_ADDR"),
    FtpKeys::text<&Ftp::dst_addr, &Ftp::set_dst_addr>("DST_ADDR"),
    FtpKeys::num<&Ftp::security, &Ftp::set_security, &kv_optread::loose<UINT32_MAX>>("SECURITY"),
    FtpKeys::num<&Ftp::server_type, &Ftp::set_server_type, &kv_optread::loose<UINT32_MAX>>(
        "SERVER_TYPE"),
    FtpKeys::flag<&Ftp::anonymous, &Ftp::set_anonymous>("ANONYMOUS"),
    FtpKeys::text<&kv_ldata_user<Ftp>, &kv_ldata_set_user<Ftp>>("USER"),
    FtpKeys::text<&acct_of, &set_acct_of>("ACCT"),
    FtpKeys::pass<&kv_ldata_pass<Ftp>, &kv_ldata_set_pass<Ftp>>("PASS"),
};

using Http = KV_FileManParamsHttp;
using HttpKeys = KV_OptKeys<Http>;
constexpr KV_OptKey<Http> http_keys[] = {
    HttpKeys::text<&Http::src_addr, &Http::set_src_addr>("SRC_ADDR"),
    HttpKeys::text<&Http::dst_addr, &Http::set_dst_addr>("DST_ADDR"),
    HttpKeys::num<&Http::security, &Http::set_security, &kv_optread::loose<UINT32_MAX>>("SECURITY"),
    HttpKeys::flag<&auth_of, &set_auth_of>("AUTH"),
    // A 16-bit set of methods: a larger number is not one.
    HttpKeys::num<&auth_cmds_of, &set_auth_cmds_of, &kv_optread::uloose<UINT16_MAX>>("AUTH_CMDS"),
    HttpKeys::text<&kv_ldata_user<Http>, &kv_ldata_set_user<Http>>("USER"),
    HttpKeys::pass<&kv_ldata_pass<Http>, &kv_ldata_set_pass<Http>>("PASS"),
    HttpKeys::text<&Http::docs, &Http::set_docs>("DOCS"),
    HttpKeys::flag<&Http::update_docs, &Http::set_update_docs>("UPDATE_DOCS"),
};

using Sftp = KV_FileManParamsSftp;
using SftpKeys = KV_OptKeys<Sftp>;
constexpr KV_OptKey<Sftp> sftp_keys[] = {
    SftpKeys::text<&Sftp::src_addr, &Sftp::set_src_addr>("SRC_ADDR"),
    SftpKeys::text<&Sftp::dst_addr, &Sftp::set_dst_addr>("DST_ADDR"),
    SftpKeys::text<&kv_ldata_user<Sftp>, &kv_ldata_set_user<Sftp>>("USER"),
    SftpKeys::pass<&kv_ldata_pass<Sftp>, &kv_ldata_set_pass<Sftp>>("PASS"),
};

// A server node's keys against a new node's parameters, then its options'.
template <size_t N, class Params, class Opts>
bool save_server(const KV_DsTree& tree, KV_Storage& st, const KV_OptKey<Params> (&keys)[N],
                 const Params& p, const Params& def, const Opts& (Params::*opts)() const)
{
    return kv_opt_save(keys, st, p, def, &tree.eh()) && (p.*opts)().save(st, (def.*opts)());
}

// The node's own keys, then its options' keys, then the common keys of every
// node.
template <size_t N, class Params, class Opts>
bool load_server(KV_DsTreeNode& node, const KV_OptKey<Params> (&keys)[N], Params& p, Opts& opts,
                 const KV_String& key, const KV_String& value)
{
    bool handled = false;
    const bool ok = kv_opt_load(keys, p, key, value, handled);
    if (handled)
        return ok;
    if (!opts.load(key, value, handled))
        return false;
    return handled || node.KV_DsTreeNode::load(key, value);
}

// The first line of a server's info and the inheritance and comment lines.
KV_String srv_info(const KV_DsTreeNode& node, const char* scheme, const KV_String& def_path,
                   const KV_DsRoot& pool)
{
    (void)pool;
    return KV_UriMan::build_uri(scheme, node.srv(), def_path);
}

template <class Grp> const Grp* inh_grp(const KV_DsTree* tree, const KV_DsTreeNode& node)
{
    if (tree == nullptr || !node.inh_params())
        return nullptr;
    return dynamic_cast<const Grp*>(tree->parent_grp(&node, true));
}

// A copy of a server data source whose options come from its group when the
// node inherits them, so that a manager gets the settings in force.
template <class Grp, class Node, class Params, class Opts>
KV_DsTreeNode* clone_server(const Node& node, const KV_DsTree* tree, Params& (Node::*params)(),
                            const Opts& (Grp::*grp_opts)() const)
{
    auto* c = new (std::nothrow) Node();
    if (c == nullptr)
        return nullptr;
    c->operator=(&node);
    if (const auto* grp = inh_grp<Grp>(tree, node))
        (c->*params)().set_opts((grp->*grp_opts)());
    return c;
}

// A server data source can be opened once it has a name and an address.
template <class Params> bool server_can_open(const Params& p)
{
    return !p.name().empty() && !p.dst_addr().empty();
}

// A document opened on a server without a default folder becomes that folder.
template <class Params> bool adopt_def_path(Params& p, const KV_String& doc, bool& changed)
{
    changed = false;
    if (p.def_path().empty()) {
        p.set_def_path(doc, true);
        changed = true;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// KV_DsTreeNodeFtp

KV_DsTreeNodeFtp::KV_DsTreeNodeFtp() = default;

KV_DsTreeNodeFtp::~KV_DsTreeNodeFtp() = default;

bool KV_DsTreeNodeFtp::save(const KV_DsTree& tree, KV_Storage& st) const
{
    static const KV_DsTreeNodeFtp def_node;
    return KV_DsTreeNode::save(st, def_node) &&
           save_server(tree, st, ftp_keys, params_, def_node.params_, &Ftp::opts_ftp);
}

bool KV_DsTreeNodeFtp::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* node = dynamic_cast<const KV_DsTreeNodeFtp*>(other);
    if (node != nullptr && node != this)
        params_ = node->params_;
    return ok;
}

KV_DS_NODE_TYPE KV_DsTreeNodeFtp::type() const
{
    return KV_DS_NODE_FTP;
}

KV_String KV_DsTreeNodeFtp::save_type() const
{
    return KV_String("FTP");
}

KV_FileManId KV_DsTreeNodeFtp::id() const
{
    const KV_String user = params_.anonymous() ? KV_String("anonymous") : params_.ldata().user();
    return KV_FileManId(
        KV_DsId(KV_DS_NODE_FTP, params_.name().upper(), params_.dst_addr().upper(), user), 0);
}

KV_DsTreeNode* KV_DsTreeNodeFtp::clone(const KV_DsTree* tree) const
{
    return clone_server<KV_DsTreeNodeGrpFtp>(*this, tree, &KV_DsTreeNodeFtp::params_ftp,
                                             &KV_DsTreeNodeGrpFtp::opts_ftp);
}

bool KV_DsTreeNodeFtp::can_open() const
{
    return server_can_open(params_);
}

bool KV_DsTreeNodeFtp::node_doc_add(const KV_String& doc, bool& changed)
{
    return adopt_def_path(params_, doc, changed);
}

bool KV_DsTreeNodeFtp::load(const KV_String& key, const KV_String& value)
{
    return load_server(*this, ftp_keys, params_, params_.opts_ftp(), key, value);
}

bool KV_DsTreeNodeFtp::set_pass(const KV_String& pass)
{
    params_.ldata().set_pass(pass);
    return true;
}

KV_String KV_DsTreeNodeFtp::srv() const
{
    return params_.dst_addr();
}

KV_String KV_DsTreeNodeFtp::info(const KV_DsRoot& pool) const
{
    return srv_info(*this, params_.security() != 0 ? "FTPS" : "FTP", params_.def_path(), pool);
}

KV_FileReqTransParamsCp KV_DsTreeNodeFtp::params_cp(const KV_DsTreeNode& other) const
{
    KV_FileReqTransParamsCp cp;
    if (other.type() != KV_DS_NODE_FTP)
        return cp;
    switch (params_.opts_ftp().ftp().dtrans()) {
    case KV_FTP_DTRANS_ON:
        cp.set_dtrans(true);
        break;
    case KV_FTP_DTRANS_SAME_DS:
        if (static_cast<const KV_DsId&>(id()) == static_cast<const KV_DsId&>(other.id()))
            cp.set_dtrans(true);
        break;
    default:
        break;
    }
    return cp;
}

void KV_DsTreeNodeFtp::set_name(const KV_String& name)
{
    KV_DsTreeNode::set_name(name);
    params_.set_name(this->name());
}

// ---------------------------------------------------------------------------
// KV_DsTreeNodeHttp

KV_DsTreeNodeHttp::KV_DsTreeNodeHttp() = default;

KV_DsTreeNodeHttp::~KV_DsTreeNodeHttp() = default;

bool KV_DsTreeNodeHttp::save(const KV_DsTree& tree, KV_Storage& st) const
{
    static const KV_DsTreeNodeHttp def_node;
    return KV_DsTreeNode::save(st, def_node) &&
           save_server(tree, st, http_keys, params_, def_node.params_, &Http::opts_http);
}

bool KV_DsTreeNodeHttp::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* node = dynamic_cast<const KV_DsTreeNodeHttp*>(other);
    if (node != nullptr && node != this)
        params_ = node->params_;
    return ok;
}

KV_DS_NODE_TYPE KV_DsTreeNodeHttp::type() const
{
    return KV_DS_NODE_HTTP;
}

KV_String KV_DsTreeNodeHttp::save_type() const
{
    return KV_String("HTTP");
}

KV_FileManId KV_DsTreeNodeHttp::id() const
{
    const KV_String user = params_.ldata().auth() ? params_.ldata().user() : KV_String();
    return KV_FileManId(
        KV_DsId(KV_DS_NODE_HTTP, params_.name().upper(), params_.dst_addr().upper(), user), 0);
}

KV_DsTreeNode* KV_DsTreeNodeHttp::clone(const KV_DsTree* tree) const
{
    return clone_server<KV_DsTreeNodeGrpHttp>(*this, tree, &KV_DsTreeNodeHttp::params_http,
                                             &KV_DsTreeNodeGrpHttp::opts_http);
}

bool KV_DsTreeNodeHttp::can_open() const
{
    return server_can_open(params_);
}

bool KV_DsTreeNodeHttp::node_doc_add(const KV_String& doc, bool& changed)
{
    changed = false;
    return !params_.update_docs() || params_.add_doc(doc, changed);
}

bool KV_DsTreeNodeHttp::node_doc_del(const KV_String& doc, bool& changed)
{
    changed = false;
    return !params_.update_docs() || params_.del_doc(doc, changed);
}

bool KV_DsTreeNodeHttp::load(const KV_String& key, const KV_String& value)
{
    return load_server(*this, http_keys, params_, params_.opts_http(), key, value);
}

bool KV_DsTreeNodeHttp::set_pass(const KV_String& pass)
{
    params_.ldata().set_pass(pass);
    return true;
}

KV_String KV_DsTreeNodeHttp::srv() const
{
    return params_.dst_addr();
}

KV_String KV_DsTreeNodeHttp::info(const KV_DsRoot& pool) const
{
    return srv_info(*this, params_.security() != 0 ? "HTTPS" : "HTTP", params_.def_path(), pool);
}

void KV_DsTreeNodeHttp::set_name(const KV_String& name)
{
    KV_DsTreeNode::set_name(name);
    params_.set_name(this->name());
}

// ---------------------------------------------------------------------------
// KV_DsTreeNodeSftp

KV_DsTreeNodeSftp::KV_DsTreeNodeSftp() = default;

KV_DsTreeNodeSftp::~KV_DsTreeNodeSftp() = default;

bool KV_DsTreeNodeSftp::save(const KV_DsTree& tree, KV_Storage& st) const
{
    static const KV_DsTreeNodeSftp def_node;
    return KV_DsTreeNode::save(st, def_node) &&
           save_server(tree, st, sftp_keys, params_, def_node.params_, &Sftp::opts_sftp);
}

bool KV_DsTreeNodeSftp::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* node = dynamic_cast<const KV_DsTreeNodeSftp*>(other);
    if (node != nullptr && node != this)
        params_ = node->params_;
    return ok;
}

KV_DS_NODE_TYPE KV_DsTreeNodeSftp::type() const
{
    return KV_DS_NODE_SFTP;
}

KV_String KV_DsTreeNodeSftp::save_type() const
{
    return KV_String("SFTP");
}

KV_FileManId KV_DsTreeNodeSftp::id() const
{
    return KV_FileManId(KV_DsId(KV_DS_NODE_SFTP, params_.name().upper(), params_.dst_addr().upper(),
                                params_.ldata().user()),
                        0);
}

KV_DsTreeNode* KV_DsTreeNodeSftp::clone(const KV_DsTree* tree) const
{
    return clone_server<KV_DsTreeNodeGrpSftp>(*this, tree, &KV_DsTreeNodeSftp::params_sftp,
                                             &KV_DsTreeNodeGrpSftp::opts_sftp);
}

bool KV_DsTreeNodeSftp::can_open() const
{
    return server_can_open(params_);
}

bool KV_DsTreeNodeSftp::node_doc_add(const KV_String& doc, bool& changed)
{
    return adopt_def_path(params_, doc, changed);
}

bool KV_DsTreeNodeSftp::load(const KV_String& key, const KV_String& value)
{
    return load_server(*this, sftp_keys, params_, params_.opts_sftp(), key, value);
}

bool KV_DsTreeNodeSftp::set_pass(const KV_String& pass)
{
    params_.ldata().set_pass(pass);
    return true;
}

KV_String KV_DsTreeNodeSftp::srv() const
{
    return params_.dst_addr();
}

KV_String KV_DsTreeNodeSftp::info(const KV_DsRoot& pool) const
{
    return srv_info(*this, "SFTP", params_.def_path(), pool);
}

void KV_DsTreeNodeSftp::set_name(const KV_String& name)
{
    KV_DsTreeNode::set_name(name);
    params_.set_name(this->name());
}

// ---------------------------------------------------------------------------
// KV_DsTreeNodeStd

KV_DsTreeNodeStd::KV_DsTreeNodeStd() : params_(KV_FileManStdOpts()) {}

KV_DsTreeNodeStd::~KV_DsTreeNodeStd() = default;

bool KV_DsTreeNodeStd::save(const KV_DsTree& tree, KV_Storage& st) const
{
    (void)tree;
    static const KV_DsTreeNodeStd def_node;
    return KV_DsTreeNode::save(st, def_node) &&
           params_.opts_std().save(st, def_node.params_.opts_std());
}

bool KV_DsTreeNodeStd::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* node = dynamic_cast<const KV_DsTreeNodeStd*>(other);
    if (node != nullptr && node != this)
        params_ = node->params_;
    return ok;
}

KV_DS_NODE_TYPE KV_DsTreeNodeStd::type() const
{
    return KV_DS_NODE_STD;
}

KV_String KV_DsTreeNodeStd::save_type() const
{
    return KV_String("STD");
}

KV_FileManId KV_DsTreeNodeStd::id() const
{
    return KV_FileManId(KV_DsId(KV_DS_NODE_STD, params_.name().upper(), KV_String(), KV_String()),
                        0);
}

KV_DsTreeNode* KV_DsTreeNodeStd::clone(const KV_DsTree* tree) const
{
    (void)tree;
    auto* c = new (std::nothrow) KV_DsTreeNodeStd();
    if (c != nullptr)
        c->operator=(this);
    return c;
}

bool KV_DsTreeNodeStd::load(const KV_String& key, const KV_String& value)
{
    bool handled = false;
    if (!params_.opts_std().load(key, value, handled))
        return false;
    return handled || KV_DsTreeNode::load(key, value);
}

bool KV_DsTreeNodeStd::rdonly() const
{
    return true;
}

KV_String KV_DsTreeNodeStd::info(const KV_DsRoot& pool) const
{
    (void)pool;
    return KV_String("The local machine.");
}

void KV_DsTreeNodeStd::set_name(const KV_String& name)
{
    KV_DsTreeNode::set_name(name);
    params_.set_name(this->name());
}

// ---------------------------------------------------------------------------
// KV_DsTreeNodeManInst

KV_DsTreeNodeManInst::KV_DsTreeNodeManInst() = default;

KV_DsTreeNodeManInst::KV_DsTreeNodeManInst(const KV_FileManId& id, const KV_FileManOpts& opts)
    : opts_(opts), id_(id)
{
}

KV_DsTreeNodeManInst::~KV_DsTreeNodeManInst() = default;

bool KV_DsTreeNodeManInst::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* node = dynamic_cast<const KV_DsTreeNodeManInst*>(other);
    if (node != nullptr && node != this) {
        id_ = node->id_;
        opts_ = node->opts_;
    }
    return ok;
}

KV_DS_NODE_TYPE KV_DsTreeNodeManInst::type() const
{
    return KV_DS_NODE_MAN_INST;
}

KV_FileManId KV_DsTreeNodeManInst::id() const
{
    return id_;
}

KV_DsTreeNode* KV_DsTreeNodeManInst::clone(const KV_DsTree* tree) const
{
    (void)tree;
    auto* c = new (std::nothrow) KV_DsTreeNodeManInst();
    if (c != nullptr)
        c->operator=(this);
    return c;
}

bool KV_DsTreeNodeManInst::rdonly() const
{
    return true;
}

KV_String KV_DsTreeNodeManInst::srv() const
{
    return id_.name2();
}

KV_String KV_DsTreeNodeManInst::info(const KV_DsRoot& pool) const
{
    (void)pool;
    return KV_String();
}

void KV_DsTreeNodeManInst::updt_id(const KV_DsId& ds)
{
    id_ = KV_FileManId(ds, id_.impl());
}
