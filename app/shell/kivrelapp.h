#ifndef KIVREL_SHELL_KIVRELAPP_H
#define KIVREL_SHELL_KIVRELAPP_H

// The application object: what the whole program shares (the engine root,
// the data-source images, two fonts, the clipboard formats, the browse-pane
// adapters, the sound state) and the program's side of the engine's
// questions: the informer stack, the question and error dialogs shown with
// the other windows disabled, and the steps that prepare the quit.
//
// Exactly one exists, made on the process's first thread, which becomes the
// user-interface thread. Every member is for that thread unless it says
// otherwise.

#include "core/appimages.h"
#include "core/brwnds.h"
#include "core/enginebridge.h"
#include "core/soundgate.h"
#include "core/versioninfo.h"
#include "foundation/kv_informer.h"
#include "root/kv_autoupdtman.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

class CFileManData;
class CMainFrm;
class KV_DsTreeNode;
class KV_FileManPool;
class QSoundEffect;

// The data-source images, by the indexes of KV_IMG.
class CImageList
{
public:
    int Add(const QIcon& icon);
    // The image, or a null icon for an index outside the list.
    QIcon Icon(int index) const;
    int Count() const { return static_cast<int>(icons.size()); }

private:
    QList<QIcon> icons;
};

// A message box with `text`, the caption "Kivrel error" and an error icon,
// over `owner` (null: none). Returns when the user closed it.
void ShowErrorBox(const QString& text, QWidget* owner);

// Places the window `wnd` (not shown yet, without parent) above the window
// of `owner` (null: nothing).
void SetOwner(QWidget* wnd, QWidget* owner);

// Gives every child widget of `wnd` the font `font`.
void SetChildFont(QWidget* wnd, const QFont& font);

class CKivrelApp : public QApplication, public CInformerHost
{
    Q_OBJECT
public:
    CKivrelApp(int& argc, char** argv);
    // Deletes the engine root if it still exists (DeletePool).
    ~CKivrelApp() override;

    // The application object, or null before it exists.
    static CKivrelApp* Instance();

    // ---- accessors
    KV_FileManPool* GetPool() const { return pool.get(); }
    CMainFrm* GetMainFrm() const { return main_frm; }
    void SetMainFrm(CMainFrm* frm) { main_frm = frm; }
    const CImageList& GetDsImageList() const { return images; }
    // Kind 0 the normal font, any other the bold one.
    const QFont& GetFont(int kind) const { return kind == 0 ? font_normal : font_bold; }
    const CVersionInfo& GetVersion() const { return version; }
    CVersionInfo& GetVersion() { return version; }
    // The program's own version as text (FormatVersion).
    QString GetVersionText() const;
    // The check for a newer version: the manager its descriptor download ran
    // through. Nothing here starts that download yet; until something does,
    // a downloaded descriptor is not recognised as ours.
    KV_AutoUpdtMan& GetUpdateMan() { return update_man; }
    CEngineBridge& GetBridge() { return bridge; }

    // The MIME types standing for the program's clipboard formats: data-source
    // nodes, a browse window's copy, a browse window's drag.
    static QString GetClipFormatDs();
    static QString GetClipFormatBrCl();
    static QString GetClipFormatBrDd();

    void AddFileManData(CFileManData* data);
    void RemoveFileManData(CFileManData* data);
    const std::vector<CFileManData*>& GetFileManData() const { return adapters; }

    // The images of `node` in the engine root's tree (see GetNodeImages in
    // core/appimages.h); false without an engine root.
    bool GetNodeImages(const KV_DsTreeNode* node, int& image, int& selected, bool variant) const;

    // Fills the data-source image list: the theme's icons, drawn ones where
    // the theme has none. True when the list holds every image.
    bool CreateImageLists();
    // Fills the engine's table of well-known folders (see InitSettings in
    // core/settings.h); failures are shown with ShowErrorBox.
    bool InitSettings();

    // Creates the engine root and makes its informer report errors as
    // dialogs. False when one exists already.
    bool CreatePool();
    // Deletes the engine root (dropping its informer from the stack first).
    void DeletePool();

    // Opens the property sheet of the tree's `node` over clones of it (of
    // `work` instead, when given) and of the group it may inherit from, with
    // `parent` as owner. On OK the clone goes back into the tree through the
    // engine root (which hands the settings to live file managers) unless
    // `node` is `work` itself; with `work`, the committed clone is copied
    // into it. True when the change was committed; false on Cancel, for a
    // node no sheet edits, when the engine refused the change (a duplicate
    // name, say) or when the node left the tree while the sheet was open.
    bool EditProperties(KV_DsTreeNode* node, KV_DsTreeNode* work, QWidget* parent);

    // ---- browse windows
    // Minimizes (`show` false) or restores every visible browse window.
    void ShowBrowseWnds(bool show);
    // Closes (hides) every browse window.
    void CloseBrowseWnds();
    // The first browse window; leaves `wnd` unchanged when there is none.
    void FindBrowseWnd(QWidget*& wnd) const;
    // Opens the browse window of the data-source node (OpenDsBrowseWnd).
    void BrowseNode(KV_DsTreeNode* node);
    // Adds every browse window, hidden ones too, to `list`.
    void ListBrowseWnds(QList<QWidget*>& list) const;
    // A new browse window for the two file managers and the layout word,
    // shown when `show`; false when it cannot be made.
    bool OpenBrowseWnd(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags,
                       bool show);
    // The browse window of a data source or of a running instance of one;
    // an instance's window that exists is raised (asked for its folders
    // again when it was hidden). Null and group nodes open nothing.
    bool OpenDsBrowseWnd(KV_DsTreeNode* node);
    // Finds or makes the data source of `uri` and opens it; an unknown
    // scheme is reported as "Invalid URI %s.".
    void OpenUriBrowseWnd(const KV_String& name, const KV_String& comment, const KV_String& uri,
                          const KV_String& user, const KV_String& pass, bool anonymous, bool extra);
    // At start: reopens and shows the saved windows of which a side is live.
    bool RestoreBrowseWnds();
    // At quit: saves the list of browse windows, hidden ones too.
    bool SaveBrowseWnds();
    BrWndMan& GetBrWndMan() { return br_wnds; }

    // ---- the engine's questions
    // Shows the informer's question or error with the other windows
    // disabled and hands the answer back (set_ans). Null is ignored.
    void ShowInformer(KV_Informer* informer) override;
    // Any thread: queues ShowPendingInformers.
    void WakeUiThread() override;
    // Shows the waiting informers, newest first, one at a time, unless a
    // question or error is shown already (it comes back when that is
    // answered) or the quit is prepared.
    void ShowPendingInformers();
    // The question dialog with the attention sound; its answer.
    KV_ANS AskUser(const KV_String& msg, KV_ANS def_ans, KV_ASK kind, void* params, QWidget* owner);
    // Disables every top-level window (`disable`), or enables again the ones
    // that were enabled before. Nested calls count: only the outermost pair
    // acts, so a window disabled before the first stays disabled.
    void EnableThreadWindows(bool disable);
    bool WindowsDisabled() const { return disable_depth > 0; }

    // Prepares the quit: saves the list of browse windows and the engine root and stops its saving,
    // ends every dialog, disables the windows for good and sets the quitting flag.
    void PrepareQuit();
    bool Quitting() const { return quitting; }

    // ---- sounds, shell, help
    // Plays `name` (relative to the program's folder, such as
    // "sounds/attn.wav") unless "UI"/"Sounds" is 0 or the same sound played
    // less than a second ago. Silent without an audio device.
    void PlaySound(const QString& name);
    // Opens `path` (a file or an address) with the desktop's program for it.
    static bool ShellOpen(const QString& path);
    // Opens the help page of the nearest window from `wnd` up that names one
    // (its whatsThis, such as "html/browsewnd.htm#filelist"), else the help's
    // start page.
    static bool ShowHelp(QWidget* wnd);
    // The address ShowHelp opens for `wnd`.
    static QString HelpUrl(QWidget* wnd);
    // Names the help page of `wnd`, as "html\\x.htm#a" or "html/x.htm#a".
    static void SetHelpTopic(QWidget* wnd, const QString& topic);
    static QString HelpTopic(const QWidget* wnd);
    // The browser's context menu: no browser of this desktop reads the keys,
    // so nothing is written; true.
    static bool SetBrowserInt();

    // ---- start-up and shut-down (startup/kivrelstart.cpp)
    // The whole start-up; true when the program is to run its event loop.
    // After false, ExitInstance still runs.
    bool InitInstance();
    // Takes the engine down in its order: the engine root, the engine
    // library, the thread pool. The program's exit code.
    int ExitInstance();
    // One pass of the work between events: one waiting question, else while
    // quitting one window still bound to an engine informer closed, else the
    // question whether every engine thread ended (at most every 50 ms).
    void OnIdle();
    // Arms OnIdle; any thread (it is queued).
    void WakeIdle();
    // The automatic update check as of `now` (seconds since 1970): noted or
    // started per core/startrules.h.
    void CheckAutoUpdate(int64_t now);
    // The start tips window; false when there is no tip page.
    bool ShowStartTips();
    // The connection and network setups (setup/setupentry.h), modal.
    void RunConnWizard(bool first_run);
    void RunNetWizard(bool first_run);
    // The application's own commands (about, help, shortcuts, wizards),
    // registered on the application object.
    void RegisterAppCommands();
    // Opens the internet shortcut `name` ("kivrelbug.url", ...) of the
    // program's folder; with `append_version` its address gets "?v=" and the
    // version. False when there is no such file.
    bool OpenShortcut(const QString& name, bool append_version);

protected:
    // The sound gate's clock; tests replace it.
    virtual CSoundGate::Clock::time_point Now() const;
    // Plays the file; false when it cannot.
    virtual bool PlayFile(const QString& path);

private:
    CEngineBridge bridge;
    std::unique_ptr<KV_FileManPool> pool;
    CMainFrm* main_frm = nullptr;
    CImageList images;
    QFont font_normal;
    QFont font_bold;
    CVersionInfo version;
    KV_AutoUpdtMan update_man;
    std::vector<CFileManData*> adapters;
    BrWndMan br_wnds;
    CSoundGate sound_gate;
    QSoundEffect* sound = nullptr;

    bool quitting = false;
    int disable_depth = 0;
    // OnIdle: armed, running (a question's dialog nests the event loop),
    // and the time of the last question whether the engine ended.
    bool idle_armed = false;
    bool in_idle = false;
    int64_t last_term_poll_ms = -1;
    std::unique_ptr<class CSingleInstance> instance;
    // Windows found disabled by the outermost disabling.
    QList<QPointer<QWidget>> found_disabled;
};

#endif
