// The connection parameters of a data source, the common base of the kinds'
// parameters (local disk, FTP, HTTP, SFTP). The data-source tree stores them;
// a file manager keeps a clone of its own.
#pragma once

#include <cstdint>

#include "datasources/kv_filemanopts.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_DsTree;
class KV_DsTreeNode;

// Kind of a file manager and of its parameters.
enum KV_FILE_MAN_TYPE : uint32_t {
    KV_FILE_MAN_TYPE_STD = 1, // the local disk
    KV_FILE_MAN_TYPE_FTP = 2,
    KV_FILE_MAN_TYPE_HTTP = 3,
    KV_FILE_MAN_TYPE_SFTP = 4,
};

// The connection parameters of a data source. The protocol kinds add their
// addresses and options; a clone belongs to whoever asked for it and is
// released with destr_clone.
//
// Threads: a plain value; one thread at a time per object. A file manager
// guards its own clone with its parameters lock.
class KV_FileManParams : public KV_SafeObj
{
public:
    KV_FileManParams() = default;
    KV_FileManParams(const KV_FileManParams& other) = default;
    // Copies the name and the default path.
    KV_FileManParams& operator=(const KV_FileManParams& other) = default;
    virtual ~KV_FileManParams();

    // Whether `other` describes the same connection.
    virtual bool operator==(const KV_FileManParams& other) const = 0;
    // The options of the kind (a KV_FileReqManOpts with its path syntax).
    virtual const KV_FileManOpts& opts() const = 0;
    virtual KV_FileManOpts& opts() = 0;
    // A new heap copy of the same kind, owned by the caller (destr_clone);
    // null when memory cannot be had.
    virtual KV_FileManParams* clone() const = 0;
    virtual KV_FILE_MAN_TYPE type() const = 0;
    // Prepares the parameters of the tree's `node` before they go to a file
    // manager: the read-only flag from the node and the retry count from the
    // root group's transfer options. The kinds add what the enclosing group
    // of their protocol provides. False, with nothing changed, when `node` is
    // null or the tree has no root group. On the tree's thread.
    virtual bool init(const KV_DsTree& tree, KV_DsTreeNode* const node);

    // Destroys a clone through its virtual destructor; null is ignored. The
    // program frees every clone the engine hands it (clone_params) with it.
    static void destr_clone(const KV_FileManParams* params);

    // The data-source name, stored trimmed on both sides.
    void set_name(const KV_String& name);
    const KV_String& name() const { return name_; }
    // The start folder, stored trimmed. With `normalise`, a text that names a
    // file in the options' path syntax loses its last entry (the folder that
    // holds it is kept). When a step of that fails the trimmed text is kept.
    void set_def_path(const KV_String& path, bool normalise);
    const KV_String& def_path() const { return def_path_; }

private:
    KV_String name_;
    KV_String def_path_;
};
