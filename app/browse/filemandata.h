#ifndef KIVREL_BROWSE_FILEMANDATA_H
#define KIVREL_BROWSE_FILEMANDATA_H

// The link between one browse pane and one engine file manager.
//
// The adapter registers the pane's data-source instance with the engine root,
// holds one lock on its file manager (so that the root never deletes it while
// the pane lives), routes the manager's informer to the pane, keeps the
// pane's current folder and turns folder changes into scans. A folder the
// user picks becomes current only when the engine reports that the listing
// succeeded, so a folder that cannot be listed is never shown as current.
// Requests (copy, move, delete, open) go through the engine root's façade
// with the data source's request parameters, optionally edited first in
// their dialog.
//
// One kind per protocol; they differ only in the virtual queries. The pane
// owns the adapter; the application lists every live adapter.
// User-interface thread only.

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "ftp/kv_filemanftp.h"
#include "requests/kv_filetree.h"
#include "requests/kv_tavoinfo.h"

#include <cstdint>

class CBrowseFrm;
class KV_FileMan;
class KV_FileReqInfoMan;
class KV_Informer;
class KV_Msg;
class QWidget;

class CFileManData
{
public:
    // Unbound, empty folder, list shown; joins the application's list.
    CFileManData();
    // When bound: the informer loses its window, the browse tree passes to
    // the receiver of another live adapter of the same manager (or to none),
    // and the lock is released. Then the engine root deletes the managers
    // nothing holds, and the adapter leaves the application's list.
    virtual ~CFileManData();
    CFileManData(const CFileManData&) = delete;
    CFileManData& operator=(const CFileManData&) = delete;

    // ---- per-protocol queries (null, false, 0 or nothing when unbound or
    // bound to a manager of another protocol)

    // The worker-info table of the file manager.
    virtual KV_TavoInfoMan* GetTavoInfoMan();
    // The browse tree of the file manager.
    virtual KV_FileTree* GetFileTree();
    // True for SFTP panes; nothing reads it yet.
    virtual bool IsSftp();
    // The file-list column (5 permissions, 6 user, 7 group) means nothing for
    // this protocol.
    virtual bool IsColumnHidden(int column);
    // The data source has connections (workers) to show.
    virtual bool HasConnection();
    // Which picture variant the connection state 1 uses.
    virtual bool GetStateVariant();
    // `name` is a top-level entry of the file system ("/" on a local pane).
    virtual bool IsRootName(const KV_String& name);
    // 1 automatic, 2 ASCII, 3 binary; 0 for protocols without modes.
    virtual KV_FILE_MAN_TMODE GetTransferMode();
    virtual void SetTransferMode(KV_FILE_MAN_TMODE mode);

    // ---- binding

    // Registers (or finds) the manager of `id`, locks it, hands its browse
    // tree `receiver`, makes `pane` the window of its informer and shows the
    // starting folder. True when bound to a valid id and the first showing
    // succeeded. Call once.
    bool Attach(CBrowseFrm* pane, KV_FileTreeGlobalNtfRecv* receiver, const KV_FileManId& id);
    KV_FileMan* GetFileMan() const { return man; }
    KV_Informer* GetInformer() const;
    // The bound manager's id; empty when unbound.
    KV_FileManId GetManId() const;
    KV_FileReqInfoMan* GetReqInfoMan() const;
    bool IsCaseSens() const;
    bool IsListHidden() const { return list_hidden; }
    // Stores the flag; when it changed and `pane` is given, the pane's folder
    // tree shows files or stops showing them.
    void SetListHidden(bool hidden, CBrowseFrm* pane);

    // ---- notices

    // A notice popped from the manager's informer. A successful scan the
    // user asked for (tree notice 5) moves the current folder and is not
    // passed on; every other notice goes to the manager. The message stays
    // the caller's (listings are taken out of it).
    bool ProcessNtf(KV_Msg* msg);

    // ---- folder (false when unbound or refused)

    const KV_PathDef& GetPath() const { return path; }
    // Shows the current folder again; asks for the working folder first
    // when the manager does not know it yet.
    bool Refresh();
    // Whether the Refresh command is enabled.
    bool CanRefresh();
    // `skip_if_same` and the same folder: true, nothing done.
    bool SetFolder(const KV_PathDef& folder, bool skip_if_same);
    // "." stays, ".." goes up (not above the top level), anything else goes
    // into that subfolder; with `go` false the path is only built.
    bool ChangeFolder(const KV_String& name, bool go);
    // A folder the user typed, absolute or relative to the current one;
    // scans it. An invalid one is recorded on the informer, level 2,
    // "Invalid path (%s).", and gives false.
    bool SetPathText(const KV_String& text, bool skip_if_same);
    // Lists `folder` with its entries; `user`: the user asked for it.
    bool Scan(const KV_PathDef& folder, bool user);
    bool GetPathText(KV_String& text, const KV_PathDef& folder, bool with_pre,
                     uint32_t nabbrev) const;
    // The completed folder text of `dir`; empty when unbound.
    KV_String GetDirText(const KV_String& dir) const;

    // ---- requests (`parent` null: no dialog; a cancelled dialog queues
    // nothing and gives true)

    bool Remove(const KV_PathDef& dir, const KVTL::KV_ListVal<KV_String>& names, QWidget* parent);
    // Items of the pane `src` come into `dst_dir` of this one, copied or
    // moved.
    bool Receive(const KV_FileManId& src, const KV_PathDef& src_dir, const KV_PathDef& dst_dir,
                 const KVTL::KV_ListVal<KV_String>& names, bool move, bool flag, QWidget* parent);
    // Local files dropped from the desktop; no dialog, the flags as the
    // engine root's copy takes them.
    bool ReceiveLocal(const KV_FileManId& src, const KV_PathDef& src_dir, const KV_PathDef& dst_dir,
                      const KVTL::KV_ListVal<KV_String>& names, bool move, bool flag,
                      bool fallback);
    bool FileOp(const KV_PathDef& dir, const KVTL::KV_ListVal<KV_String>& names, KV_FILEOP op);
    // Disconnects every worker whose session runs.
    void DisconnectAll();

protected:
    // The modal parameter dialogs; true on OK with `params` edited. Tests
    // replace them.
    virtual bool EditRmParams(KV_FileReqTransParamsRm& params, QWidget* parent);
    virtual bool EditCpParams(KV_FileReqTransParamsCp& params, uint16_t src_type, uint16_t dst_type,
                              QWidget* parent);
    virtual bool EditRenParams(KV_FileReqTransParamsRen& params, QWidget* parent);

    KV_FileMan* man = nullptr;

private:
    // The current folder's entries go to the views again: the refresh
    // brackets and a first slice at once, the other slices in later passes
    // of the event loop (at once without a pane). A folder of 100,000
    // entries announced in one pass held the window. A later call ends the
    // one before.
    bool Reannounce(KV_FileTree* tree);
    void ReannounceStep(uint64_t generation);
    static constexpr uint32_t kReannounceSlice = 10000;

    CBrowseFrm* pane = nullptr;
    KV_FileTreeGlobalNtfRecv* receiver = nullptr;
    // The folder being announced again, the last name announced, and the
    // number of the latest re-announcement.
    KV_PathDef reannounce_path;
    KV_String reannounce_after;
    uint64_t reannounce_gen = 0;
    KV_FileTree* bound_tree = nullptr;
    KV_PathDef path;
    bool list_hidden = false;
};

class CFileManDataStd : public CFileManData
{
public:
    KV_TavoInfoMan* GetTavoInfoMan() override;
    KV_FileTree* GetFileTree() override;
    bool IsColumnHidden(int column) override;
    bool HasConnection() override;
    bool IsRootName(const KV_String& name) override;
};

class CFileManDataFtp : public CFileManData
{
public:
    KV_TavoInfoMan* GetTavoInfoMan() override;
    KV_FileTree* GetFileTree() override;
    bool GetStateVariant() override;
    KV_FILE_MAN_TMODE GetTransferMode() override;
    void SetTransferMode(KV_FILE_MAN_TMODE mode) override;
};

class CFileManDataSftp : public CFileManData
{
public:
    KV_TavoInfoMan* GetTavoInfoMan() override;
    KV_FileTree* GetFileTree() override;
    bool IsSftp() override;
    bool GetStateVariant() override;
};

class CFileManDataHttp : public CFileManData
{
public:
    KV_TavoInfoMan* GetTavoInfoMan() override;
    KV_FileTree* GetFileTree() override;
    bool IsColumnHidden(int column) override;
};

#endif
