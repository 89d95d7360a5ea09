#include "setup/wiznet.h"

#include "res/resources.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
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

QLineEdit* DigitsEdit(int id, const QString& text)
{
    auto* edit = Named(new QLineEdit(text), id);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    return edit;
}

// A speed as typed, in the C locale whatever the user's; false when the text
// is no number.
bool ParseSpeed(const QString& text, double& value)
{
    bool ok = false;
    value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok;
}

const double kMaxSpeed = 999999.0;

} // namespace

// ---------------------------------------------------------------------------
// CWizNetMain

CWizNetMain::CWizNetMain(bool firewall, QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QString::number(IDD));
    setTitle(QStringLiteral("Network setup"));
    setSubTitle(QStringLiteral("How does this computer reach the Internet?"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QButtonGroup(this);
    auto* direct = Named(new QRadioButton(QStringLiteral("Direct connection")), IDC_DIRECT);
    auto* proxy = Named(new QRadioButton(QStringLiteral("Through a firewall")), IDC_FIREWALL);
    group->addButton(direct, 0);
    group->addButton(proxy, 1);
    layout->addWidget(direct);
    layout->addWidget(proxy);
    layout->addStretch(1);
    (firewall ? proxy : direct)->setChecked(true);
}

int CWizNetMain::Kind() const
{
    return Child<QRadioButton>(this, IDC_FIREWALL)->isChecked() ? 1 : 0;
}

int CWizNetMain::nextId() const
{
    // A direct connection has no proxy to ask about; going back from the
    // bandwidth page returns here by the same road.
    return Kind() == 0 ? CWizNet::kPageBwt : CWizNet::kPageSrv;
}

// ---------------------------------------------------------------------------
// CWizNetSrv

CWizNetSrv::CWizNetSrv(const CSysProxy& sys, QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QString::number(IDD));
    setTitle(QStringLiteral("Network setup: proxy server"));
    setSubTitle(QStringLiteral("Type the address of the proxy server and choose its protocol."));
    auto* form = new QFormLayout(this);
    auto* addr = Named(new QLineEdit(Q(sys.addr)), IDC_ADDR);
    form->addRow(QStringLiteral("Address:"), addr);
    auto* protocol = Named(new QComboBox, IDC_PROTOCOL);
    protocol->addItems(
        {QStringLiteral("HTTP"), QStringLiteral("SOCKS4"), QStringLiteral("SOCKS5")});
    protocol->setCurrentIndex(sys.protocol);
    form->addRow(QStringLiteral("Protocol:"), protocol);
    const QString port = sys.port.empty() ? QStringLiteral("8080") : Q(sys.port);
    form->addRow(QStringLiteral("Port number:"), DigitsEdit(IDC_PORT, port));

    connect(addr, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
    connect(protocol, &QComboBox::activated, this, &CWizNetSrv::OnProtocolChanged);
}

void CWizNetSrv::OnProtocolChanged(int protocol)
{
    Child<QLineEdit>(this, IDC_PORT)->setText(QString::number(NetProxyDefaultPort(protocol)));
}

bool CWizNetSrv::isComplete() const
{
    return !Child<QLineEdit>(this, IDC_ADDR)->text().isEmpty();
}

bool CWizNetSrv::validatePage()
{
    auto* port = Child<QLineEdit>(this, IDC_PORT);
    uint16_t value = 0;
    if (port->text().trimmed().isEmpty() || ParseProxyPort(K(port->text()), value)) {
        return true;
    }
    if (auto* wiz = qobject_cast<CWizNet*>(wizard())) {
        wiz->ShowRangeError(QStringLiteral("Please enter a number between 0 and 65535."), port);
    }
    return false;
}

// ---------------------------------------------------------------------------
// CWizNetLogin

CWizNetLogin::CWizNetLogin(const CSysProxy& sys, QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QString::number(IDD));
    setTitle(QStringLiteral("Network setup: proxy login parameters"));
    setSubTitle(QStringLiteral("Leave both empty when the proxy asks for no login."));
    auto* form = new QFormLayout(this);
    auto* user = Named(new QLineEdit(Q(sys.user)), IDC_USER);
    auto* pass = Named(new QLineEdit(Q(sys.pass)), IDC_PASS);
    pass->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("User:"), user);
    form->addRow(QStringLiteral("Password:"), pass);
    connect(user, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
    connect(pass, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
}

bool CWizNetLogin::isComplete() const
{
    return !(Child<QLineEdit>(this, IDC_USER)->text().isEmpty() &&
             !Child<QLineEdit>(this, IDC_PASS)->text().isEmpty());
}

// ---------------------------------------------------------------------------
// CWizNetBwt

CWizNetBwt::CWizNetBwt(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QString::number(IDD));
    setTitle(QStringLiteral("Network setup: bandwidth throttle"));
    setSubTitle(QStringLiteral("Kivrel can keep its transfers below a speed you choose."));
    auto* layout = new QVBoxLayout(this);
    auto* limit =
        Named(new QCheckBox(QStringLiteral("Yes, I want to limit the transfer speed:")), IDC_LIMIT);
    layout->addWidget(limit);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Download (KB/s):"),
                 Named(new QLineEdit(QStringLiteral("0")), IDC_DOWN));
    form->addRow(QStringLiteral("Upload (KB/s):"),
                 Named(new QLineEdit(QStringLiteral("0")), IDC_UP));
    layout->addLayout(form);
    layout->addStretch(1);
    connect(limit, &QCheckBox::clicked, this, &CWizNetBwt::OnLimitClicked);
    OnLimitClicked();
}

void CWizNetBwt::initializePage()
{
    OnLimitClicked();
}

void CWizNetBwt::OnLimitClicked()
{
    const bool on = Child<QCheckBox>(this, IDC_LIMIT)->isChecked();
    Child(this, IDC_DOWN)->setEnabled(on);
    Child(this, IDC_UP)->setEnabled(on);
}

bool CWizNetBwt::validatePage()
{
    if (!Child<QCheckBox>(this, IDC_LIMIT)->isChecked()) {
        return true;
    }
    for (int id : {IDC_DOWN, IDC_UP}) {
        auto* edit = Child<QLineEdit>(this, id);
        double value = 0;
        if (!ParseSpeed(edit->text(), value) || value < 0 || value > kMaxSpeed) {
            if (auto* wiz = qobject_cast<CWizNet*>(wizard())) {
                wiz->ShowRangeError(QStringLiteral("Please enter a number between 0 and 999999."),
                                    edit);
            }
            return false;
        }
    }
    return true;
}

double CWizNetBwt::Down() const
{
    double v = 0;
    return ParseSpeed(Child<QLineEdit>(this, IDC_DOWN)->text(), v) ? v : 0.0;
}

double CWizNetBwt::Up() const
{
    double v = 0;
    return ParseSpeed(Child<QLineEdit>(this, IDC_UP)->text(), v) ? v : 0.0;
}

// ---------------------------------------------------------------------------
// CWizNet

CWizNet::CWizNet(bool next_follows, const CSysProxy& sys, QWidget* parent)
    : QWizard(parent), main_page(new CWizNetMain(sys.uses_proxy)), srv(new CWizNetSrv(sys)),
      login(new CWizNetLogin(sys)), bwt(new CWizNetBwt)
{
    setWindowTitle(QString());
    setWindowIcon(kvres::LoadIcon(101));
    setWizardStyle(QWizard::ClassicStyle);
    setPage(kPageMain, main_page);
    setPage(kPageSrv, srv);
    setPage(kPageLogin, login);
    setPage(kPageBwt, bwt);
    setStartId(kPageMain);
    if (next_follows) {
        setButtonText(QWizard::FinishButton, QStringLiteral("&Next >"));
    }
}

void CWizNet::ShowRangeError(const QString& text, QWidget* field)
{
    QMessageBox::warning(this, QStringLiteral("Kivrel"), text);
    field->setFocus();
}

CNetSetup CWizNet::GetSetup() const
{
    CNetSetup s;
    s.kind = main_page->Kind();
    s.addr = K(Child<QLineEdit>(srv, CWizNetSrv::IDC_ADDR)->text());
    s.port = K(Child<QLineEdit>(srv, CWizNetSrv::IDC_PORT)->text());
    s.protocol = Child<QComboBox>(srv, CWizNetSrv::IDC_PROTOCOL)->currentIndex();
    s.user = K(Child<QLineEdit>(login, CWizNetLogin::IDC_USER)->text());
    s.pass = K(Child<QLineEdit>(login, CWizNetLogin::IDC_PASS)->text());
    s.limit = Child<QCheckBox>(bwt, CWizNetBwt::IDC_LIMIT)->isChecked();
    s.down = bwt->Down();
    s.up = bwt->Up();
    return s;
}
