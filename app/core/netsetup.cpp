#include "core/netsetup.h"

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"
#include "foundation/kv_uriman.h"
#include "root/kv_filemanpool.h"

#include <cstdlib>
#include <string>

namespace {

KV_String Str(const std::string& s)
{
    KV_String out;
    out.append(s.data(), static_cast<uint32_t>(s.size()));
    return out;
}

std::string Lower(std::string s)
{
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

KV_String Unescape(const std::string& s)
{
    return KV_UriMan::conv_to_ascii(Str(s));
}

bool AllDigits(const std::string& s)
{
    if (s.empty()) {
        return false;
    }
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

template <class Group>
bool ApplyProxy(KV_FileManPool& pool, KV_DS_NODE_TYPE type, const CNetSetup& setup)
{
    KV_DsTree& tree = pool.tree();
    KV_DsTreeNode* node = tree.find(type, true);
    if (node == nullptr) {
        return true;
    }
    KV_DsTreeNode* clone = tree.clone(node, false);
    if (clone == nullptr) {
        return false;
    }
    bool ok = true;
    if (auto* grp = dynamic_cast<Group*>(clone)) {
        auto& proxy = grp->proxy();
        proxy.set_addr(setup.addr);
        const int32_t t = NetProxyType(type, setup.kind, setup.protocol);
        if (t >= 0) {
            proxy.set_type(static_cast<decltype(proxy.type())>(t));
        }
        proxy.ldata().set_user(setup.user);
        proxy.ldata().set_pass(setup.pass);
        uint16_t port = 0;
        if (ParseProxyPort(setup.port, port)) {
            proxy.set_port(port);
        }
        ok = pool.update(node, clone, 0);
    }
    KV_DsTreeNode::destr_clone(clone);
    return ok;
}

} // namespace

uint16_t NetProxyDefaultPort(int protocol)
{
    return protocol == kNetProxySocks4 || protocol == kNetProxySocks5 ? 1080 : 8080;
}

CSysProxy ParseProxyVar(const KV_String& value)
{
    CSysProxy out;
    std::string s(value.trim().data());
    if (s.empty()) {
        return out;
    }
    std::string scheme = "http";
    const size_t sep = s.find("://");
    if (sep != std::string::npos) {
        scheme = Lower(s.substr(0, sep));
        s.erase(0, sep + 3);
    }
    if (scheme == "socks4" || scheme == "socks") {
        out.protocol = kNetProxySocks4;
    } else if (scheme == "socks5" || scheme == "socks5h") {
        out.protocol = kNetProxySocks5;
    }
    s = s.substr(0, s.find('/'));
    const size_t at = s.rfind('@');
    if (at != std::string::npos) {
        const std::string login = s.substr(0, at);
        s.erase(0, at + 1);
        const size_t colon = login.find(':');
        out.user = Unescape(login.substr(0, colon));
        if (colon != std::string::npos) {
            out.pass = Unescape(login.substr(colon + 1));
        }
    }
    std::string host = s;
    std::string port;
    if (!s.empty() && s.front() == '[') {
        const size_t close = s.find(']');
        host = s.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        if (close != std::string::npos && close + 1 < s.size() && s[close + 1] == ':') {
            port = s.substr(close + 2);
        }
    } else if (const size_t colon = s.rfind(':'); colon != std::string::npos) {
        host = s.substr(0, colon);
        port = s.substr(colon + 1);
    }
    if (host.empty()) {
        return CSysProxy();
    }
    out.uses_proxy = true;
    out.addr = Str(host);
    if (AllDigits(port)) {
        out.port = Str(port);
    } else {
        out.port.init_unsigned(NetProxyDefaultPort(out.protocol));
    }
    return out;
}

CSysProxy ReadSysProxy(const std::function<QByteArray(const char*)>& getenv)
{
    for (const char* var : {"https_proxy", "http_proxy", "all_proxy"}) {
        const QByteArray value = getenv ? getenv(var) : QByteArray(std::getenv(var));
        if (!value.trimmed().isEmpty()) {
            return ParseProxyVar(KV_String(value.constData()));
        }
    }
    return CSysProxy();
}

bool ParseProxyPort(const KV_String& text, uint16_t& port)
{
    const std::string s(text.trim().data());
    if (!AllDigits(s) || s.size() > 5) {
        return false;
    }
    const unsigned long n = std::strtoul(s.c_str(), nullptr, 10);
    if (n > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(n);
    return true;
}

int32_t NetProxyType(KV_DS_NODE_TYPE group_type, int kind, int protocol)
{
    if (kind == 0) {
        return 0;
    }
    if (protocol < kNetProxyHttp || protocol > kNetProxySocks5) {
        return -1;
    }
    if (group_type == KV_DS_NODE_HTTP) {
        static const int32_t http[] = {KV_PROXY_HTTP_STD, KV_PROXY_HTTP_SOCKS4,
                                       KV_PROXY_HTTP_SOCKS5};
        return http[protocol];
    }
    // FTP and SFTP: an HTTP proxy is used as a CONNECT tunnel.
    static const int32_t tunnel[] = {1, 2, 3};
    return tunnel[protocol];
}

bool ApplyNetSetup(KV_FileManPool& pool, const CNetSetup& setup)
{
    bool ok = ApplyProxy<KV_DsTreeNodeGrpHttp>(pool, KV_DS_NODE_HTTP, setup);
    ok = ApplyProxy<KV_DsTreeNodeGrpFtp>(pool, KV_DS_NODE_FTP, setup) && ok;
    ok = ApplyProxy<KV_DsTreeNodeGrpSftp>(pool, KV_DS_NODE_SFTP, setup) && ok;

    KV_DsTree& tree = pool.tree();
    KV_DsTreeNode* root = tree.find(KV_DS_NODE_GRP_DS, true);
    if (root == nullptr) {
        return ok;
    }
    KV_DsTreeNode* clone = tree.clone(root, false);
    if (clone == nullptr) {
        return false;
    }
    if (auto* grp = dynamic_cast<KV_DsTreeNodeGrpDs*>(clone)) {
        grp->opts_trans().set_bwt_speed_in(setup.limit ? setup.down : 0.0);
        grp->opts_trans().set_bwt_speed_out(setup.limit ? setup.up : 0.0);
        ok = pool.update(root, clone, 0) && ok;
    }
    KV_DsTreeNode::destr_clone(clone);
    return ok;
}
