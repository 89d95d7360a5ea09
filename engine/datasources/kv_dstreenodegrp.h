// Group nodes: the folders of the data-source tree.
//
// Every group gathers the data sources of one protocol and carries the
// settings those data sources inherit: the protocol's file-manager options,
// its proxy and, for FTP, the password sent on anonymous logins. The tree
// holds one root group (KV_DsTreeNodeGrpDs, carrying the transfer manager's
// options) with the three protocol groups below it; the user's folders inside
// a protocol group are groups of the same protocol. A node whose inherit flag
// is set takes its settings from the nearest enclosing group of its protocol
// (KV_DsTree::parent_grp), further up while that group inherits too. Proxy
// and anonymous password are therefore always those of a group.
//
// A group's type() is KV_DS_NODE_GRP; type_grp() tells the kind of node it
// gathers. Its id is a KV_DsId whose 16-bit type holds type() in the low byte
// and type_grp() in the high byte, then the name, the path and an empty third
// name, with instance number 0.
//
// Threads: as every node, the tree's thread.
#pragma once

#include "datasources/kv_dstreenode.h"
#include "datasources/kv_filemanopts.h"
#include "datasources/kv_proxyopts.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_string.h"

class KV_DsTree;
class KV_DsRoot;
class KV_TransOptsRecv;
class KV_Storage;

class KV_DsTreeNodeGrp : public KV_DsTreeNode
{
public:
    ~KV_DsTreeNodeGrp() override;

    // KV_DS_NODE_GRP.
    KV_DS_NODE_TYPE type() const override;
    // "GROUP|" and save_type_grp().
    KV_String save_type() const override;
    KV_FileManId id() const override;

    // The group's type word after "GROUP|".
    virtual KV_String save_type_grp() const = 0;
    // The kind of node that the group gathers.
    virtual KV_DS_NODE_TYPE type_grp() const = 0;
    // Whether nodes may be created directly inside the group; true here.
    virtual bool add_chldrn() const;

protected:
    KV_DsTreeNodeGrp() = default;
};

// The root group of all data sources.
class KV_DsTreeNodeGrpDs : public KV_DsTreeNodeGrp
{
public:
    // `man`, not owned and possibly null, is the transfer manager that takes
    // the group's options after each load or edit (post_updt).
    explicit KV_DsTreeNodeGrpDs(KV_TransOptsRecv* const man = nullptr);
    ~KV_DsTreeNodeGrpDs() override;

    // Common keys, then the transfer options' keys.
    bool save(const KV_DsTree& tree, KV_Storage& st) const override;
    // The base assignment; the transfer options too when `other` is a root
    // group.
    bool operator=(const KV_DsTreeNode* other) override;
    // Same transfer manager and settings, no children.
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    // The transfer options' keys first, then the common keys.
    bool load(const KV_String& key, const KV_String& value) override;
    // Always true: the root group is never edited as a node.
    bool rdonly() const override;
    // "Stores the data sources."
    KV_String info(const KV_DsRoot& pool) const override;
    // Hands the options to the transfer manager, when there is one, so that
    // changed transfer settings take effect at once.
    void post_updt() override;
    // "DS", KV_DS_NODE_GRP_DS.
    KV_String save_type_grp() const override;
    KV_DS_NODE_TYPE type_grp() const override;
    // Always false: only the protocol groups and the local computer live
    // directly in the root.
    bool add_chldrn() const override;

    KV_FileTransManOpts& opts_trans() { return opts_; }
    const KV_FileTransManOpts& opts_trans() const { return opts_; }
    KV_TransOptsRecv* trans_man() const { return man_; }

private:
    KV_TransOptsRecv* man_;
    KV_FileTransManOpts opts_;
};

// The FTP group and the folders inside it.
class KV_DsTreeNodeGrpFtp : public KV_DsTreeNodeGrp
{
public:
    // Default options and proxy, a placeholder anonymous password; when the
    // tree has a local-computer node, the options open it alongside in a
    // list pane.
    explicit KV_DsTreeNodeGrpFtp(const KV_DsTree& tree);
    ~KV_DsTreeNodeGrpFtp() override;

    // Common keys, ANONYMOUS_PASS, the PROXY keys, then the options' keys,
    // each against a default group.
    bool save(const KV_DsTree& tree, KV_Storage& st) const override;
    // The base assignment; options, anonymous password and proxy too when
    // `other` is an FTP group.
    bool operator=(const KV_DsTreeNode* other) override;
    // With a tree and the inherit flag set, the settings of the group this
    // one inherits from.
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    // The options' keys first, then the group's, then the common keys.
    bool load(const KV_String& key, const KV_String& value) override;
    // "Stores the FTP servers." and the inheritance and comment lines.
    KV_String info(const KV_DsRoot& pool) const override;
    // "FTP", KV_DS_NODE_FTP.
    KV_String save_type_grp() const override;
    KV_DS_NODE_TYPE type_grp() const override;

    KV_FileManFtpOpts& opts_ftp() { return opts_; }
    const KV_FileManFtpOpts& opts_ftp() const { return opts_; }
    // The password sent on anonymous logins; stored trimmed at both ends.
    const KV_String& anonymous_pass() const { return anonymous_pass_; }
    void set_anonymous_pass(const KV_String& pass);
    KV_ProxyOptsFtp& proxy() { return proxy_; }
    const KV_ProxyOptsFtp& proxy() const { return proxy_; }
    void set_proxy(const KV_ProxyOptsFtp& proxy) { proxy_ = proxy; }

private:
    // Every field at its class default; for clone only.
    KV_DsTreeNodeGrpFtp();
    void copy_settings(const KV_DsTreeNodeGrpFtp& from);

    KV_FileManFtpOpts opts_;
    KV_String anonymous_pass_;
    KV_ProxyOptsFtp proxy_;
};

// The HTTP group and the folders inside it.
class KV_DsTreeNodeGrpHttp : public KV_DsTreeNodeGrp
{
public:
    // As for FTP, without an anonymous password.
    explicit KV_DsTreeNodeGrpHttp(const KV_DsTree& tree);
    ~KV_DsTreeNodeGrpHttp() override;

    bool save(const KV_DsTree& tree, KV_Storage& st) const override;
    bool operator=(const KV_DsTreeNode* other) override;
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    bool load(const KV_String& key, const KV_String& value) override;
    // "Stores the HTTP servers." and the inheritance and comment lines.
    KV_String info(const KV_DsRoot& pool) const override;
    // "HTTP", KV_DS_NODE_HTTP.
    KV_String save_type_grp() const override;
    KV_DS_NODE_TYPE type_grp() const override;

    KV_FileManHttpOpts& opts_http() { return opts_; }
    const KV_FileManHttpOpts& opts_http() const { return opts_; }
    KV_ProxyOptsHttp& proxy() { return proxy_; }
    const KV_ProxyOptsHttp& proxy() const { return proxy_; }
    void set_proxy(const KV_ProxyOptsHttp& proxy) { proxy_ = proxy; }

private:
    KV_DsTreeNodeGrpHttp();
    void copy_settings(const KV_DsTreeNodeGrpHttp& from);

    KV_FileManHttpOpts opts_;
    KV_ProxyOptsHttp proxy_;
};

// The SFTP group and the folders inside it.
class KV_DsTreeNodeGrpSftp : public KV_DsTreeNodeGrp
{
public:
    // As for FTP, without an anonymous password.
    explicit KV_DsTreeNodeGrpSftp(const KV_DsTree& tree);
    ~KV_DsTreeNodeGrpSftp() override;

    bool save(const KV_DsTree& tree, KV_Storage& st) const override;
    bool operator=(const KV_DsTreeNode* other) override;
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    bool load(const KV_String& key, const KV_String& value) override;
    // "Stores the SFTP servers." and the inheritance and comment lines.
    KV_String info(const KV_DsRoot& pool) const override;
    // "SFTP", KV_DS_NODE_SFTP.
    KV_String save_type_grp() const override;
    KV_DS_NODE_TYPE type_grp() const override;

    KV_FileManSftpOpts& opts_sftp() { return opts_; }
    const KV_FileManSftpOpts& opts_sftp() const { return opts_; }
    KV_ProxyOptsSsh& proxy() { return proxy_; }
    const KV_ProxyOptsSsh& proxy() const { return proxy_; }
    void set_proxy(const KV_ProxyOptsSsh& proxy) { proxy_ = proxy; }

private:
    KV_DsTreeNodeGrpSftp();
    void copy_settings(const KV_DsTreeNodeGrpSftp& from);

    KV_FileManSftpOpts opts_;
    KV_ProxyOptsSsh proxy_;
};
