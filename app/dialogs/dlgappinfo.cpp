#include "dialogs/dlgappinfo.h"

#include "core/appimages.h"
#include "core/settings.h"
#include "core/versioninfo.h"
#include "res/resources.h"
#include "shell/kivrelapp.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

CDlgAppInfo::CDlgAppInfo(const QString& key, const QString& text, bool question, bool checked,
                         QWidget* parent)
    : QDialog(parent), key(key)
{
    setWindowTitle(question ? "Kivrel" : "Kivrel Info");
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(style()
                        ->standardIcon(question ? QStyle::SP_MessageBoxQuestion
                                                : QStyle::SP_MessageBoxInformation)
                        .pixmap(32, 32));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* label = new QLabel(text.trimmed(), this);
    label->setObjectName("1073");
    label->setWordWrap(true);
    label->setMinimumWidth(320);
    row->addWidget(label, 1);
    layout->addLayout(row);
    box = new QCheckBox(question ? "Don't ask again." : "Don't show this message again.", this);
    box->setObjectName("1044");
    box->setChecked(checked);
    box->setVisible(!key.isEmpty());
    layout->addWidget(box);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(question ? "&Yes" : "&OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("1");
    ok->setDefault(true);
    if (question) {
        buttons->addButton("&No", QDialogButtonBox::RejectRole)->setObjectName("2");
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool CDlgAppInfo::IsEnabled(const QString& key)
{
    return key.isEmpty() || GetProfileInt("UI", key, 1) != 0;
}

bool CDlgAppInfo::Info(const QString& key, uint32_t text_id, QWidget* parent, bool checked)
{
    if (!IsEnabled(key)) {
        return false;
    }
    CDlgAppInfo dlg(key, kvres::LoadString(text_id), false, checked, parent);
    dlg.exec();
    return true;
}

bool CDlgAppInfo::Ask(const QString& key, uint32_t text_id, QWidget* parent, bool checked,
                      bool def_yes)
{
    if (!IsEnabled(key)) {
        return def_yes;
    }
    CDlgAppInfo dlg(key, kvres::LoadString(text_id), true, checked, parent);
    return dlg.exec() == QDialog::Accepted;
}

void CDlgAppInfo::accept()
{
    // Only OK or Yes switches the text off: "No" with the box checked must
    // not turn the question into a silent default.
    if (!key.isEmpty()) {
        WriteProfileInt("UI", key, box->isChecked() ? 0 : 1);
    }
    QDialog::accept();
}

namespace {

// The read-only text box both dialogs show their text in. The stored texts
// break lines with CR LF; the box wants plain line feeds.
QPlainTextEdit* MakeTextBox(const QString& text, QWidget* parent)
{
    auto* edit = new QPlainTextEdit(parent);
    edit->setObjectName("1073");
    edit->setReadOnly(true);
    edit->setPlainText(QString(text).replace("\r\n", "\n"));
    edit->setMinimumSize(320, 120);
    return edit;
}

} // namespace

CDlgAppUpdate::CDlgAppUpdate(const QString& text, bool notice_only, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("Kivrel: Update");
    setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeTextBox(text, this));
    auto* buttons = new QDialogButtonBox(this);
    if (notice_only) {
        QPushButton* ok = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
        ok->setObjectName("1");
        ok->setDefault(true);
    } else {
        buttons->addButton("&Ignore", QDialogButtonBox::RejectRole)->setObjectName("2");
        QPushButton* download = buttons->addButton("&Download", QDialogButtonBox::AcceptRole);
        download->setObjectName("1");
        download->setDefault(true);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString CDlgAbout::TitleLine(const CVersionInfo& info)
{
    QString line = info.GetProductName() + ' ' + FormatVersion(info.GetProductVersion());
    const QString special = info.GetSpecialBuild();
    if (!special.isEmpty()) {
        line += ' ' + special;
    }
    return line;
}

QString CDlgAbout::CopyrightLine(const CVersionInfo& info)
{
    QString line = info.GetLegalCopyright() + "   " + info.GetCompanyName();
    return line.replace("(C)", QString(QChar(0xA9)));
}

QString CDlgAbout::Description(const CVersionInfo& info, const char* date, const char* time)
{
    QString text = info.GetComments().replace("  ", "\r\n");
    const QString sep = text.isEmpty() ? QString() : QStringLiteral("\r\n");
    text += sep + QString("%1: %2 %3")
                      .arg("Built time", QString::fromLatin1(date), QString::fromLatin1(time));
    // Always a line of its own, even when no comments came before.
    text += QStringLiteral("\r\n") + QString("%1: %2").arg("Unicode encoding", "off");
    return text;
}

CDlgAbout::CDlgAbout(const CVersionInfo& info, QWidget* parent)
    : QDialog(parent), title(TitleLine(info)), copyright(CopyrightLine(info)),
      desc(Description(info, __DATE__, __TIME__))
{
    setWindowTitle("About Kivrel");
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32, 32));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* lines = new QVBoxLayout;
    auto* title_label = new QLabel(title, this);
    title_label->setObjectName("1123");
    lines->addWidget(title_label);
    auto* copyright_label = new QLabel(copyright, this);
    copyright_label->setObjectName("1029");
    lines->addWidget(copyright_label);
    row->addLayout(lines, 1);
    layout->addLayout(row);
    layout->addWidget(MakeTextBox(desc, this));
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("1");
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    ok->setFocus();
}

CDlgShutdown::CDlgShutdown(int kind, QWidget* parent) : QDialog(parent), kind(kind)
{
    setWindowTitle("Kivrel");
    auto* layout = new QVBoxLayout(this);
    text = new QLabel(this);
    text->setObjectName("1166");
    layout->addWidget(text);
    progress = new QProgressBar(this);
    progress->setObjectName("1124");
    progress->setRange(0, 30);
    progress->setTextVisible(false);
    layout->addWidget(progress);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("&OK");
    buttons->button(QDialogButtonBox::Cancel)->setText("&Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    Show();
    if (kind == 2 || kind == 3) {
        CKivrelApp::Instance()->PlaySound("sounds/shutdown.wav");
    }
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, &CDlgShutdown::Tick);
    timer.start();
}

void CDlgShutdown::Show()
{
    if (kind == 1) {
        text->setText(QString("The application will be closed in %1 seconds.").arg(left));
    } else if (kind == 2 || kind == 3) {
        text->setText(QString("The system is going to shutdown in %1 seconds.").arg(left));
    } else {
        return;
    }
    progress->setValue(30 - static_cast<int>(left));
}

void CDlgShutdown::Tick()
{
    if (left == 0) {
        return;
    }
    --left;
    if (left == 0) {
        timer.stop();
        progress->setValue(30);
        QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
        return;
    }
    Show();
}

QString CDlgShutdown::Text() const
{
    return text->text();
}
int CDlgShutdown::Progress() const
{
    return progress->value();
}

void CDlgShutdown::done(int result)
{
    timer.stop();
    QDialog::done(result);
}

bool CDlgShutdown::Run(int kind, QWidget* parent)
{
    CDlgShutdown dlg(kind, parent);
    return dlg.exec() == QDialog::Accepted;
}
