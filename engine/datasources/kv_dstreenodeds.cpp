#include "datasources/kv_dstreenodeds.h"

#include <cstdint>
#include <new>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"
#include "datasources/kv_filereqtransparams.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_uriman.h"

namespace {

// A u32 field written as decimal text. A number that does not fit (negative
// or above 32 bits) is ignored rather than wrapped round into some other
// value; anything else is read as leniently as the file always was.
bool load_u32(const KV_String& value, uint32_t& out)
{
    const long n = value.as_signed();
    if (n < 0 || static_cast<unsigned long>(n) > UINT32_MAX)
        return false;
    out = static_cast<uint32_t>(n);
    return true;
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

// The address and login keys that FTP, HTTP and SFTP share.
template <class Params> bool save_addrs(KV_Storage& st, const Params& p, const Params& def)
{
    if (p.src_addr() != def.src_addr() && !KV_KeyVal::save_var(st, "SRC_ADDR", p.src_addr()))
        return false;
    return p.dst_addr() == def.dst_addr() || KV_KeyVal::save_var(st, "DST_ADDR", p.dst_addr());
}

bool save_user(KV_Storage& st, const KV_LoginData& l, const KV_LoginData& def)
{
    return l.user() == def.user() || KV_KeyVal::save_var(st, "USER", l.user());
}

// Compared scrambled, as the file holds it.
bool save_pass(const KV_DsTree& tree, KV_Storage& st, const KV_LoginData& l,
               const KV_LoginData& def)
{
    KV_String pass;
    KV_String def_pass;
    if (!KV_LoginData::scramble(l.pass(), tree.eh(), pass) ||
        !KV_LoginData::scramble(def.pass(), tree.eh(), def_pass))
        return false;
    return pass == def_pass || KV_KeyVal::save_var(st, "PASS", pass);
}

// handled := whether `key` is SRC_ADDR, DST_ADDR, USER or PASS. False when a
// PASS value cannot be unscrambled.
template <class Params>
bool load_common(const KV_String& key, const KV_String& value, Params& p, bool& handled)
{
    handled = true;
    if (key == "SRC_ADDR") {
        p.set_src_addr(value);
    } else if (key == "DST_ADDR") {
        p.set_dst_addr(value);
    } else if (key == "USER") {
        p.ldata().set_user(value);
    } else if (key == "PASS") {
        KV_String pass;
        if (!KV_LoginData::unscramble(value, pass))
            return false;
        p.ldata().set_pass(pass);
    } else {
        handled = false;
    }
    return true;
}

// Options' keys, then the common keys of every node.
template <class Opts>
bool load_rest(KV_DsTreeNode& node, Opts& opts, const KV_String& key, const KV_String& value)
{
    bool handled = false;
    if (!opts.load(key, value, handled))
        return false;
    return handled || node.KV_DsTreeNode::load(key, value);
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
    const KV_FileManParamsFtp& def = def_node.params_;
    const KV_FileManParamsFtp& p = params_;
    if (!KV_DsTreeNode::save(st, def_node) || !save_addrs(st, p, def))
        return false;
    if (p.security() != def.security() &&
        !save_var(st, "SECURITY", static_cast<unsigned long>(p.security())))
        return false;
    if (p.server_type() != def.server_type() &&
        !save_var(st, "SERVER_TYPE", static_cast<unsigned long>(p.server_type())))
        return false;
    if (p.anonymous() != def.anonymous() && !save_bool(st, "ANONYMOUS", p.anonymous()))
        return false;
    if (!save_user(st, p.ldata(), def.ldata()))
        return false;
    if (p.ldata().acct() != def.ldata().acct() && !save_var(st, "ACCT", p.ldata().acct()))
        return false;
    return save_pass(tree, st, p.ldata(), def.ldata()) && p.opts_ftp().save(st, def.opts_ftp());
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
    bool handled = false;
    if (!load_common(key, value, params_, handled))
        return false;
    if (handled)
        return true;
    if (key == "SECURITY") {
        uint32_t n = 0;
        if (load_u32(value, n))
            params_.set_security(static_cast<KV_FTP_SECURE>(n));
        return true;
    }
    if (key == "SERVER_TYPE") {
        uint32_t n = 0;
        if (load_u32(value, n))
            params_.set_server_type(static_cast<KV_FTP_SERV_TYPE>(n));
        return true;
    }
    if (key == "ANONYMOUS") {
        bool anonymous = params_.anonymous();
        if (!set_bool(value, anonymous))
            return false;
        params_.set_anonymous(anonymous);
        return true;
    }
    if (key == "ACCT") {
        params_.ldata().set_acct(value);
        return true;
    }
    return load_rest(*this, params_.opts_ftp(), key, value);
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
    const KV_FileManParamsHttp& def = def_node.params_;
    const KV_FileManParamsHttp& p = params_;
    if (!KV_DsTreeNode::save(st, def_node) || !save_addrs(st, p, def))
        return false;
    if (p.security() != def.security() &&
        !save_var(st, "SECURITY", static_cast<unsigned long>(p.security())))
        return false;
    if (p.ldata().auth() != def.ldata().auth() && !save_bool(st, "AUTH", p.ldata().auth()))
        return false;
    if (p.ldata().auth_cmds() != def.ldata().auth_cmds() &&
        !save_var(st, "AUTH_CMDS", static_cast<unsigned long>(p.ldata().auth_cmds())))
        return false;
    if (!save_user(st, p.ldata(), def.ldata()) || !save_pass(tree, st, p.ldata(), def.ldata()))
        return false;
    const KV_String docs = p.docs();
    if (docs != def.docs() && !save_var(st, "DOCS", docs))
        return false;
    if (p.update_docs() != def.update_docs() && !save_bool(st, "UPDATE_DOCS", p.update_docs()))
        return false;
    return p.opts_http().save(st, def.opts_http());
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
    bool handled = false;
    if (!load_common(key, value, params_, handled))
        return false;
    if (handled)
        return true;
    if (key == "SECURITY") {
        uint32_t n = 0;
        if (load_u32(value, n))
            params_.set_security(static_cast<KV_FTP_SECURE>(n));
        return true;
    }
    if (key == "AUTH") {
        bool auth = params_.ldata().auth();
        if (!set_bool(value, auth))
            return false;
        params_.ldata().set_auth(auth);
        return true;
    }
    if (key == "AUTH_CMDS") {
        // A 16-bit set of methods: a larger number is not one, and is
        // ignored rather than cut down to some other set.
        const unsigned long cmds = value.as_unsigned();
        if (cmds <= UINT16_MAX)
            params_.ldata().set_auth_cmds(static_cast<uint16_t>(cmds));
        return true;
    }
    if (key == "DOCS")
        return params_.set_docs(value);
    if (key == "UPDATE_DOCS") {
        bool update = params_.update_docs();
        if (!set_bool(value, update))
            return false;
        params_.set_update_docs(update);
        return true;
    }
    return load_rest(*this, params_.opts_http(), key, value);
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
    const KV_FileManParamsSftp& def = def_node.params_;
    const KV_FileManParamsSftp& p = params_;
    return KV_DsTreeNode::save(st, def_node) && save_addrs(st, p, def) &&
           save_user(st, p.ldata(), def.ldata()) && save_pass(tree, st, p.ldata(), def.ldata()) &&
           p.opts_sftp().save(st, def.opts_sftp());
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
    bool handled = false;
    if (!load_common(key, value, params_, handled))
        return false;
    if (handled)
        return true;
    return load_rest(*this, params_.opts_sftp(), key, value);
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
    return load_rest(*this, params_.opts_std(), key, value);
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
