#include "setup/wizconn.h"

#include "core/connsetup.h"
#include "core/propvalues.h"
#include "res/resources.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

template <class T> T* Named(T* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

template <class T = QWidget> T* Child(const QWidget* page, int id)
{
    return page->findChild<T*>(QString::number(id));
}

QString Q(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

KV_String K(const QString& s)
{
    return KV_String(s.toUtf8().constData());
}

KV_String Text(const QWidget* page, int id)
{
    return K(Child<QLineEdit>(page, id)->text());
}

} // namespace

// ---------------------------------------------------------------------------
// CWizConnSrv

CWizConnSrv::CWizConnSrv(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QString::number(IDD));
    setTitle(QStringLiteral("Connection setup: destination server"));
    setSubTitle(QStringLiteral("Type the address of the server and choose its protocol."));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Server address:")));
    layout->addWidget(Named(new QLineEdit, IDC_ADDR));
    auto* group = new QButtonGroup(this);
    auto* protocols = new QHBoxLayout;
    const char* const names[] = {"FTP", "FTPS", "HTTP", "HTTPS", "SFTP"};
    for (int i = 0; i < kConnProtocols; ++i) {
        auto* radio = Named(new QRadioButton(QString::fromLatin1(names[i])), IDC_FTP + i);
        group->addButton(radio, i);
        protocols->addWidget(radio);
    }
    protocols->addStretch(1);
    layout->addWidget(new QLabel(QStringLiteral("Protocol:")));
    layout->addLayout(protocols);
    auto* port_row = new QFormLayout;
    auto* port = Named(new QLineEdit(QStringLiteral("21")), IDC_PORT);
    port->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), port));
    port_row->addRow(QStringLiteral("Port number:"), port);
    layout->addLayout(port_row);
    layout->addStretch(1);
    Child<QRadioButton>(this, IDC_FTP)->setChecked(true);

    connect(Child<QLineEdit>(this, IDC_ADDR), &QLineEdit::textChanged, this,
            &CWizConnSrv::OnAddrChanged);
    connect(group, &QButtonGroup::idClicked, this, &CWizConnSrv::OnProtocolClicked);
    connect(port, &QLineEdit::textChanged, this, &CWizConnSrv::OnPortChanged);
}

int CWizConnSrv::Protocol() const
{
    for (int i = 0; i < kConnProtocols; ++i) {
        if (Child<QRadioButton>(this, IDC_FTP + i)->isChecked()) {
            return i;
        }
    }
    return 0;
}

void CWizConnSrv::SetProtocol(int protocol)
{
    Child<QRadioButton>(this, IDC_FTP + protocol)->setChecked(true);
}

void CWizConnSrv::SetText(int id, const KV_String& text)
{
    auto* edit = Child<QLineEdit>(this, id);
    const QString q = Q(text);
    if (edit->text() != q) {
        edit->setText(q);
    }
}

void CWizConnSrv::OnAddrChanged()
{
    emit completeChanged();
    if (updating) {
        return;
    }
    updating = true;
    int protocol = Protocol();
    KV_String port = Text(this, IDC_PORT);
    ConnAddressChanged(Text(this, IDC_ADDR), protocol, port);
    SetProtocol(protocol);
    SetText(IDC_PORT, port);
    updating = false;
}

void CWizConnSrv::OnProtocolClicked(int protocol)
{
    updating = true;
    KV_String addr = Text(this, IDC_ADDR);
    KV_String port = Text(this, IDC_PORT);
    ConnProtocolChosen(protocol, addr, port);
    SetText(IDC_ADDR, addr);
    SetText(IDC_PORT, port);
    updating = false;
}

void CWizConnSrv::OnPortChanged()
{
    if (updating) {
        return;
    }
    updating = true;
    KV_String addr = Text(this, IDC_ADDR);
    ConnPortChanged(Text(this, IDC_PORT), addr);
    SetText(IDC_ADDR, addr);
    updating = false;
}

KV_String CWizConnSrv::GetUri() const
{
    return ConnUri(Text(this, IDC_ADDR), Protocol(), Text(this, IDC_PORT));
}

bool CWizConnSrv::isComplete() const
{
    return !Child<QLineEdit>(this, IDC_ADDR)->text().isEmpty();
}

bool CWizConnSrv::validatePage()
{
    auto* port = Child<QLineEdit>(this, IDC_PORT);
    uint32_t value = 0;
    const kvprop::NumCheck check = kvprop::CheckUInt(port->text(), 1, 65535, value);
    if (check == kvprop::NumCheck::ok) {
        return true;
    }
    if (auto* wiz = qobject_cast<CWizConn*>(wizard())) {
        wiz->ShowRangeError(kvprop::NumCheckMessage(check, 1, 65535), port);
    }
    return false;
}

// ---------------------------------------------------------------------------
// CWizConnLogin

CWizConnLogin::CWizConnLogin(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QString::number(IDD));
    setTitle(QStringLiteral("Connection setup: login parameters"));
    setSubTitle(QStringLiteral("Type the user name and password the server knows you by."));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("User:"), Named(new QLineEdit, IDC_USER));
    auto* pass = Named(new QLineEdit, IDC_PASS);
    pass->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Password:"), pass);
    form->addRow(Named(new QCheckBox(QStringLiteral("Anonymous login ( the user \"Anonymous\" will "
                                                    "be used in the login sequence).")),
                       IDC_ANONYMOUS));
    connect(Child<QCheckBox>(this, IDC_ANONYMOUS), &QCheckBox::clicked, this,
            &CWizConnLogin::OnAnonymousClicked);
    connect(Child<QLineEdit>(this, IDC_USER), &QLineEdit::textChanged, this,
            &QWizardPage::completeChanged);
    connect(pass, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
}

KV_String CWizConnLogin::Scheme() const
{
    const auto* wiz = qobject_cast<const CWizConn*>(wizard());
    return wiz ? SplitUri(wiz->GetUri()).scheme.upper() : KV_String();
}

void CWizConnLogin::initializePage()
{
    const KV_String scheme = Scheme();
    const bool applies = scheme == "FTP" || scheme == "FTPS";
    auto* anon = Child<QCheckBox>(this, IDC_ANONYMOUS);
    // A box ticked for an FTP server before the user went back and chose
    // another protocol must not carry an anonymous login over to it.
    if (!applies) {
        anon->setChecked(false);
    }
    anon->setVisible(applies);
    OnAnonymousClicked();
}

void CWizConnLogin::OnAnonymousClicked()
{
    const bool login = !Child<QCheckBox>(this, IDC_ANONYMOUS)->isChecked();
    Child(this, IDC_USER)->setEnabled(login);
    Child(this, IDC_PASS)->setEnabled(login);
    emit completeChanged();
}

bool CWizConnLogin::isComplete() const
{
    const KV_String scheme = Scheme();
    return Child<QCheckBox>(this, IDC_ANONYMOUS)->isChecked() || scheme == "HTTP" ||
           scheme == "HTTPS" || !Child<QLineEdit>(this, IDC_USER)->text().isEmpty();
}

// ---------------------------------------------------------------------------
// CWizConnDs

CWizConnDs::CWizConnDs(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QString::number(IDD));
    setTitle(QStringLiteral("Connection setup: data source"));
    setSubTitle(QStringLiteral("Name the new data source and describe it briefly."));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Name:")));
    layout->addWidget(Named(new QLineEdit, IDC_NAME));
    layout->addWidget(new QLabel(QStringLiteral("Description:")));
    auto* comment = Named(new QPlainTextEdit, IDC_COMMENT);
    comment->setTabChangesFocus(true);
    layout->addWidget(comment, 1);
    connect(Child<QLineEdit>(this, IDC_NAME), &QLineEdit::textChanged, this,
            &QWizardPage::completeChanged);
}

void CWizConnDs::initializePage()
{
    auto* name = Child<QLineEdit>(this, IDC_NAME);
    const auto* wiz = qobject_cast<const CWizConn*>(wizard());
    if (name->text().isEmpty() && wiz != nullptr) {
        name->setText(Q(SplitUri(wiz->GetUri()).host));
    }
}

bool CWizConnDs::isComplete() const
{
    return !Child<QLineEdit>(this, IDC_NAME)->text().isEmpty();
}

// ---------------------------------------------------------------------------
// CWizConn

CWizConn::CWizConn(QWidget* parent)
    : QWizard(parent), srv(new CWizConnSrv), login(new CWizConnLogin), ds(new CWizConnDs)
{
    setWindowTitle(QString());
    setWindowIcon(kvres::LoadIcon(101));
    setWizardStyle(QWizard::ClassicStyle);
    setPage(kPageSrv, srv);
    setPage(kPageLogin, login);
    setPage(kPageDs, ds);
    setStartId(kPageSrv);
}

void CWizConn::ShowRangeError(const QString& text, QWidget* field)
{
    QMessageBox::warning(this, QStringLiteral("Kivrel"), text);
    field->setFocus();
}

KV_String CWizConn::GetUser() const
{
    return Text(login, CWizConnLogin::IDC_USER);
}

KV_String CWizConn::GetPass() const
{
    return Text(login, CWizConnLogin::IDC_PASS);
}

bool CWizConn::IsAnonymous() const
{
    return Child<QCheckBox>(login, CWizConnLogin::IDC_ANONYMOUS)->isChecked();
}

KV_String CWizConn::GetName() const
{
    return Text(ds, CWizConnDs::IDC_NAME);
}

KV_String CWizConn::GetComment() const
{
    return K(Child<QPlainTextEdit>(ds, CWizConnDs::IDC_COMMENT)->toPlainText());
}
