#include "datasources/kv_dstreenodegrp.h"

#include <new>

#include "datasources/kv_dstree.h"
#include "datasources/kv_logindata.h"
#include "datasources/kv_optkeys.h"
#include "datasources/kv_transoptsrecv.h"

namespace {

// Sent as the password of anonymous FTP logins until the user gives one;
// servers expect an e-mail address there.
const char anonymous_pass_def[] = "guest@example.com";

// Bit of KV_FileManOpts::disp_info: the list pane for the open-with source.
constexpr uint16_t disp_open_with_list = 0x0200;

// A new protocol group opens the local computer next to its servers.
void init_opts(const KV_DsTree& tree, KV_FileManOpts& opts)
{
    const KV_DsTreeNode* local = tree.find(KV_DS_NODE_STD, false);
    if (local == nullptr)
        return;
    opts.set_open_with(local->id());
    opts.set_disp_info(static_cast<uint16_t>(opts.disp_info() | disp_open_with_list));
}

// The PROXY keys of the three protocols, in their writing order. A proxy
// kind above Max or a port above 65535 is ignored, so that a damaged file
// cannot make the client use a kind it does not know or a port it did not
// name.
template <class Proxy, unsigned long Max>
constexpr KV_OptKey<Proxy> proxy_keys[] = {
    KV_OptKeys<Proxy>::template num<&Proxy::type, &Proxy::set_type, &kv_optread::loose<Max>>(
        "PROXY"),
    KV_OptKeys<Proxy>::template text<&Proxy::addr, &Proxy::set_addr>("PROXY_ADDR"),
    KV_OptKeys<Proxy>::template num<&Proxy::port, &Proxy::set_port,
                                    &kv_optread::uloose<UINT16_MAX>>("PROXY_PORT"),
    KV_OptKeys<Proxy>::template text<&kv_ldata_user<Proxy>, &kv_ldata_set_user<Proxy>>(
        "PROXY_USER"),
    KV_OptKeys<Proxy>::template pass<&kv_ldata_pass<Proxy>, &kv_ldata_set_pass<Proxy>>(
        "PROXY_PASS"),
};

constexpr auto& ftp_proxy_keys = proxy_keys<KV_ProxyOptsFtp, KV_PROXY_FTP_USER_PORT>;
constexpr auto& http_proxy_keys = proxy_keys<KV_ProxyOptsHttp, KV_PROXY_HTTP_SOCKS5>;
constexpr auto& sftp_proxy_keys = proxy_keys<KV_ProxyOptsSsh, KV_PROXY_SSH_SOCKS5>;

// The FTP group writes these after its PROXY keys.
constexpr KV_OptKey<KV_ProxyOptsFtp> ftp_pasv_keys[] = {
    KV_OptKeys<KV_ProxyOptsFtp>::flag<&KV_ProxyOptsFtp::pasv, &KV_ProxyOptsFtp::set_pasv>(
        "PROXY_PASV"),
};

// The FTP group writes this before its PROXY keys.
constexpr KV_OptKey<KV_DsTreeNodeGrpFtp> ftp_grp_keys[] = {
    KV_OptKeys<KV_DsTreeNodeGrpFtp>::pass<&KV_DsTreeNodeGrpFtp::anonymous_pass,
                                          &KV_DsTreeNodeGrpFtp::set_anonymous_pass>(
        "ANONYMOUS_PASS"),
};

// A protocol group's options' keys, then its proxy's, then the common keys
// of every node.
template <class Opts, size_t N, class Proxy>
bool load_grp(KV_DsTreeNode& node, Opts& opts, const KV_OptKey<Proxy> (&keys)[N], Proxy& proxy,
              const KV_String& key, const KV_String& value)
{
    bool handled = false;
    if (!opts.load(key, value, handled))
        return false;
    if (handled)
        return true;
    const bool ok = kv_opt_load(keys, proxy, key, value, handled);
    return handled ? ok : node.KV_DsTreeNode::load(key, value);
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
    KV_ErrHandler* eh = &tree.eh();
    return KV_DsTreeNode::save(st, def) && kv_opt_save(ftp_grp_keys, st, *this, def, eh) &&
           kv_opt_save(ftp_proxy_keys, st, proxy_, def.proxy_, eh) &&
           kv_opt_save(ftp_pasv_keys, st, proxy_, def.proxy_) && opts_.save(st, def.opts_);
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
    bool ok = kv_opt_load(ftp_grp_keys, *this, key, value, handled);
    if (!handled)
        ok = kv_opt_load(ftp_pasv_keys, proxy_, key, value, handled);
    return handled ? ok : load_grp(*this, opts_, ftp_proxy_keys, proxy_, key, value);
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
    return KV_DsTreeNode::save(st, def) &&
           kv_opt_save(http_proxy_keys, st, proxy_, def.proxy_, &tree.eh()) &&
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
    return load_grp(*this, opts_, http_proxy_keys, proxy_, key, value);
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
    return KV_DsTreeNode::save(st, def) &&
           kv_opt_save(sftp_proxy_keys, st, proxy_, def.proxy_, &tree.eh()) &&
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
    return load_grp(*this, opts_, sftp_proxy_keys, proxy_, key, value);
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
