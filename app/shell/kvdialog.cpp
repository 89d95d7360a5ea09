#include "shell/kvdialog.h"

#include <QShowEvent>

namespace {

QWidget* MakeKVDialog()
{
    return new CKVDialog(0, nullptr);
}

} // namespace

const CRuntimeClass CKVDialog::classCKVDialog("CKVDialog", &MakeKVDialog, nullptr);

CKVDialog::CKVDialog(int template_id, QWidget* parent) : QDialog(parent), template_id(template_id)
{
}

CKVDialog::~CKVDialog() = default;

void CKVDialog::exchange(bool) {}

void CKVDialog::accept()
{
    OnOK();
}

void CKVDialog::reject()
{
    OnCancel();
}

void CKVDialog::OnInitDialog()
{
    exchange(false);
}

void CKVDialog::OnOK()
{
    exchange(true);
    QDialog::accept();
}

void CKVDialog::OnCancel()
{
    QDialog::reject();
}

void CKVDialog::showEvent(QShowEvent* event)
{
    if (!initialised && !event->spontaneous()) {
        initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}
