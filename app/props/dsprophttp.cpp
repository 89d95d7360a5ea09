#include "props/dsprophttp.h"

#include "core/propvalues.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanopts.h"
#include "dialogs/checkcombo.h"
#include "props/propctrls.h"
#include "shell/kivrelapp.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

using kvprop::Check;
using kvprop::Edit;
using kvprop::FromKv;
using kvprop::Named;
using kvprop::Radio;
using kvprop::Static;
using kvprop::ToKv;

// ---------------------------------------------------------------------------
// CDsPropHttpMain

CDsPropHttpMain::CDsPropHttpMain(KV_DsTreeNodeHttp* node, bool editable)
    : CDsPropPage(61, QStringLiteral("Main"), false), node(node), editable(editable),
      name_rdonly(IsNodeRdonly(node))
{
    auto* form = new QFormLayout;
    PageLayout()->addLayout(form);
    form->addRow(QStringLiteral("Name:"), Edit(1094));
    form->addRow(QStringLiteral("Server:"), Edit(1156));
    form->addRow(QString(), Static(QStringLiteral("( e.g. www.example.com:80 )")));
    auto* sec = Named(new QComboBox, 1152);
    sec->addItems({"None", "SSL"});
    form->addRow(QStringLiteral("Security:"), sec);
    QFormLayout* login = kvprop::FormGroup(PageLayout(), QStringLiteral("Authorization"));
    login->addRow(Check(1010, QStringLiteral("On/Off")));
    auto* methods = Named(new CCheckComboBox, 1009);
    methods->addItems(kvprop::HttpMethods());
    login->addRow(QStringLiteral("Methods:"), methods);
    login->addRow(QStringLiteral("User:"), Edit(1195));
    login->addRow(QStringLiteral("Password:"), kvprop::PasswordEdit(1113));
    auto* form2 = new QFormLayout;
    PageLayout()->addLayout(form2);
    form2->addRow(QStringLiteral("Default dir.:"), Edit(1036));
    form2->addRow(QStringLiteral("Description:"), kvprop::MultiEdit(1024));
    connect(Item<QCheckBox>(1010), &QCheckBox::clicked, this, &CDsPropHttpMain::OnAuth);
    connect(methods, &QComboBox::currentIndexChanged, this, &CDsPropHttpMain::OnMethods);
}

int CDsPropHttpMain::CheckedMethods() const
{
    return Item<CCheckComboBox>(1009)->GetCheckedCount();
}

bool CDsPropHttpMain::IsCtrlEnabled(int id) const
{
    switch (id) {
    case 1094:
        return editable && !name_rdonly;
    case 1156:
    case 1010:
        return editable;
    case 1009:
        return auth != 0;
    case 1195:
        return editable && auth != 0 && CheckedMethods() > 0;
    case 1113:
        return auth != 0 && CheckedMethods() > 0;
    default:
        return true;
    }
}

void CDsPropHttpMain::CheckAllIfNone()
{
    if (auth != 0 && CheckedMethods() == 0) {
        Item<CCheckComboBox>(1009)->SetCheckAll(true);
    }
}

void CDsPropHttpMain::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#main_ds"));
    CDsPropPage::OnInitDialog();
    CheckAllIfNone();
    UpdateCtrls();
    Item(1156)->setFocus(Qt::OtherFocusReason);
}

void CDsPropHttpMain::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Text(1094, name);
    dx.Text(1156, server);
    dx.ComboIndex(1152, security);
    dx.Check(1010, auth);
    dx.Text(1195, user);
    dx.Text(1113, pass);
    dx.Text(1036, def_path);
    dx.Text(1024, comment);
}

void CDsPropHttpMain::LoadData()
{
    const KV_FileManParamsHttp& p = node->params_http();
    name = FromKv(node->name());
    server = FromKv(p.dst_addr());
    comment = FromKv(node->comment());
    security = p.security() <= 1 ? static_cast<int>(p.security()) : -1;
    user = FromKv(p.ldata().user());
    pass = FromKv(p.ldata().pass());
    auth = p.ldata().auth() ? 1 : 0;
    auto* methods = Item<CCheckComboBox>(1009);
    {
        const QSignalBlocker quiet(methods);
        for (int i = 0; i < methods->count(); ++i) {
            methods->SetCheck(i, kvprop::MethodChecked(p.ldata().auth_cmds(), i));
        }
    }
    def_path = FromKv(p.def_path());
    CDsPropPage::LoadData();
}

bool CDsPropHttpMain::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    KV_FileManParamsHttp& p = node->params_http();
    node->set_name(ToKv(name));
    node->set_comment(ToKv(comment));
    if (security == 0 || security == 1) {
        p.set_security(static_cast<uint32_t>(security));
    }
    p.set_dst_addr(ToKv(server));
    p.ldata().set_user(ToKv(user));
    p.ldata().set_pass(ToKv(pass));
    p.ldata().set_auth(auth != 0);
    const auto* methods = Item<CCheckComboBox>(1009);
    std::vector<bool> checked;
    for (int i = 0; i < methods->count(); ++i) {
        checked.push_back(methods->GetCheck(i));
    }
    p.ldata().set_auth_cmds(kvprop::MethodMask(checked));
    p.set_def_path(ToKv(def_path), false);
    return true;
}

bool CDsPropHttpMain::OnApply()
{
    if (!UpdateData(true)) {
        return false;
    }
    if (server.trimmed().isEmpty()) {
        ShowCtrlError(QStringLiteral("Invalid server address specified."), 1156);
        return false;
    }
    if (auth != 0 && CheckedMethods() > 0 && user.trimmed().isEmpty()) {
        ShowCtrlError(QStringLiteral("Missing login parameter(s)."), 1195);
        return false;
    }
    const QString folder = def_path.trimmed();
    if (!kvprop::IsValidDefPath(folder, node->params_http().opts().man_path().dir_sep())) {
        ShowCtrlError(QStringLiteral("Invalid path (%1).").arg(folder), 1036);
        return false;
    }
    return CDsPropPage::OnApply();
}

void CDsPropHttpMain::OnAuth()
{
    UpdateData(true);
    CheckAllIfNone();
    UpdateCtrls();
}

void CDsPropHttpMain::OnMethods()
{
    // Unchecking the last method switches authorisation off: a login sent
    // for no request is no login.
    if (auth != 0 && CheckedMethods() == 0) {
        auth = 0;
        UpdateData(false);
    }
    UpdateCtrls();
}

// ---------------------------------------------------------------------------
// CDsPropHttpDoc

CDsPropHttpDoc::CDsPropHttpDoc(KV_DsTreeNodeHttp* node)
    : CDsPropPage(60, QStringLiteral("Documents"), false), node(node)
{
    PageLayout()->addWidget(Static(QStringLiteral("Registered documents:")));
    auto* grid = new QGridLayout;
    auto* list = Named(new QListWidget, 1043);
    list->setSortingEnabled(true);
    grid->addWidget(list, 0, 0, 4, 1);
    grid->addWidget(Named(new QPushButton(QStringLiteral("&Add")), 1002), 0, 1);
    grid->addWidget(Named(new QPushButton(QStringLiteral("&Set")), 1091), 1, 1);
    grid->addWidget(Named(new QPushButton(QStringLiteral("&Remove")), 1037), 2, 1);
    grid->addWidget(Named(new QPushButton(QStringLiteral("Remove &all")), 1038), 3, 1);
    grid->addWidget(Edit(1042), 4, 0);
    PageLayout()->addLayout(grid);
    PageLayout()->addWidget(
        Static(QStringLiteral("Definitions ending with a \"/\" will be treated as directories. "
                              "Empty directories are expected to be DAV-compliant.\n"
                              "To define an empty non DAV-compliant directory, use \".\" as a "
                              "file name (e.g. \"/nodav/.\")")));
    PageLayout()->addWidget(
        Check(1190, QStringLiteral("Automatically update the list (non DAV dirs. only ).")));
    connect(Item<QPushButton>(1002), &QPushButton::clicked, this, &CDsPropHttpDoc::OnAdd);
    connect(Item<QPushButton>(1091), &QPushButton::clicked, this, &CDsPropHttpDoc::OnSet);
    connect(Item<QPushButton>(1037), &QPushButton::clicked, this, &CDsPropHttpDoc::OnRemove);
    connect(Item<QPushButton>(1038), &QPushButton::clicked, this, &CDsPropHttpDoc::OnRemoveAll);
    connect(list, &QListWidget::itemSelectionChanged, this, &CDsPropHttpDoc::OnSelChange);
    connect(Item<QLineEdit>(1042), &QLineEdit::textChanged, this, [this] { UpdateCtrls(); });
}

bool CDsPropHttpDoc::InList(const QString& text) const
{
    const auto* list = Item<QListWidget>(1043);
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text() == text) {
            return true;
        }
    }
    return false;
}

bool CDsPropHttpDoc::IsCtrlEnabled(int id) const
{
    const auto* list = Item<QListWidget>(1043);
    const bool selected = list->currentItem() != nullptr && list->currentItem()->isSelected();
    const QString typed = Item<QLineEdit>(1042)->text().trimmed();
    switch (id) {
    case 1002:
        return !typed.isEmpty() && !InList(typed);
    case 1091:
        return selected && !typed.isEmpty() && !InList(typed);
    case 1037:
        return selected;
    case 1038:
        return list->count() > 0;
    default:
        return true;
    }
}

void CDsPropHttpDoc::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#documents"));
    CDsPropPage::OnInitDialog();
}

void CDsPropHttpDoc::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Text(1042, path);
    dx.Check(1190, update_docs);
}

void CDsPropHttpDoc::LoadData()
{
    path.clear();
    update_docs = node->params_http().update_docs() ? 1 : 0;
    auto* list = Item<QListWidget>(1043);
    {
        const QSignalBlocker quiet(list);
        list->clear();
        KVTL::KV_ListVal<KV_String> docs;
        node->params_http().get_docs(docs);
        for (uint32_t i = 0; i < docs.size(); ++i) {
            list->addItem(FromKv(docs.at(i)));
        }
    }
    CDsPropPage::LoadData();
}

bool CDsPropHttpDoc::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    const auto* list = Item<QListWidget>(1043);
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->item(i)->text();
    }
    node->params_http().set_docs(ToKv(kvprop::JoinDocs(items)));
    node->params_http().set_update_docs(update_docs != 0);
    return true;
}

bool CDsPropHttpDoc::CheckPath(QString& text)
{
    text = path.trimmed();
    switch (kvprop::CheckDocPath(text)) {
    case kvprop::DocCheck::ok:
        return true;
    case kvprop::DocCheck::invalid:
        ShowErrorBox(QStringLiteral("Invalid HTTP document/directory specified. ( valid paths "
                                    "begin with a '/' )"),
                     this);
        return false;
    case kvprop::DocCheck::empty:
        break;
    }
    return false;
}

void CDsPropHttpDoc::OnAdd()
{
    UpdateData(true);
    QString text;
    if (CheckPath(text) && !InList(text)) {
        auto* list = Item<QListWidget>(1043);
        auto* item = new QListWidgetItem(text);
        list->addItem(item);
        list->setCurrentItem(item);
    }
    UpdateCtrls();
}

void CDsPropHttpDoc::OnSet()
{
    auto* list = Item<QListWidget>(1043);
    QListWidgetItem* sel = list->currentItem();
    if (sel == nullptr || !sel->isSelected()) {
        return;
    }
    UpdateData(true);
    QString text;
    if (CheckPath(text)) {
        const QString old = sel->text();
        delete list->takeItem(list->row(sel));
        // A text already listed brings the old item back: Set never loses
        // a path by merging it into another.
        auto* item = new QListWidgetItem(InList(text) ? old : text);
        list->addItem(item);
        list->setCurrentItem(item);
    }
    UpdateCtrls();
}

void CDsPropHttpDoc::OnRemove()
{
    auto* list = Item<QListWidget>(1043);
    QListWidgetItem* sel = list->currentItem();
    if (sel == nullptr || !sel->isSelected()) {
        return;
    }
    {
        const QSignalBlocker quiet(list);
        delete list->takeItem(list->row(sel));
        list->setCurrentItem(nullptr);
    }
    path.clear();
    Item<QLineEdit>(1042)->clear();
    UpdateCtrls();
}

void CDsPropHttpDoc::OnRemoveAll()
{
    auto* list = Item<QListWidget>(1043);
    if (list->count() == 0) {
        return;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"),
                    QStringLiteral("Are you sure you want to remove all registered paths ?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() == QMessageBox::Yes) {
        {
            const QSignalBlocker quiet(list);
            list->clear();
        }
        path.clear();
        Item<QLineEdit>(1042)->clear();
    }
    UpdateCtrls();
}

void CDsPropHttpDoc::OnSelChange()
{
    const QListWidgetItem* sel = Item<QListWidget>(1043)->currentItem();
    if (sel != nullptr && sel->isSelected()) {
        path = sel->text();
        Item<QLineEdit>(1042)->setText(path);
    }
    UpdateCtrls();
}

// ---------------------------------------------------------------------------
// CDsPropHttpAdv

CDsPropHttpAdv::CDsPropHttpAdv(KV_FileManHttpOpts* own, KV_FileManHttpOpts* parent)
    : CDsPropPage(59, QStringLiteral("Details"), true), own(own), parent(parent)
{
    auto* form = new QFormLayout;
    PageLayout()->addLayout(form);
    form->addRow(QStringLiteral("Number of connections:"), Edit(1100));
    form->addRow(QStringLiteral("Number of cached scan requests (0 = unlimited):"), Edit(1150));
    form->addRow(QStringLiteral("Minimum part size (Kb, 0 = disabled):"), Edit(1089));
    auto* row = new QHBoxLayout;
    auto* col = new QVBoxLayout;
    row->addLayout(col);
    QFormLayout* broken = kvprop::FormGroup(col, QStringLiteral("Broken transfers"));
    broken->addRow(Check(1145, QStringLiteral("Resume downloads")));
    broken->addRow(Check(1146, QStringLiteral("Resume uploads")));
    QFormLayout* tm = kvprop::FormGroup(col, QStringLiteral("Timeout settings (secs.)"));
    tm->addRow(QStringLiteral("Header response:"), Edit(1182));
    QFormLayout* buf = kvprop::FormGroup(col, QStringLiteral("Buffer sizes (bytes)"));
    buf->addRow(QStringLiteral("SEND buffer:"), Edit(1015));
    buf->addRow(QStringLiteral("RECV buffer:"), Edit(1014));
    auto* col2 = new QVBoxLayout;
    row->addLayout(col2);
    QFormLayout* ver = kvprop::FormGroup(col2, QStringLiteral("HTTP version"));
    ver->addRow(Radio(1125, QStringLiteral("1.0")));
    ver->addRow(Radio(1126, QStringLiteral("1.1")));
    ver->addRow(Check(1121, QStringLiteral("Persistent connections.")));
    col2->addWidget(Check(1011, QStringLiteral("The server creates subdirectories automatically\n"
                                               "( non DAV directories only ).")));
    PageLayout()->addLayout(row);
    for (int id : {1125, 1126}) {
        connect(Item<QRadioButton>(id), &QRadioButton::clicked, this, &CDsPropHttpAdv::OnVersion);
    }
}

KV_FileManHttpOpts* CDsPropHttpAdv::Target() const
{
    return IsInherited() && parent != nullptr ? parent : own;
}

void CDsPropHttpAdv::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#details"));
    CDsPropPage::OnInitDialog();
}

void CDsPropHttpAdv::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.UInt(1100, ntavos, 1, 20);
    dx.UInt(1150, scan_cache, 0, 9999);
    dx.UInt(1089, min_frag, 0, 999999);
    dx.Check(1145, resume_get);
    dx.Check(1146, resume_put);
    dx.UInt(1182, tm_hdr, 1, 3600);
    dx.UInt(1015, buff_send, 256, 65536);
    dx.UInt(1014, buff_recv, 256, 65536);
    dx.Radio({1125, 1126}, version);
    dx.Check(1121, persistent);
    dx.Check(1011, auto_mkdir);
}

void CDsPropHttpAdv::LoadData()
{
    const KV_FileManHttpOpts* t = Target();
    const KV_HttpManOpts& h = t->http();
    min_frag = kvprop::BytesToKb(t->min_frag_size());
    ntavos = t->ntavos();
    scan_cache = t->scan_cache();
    tm_hdr = kvprop::MsToSeconds(h.tmout_hdr_resp());
    buff_send = h.buff_send();
    buff_recv = h.buff_recv();
    resume_get = h.can_resume_get() ? 1 : 0;
    resume_put = h.can_resume_put() ? 1 : 0;
    persistent = h.persistent() ? 1 : 0;
    auto_mkdir = t->auto_mkdir() ? 1 : 0;
    version = kvprop::VersionToRadio(h.version());
    CDsPropPage::LoadData();
}

bool CDsPropHttpAdv::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    KV_FileManHttpOpts* t = Target();
    KV_HttpManOpts& h = t->http();
    t->set_ntavos(ntavos);
    t->set_scan_cache(scan_cache);
    t->set_min_frag_size(min_frag);
    h.set_tmout_hdr_resp(tm_hdr);
    h.set_buff_send(buff_send);
    h.set_buff_recv(buff_recv);
    h.set_can_resume_get(resume_get != 0);
    h.set_can_resume_put(resume_put != 0);
    h.set_persistent(persistent != 0);
    t->set_auto_mkdir(auto_mkdir != 0);
    if (version == 0 || version == 1) {
        h.set_version(kvprop::RadioToVersion(version));
    }
    return true;
}

void CDsPropHttpAdv::OnVersion()
{
    UpdateData(true);
    // HTTP/1.0 knows no persistent connections.
    Item(1121)->setEnabled(version > 0);
}
