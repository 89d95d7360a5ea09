#include "dialogs/dlgfiletrans.h"

#include "core/filetrans.h"
#include "datasources/kv_filemanopts.h"
#include "dialogs/checkcombo.h"
#include "dialogs/dlgtranspar.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
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

KV_String ToBytes(const QString& s)
{
    const QByteArray bytes = s.toUtf8();
    KV_String out;
    out.append(bytes.constData(), static_cast<uint32_t>(bytes.size()));
    return out;
}

// Lookup flags of the source (0x20 adds its secure variant) and of the
// destination.
constexpr uint8_t kSrcLookup = 0x19;
constexpr uint8_t kSrcLookupSecure = 0x39;
constexpr uint8_t kDstLookup = 0x01;

const KV_FileManOpts* OptsOf(const KV_DsTreeNodeInfo* info)
{
    return info != nullptr && info->orig() != nullptr ? info->orig()->opts() : nullptr;
}

} // namespace

CDlgFileTrans::CDlgFileTrans(KV_DS_NODE_TYPE src_type, const KV_String& src_name,
                             const KV_String& src_path, KV_DS_NODE_TYPE dst_type,
                             const KV_String& dst_name, const KV_String& dst_path, bool src_lookup,
                             bool dst_fixed, QWidget* parent)
    : CKVDialog(80, parent), dst_fixed(dst_fixed ? 1 : 0), src_name(src_name), dst_name(dst_name),
      src_path(src_path.trim()), dst_path(dst_path.trim()), src_type(src_type), dst_type(dst_type),
      src_lookup(src_lookup ? 1 : 0)
{
    setWindowTitle(QStringLiteral("Kivrel: File transfer"));
    setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    auto* layout = new QVBoxLayout(this);

    auto* src_group = new QGroupBox(QStringLiteral("Source file"));
    auto* src_grid = new QGridLayout(src_group);
    src_edit = new QLineEdit;
    src_edit->setObjectName(QString::number(IDC_SRC_FILE));
    src_grid->addWidget(src_edit, 0, 0, 1, 2);
    src_box = new CComboDs;
    src_box->setObjectName(QString::number(IDC_SRC_DS));
    src_grid->addWidget(src_box, 1, 0);
    src_props = new QPushButton(QStringLiteral("Properties"));
    src_props->setObjectName(QString::number(IDC_SRC_PROPS));
    src_grid->addWidget(src_props, 1, 1);
    layout->addWidget(src_group);

    auto* dst_group = new QGroupBox(QStringLiteral("Destination file"));
    auto* dst_grid = new QGridLayout(dst_group);
    auto* dst_row = new QHBoxLayout;
    dst_edit = new QLineEdit;
    dst_edit->setObjectName(QString::number(IDC_DST_FILE));
    dst_row->addWidget(dst_edit, 1);
    // A hidden button gives its room back to the edit.
    browse = new QPushButton(QStringLiteral("..."));
    browse->setObjectName(QString::number(IDC_BROWSE));
    browse->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    dst_row->addWidget(browse);
    dst_grid->addLayout(dst_row, 0, 0, 1, 2);
    dst_box = new CComboDs;
    dst_box->setObjectName(QString::number(IDC_DST_DS));
    dst_grid->addWidget(dst_box, 1, 0);
    dst_props = new QPushButton(QStringLiteral("Properties"));
    dst_props->setObjectName(QString::number(IDC_DST_PROPS));
    dst_grid->addWidget(dst_props, 1, 1);
    layout->addWidget(dst_group);

    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    extended =
        buttons->addButton(QStringLiteral("&Extended transfer"), QDialogButtonBox::ActionRole);
    extended->setObjectName(QString::number(IDC_EXTENDED));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(src_props, &QPushButton::clicked, this, [this] { OnProperties(true); });
    connect(dst_props, &QPushButton::clicked, this, [this] { OnProperties(false); });
    connect(browse, &QPushButton::clicked, this, &CDlgFileTrans::OnBrowse);
    connect(extended, &QPushButton::clicked, this, &CDlgFileTrans::OnExtended);
}

CDlgFileTrans::~CDlgFileTrans() = default;

QString CDlgFileTrans::ItemText(const KV_DsTreeNodeInfo& info)
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

const KV_DsTreeNodeInfo* CDlgFileTrans::Selected(const CComboDs* box,
                                                 const KV_DsTreeInfo* lookup) const
{
    const int index = box->currentIndex();
    return lookup != nullptr && index >= 0 && static_cast<uint32_t>(index) < lookup->list().size()
               ? lookup->list().at(static_cast<uint32_t>(index))
               : nullptr;
}

void CDlgFileTrans::OnInitDialog()
{
    if (dst_fixed != 0) {
        dst_box->setEnabled(false);
        dst_props->setEnabled(false);
        extended->setEnabled(false);
    }
    KV_FileManPool* pool = CKivrelApp::Instance() ? CKivrelApp::Instance()->GetPool() : nullptr;
    if (pool != nullptr) {
        src_lookup_info = std::make_unique<KV_DsTreeInfo>(*pool);
        pool->tree().get_info(*src_lookup_info, src_type, src_name,
                              src_lookup != 0 ? kSrcLookupSecure : kSrcLookup, nullptr);
        dst_lookup_info = std::make_unique<KV_DsTreeInfo>(*pool);
        pool->tree().get_info(*dst_lookup_info, dst_type, dst_name, kDstLookup, nullptr);
        for (uint32_t i = 0; i < src_lookup_info->list().size(); ++i) {
            const KV_DsTreeNodeInfo* info = src_lookup_info->list().at(i);
            src_box->AddItem(ItemText(*info), info->orig());
        }
        for (uint32_t i = 0; i < dst_lookup_info->list().size(); ++i) {
            const KV_DsTreeNodeInfo* info = dst_lookup_info->list().at(i);
            dst_box->AddItem(ItemText(*info), info->orig());
        }
    }
    if (src_box->count() > 0) {
        src_box->setCurrentIndex(0);
    }
    if (dst_box->count() > 0) {
        dst_box->setCurrentIndex(0);
    }
    src_edit->setText(FromBytes(src_path));
    src_sel = Selected(src_box, src_lookup_info.get());
    KV_String dest = dst_path;
    KV_String name;
    if (const KV_FileManOpts* opts = OptsOf(src_sel)) {
        if (FileTransSplitFile(opts->man_path(), src_path, &name, nullptr)) {
            dest = name;
        }
    }
    setting_dest = true;
    dst_edit->setText(FromBytes(dest));
    setting_dest = false;
    OnSrcSelected();
    OnDstSelected();
    if (const KV_FileManOpts* opts = OptsOf(dst_sel)) {
        KV_PathDef split;
        if (opts->man_path().split_path(ToBytes(dst_edit->text()).trim(), split, true)) {
            dst_names_file =
                FileTransSplitFile(opts->man_path(), ToBytes(dst_edit->text()), nullptr, nullptr)
                    ? 1
                    : 0;
        }
    }
    connect(src_box, &QComboBox::currentIndexChanged, this, &CDlgFileTrans::OnSrcSelected);
    connect(dst_box, &QComboBox::currentIndexChanged, this, &CDlgFileTrans::OnDstSelected);
    connect(src_edit, &QLineEdit::textChanged, this, &CDlgFileTrans::OnSrcEdited);
    connect(dst_edit, &QLineEdit::textChanged, this, &CDlgFileTrans::OnDstEdited);
    CKVDialog::OnInitDialog();
}

void CDlgFileTrans::OnSrcSelected()
{
    src_sel = Selected(src_box, src_lookup_info.get());
    // A running instance has no sheet of its own (its data source has); a
    // data source, also a new one, has.
    src_props->setEnabled(src_sel != nullptr && !src_sel->orig()->id().valid_man());
}

void CDlgFileTrans::OnDstSelected()
{
    const KV_DsTreeNodeInfo* previous = dst_sel;
    const KV_DsTreeNodeInfo* now = Selected(dst_box, dst_lookup_info.get());
    if (now != nullptr && now != previous) {
        KV_FileManOpts* old_opts = previous != nullptr ? previous->orig()->opts() : nullptr;
        const KV_FileManOpts* new_opts = now->orig()->opts();
        if (new_opts != nullptr) {
            const FileTransRebuilt rebuilt = FileTransRebuildDest(
                ToBytes(dst_edit->text()), old_opts != nullptr ? &old_opts->man_path() : nullptr,
                new_opts->man_path(), new_opts->path_down());
            if (rebuilt.old_folder_set && old_opts != nullptr) {
                old_opts->set_path_down(rebuilt.old_folder);
            }
            // Rebuilding keeps the names-a-file state as it was.
            const uint8_t names_file = dst_names_file;
            SetDestText(rebuilt.text);
            dst_names_file = names_file;
        }
    }
    dst_sel = now;
    dst_props->setEnabled(dst_fixed == 0 && dst_sel != nullptr &&
                          !dst_sel->orig()->id().valid_man());
    browse->setVisible(dst_sel != nullptr && dst_sel->orig()->type() == KV_DS_NODE_STD);
}

void CDlgFileTrans::SetDestText(const KV_String& text)
{
    setting_dest = true;
    dst_edit->setText(FromBytes(text));
    setting_dest = false;
    // Written by the dialog or by the user, the text names a file from now on.
    dst_names_file = 1;
}

void CDlgFileTrans::OnSrcEdited()
{
    const KV_FileManOpts* src_opts = OptsOf(src_sel);
    const KV_FileManOpts* dst_opts = OptsOf(dst_sel);
    if (src_opts == nullptr || dst_opts == nullptr) {
        return;
    }
    KV_String dest;
    if (FileTransTakeSourceName(dst_names_file != 0, src_opts->man_path(),
                                ToBytes(src_edit->text()), dst_opts->man_path(),
                                ToBytes(dst_edit->text()), dest)) {
        SetDestText(dest);
    }
}

void CDlgFileTrans::OnDstEdited()
{
    if (!setting_dest) {
        dst_names_file = 1;
    }
}

void CDlgFileTrans::OnBrowse()
{
    const QString chosen =
        QFileDialog::getSaveFileName(this, QString(), dst_edit->text().trimmed());
    if (!chosen.isEmpty()) {
        SetDestText(ToBytes(chosen));
    }
}

void CDlgFileTrans::OnExtended()
{
    const uint16_t st =
        static_cast<uint16_t>(src_sel != nullptr ? src_sel->orig()->type() : src_type);
    const uint16_t dt =
        static_cast<uint16_t>(dst_sel != nullptr ? dst_sel->orig()->type() : dst_type);
    CDlgTransParCp dlg(st, dt, params, KV_REQ_STAT_QUEUED, this);
    if (dlg.exec() == QDialog::Accepted) {
        if (const auto* cp = dynamic_cast<const KV_FileReqTransParamsCp*>(dlg.GetParams())) {
            params = *cp;
        }
    }
}

void CDlgFileTrans::OnProperties(bool source)
{
    const KV_DsTreeNodeInfo* info = source ? src_sel : dst_sel;
    if (info != nullptr) {
        CKivrelApp::Instance()->EditProperties(info->orig(), info->clone(), this);
    }
}

void CDlgFileTrans::OnOK()
{
    src_path = ToBytes(src_edit->text()).trim();
    dst_path = ToBytes(dst_edit->text()).trim();
    src_sel = Selected(src_box, src_lookup_info.get());
    dst_sel = Selected(dst_box, dst_lookup_info.get());
    if (dst_sel != nullptr) {
        if (KV_FileManOpts* opts = dst_sel->orig()->opts()) {
            KV_String folder;
            if (FileTransSplitFile(opts->man_path(), dst_path, nullptr, &folder)) {
                opts->set_path_down(folder);
            }
        }
    }
    CKVDialog::OnOK();
}
