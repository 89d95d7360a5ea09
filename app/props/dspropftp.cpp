#include "props/dspropftp.h"

#include "core/propvalues.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanopts.h"
#include "datasources/kv_manopts.h"
#include "dialogs/dlgappinfo.h"
#include "props/propctrls.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <algorithm>

using kvprop::Check;
using kvprop::Edit;
using kvprop::FromKv;
using kvprop::Named;
using kvprop::Radio;
using kvprop::Static;
using kvprop::ToKv;

// ---------------------------------------------------------------------------
// CDsPropFtpMain

CDsPropFtpMain::CDsPropFtpMain(KV_DsTreeNodeFtp* node, bool editable)
    : CDsPropPage(52, QStringLiteral("Main"), false), node(node), editable(editable),
      name_rdonly(IsNodeRdonly(node))
{
    auto* form = new QFormLayout;
    PageLayout()->addLayout(form);
    form->addRow(QStringLiteral("Name:"), Edit(1094));
    form->addRow(QStringLiteral("Server:"), Edit(1156));
    form->addRow(QString(), Static(QStringLiteral("( e.g. ftp.example.com:21 )")));
    auto* sec = Named(new QComboBox, 1152);
    sec->addItems({"None", "Implicit SSL", "Explicit SSL ( AUTH )"});
    form->addRow(QStringLiteral("Security:"), sec);
    QFormLayout* login = kvprop::FormGroup(PageLayout(), QStringLiteral("Login"));
    login->addRow(QString(), Check(1006, QStringLiteral("Anonymous")));
    login->addRow(QStringLiteral("User:"), Edit(1195));
    login->addRow(QStringLiteral("Password:"), kvprop::PasswordEdit(1113));
    login->addRow(QStringLiteral("Account:"), Edit(1001));
    auto* form2 = new QFormLayout;
    PageLayout()->addLayout(form2);
    form2->addRow(QStringLiteral("Default dir.:"), Edit(1036));
    auto* type = Named(new QComboBox, 1163);
    type->addItems({"AUTODETECT", "Generic", "Netware", "UNIX", "VM", "VMS", "Windows NT"});
    form2->addRow(QStringLiteral("Server type:"), type);
    form2->addRow(QStringLiteral("Description:"), kvprop::MultiEdit(1024));
    connect(Item<QCheckBox>(1006), &QCheckBox::clicked, this, &CDsPropFtpMain::OnAnonymous);
}

bool CDsPropFtpMain::IsCtrlEnabled(int id) const
{
    switch (id) {
    case 1094:
        return editable && !name_rdonly;
    case 1156:
    case 1006:
        return editable;
    case 1195:
    case 1001:
        return editable && anonymous == 0;
    case 1113:
        return anonymous == 0;
    default:
        return true;
    }
}

void CDsPropFtpMain::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#main_ds"));
    CDsPropPage::OnInitDialog();
    UpdateData(true);
    UpdateCtrls();
    Item(1156)->setFocus(Qt::OtherFocusReason);
}

void CDsPropFtpMain::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Text(1094, name);
    dx.Text(1156, server);
    dx.ComboIndex(1152, security);
    dx.Text(1195, user);
    dx.Check(1006, anonymous);
    dx.Text(1113, pass);
    dx.Text(1001, acct);
    dx.Text(1036, def_path);
    dx.ComboIndex(1163, server_type);
    dx.Text(1024, comment);
}

void CDsPropFtpMain::LoadData()
{
    const KV_FileManParamsFtp& p = node->params_ftp();
    name = FromKv(node->name());
    server = FromKv(p.dst_addr());
    comment = FromKv(node->comment());
    security = static_cast<int>(p.security());
    server_type = static_cast<int>(p.server_type());
    anonymous = p.anonymous() ? 1 : 0;
    user = FromKv(p.ldata().user());
    acct = FromKv(p.ldata().acct());
    pass = FromKv(p.ldata().pass());
    def_path = FromKv(p.def_path());
    CDsPropPage::LoadData();
}

bool CDsPropFtpMain::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    KV_FileManParamsFtp& p = node->params_ftp();
    node->set_name(ToKv(name));
    node->set_comment(ToKv(comment));
    if (security >= 0 && security <= 2) {
        p.set_security(static_cast<KV_FTP_SECURE>(security));
    }
    if (server_type >= 0 && server_type <= 6) {
        p.set_server_type(static_cast<KV_FTP_SERV_TYPE>(server_type));
    }
    p.set_dst_addr(ToKv(server));
    p.set_anonymous(anonymous != 0);
    p.ldata().set_user(ToKv(user));
    p.ldata().set_acct(ToKv(acct));
    p.ldata().set_pass(ToKv(pass));
    p.set_def_path(ToKv(def_path), false);
    return true;
}

bool CDsPropFtpMain::OnApply()
{
    if (!UpdateData(true)) {
        return false;
    }
    if (server.trimmed().isEmpty()) {
        ShowCtrlError(QStringLiteral("Invalid server address specified."), 1156);
        return false;
    }
    if (anonymous == 0 && user.trimmed().isEmpty()) {
        ShowCtrlError(QStringLiteral("Missing login parameter(s)."), 1195);
        return false;
    }
    const QString folder = def_path.trimmed();
    if (!kvprop::IsValidDefPath(folder, node->params_ftp().opts().man_path().dir_sep())) {
        ShowCtrlError(QStringLiteral("Invalid path (%1).").arg(folder), 1036);
        return false;
    }
    return CDsPropPage::OnApply();
}

void CDsPropFtpMain::OnAnonymous()
{
    UpdateData(true);
    UpdateCtrls();
}

// ---------------------------------------------------------------------------
// CDsPropFtpAdv

CDsPropFtpAdv::CDsPropFtpAdv(KV_FileManFtpOpts* own, KV_FileManFtpOpts* parent)
    : CDsPropPage(50, QStringLiteral("Details"), true), own(own), parent(parent)
{
    auto* form = new QFormLayout;
    PageLayout()->addLayout(form);
    form->addRow(QStringLiteral("Number of connections:"), Edit(1100));
    form->addRow(QStringLiteral("Number of initially logged in sessions:"), Edit(1101));
    form->addRow(QStringLiteral("Number of cached scan requests (0 = unlimited):"), Edit(1150));
    QFormLayout* ka = kvprop::FormGroup(PageLayout(), QStringLiteral("Keep alive"));
    ka->addRow(QStringLiteral("Keep alive interval (secs, 0 = disabled):"), Edit(1076));
    auto* radios = new QHBoxLayout;
    radios->addWidget(Radio(1096, QStringLiteral("NOOP")));
    radios->addWidget(Radio(1132, QStringLiteral("PWD")));
    ka->addRow(QStringLiteral("FTP command used:"), radios);
    QFormLayout* frag = kvprop::FormGroup(PageLayout(), QStringLiteral("Multi-part download"));
    frag->addRow(QStringLiteral("Minimum part size (Kb, 0 = disabled):"), Edit(1089));
    PageLayout()->addWidget(Static(QStringLiteral(
        "Use ASCII transfer mode for the following file extensions (comma separated):")));
    PageLayout()->addWidget(kvprop::MultiEdit(1005));
    PageLayout()->addWidget(
        Static(QStringLiteral("Warning: Broaken ASCII transfers cannot be restarted at the end "
                              "position.")));
}

KV_FileManFtpOpts* CDsPropFtpAdv::Target() const
{
    return IsInherited() && parent != nullptr ? parent : own;
}

bool CDsPropFtpAdv::IsCtrlEnabled(int id) const
{
    if (!CDsPropPage::IsCtrlEnabled(id)) {
        return false;
    }
    // The stored REST setting decides, not the box on the protocol page:
    // the part size matters only when a broken download can be resumed.
    return id != 1089 || Target()->ftp().use_rest_get();
}

void CDsPropFtpAdv::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#details"));
    CDsPropPage::OnInitDialog();
}

void CDsPropFtpAdv::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.UInt(1100, ntavos, 1, 20);
    // The sessions are bounded by the connections typed above them.
    dx.UInt(1101, ntavos_conn, 0, ntavos);
    dx.UInt(1150, scan_cache, 0, 9999);
    dx.UInt(1076, ka_int, 0, 9999);
    dx.Radio({1096, 1132}, ka_cmd);
    dx.UInt(1089, min_frag, 0, 999999);
    dx.Text(1005, amode_exts);
}

void CDsPropFtpAdv::LoadData()
{
    const KV_FileManFtpOpts* t = Target();
    ntavos = t->ntavos();
    // Stored options may hold more sessions than connections (the file's
    // keys load one by one); the engine never runs more, and a page must
    // not refuse a value the user did not type.
    ntavos_conn = std::min(t->ntavos_conn(), t->ntavos());
    scan_cache = t->scan_cache();
    min_frag = kvprop::BytesToKb(t->min_frag_size());
    amode_exts = FromKv(t->ftp().amode_exts());
    ka_int = t->ftp().keep_alive_int();
    ka_cmd = kvprop::KeepAliveToRadio(t->ftp().keep_alive_cmd());
    CDsPropPage::LoadData();
}

bool CDsPropFtpAdv::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    KV_FileManFtpOpts* t = Target();
    t->set_ntavos(ntavos);
    t->set_ntavos_conn(ntavos_conn);
    t->set_scan_cache(scan_cache);
    t->set_min_frag_size(min_frag);
    t->ftp().set_amode_exts(ToKv(amode_exts));
    t->ftp().set_keep_alive_int(static_cast<uint16_t>(ka_int));
    if (ka_cmd == 0 || ka_cmd == 1) {
        t->ftp().set_keep_alive_cmd(static_cast<KV_FTP_KA_CMD>(ka_cmd));
    }
    return true;
}

// ---------------------------------------------------------------------------
// CDsPropFtpDet

CDsPropFtpDet::CDsPropFtpDet(KV_FtpManOpts* own, KV_FtpManOpts* parent)
    : CDsPropPage(51, QStringLiteral("FTP protocol"), true), own(own), parent(parent)
{
    auto* conn = new QGroupBox(QStringLiteral("Data connection establishment"));
    auto* conn_l = new QVBoxLayout(conn);
    conn_l->addWidget(Radio(1065, QStringLiteral("Automatic")));
    conn_l->addWidget(Radio(1067, QStringLiteral("Passive (PASV command)")));
    conn_l->addWidget(
        Radio(1066, QStringLiteral("Normal (PORT command; for non-proxy connections only)")));
    PageLayout()->addWidget(conn);
    auto* row = new QHBoxLayout;
    auto* col = new QVBoxLayout;
    row->addLayout(col);
    QFormLayout* tm = kvprop::FormGroup(col, QStringLiteral("Timeout settings (secs.)"));
    tm->addRow(QStringLiteral("Command response:"), Edit(1181));
    tm->addRow(QStringLiteral("Transfer begin:"), Edit(1185));
    tm->addRow(QStringLiteral("Transfer ack.:"), Edit(1184));
    tm->addRow(QStringLiteral("Welcome message:"), Edit(1186));
    QFormLayout* buf = kvprop::FormGroup(col, QStringLiteral("Buffer sizes (bytes)"));
    buf->addRow(QStringLiteral("SEND buffer:"), Edit(1015));
    buf->addRow(QStringLiteral("RECV buffer:"), Edit(1014));
    auto* col2 = new QVBoxLayout;
    row->addLayout(col2);
    QFormLayout* dt = kvprop::FormGroup(col2, QStringLiteral("Direct server-to-server transfers"));
    QCheckBox* dtrans_box = Check(1041, QStringLiteral("ON ( third state: locally only ) "));
    dtrans_box->setTristate(true);
    dt->addRow(dtrans_box);
    QFormLayout* list = kvprop::FormGroup(col2, QStringLiteral("LIST"));
    list->addRow(Check(1079, QStringLiteral("All files (-a)")));
    list->addRow(Check(1082, QStringLiteral("Resolve links (-L)")));
    list->addRow(Check(1083, QStringLiteral("Unreliable file sizes")));
    QFormLayout* down = kvprop::FormGroup(col2, QStringLiteral("Broken downloads"));
    down->addRow(Check(1193, QStringLiteral("Use RESTORE")));
    QFormLayout* up = kvprop::FormGroup(col2, QStringLiteral("Broken uploads"));
    up->addRow(Check(1194, QStringLiteral("Use RESTORE")));
    up->addRow(Check(1192, QStringLiteral("Use APPEND")));
    PageLayout()->addLayout(row);
    for (int id : {1065, 1066, 1067}) {
        connect(Item<QRadioButton>(id), &QRadioButton::clicked, this, &CDsPropFtpDet::OnConnMode);
    }
    connect(Item<QCheckBox>(1083), &QCheckBox::clicked, this, &CDsPropFtpDet::OnUnreliable);
}

KV_FtpManOpts* CDsPropFtpDet::Target() const
{
    return IsInherited() && parent != nullptr ? parent : own;
}

void CDsPropFtpDet::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#protocol"));
    CDsPropPage::OnInitDialog();
}

void CDsPropFtpDet::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Radio({1065, 1067, 1066}, conn_mode);
    dx.UInt(1181, tm_cmd, 1, 3600);
    dx.UInt(1185, tm_beg, 1, 3600);
    dx.UInt(1184, tm_ack, 1, 3600);
    dx.UInt(1186, tm_welcome, 0, 3600);
    dx.UInt(1015, buff_send, 256, 65536);
    dx.UInt(1014, buff_recv, 256, 65536);
    dx.Check(1041, dtrans);
    dx.Check(1079, list_all);
    dx.Check(1082, list_links);
    dx.Check(1083, sz_unrel);
    dx.Check(1193, rest_get);
    dx.Check(1194, rest_put);
    dx.Check(1192, use_append);
}

void CDsPropFtpDet::LoadData()
{
    const KV_FtpManOpts* t = Target();
    conn_mode = kvprop::ConnModeToRadio(t->conn_mode());
    tm_cmd = kvprop::MsToSeconds(t->tmout_cmd_resp());
    tm_beg = kvprop::MsToSeconds(t->tmout_trans_beg());
    tm_ack = kvprop::MsToSeconds(t->tmout_trans_ack());
    tm_welcome = kvprop::MsToSeconds(t->tmout_welcome());
    buff_send = t->buff_send();
    buff_recv = t->buff_recv();
    dtrans = static_cast<int>(t->dtrans());
    list_all = (t->list_flags() & 1) != 0 ? 1 : 0;
    list_links = (t->list_flags() & 2) != 0 ? 1 : 0;
    sz_unrel = t->sz_unrel() ? 1 : 0;
    use_append = t->use_append() ? 1 : 0;
    rest_get = t->use_rest_get() ? 1 : 0;
    rest_put = t->use_rest_put() ? 1 : 0;
    CDsPropPage::LoadData();
}

bool CDsPropFtpDet::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    KV_FtpManOpts* t = Target();
    const uint32_t mode = kvprop::RadioToConnMode(conn_mode);
    if (mode != 0) {
        t->set_conn_mode(static_cast<KV_FTP_CONN_MODE>(mode));
    }
    t->set_tmout_cmd_resp(tm_cmd);
    t->set_tmout_trans_beg(tm_beg);
    t->set_tmout_trans_ack(tm_ack);
    t->set_tmout_welcome(tm_welcome);
    t->set_buff_send(buff_send);
    t->set_buff_recv(buff_recv);
    t->set_dtrans(static_cast<KV_FTP_DTRANS>(dtrans));
    t->set_sz_unrel(sz_unrel != 0);
    t->set_use_append(use_append != 0);
    t->set_use_rest_get(rest_get != 0);
    t->set_use_rest_put(rest_put != 0);
    t->set_list_flags(kvprop::ListFlags(list_all != 0, list_links != 0));
    return true;
}

void CDsPropFtpDet::OnConnMode()
{
    UpdateData(true);
    UpdateCtrls();
}

void CDsPropFtpDet::OnUnreliable()
{
    UpdateData(true);
    if (sz_unrel != 0) {
        CDlgAppInfo::Info(QStringLiteral("UnreliableSize"), 120, this);
    }
}
