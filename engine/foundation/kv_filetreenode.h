// One folder or file of a file manager's browse tree.
//
// A node holds a clone of its entry's file data, its children (sorted by name
// and owned), its node flags, the state of its last listing and the counters
// of that listing. Listings deliver their entries as new nodes (in a
// KV_MsgTreeScan or a KV_FileListStore); the browse tree takes them over or
// deletes them.
//
// Threads: a node is built on a worker thread and from then on handed over as
// a whole; inside a browse tree it is used only on the user-interface thread.
#pragma once

#include <cstdint>

#include "foundation/kv_filedata.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_FileTree;

// State of a node's last listing.
enum KV_TREE_NODE_STAT : uint32_t {
    KV_TREE_NODE_STAT_NONE = 0,      // nothing pending
    KV_TREE_NODE_STAT_FAILED = 1,    // the last listing failed (text in err_str)
    KV_TREE_NODE_STAT_REQUESTED = 2, // a listing was requested
    KV_TREE_NODE_STAT_RUNNING = 3,   // a listing is running
};

// Node flag bits (node_flags()).
inline constexpr uint8_t KV_TN_MARKED = 1; // not seen in the current listing
inline constexpr uint8_t KV_TN_RDONLY = 2;
inline constexpr uint8_t KV_TN_TEMP = 4;
inline constexpr uint8_t KV_TN_EXPECTED = 8; // added by an expand notice, not yet listed
inline constexpr uint8_t KV_TN_NSCAN = 16;   // not to be scanned
inline constexpr uint8_t KV_TN_DIR = 32;     // reported for folders, never stored
inline constexpr uint8_t KV_TN_DRIVE = 64;

class KV_FileTreeNode
{
public:
    // Flags 0, no children, valid_items 0xFFFFFFFF, sum_size 0; stores a clone
    // of fd (when no memory can be had the node has no file data and fdc()
    // gives the shared empty entry).
    KV_FileTreeNode(bool case_sens, const KV_FileData& fd,
                    KV_TREE_NODE_STAT status = KV_TREE_NODE_STAT_NONE);
    // Copying copies the file data only (a fresh clone): no children, flags,
    // status or counters.
    KV_FileTreeNode(const KV_FileTreeNode& other);
    KV_FileTreeNode& operator=(const KV_FileTreeNode& other);
    // Deletes every child and releases the file data.
    virtual ~KV_FileTreeNode();

    // The file data are equal (KV_FileData::operator==).
    bool operator==(const KV_FileTreeNode& other) const;
    // Names compared with this node's case sensitivity; false for null. The
    // sorted child list uses these, so a file and a folder of one name collide.
    bool operator==(const KV_FileTreeNode* other) const;
    bool operator<(const KV_FileTreeNode* other) const;

    // The file data, or the shared empty entry when the node has none.
    const KV_FileData& fdc() const;
    const KV_String& name() const { return fdc().name(); }
    bool is_dir() const { return fdc().is_dir(); }
    // The folder "." or "..": a listing shows them, but they are not
    // entries of the folder (never counted, never merged as children).
    bool is_dot_dir() const { return is_dir() && (name() == "." || name() == ".."); }
    const KV_String& err_str() const { return err_str_; }
    // The children, sorted by name; owned by this node.
    const KVTL::KV_ListPtrSrt<KV_FileTreeNode>& list() const { return list_; }
    KVTL::KV_ListPtrSrt<KV_FileTreeNode>& list() { return list_; }
    KV_TREE_NODE_STAT status() const { return status_; }
    // The stored bits, plus KV_TN_DIR for a folder.
    uint8_t node_flags() const;
    // Items counted by the last listing; 0xFFFFFFFF before any listing.
    uint32_t valid_items() const { return valid_items_; }
    // Bytes of the counted items that had a valid size.
    int64_t sum_size() const { return sum_size_; }
    bool case_sens() const { return case_sens_; }

    bool marked() const { return (node_flags_ & KV_TN_MARKED) != 0; }
    bool rdonly() const { return (node_flags_ & KV_TN_RDONLY) != 0; }
    bool temp() const { return (node_flags_ & KV_TN_TEMP) != 0; }
    bool expected() const { return (node_flags_ & KV_TN_EXPECTED) != 0; }
    bool nscan() const { return (node_flags_ & KV_TN_NSCAN) != 0; }

    // node_flags := set | (node_flags & ~clear)
    void set_node_flags(uint8_t set, uint8_t clear);
    void set_temp(bool temp);
    // Pass through to the file data when there is one; set_accf only for an
    // extended entry.
    void set_fd_flags(uint8_t set, uint8_t clear);
    void set_accf(const KV_String& accf);
    void update_nempty(const KV_String& path);
    void set_err_str(const KV_String& text) { err_str_ = text; }

    // The node's description for a tool tip: its name, then (each on a line
    // of its own after "\r\n") time, size, permissions, owner, group and last
    // error where there is something to show. For "." and ".." it is
    // "Current directory: " and path in path_man's notation (empty when the
    // path cannot be built).
    KV_String info(const KV_PathMan& path_man, const KV_PathDef& path) const;

private:
    // The browse tree keeps the status and the counters of the listings.
    friend class KV_FileTree;

    KV_FileData* fd = nullptr;
    KVTL::KV_ListPtrSrt<KV_FileTreeNode> list_;
    uint8_t node_flags_ = 0;
    KV_TREE_NODE_STAT status_ = KV_TREE_NODE_STAT_NONE;
    uint32_t valid_items_ = 0xFFFFFFFFu;
    int64_t sum_size_ = 0;
    KV_String err_str_;
    bool case_sens_ = true;
};
