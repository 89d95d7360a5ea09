#include "shell/kivrelapp.h"

#include "startup/singleinst.h"

#include "core/settings.h"
#include "core/wndregistry.h"
#include "dialogs/dlgask.h"
#include "foundation/kv_file.h"
#include "props/dspropsheets.h"
#include "root/kv_filemanpool.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSoundEffect>
#include <QStyle>
#include <QUrl>
#include <QWindow>
#include <algorithm>

namespace {

const char help_property[] = "kvHelpTopic";

QString FromKv(const KV_String& text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.length()));
}

// A 16 x 16 image for the program's own pictures: a rounded square in
// `color` with `letter`, or a disc when `letter` is empty.
QIcon DrawImage(const QColor& color, const QString& letter)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(color.darker(150));
    p.setBrush(color);
    if (letter.isEmpty()) {
        p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    } else {
        p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
        QFont font = p.font();
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, letter);
    }
    p.end();
    return QIcon(pixmap);
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(QLatin1String(name), QApplication::style()->standardIcon(fallback));
}

} // namespace

void SetOwner(QWidget* wnd, QWidget* owner)
{
    if (!wnd || !owner) {
        return;
    }
    wnd->winId();
    owner->window()->winId();
    wnd->windowHandle()->setTransientParent(owner->window()->windowHandle());
}

int CImageList::Add(const QIcon& icon)
{
    icons.append(icon);
    return static_cast<int>(icons.size()) - 1;
}

QIcon CImageList::Icon(int index) const
{
    return index >= 0 && index < icons.size() ? icons.at(index) : QIcon();
}

void ShowErrorBox(const QString& text, QWidget* owner)
{
    // Without a parent, as the question dialog: an owner disabled while the
    // box is shown would disable the box too.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Kivrel error"), text, QMessageBox::Ok);
    // The text often quotes a server, which must not be able to format it.
    box.setTextFormat(Qt::PlainText);
    SetOwner(&box, owner);
    box.exec();
}

void SetChildFont(QWidget* wnd, const QFont& font)
{
    if (!wnd) {
        return;
    }
    for (QWidget* child : wnd->findChildren<QWidget*>()) {
        child->setFont(font);
    }
}

CKivrelApp::CKivrelApp(int& argc, char** argv) : QApplication(argc, argv), bridge(*this)
{
    setApplicationName(QStringLiteral("kivrel"));
    setOrganizationName(QStringLiteral("kivrel"));
    font_normal = QFont(QStringLiteral("Arial"));
    font_normal.setPixelSize(12);
    font_normal.setWeight(QFont::Normal);
    font_bold = QFont(QStringLiteral("Arial"));
    font_bold.setPixelSize(14);
    font_bold.setWeight(QFont::Bold);
}

CKivrelApp::~CKivrelApp()
{
    DeletePool();
    adapters.clear();
}

CKivrelApp* CKivrelApp::Instance()
{
    return qobject_cast<CKivrelApp*>(QCoreApplication::instance());
}

QString CKivrelApp::GetVersionText() const
{
    return FormatVersion(version.GetProductVersion());
}

QString CKivrelApp::GetClipFormatDs()
{
    return QStringLiteral("application/x-kivrel-clipboard-format-ds");
}

QString CKivrelApp::GetClipFormatBrCl()
{
    return QStringLiteral("application/x-kivrel-clipboard-format-br-cl");
}

QString CKivrelApp::GetClipFormatBrDd()
{
    return QStringLiteral("application/x-kivrel-clipboard-format-br-dd");
}

void CKivrelApp::AddFileManData(CFileManData* data)
{
    adapters.push_back(data);
}

void CKivrelApp::RemoveFileManData(CFileManData* data)
{
    adapters.erase(std::remove(adapters.begin(), adapters.end(), data), adapters.end());
}

bool CKivrelApp::GetNodeImages(const KV_DsTreeNode* node, int& image, int& selected,
                               bool variant) const
{
    if (!pool) {
        image = -1;
        selected = -1;
        return false;
    }
    return ::GetNodeImages(pool->tree(), node, image, selected, variant);
}

bool CKivrelApp::CreateImageLists()
{
    images = CImageList();
    QIcon by_index[KV_IMG_COUNT];
    by_index[KV_IMG_FOLDER] = ThemeIcon("folder", QStyle::SP_DirClosedIcon);
    by_index[KV_IMG_FOLDER_OPEN] = ThemeIcon("folder-open", QStyle::SP_DirOpenIcon);
    by_index[KV_IMG_COMPUTER] = ThemeIcon("computer", QStyle::SP_ComputerIcon);
    const QIcon network = ThemeIcon("network-workgroup", QStyle::SP_DriveNetIcon);
    by_index[KV_IMG_FTP] = network;
    by_index[KV_IMG_HTTP] = network;
    by_index[KV_IMG_SFTP] = network;
    by_index[KV_IMG_FTP_VAR] = DrawImage(QColor(0x1f, 0x6f, 0xc0), QStringLiteral("F"));
    by_index[KV_IMG_HTTP_VAR] = DrawImage(QColor(0x2e, 0x8b, 0x3e), QStringLiteral("H"));
    by_index[KV_IMG_SFTP_VAR] = DrawImage(QColor(0x8a, 0x3f, 0xb0), QStringLiteral("S"));
    by_index[KV_IMG_ALL] = ThemeIcon("user-desktop", QStyle::SP_DesktopIcon);
    // States 0, 1, 2: idle, busy, done.
    by_index[KV_IMG_STATE0] = DrawImage(QColor(0xa0, 0xa0, 0xa0), QString());
    by_index[KV_IMG_STATE1] = DrawImage(QColor(0xf0, 0xc0, 0x20), QString());
    by_index[KV_IMG_STATE2] = DrawImage(QColor(0x30, 0xb0, 0x40), QString());
    by_index[KV_IMG_MAN_INST] = DrawImage(QColor(0x60, 0x60, 0x70), QStringLiteral("1"));
    bool complete = true;
    for (const QIcon& icon : by_index) {
        complete = complete && !icon.isNull();
        images.Add(icon);
    }
    return complete && images.Count() == KV_IMG_COUNT;
}

bool CKivrelApp::InitSettings()
{
    return ::InitSettings([](const QString& text) { ShowErrorBox(text, nullptr); });
}

bool CKivrelApp::CreatePool()
{
    if (pool) {
        return false;
    }
    pool = std::make_unique<KV_FileManPool>();
    bridge.SetErrHook(pool->informer());
    return true;
}

void CKivrelApp::DeletePool()
{
    if (pool) {
        bridge.DropInformer(&pool->informer());
        pool.reset();
    }
}

void CKivrelApp::ShowInformer(KV_Informer* informer)
{
    if (!informer) {
        return;
    }
    QWidget* owner = qobject_cast<QWidget*>(CWndRegistry::Find(informer->hwnd()));
    EnableThreadWindows(true);
    KV_ANS ans = KV_ANS_NONE;
    switch (informer->dlg()) {
    case KV_DLG_ASK:
        ans = AskUser(informer->msg(), informer->def_ans(), informer->dlg_ask(), informer->params(),
                      owner);
        break;
    case KV_DLG_ERR:
        ShowErrorBox(FromKv(informer->msg()), owner);
        break;
    default:
        break;
    }
    informer->set_ans(ans);
    EnableThreadWindows(false);
    if ((quitting || !WindowsDisabled()) && bridge.PendingInformers() > 0) {
        WakeUiThread();
    }
}

bool CKivrelApp::EditProperties(KV_DsTreeNode* node, KV_DsTreeNode* work, QWidget* parent)
{
    if (node == nullptr || !pool) {
        return false;
    }
    KV_DsTree& tree = pool->tree();
    const KV_DsTreeNode* group = tree.parent_grp(node, true);
    KV_DsTreeNode* group_clone = group != nullptr ? tree.clone(group, false) : nullptr;
    KV_DsTreeNode* clone = tree.clone(work != nullptr ? work : node, false);
    // The sheet's event loop lets engine notices change the tree, so the
    // node is found again by its id before anything is committed.
    const KV_FileManId id = node->id();
    const bool in_tree = tree.find(id) == node;
    bool committed = false;
    if (clone != nullptr) {
        std::unique_ptr<CDsProp> sheet =
            MakeDsPropSheet(clone, group_clone, !pool->reqs_reg(id), parent);
        if (sheet && sheet->exec() == QDialog::Accepted) {
            if (node == work) {
                committed = true;
            } else {
                KV_DsTreeNode* live = in_tree ? tree.find(id) : node;
                committed = live != nullptr && pool->update(live, clone, 0);
            }
            if (committed && work != nullptr) {
                *work = clone;
            }
        }
    }
    KV_DsTreeNode::destr_clone(clone);
    KV_DsTreeNode::destr_clone(group_clone);
    return committed;
}

void CKivrelApp::WakeUiThread()
{
    QMetaObject::invokeMethod(this, &CKivrelApp::ShowPendingInformers, Qt::QueuedConnection);
}

void CKivrelApp::ShowPendingInformers()
{
    // A question shown now runs a nested event loop; the next one waits
    // until it is answered, so that the accessors describe the one shown.
    // While quitting the windows stay disabled for good: the idle pass
    // shows the questions then, between closing windows.
    if (quitting) {
        WakeIdle();
        return;
    }
    if (WindowsDisabled()) {
        return;
    }
    ShowInformer(bridge.PopInformer());
}

KV_ANS CKivrelApp::AskUser(const KV_String& msg, KV_ANS def_ans, KV_ASK kind, void* params,
                           QWidget* owner)
{
    PlaySound(QStringLiteral("sounds/attn.wav"));
    // Without a parent: the owner is disabled while the question is shown,
    // and a child of a disabled window would be disabled too.
    CDlgAsk dlg(msg, def_ans, kind, params, nullptr);
    SetOwner(&dlg, owner);
    dlg.exec();
    return dlg.GetResult();
}

void CKivrelApp::EnableThreadWindows(bool disable)
{
    if (disable) {
        if (disable_depth++ > 0) {
            return;
        }
        found_disabled.clear();
        for (QWidget* wnd : QApplication::topLevelWidgets()) {
            if (!wnd->isEnabled()) {
                found_disabled.append(wnd);
            }
            wnd->setEnabled(false);
        }
        return;
    }
    if (disable_depth == 0 || --disable_depth > 0) {
        return;
    }
    for (QWidget* wnd : QApplication::topLevelWidgets()) {
        if (!found_disabled.contains(wnd)) {
            wnd->setEnabled(true);
        }
    }
    found_disabled.clear();
}

void CKivrelApp::PrepareQuit()
{
    SaveBrowseWnds();
    for (QWidget* wnd : QApplication::topLevelWidgets()) {
        if (auto* dlg = qobject_cast<QDialog*>(wnd)) {
            if (dlg->isVisible()) {
                dlg->done(QDialog::Rejected);
            }
            continue;
        }
        for (QDialog* dlg : wnd->findChildren<QDialog*>()) {
            if (dlg->isVisible()) {
                dlg->done(QDialog::Rejected);
            }
        }
    }
    if (pool) {
        pool->save();
        pool->tree().set_autosave(false);
    }
    EnableThreadWindows(true);
    quitting = true;
    WakeIdle();
}

void CKivrelApp::PlaySound(const QString& name)
{
    if (GetProfileInt(QStringLiteral("UI"), QStringLiteral("Sounds"), 1) == 0) {
        return;
    }
    if (!sound_gate.Pass(name, Now())) {
        return;
    }
    PlayFile(FromKv(KV_File::path(KV_PATH_PROGRAM, true)) + name);
}

CSoundGate::Clock::time_point CKivrelApp::Now() const
{
    return CSoundGate::Clock::now();
}

bool CKivrelApp::PlayFile(const QString& path)
{
    // No file, no sound device opened.
    if (!QFileInfo(path).isFile()) {
        return false;
    }
    if (!sound) {
        sound = new QSoundEffect(this);
    }
    sound->setSource(QUrl::fromLocalFile(path));
    sound->play();
    return true;
}

bool CKivrelApp::ShellOpen(const QString& path)
{
    const QUrl url = QUrl::fromUserInput(path, QString(), QUrl::AssumeLocalFile);
    return url.isValid() && QDesktopServices::openUrl(url);
}

void CKivrelApp::SetHelpTopic(QWidget* wnd, const QString& topic)
{
    if (wnd) {
        wnd->setProperty(help_property, topic);
    }
}

QString CKivrelApp::HelpTopic(const QWidget* wnd)
{
    return wnd ? wnd->property(help_property).toString() : QString();
}

QString CKivrelApp::HelpUrl(QWidget* wnd)
{
    QString topic;
    for (QWidget* w = wnd; w && topic.isEmpty(); w = w->parentWidget()) {
        topic = HelpTopic(w);
    }
    if (topic.isEmpty()) {
        topic = QStringLiteral("index.htm");
    }
    topic.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString anchor;
    const qsizetype hash = topic.indexOf(QLatin1Char('#'));
    if (hash >= 0) {
        anchor = topic.mid(hash + 1);
        topic.truncate(hash);
    }
    QUrl url = QUrl::fromLocalFile(FromKv(KV_File::path(KV_PATH_PROGRAM, true)) +
                                   QStringLiteral("help/") + topic);
    if (!anchor.isEmpty()) {
        url.setFragment(anchor);
    }
    return url.toString();
}

bool CKivrelApp::ShowHelp(QWidget* wnd)
{
    return QDesktopServices::openUrl(QUrl(HelpUrl(wnd)));
}

bool CKivrelApp::SetBrowserInt()
{
    return true;
}
