#include "dialogs/dlgfilereg.h"

#include "dialogs/checkcombo.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QString FromBytes(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.length()));
}

// Lookup flags: clone what is found, leave out instances, add a new data
// source for the name; 0x20 makes that one secure.
constexpr uint8_t kLookup = 0x0B;
constexpr uint8_t kLookupSecure = 0x2B;

} // namespace

CDlgFileReg::CDlgFileReg(KV_DS_NODE_TYPE type, const KV_String& name, const KV_String& path,
                         bool secure, QWidget* parent)
    : CKVDialog(72, parent), type(type), name(name), path(path), secure(secure ? 1 : 0)
{
    setWindowTitle(QStringLiteral("Kivrel: Data source registration"));
    setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* file = new QLineEdit;
    file->setObjectName(QString::number(IDC_FILE));
    form->addRow(QStringLiteral("File:"), file);
    auto* ds_row = new QHBoxLayout;
    combo = new CComboDs;
    combo->setObjectName(QString::number(IDC_DS));
    ds_row->addWidget(combo, 1);
    auto* props = new QPushButton(QStringLiteral("Properties"));
    props->setObjectName(QString::number(IDC_PROPERTIES));
    ds_row->addWidget(props);
    form->addRow(QStringLiteral("Data source:"), ds_row);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(props, &QPushButton::clicked, this, &CDlgFileReg::OnProperties);
}

CDlgFileReg::~CDlgFileReg() = default;

QString CDlgFileReg::ItemText(const KV_DsTreeNodeInfo& info)
{
    QString text = FromBytes(info.orig()->name());
    const KV_FileManId id = info.orig()->id();
    if (id.valid_man()) {
        text += QLatin1Char(' ') + FromBytes(static_cast<KV_String>(id));
    }
    if (info.new_node()) {
        text += QStringLiteral(" [ New ]");
    }
    return text;
}

void CDlgFileReg::OnInitDialog()
{
    KV_FileManPool* pool = CKivrelApp::Instance() ? CKivrelApp::Instance()->GetPool() : nullptr;
    if (pool != nullptr) {
        lookup = std::make_unique<KV_DsTreeInfo>(*pool);
        pool->tree().get_info(*lookup, type, name, secure ? kLookupSecure : kLookup, nullptr);
        for (uint32_t i = 0; i < lookup->list().size(); ++i) {
            const KV_DsTreeNodeInfo* info = lookup->list().at(i);
            combo->AddItem(ItemText(*info), info->orig());
        }
    }
    if (combo->count() > 0) {
        combo->setCurrentIndex(0);
    }
    file_text = FromBytes(path);
    CKVDialog::OnInitDialog();
}

void CDlgFileReg::exchange(bool save)
{
    CKVDialog::exchange(save);
    auto* file = Item<QLineEdit>(IDC_FILE);
    if (save) {
        file_text = file->text();
    } else {
        file->setText(file_text);
    }
}

void CDlgFileReg::OnOK()
{
    const int index = combo->currentIndex();
    sel_info =
        lookup != nullptr && index >= 0 && static_cast<uint32_t>(index) < lookup->list().size()
            ? lookup->list().at(static_cast<uint32_t>(index))
            : nullptr;
    CKVDialog::OnOK();
}

void CDlgFileReg::OnProperties()
{
    const int index = combo->currentIndex();
    if (lookup == nullptr || index < 0 || static_cast<uint32_t>(index) >= lookup->list().size()) {
        return;
    }
    const KV_DsTreeNodeInfo* info = lookup->list().at(static_cast<uint32_t>(index));
    CKivrelApp::Instance()->EditProperties(info->orig(), info->clone(), this);
}
