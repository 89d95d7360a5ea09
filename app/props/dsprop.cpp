#include "props/dsprop.h"

#include "core/propvalues.h"
#include "datasources/kv_dstreenode.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------
// CDsProp

CDsProp::CDsProp(KV_DsTreeNode* node, KV_DsTreeNode* parent, QWidget* wnd, int initial_page)
    : QDialog(wnd), node(node), parent_node(parent), initial_page(initial_page)
{
    const QString name = node != nullptr ? kvprop::FromKv(node->name()) : QString();
    setWindowTitle(name + QStringLiteral(" properties."));
    setWindowIcon(kvres::LoadIcon(101));
    auto* layout = new QVBoxLayout(this);
    tabs = new QTabWidget(this);
    layout->addWidget(tabs);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(tabs, &QTabWidget::currentChanged, this, &CDsProp::OnTabChanged);
}

CDsProp::~CDsProp() = default;

void CDsProp::AddPage(CDsPropPage* page)
{
    if (page == nullptr) {
        return;
    }
    page->sheet = this;
    pages.append(page);
    switching = true;
    tabs->addTab(page, page->GetTitle());
    switching = false;
    // The page's controls joined the dialog after its buttons: made again
    // a child of the dialog, the buttons go to the end of the focus chain,
    // so that Tab reads the tabs, the page, then the buttons.
    const bool shown = !buttons->isHidden();
    buttons->setParent(nullptr);
    buttons->setParent(this);
    layout()->addWidget(buttons);
    buttons->setVisible(shown);
}

int CDsProp::GetPageIndex(const CDsPropPage* page) const
{
    for (int i = 0; i < pages.size(); ++i) {
        if (pages.at(i) == page) {
            return i;
        }
    }
    return -1;
}

CDsPropPage* CDsProp::GetActivePage() const
{
    return GetPage(tabs->currentIndex());
}

bool CDsProp::SetActivePage(int index)
{
    CDsPropPage* page = GetPage(index);
    if (page == nullptr) {
        return false;
    }
    switching = true;
    tabs->setCurrentIndex(index);
    switching = false;
    shown_page = index;
    page->Create();
    return true;
}

bool CDsProp::SetActivePage(CDsPropPage* page)
{
    return SetActivePage(GetPageIndex(page));
}

void CDsProp::OnTabChanged(int index)
{
    if (switching) {
        return;
    }
    // Leaving a page checks what was typed there, as a person expects
    // before the values go out of sight; a refusal keeps the page.
    CDsPropPage* old = GetPage(shown_page);
    if (old != nullptr && shown_page != index && old->IsCreated() && !old->UpdateData(true)) {
        SetActivePage(shown_page);
        return;
    }
    SetActivePage(index);
}

void CDsProp::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (shown_page < 0 && !event->spontaneous()) {
        if (!SetActivePage(initial_page)) {
            SetActivePage(0);
        }
    }
}

bool CDsProp::IsInherited() const
{
    return parent_node != nullptr && node != nullptr && node->inh_params();
}

bool CDsProp::SetInherit(bool inherit)
{
    if (node == nullptr) {
        return false;
    }
    // Each created page writes what it shows into its present targets
    // first, so that toggling back shows the node's own values as they
    // were, edits included.
    for (CDsPropPage* page : pages) {
        if (page->IsCreated() && !page->SaveData()) {
            return false;
        }
    }
    node->set_inh_params(inherit);
    for (CDsPropPage* page : pages) {
        if (page->IsCreated()) {
            page->LoadData();
        }
    }
    return true;
}

void CDsProp::SetSheetHelpTopic(const QString& file)
{
    CKivrelApp::SetHelpTopic(this, file);
}

QString CDsProp::GetSheetHelpTopic() const
{
    return CKivrelApp::HelpTopic(this);
}

void CDsProp::accept()
{
    for (CDsPropPage* page : pages) {
        if (page->IsCreated() && !page->OnApply()) {
            return;
        }
    }
    QDialog::accept();
}

// ---------------------------------------------------------------------------
// CDataExchange

void CDataExchange::Fail(int id, const QString& text)
{
    if (failed) {
        return;
    }
    failed = true;
    page.ShowCtrlError(text, id);
}

void CDataExchange::Text(int id, QString& value)
{
    if (failed) {
        return;
    }
    if (auto* edit = page.Item<QLineEdit>(id)) {
        if (save) {
            value = edit->text();
        } else {
            edit->setText(value);
        }
    } else if (auto* multi = page.Item<QPlainTextEdit>(id)) {
        if (save) {
            value = multi->toPlainText();
        } else {
            multi->setPlainText(value);
        }
    }
}

void CDataExchange::Check(int id, int& value)
{
    auto* box = page.Item<QCheckBox>(id);
    if (failed || box == nullptr) {
        return;
    }
    if (save) {
        const Qt::CheckState s = box->checkState();
        value = s == Qt::PartiallyChecked ? 2 : s == Qt::Checked ? 1 : 0;
    } else {
        box->setCheckState(value == 2   ? Qt::PartiallyChecked
                           : value != 0 ? Qt::Checked
                                        : Qt::Unchecked);
    }
}

void CDataExchange::Radio(std::initializer_list<int> ids, int& index)
{
    if (failed) {
        return;
    }
    int i = 0;
    if (save) {
        index = -1;
        for (int id : ids) {
            auto* radio = page.Item<QRadioButton>(id);
            if (radio != nullptr && radio->isChecked()) {
                index = i;
                break;
            }
            ++i;
        }
        return;
    }
    for (int id : ids) {
        if (auto* radio = page.Item<QRadioButton>(id)) {
            // Exclusive radios cannot all be cleared; "none checked" is a
            // state the pages show for values they do not know.
            const bool exclusive = radio->autoExclusive();
            radio->setAutoExclusive(false);
            radio->setChecked(i == index);
            radio->setAutoExclusive(exclusive);
        }
        ++i;
    }
}

void CDataExchange::ComboIndex(int id, int& index)
{
    if (failed) {
        return;
    }
    if (auto* combo = page.Item<QComboBox>(id)) {
        if (save) {
            index = combo->currentIndex();
        } else {
            combo->setCurrentIndex(index);
        }
    } else if (auto* list = page.Item<QListWidget>(id)) {
        if (save) {
            index = list->currentRow();
        } else {
            list->setCurrentRow(index);
        }
    }
}

void CDataExchange::UInt(int id, uint32_t& value, uint32_t min, uint32_t max)
{
    auto* edit = page.Item<QLineEdit>(id);
    if (failed || edit == nullptr) {
        return;
    }
    if (!save) {
        edit->setText(QString::number(value));
        return;
    }
    uint32_t v = 0;
    const kvprop::NumCheck check = kvprop::CheckUInt(edit->text(), min, max, v);
    if (check != kvprop::NumCheck::ok) {
        Fail(id, kvprop::NumCheckMessage(check, min, max));
        return;
    }
    value = v;
}

// ---------------------------------------------------------------------------
// CDsPropPage

CDsPropPage::CDsPropPage(int template_id, const QString& title, bool with_inherit_box)
    : template_id(template_id), title(title)
{
    setObjectName(QStringLiteral("page%1").arg(template_id));
    auto* layout = new QVBoxLayout(this);
    if (with_inherit_box) {
        inherit_box =
            new QCheckBox(QStringLiteral("Inherit properties from the parent node (%s)."), this);
        inherit_box->setObjectName(QString::number(IDC_INHERIT));
        // The box is drawn in red, so that a greyed page is seen to be the
        // group's and not broken.
        QPalette pal = inherit_box->palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            pal.setColor(group, QPalette::WindowText, QColor(0xFF, 0, 0));
            pal.setColor(group, QPalette::ButtonText, QColor(0xFF, 0, 0));
        }
        inherit_box->setPalette(pal);
        layout->addWidget(inherit_box);
        connect(inherit_box, &QCheckBox::clicked, this, &CDsPropPage::OnInheritClicked);
    }
    layout_page = new QVBoxLayout;
    layout->addLayout(layout_page);
    layout->addStretch(1);
}

CDsPropPage::~CDsPropPage() = default;

void CDsPropPage::Create()
{
    if (created) {
        return;
    }
    created = true;
    OnInitDialog();
}

bool CDsPropPage::IsInherited() const
{
    return sheet != nullptr && sheet->IsInherited();
}

bool CDsPropPage::IsCtrlEnabled(int id) const
{
    if (!IsInherited()) {
        return true;
    }
    return id == 1094 || id == 1024 || id == IDC_INHERIT || id == -1;
}

void CDsPropPage::OnInitDialog()
{
    LoadData();
    if (inherit_box == nullptr) {
        return;
    }
    const KV_DsTreeNode* parent = sheet != nullptr ? sheet->GetParentNode() : nullptr;
    if (parent == nullptr) {
        inherit_box->hide();
        return;
    }
    // The box's own text is the format, as the template gives it.
    QString text = inherit_box->text();
    text.replace(QStringLiteral("%s"), kvprop::FromKv(parent->name()));
    inherit_box->setText(text);
}

void CDsPropPage::DoDataExchange(CDataExchange& dx)
{
    if (inherit_box != nullptr) {
        dx.Check(IDC_INHERIT, inherit);
    }
}

bool CDsPropPage::UpdateData(bool save)
{
    CDataExchange dx(*this, save);
    DoDataExchange(dx);
    return !dx.Failed();
}

void CDsPropPage::LoadData()
{
    inherit = IsInherited() ? 1 : 0;
    UpdateData(false);
    UpdateCtrls();
}

bool CDsPropPage::SaveData()
{
    return UpdateData(true);
}

bool CDsPropPage::OnApply()
{
    return OnOK();
}

bool CDsPropPage::OnOK()
{
    return SaveData();
}

void CDsPropPage::UpdateCtrls()
{
    UpdateCtrls(this);
}

void CDsPropPage::UpdateCtrls(QWidget* parent)
{
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w == nullptr || w->isWindow()) {
            continue;
        }
        bool numbered = false;
        const int id = w->objectName().toInt(&numbered);
        if (numbered) {
            // A control: its own inner widgets follow it.
            w->setEnabled(IsCtrlEnabled(id));
            continue;
        }
        w->setEnabled(IsCtrlEnabled(-1));
        UpdateCtrls(w);
    }
}

bool CDsPropPage::IsNodeRdonly(const KV_DsTreeNode* node)
{
    const CKivrelApp* app = CKivrelApp::Instance();
    const KV_FileManPool* pool = app != nullptr ? app->GetPool() : nullptr;
    return node != nullptr && pool != nullptr && pool->tree().rdonly(node->id(), false);
}

void CDsPropPage::SetHelpTopic(const QString& anchor)
{
    const QString file = sheet != nullptr ? sheet->GetSheetHelpTopic() : QString();
    if (file.isEmpty()) {
        return;
    }
    help_topic = file + anchor;
    CKivrelApp::SetHelpTopic(this, help_topic);
}

QString CDsPropPage::GetHelpTopic() const
{
    return help_topic;
}

void CDsPropPage::ShowCtrlError(const QString& text, int id)
{
    QWidget* ctrl = Item(id);
    if (ctrl == nullptr) {
        ShowErrorBox(text, this);
        return;
    }
    if (sheet != nullptr) {
        sheet->SetActivePage(this);
    }
    ShowErrorBox(text, this);
    ctrl->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(ctrl)) {
        edit->selectAll();
    }
}

void CDsPropPage::OnInheritClicked()
{
    if (!UpdateData(true) || sheet == nullptr || !sheet->SetInherit(inherit != 0)) {
        // Nothing changed: the box shows the state that holds.
        inherit = IsInherited() ? 1 : 0;
        if (inherit_box != nullptr) {
            inherit_box->setChecked(inherit != 0);
        }
    }
}
