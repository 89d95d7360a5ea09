#include "browse/browserbar.h"

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/appimages.h"
#include "menus/commands.h"
#include "requests/kv_fileman.h"
#include "res/resources.h"
#include "shell/kivrelapp.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStorageInfo>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace {

constexpr int kBarHeight = 26;
constexpr int kPicture = 16;

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.length()));
}

int ArrowWidth()
{
    return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

} // namespace

CBrowserBar::CBrowserBar(CBrowseFrm* owner, QWidget* parent)
    : QWidget(parent), owner(owner), status(QStringLiteral("Disconnected"))
{
    setObjectName(QStringLiteral("BrowserBar"));
    setFixedHeight(kBarHeight);
    setMouseTracking(false);
    // The lamps carry out the browse window's own commands, enabled as its
    // menu items are.
    conn_menu.Create(this, 32783, 0, 32780);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
}

CBrowserBar::~CBrowserBar()
{
    delete folder_menu.data();
    folders.clear();
}

QSize CBrowserBar::sizeHint() const
{
    return QSize(QWidget::sizeHint().width(), kBarHeight);
}

bool CBrowserBar::Local() const
{
    return owner == nullptr || !owner->HasConnection();
}

void CBrowserBar::UpdateStatus()
{
    if (owner == nullptr) {
        return;
    }
    QString text;
    KV_CONN_CLR now = KV_CONN_CLR_NONE;
    owner->GetConnStatus(text, now);
    if (text != status || now != state) {
        status = text;
        state = now;
        repaint();
    }
}

void CBrowserBar::OnFocusChanged(QWidget* now)
{
    bool inside = false;
    for (QWidget* w = now; w != nullptr; w = w->parentWidget()) {
        if (w == owner) {
            inside = true;
            break;
        }
    }
    if (inside != focus) {
        focus = inside;
        update();
    }
}

QRect CBrowserBar::GetButtonRect() const
{
    const int w = ArrowWidth();
    return PaneBarButtonRect(rect(), w, w);
}

int CBrowserBar::StatePicture() const
{
    CFileManData* data = owner != nullptr ? owner->GetData() : nullptr;
    return GetStateImage(static_cast<int>(state), data != nullptr && data->GetStateVariant());
}

QRect CBrowserBar::GetStateRect() const
{
    const int right = width() - 5;
    return QRect(right - kPicture, 0, kPicture, height());
}

QString CBrowserBar::FolderOf(uint32_t id) const
{
    auto it = folders.find(id);
    return it != folders.end() ? it->second : QString();
}

void CBrowserBar::FocusPane()
{
    QWidget* target = nullptr;
    for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
        if (w == owner) {
            target = QApplication::focusWidget();
            break;
        }
    }
    if (target == nullptr) {
        target = owner->GetActiveView();
    }
    if (target == nullptr && owner->GetSplitter() != nullptr && owner->GetSplitter()->count() > 0) {
        target = owner->GetSplitter()->widget(0);
    }
    if (target == nullptr) {
        target = owner;
    }
    target->setFocus(Qt::MouseFocusReason);
}

void CBrowserBar::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (owner == nullptr || event->button() != Qt::LeftButton) {
        return;
    }
    FocusPane();
    const QPoint at = event->position().toPoint();
    if (Local()) {
        if (button.Press(GetButtonRect().contains(at))) {
            update(GetButtonRect().adjusted(-1, -1, 1, 1));
        }
        return;
    }
    if (GetStateRect().contains(at)) {
        conn_menu.Open(mapToGlobal(at));
    }
}

void CBrowserBar::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
    if (Local() && button.Move(GetButtonRect().contains(event->position().toPoint()))) {
        update(GetButtonRect().adjusted(-1, -1, 1, 1));
    }
}

void CBrowserBar::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
    if (!Local() || event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint at = event->position().toPoint();
    const bool show = button.Release(GetButtonRect().contains(at));
    update(GetButtonRect().adjusted(-1, -1, 1, 1));
    if (!show) {
        return;
    }
    QMenu* menu = BuildFolderMenu(MountedVolumes());
    if (menu != nullptr && !menu->isEmpty()) {
        // Right-aligned at the release point.
        QPoint global = mapToGlobal(at);
        global.rx() -= menu->sizeHint().width();
        menu->popup(global);
    }
}

std::vector<PaneBarVolume> CBrowserBar::MountedVolumes()
{
    std::vector<PaneBarVolume> volumes;
    for (const QStorageInfo& info : QStorageInfo::mountedVolumes()) {
        if (info.isValid() && info.isReady()) {
            volumes.push_back({info.rootPath(), info.displayName()});
        }
    }
    return volumes;
}

QMenu* CBrowserBar::BuildFolderMenu(const std::vector<PaneBarVolume>& volumes)
{
    folders.clear();
    delete folder_menu.data();
    folder_menu = new QMenu(this);
    for (const PaneBarItem& item : PaneBarFolderItems(volumes)) {
        folders[item.id] = item.path;
        QAction* action = folder_menu->addAction(item.name);
        action->setObjectName(kvres::CommandName(item.id));
        const uint32_t id = item.id;
        connect(action, &QAction::triggered, this, [this, id] {
            if (CBrowseSplt* wnd = CBrowseSplt::FromChild(owner)) {
                CCommandLayer::Execute(wnd, id);
            }
        });
    }
    return folder_menu;
}

void CBrowserBar::paintEvent(QPaintEvent*)
{
    CFileManData* data = owner != nullptr ? owner->GetData() : nullptr;
    CBrowseSplt* wnd = owner != nullptr ? owner->GetBrowseWnd() : nullptr;
    if (data == nullptr || wnd == nullptr) {
        shown_folder.clear();
        return;
    }
    QPainter p(this);
    const QPalette& pal = palette();
    const QRect item = rect();
    const bool active = focus && wnd->IsTwoPane();
    QColor text_colour;
    if (active) {
        p.fillRect(item, pal.color(QPalette::Dark));
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(item.topLeft(), item.topRight());
        p.drawLine(item.topLeft(), item.bottomLeft());
        p.setPen(pal.color(QPalette::Shadow));
        p.drawLine(item.bottomLeft(), item.bottomRight());
        p.drawLine(item.topRight(), item.bottomRight());
        text_colour = pal.color(QPalette::HighlightedText);
    } else {
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(item.topLeft(), item.topRight());
        p.drawLine(item.topLeft(), item.bottomLeft());
        p.setPen(pal.color(QPalette::Dark));
        p.drawLine(item.bottomLeft(), item.bottomRight());
        p.drawLine(item.topRight(), item.bottomRight());
        text_colour = pal.color(QPalette::ButtonText);
    }
    QRect work = item.adjusted(0, 2, 0, 0);

    const CKivrelApp* app = CKivrelApp::Instance();
    const QFont bold = app != nullptr ? app->GetFont(1) : font();
    const QFont normal = app != nullptr ? app->GetFont(0) : font();

    // Picture of the data source's kind.
    int icon_w = 0;
    const int kind = data->GetFileMan() != nullptr
                         ? GetManTypeImage(static_cast<uint32_t>(data->GetFileMan()->type()))
                         : -1;
    if (app != nullptr && kind >= 0) {
        app->GetDsImageList().Icon(kind).paint(
            &p, QRect(work.left() + 1, work.top() + (work.height() - kPicture) / 2, kPicture,
                      kPicture));
    }
    icon_w = kPicture;

    p.setPen(text_colour);

    // Right end first: the status and the state picture keep their room, and
    // the title gives way to them in a narrow pane.
    int limit = work.right() + 1;
    if (Local()) {
        QStyleOption opt;
        opt.initFrom(this);
        opt.rect = GetButtonRect();
        opt.state |= QStyle::State_Enabled;
        if (button.Pressed()) {
            opt.state |= QStyle::State_Sunken;
        }
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &opt, &p, this);
        style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &opt, &p, this);
        limit -= GetButtonRect().width();
    } else {
        p.setFont(normal);
        const QRect text_space(work.left(), work.top(), work.width() - kPicture - 9, work.height());
        p.drawText(text_space, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, status);
        if (app != nullptr) {
            app->GetDsImageList()
                .Icon(StatePicture())
                .paint(&p, QRect(text_space.right() + 1 + 6,
                                 work.top() + (work.height() - kPicture) / 2, kPicture, kPicture));
        }
        limit -= QFontMetrics(normal).horizontalAdvance(status) + kPicture + 9;
    }

    // Title in bold. Titles come from the server's data-source names: plain
    // text, drawn as it stands, shortened with an ellipsis to end before the
    // right end rather than run under the status.
    p.setPen(text_colour);
    p.setFont(bold);
    const QFontMetrics bold_metrics(bold);
    const int title_left = work.left() + icon_w + 7;
    const int title_room = std::max(0, limit - 6 - title_left);
    shown_title = bold_metrics.elidedText(owner->GetTitle(), Qt::ElideRight, title_room);
    const int title_right = title_left + bold_metrics.horizontalAdvance(shown_title);
    shown_title_rect = QRect(title_left, work.top(), title_right - title_left, work.height());
    p.drawText(QRect(title_left, work.top(), title_room, work.height()),
               Qt::AlignVCenter | Qt::TextSingleLine, shown_title);

    // Folder: the longest form that fits between the title and the right end.
    const int left = title_right + 10;
    const int right = limit - 6;
    shown_folder.clear();
    if (right > left) {
        const KV_PathDef& folder = data->GetPath();
        const uint32_t forms = folder.entries();
        shown_folder = PaneBarFolderText(
            [&](uint32_t i) -> QString {
                if (i >= forms) {
                    return {};
                }
                KV_String text;
                data->GetPathText(text, folder, false, i);
                if (text.empty() || ToQ(text) == QLatin1String("...")) {
                    return ToQ(text);
                }
                return ToQ(data->GetDirText(text));
            },
            [&](const QString& s) { return bold_metrics.horizontalAdvance(s); }, right - left);
        if (!shown_folder.isEmpty()) {
            p.drawText(QRect(left, work.top(), right - left, work.height()),
                       Qt::AlignVCenter | Qt::TextSingleLine, shown_folder);
        }
    }
}
