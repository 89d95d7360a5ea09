#include "dialogs/dlgask.h"

#include "dialogs/dlgtranspar.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"
#include "transfers/kv_filereqtranscp.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

namespace {

QPushButton* AddButton(QWidget* dlg, int id, const QString& label, int x, int y, int w, int h)
{
    auto* b = new QPushButton(label, dlg);
    b->setObjectName(QString::number(id));
    b->setGeometry(x, y, w, h);
    return b;
}

// The buttons' row in the templates before the question is measured.
constexpr int kRowTop = 60;
constexpr int kButtonW = 80;
constexpr int kButtonH = 24;

} // namespace

int CDlgAsk::TemplateOf(KV_ASK kind)
{
    switch (kind) {
    case KV_ASK_YES_ALL:
        return 44;
    case KV_ASK_TRUST:
    case KV_ASK_TRUST2:
        return 47;
    case KV_ASK_YES_ALL2:
        return 45;
    case KV_ASK_LOGIN:
        return 46;
    default:
        return 43;
    }
}

CDlgAsk::CDlgAsk(const KV_String& msg, KV_ANS def_ans, KV_ASK kind, void* params, QWidget* parent)
    : CKVDialog(TemplateOf(kind), parent), kind(kind),
      text(QString::fromUtf8(msg.data(), static_cast<int>(msg.length()))), def_ans(def_ans),
      params(params)
{
    setWindowTitle(QStringLiteral("Kivrel"));
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    icon->setGeometry(15, 15, 32, 32);

    int width = 340;
    switch (GetTemplateId()) {
    case 43:
        AddButton(this, IDC_YES, QStringLiteral("&Yes"), 90, kRowTop, kButtonW, kButtonH);
        AddButton(this, IDC_NO, QStringLiteral("&No"), 180, kRowTop, kButtonW, kButtonH);
        break;
    case 44:
    case 45:
        AddButton(this, IDC_YES, QStringLiteral("&Yes"), 60, kRowTop, kButtonW, kButtonH);
        AddButton(this, IDC_YES_ALL, QStringLiteral("Y&es to all"), 150, kRowTop, kButtonW,
                  kButtonH);
        AddButton(this, IDC_NO, QStringLiteral("&No"), 240, kRowTop, kButtonW, kButtonH);
        AddButton(this, IDC_NO_ALL, QStringLiteral("N&o to all"), 330, kRowTop, kButtonW, kButtonH);
        width = 430;
        if (GetTemplateId() == 45) {
            AddButton(this, IDC_PARAMS, QStringLiteral("?"), 418, kRowTop + 4, 16, 15);
            width = 445;
        }
        break;
    case 47:
        AddButton(this, IDC_YES, QStringLiteral("&Yes"), 65, kRowTop, kButtonW, kButtonH);
        AddButton(this, IDC_NO, QStringLiteral("&No"), 155, kRowTop, kButtonW, kButtonH);
        AddButton(this, IDC_YES_ALL, QStringLiteral("&Always trust this server"), 245, kRowTop, 170,
                  kButtonH);
        width = 440;
        break;
    case 46: {
        width = 320;
        auto* user_label = new QLabel(QStringLiteral("User:"), this);
        user_label->setGeometry(65, 20, 70, 22);
        auto* user = new QLineEdit(this);
        user->setObjectName(QString::number(IDC_USER));
        user->setReadOnly(true);
        user->setGeometry(135, 20, 170, 22);
        auto* pass_label = new QLabel(QStringLiteral("Password:"), this);
        pass_label->setGeometry(65, 52, 70, 22);
        auto* pass = new QLineEdit(this);
        pass->setObjectName(QString::number(IDC_PASS));
        pass->setEchoMode(QLineEdit::Password);
        pass->setGeometry(135, 52, 170, 22);
        auto* remember = new QCheckBox(QStringLiteral("Remember the password"), this);
        remember->setObjectName(QString::number(IDC_REMEMBER));
        remember->setGeometry(135, 84, 170, 22);
        AddButton(this, IDC_YES, QStringLiteral("OK"), 120, 125, kButtonW, kButtonH);
        setFixedSize(width, 165);
        break;
    }
    default:
        break;
    }
    if (GetTemplateId() != 46) {
        setFixedSize(width, kRowTop + 70);
    }

    const std::pair<int, void (CDlgAsk::*)()> handlers[] = {
        {IDC_YES, &CDlgAsk::OnYes},       {IDC_YES_ALL, &CDlgAsk::OnYesAll},
        {IDC_NO, &CDlgAsk::OnNo},         {IDC_NO_ALL, &CDlgAsk::OnNoAll},
        {IDC_PARAMS, &CDlgAsk::OnParams},
    };
    for (const auto& [id, handler] : handlers) {
        if (auto* b = Item<QPushButton>(id)) {
            connect(b, &QPushButton::clicked, this, handler);
        }
    }
}

void CDlgAsk::OnInitDialog()
{
    CKVDialog::OnInitDialog();
    if (kind == KV_ASK_LOGIN) {
        auto* user = Item<QLineEdit>(IDC_USER);
        if (params && user) {
            const KV_String& name = static_cast<const KV_PassAsk*>(params)->user;
            user->setText(QString::fromUtf8(name.data(), static_cast<int>(name.length())));
        }
        if (auto* pass = Item<QLineEdit>(IDC_PASS)) {
            pass->setFocus();
        }
        return;
    }
    if (auto* b = Item<QPushButton>(IDC_PARAMS)) {
        b->setText(QString());
        b->setIcon(style()->standardIcon(QStyle::SP_TitleBarContextHelpButton));
        b->setIconSize(QSize(12, 12));
    }
    auto* yes = Item<QPushButton>(IDC_YES);
    auto* yes_all = Item<QPushButton>(IDC_YES_ALL);
    auto* no = Item<QPushButton>(IDC_NO);
    auto* no_all = Item<QPushButton>(IDC_NO_ALL);

    // The question decides the height; the width stays the template's.
    text_rect.setTop(30);
    if (yes && yes_all && no_all) {
        text_rect.setLeft(yes->geometry().left());
        text_rect.setRight(no_all->geometry().right());
    } else {
        text_rect.setLeft(65);
        text_rect.setRight(width() - 1 - 25);
    }
    const int height = CalcTextHeight(this, nullptr, text, text_rect.width(), Qt::TextWordWrap);
    text_rect.setBottom(text_rect.top() + height - 1);
    const int row = text_rect.bottom() + 1 + 20;
    setFixedSize(width(), row + 70);
    for (QPushButton* b : {yes, yes_all, no, no_all, Item<QPushButton>(IDC_PARAMS)}) {
        if (b) {
            b->move(b->x(), b == Item<QPushButton>(IDC_PARAMS) ? row + 4 : row);
        }
    }

    QPushButton* focus = nullptr;
    switch (def_ans) {
    case KV_ANS_YES:
        focus = yes;
        break;
    case KV_ANS_YES_ALL:
        focus = yes_all;
        break;
    case KV_ANS_NO:
        focus = no;
        break;
    case KV_ANS_NO_ALL:
        focus = no_all;
        break;
    default:
        break;
    }
    if (focus) {
        focus->setDefault(true);
        focus->setFocus();
    }
}

void CDlgAsk::paintEvent(QPaintEvent* event)
{
    CKVDialog::paintEvent(event);
    if (kind == KV_ASK_LOGIN) {
        return;
    }
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(text_rect, Qt::TextWordWrap, text);
}

void CDlgAsk::End(KV_ANS ans)
{
    result = ans;
    accept();
}

void CDlgAsk::OnYes()
{
    auto* pass = Item<QLineEdit>(IDC_PASS);
    auto* remember = Item<QCheckBox>(IDC_REMEMBER);
    if (params && pass && remember) {
        auto* ask = static_cast<KV_PassAsk*>(params);
        ask->pass = KV_String(pass->text().toUtf8().constData());
        CKivrelApp* app = CKivrelApp::Instance();
        if (remember->isChecked() && app && app->GetPool()) {
            app->GetPool()->tree().set_pass(ask->id, ask->pass);
        }
    }
    End(KV_ANS_YES);
}

void CDlgAsk::OnYesAll()
{
    End(KV_ANS_YES_ALL);
}

void CDlgAsk::OnNo()
{
    End(KV_ANS_NO);
}

void CDlgAsk::OnNoAll()
{
    End(KV_ANS_NO_ALL);
}

void CDlgAsk::OnParams()
{
    if (kind != KV_ASK_YES_ALL2 || !params) {
        return;
    }
    auto* req = static_cast<KV_FileReqTransCp*>(params);
    KV_FileReqTransParams* copy = req->log().clone_params();
    if (!copy) {
        return;
    }
    if (copy->type() == KV_REQ_TYPE_TRANS_CP) {
        const KV_FileMan* src = req->man_src();
        const KV_FileMan* dst = req->man_dst();
        CDlgTransParCp dlg(src ? src->id().type() : 0, dst ? dst->id().type() : 0,
                           static_cast<const KV_FileReqTransParamsCp&>(*copy), req->status(), this);
        if (dlg.exec() == QDialog::Accepted) {
            req->log().set_trans_params(*dlg.GetParams());
        }
    }
    KV_FileReqTransParams::destr_clone(copy);
}
