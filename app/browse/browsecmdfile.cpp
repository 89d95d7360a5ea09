// The file commands of the browse window: clipboard, delete, new folder,
// rename, refresh, properties, folder changes, open and close. Most go to
// the file view holding the focus or to its pane's adapter; a text field
// holding the focus (a view's name editor) takes the edit commands itself.

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/fileclip.h"
#include "core/filecmds.h"
#include "datasources/kv_filemanparamsftp.h"
#include "datasources/kv_filemanparamshttp.h"
#include "datasources/kv_filemanparamssftp.h"
#include "datasources/kv_filemanparamsstd.h"
#include "dialogs/dlgchdir.h"
#include "dialogs/dlgfileprop.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_filetreenode.h"
#include "menus/commands.h"
#include "menus/menufind.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"
#include "views/filelistview.h"
#include "views/fileview.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <memory>

namespace {

enum : uint32_t {
    ID_COPY = 57634,
    ID_CUT = 57635,
    ID_PASTE = 57637,
    ID_EXT_PASTE = 32797,
    ID_UNDO = 57643,
    ID_SELECT_ALL = 57642,
    ID_DELETE = 32801,
    ID_EXT_DELETE = 32802,
    ID_NEW_DIR = 32804,
    ID_RENAME = 32807,
    ID_REFRESH = 32806,
    ID_PROPERTIES = 32805,
    ID_PARENT = 32800,
    ID_CHDIR = 32776,
    ID_OPEN = 57601,
    ID_VIEW = 32808,
    ID_EDIT = 32803,
    ID_PRINT = 57607,
    ID_CLOSE = 57602,
};

const uint32_t kFileCommands[] = {
    ID_COPY,       ID_CUT,     ID_PASTE,  ID_EXT_PASTE, ID_UNDO,       ID_SELECT_ALL, ID_DELETE,
    ID_EXT_DELETE, ID_NEW_DIR, ID_RENAME, ID_REFRESH,   ID_PROPERTIES, ID_PARENT,     ID_CHDIR,
    ID_OPEN,       ID_VIEW,    ID_EDIT,   ID_PRINT,     ID_CLOSE,
};

// Entries the selection rules refuse: read-only ones, and for opening
// folders as well.
constexpr uint32_t kRefuseReadOnly = KV_TN_RDONLY;
constexpr uint32_t kRefuseNoOpen = KV_TN_RDONLY | KV_TN_DIR;

// The text field kinds a focus can be, behind one face.
class CFocusEdit
{
public:
    explicit CFocusEdit(QWidget* w)
        : line(qobject_cast<QLineEdit*>(w)), text(qobject_cast<QTextEdit*>(w)),
          plain(qobject_cast<QPlainTextEdit*>(w))
    {
    }

    bool Valid() const { return line != nullptr || text != nullptr || plain != nullptr; }

    CEditFacts Facts() const
    {
        CEditFacts f;
        if (line != nullptr) {
            f.writable = !line->isReadOnly();
            if (line->hasSelectedText()) {
                f.sel_start = line->selectionStart();
                f.sel_end = line->selectionEnd();
            } else {
                f.sel_start = f.sel_end = line->cursorPosition();
            }
            f.length = static_cast<int>(line->text().size());
            f.can_undo = line->isUndoAvailable();
        } else if (text != nullptr) {
            f.writable = !text->isReadOnly();
            f.sel_start = text->textCursor().selectionStart();
            f.sel_end = text->textCursor().selectionEnd();
            f.length = text->document()->characterCount() - 1;
            f.can_undo = text->document()->isUndoAvailable();
        } else if (plain != nullptr) {
            f.writable = !plain->isReadOnly();
            f.sel_start = plain->textCursor().selectionStart();
            f.sel_end = plain->textCursor().selectionEnd();
            f.length = plain->document()->characterCount() - 1;
            f.can_undo = plain->document()->isUndoAvailable();
        }
        return f;
    }

    void Copy() { Do(&QLineEdit::copy, &QTextEdit::copy, &QPlainTextEdit::copy); }
    void Cut() { Do(&QLineEdit::cut, &QTextEdit::cut, &QPlainTextEdit::cut); }
    void Paste() { Do(&QLineEdit::paste, &QTextEdit::paste, &QPlainTextEdit::paste); }
    void Undo() { Do(&QLineEdit::undo, &QTextEdit::undo, &QPlainTextEdit::undo); }
    void SelectAll()
    {
        Do(&QLineEdit::selectAll, &QTextEdit::selectAll, &QPlainTextEdit::selectAll);
        if (text != nullptr) {
            text->ensureCursorVisible();
        } else if (plain != nullptr) {
            plain->ensureCursorVisible();
        }
    }

private:
    template <class L, class T, class P> void Do(L l, T t, P p)
    {
        if (line != nullptr) {
            (line->*l)();
        } else if (text != nullptr) {
            (text->*t)();
        } else if (plain != nullptr) {
            (plain->*p)();
        }
    }

    QLineEdit* line;
    QTextEdit* text;
    QPlainTextEdit* plain;
};

KV_FileManPool* Pool()
{
    return CKivrelApp::Instance() != nullptr ? CKivrelApp::Instance()->GetPool() : nullptr;
}

// Frees an entry clone of the views.
struct EntryFree
{
    void operator()(KV_FileData* fd) const { KV_FileData::destr_clone(fd); }
};

struct ParamsFree
{
    void operator()(KV_FileManParams* p) const { KV_FileManParams::destr_clone(p); }
};

} // namespace

// ---------------------------------------------------------------------------
// clipboard state

class CBrowseSplt::CClipState : public QObject
{
public:
    explicit CClipState(QObject* parent) : QObject(parent)
    {
        connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &CClipState::Read);
        Read();
    }

    // The program's own record first, else local files of another program.
    void Read()
    {
        const QMimeData* mime = QApplication::clipboard()->mimeData();
        text = mime != nullptr && mime->hasText();
        files = false;
        clip = std::make_unique<CFileClipData>();
        if (mime == nullptr) {
            return;
        }
        const QString format = CKivrelApp::GetClipFormatBrCl();
        const QString uris = QStringLiteral("text/uri-list");
        if (mime->hasFormat(format)) {
            files = clip->Read(mime->data(format));
        } else if (KV_FileManPool* pool = Pool(); pool != nullptr && mime->hasFormat(uris)) {
            files = clip->ReadUriList(mime->data(uris), *pool);
        }
    }

    bool text = false;
    bool files = false;
    std::unique_ptr<CFileClipData> clip = std::make_unique<CFileClipData>();
};

// ---------------------------------------------------------------------------
// registration, enabling

void CBrowseSplt::RegisterFileCommands()
{
    clip_state = new CClipState(this);
    for (uint32_t id : kFileCommands) {
        CCommandLayer::On(
            this, id, [this](uint32_t cmd) { RunFileCommand(cmd); },
            [this](CCmdUI& ui) { ui.Enable(FileCommandEnabled(ui.m_nID)); });
    }
}

CFileView* CBrowseSplt::GetFocusView() const
{
    if (!IsFocusIn(this)) {
        return nullptr;
    }
    return CFileView::FromWidget(GetSplitter()->GetFocusPane());
}

bool CBrowseSplt::FileCommandEnabled(uint32_t id)
{
    if (id == ID_CLOSE) {
        return true;
    }
    if (!IsFocusIn(this)) {
        return false;
    }
    QWidget* focus = QApplication::focusWidget();
    if (IsEditControl(focus)) {
        CFocusEdit edit(focus);
        if (edit.Valid()) {
            const int state = EditCommandState(id, edit.Facts(), clip_state->text);
            if (state >= 0) {
                return state == 1;
            }
        }
    } else if (id == ID_UNDO) {
        return false;
    }
    CFileView* view = GetFocusView();
    CFileManData* data = GetFocusData();
    switch (id) {
    case ID_SELECT_ALL: {
        auto* list = qobject_cast<CFileListView*>(GetListView());
        return list != nullptr && list->GetModel()->rowCount() > 0;
    }
    case ID_COPY:
    case ID_CUT:
    case ID_DELETE:
    case ID_EXT_DELETE:
        return view != nullptr && view->GetSelection(kRefuseReadOnly, nullptr, nullptr, true);
    case ID_PASTE:
    case ID_EXT_PASTE:
        return CanPasteFiles();
    case ID_NEW_DIR:
        return view != nullptr && view->CanGoUp() && view->CanNewDirectory();
    case ID_RENAME: {
        KV_PathDef path;
        return view != nullptr && view->GetSelection(kRefuseReadOnly, &path, nullptr, true) &&
               view->CanRename();
    }
    case ID_REFRESH:
        return data != nullptr && data->CanRefresh();
    case ID_PROPERTIES: {
        KV_PathDef path;
        return view != nullptr && view->GetSelection(kRefuseReadOnly, &path, nullptr, false);
    }
    case ID_PARENT:
    case ID_CHDIR:
        return data != nullptr && data->GetPath().entries() > data->GetPath().first_ind();
    case ID_OPEN:
    case ID_VIEW:
    case ID_EDIT:
    case ID_PRINT:
        return view != nullptr && view->GetSelection(kRefuseNoOpen, nullptr, nullptr, true);
    default:
        return false;
    }
}

bool CBrowseSplt::CanPasteFiles()
{
    CFileManData* data = GetFocusData();
    KV_FileManPool* pool = Pool();
    if (data == nullptr || pool == nullptr || !clip_state->files) {
        return false;
    }
    CFileView* view = GetFocusView();
    if (view == nullptr) {
        return false;
    }
    const KV_PathDef target = view->GetTargetPath();
    if (target.empty()) {
        return false;
    }
    const CFileClipData& clip = *clip_state->clip;
    // Cut files are moved: a copy being possible is not enough.
    const bool possible = clip.move ? pool->can_move(clip.src, data->GetManId(), clip.dir, target,
                                                     clip.names, clip.has_dir)
                                    : pool->can_copy(clip.src, data->GetManId(), clip.dir, target,
                                                     clip.names, clip.has_dir);
    return possible && view->CanGoUp();
}

// ---------------------------------------------------------------------------
// actions

void CBrowseSplt::RunFileCommand(uint32_t id)
{
    if (id == ID_CLOSE) {
        // Closing hides the window first; after this handler has returned.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    QWidget* focus = QApplication::focusWidget();
    CFocusEdit edit(IsFocusIn(this) && IsEditControl(focus) ? focus : nullptr);
    CFileView* view = GetFocusView();
    switch (id) {
    case ID_COPY:
    case ID_CUT:
        if (edit.Valid()) {
            id == ID_COPY ? edit.Copy() : edit.Cut();
        } else if (view != nullptr) {
            view->CopyToClipboard(id == ID_CUT);
        }
        return;
    case ID_PASTE:
        if (edit.Valid()) {
            edit.Paste();
        } else if (view != nullptr) {
            view->Paste(false);
        }
        return;
    case ID_EXT_PASTE:
        if (focus != nullptr && !IsEditControl(focus) && view != nullptr) {
            view->Paste(true);
        }
        return;
    case ID_UNDO:
        if (edit.Valid()) {
            edit.Undo();
        }
        return;
    case ID_SELECT_ALL:
        if (edit.Valid()) {
            edit.SelectAll();
        } else if (auto* list = dynamic_cast<CFileListView*>(view)) {
            list->SelectAll();
        }
        return;
    case ID_REFRESH:
        if (CFileManData* data = GetFocusData()) {
            data->Refresh();
        }
        return;
    case ID_PARENT:
        if (CFileManData* data = GetFocusData()) {
            data->ChangeFolder(KV_String(".."), true);
        }
        return;
    case ID_PROPERTIES:
        ShowFileProperties();
        return;
    case ID_CHDIR:
        ChangeDirectory();
        return;
    default:
        break;
    }
    if (view == nullptr) {
        return;
    }
    switch (id) {
    case ID_DELETE:
    case ID_EXT_DELETE:
        view->Delete(id == ID_EXT_DELETE);
        break;
    case ID_NEW_DIR:
        view->NewDirectory();
        break;
    case ID_RENAME:
        view->Rename();
        break;
    case ID_OPEN:
        view->FileOperation(KV_FILEOP_OPEN);
        break;
    case ID_VIEW:
        view->FileOperation(KV_FILEOP_VIEW);
        break;
    case ID_EDIT:
        view->FileOperation(KV_FILEOP_EDIT);
        break;
    case ID_PRINT:
        view->FileOperation(KV_FILEOP_PRINT);
        break;
    default:
        break;
    }
}

void CBrowseSplt::ShowFileProperties()
{
    CFileManData* data = GetFocusData();
    KV_FileMan* man = data != nullptr ? data->GetFileMan() : nullptr;
    CFileView* view = GetFocusView();
    if (man == nullptr || view == nullptr) {
        return;
    }
    KV_PathDef path;
    if (!view->GetSelection(kRefuseReadOnly, &path, nullptr, false)) {
        return;
    }
    const std::unique_ptr<KV_FileData, EntryFree> entry(view->GetSelectedEntry());
    KV_String text;
    if (entry == nullptr || !man->man_path().build_path(text, path, false, 0)) {
        return;
    }
    const std::unique_ptr<KV_FileManParams, ParamsFree> params(man->clone_params());
    QString server;
    bool matches = false;
    switch (man->type()) {
    case KV_FILE_MAN_TYPE_STD:
        matches = dynamic_cast<KV_FileManParamsStd*>(params.get()) != nullptr;
        break;
    case KV_FILE_MAN_TYPE_FTP:
        if (auto* p = dynamic_cast<KV_FileManParamsFtp*>(params.get())) {
            server = KvToQString(p->dst_addr());
            matches = true;
        }
        break;
    case KV_FILE_MAN_TYPE_HTTP:
        if (auto* p = dynamic_cast<KV_FileManParamsHttp*>(params.get())) {
            server = KvToQString(p->dst_addr());
            matches = true;
        }
        break;
    case KV_FILE_MAN_TYPE_SFTP:
        if (auto* p = dynamic_cast<KV_FileManParamsSftp*>(params.get())) {
            server = KvToQString(p->dst_addr());
            matches = true;
        }
        break;
    }
    if (!matches) {
        return;
    }
    const KV_FileManId id = data->GetManId();
    const QString name = KvToQString(text);
    const CFilePropKind kind = FilePropKindOf(man->type(), entry->type(), entry->valid_accf());
    if (kind == CFilePropKind::ReadOnly) {
        // Entries of the base kind have no rights: show them through an
        // extended entry that carries none.
        std::unique_ptr<KV_FileDataExt> shown;
        const KV_FileDataExt* ext = nullptr;
        if (entry->type() == KV_FD_DATA_EXT) {
            ext = static_cast<const KV_FileDataExt*>(entry.get());
        } else {
            shown = std::make_unique<KV_FileDataExt>();
            static_cast<KV_FileData&>(*shown) = *entry;
            ext = shown.get();
        }
        CDlgFileProp dlg(*ext, server, name, this);
        dlg.exec();
        return;
    }
    const auto& ext = static_cast<const KV_FileDataExt&>(*entry);
    KV_String first;
    KV_String second;
    bool changed = false;
    // The window may go while the dialog runs; the request needs it not.
    const QPointer<CBrowseSplt> self(this);
    if (kind == CFilePropKind::Std) {
        CDlgFilePropStd dlg(ext, name, this);
        changed = dlg.exec() == QDialog::Accepted && dlg.GetAttributes(first, second);
    } else {
        std::unique_ptr<CDlgFilePropUnix> dlg;
        if (kind == CFilePropKind::Ftp) {
            dlg = std::make_unique<CDlgFilePropFtp>(ext, server, name, this);
        } else {
            dlg = std::make_unique<CDlgFilePropSftp>(ext, server, name, this);
        }
        QString octal;
        changed = dlg->exec() == QDialog::Accepted && dlg->GetPermissions(octal, second);
        first = QStringToKv(octal);
    }
    KV_FileManPool* pool = Pool();
    if (changed && self != nullptr && pool != nullptr) {
        pool->chmod(id, path, first, second);
    }
}

void CBrowseSplt::ChangeDirectory()
{
    CFileManData* data = GetFocusData();
    if (data == nullptr || data->GetFileMan() == nullptr) {
        return;
    }
    // The pane may close while the dialog runs; its adapter goes with it.
    const QPointer<CBrowseFrm> pane(CBrowseFrm::FromChild(QApplication::focusWidget()));
    CDlgChdir dlg(this);
    if (dlg.exec() != QDialog::Accepted || pane == nullptr) {
        return;
    }
    data = pane->GetData();
    KV_FileMan* man = data != nullptr ? data->GetFileMan() : nullptr;
    if (man == nullptr) {
        return;
    }
    data->SetPathText(TypedFolderText(QStringToKv(dlg.folder), man->man_path().dir_sep()), true);
}

// ---------------------------------------------------------------------------
// context menu

void CBrowseSplt::PopupFileMenu(const QPoint& global)
{
    CNewMenu* popup = FindMenuByText(&popups, QStringLiteral("&File"), nullptr, false);
    QMenu* menu = popup != nullptr ? popup->GetSafeHmenu() : nullptr;
    if (menu != nullptr) {
        menu->popup(global);
    }
}
