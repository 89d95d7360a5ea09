// Proxy options: where a connection's proxy is and, per protocol, which kind
// of proxy it is and how to log in to it. Group nodes hold one object per
// protocol and save it under their PROXY keys; the protocol clients read it
// when they connect and carry out the kind. These classes only store it.
//
// Plain values: no virtual operations, copy equals assignment.
// Threads: one thread at a time per object.
#pragma once

#include <cstdint>

#include "datasources/kv_ftplogindata.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_string.h"

// Proxy kinds; 0 means no proxy for every protocol.
enum KV_PROXY_HTTP : int32_t {
    KV_PROXY_HTTP_NONE = 0,
    KV_PROXY_HTTP_STD = 1,     // HTTP proxy, request line with the absolute URI
    KV_PROXY_HTTP_CONNECT = 2, // CONNECT tunnel
    KV_PROXY_HTTP_SOCKS4 = 3,
    KV_PROXY_HTTP_SOCKS5 = 4,
};

enum KV_PROXY_FTP : int32_t {
    KV_PROXY_FTP_NONE = 0,
    KV_PROXY_FTP_CONNECT = 1, // HTTP CONNECT tunnel
    KV_PROXY_FTP_SOCKS4 = 2,
    KV_PROXY_FTP_SOCKS5 = 3,
    KV_PROXY_FTP_SITE = 4,      // SITE host
    KV_PROXY_FTP_OPEN = 5,      // OPEN host
    KV_PROXY_FTP_USER = 6,      // USER user@host
    KV_PROXY_FTP_USER_PORT = 7, // USER user@host port
};

enum KV_PROXY_SSH : int32_t {
    KV_PROXY_SSH_NONE = 0,
    KV_PROXY_SSH_CONNECT = 1, // HTTP CONNECT tunnel
    KV_PROXY_SSH_SOCKS4 = 2,
    KV_PROXY_SSH_SOCKS5 = 3,
};

class KV_ProxyOpts
{
public:
    // Empty address, the given port.
    explicit KV_ProxyOpts(uint16_t port = 0) : port_(port) {}
    KV_ProxyOpts(const KV_ProxyOpts& other) = default;
    KV_ProxyOpts& operator=(const KV_ProxyOpts& other) = default;
    ~KV_ProxyOpts() = default;

    // Host name or address of the proxy, stored as given.
    void set_addr(const KV_String& addr) { addr_ = addr; }
    const KV_String& addr() const { return addr_; }

    // Takes any number so that a port read from text is checked before it is
    // narrowed: above 65535 the port is refused (false) and left unchanged,
    // rather than wrapped round to some other port.
    bool set_port(unsigned long port);
    uint16_t port() const { return port_; }

private:
    KV_String addr_;
    uint16_t port_ = 0;
};

class KV_ProxyOptsHttp : public KV_ProxyOpts
{
public:
    // Port 8080, no proxy, empty login.
    KV_ProxyOptsHttp() : KV_ProxyOpts(8080) {}
    KV_ProxyOptsHttp(const KV_ProxyOptsHttp& other) = default;
    KV_ProxyOptsHttp& operator=(const KV_ProxyOptsHttp& other) = default;
    ~KV_ProxyOptsHttp() = default;

    void set_type(KV_PROXY_HTTP type) { type_ = type; }
    KV_PROXY_HTTP type() const { return type_; }
    void set_ldata(const KV_LoginData& ldata) { ldata_ = ldata; }
    const KV_LoginData& ldata() const { return ldata_; }
    KV_LoginData& ldata() { return ldata_; }

private:
    KV_PROXY_HTTP type_ = KV_PROXY_HTTP_NONE;
    KV_LoginData ldata_;
};

class KV_ProxyOptsFtp : public KV_ProxyOpts
{
public:
    // Port 21, no proxy, empty login, passive data connections.
    KV_ProxyOptsFtp() : KV_ProxyOpts(21) {}
    KV_ProxyOptsFtp(const KV_ProxyOptsFtp& other) = default;
    KV_ProxyOptsFtp& operator=(const KV_ProxyOptsFtp& other) = default;
    ~KV_ProxyOptsFtp() = default;

    void set_type(KV_PROXY_FTP type) { type_ = type; }
    KV_PROXY_FTP type() const { return type_; }
    void set_ldata(const KV_FtpLoginData& ldata) { ldata_ = ldata; }
    const KV_FtpLoginData& ldata() const { return ldata_; }
    KV_FtpLoginData& ldata() { return ldata_; }
    // Passive data connections through this proxy.
    void set_pasv(bool pasv) { pasv_ = pasv; }
    bool pasv() const { return pasv_; }

private:
    KV_PROXY_FTP type_ = KV_PROXY_FTP_NONE;
    KV_FtpLoginData ldata_;
    bool pasv_ = true;
};

class KV_ProxyOptsSsh : public KV_ProxyOpts
{
public:
    // Port 8080, no proxy, empty login.
    KV_ProxyOptsSsh() : KV_ProxyOpts(8080) {}
    KV_ProxyOptsSsh(const KV_ProxyOptsSsh& other) = default;
    KV_ProxyOptsSsh& operator=(const KV_ProxyOptsSsh& other) = default;
    ~KV_ProxyOptsSsh() = default;

    void set_type(KV_PROXY_SSH type) { type_ = type; }
    KV_PROXY_SSH type() const { return type_; }
    void set_ldata(const KV_LoginData& ldata) { ldata_ = ldata; }
    const KV_LoginData& ldata() const { return ldata_; }
    KV_LoginData& ldata() { return ldata_; }

private:
    KV_PROXY_SSH type_ = KV_PROXY_SSH_NONE;
    KV_LoginData ldata_;
};
