// The connection parameters of an FTP data source.
//
// A data-source node of the tree holds one object and saves its fields under
// its own keys; the engine root prepares a clone with init() (which fills in
// what the enclosing FTP group provides: proxy and anonymous login) and hands
// it to the file manager, whose workers pass the fields on to their FTP
// connections.
//
// Threads: a plain value; one thread at a time per object. init() runs on the
// tree's thread.
#pragma once

#include <cstdint>

#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparams.h"
#include "datasources/kv_ftplogindata.h"
#include "datasources/kv_ftptypes.h"
#include "datasources/kv_proxyopts.h"
#include "foundation/kv_string.h"

class KV_DsTree;
class KV_DsTreeNode;

class KV_FileManParamsFtp : public KV_FileManParams
{
public:
    // Empty addresses, default options and proxy, plain FTP (security 0),
    // server type 0 (decided by the server's SYST answer), empty login, not
    // anonymous.
    KV_FileManParamsFtp();
    KV_FileManParamsFtp(const KV_FileManParamsFtp& other) = default;
    // Every field.
    KV_FileManParamsFtp& operator=(const KV_FileManParamsFtp& other) = default;
    ~KV_FileManParamsFtp() override;

    // Same kind, addresses and login (user, password, account). Options,
    // security, server type and proxy take no part.
    bool operator==(const KV_FileManParams& other) const override;
    const KV_FileManOpts& opts() const override { return opts_; }
    KV_FileManOpts& opts() override { return opts_; }
    KV_FileManParams* clone() const override;
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_FTP; }

    // Prepares the parameters of `node` from `tree`: the read-only flag and
    // the retry count as for every kind, then the proxy of the FTP group the
    // node inherits from and, for an anonymous login, the user "anonymous"
    // with that group's anonymous password. False, with the proxy and login
    // left alone, when the node is null, the tree has no root group or the
    // node has no enclosing FTP group.
    bool init(const KV_DsTree& tree, KV_DsTreeNode* const node) override;

    // The local address to bind and the server ("host" or "host:port");
    // stored trimmed of blanks, tabs, CR and LF at both ends.
    const KV_String& src_addr() const { return src_addr_; }
    void set_src_addr(const KV_String& addr);
    const KV_String& dst_addr() const { return dst_addr_; }
    void set_dst_addr(const KV_String& addr);

    KV_FileManFtpOpts& opts_ftp() { return opts_; }
    const KV_FileManFtpOpts& opts_ftp() const { return opts_; }
    void set_opts(const KV_FileManFtpOpts& opts) { opts_ = opts; }

    KV_FTP_SECURE security() const { return security_; }
    void set_security(KV_FTP_SECURE security) { security_ = security; }
    // The kind of server; unknown lets the server's SYST answer decide.
    KV_FTP_SERV_TYPE server_type() const { return server_type_; }
    void set_server_type(KV_FTP_SERV_TYPE type) { server_type_ = type; }
    KV_FtpLoginData& ldata() { return ldata_; }
    const KV_FtpLoginData& ldata() const { return ldata_; }
    void set_ldata(const KV_FtpLoginData& ldata) { ldata_ = ldata; }
    // Always the enclosing group's: init() copies it.
    KV_ProxyOptsFtp& proxy() { return proxy_; }
    const KV_ProxyOptsFtp& proxy() const { return proxy_; }
    // Log in anonymously (init() puts the anonymous login in ldata).
    bool anonymous() const { return anonymous_; }
    void set_anonymous(bool anonymous) { anonymous_ = anonymous; }

private:
    KV_String src_addr_;
    KV_String dst_addr_;
    KV_FileManFtpOpts opts_;
    KV_FTP_SECURE security_ = KV_FTP_SECURE_NONE;
    KV_FTP_SERV_TYPE server_type_ = KV_FTP_SERV_UNKNOWN;
    KV_FtpLoginData ldata_;
    KV_ProxyOptsFtp proxy_;
    bool anonymous_ = false;
};
