#include "dialogs/dlgappinfo.h"

#include "core/settings.h"
#include "res/resources.h"
#include "shell/kivrelapp.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
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
