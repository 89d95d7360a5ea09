// The nodes of the data-source tree: the abstract base of every node kind.
//
// The tree (KV_DsTree) holds the user's data sources as nodes: protocol groups
// and folders (kv_dstreenodegrp.h), servers, the local computer and the live
// file-manager instances of a data source (kv_dstreenodeds.h). This base holds
// what every node has (name, comment, tree path, the inherit-settings flag
// and the owned children), declares the virtual operations through which the
// tree, the file reader and writer and the program treat every kind alike,
// and writes the keys common to every saved node.
//
// Saving: a node writes a key only when its value differs from the value in
// the default node of its class (one per class, made on first use and kept
// until the program ends), so a file holds only what the user changed.
// Loading goes key by key through the virtual load(key, value) chain: a
// class takes its own keys, offers the rest to its options, and passes what
// is left to the base class, which refuses any key it does not know.
//
// Ownership: a node owns its children and deletes them with itself. Nodes are
// not copied by value: clone() makes a free-standing copy without children,
// which its caller frees with destr_clone (so that the library's heap frees
// what it allocated), and operator=(const KV_DsTreeNode*) overwrites the
// settings of a node in place.
//
// Threads: nodes belong to the tree's thread (the user-interface thread, or
// the loader thread at start-up). Other threads only ever get clones.
#pragma once

#include <cstdint>
#include <functional>

#include "datasources/kv_keyval.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_DsTree;
class KV_FileManOpts;
class KV_FileManParams;
class KV_DsRoot;
class KV_FileReqTransParamsCp;
class KV_FileReqTransParamsRen;
class KV_FileReqTransParamsRm;
class KV_Storage;

// The kind of a node; also the type of a KV_DsId.
enum KV_DS_NODE_TYPE : uint32_t {
    KV_DS_NODE_NONE = 0,
    KV_DS_NODE_STD = 1,      // the local computer (KV_DsTreeNodeStd)
    KV_DS_NODE_FTP = 2,      // FTP or FTPS server (KV_DsTreeNodeFtp)
    KV_DS_NODE_SFTP = 3,     // SFTP server (KV_DsTreeNodeSftp)
    KV_DS_NODE_HTTP = 4,     // HTTP or HTTPS server (KV_DsTreeNodeHttp)
    KV_DS_NODE_GRP = 5,      // group (folder) of any kind (KV_DsTreeNodeGrp)
    KV_DS_NODE_GRP_DS = 6,   // the root group; only as a group's type_grp()
    KV_DS_NODE_MAN_INST = 7, // live file-manager instance (KV_DsTreeNodeManInst)
};

class KV_DsTreeNode : public KV_KeyVal
{
public:
    // Empty name, comment and path; inherits settings; no children.
    KV_DsTreeNode();
    KV_DsTreeNode(const KV_DsTreeNode&) = delete;
    KV_DsTreeNode& operator=(const KV_DsTreeNode&) = delete;
    // Deletes every child node (and so the whole subtree).
    virtual ~KV_DsTreeNode();

    // Identity, for the child list: a node equals only itself and nodes sort
    // by address.
    bool operator==(const KV_DsTreeNode* other) const { return this == other; }
    bool operator<(const KV_DsTreeNode* other) const
    {
        return std::less<const KV_DsTreeNode*>()(this, other);
    }

    // ---- virtual operations ------------------------------------------------

    // Writes the node's "SET" lines. False here (the node is not written) and
    // as soon as one write fails in the saving classes.
    virtual bool save(const KV_DsTree& tree, KV_Storage& st) const;
    // Copies the name (through set_name), path, comment and inherit flag of
    // `other`; the children are not touched. The kinds add their settings
    // when `other` is of the same kind. False for a null `other`.
    virtual bool operator=(const KV_DsTreeNode* other);
    virtual KV_DS_NODE_TYPE type() const = 0;
    // The node's type word in the data-source file; empty here: a node with
    // an empty save type is never written.
    virtual KV_String save_type() const;
    // The identity by which the tree finds the node and the engine shares a
    // file manager.
    virtual KV_FileManId id() const = 0;
    // A new node of the same class with this node's settings and no
    // children, owned by the caller (destr_clone); null when memory cannot be
    // had. With a tree, settings that the node inherits are taken from the
    // group it inherits from.
    virtual KV_DsTreeNode* clone(const KV_DsTree* tree) const = 0;
    // Whether the node can be opened in a browse window; true here.
    virtual bool can_open() const;
    // A document was opened (deleted) through the node; `changed` tells
    // whether the node's settings changed. True and no change here.
    virtual bool node_doc_add(const KV_String& doc, bool& changed);
    virtual bool node_doc_del(const KV_String& doc, bool& changed);
    // Takes one keyed value of the data-source file. Here: COMMENT,
    // INH_PARAMS and DEFAULT_PATH (the last only for a node with
    // parameters); false for any other key and for a malformed flag, which
    // makes the file reader refuse the whole file.
    virtual bool load(const KV_String& key, const KV_String& value);
    // Whether the node may not be edited: here when its options say so.
    virtual bool rdonly() const;
    // False only for the automatic-update data source, which the tree never
    // reports.
    virtual bool visible() const;
    // Stores a password in the node's login; false here (no login).
    virtual bool set_pass(const KV_String& pass);
    // The server address; empty here.
    virtual KV_String srv() const;
    // The descriptive text shown with the node; empty here.
    virtual KV_String info(const KV_DsRoot& pool) const;
    // The connection parameters; null here.
    virtual KV_FileManParams* params();
    virtual const KV_FileManParams* params() const;
    // The file-manager options: those of params(), or null without them.
    virtual KV_FileManOpts* opts();
    virtual const KV_FileManOpts* opts() const;
    // Parameters of a copy between this data source and `other`, of a rename
    // and of a delete; the defaults here.
    virtual KV_FileReqTransParamsCp params_cp(const KV_DsTreeNode& other) const;
    virtual KV_FileReqTransParamsRen params_ren() const;
    virtual KV_FileReqTransParamsRm params_rm() const;
    // Stores the name without any '|' (the path separator of the file) and
    // trimmed of blanks at both ends.
    virtual void set_name(const KV_String& name);
    // Run after the node was loaded or updated; nothing here.
    virtual void post_updt();

    // ---- fields ------------------------------------------------------------

    const KV_String& name() const { return name_; }
    const KV_String& comment() const { return comment_; }
    // Stored trimmed of blanks at both ends.
    void set_comment(const KV_String& comment);
    // The enclosing nodes' names joined with '|', upper-cased; set by the
    // tree when it adds the node.
    const KV_String& path() const { return path_; }
    // Stored upper-cased and trimmed of blanks at both ends.
    void set_path(const KV_String& path);
    // The node takes its settings from the enclosing group of its protocol.
    bool inh_params() const { return inh_params_; }
    void set_inh_params(bool inh) { inh_params_ = inh; }

    // The children in their order. The list does not delete them; the node
    // does, in its destructor.
    const KVTL::KV_ListPtr<KV_DsTreeNode>& list() const { return list_; }
    // Appends `child`, which the node owns from then on. False when the list
    // cannot grow (the caller keeps the child then) or for null.
    bool insert(KV_DsTreeNode* const child);
    // Unlinks `child` without deleting it; the caller owns it then. False
    // when it is not a child of this node.
    bool remove(KV_DsTreeNode* const child);

    // The text under which the node is shown: the name, or for a node that
    // is never saved (an instance) the text of its id.
    KV_String disp_name() const;

    // For the kinds' info(): "Inherits settings from: <group>" when the node
    // inherits from a named group, then the comment after an empty line (or
    // after CR LF alone when there is no inheritance line).
    KV_String info_add(const KV_DsTree& tree) const;

    // Writes COMMENT, INH_PARAMS and DEFAULT_PATH, each only when it differs
    // from `def`, the default node of the caller's class. The saving
    // classes call it first. False as soon as one write fails.
    bool save(KV_Storage& st, const KV_DsTreeNode& def) const;

    // ---- static helpers ----------------------------------------------------

    // Frees a node made by clone(); null is ignored.
    static void destr_clone(const KV_DsTreeNode* const node);
    // A protocol word (FTP, FTPS, HTTP, HTTPS, SFTP; trimmed, any case) as a
    // node type and whether the protocol is the secure variant. An empty
    // word gives `def` and leaves `secure` alone; an unknown word gives
    // KV_DS_NODE_NONE and leaves `secure` alone.
    static void get_type(const KV_String& word, KV_DS_NODE_TYPE& type, bool& secure,
                         KV_DS_NODE_TYPE def);

private:
    KV_String comment_;
    KV_String name_;
    KV_String path_;
    bool inh_params_ = true;
    KVTL::KV_ListPtr<KV_DsTreeNode> list_;
};
