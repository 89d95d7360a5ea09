#include "startup/dlgreqask.h"

#include "core/settings.h"
#include "res/resources.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"
#include "transfers/kv_filereqtaskstrans.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_filetransman.h"
#include "transfers/kv_translogtrans.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kIdRole = Qt::UserRole + 1;

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

} // namespace

DlgReqAsk::DlgReqAsk(KV_FileTransMan& m, QWidget* parent) : CKVDialog(73, parent), man(m)
{
    setWindowTitle(QStringLiteral("Request resumption"));
    setWindowIcon(kvres::LoadIcon(111));
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\reqreswnd.htm"));
    auto* layout = new QVBoxLayout(this);
    auto* label =
        new QLabel(QStringLiteral("The following requests have been found and can be resumed:"));
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    list = new QTreeWidget;
    list->setObjectName(QStringLiteral("1081"));
    list->setRootIsDecorated(false);
    list->setColumnCount(2);
    list->setHeaderLabels({QStringLiteral("Request"), QStringLiteral("Start time")});
    list->header()->resizeSection(0, 400);
    list->header()->resizeSection(1, 120);
    layout->addWidget(list);
    auto* box = new QCheckBox(QStringLiteral("Don't show this dialog again."));
    box->setObjectName(QStringLiteral("1044"));
    layout->addWidget(box);
    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(560, 300);
}

bool DlgReqAsk::Listed(KV_FileReq& req, bool& checked)
{
    checked = true;
    return req.resume(checked) && !req.hidden() && !req.processed();
}

bool DlgReqAsk::AnyListed(KV_FileTransMan& man)
{
    for (KV_FileReq* r : man.list_req_add()) {
        bool checked = true;
        if (r != nullptr && Listed(*r, checked)) {
            return true;
        }
    }
    return false;
}

void DlgReqAsk::CancelUncheckedDefaults(KV_FileTransMan& man)
{
    for (KV_FileReq* r : man.list_req_add()) {
        bool checked = true;
        if (r != nullptr && (!r->resume(checked) || !checked)) {
            man.add_task(KV_FileReqTaskCancel(r->id(), true));
        }
    }
}

void DlgReqAsk::Fill()
{
    list->clear();
    for (KV_FileReq* r : man.list_req_add()) {
        bool checked = true;
        if (r == nullptr || !Listed(*r, checked)) {
            continue;
        }
        KV_String descr;
        const char* kind = r->get_descr(descr, true);
        auto* item = new QTreeWidgetItem(list);
        // The description of a copy spans lines ("\r\n" between them).
        item->setText(0, OneLineBreaks(QStringLiteral("%1: %2").arg(
                             QString::fromUtf8(kind ? kind : ""), ToQ(descr))));
        if (r->trans()) {
            const KV_Time started = static_cast<KV_FileReqTrans*>(r)->log_trans().tm_started();
            if (started.valid()) {
                item->setText(1, ToQ(started.as_str("%c")));
            }
        }
        item->setData(0, kIdRole, QVariant::fromValue<quint32>(r->id()));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
}

void DlgReqAsk::OnInitDialog()
{
    Fill();
    CKVDialog::OnInitDialog();
}

void DlgReqAsk::exchange(bool save)
{
    CKVDialog::exchange(save);
    auto* box = Item<QCheckBox>(1044);
    if (save) {
        dont_show = box->isChecked() ? 1 : 0;
    } else {
        box->setChecked(dont_show != 0);
    }
}

void DlgReqAsk::OnOK()
{
    exchange(true);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->checkState(0) != Qt::Checked) {
            man.add_task(KV_FileReqTaskCancel(item->data(0, kIdRole).value<quint32>(), true));
        }
    }
    WriteProfileInt(QStringLiteral("UI"), QStringLiteral("ReqResume"), dont_show != 0 ? 0 : 1);
    done(QDialog::Accepted);
}
