#include "props/dspropstd.h"

#include "core/propvalues.h"
#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanopts.h"
#include "dialogs/checkcombo.h"
#include "props/propctrls.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

#include <QHBoxLayout>

using kvprop::Check;
using kvprop::Edit;
using kvprop::FromKv;
using kvprop::Named;
using kvprop::Static;
using kvprop::ToKv;

namespace {

// The pane boxes in the order of the layout word's bits: this side's tree,
// list, details, then the second side's.
const int kPaneIds[6] = {1088, 1087, 1086, 1149, 1148, 1147};

} // namespace

// ---------------------------------------------------------------------------
// CDsPropStdMain

CDsPropStdMain::CDsPropStdMain(KV_DsTreeNodeStd* node, bool editable)
    : CDsPropPage(65, QStringLiteral("Main"), false), node(node), editable(editable),
      name_rdonly(IsNodeRdonly(node))
{
    auto* form = new QFormLayout;
    PageLayout()->addLayout(form);
    form->addRow(QStringLiteral("Name:"), Edit(1094));
    form->addRow(QStringLiteral("Number of threads used:"), Edit(1100));
    form->addRow(QStringLiteral("Default dir.:"), Edit(1036));
    form->addRow(Check(1135, QStringLiteral("Use recycler when deleting files")));
    form->addRow(QStringLiteral("Description:"), kvprop::MultiEdit(1024));
}

bool CDsPropStdMain::IsCtrlEnabled(int id) const
{
    return id != 1094 || (editable && !name_rdonly);
}

void CDsPropStdMain::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#main"));
    CDsPropPage::OnInitDialog();
}

void CDsPropStdMain::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Text(1094, name);
    dx.UInt(1100, ntavos, 1, 20);
    dx.Text(1036, def_path);
    dx.Check(1135, recycle);
    dx.Text(1024, comment);
}

void CDsPropStdMain::LoadData()
{
    name = FromKv(node->name());
    comment = FromKv(node->comment());
    ntavos = node->params_std().opts().ntavos();
    def_path = FromKv(node->params_std().def_path());
    recycle = node->params_std().opts_std().recycle() ? 1 : 0;
    CDsPropPage::LoadData();
}

bool CDsPropStdMain::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    node->set_name(ToKv(name));
    node->set_comment(ToKv(comment));
    node->params_std().opts().set_ntavos(ntavos);
    node->params_std().set_def_path(ToKv(def_path), false);
    node->params_std().opts_std().set_recycle(recycle != 0);
    return true;
}

// ---------------------------------------------------------------------------
// CDsPropLayout

CDsPropLayout::CDsPropLayout(KV_FileManOpts* own, KV_FileManOpts* parent)
    : CDsPropPage(62, QStringLiteral("Layout"), true), own(own), parent(parent)
{
    auto* first = new QGroupBox(QStringLiteral("Panes"));
    auto* first_l = new QHBoxLayout(first);
    first_l->addWidget(Check(1088, QStringLiteral("&Tree")));
    first_l->addWidget(Check(1087, QStringLiteral("&List")));
    first_l->addWidget(Check(1086, QStringLiteral("&Details")));
    PageLayout()->addWidget(first);
    auto* with = new QGroupBox(QStringLiteral("Open in one window with:"));
    auto* with_l = new QVBoxLayout(with);
    with_l->addWidget(Named(new CComboDs, 1080));
    auto* second = new QGroupBox(QStringLiteral("Panes"));
    auto* second_l = new QHBoxLayout(second);
    second_l->addWidget(Check(1149, QStringLiteral("&Tree")));
    second_l->addWidget(Check(1148, QStringLiteral("&List")));
    second_l->addWidget(Check(1147, QStringLiteral("&Details")));
    with_l->addWidget(second);
    PageLayout()->addWidget(with);
    PageLayout()->addWidget(
        Static(QStringLiteral("The layout settings are used when opening new browse windows only "
                              "(existing windows are not affected by changes in this section).")));
    for (int id : kPaneIds) {
        connect(Item<QCheckBox>(id), &QCheckBox::clicked, this, &CDsPropLayout::OnChanged);
    }
    connect(Item<QComboBox>(1080), &QComboBox::currentIndexChanged, this,
            &CDsPropLayout::OnChanged);
}

CDsPropLayout::~CDsPropLayout() = default;

KV_FileManOpts* CDsPropLayout::Target() const
{
    return IsInherited() && parent != nullptr ? parent : own;
}

bool CDsPropLayout::Checked(int id) const
{
    const auto* box = Item<QCheckBox>(id);
    return box != nullptr && box->isChecked();
}

bool CDsPropLayout::OtherChosen() const
{
    const auto* box = Item<QComboBox>(1080);
    const int i = box != nullptr ? box->currentIndex() : -1;
    return i >= 0 && i < static_cast<int>(item_ids.size()) && item_ids[i].valid();
}

bool CDsPropLayout::IsCtrlEnabled(int id) const
{
    if (!CDsPropPage::IsCtrlEnabled(id)) {
        return false;
    }
    // A side with no pane at all gets its tree: a browse window never opens
    // empty.
    if (!Checked(1088) && !Checked(1087) && !Checked(1086)) {
        Item<QCheckBox>(1088)->setChecked(true);
    }
    if (!Checked(1149) && !Checked(1148) && !Checked(1147)) {
        Item<QCheckBox>(1149)->setChecked(true);
    }
    switch (id) {
    case 1086:
        return Checked(1088) || Checked(1087);
    case 1087:
        return Checked(1088) || Checked(1086);
    case 1088:
        return Checked(1087) || Checked(1086);
    case 1147:
        return OtherChosen() && (Checked(1149) || Checked(1148));
    case 1148:
        return OtherChosen() && (Checked(1149) || Checked(1147));
    case 1149:
        return OtherChosen() && (Checked(1148) || Checked(1147));
    default:
        return true;
    }
}

void CDsPropLayout::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#layout"));
    CDsPropPage::OnInitDialog();
}

void CDsPropLayout::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    for (int i = 0; i < 6; ++i) {
        dx.Check(kPaneIds[i], panes[i]);
    }
    dx.ComboIndex(1080, other);
}

void CDsPropLayout::LoadData()
{
    const KV_FileManOpts* t = Target();
    const kvprop::Panes p = kvprop::PanesFromWord(t->disp_info());
    for (int i = 0; i < 3; ++i) {
        panes[i] = p.own[i] ? 1 : 0;
        panes[3 + i] = p.other[i] ? 1 : 0;
    }
    auto* box = Item<CComboDs>(1080);
    {
        // Filling the box is no choice of the user's.
        const QSignalBlocker quiet(box);
        box->clear();
        item_ids.clear();
        CKivrelApp* app = CKivrelApp::Instance();
        KV_FileManPool* pool = app != nullptr ? app->GetPool() : nullptr;
        if (pool != nullptr) {
            if (!info) {
                info = std::make_unique<KV_DsTreeInfo>(*pool);
            }
            pool->tree().get_info(*info, KV_DS_NODE_NONE, KV_String(), 0x02, nullptr);
            for (uint32_t i = 0; i < info->list().size(); ++i) {
                KV_DsTreeNode* node = info->list().at(i)->orig();
                if (node != nullptr) {
                    box->AddItem(FromKv(node->name()), node);
                    item_ids.push_back(node->id());
                }
            }
        }
        box->AddItem(QStringLiteral("<disabled>"), nullptr);
        item_ids.insert(item_ids.begin(), KV_DsId());
    }
    other = -1;
    const KV_DsId& with = t->open_with();
    for (size_t i = 0; i < item_ids.size(); ++i) {
        if (with.valid() ? item_ids[i].valid() && item_ids[i] == with : !item_ids[i].valid()) {
            other = static_cast<int>(i);
            break;
        }
    }
    CDsPropPage::LoadData();
    // The enable rules may have checked a tree for an empty side.
    UpdateData(true);
    UpdateCtrls();
}

bool CDsPropLayout::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    KV_FileManOpts* t = Target();
    kvprop::Panes p;
    for (int i = 0; i < 3; ++i) {
        p.own[i] = panes[i] != 0;
        p.other[i] = panes[3 + i] != 0;
    }
    t->set_disp_info(kvprop::PanesToWord(p));
    t->set_open_with(other >= 0 && other < static_cast<int>(item_ids.size()) ? item_ids[other]
                                                                             : KV_DsId());
    return true;
}

void CDsPropLayout::OnChanged()
{
    UpdateData(true);
    UpdateCtrls();
}
