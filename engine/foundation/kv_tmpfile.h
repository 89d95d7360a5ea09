// Names for new temporary files in the two temporary folders of the
// well-known folder table.
//
// There is one KV_TmpFileMan for the whole library (singleton()). In the
// program's temporary folder (KV_PATH_TMP) it hands out random names and keeps
// a registry of the names in use, so two threads never pick the same file; in
// the system's temporary folder (KV_PATH_SYS_TMP) it derives names from the
// caller's name with a counter (report.txt, report1.txt, report2.txt ...).
// Either way the file is created (empty, mode 0600, O_EXCL) before its name is
// handed out, so two callers - threads or processes - never get one file.
#pragma once

#include <cstdint>

#include "foundation/kv_event.h"
#include "foundation/kv_file.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

// Thread-safe: any thread may call new_file, reg and unreg. reg_lock guards
// the registry and the naming in the program's temporary folder; sys_lock
// serialises the naming in the system's temporary folder. Neither lock is
// held while the other is taken, and neither is re-entrant.
class KV_TmpFileMan
{
public:
    // The library's one instance, built on first use and destroyed at exit
    // (the registry is emptied; no file is deleted).
    static KV_TmpFileMan& singleton();
    virtual ~KV_TmpFileMan();

    KV_TmpFileMan(const KV_TmpFileMan&) = delete;
    KV_TmpFileMan& operator=(const KV_TmpFileMan&) = delete;

    // The notation of local paths: separator '/', case-sensitive, no prefix.
    const KV_PathMan& path_man() const { return path_man_; }

    // The folder of the table entry type (without trailing separators) split
    // into out with root_entry clear; an absolute folder keeps its leading
    // "/" as entry 0. The result of the split.
    bool tmp_dir(KV_PATH_TYPE type, KV_PathDef& out) const;

    // Sets out to the full path of a new, empty file that nobody else uses.
    // KV_PATH_TMP: a random name, registered as in use (unreg it when the file
    //   is gone); name is not used.
    // KV_PATH_SYS_TMP: name.fname(), then with 1, 2 ... inserted before its
    //   first '.' (at the end when it has none) until a name is free; not
    //   registered. A name that cleans to empty gives false.
    // Both fail when the folder is unset or cannot be written, or when no free
    // name turns up within a bounded number of tries. Any other type: nothing
    // happens and the result is true.
    bool new_file(KV_PATH_TYPE type, KV_PathDef& out, const KV_String& name);

    // Adds the path text to the registry unless it is there; true when it is
    // there afterwards. An empty path is accepted with true, nothing added.
    bool reg(const KV_String& path);
    bool reg(const KV_PathDef& path);
    // Removes the path text from the registry; false when it was not there.
    // The empty path gives true.
    bool unreg(const KV_String& path);
    bool unreg(const KV_PathDef& path);

protected:
    // The same without locking; for callers that hold reg_lock.
    bool add_in_use(const KV_String& path);
    bool add_in_use(const KV_PathDef& path);
    bool del_in_use(const KV_String& path);
    bool del_in_use(const KV_PathDef& path);
    bool in_use(const KV_String& path) const;

private:
    // A source of candidate names; a text with '/' counts by its last part.
    using NameSource = KV_String (*)();

    KV_TmpFileMan();

    bool new_reg_name(KV_PathDef& out, NameSource draw);
    bool new_counter_name(KV_PathDef& out, const KV_String& name);

    // Lets the tests drive new_reg_name with a name source that runs dry.
    friend class KV_TmpFileManPeer;

    KV_Lock reg_lock;
    KV_Lock sys_lock;
    KV_PathMan path_man_;
    KVTL::KV_ListValSrt<KV_String> in_use_; // guarded by reg_lock
};
