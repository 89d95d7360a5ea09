#ifndef KIVREL_VIEWS_FILEVIEW_H
#define KIVREL_VIEWS_FILEVIEW_H

// What the file list and the folder tree of a browse pane share: the file
// operations the browse window's commands call on the focused view, the
// binding to the engine's browse tree of the pane's file manager, and the
// handling of dropped files.
//
// A view borrows the pane's adapter (CBrowseFrm::GetData); the pane owns
// the engine link. Every view carries a number, unique in the run, with
// which a view asks the browse tree to deliver a folder to it alone (kinds
// REFRESH, REFRESH_BEGIN and REFRESH_END carry it); the other views ignore
// those deliveries.
//
// User-interface thread only: the browse tree calls the receiver while the
// pane hands it a notice.

#include <QPoint>
#include <QPointer>
#include <QString>

#include "datasources/kv_filereqtransparams.h"
#include "datasources/kv_treenodentf.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_path.h"
#include "requests/kv_filetree.h"

#include <cstdint>

class CBrowseFrm;
class CFileClipData;
class CFileManData;
class KV_FileMan;
class QMimeData;
class QWidget;

class CFileView
{
public:
    // The receiver the browse tree calls; forwards to its view.
    class CFileViewNtf : public KV_FileTreeNtfRecv
    {
    public:
        explicit CFileViewNtf(CFileView* view) : view(view) {}
        void on_tree_ntf(const KV_MsgTreeNtf* msg) override;
        void on_node_ntf(KV_FileTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_PathDef& path,
                         uint32_t extra) override;

    private:
        CFileView* view;
    };

    // Draws the view's number: 1 for the first view of the run.
    CFileView();
    // The view must have unregistered (its destroy handling does).
    virtual ~CFileView();
    CFileView(const CFileView&) = delete;
    CFileView& operator=(const CFileView&) = delete;

    uint32_t GetNumber() const { return number; }
    // The pane, or null without one. Null as well while the pane is being
    // destroyed (its adapter is gone by then).
    CBrowseFrm* GetPane() const;
    // The pane's adapter; null without a pane.
    CFileManData* GetData() const;
    // The view that `wnd` is or lies in (a list or tree view), or null.
    static CFileView* FromWidget(QWidget* wnd);

    // Finds the pane around `view` and registers the receiver with the
    // pane's browse tree; with `update_adapter` the adapter learns that a
    // file list is shown. Reports the view to the pane. True only with a
    // pane and an adapter: a view outside a pane is not made.
    bool Register(QWidget* view, bool update_adapter);
    // Leaves the browse tree; with `update_adapter` the adapter learns that
    // no file list is shown (the folder tree then shows files too).
    virtual void Unregister(QWidget* view, bool update_adapter);

    // ---- file operations of the browse window's commands (nothing
    // without an adapter)

    // Adds a temporary "New directory" entry and opens its name for editing.
    virtual void NewDirectory();
    // Opens the name of the selected entry for editing.
    virtual void Rename();
    // `extended`: the request's parameters are edited in a dialog first.
    virtual void Delete(bool extended);
    virtual void CopyToClipboard(bool cut);
    virtual void Paste(bool extended);
    virtual void FileOperation(KV_FILEOP op);
    // Brings the view in line with the adapter's current folder; true when
    // something shown changed.
    virtual bool UpdateStatus();
    virtual void OnTreeMsg(const KV_MsgTreeNtf* msg);
    virtual void OnTreeNode(KV_FileTreeNode* node, KV_TREE_NODE_NTF kind, const KV_PathDef& folder,
                            uint32_t view_number);
    // True when something is selected and every selected entry passes:
    // its node flags share no bit with `refuse_flags` and, with
    // `files_only`, it is a valid file. With `path` or `type` asked for,
    // exactly one entry must be selected; they get its path and its entry
    // type.
    virtual bool GetSelection(uint32_t refuse_flags, KV_PathDef* path, uint32_t* type,
                              bool files_only);
    // A clone of the one selected entry (the caller frees it with
    // KV_FileData::destr_clone); null unless exactly one is selected.
    virtual KV_FileData* GetSelectedEntry() const;
    virtual bool CanNewDirectory();
    virtual bool CanRename();
    // The selection is one valid file below the top level.
    virtual bool CanGoUp();
    // The folder a paste goes into; empty for none.
    virtual KV_PathDef GetTargetPath();

    // Folder changes through this view; `requester` becomes the window that
    // gets the focus on the entry the engine then reports as expected.
    bool ChangeFolder(QWidget* requester, const KV_String& name, bool go);
    bool SetFolder(QWidget* requester, const KV_PathDef& path, bool skip_if_same);

protected:
    // The window that last asked for a folder change, a new folder or a
    // rename through this view.
    QPointer<QWidget> requester;
    // The focus is in the requesting window.
    bool RequesterHasFocus() const;
    // Pops up the "&File" popup of the browse window around `source` at
    // `global`; its commands go to that window. Nothing outside one.
    static void PopupFileMenu(QWidget* source, const QPoint& global);

    // ---- shared by the views' clipboard, drag and drop

    // The record of `names` in `dir` of this pane's data source.
    bool MakeClip(const KV_PathDef& dir, const KVTL::KV_ListVal<KV_String>& names, bool has_dir,
                  bool cut, CFileClipData& clip) const;
    // Puts the record on the clipboard (copy or cut).
    void PutOnClipboard(const CFileClipData& clip);
    // Starts a drag of the record from `source`.
    void StartDrag(const CFileClipData& clip, QWidget* source);
    // Reads the program's record (`format`), else a list of local files.
    // False when the data hold neither. `local`: the files came from
    // another program.
    bool ReadClip(const QMimeData* data, const QString& format, CFileClipData& clip,
                  bool& local) const;
    // The drop effect (0 none, 1 copy, 2 move) of the data into `target`.
    int GetDropEffect(const QMimeData* data, const KV_PathDef& target, bool ctrl) const;
    // Hands the data to the adapter: local files are copied, the program's
    // record copied (`effect` 1) or moved (2; -1: moved when it was cut);
    // `parent` non-null: the parameters dialog first. False when nothing was
    // queued.
    bool Receive(const QMimeData* data, const QString& format, const KV_PathDef& target, int effect,
                 QWidget* parent);

private:
    // The adapter's list-hidden flag becomes `hidden`; the pane's folder
    // trees show files or stop showing them.
    void SetListHidden(CFileManData* data, bool hidden);

    static uint32_t counter;
    const uint32_t number;
    CFileViewNtf ntf;
    QPointer<QWidget> pane;
    // The tree the receiver is registered with, and the file manager that
    // owns it: a view can outlive its pane's adapter, and must still leave
    // a tree that another pane keeps alive.
    KV_FileTree* tree = nullptr;
    KV_FileMan* man = nullptr;
    KV_FileManId man_id;
};

// Names are UTF-8 bytes in the engine.
QString KvToQString(const KV_String& s);
KV_String QStringToKv(const QString& s);

#endif
