// The connection parameters of an SFTP data source.
//
// A data-source node of the tree holds one object and saves its fields under
// its own keys; the engine root prepares a clone with init() (the proxy of
// the enclosing SFTP group) and hands it to the file manager, whose workers
// pass the fields on to their SSH connections.
//
// Threads: a plain value; one thread at a time per object. init() runs on the
// tree's thread.
#pragma once

#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparams.h"
#include "datasources/kv_proxyopts.h"
#include "datasources/kv_sshlogindata.h"
#include "foundation/kv_string.h"

class KV_DsTree;
class KV_DsTreeNode;

class KV_FileManParamsSftp : public KV_FileManParams
{
public:
    // Empty addresses and login, default options and proxy.
    KV_FileManParamsSftp();
    KV_FileManParamsSftp(const KV_FileManParamsSftp& other) = default;
    // Every field.
    KV_FileManParamsSftp& operator=(const KV_FileManParamsSftp& other) = default;
    ~KV_FileManParamsSftp() override;

    // Same kind, addresses and login. Options and proxy take no part.
    bool operator==(const KV_FileManParams& other) const override;
    const KV_FileManOpts& opts() const override { return opts_; }
    KV_FileManOpts& opts() override { return opts_; }
    KV_FileManParams* clone() const override;
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_SFTP; }

    // Prepares the parameters of `node` from `tree`: the read-only flag and
    // the retry count as for every kind, then the proxy of the SFTP group the
    // node inherits from. False, with the proxy left alone, when the node is
    // null, the tree has no root group or the node has no enclosing SFTP
    // group.
    bool init(const KV_DsTree& tree, KV_DsTreeNode* const node) override;

    // Stored trimmed of blanks, tabs, CR and LF at both ends.
    const KV_String& src_addr() const { return src_addr_; }
    void set_src_addr(const KV_String& addr);
    const KV_String& dst_addr() const { return dst_addr_; }
    void set_dst_addr(const KV_String& addr);

    KV_FileManSftpOpts& opts_sftp() { return opts_; }
    const KV_FileManSftpOpts& opts_sftp() const { return opts_; }
    void set_opts(const KV_FileManSftpOpts& opts) { opts_ = opts; }

    KV_SshLoginData& ldata() { return ldata_; }
    const KV_SshLoginData& ldata() const { return ldata_; }
    void set_ldata(const KV_SshLoginData& ldata) { ldata_ = ldata; }
    // Always the enclosing group's: init() copies it.
    KV_ProxyOptsSsh& proxy() { return proxy_; }
    const KV_ProxyOptsSsh& proxy() const { return proxy_; }

private:
    KV_String src_addr_;
    KV_String dst_addr_;
    KV_FileManSftpOpts opts_;
    KV_SshLoginData ldata_;
    KV_ProxyOptsSsh proxy_;
};
