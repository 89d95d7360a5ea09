#ifndef KIVREL_CORE_NETSETUP_H
#define KIVREL_CORE_NETSETUP_H

// How the program reaches the Internet: the system's proxy as the proxy
// variables give it, and what the network setup writes into the data-source
// tree (the proxy of the FTP, HTTP and SFTP groups, the bandwidth limits of
// the root group). The tree is the user-interface thread's.

#include "datasources/kv_dstreenode.h"
#include "foundation/kv_string.h"

#include <QByteArray>
#include <cstdint>
#include <functional>

class KV_FileManPool;

// Proxy protocols of the network setup, in the order of its list.
enum : int { kNetProxyHttp = 0, kNetProxySocks4 = 1, kNetProxySocks5 = 2 };

// The default port of a proxy protocol: 8080 for HTTP, 1080 for SOCKS.
uint16_t NetProxyDefaultPort(int protocol);

// The system's proxy, as the setup starts from it.
struct CSysProxy
{
    bool uses_proxy = false;
    int protocol = kNetProxyHttp;
    KV_String addr;
    // As shown in the port field: the variable's port, else the protocol's
    // default port.
    KV_String port;
    KV_String user;
    KV_String pass;
};

// One proxy variable's value, "[scheme://][user[:password]@]host[:port][/]":
// the scheme "http" (also when missing) picks HTTP, "socks4" or "socks"
// SOCKS4, "socks5" or "socks5h" SOCKS5, any other HTTP; user and password are
// %-unescaped; an IPv6 host may stand in brackets. An empty value or one
// without a host is no proxy.
CSysProxy ParseProxyVar(const KV_String& value);

// The first of https_proxy, http_proxy and all_proxy that is set and not
// empty, through `getenv` (the process environment by default); none: no
// proxy, empty fields.
CSysProxy ReadSysProxy(const std::function<QByteArray(const char*)>& getenv = {});

// A port typed by the user, trimmed of blanks, tabs, CR and LF: true with the
// port for 0 to 65535 written in decimal digits only; false for an empty
// text and for anything else, so that a port is never stored cut to 16 bits.
bool ParseProxyPort(const KV_String& text, uint16_t& port);

// What the network setup collected.
struct CNetSetup
{
    // 0 direct connection, any other through a firewall.
    int kind = 0;
    KV_String addr;
    // As typed; blank leaves the groups' ports as they are.
    KV_String port;
    int protocol = kNetProxyHttp;
    KV_String user;
    KV_String pass;
    bool limit = false;
    // KB/s.
    double down = 0.0;
    double up = 0.0;
};

// The proxy type the setup gives the group of `group_type` (KV_DS_NODE_FTP,
// KV_DS_NODE_HTTP, KV_DS_NODE_SFTP): 0 for a direct connection, else the
// group's kind for the protocol; -1 (keep the group's type) for a protocol
// outside the three.
int32_t NetProxyType(KV_DS_NODE_TYPE group_type, int kind, int protocol);

// Writes the setup into the engine root's tree: for the HTTP, FTP and SFTP
// groups in turn (a missing one is skipped) the proxy address, type, login
// and, when the port text is not blank, the port; then the root group's
// bandwidth limits, 0 for both without the limit. Each through a clone and
// KV_FileManPool::update. A port text that is not a port (ParseProxyPort)
// leaves the groups' ports unchanged. Whether every update succeeded.
bool ApplyNetSetup(KV_FileManPool& pool, const CNetSetup& setup);

#endif
