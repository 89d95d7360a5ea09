#include "setup/dspropgrpds.h"

#include "core/propvalues.h"
#include "core/rootopts.h"
#include "core/settings.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_file.h"
#include "net/kv_sslcertman.h"
#include "net/kv_sslctx.h"
#include "net/kv_sslsess.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "setup/dlgtrust.h"
#include "shell/kivrelapp.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

template <class T> T* Named(T* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

const QString kUI = QStringLiteral("UI");
const QString kInit = QStringLiteral("Init");

// A refused path, through the engine root's informer, which the program
// shows in its error box.
void ReportInvalidPath(const QString& path, QWidget* owner)
{
    KV_String text;
    text.format("An invalid path specified (%s).", path.toUtf8().constData());
    CKivrelApp* app = CKivrelApp::Instance();
    if (app != nullptr && app->GetPool() != nullptr) {
        app->GetPool()->eh().set_err(2, text);
    } else {
        ShowErrorBox(kvprop::FromKv(text), owner);
    }
}

bool PathExists(const QString& path)
{
    return !path.isEmpty() && KV_File::exists(kvprop::ToKv(path));
}

// A path with its "..." button.
QHBoxLayout* PathRow(int edit_id, int button_id)
{
    auto* row = new QHBoxLayout;
    row->addWidget(Named(new QLineEdit, edit_id), 1);
    auto* button = Named(new QPushButton(QStringLiteral("...")), button_id);
    const QIcon icon = kvres::LoadIcon(100);
    if (!icon.isNull()) {
        button->setIcon(icon);
        button->setText(QString());
    }
    row->addWidget(button);
    return row;
}

// The pass phrase as the settings keep it: scrambled, as hex text.
QString Unscramble(const QString& stored)
{
    return kvprop::FromKv(kvprop::ToKv(stored).decrypt_bf(KV_SSLCtx::bf_key));
}

QString Scramble(const QString& plain)
{
    return kvprop::FromKv(kvprop::ToKv(plain).encrypt_bf(KV_SSLCtx::bf_key));
}

struct UiSwitch
{
    int id;
    const char* key;
    int def;
    const char* label;
};

const UiSwitch kSwitches[9] = {
    {CDsPropGrpDsMain::IDC_AUTO_UPDATE, "AutoUpdate", 1, "Automatically search for updates"},
    {CDsPropGrpDsMain::IDC_BROWSER_INT, "BrowserInt", 1, "Browser integration"},
    {CDsPropGrpDsMain::IDC_START_TIPS, "StartTips", 1, "Show tips at startup"},
    {CDsPropGrpDsMain::IDC_REQ_RESUME, "ReqResume", 1,
     "Show the list with incomplete requests at startup"},
    {CDsPropGrpDsMain::IDC_REQ_INFO_CLOSE, "ReqInfoClose", 1,
     "Automatically close the request info window"},
    {CDsPropGrpDsMain::IDC_DS_DBLCLCK_NEW, "DsDblclckNew", 1,
     "Double clicking on a data source icon creates new instance(s)"},
    {CDsPropGrpDsMain::IDC_DS_AUTOSEL, "DsAutosel", 0,
     "Automatically select the active data source"},
    {CDsPropGrpDsMain::IDC_QUICK_CONN_TMP, "QuickConnTmp", 0,
     "Preset the \"Temporary data source\" in the \"Quick Connect\" dialog"},
    {CDsPropGrpDsMain::IDC_SOUNDS, "Sounds", 1, "Sounds"},
};

const double kMaxSpeed = 999999.0;

// A speed in KB/s: shown in the C locale, checked against 0..999999 on save.
void Speed(CDataExchange& dx, CDsPropPage& page, int id, double& value)
{
    auto* edit = page.Item<QLineEdit>(id);
    if (dx.Failed() || edit == nullptr) {
        return;
    }
    if (!dx.IsSaving()) {
        edit->setText(QLocale::c().toString(value, 'g', 12));
        return;
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(edit->text().trimmed(), &ok);
    if (!ok || v < 0 || v > kMaxSpeed) {
        dx.Fail(id, QStringLiteral("Please enter a number between 0 and 999999."));
        return;
    }
    value = v;
}

} // namespace

// ---------------------------------------------------------------------------
// CDsPropGrpDsMain

CDsPropGrpDsMain::CDsPropGrpDsMain(KV_FileTransManOpts* opts)
    : CDsPropPage(IDD, QStringLiteral("Main"), false), opts(opts)
{
    for (int bit = 0; bit < 3; ++bit) {
        rm[bit] = AutoRmState(opts->auto_rm_req(), opts->auto_rm_req_st(), bit);
    }
    for (int i = 0; i < 9; ++i) {
        const int v = GetProfileInt(kUI, QString::fromLatin1(kSwitches[i].key), kSwitches[i].def);
        checks[i] = kSwitches[i].id == IDC_START_TIPS ? (v > 0 ? 1 : 0) : (v != 0 ? 1 : 0);
    }

    auto* rm_box =
        new QGroupBox(QStringLiteral("Automatically remove from the transfer request list:"));
    auto* rm_layout = new QVBoxLayout(rm_box);
    const std::pair<int, const char*> kinds[] = {{IDC_RM_COMPLETED, "Completed requests"},
                                                 {IDC_RM_ERRONEOUS, "Errorneus requests"},
                                                 {IDC_RM_CANCELLED, "Cancelled requests"}};
    for (const auto& [id, label] : kinds) {
        auto* box = Named(new QCheckBox(QString::fromLatin1(label)), id);
        box->setTristate(true);
        rm_layout->addWidget(box);
    }
    auto* note = new QLabel(QStringLiteral("Requests can be optionally removed during the next "
                                           "application startup (third state of a checkbox)."));
    note->setWordWrap(true);
    rm_layout->addWidget(note);
    PageLayout()->addWidget(rm_box);
    for (const UiSwitch& s : kSwitches) {
        PageLayout()->addWidget(Named(new QCheckBox(QString::fromLatin1(s.label)), s.id));
    }
    PageLayout()->addStretch(1);
}

void CDsPropGrpDsMain::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#main"));
    CDsPropPage::OnInitDialog();
}

void CDsPropGrpDsMain::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Check(IDC_RM_COMPLETED, rm[0]);
    dx.Check(IDC_RM_ERRONEOUS, rm[1]);
    dx.Check(IDC_RM_CANCELLED, rm[2]);
    for (int i = 0; i < 9; ++i) {
        dx.Check(kSwitches[i].id, checks[i]);
    }
}

bool CDsPropGrpDsMain::OnOK()
{
    if (!UpdateData(true)) {
        return false;
    }
    uint8_t now = 0;
    uint8_t at_start = 0;
    AutoRmMasks(rm, now, at_start);
    opts->set_auto_rm_req(now);
    opts->set_auto_rm_req_st(at_start);
    for (int i = 0; i < 9; ++i) {
        const QString key = QString::fromLatin1(kSwitches[i].key);
        if (kSwitches[i].id != IDC_START_TIPS) {
            WriteProfileInt(kUI, key, checks[i] != 0 ? 1 : 0);
            continue;
        }
        constexpr int kNone = 0x7FFFFFFF;
        std::optional<int32_t> stored;
        if (checks[i] != 0) {
            const int v = GetProfileInt(kUI, key, kNone);
            if (v != kNone) {
                stored = v;
            }
        } else {
            stored = GetProfileInt(kUI, key, 0);
        }
        if (const std::optional<int32_t> v = StartTipsToWrite(checks[i] != 0, stored)) {
            WriteProfileInt(kUI, key, *v);
        }
    }
    CKivrelApp::SetBrowserInt();
    return true;
}

// ---------------------------------------------------------------------------
// CDsPropGrpDsAdv

CDsPropGrpDsAdv::CDsPropGrpDsAdv(KV_FileTransManOpts* opts)
    : CDsPropPage(IDD, QStringLiteral("Details"), false), opts(opts)
{
    ntavos = opts->ntavos();
    nretries = opts->nretries();
    nfretries = opts->nfretries();
    ntmpfiles = opts->ntmpfiles();
    down = KV_FileTransManOpts::bwt_speed_in();
    up = KV_FileTransManOpts::bwt_speed_out();
    temp = GetProfileString(kInit, QStringLiteral("Temp"));
    editor = GetProfileString(kInit, QStringLiteral("DefEd"));

    auto* counts = new QFormLayout;
    counts->addRow(QStringLiteral("Number of simultaneously processed transactions:"),
                   Named(new QLineEdit, IDC_NTAVOS));
    counts->addRow(QStringLiteral("Number of retries (0 = always retry):"),
                   Named(new QLineEdit, IDC_NRETRIES));
    counts->addRow(QStringLiteral("Number of retries for a particular operation (0 = always "
                                  "retry):"),
                   Named(new QLineEdit, IDC_NFRETRIES));
    counts->addRow(QStringLiteral("Number of temporary files per transfer (0 = unlimited):"),
                   Named(new QLineEdit, IDC_NTMPFILES));
    PageLayout()->addLayout(counts);
    auto* bwt = new QGroupBox(QStringLiteral("Bandwith throttle ( 0 = no limit )"));
    auto* bwt_form = new QFormLayout(bwt);
    bwt_form->addRow(QStringLiteral("Download (KB/s):"), Named(new QLineEdit, IDC_DOWN));
    bwt_form->addRow(QStringLiteral("Upload (KB/s):"), Named(new QLineEdit, IDC_UP));
    PageLayout()->addWidget(bwt);
    auto* temp_box = new QGroupBox(QStringLiteral("Directory for temporary transfer files:"));
    temp_box->setLayout(PathRow(IDC_TEMP, IDC_TEMP_BROWSE));
    PageLayout()->addWidget(temp_box);
    auto* editor_box = new QGroupBox(QStringLiteral("Default editor"));
    editor_box->setLayout(PathRow(IDC_EDITOR, IDC_EDITOR_BROWSE));
    PageLayout()->addWidget(editor_box);
    PageLayout()->addStretch(1);
    connect(Item<QPushButton>(IDC_TEMP_BROWSE), &QPushButton::clicked, this,
            &CDsPropGrpDsAdv::OnBrowseTemp);
    connect(Item<QPushButton>(IDC_EDITOR_BROWSE), &QPushButton::clicked, this,
            &CDsPropGrpDsAdv::OnBrowseEditor);
}

void CDsPropGrpDsAdv::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#details"));
    CDsPropPage::OnInitDialog();
}

void CDsPropGrpDsAdv::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    // The other pages bound the workers to 1..20; so does this one.
    dx.UInt(IDC_NTAVOS, ntavos, 1, 20);
    dx.UInt(IDC_NRETRIES, nretries, 0, UINT32_MAX);
    dx.UInt(IDC_NFRETRIES, nfretries, 0, UINT32_MAX);
    dx.UInt(IDC_NTMPFILES, ntmpfiles, 0, UINT32_MAX);
    Speed(dx, *this, IDC_DOWN, down);
    Speed(dx, *this, IDC_UP, up);
    dx.Text(IDC_TEMP, temp);
    dx.Text(IDC_EDITOR, editor);
}

void CDsPropGrpDsAdv::OnBrowseTemp()
{
    const QString dir = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Please select a folder for temporary files."));
    if (!dir.isEmpty()) {
        Item<QLineEdit>(IDC_TEMP)->setText(dir);
    }
}

void CDsPropGrpDsAdv::OnBrowseEditor()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QString(), Item<QLineEdit>(IDC_EDITOR)->text());
    if (!path.isEmpty()) {
        Item<QLineEdit>(IDC_EDITOR)->setText(path);
    }
}

void CDsPropGrpDsAdv::ShowNote(const QString& text)
{
    QMessageBox::information(this, QStringLiteral("Kivrel"), text);
}

bool CDsPropGrpDsAdv::OnOK()
{
    if (!UpdateData(true)) {
        return false;
    }
    opts->set_ntavos(ntavos);
    opts->set_nretries(nretries);
    opts->set_nfretries(nfretries);
    opts->set_ntmpfiles(ntmpfiles);
    KV_FileTransManOpts::set_bwt_speed_in(down);
    KV_FileTransManOpts::set_bwt_speed_out(up);
    if (PathExists(temp)) {
        const QString old = GetProfileString(kInit, QStringLiteral("Temp"));
        WriteProfileString(kInit, QStringLiteral("Temp"), temp);
        if (old != temp) {
            ShowNote(QStringLiteral(
                "The application must be restarted to use the new path for temporary files."));
        }
    } else {
        ReportInvalidPath(temp, this);
    }
    if (!editor.isEmpty() && !PathExists(editor)) {
        ReportInvalidPath(editor, this);
    } else {
        WriteProfileString(kInit, QStringLiteral("DefEd"), editor);
    }
    return true;
}

// ---------------------------------------------------------------------------
// CDsPropGrpDsSecurity

CDsPropGrpDsSecurity::CDsPropGrpDsSecurity(KV_FileTransManOpts* opts)
    : CDsPropPage(IDD, QStringLiteral("Security (SSL/SSH)"), false), opts(opts)
{
    ciphers = GetProfileString(kInit, QStringLiteral("SSLCiphers"));
    key_pass = Unscramble(GetProfileString(kInit, QStringLiteral("SSLKeypass")));
    cas = GetProfileString(kInit, QStringLiteral("SSLCas"));
    key = GetProfileString(kInit, QStringLiteral("SSLKey"));
    trexpl_ftps = KV_FileTransManOpts::trexpl_ftps() ? 1 : 0;
    trexpl_https = KV_FileTransManOpts::trexpl_https() ? 1 : 0;

    auto* own = new QGroupBox(QStringLiteral("Own certificate and private key"));
    auto* own_layout = new QVBoxLayout(own);
    own_layout->addLayout(PathRow(IDC_KEY, IDC_KEY_BROWSE));
    auto* pass_form = new QFormLayout;
    auto* pass_edit = Named(new QLineEdit, IDC_KEY_PASS);
    pass_edit->setEchoMode(QLineEdit::Password);
    pass_form->addRow(QStringLiteral("Private key password:"), pass_edit);
    own_layout->addLayout(pass_form);
    PageLayout()->addWidget(own);
    auto* cas_box = new QGroupBox(QStringLiteral("Trusted certification authorities"));
    cas_box->setLayout(PathRow(IDC_CAS, IDC_CAS_BROWSE));
    PageLayout()->addWidget(cas_box);
    auto* tls = new QGroupBox(QStringLiteral("FTPS/HTTPS"));
    auto* tls_layout = new QVBoxLayout(tls);
    tls_layout->addWidget(Named(new QCheckBox(QStringLiteral("Trust a FTPS certificate only if it "
                                                             "is listed in the local database:")),
                                IDC_TREXPL_FTPS));
    tls_layout->addWidget(Named(new QCheckBox(QStringLiteral("Trust a HTTPS certificate only if it "
                                                             "is listed in the local database:")),
                                IDC_TREXPL_HTTPS));
    tls_layout->addWidget(Named(new QPushButton(QStringLiteral("Trusted certificates")), IDC_CERTS),
                          0, Qt::AlignLeft);
    PageLayout()->addWidget(tls);
    auto* ssh = new QHBoxLayout;
    ssh->addWidget(new QLabel(QStringLiteral("SFTP (SSH) trusted server public keys:")));
    ssh->addWidget(Named(new QPushButton(QStringLiteral("Trusted public keys")), IDC_KEYS));
    ssh->addStretch(1);
    PageLayout()->addLayout(ssh);
    PageLayout()->addStretch(1);

    connect(Item<QPushButton>(IDC_KEY_BROWSE), &QPushButton::clicked, this,
            [this] { OnBrowse(IDC_KEY); });
    connect(Item<QPushButton>(IDC_CAS_BROWSE), &QPushButton::clicked, this,
            [this] { OnBrowse(IDC_CAS); });
    connect(Item<QPushButton>(IDC_CERTS), &QPushButton::clicked, this,
            [this] { RunTrustDialog(true); });
    connect(Item<QPushButton>(IDC_KEYS), &QPushButton::clicked, this,
            [this] { RunTrustDialog(false); });
}

void CDsPropGrpDsSecurity::OnInitDialog()
{
    SetHelpTopic(QStringLiteral("#security"));
    CDsPropPage::OnInitDialog();
}

void CDsPropGrpDsSecurity::DoDataExchange(CDataExchange& dx)
{
    CDsPropPage::DoDataExchange(dx);
    dx.Text(IDC_KEY, key);
    dx.Text(IDC_KEY_PASS, key_pass);
    dx.Text(IDC_CAS, cas);
    dx.Check(IDC_TREXPL_FTPS, trexpl_ftps);
    dx.Check(IDC_TREXPL_HTTPS, trexpl_https);
}

void CDsPropGrpDsSecurity::OnBrowse(int id)
{
    auto* edit = Item<QLineEdit>(id);
    const QString path = QFileDialog::getSaveFileName(this, QString(), edit->text());
    if (!path.isEmpty()) {
        edit->setText(path);
    }
}

void CDsPropGrpDsSecurity::RunTrustDialog(bool certs)
{
    if (certs) {
        CDlgTrust dlg(CDlgTrust::IDD_CERTS, KV_SSLSess::man_cert, QStringLiteral("Common name"),
                      QStringLiteral("Issuer"), this);
        dlg.exec();
    } else {
        CDlgTrust dlg(CDlgTrust::IDD_KEYS, KV_SshSess::man_key(), QStringLiteral("Fingerprint"),
                      QString(), this);
        dlg.exec();
    }
}

void CDsPropGrpDsSecurity::ShowNote(const QString& text)
{
    QMessageBox::information(this, QStringLiteral("Kivrel"), text);
}

bool CDsPropGrpDsSecurity::OnOK()
{
    if (!UpdateData(true)) {
        return false;
    }
    KV_FileTransManOpts::set_trexpl_ftps(trexpl_ftps != 0);
    KV_FileTransManOpts::set_trexpl_https(trexpl_https != 0);
    bool changed = false;
    const auto write_path = [&changed](const QString& name, const QString& value) {
        const QString old = GetProfileString(kInit, name);
        WriteProfileString(kInit, name, value);
        changed = changed || old != value;
    };
    if (PathExists(cas)) {
        write_path(QStringLiteral("SSLCas"), cas);
    } else {
        ReportInvalidPath(cas, this);
    }
    if (key.isEmpty() || PathExists(key)) {
        write_path(QStringLiteral("SSLKey"), key);
    } else {
        ReportInvalidPath(key, this);
    }
    const QString stored_pass = Unscramble(GetProfileString(kInit, QStringLiteral("SSLKeypass")));
    changed = changed || stored_pass != key_pass;
    WriteProfileString(kInit, QStringLiteral("SSLKeypass"), Scramble(key_pass.trimmed()));
    changed = changed || GetProfileString(kInit, QStringLiteral("SSLCiphers")) != ciphers;
    WriteProfileString(kInit, QStringLiteral("SSLCiphers"), ciphers);
    if (changed) {
        ShowNote(QStringLiteral("The application must be restarted to use the new security "
                                "settings."));
    }
    return true;
}
