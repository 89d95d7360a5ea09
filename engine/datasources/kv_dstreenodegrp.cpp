#include "datasources/kv_dstreenodegrp.h"

#include <new>

#include "datasources/kv_dstree.h"
#include "datasources/kv_logindata.h"
#include "datasources/kv_transoptsrecv.h"

namespace {

// Sent as the password of anonymous FTP logins until the user gives one;
// servers expect an e-mail address there.
const char anonymous_pass_def[] = "guest@example.com";

// Bit of KV_FileManOpts::disp_info: the list pane for the open-with source.
constexpr uint16_t disp_open_with_list = 0x0200;

// A password setting written scrambled when it differs from `def`'s.
bool save_pass(const KV_DsTree& tree, KV_Storage& st, const char* key, const KV_String& pass,
               const KV_String& def)
{
    KV_String text;
    KV_String def_text;
    if (!KV_LoginData::scramble(pass, tree.eh(), text) ||
        !KV_LoginData::scramble(def, tree.eh(), def_text))
        return false;
    return text == def_text || KV_KeyVal::save_var(st, key, text);
}

// A new protocol group opens the local computer next to its servers.
void init_opts(const KV_DsTree& tree, KV_FileManOpts& opts)
{
    const KV_DsTreeNode* local = tree.find(KV_DS_NODE_STD, false);
    if (local == nullptr)
        return;
    opts.set_open_with(local->id());
    opts.set_disp_info(static_cast<uint16_t>(opts.disp_info() | disp_open_with_list));
}

// The PROXY keys shared by the three protocols, in their writing order, each
// only when it differs from `def`.
template <class Proxy>
bool save_proxy(const KV_DsTree& tree, KV_Storage& st, const Proxy& proxy, const Proxy& def)
{
    if (proxy.type() != def.type() &&
        !KV_KeyVal::save_var(st, "PROXY", static_cast<unsigned long>(proxy.type())))
        return false;
    if (proxy.addr() != def.addr() && !KV_KeyVal::save_var(st, "PROXY_ADDR", proxy.addr()))
        return false;
    if (proxy.port() != def.port() &&
        !KV_KeyVal::save_var(st, "PROXY_PORT", static_cast<unsigned long>(proxy.port())))
        return false;
    if (proxy.ldata().user() != def.ldata().user() &&
        !KV_KeyVal::save_var(st, "PROXY_USER", proxy.ldata().user()))
        return false;
    return save_pass(tree, st, "PROXY_PASS", proxy.ldata().pass(), def.ldata().pass());
}

// handled := whether `key` is one of the PROXY keys. A proxy kind outside
// `max` or a port above 65535 is ignored, so that a damaged file cannot make
// the client use a kind it does not know or a port it did not name. False
// when a PROXY_PASS value cannot be unscrambled.
template <class Proxy, class Kind>
bool load_proxy(const KV_String& key, const KV_String& value, Proxy& proxy, Kind max, bool& handled)
{
    handled = true;
    if (key == "PROXY") {
        const long kind = value.as_signed();
        if (kind >= 0 && kind <= static_cast<long>(max))
            proxy.set_type(static_cast<Kind>(kind));
    } else if (key == "PROXY_ADDR") {
        proxy.set_addr(value);
    } else if (key == "PROXY_PORT") {
        proxy.set_port(value.as_unsigned());
    } else if (key == "PROXY_USER") {
        proxy.ldata().set_user(value);
    } else if (key == "PROXY_PASS") {
        KV_String pass;
        if (!KV_LoginData::unscramble(value, pass))
            return false;
        proxy.ldata().set_pass(pass);
    } else {
        handled = false;
    }
    return true;
}

// The text of a protocol group's info.
KV_String grp_info(const char* text, const KV_DsTreeNode& node, const KV_DsRoot& pool)
{
    (void)node;
    (void)pool;
    return KV_String(text);
}

// The group `node` inherits its settings from, when it inherits and `tree`
// is given; null otherwise.
template <class Grp> const Grp* inh_grp(const KV_DsTree* tree, const KV_DsTreeNode& node)
{
    if (tree == nullptr || !node.inh_params())
        return nullptr;
    return dynamic_cast<const Grp*>(tree->parent_grp(&node, true));
}

} // namespace

// ---------------------------------------------------------------------------
// KV_DsTreeNodeGrp

KV_DsTreeNodeGrp::~KV_DsTreeNodeGrp() = default;

KV_DS_NODE_TYPE KV_DsTreeNodeGrp::type() const
{
    return KV_DS_NODE_GRP;
}

KV_String KV_DsTreeNodeGrp::save_type() const
{
    return KV_String("GROUP|") + save_type_grp();
}

KV_FileManId KV_DsTreeNodeGrp::id() const
{
    const uint16_t kind = static_cast<uint16_t>((type_grp() << 8) | type());
    return KV_FileManId(KV_DsId(kind, name(), path(), KV_String()), 0);
}

bool KV_DsTreeNodeGrp::add_chldrn() const
{
    return true;
}

// ---------------------------------------------------------------------------
// KV_DsTreeNodeGrpDs

KV_DsTreeNodeGrpDs::KV_DsTreeNodeGrpDs(KV_TransOptsRecv* const man) : man_(man) {}

KV_DsTreeNodeGrpDs::~KV_DsTreeNodeGrpDs() = default;

bool KV_DsTreeNodeGrpDs::save(const KV_DsTree& tree, KV_Storage& st) const
{
    (void)tree;
    static const KV_DsTreeNodeGrpDs def;
    return KV_DsTreeNode::save(st, def) && opts_.save(st);
}

bool KV_DsTreeNodeGrpDs::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* grp = dynamic_cast<const KV_DsTreeNodeGrpDs*>(other);
    if (grp != nullptr && grp != this)
        opts_ = grp->opts_;
    return ok;
}

KV_DsTreeNode* KV_DsTreeNodeGrpDs::clone(const KV_DsTree* tree) const
{
    auto* c = new (std::nothrow) KV_DsTreeNodeGrpDs(man_);
    if (c == nullptr)
        return nullptr;
    c->operator=(this);
    if (const auto* from = inh_grp<KV_DsTreeNodeGrpDs>(tree, *this))
        c->opts_ = from->opts_;
    return c;
}

bool KV_DsTreeNodeGrpDs::load(const KV_String& key, const KV_String& value)
{
    bool handled = false;
    if (!opts_.load(key, value, handled))
        return false;
    return handled || KV_DsTreeNode::load(key, value);
}

bool KV_DsTreeNodeGrpDs::rdonly() const
{
    return true;
}

KV_String KV_DsTreeNodeGrpDs::info(const KV_DsRoot& pool) const
{
    (void)pool;
    return KV_String("Stores the data sources.");
}

void KV_DsTreeNodeGrpDs::post_updt()
{
    if (man_ != nullptr)
        man_->set_opts(opts_);
}

KV_String KV_DsTreeNodeGrpDs::save_type_grp() const
{
    return KV_String("DS");
}

KV_DS_NODE_TYPE KV_DsTreeNodeGrpDs::type_grp() const
{
    return KV_DS_NODE_GRP_DS;
}

bool KV_DsTreeNodeGrpDs::add_chldrn() const
{
    return false;
}

// ---------------------------------------------------------------------------
// KV_DsTreeNodeGrpFtp

KV_DsTreeNodeGrpFtp::KV_DsTreeNodeGrpFtp() = default;

KV_DsTreeNodeGrpFtp::KV_DsTreeNodeGrpFtp(const KV_DsTree& tree)
    : anonymous_pass_(anonymous_pass_def)
{
    init_opts(tree, opts_);
}

KV_DsTreeNodeGrpFtp::~KV_DsTreeNodeGrpFtp() = default;

void KV_DsTreeNodeGrpFtp::copy_settings(const KV_DsTreeNodeGrpFtp& from)
{
    opts_ = from.opts_;
    anonymous_pass_ = from.anonymous_pass_;
    proxy_ = from.proxy_;
}

bool KV_DsTreeNodeGrpFtp::save(const KV_DsTree& tree, KV_Storage& st) const
{
    static const KV_DsTreeNodeGrpFtp def(tree);
    if (!KV_DsTreeNode::save(st, def))
        return false;
    if (!save_pass(tree, st, "ANONYMOUS_PASS", anonymous_pass_, def.anonymous_pass_))
        return false;
    if (!save_proxy(tree, st, proxy_, def.proxy_))
        return false;
    if (proxy_.pasv() != def.proxy_.pasv() && !save_bool(st, "PROXY_PASV", proxy_.pasv()))
        return false;
    return opts_.save(st, def.opts_);
}

bool KV_DsTreeNodeGrpFtp::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* grp = dynamic_cast<const KV_DsTreeNodeGrpFtp*>(other);
    if (grp != nullptr && grp != this)
        copy_settings(*grp);
    return ok;
}

KV_DsTreeNode* KV_DsTreeNodeGrpFtp::clone(const KV_DsTree* tree) const
{
    auto* c = new (std::nothrow) KV_DsTreeNodeGrpFtp();
    if (c == nullptr)
        return nullptr;
    c->operator=(this);
    if (const auto* from = inh_grp<KV_DsTreeNodeGrpFtp>(tree, *this))
        c->copy_settings(*from);
    return c;
}

bool KV_DsTreeNodeGrpFtp::load(const KV_String& key, const KV_String& value)
{
    bool handled = false;
    if (!opts_.load(key, value, handled))
        return false;
    if (handled)
        return true;
    if (key == "ANONYMOUS_PASS") {
        KV_String pass;
        if (!KV_LoginData::unscramble(value, pass))
            return false;
        set_anonymous_pass(pass);
        return true;
    }
    if (key == "PROXY_PASV") {
        bool pasv = proxy_.pasv();
        if (!set_bool(value, pasv))
            return false;
        proxy_.set_pasv(pasv);
        return true;
    }
    if (!load_proxy(key, value, proxy_, KV_PROXY_FTP_USER_PORT, handled))
        return false;
    return handled || KV_DsTreeNode::load(key, value);
}

KV_String KV_DsTreeNodeGrpFtp::info(const KV_DsRoot& pool) const
{
    return grp_info("Stores the FTP servers.", *this, pool);
}

KV_String KV_DsTreeNodeGrpFtp::save_type_grp() const
{
    return KV_String("FTP");
}

KV_DS_NODE_TYPE KV_DsTreeNodeGrpFtp::type_grp() const
{
    return KV_DS_NODE_FTP;
}

void KV_DsTreeNodeGrpFtp::set_anonymous_pass(const KV_String& pass)
{
    anonymous_pass_ = pass.trim();
}

// ---------------------------------------------------------------------------
// KV_DsTreeNodeGrpHttp

KV_DsTreeNodeGrpHttp::KV_DsTreeNodeGrpHttp() = default;

KV_DsTreeNodeGrpHttp::KV_DsTreeNodeGrpHttp(const KV_DsTree& tree)
{
    init_opts(tree, opts_);
}

KV_DsTreeNodeGrpHttp::~KV_DsTreeNodeGrpHttp() = default;

void KV_DsTreeNodeGrpHttp::copy_settings(const KV_DsTreeNodeGrpHttp& from)
{
    opts_ = from.opts_;
    proxy_ = from.proxy_;
}

bool KV_DsTreeNodeGrpHttp::save(const KV_DsTree& tree, KV_Storage& st) const
{
    static const KV_DsTreeNodeGrpHttp def(tree);
    return KV_DsTreeNode::save(st, def) && save_proxy(tree, st, proxy_, def.proxy_) &&
           opts_.save(st, def.opts_);
}

bool KV_DsTreeNodeGrpHttp::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* grp = dynamic_cast<const KV_DsTreeNodeGrpHttp*>(other);
    if (grp != nullptr && grp != this)
        copy_settings(*grp);
    return ok;
}

KV_DsTreeNode* KV_DsTreeNodeGrpHttp::clone(const KV_DsTree* tree) const
{
    auto* c = new (std::nothrow) KV_DsTreeNodeGrpHttp();
    if (c == nullptr)
        return nullptr;
    c->operator=(this);
    if (const auto* from = inh_grp<KV_DsTreeNodeGrpHttp>(tree, *this))
        c->copy_settings(*from);
    return c;
}

bool KV_DsTreeNodeGrpHttp::load(const KV_String& key, const KV_String& value)
{
    bool handled = false;
    if (!opts_.load(key, value, handled))
        return false;
    if (handled)
        return true;
    if (!load_proxy(key, value, proxy_, KV_PROXY_HTTP_SOCKS5, handled))
        return false;
    return handled || KV_DsTreeNode::load(key, value);
}

KV_String KV_DsTreeNodeGrpHttp::info(const KV_DsRoot& pool) const
{
    return grp_info("Stores the HTTP servers.", *this, pool);
}

KV_String KV_DsTreeNodeGrpHttp::save_type_grp() const
{
    return KV_String("HTTP");
}

KV_DS_NODE_TYPE KV_DsTreeNodeGrpHttp::type_grp() const
{
    return KV_DS_NODE_HTTP;
}

// ---------------------------------------------------------------------------
// KV_DsTreeNodeGrpSftp

KV_DsTreeNodeGrpSftp::KV_DsTreeNodeGrpSftp() = default;

KV_DsTreeNodeGrpSftp::KV_DsTreeNodeGrpSftp(const KV_DsTree& tree)
{
    init_opts(tree, opts_);
}

KV_DsTreeNodeGrpSftp::~KV_DsTreeNodeGrpSftp() = default;

void KV_DsTreeNodeGrpSftp::copy_settings(const KV_DsTreeNodeGrpSftp& from)
{
    opts_ = from.opts_;
    proxy_ = from.proxy_;
}

bool KV_DsTreeNodeGrpSftp::save(const KV_DsTree& tree, KV_Storage& st) const
{
    static const KV_DsTreeNodeGrpSftp def(tree);
    return KV_DsTreeNode::save(st, def) && save_proxy(tree, st, proxy_, def.proxy_) &&
           opts_.save(st, def.opts_);
}

bool KV_DsTreeNodeGrpSftp::operator=(const KV_DsTreeNode* other)
{
    const bool ok = KV_DsTreeNode::operator=(other);
    const auto* grp = dynamic_cast<const KV_DsTreeNodeGrpSftp*>(other);
    if (grp != nullptr && grp != this)
        copy_settings(*grp);
    return ok;
}

KV_DsTreeNode* KV_DsTreeNodeGrpSftp::clone(const KV_DsTree* tree) const
{
    auto* c = new (std::nothrow) KV_DsTreeNodeGrpSftp();
    if (c == nullptr)
        return nullptr;
    c->operator=(this);
    if (const auto* from = inh_grp<KV_DsTreeNodeGrpSftp>(tree, *this))
        c->copy_settings(*from);
    return c;
}

bool KV_DsTreeNodeGrpSftp::load(const KV_String& key, const KV_String& value)
{
    bool handled = false;
    if (!opts_.load(key, value, handled))
        return false;
    if (handled)
        return true;
    if (!load_proxy(key, value, proxy_, KV_PROXY_SSH_SOCKS5, handled))
        return false;
    return handled || KV_DsTreeNode::load(key, value);
}

KV_String KV_DsTreeNodeGrpSftp::info(const KV_DsRoot& pool) const
{
    return grp_info("Stores the SFTP servers.", *this, pool);
}

KV_String KV_DsTreeNodeGrpSftp::save_type_grp() const
{
    return KV_String("SFTP");
}

KV_DS_NODE_TYPE KV_DsTreeNodeGrpSftp::type_grp() const
{
    return KV_DS_NODE_SFTP;
}
