#include "setup/dspropgrp.h"

#include "core/propvalues.h"
#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

template <class T> T* Named(T* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

const KV_DsTree* PoolTree()
{
    CKivrelApp* app = CKivrelApp::Instance();
    return app != nullptr && app->GetPool() != nullptr ? &app->GetPool()->tree() : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// CDsPropGrpMain

CDsPropGrpMain::CDsPropGrpMain(int template_id, KV_DsTreeNodeGrp* group, const KV_DsTree* tree)
    : CDsPropPage(template_id, QStringLiteral("Main"), true), group(group), tree(tree)
{
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Name:"), Named(new QLineEdit, IDC_NAME));
    auto* comment_edit = Named(new QPlainTextEdit, IDC_COMMENT);
    comment_edit->setMaximumHeight(70);
    comment_edit->setTabChangesFocus(true);
    form->addRow(QStringLiteral("Description:"), comment_edit);
    PageLayout()->addLayout(form);
}

void CDsPropGrpMain::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#main_folder"));
    CDsPropPage::OnInitDialog();
}

bool CDsPropGrpMain::IsCtrlEnabled(int id) const
{
    if (id != IDC_NAME) {
        return true;
    }
    const KV_DsTree* t = tree != nullptr ? tree : PoolTree();
    return t == nullptr || !t->rdonly(group->id(), false);
}

void CDsPropGrpMain::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Text(IDC_NAME, name);
    dx.Text(IDC_COMMENT, comment);
}

void CDsPropGrpMain::LoadData()
{
    name = kvprop::FromKv(group->name());
    comment = kvprop::FromKv(group->comment());
    CDsPropPage::LoadData();
}

bool CDsPropGrpMain::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    group->set_name(kvprop::ToKv(name));
    group->set_comment(kvprop::ToKv(comment));
    return true;
}

// ---------------------------------------------------------------------------
// CDsPropGrpProxyMain

CDsPropGrpProxyMain::CDsPropGrpProxyMain(int template_id, KV_DsTreeNodeGrp* group,
                                         KV_DsTreeNodeGrp* parent, const QStringList& types,
                                         const KV_DsTree* tree)
    : CDsPropGrpMain(template_id, group, tree), parent(parent)
{
    top_form = new QFormLayout;
    PageLayout()->addLayout(top_form);
    auto* box = new QGroupBox(QStringLiteral("Proxy"));
    proxy_form = new QFormLayout(box);
    auto* type_box = Named(new QComboBox, IDC_TYPE);
    type_box->addItems(types);
    proxy_form->addRow(QStringLiteral("Type:"), type_box);
    proxy_form->addRow(QStringLiteral("Server:"), Named(new QLineEdit, IDC_SERVER));
    proxy_form->addRow(QStringLiteral("Port:"), Named(new QLineEdit, IDC_PORT));
    proxy_form->addRow(QStringLiteral("User:"), Named(new QLineEdit, IDC_USER));
    auto* pass_edit = Named(new QLineEdit, IDC_PASS);
    pass_edit->setEchoMode(QLineEdit::Password);
    proxy_form->addRow(QStringLiteral("Password:"), pass_edit);
    PageLayout()->addWidget(box);
    PageLayout()->addStretch(1);
    connect(type_box, &QComboBox::activated, this, &CDsPropGrpProxyMain::OnTypeChanged);
}

KV_DsTreeNodeGrp* CDsPropGrpProxyMain::Target() const
{
    return IsInherited() && parent != nullptr ? parent : group;
}

int CDsPropGrpProxyMain::ProxyType() const
{
    return Item<QComboBox>(IDC_TYPE)->currentIndex();
}

bool CDsPropGrpProxyMain::IsCtrlEnabled(int id) const
{
    if (!CDsPropGrpMain::IsCtrlEnabled(id)) {
        return false;
    }
    const bool own = !IsInherited();
    switch (id) {
    case IDC_TYPE:
        return own;
    case IDC_SERVER:
    case IDC_PORT:
    case IDC_USER:
    case IDC_PASS:
        return own && type > 0;
    default:
        return true;
    }
}

void CDsPropGrpProxyMain::DoDataExchange(CDataExchange& dx)
{
    CDsPropGrpMain::DoDataExchange(dx);
    dx.ComboIndex(IDC_TYPE, type);
    dx.Text(IDC_SERVER, server);
    // Ports are 16 bits: anything larger is refused rather than wrapped.
    dx.UInt(IDC_PORT, port, 0, 65535);
    dx.Text(IDC_USER, user);
    dx.Text(IDC_PASS, pass);
}

void CDsPropGrpProxyMain::LoadData()
{
    server = kvprop::FromKv(Proxy().addr());
    port = Proxy().port();
    type = GetType();
    user = kvprop::FromKv(Login().user());
    pass = kvprop::FromKv(Login().pass());
    CDsPropGrpMain::LoadData();
}

bool CDsPropGrpProxyMain::SaveData()
{
    if (!CDsPropGrpMain::SaveData()) {
        return false;
    }
    // Disabled fields (type "None") keep and save what they hold.
    Proxy().set_addr(kvprop::ToKv(server));
    Proxy().set_port(port);
    SetType(type);
    Login().set_user(kvprop::ToKv(user));
    Login().set_pass(kvprop::ToKv(pass));
    return true;
}

void CDsPropGrpProxyMain::OnTypeChanged()
{
    type = ProxyType();
    UpdateCtrls();
}

// ---------------------------------------------------------------------------
// CDsPropGrpFtpMain

CDsPropGrpFtpMain::CDsPropGrpFtpMain(KV_DsTreeNodeGrpFtp* group, KV_DsTreeNodeGrpFtp* parent,
                                     const KV_DsTree* tree)
    : CDsPropGrpProxyMain(
          IDD, group, parent,
          {QStringLiteral("None"), QStringLiteral("HTTP"), QStringLiteral("SOCKS 4"),
           QStringLiteral("SOCKS 5"), QStringLiteral("SITE site"), QStringLiteral("OPEN site"),
           QStringLiteral("USER user@site:port"), QStringLiteral("USER user@site port")},
          tree)
{
    auto* anon = Named(new QLineEdit, IDC_ANON_PASS);
    TopForm()->addRow(QStringLiteral("Anonymous password:"), anon);
    // Under the port, as the template has it.
    auto* pasv = Named(new QCheckBox(QStringLiteral("PASV")), IDC_PASV);
    ProxyForm()->insertRow(3, pasv);
    // Both joined the page after the proxy box; Tab reads them in place.
    setTabOrder(Item<QPlainTextEdit>(IDC_COMMENT), anon);
    setTabOrder(Item<QLineEdit>(IDC_PORT), pasv);
}

KV_DsTreeNodeGrpFtp* CDsPropGrpFtpMain::FtpTarget() const
{
    return static_cast<KV_DsTreeNodeGrpFtp*>(Target());
}

KV_ProxyOpts& CDsPropGrpFtpMain::Proxy() const
{
    return FtpTarget()->proxy();
}

KV_LoginData& CDsPropGrpFtpMain::Login() const
{
    return FtpTarget()->proxy().ldata();
}

int CDsPropGrpFtpMain::GetType() const
{
    return FtpTarget()->proxy().type();
}

void CDsPropGrpFtpMain::SetType(int t) const
{
    if (t >= 0) {
        FtpTarget()->proxy().set_type(static_cast<KV_PROXY_FTP>(t));
    }
}

bool CDsPropGrpFtpMain::IsCtrlEnabled(int id) const
{
    if (id == IDC_ANON_PASS) {
        return !IsInherited();
    }
    if (id == IDC_PASV) {
        return !IsInherited() && type >= 2;
    }
    return CDsPropGrpProxyMain::IsCtrlEnabled(id);
}

void CDsPropGrpFtpMain::DoDataExchange(CDataExchange& dx)
{
    CDsPropGrpProxyMain::DoDataExchange(dx);
    dx.Text(IDC_ANON_PASS, anon_pass);
    dx.Check(IDC_PASV, pasv);
}

void CDsPropGrpFtpMain::LoadData()
{
    anon_pass = kvprop::FromKv(FtpTarget()->anonymous_pass());
    pasv = FtpTarget()->proxy().pasv() ? 1 : 0;
    CDsPropGrpProxyMain::LoadData();
}

bool CDsPropGrpFtpMain::SaveData()
{
    if (!CDsPropGrpProxyMain::SaveData()) {
        return false;
    }
    FtpTarget()->set_anonymous_pass(kvprop::ToKv(anon_pass));
    FtpTarget()->proxy().set_pasv(pasv != 0);
    return true;
}

void CDsPropGrpFtpMain::OnTypeChanged()
{
    auto* pasv_box = Item<QCheckBox>(IDC_PASV);
    if (!pasv_box->isChecked() && ProxyType() == KV_PROXY_FTP_CONNECT) {
        pasv_box->setChecked(true);
        pasv_box->show();
    }
    CDsPropGrpProxyMain::OnTypeChanged();
}

// ---------------------------------------------------------------------------
// CDsPropGrpHttpMain

CDsPropGrpHttpMain::CDsPropGrpHttpMain(KV_DsTreeNodeGrpHttp* group, KV_DsTreeNodeGrpHttp* parent,
                                       const KV_DsTree* tree)
    : CDsPropGrpProxyMain(IDD, group, parent,
                          {QStringLiteral("None"), QStringLiteral("Standard (using HTTP header)"),
                           // The double blank and the missing one are the
                           // item's text as users know it.
                           QStringLiteral("Tunnel (using  CONNECTcommand)"),
                           QStringLiteral("SOCKS 4"), QStringLiteral("SOCKS 5")},
                          tree)
{
}

KV_ProxyOpts& CDsPropGrpHttpMain::Proxy() const
{
    return static_cast<KV_DsTreeNodeGrpHttp*>(Target())->proxy();
}

KV_LoginData& CDsPropGrpHttpMain::Login() const
{
    return static_cast<KV_DsTreeNodeGrpHttp*>(Target())->proxy().ldata();
}

int CDsPropGrpHttpMain::GetType() const
{
    return static_cast<KV_DsTreeNodeGrpHttp*>(Target())->proxy().type();
}

void CDsPropGrpHttpMain::SetType(int t) const
{
    if (t >= 0) {
        static_cast<KV_DsTreeNodeGrpHttp*>(Target())->proxy().set_type(
            static_cast<KV_PROXY_HTTP>(t));
    }
}

// ---------------------------------------------------------------------------
// CDsPropGrpSftpMain

CDsPropGrpSftpMain::CDsPropGrpSftpMain(KV_DsTreeNodeGrpSftp* group, KV_DsTreeNodeGrpSftp* parent,
                                       const KV_DsTree* tree)
    : CDsPropGrpProxyMain(IDD, group, parent,
                          {QStringLiteral("None"), QStringLiteral("HTTP"),
                           QStringLiteral("SOCKS 4"), QStringLiteral("SOCKS 5")},
                          tree)
{
}

KV_ProxyOpts& CDsPropGrpSftpMain::Proxy() const
{
    return static_cast<KV_DsTreeNodeGrpSftp*>(Target())->proxy();
}

KV_LoginData& CDsPropGrpSftpMain::Login() const
{
    return static_cast<KV_DsTreeNodeGrpSftp*>(Target())->proxy().ldata();
}

int CDsPropGrpSftpMain::GetType() const
{
    return static_cast<KV_DsTreeNodeGrpSftp*>(Target())->proxy().type();
}

void CDsPropGrpSftpMain::SetType(int t) const
{
    if (t >= 0) {
        static_cast<KV_DsTreeNodeGrpSftp*>(Target())->proxy().set_type(
            static_cast<KV_PROXY_SSH>(t));
    }
}
