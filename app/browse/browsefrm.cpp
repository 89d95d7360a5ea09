#include "browse/browsefrm.h"

#include "browse/browserbar.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/nodecolour.h"
#include "core/ntfbatch.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "monitor/filedetailview.h"
#include "requests/kv_fileman.h"
#include "shell/kivrelapp.h"
#include "views/fileview.h"

#include <QApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

namespace {

template <class T> QWidget* Make()
{
    return new T;
}

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.length()));
}

// A theme icon, else the style's own picture.
// Icons by name, made once: a listing asks for one per entry, and making one
// reads and decodes its image files every time (a folder of 100,000 entries
// took seconds). The entries share the icon; the theme does not change
// while the program runs.
template <class Make> QIcon CachedIcon(const QString& key, Make make)
{
    static QHash<QString, QIcon> icons;
    const auto it = icons.constFind(key);
    if (it != icons.constEnd()) {
        return *it;
    }
    const QIcon icon = make();
    icons.insert(key, icon);
    return icon;
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback)
{
    return CachedIcon(QString::fromLatin1(name), [&] {
        const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
        return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
    });
}

// Node flag of a top-level entry (a drive, or "/" on the local disk).
const uint8_t kNodeDrive = 0x40;

} // namespace

const CRuntimeClass classCFileDetailView("CFileDetailView", &MakeFileDetailView, &classCView);
const CRuntimeClass CBrowseFrm::classCBrowseFrm("CBrowseFrm", &Make<CBrowseFrm>,
                                                &CInnerFrm::classCInnerFrm);
const CRuntimeClass CBrowseStd::classCBrowseStd("CBrowseStd", &Make<CBrowseStd>,
                                                &CBrowseFrm::classCBrowseFrm);
const CRuntimeClass CBrowseFtp::classCBrowseFtp("CBrowseFtp", &Make<CBrowseFtp>,
                                                &CBrowseFrm::classCBrowseFrm);
const CRuntimeClass CBrowseSftp::classCBrowseSftp("CBrowseSftp", &Make<CBrowseSftp>,
                                                  &CBrowseFrm::classCBrowseFrm);
const CRuntimeClass CBrowseHttp::classCBrowseHttp("CBrowseHttp", &Make<CBrowseHttp>,
                                                  &CBrowseFrm::classCBrowseFrm);

CBrowseFrm::CBrowseFrm(QWidget* parent)
    : CInnerFrm(0, 1, parent), handle(std::make_unique<CWndHandle>(this))
{
    GetSplitter()->AddPane(&classCFileDetailView, -140, 0);
    GetSplitter()->AddPane(&CFileTreeFrm::classCFileTreeFrm, 100, 0);
}

CBrowseFrm::~CBrowseFrm()
{
    closing = true;
    // Out of the registry first: a ring that comes now finds nothing.
    handle.reset();
    if (data != nullptr) {
        if (KV_Informer* informer = data->GetInformer()) {
            informer->inform();
        }
    }
    // The views leave the adapter's browse tree while it still exists.
    QList<QPointer<QWidget>> views;
    for (QWidget* w : findChildren<QWidget*>()) {
        if (dynamic_cast<CFileView*>(w) != nullptr) {
            views.append(w);
        }
    }
    for (const QPointer<QWidget>& w : views) {
        delete w.data();
    }
    data.reset();
}

CBrowseFrm* CBrowseFrm::FromChild(QWidget* wnd)
{
    for (QWidget* w = wnd; w != nullptr; w = w->parentWidget()) {
        if (auto* pane = qobject_cast<CBrowseFrm*>(w)) {
            return pane;
        }
    }
    return nullptr;
}

CBrowseSplt* CBrowseFrm::GetBrowseWnd() const
{
    CBrowseSplt* wnd = CBrowseSplt::FromChild(const_cast<CBrowseFrm*>(this));
    return wnd != nullptr ? wnd : browse.data();
}

bool CBrowseFrm::HasConnection() const
{
    return data != nullptr && data->HasConnection();
}

void CBrowseFrm::GetConnStatus(QString& text, KV_CONN_CLR& state) const
{
    if (!HasConnection()) {
        return;
    }
    KV_TavoInfoMan* table = data->GetTavoInfoMan();
    if (table == nullptr) {
        return;
    }
    KV_String status;
    table->status(status, state);
    text = ToQ(status);
}

bool CBrowseFrm::DropStatusBar()
{
    if (HasConnection()) {
        return true;
    }
    if (status_bar == nullptr) {
        return false;
    }
    delete status_bar.data();
    return true;
}

void CBrowseFrm::RefreshViews()
{
    for (QWidget* w : findChildren<QWidget*>()) {
        if (auto* view = dynamic_cast<CFileView*>(w)) {
            view->UpdateStatus();
        }
    }
    if (status_bar != nullptr) {
        status_bar->repaint();
    }
}

void CBrowseFrm::OnViewCreated(const CRuntimeClass* view)
{
    if (CBrowseSplt* wnd = GetBrowseWnd()) {
        wnd->OnViewShown(view, GetNumber());
    }
}

int CBrowseFrm::OnViewDestroyed(const CRuntimeClass* view)
{
    if (CBrowseSplt* wnd = GetBrowseWnd()) {
        wnd->OnViewHidden(view, GetNumber());
    }
    return 0;
}

bool CBrowseFrm::GetNodeIcons(const KV_FileTreeNode* node, QIcon& icon, QIcon& open_icon,
                              bool root) const
{
    icon = QIcon();
    open_icon = QIcon();
    if (data == nullptr || data->GetFileMan() == nullptr) {
        return false;
    }
    const bool local = data->GetFileMan()->type() == KV_FILE_MAN_TYPE_STD;
    if (root) {
        icon = local ? ThemeIcon("computer", QStyle::SP_ComputerIcon)
                     : ThemeIcon("network-workgroup", QStyle::SP_DriveNetIcon);
        open_icon = icon;
    } else if (node == nullptr) {
        return false;
    } else if ((node->node_flags() & kNodeDrive) != 0) {
        icon = local ? ThemeIcon("drive-harddisk", QStyle::SP_DriveHDIcon)
                     : ThemeIcon("folder-remote", QStyle::SP_DirIcon);
        open_icon = icon;
    } else if (node->is_dir()) {
        icon = ThemeIcon("folder", QStyle::SP_DirClosedIcon);
        open_icon = ThemeIcon("folder-open", QStyle::SP_DirOpenIcon);
    } else {
        // By the name alone: entries are never looked up on disk, remote ones
        // could not be.
        static const QMimeDatabase mimes;
        const QMimeType type =
            mimes.mimeTypeForFile(ToQ(node->name()), QMimeDatabase::MatchExtension);
        icon = CachedIcon(QStringLiteral("mime:") + type.name(), [&] {
            QIcon found = QIcon::fromTheme(type.iconName());
            if (found.isNull()) {
                found = QIcon::fromTheme(type.genericIconName());
            }
            return found.isNull() ? QApplication::style()->standardIcon(QStyle::SP_FileIcon)
                                  : found;
        });
        open_icon = icon;
    }
    return !icon.isNull() && !open_icon.isNull();
}

void CBrowseFrm::GetNodeColour(uint32_t* colour, const KV_FileTreeNode* node, bool keep,
                               int variant) const
{
    if (colour == nullptr || node == nullptr) {
        return;
    }
    *colour = NodeColour(*colour, static_cast<int>(node->status()), node->fdc().valid_file(), keep,
                         variant);
}

uint32_t CBrowseFrm::Lighten(uint32_t colour, int percent)
{
    return LightenColour(colour, percent);
}

CFileManData* CBrowseFrm::CreateData()
{
    return nullptr;
}

const char* CBrowseFrm::GetConnPopupName() const
{
    return nullptr;
}

const char* CBrowseFrm::GetProtoPopupName() const
{
    return nullptr;
}

// ---------------------------------------------------------------------------
// binding and the informer

bool CBrowseFrm::OnCreateClient()
{
    // The splitter makes the pane before giving it a parent: the browse
    // window being made names itself.
    CBrowseSplt* wnd = CBrowseSplt::FromChild(this);
    if (wnd == nullptr) {
        wnd = BrowseWndInCreation();
    }
    if (wnd == nullptr) {
        return false;
    }
    const KV_FileManId* side = wnd->GetSideId(GetNumber());
    if (side == nullptr) {
        return false;
    }
    const KV_FileManId id = *side;
    browse = wnd;
    data.reset(CreateData());
    if (data == nullptr) {
        return false;
    }
    data->Attach(this, wnd->GetTreeNtf(), id);
    data->SetListHidden(wnd->HasNoListPane(GetNumber()), nullptr);
    // A caption bar for a data source with workers to show, and for each
    // side of a two-pane window (it tells the sides apart).
    if (data->HasConnection() || wnd->IsTwoPane()) {
        auto* bar = new CBrowserBar(this, this);
        setMenuWidget(bar);
        status_bar = bar;
    }
    if (!CInnerFrm::OnCreateClient()) {
        return false;
    }
    // A file view that found no pane or adapter is not made, and neither is
    // a pane without its first view.
    if (const CFileView* view = CFileView::FromWidget(GetSplitter()->GetPane(0, 0))) {
        if (view->GetData() == nullptr) {
            return false;
        }
    }
    if (KV_Informer* informer = data->GetInformer()) {
        informer->inform();
    }
    return true;
}

bool CBrowseFrm::event(QEvent* event)
{
    if (event->type() == CPostedMsgEvent::EventType()) {
        const auto* posted = static_cast<const CPostedMsgEvent*>(event);
        if (posted->msg == KV_Informer::ntf_msg()) {
            OnInformerNtf();
            return true;
        }
    }
    return CInnerFrm::event(event);
}

void CBrowseFrm::OnInformerNtf()
{
    KV_Informer* informer = data != nullptr ? data->GetInformer() : nullptr;
    if (informer == nullptr) {
        return;
    }
    // The pane may be destroyed by a handler (an error box runs the event
    // loop); the informer belongs to the manager, which outlives the pane's
    // lock only as long as the pane does.
    QPointer<CBrowseFrm> self(this);
    CInformerBatch::Drain(*informer, [&](KV_Msg* msg) {
        HandleMsg(msg, GetBrowseWnd());
        return self != nullptr;
    });
}

void CBrowseFrm::HandleMsg(KV_Msg* msg, CBrowseSplt* wnd)
{
    switch (msg->type()) {
    case KV_MSG_ERR: {
        const auto* err = static_cast<const KV_MsgErrNtf*>(msg);
        if (wnd != nullptr && err->prio < 2) {
            wnd->SetStatusText(ToQ(err->text), 1);
        } else {
            ShowErrorBox(ToQ(err->text), this);
        }
        return;
    }
    case KV_MSG_SESS:
    case KV_MSG_LOGIN_STAT:
        if (data->GetTavoInfoMan() != nullptr) {
            data->ProcessNtf(msg);
            if (auto* bar = qobject_cast<CBrowserBar*>(status_bar.data())) {
                bar->UpdateStatus();
            }
            RefreshViews();
        }
        return;
    case KV_MSG_MAN: {
        const auto* man = static_cast<const KV_MsgManNtf*>(msg);
        if (man->ntf != KV_MAN_NTF_DS_CHANGED) {
            return;
        }
        const QString text = ToQ(man->text) + QLatin1Char(' ') + ToQ(KV_String(man->man_id));
        if (text == title) {
            return;
        }
        title = text;
        if (status_bar != nullptr) {
            status_bar->repaint();
        }
        if (wnd != nullptr) {
            wnd->UpdateTitle();
        }
        return;
    }
    default:
        data->ProcessNtf(msg);
        return;
    }
}

// ---------------------------------------------------------------------------
// the protocol kinds

CFileManData* CBrowseStd::CreateData()
{
    return new (std::nothrow) CFileManDataStd;
}

const char* CBrowseStd::GetProtoPopupName() const
{
    return "STD";
}

CFileManData* CBrowseFtp::CreateData()
{
    return new (std::nothrow) CFileManDataFtp;
}

const char* CBrowseFtp::GetConnPopupName() const
{
    return "FTP Connection";
}

const char* CBrowseFtp::GetProtoPopupName() const
{
    return "FTP";
}

CFileManData* CBrowseSftp::CreateData()
{
    return new (std::nothrow) CFileManDataSftp;
}

const char* CBrowseSftp::GetConnPopupName() const
{
    return "SFTP Connection";
}

const char* CBrowseSftp::GetProtoPopupName() const
{
    return "SFTP";
}

CFileManData* CBrowseHttp::CreateData()
{
    return new (std::nothrow) CFileManDataHttp;
}

const char* CBrowseHttp::GetConnPopupName() const
{
    return "HTTP Connection";
}

const char* CBrowseHttp::GetProtoPopupName() const
{
    return "HTTP";
}
