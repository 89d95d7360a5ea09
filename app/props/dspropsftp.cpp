#include "props/dspropsftp.h"

#include "core/propvalues.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanopts.h"
#include "dialogs/checkcombo.h"
#include "props/propctrls.h"

#include <QHBoxLayout>

using kvprop::Check;
using kvprop::Edit;
using kvprop::FromKv;
using kvprop::Named;
using kvprop::Static;
using kvprop::ToKv;

// ---------------------------------------------------------------------------
// CDsPropSftpMain

CDsPropSftpMain::CDsPropSftpMain(KV_DsTreeNodeSftp* node, bool editable)
    : CDsPropPage(64, QStringLiteral("Main"), false), node(node), editable(editable),
      name_rdonly(IsNodeRdonly(node))
{
    auto* form = new QFormLayout;
    PageLayout()->addLayout(form);
    form->addRow(QStringLiteral("Name:"), Edit(1094));
    form->addRow(QStringLiteral("Server:"), Edit(1156));
    form->addRow(QString(), Static(QStringLiteral("( e.g. sftp.example.com:22 )")));
    QFormLayout* login = kvprop::FormGroup(PageLayout(), QStringLiteral("Authorization"));
    login->addRow(QStringLiteral("User:"), Edit(1195));
    login->addRow(QStringLiteral("Password:"), kvprop::PasswordEdit(1113));
    auto* form2 = new QFormLayout;
    PageLayout()->addLayout(form2);
    form2->addRow(QStringLiteral("Default dir.:"), Edit(1036));
    form2->addRow(QStringLiteral("Description:"), kvprop::MultiEdit(1024));
}

bool CDsPropSftpMain::IsCtrlEnabled(int id) const
{
    switch (id) {
    case 1094:
        return editable && !name_rdonly;
    case 1156:
    case 1195:
        return editable;
    default:
        return true;
    }
}

void CDsPropSftpMain::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#main_ds"));
    CDsPropPage::OnInitDialog();
    Item(1156)->setFocus(Qt::OtherFocusReason);
}

void CDsPropSftpMain::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Text(1094, name);
    dx.Text(1156, server);
    dx.Text(1195, user);
    dx.Text(1113, pass);
    dx.Text(1036, def_path);
    dx.Text(1024, comment);
}

void CDsPropSftpMain::LoadData()
{
    const KV_FileManParamsSftp& p = node->params_sftp();
    name = FromKv(node->name());
    server = FromKv(p.dst_addr());
    comment = FromKv(node->comment());
    user = FromKv(p.ldata().user());
    pass = FromKv(p.ldata().pass());
    def_path = FromKv(p.def_path());
    CDsPropPage::LoadData();
}

bool CDsPropSftpMain::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    KV_FileManParamsSftp& p = node->params_sftp();
    node->set_name(ToKv(name));
    node->set_comment(ToKv(comment));
    p.set_dst_addr(ToKv(server));
    p.ldata().set_user(ToKv(user));
    p.ldata().set_pass(ToKv(pass));
    p.set_def_path(ToKv(def_path), false);
    return true;
}

bool CDsPropSftpMain::OnApply()
{
    if (!UpdateData(true)) {
        return false;
    }
    if (server.trimmed().isEmpty()) {
        ShowCtrlError(QStringLiteral("Invalid server address specified."), 1156);
        return false;
    }
    if (user.trimmed().isEmpty()) {
        ShowCtrlError(QStringLiteral("Missing login parameter(s)."), 1195);
        return false;
    }
    const QString folder = def_path.trimmed();
    if (!kvprop::IsValidDefPath(folder, node->params_sftp().opts().man_path().dir_sep())) {
        ShowCtrlError(QStringLiteral("Invalid path (%1).").arg(folder), 1036);
        return false;
    }
    return CDsPropPage::OnApply();
}

// ---------------------------------------------------------------------------
// CDsPropSftpAdv

CDsPropSftpAdv::CDsPropSftpAdv(KV_FileManSftpOpts* own, KV_FileManSftpOpts* parent)
    : CDsPropPage(63, QStringLiteral("Details"), true), own(own), parent(parent)
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
    tm->addRow(QStringLiteral("Message resp.:"), Edit(1183));
    QFormLayout* buf = kvprop::FormGroup(col, QStringLiteral("Buffer sizes (bytes)"));
    buf->addRow(QStringLiteral("SEND buffer:"), Edit(1015));
    buf->addRow(QStringLiteral("RECV buffer:"), Edit(1014));
    auto* col2 = new QVBoxLayout;
    row->addLayout(col2);
    QFormLayout* ciph = kvprop::FormGroup(col2, QStringLiteral("Ciphers / Compression"));
    ciph->addRow(Named(new CCheckComboBox, 1020));
    ciph->addRow(Check(1025, QStringLiteral("Compress ( zlib )")));
    QFormLayout* aggr = kvprop::FormGroup(col2, QStringLiteral("Aggressive transfer"));
    aggr->addRow(Check(1003, QStringLiteral("read")));
    aggr->addRow(Check(1004, QStringLiteral("write")));
    PageLayout()->addLayout(row);
}

KV_FileManSftpOpts* CDsPropSftpAdv::Target() const
{
    return IsInherited() && parent != nullptr ? parent : own;
}

void CDsPropSftpAdv::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#details"));
    CDsPropPage::OnInitDialog();
}

void CDsPropSftpAdv::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.UInt(1100, ntavos, 1, 20);
    dx.UInt(1150, scan_cache, 0, 9999);
    dx.UInt(1089, min_frag, 0, 999999);
    dx.Check(1145, resume_get);
    dx.Check(1146, resume_put);
    dx.UInt(1183, tm_msg, 1, 3600);
    dx.UInt(1015, buff_send, 256, 65536);
    dx.UInt(1014, buff_recv, 256, 65536);
    dx.Check(1025, compress);
    dx.Check(1003, aggr_read);
    dx.Check(1004, aggr_write);
}

void CDsPropSftpAdv::LoadData()
{
    const KV_FileManSftpOpts* t = Target();
    const KV_SftpManOpts& s = t->sftp();
    min_frag = kvprop::BytesToKb(t->min_frag_size());
    ntavos = t->ntavos();
    scan_cache = t->scan_cache();
    tm_msg = kvprop::MsToSeconds(s.tmout_msg_resp());
    buff_send = s.buff_send();
    buff_recv = s.buff_recv();
    resume_get = s.can_resume_get() ? 1 : 0;
    resume_put = s.can_resume_put() ? 1 : 0;
    compress = s.compress() ? 1 : 0;
    aggr_read = s.aggressive_read() ? 1 : 0;
    aggr_write = s.aggressive_write() ? 1 : 0;
    auto* box = Item<CCheckComboBox>(1020);
    {
        const QSignalBlocker quiet(box);
        box->clear();
        for (const kvprop::CipherCheck& c : kvprop::CipherChecks(s.ciphers())) {
            box->addItem(c.name);
            box->SetCheck(box->count() - 1, c.allowed);
        }
    }
    CDsPropPage::LoadData();
}

bool CDsPropSftpAdv::SaveData()
{
    if (!CDsPropPage::SaveData()) {
        return false;
    }
    KV_FileManSftpOpts* t = Target();
    KV_SftpManOpts& s = t->sftp();
    t->set_ntavos(ntavos);
    t->set_scan_cache(scan_cache);
    t->set_min_frag_size(min_frag);
    s.set_tmout_msg_resp(tm_msg);
    s.set_buff_send(buff_send);
    s.set_buff_recv(buff_recv);
    s.set_can_resume_get(resume_get != 0);
    s.set_can_resume_put(resume_put != 0);
    s.set_compress(compress != 0);
    s.set_aggressive_read(aggr_read != 0);
    s.set_aggressive_write(aggr_write != 0);
    const auto* box = Item<CCheckComboBox>(1020);
    std::vector<kvprop::CipherCheck> checks;
    for (int i = 0; i < box->count(); ++i) {
        checks.push_back({box->itemText(i), box->GetCheck(i)});
    }
    s.set_ciphers(kvprop::DisabledCiphers(checks));
    return true;
}

bool CDsPropSftpAdv::OnApply()
{
    if (!UpdateData(true)) {
        return false;
    }
    if (Item<CCheckComboBox>(1020)->GetCheckedCount() == 0) {
        ShowCtrlError(QStringLiteral("No ciphers selected."), 1020);
        return false;
    }
    return CDsPropPage::OnApply();
}
