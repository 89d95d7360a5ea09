// The connection parameters of an HTTP (WebDAV) data source.
//
// Besides addresses, security, login and options, an HTTP data source keeps a
// list of documents: paths on the server that the user named or opened. A
// document that ends with the path separator names a folder, whose subtree is
// WebDAV; a file document declares the folder it lies in plain HTTP. The list
// holds no duplicates and no empty entries, each trimmed, in the user's
// order; in text form the documents are joined with CR LF.
//
// A data-source node of the tree holds one object and saves its fields under
// its own keys; the engine root prepares a clone with init() (the proxy of
// the enclosing HTTP group) and hands it to the file manager.
//
// Threads: a plain value; one thread at a time per object. init() runs on the
// tree's thread.
#pragma once

#include <cstdint>

#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparams.h"
#include "datasources/kv_httplogindata.h"
#include "datasources/kv_proxyopts.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_DsTree;
class KV_DsTreeNode;

class KV_FileManParamsHttp : public KV_FileManParams
{
public:
    // Empty addresses and document list, default options and proxy, plain
    // HTTP (security 0), empty login (auth off), documents updated.
    KV_FileManParamsHttp();
    // Every field; the documents element by element (a copy that runs out of
    // memory keeps the documents copied so far).
    KV_FileManParamsHttp(const KV_FileManParamsHttp& other);
    KV_FileManParamsHttp& operator=(const KV_FileManParamsHttp& other);
    ~KV_FileManParamsHttp() override;

    // Same kind, addresses and login (KV_HttpLoginData::operator==). Options,
    // security, proxy and documents take no part.
    bool operator==(const KV_FileManParams& other) const override;
    const KV_FileManOpts& opts() const override { return opts_; }
    KV_FileManOpts& opts() override { return opts_; }
    KV_FileManParams* clone() const override;
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_HTTP; }

    // Prepares the parameters of `node` from `tree`: the read-only flag and
    // the retry count as for every kind, then the proxy of the HTTP group the
    // node inherits from. False, with the proxy left alone, when the node is
    // null, the tree has no root group or the node has no enclosing HTTP
    // group.
    bool init(const KV_DsTree& tree, KV_DsTreeNode* const node) override;

    // Stored trimmed of blanks, tabs, CR and LF at both ends.
    const KV_String& src_addr() const { return src_addr_; }
    void set_src_addr(const KV_String& addr);
    const KV_String& dst_addr() const { return dst_addr_; }
    void set_dst_addr(const KV_String& addr);

    KV_FileManHttpOpts& opts_http() { return opts_; }
    const KV_FileManHttpOpts& opts_http() const { return opts_; }
    void set_opts(const KV_FileManHttpOpts& opts) { opts_ = opts; }

    // 0 HTTP; any other value HTTPS.
    uint32_t security() const { return security_; }
    void set_security(uint32_t security) { security_ = security; }
    KV_HttpLoginData& ldata() { return ldata_; }
    const KV_HttpLoginData& ldata() const { return ldata_; }
    void set_ldata(const KV_HttpLoginData& ldata) { ldata_ = ldata; }
    // Always the enclosing group's: init() copies it.
    KV_ProxyOptsHttp& proxy() { return proxy_; }
    const KV_ProxyOptsHttp& proxy() const { return proxy_; }
    // Documents created or deleted through the data source change the list.
    bool update_docs() const { return update_docs_; }
    void set_update_docs(bool update) { update_docs_ = update; }

    // ---- documents

    const KVTL::KV_ListVal<KV_String>& list_docs() const { return docs_; }
    // Clears `list` and adds the documents in order; false at the first one
    // that cannot be added.
    bool get_docs(KVTL::KV_ListVal<KV_String>& list) const;
    // Appends the trimmed text unless it is empty or listed already.
    // changed := whether it was appended; false only when the list cannot
    // grow.
    bool add_doc(const KV_String& doc, bool& changed);
    // Removes the trimmed text when listed. changed := whether it was
    // removed.
    bool del_doc(const KV_String& doc, bool& changed);
    // Replaces the list by the lines of `text` (CR LF, CR or LF separated),
    // one add_doc each; false when one cannot be added.
    bool set_docs(const KV_String& text);
    // The documents joined with CR LF.
    KV_String docs() const;

private:
    KV_String src_addr_;
    KV_String dst_addr_;
    KVTL::KV_ListVal<KV_String> docs_;
    KV_FileManHttpOpts opts_;
    uint32_t security_ = 0;
    KV_HttpLoginData ldata_;
    KV_ProxyOptsHttp proxy_;
    bool update_docs_ = true;
};
