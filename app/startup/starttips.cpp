#include "startup/starttips.h"

#include "core/settings.h"
#include "core/startrules.h"
#include "foundation/kv_file.h"
#include "menus/commands.h"
#include "menus/kvtoolbar.h"
#include "res/resources.h"
#include "shell/kivrelapp.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTextBrowser>
#include <QUrl>
#include <cstdlib>

CStartTipsFrm::CStartTipsFrm(QWidget* parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Kivrel: Startup tips"));
    setWindowIcon(kvres::LoadIcon(111));
    resize(650, 480);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - 650) / 2, area.y() + (area.height() - 480) / 2);
    }
}

CStartTipsFrm::~CStartTipsFrm()
{
    if (!page.isEmpty()) {
        WriteProfileInt(QStringLiteral("UI"), QStringLiteral("StartTips"),
                        dont_show != nullptr && dont_show->isChecked() ? -tip : tip);
    }
}

QString CStartTipsFrm::PagePath(int n)
{
    const KV_String dir = KV_File::path(KV_PATH_PROGRAM, true);
    return QString::fromUtf8(dir.data(), static_cast<int>(dir.length())) +
           QStringLiteral("help/html/tip%1.htm").arg(n);
}

bool CStartTipsFrm::Create()
{
    auto* bar = new CKVToolBar(this);
    bar->setObjectName(QStringLiteral("toolbar114"));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setMovable(false);
    if (!bar->LoadToolBar(114)) {
        return false;
    }
    bar->SetBitmaps(114, 114);
    addToolBar(Qt::TopToolBarArea, bar);
    CCommandLayer* cmds = CCommandLayer::Of(this);
    cmds->Action(8)->setText(QStringLiteral("Close"));
    cmds->Action(32774)->setText(QStringLiteral("Back"));
    cmds->Action(32817)->setText(QStringLiteral("Next tip"));
    CCommandLayer::On(this, 8, [this](uint32_t) { close(); });
    CCommandLayer::On(
        this, 32774, [this](uint32_t) { view->backward(); },
        [this](CCmdUI& ui) { ui.Enable(can_go_back); });
    CCommandLayer::On(this, 32817, [this](uint32_t) {
        if (LoadTip()) {
            ShowPage();
        }
    });

    view = new QTextBrowser;
    view->setOpenExternalLinks(true);
    connect(view, &QTextBrowser::backwardAvailable, this, [this](bool on) {
        can_go_back = on;
        CCommandLayer::Of(this)->RequestUpdate();
    });
    setCentralWidget(view);
    dont_show = new QCheckBox(QStringLiteral("Don't show tips at startup."));
    dont_show->setObjectName(QStringLiteral("1044"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(dont_show);

    tip = std::abs(GetProfileInt(QStringLiteral("UI"), QStringLiteral("StartTips"), 0));
    if (!LoadTip()) {
        return false;
    }
    ShowPage();
    return true;
}

bool CStartTipsFrm::LoadTip()
{
    tip = NextTip(tip, [](int n) { return QFileInfo(PagePath(n)).isFile(); });
    page = tip > 0 ? PagePath(tip) : QString();
    return tip > 0;
}

void CStartTipsFrm::ShowPage()
{
    if (view != nullptr && !page.isEmpty()) {
        view->setSource(QUrl::fromLocalFile(page));
    }
}
