// Notification messages: how the engine tells the user interface what
// happened.
//
// An engine thread creates a message with new, hands it to an informer's
// send() and forgets it. The user-interface thread pops it, dispatches on
// type(), reads the public fields of that kind and hands it back to the
// informer's destroy(), so that the engine library's heap frees it. The
// program never deletes a message itself.
//
// A message owns everything it carries. Kinds that own heap objects through
// pointers (KV_MsgTreeScan, KV_MsgReqParams) and the request log cannot be
// copied: a copy would delete the same objects twice. The other kinds copy
// field by field; the engine itself never copies a message.
//
// Threads: a message belongs to one thread at a time: its sender until
// send(), then the informer, then the thread that popped it.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kv_ids.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

// The kinds that carry values of a higher layer are declared beside those
// values: the request and worker notices in requests/kv_reqmsg.h, the session
// notices in requests/kv_sessinfo.h. KV_MSG numbers every kind.

// Messages only point to these, or carry the enumeration's 4-byte value.
class KV_FileTreeNode;
enum KV_FILEOP : uint32_t;

// Kind of a message, the result of KV_Msg::type().
enum KV_MSG : uint32_t {
    KV_MSG_STD = 0,         // KV_MsgStdNtf
    KV_MSG_ERR = 1,         // KV_MsgErrNtf
    KV_MSG_TAVO = 2,        // KV_MsgTavoNtf
    KV_MSG_REQ = 3,         // KV_MsgReqNtf
    KV_MSG_REQ_LOG = 4,     // KV_MsgReqLog
    KV_MSG_REQ_PARAMS = 5,  // KV_MsgReqParams
    KV_MSG_FILEOP = 6,      // KV_MsgFileOp
    KV_MSG_SESS = 7,        // KV_MsgSessNtf
    KV_MSG_SESS_LOG = 8,    // KV_MsgSessLog
    KV_MSG_MAN = 9,         // KV_MsgManNtf
    KV_MSG_LOGIN_STAT = 10, // KV_MsgLoginStatNtf
    KV_MSG_TREE_SCAN = 11,  // KV_MsgTreeScan
    KV_MSG_TREE_PWD = 12,   // KV_MsgTreePwd
    KV_MSG_TREE_NTF = 13,   // KV_MsgTreeNtf
    KV_MSG_TREE_EXP = 14,   // KV_MsgTreeExp
};

// Kind of a plain notice (KV_MsgStdNtf).
enum KV_MSG_STD_NTF : uint32_t {
    // Every request of the manager is processed (sent by the request manager
    // thread while its all-processed report is on).
    KV_MSG_STD_NTF_ALL_PROC = 0,
};

// Kind of a file-manager notice (KV_MsgManNtf).
enum KV_MAN_NTF : uint32_t {
    KV_MAN_NTF_INIT = 0,       // the manager was set up (text: its parameters' name)
    KV_MAN_NTF_REMOVED = 1,    // the manager was destroyed
    KV_MAN_NTF_DS_CHANGED = 2, // its data source changed (text: the data source's name)
    KV_MAN_NTF_UNLOCKED = 3,   // a holder let the manager go
    KV_MAN_NTF_DOC_ADD = 4,    // a document was added (text: its path)
    KV_MAN_NTF_DOC_DEL = 5,    // a document was deleted (text: its path)
    KV_MAN_NTF_BROWSE = 6,     // the user interface should browse the manager
    KV_MAN_NTF_UNUSED = 7,     // no transfer request uses the manager any more
};

// Login state of a worker's connection (KV_MsgLoginStatNtf).
enum KV_LOGIN_STATUS : uint32_t {
    KV_LOGIN_STATUS_NONE = 0,      // not connected
    KV_LOGIN_STATUS_CONNECTED = 1, // connected, not logged in
    KV_LOGIN_STATUS_LOGGED_IN = 2,
    KV_LOGIN_STATUS_REFUSED = 3,
};

// Kind of a browse-tree notice (KV_MsgTreeNtf).
enum KV_TREE_NTF : uint32_t {
    KV_TREE_NTF_PWD_BUILT = 0,    // the current folder's path was built (by the tree itself)
    KV_TREE_NTF_SCAN_REQ = 1,     // a listing of the folder was requested
    KV_TREE_NTF_SCAN_BEGIN = 2,   // a listing begins
    KV_TREE_NTF_SCAN_END = 3,     // a listing ended: flag true on success, else text the error
    KV_TREE_NTF_STATUS_RESET = 4, // the node's status goes back to 0
    KV_TREE_NTF_RECV_ONLY = 5,    // a notice for the tree's receivers only
};

// Kind of a browse-tree expand request (KV_MsgTreeExp).
enum KV_TREE_EXP : uint32_t {
    KV_TREE_EXP_CREATED = 0, // an entry was created
    KV_TREE_EXP_REMOVED = 1, // an entry was removed
    KV_TREE_EXP_CHMOD = 2,   // an entry's permissions changed (text: the permission letters)
};

class KV_Msg
{
public:
    virtual ~KV_Msg();

    // The kind; consumers dispatch on it and then read the kind's fields.
    virtual KV_MSG type() const = 0;

    // Called by KV_Informer::send on the sending thread, before the message
    // is queued: work that its consumer would otherwise do on the
    // user-interface thread. Never throws. Nothing by default.
    virtual void prepare() {}

    // Identity: the informer's queue holds pointers to distinct messages.
    bool operator==(const KV_Msg* other) const { return this == other; }
    bool operator<(const KV_Msg* other) const { return this < other; }

protected:
    KV_Msg() = default;
    KV_Msg(const KV_Msg&) = default;
    KV_Msg& operator=(const KV_Msg&) = default;
};

// A plain notice.
class KV_MsgStdNtf : public KV_Msg
{
public:
    explicit KV_MsgStdNtf(KV_MSG_STD_NTF ntf) : ntf(ntf) {}
    KV_MSG type() const override { return KV_MSG_STD; }

    KV_MSG_STD_NTF ntf;
};

// An error that nobody was asked about: it is shown when popped.
class KV_MsgErrNtf : public KV_Msg
{
public:
    KV_MsgErrNtf(uint8_t prio, const KV_String& text) : prio(prio), text(text) {}
    KV_MSG type() const override { return KV_MSG_ERR; }

    // The priority the reporter gave to set_err.
    uint8_t prio;
    KV_String text;
};

// The file operation of a copy request, sent when the copy reaches it: the
// local file, the name, and whether the file came from a server.
class KV_MsgFileOp : public KV_Msg
{
public:
    KV_MsgFileOp(KV_FILEOP fileop, const KV_String& path1, const KV_String& path2, bool flag)
        : fileop(fileop), path1(path1), path2(path2), flag(flag)
    {
    }
    KV_MSG type() const override { return KV_MSG_FILEOP; }

    KV_FILEOP fileop;
    KV_String path1;
    KV_String path2;
    bool flag;
};

// A change concerning a live file-manager instance.
class KV_MsgManNtf : public KV_Msg
{
public:
    KV_MsgManNtf(const KV_FileManId& man_id, KV_MAN_NTF ntf, const KV_String& text)
        : man_id(man_id), ntf(ntf), text(text)
    {
    }
    KV_MSG type() const override { return KV_MSG_MAN; }

    KV_FileManId man_id;
    KV_MAN_NTF ntf;
    KV_String text;
};

// The login state of a worker's connection.
class KV_MsgLoginStatNtf : public KV_Msg
{
public:
    KV_MsgLoginStatNtf(uint32_t tavo_id, KV_LOGIN_STATUS status) : tavo_id(tavo_id), status(status)
    {
    }
    KV_MSG type() const override { return KV_MSG_LOGIN_STAT; }

    uint32_t tavo_id;
    KV_LOGIN_STATUS status;
};

// Base of the browse-tree messages: the folder the message is about.
class KV_MsgTree : public KV_Msg
{
public:
    KV_PathDef path;

protected:
    explicit KV_MsgTree(const KV_PathDef& path) : path(path) {}
    KV_MsgTree(const KV_MsgTree&) = default;
    KV_MsgTree& operator=(const KV_MsgTree&) = default;
};

// The listing of `path` as new nodes, which the message owns until the
// browse tree takes them out of the list (whatever is still listed when the
// message is destroyed is deleted with it). Not copyable.
class KV_MsgTreeScan : public KV_MsgTree
{
public:
    explicit KV_MsgTreeScan(const KV_PathDef& path);
    ~KV_MsgTreeScan() override;
    KV_MsgTreeScan(const KV_MsgTreeScan&) = delete;
    KV_MsgTreeScan& operator=(const KV_MsgTreeScan&) = delete;

    KV_MSG type() const override { return KV_MSG_TREE_SCAN; }
    // Sorts `order`: merging a listing of 100,000 names into the browse tree
    // needs them by name, and sorting them there held the window.
    void prepare() override;

    // Growth step 128. add() hands a node to the message.
    KVTL::KV_ListPtr<KV_FileTreeNode> nodes;
    // Indices of `nodes` sorted by name (stable: equal names keep their
    // listing order), compared with the nodes' case sensitivity, which is
    // order_case_sens. Empty when not made: not yet sent, no nodes, a null
    // node, nodes of mixed case sensitivity, or no memory.
    std::vector<uint32_t> order;
    bool order_case_sens = true;
    // Made with `order`: order_dup[k] is 1 when the name at order[k] equals
    // the one before it; counted and counted_size sum what a listing counts
    // (every entry but the folders "." and "..", and their valid sizes).
    std::vector<uint8_t> order_dup;
    uint32_t counted = 0;
    int64_t counted_size = 0;
};

// `path` is the current folder.
class KV_MsgTreePwd : public KV_MsgTree
{
public:
    explicit KV_MsgTreePwd(const KV_PathDef& path) : KV_MsgTree(path) {}
    KV_MSG type() const override { return KV_MSG_TREE_PWD; }
};

// A notice about the node at `path`.
class KV_MsgTreeNtf : public KV_MsgTree
{
public:
    KV_MsgTreeNtf(const KV_PathDef& path, KV_TREE_NTF ntf, bool flag, const KV_String& text)
        : KV_MsgTree(path), ntf(ntf), flag(flag), text(text)
    {
    }
    KV_MSG type() const override { return KV_MSG_TREE_NTF; }

    KV_TREE_NTF ntf;
    bool flag;
    KV_String text;
};

// Asks the tree to expand the node at `path`.
class KV_MsgTreeExp : public KV_MsgTree
{
public:
    // Note the order: the text comes before the flag here.
    KV_MsgTreeExp(const KV_PathDef& path, KV_TREE_EXP exp, const KV_String& text, bool flag)
        : KV_MsgTree(path), exp(exp), flag(flag), text(text)
    {
    }
    // With an empty text.
    KV_MsgTreeExp(const KV_PathDef& path, KV_TREE_EXP exp, bool flag)
        : KV_MsgTree(path), exp(exp), flag(flag)
    {
    }
    KV_MSG type() const override { return KV_MSG_TREE_EXP; }

    KV_TREE_EXP exp;
    bool flag;
    KV_String text;
};
