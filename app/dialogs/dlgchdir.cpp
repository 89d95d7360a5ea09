#include "dialogs/dlgchdir.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// The line edit `id` above OK and Cancel, under `text`.
void BuildOneTextDialog(QDialog* dlg, const QString& text, int id)
{
    auto* layout = new QVBoxLayout(dlg);
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::number(id));
    label->setBuddy(edit);
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace

CDlgChdir::CDlgChdir(QWidget* parent) : CKVDialog(48, parent)
{
    setWindowTitle(QStringLiteral("Change the current directory"));
    setWindowIcon(style()->standardIcon(QStyle::SP_DirIcon));
    BuildOneTextDialog(
        this,
        QStringLiteral("Please specify a valid directory you want to switch to. The browse "
                       "window displays the new content automatically. Please watch the "
                       "status bar for possible error messages:"),
        IDC_FOLDER);
}

void CDlgChdir::exchange(bool save)
{
    CKVDialog::exchange(save);
    auto* edit = Item<QLineEdit>(IDC_FOLDER);
    if (save) {
        folder = edit->text();
    } else {
        edit->setText(folder);
    }
}

CDlgUsrDefCmd::CDlgUsrDefCmd(QWidget* parent) : CKVDialog(88, parent)
{
    setWindowTitle(QStringLiteral("Send a custom command"));
    BuildOneTextDialog(this, QStringLiteral("Command to send:"), IDC_COMMAND);
}

void CDlgUsrDefCmd::exchange(bool save)
{
    CKVDialog::exchange(save);
    auto* edit = Item<QLineEdit>(IDC_COMMAND);
    if (save) {
        command = edit->text();
    } else {
        edit->setText(command);
    }
}
