// Data-source nodes: the leaves of the data-source tree.
//
// One node per server or local computer that the user can open
// (KV_DsTreeNodeFtp, KV_DsTreeNodeHttp, KV_DsTreeNodeSftp, KV_DsTreeNodeStd)
// and, below a data source, one KV_DsTreeNodeManInst per live file-manager
// instance of it. A data-source node owns the connection parameters from
// which a file manager of its protocol is started (params()), saves them as
// keys of the data-source file, derives the data-source id by which the
// engine finds or shares a manager (id()) and produces the descriptive text
// shown with the node (info()). Instance nodes are made by the tree when a
// manager starts and removed when it ends; they are never saved.
//
// Ids: the first name is the data-source name upper-cased and the second the
// server address upper-cased, so that names and host names differing only in
// letter case name the same data source; the third is the login user (FTP:
// "anonymous" for an anonymous login; HTTP: only while authentication is on).
//
// Passwords are never written in clear: PASS values are scrambled with
// KV_String::encrypt_bf under KV_LoginData::bf_key.
//
// Threads: as every node, the tree's thread; clones may go to any thread.
#pragma once

#include "datasources/kv_dstreenode.h"
#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparamsftp.h"
#include "datasources/kv_filemanparamshttp.h"
#include "datasources/kv_filemanparamssftp.h"
#include "datasources/kv_filemanparamsstd.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_string.h"

class KV_DsTree;
class KV_DsRoot;
class KV_Storage;

// An FTP or FTPS server.
class KV_DsTreeNodeFtp : public KV_DsTreeNode
{
public:
    KV_DsTreeNodeFtp();
    ~KV_DsTreeNodeFtp() override;

    // Common keys, SRC_ADDR, DST_ADDR, SECURITY, SERVER_TYPE, ANONYMOUS, USER,
    // ACCT, PASS, then the options' keys; each only when it differs from a
    // new node.
    bool save(const KV_DsTree& tree, KV_Storage& st) const override;
    // The base assignment; the parameters too when `other` is an FTP node.
    bool operator=(const KV_DsTreeNode* other) override;
    KV_DS_NODE_TYPE type() const override;
    // "FTP".
    KV_String save_type() const override;
    KV_FileManId id() const override;
    // With a tree and the inherit flag set, the clone carries the options of
    // the group the node inherits from.
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    // A name and a server address are both given.
    bool can_open() const override;
    // Makes `doc` the default path when there is none yet.
    bool node_doc_add(const KV_String& doc, bool& changed) override;
    // Own keys, then the options' keys, then the common keys.
    bool load(const KV_String& key, const KV_String& value) override;
    // The login's password; true.
    bool set_pass(const KV_String& pass) override;
    // The destination address.
    KV_String srv() const override;
    // The URI of the server and default path, then the inheritance and
    // comment lines.
    KV_String info(const KV_DsRoot& pool) const override;
    KV_FileManParams* params() override { return &params_; }
    const KV_FileManParams* params() const override { return &params_; }
    // Direct server-to-server copies to another FTP node, as the FTP options
    // allow.
    KV_FileReqTransParamsCp params_cp(const KV_DsTreeNode& other) const override;
    // The base rule; the parameters' name follows the node's.
    void set_name(const KV_String& name) override;

    KV_FileManParamsFtp& params_ftp() { return params_; }
    const KV_FileManParamsFtp& params_ftp() const { return params_; }

private:
    KV_FileManParamsFtp params_;
};

// An HTTP or HTTPS (WebDAV) server.
class KV_DsTreeNodeHttp : public KV_DsTreeNode
{
public:
    KV_DsTreeNodeHttp();
    ~KV_DsTreeNodeHttp() override;

    // Common keys, SRC_ADDR, DST_ADDR, SECURITY, AUTH, AUTH_CMDS, USER, PASS,
    // DOCS, UPDATE_DOCS, then the options' keys.
    bool save(const KV_DsTree& tree, KV_Storage& st) const override;
    bool operator=(const KV_DsTreeNode* other) override;
    KV_DS_NODE_TYPE type() const override;
    // "HTTP".
    KV_String save_type() const override;
    KV_FileManId id() const override;
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    bool can_open() const override;
    // Adds (removes) the document while update_docs is set.
    bool node_doc_add(const KV_String& doc, bool& changed) override;
    bool node_doc_del(const KV_String& doc, bool& changed) override;
    bool load(const KV_String& key, const KV_String& value) override;
    bool set_pass(const KV_String& pass) override;
    KV_String srv() const override;
    KV_String info(const KV_DsRoot& pool) const override;
    KV_FileManParams* params() override { return &params_; }
    const KV_FileManParams* params() const override { return &params_; }
    void set_name(const KV_String& name) override;

    KV_FileManParamsHttp& params_http() { return params_; }
    const KV_FileManParamsHttp& params_http() const { return params_; }

private:
    KV_FileManParamsHttp params_;
};

// An SFTP server.
class KV_DsTreeNodeSftp : public KV_DsTreeNode
{
public:
    KV_DsTreeNodeSftp();
    ~KV_DsTreeNodeSftp() override;

    // Common keys, SRC_ADDR, DST_ADDR, USER, PASS, then the options' keys.
    bool save(const KV_DsTree& tree, KV_Storage& st) const override;
    bool operator=(const KV_DsTreeNode* other) override;
    KV_DS_NODE_TYPE type() const override;
    // "SFTP".
    KV_String save_type() const override;
    KV_FileManId id() const override;
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    bool can_open() const override;
    // Makes `doc` the default path when there is none yet.
    bool node_doc_add(const KV_String& doc, bool& changed) override;
    bool load(const KV_String& key, const KV_String& value) override;
    bool set_pass(const KV_String& pass) override;
    KV_String srv() const override;
    KV_String info(const KV_DsRoot& pool) const override;
    KV_FileManParams* params() override { return &params_; }
    const KV_FileManParams* params() const override { return &params_; }
    void set_name(const KV_String& name) override;

    KV_FileManParamsSftp& params_sftp() { return params_; }
    const KV_FileManParamsSftp& params_sftp() const { return params_; }

private:
    KV_FileManParamsSftp params_;
};

// The local computer.
class KV_DsTreeNodeStd : public KV_DsTreeNode
{
public:
    KV_DsTreeNodeStd();
    ~KV_DsTreeNodeStd() override;

    // Common keys, then the options' keys (RECYCLE and the shared ones).
    bool save(const KV_DsTree& tree, KV_Storage& st) const override;
    bool operator=(const KV_DsTreeNode* other) override;
    KV_DS_NODE_TYPE type() const override;
    // "STD".
    KV_String save_type() const override;
    KV_FileManId id() const override;
    // Without inheritance: the local computer has no group.
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    // The options' keys, then the common keys.
    bool load(const KV_String& key, const KV_String& value) override;
    // Always true.
    bool rdonly() const override;
    // "The local machine." and the inheritance and comment lines.
    KV_String info(const KV_DsRoot& pool) const override;
    KV_FileManParams* params() override { return &params_; }
    const KV_FileManParams* params() const override { return &params_; }
    void set_name(const KV_String& name) override;

    KV_FileManParamsStd& params_std() { return params_; }
    const KV_FileManParamsStd& params_std() const { return params_; }

private:
    KV_FileManParamsStd params_;
};

// A live file-manager instance of the data source above it. Never saved.
class KV_DsTreeNodeManInst : public KV_DsTreeNode
{
public:
    // Copies the manager's id and options.
    KV_DsTreeNodeManInst(const KV_FileManId& id, const KV_FileManOpts& opts);
    ~KV_DsTreeNodeManInst() override;

    // The base assignment; id and options too when `other` is an instance.
    bool operator=(const KV_DsTreeNode* other) override;
    KV_DS_NODE_TYPE type() const override;
    // The manager's id, instance number included.
    KV_FileManId id() const override;
    KV_DsTreeNode* clone(const KV_DsTree* tree) const override;
    // Always true.
    bool rdonly() const override;
    // The server: the second name of the id.
    KV_String srv() const override;
    // The data source's text, then how many holders the manager has.
    KV_String info(const KV_DsRoot& pool) const override;
    // The instance's own copy of the manager's options.
    KV_FileManOpts* opts() override { return &opts_; }
    const KV_FileManOpts* opts() const override { return &opts_; }

    // Replaces the data-source part of the id; the instance number stays.
    void updt_id(const KV_DsId& ds);

protected:
    // Empty id and default options; for clone.
    KV_DsTreeNodeManInst();

private:
    KV_FileManOpts opts_;
    KV_FileManId id_;
};
