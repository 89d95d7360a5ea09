#include "setup/dlgquickconn.h"

#include "core/settings.h"
#include "res/resources.h"
#include "shell/kivrelapp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

template <class T> T* Named(T* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

QString Q(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

KV_String K(const QString& s)
{
    return KV_String(s.toUtf8().constData());
}

int TemporaryPreset()
{
    return GetProfileInt(QStringLiteral("UI"), QStringLiteral("QuickConnTmp"), 0) > 0 ? 1 : 0;
}

} // namespace

CDlgQuickConn::CDlgQuickConn(QWidget* parent) : CKVDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("Kivrel: Quick connect"));
    setWindowIcon(kvres::LoadIcon(102));
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\quickconn.htm"));
    temporary = TemporaryPreset();

    auto* server = new QGroupBox(QStringLiteral("Server address"), this);
    auto* url_box = Named(new QComboBox, IDC_URL);
    url_box->setEditable(true);
    url_box->setInsertPolicy(QComboBox::NoInsert);
    url_box->setMinimumWidth(320);
    auto* server_form = new QFormLayout(server);
    server_form->addRow(QStringLiteral("URL:"), url_box);
    auto* hint = new QLabel(QStringLiteral("When the URL names no protocol, FTP is assumed. A port "
                                           "can follow the host after a colon, for example "
                                           "ftp://ftp.example.com:2121/pub."));
    hint->setWordWrap(true);
    server_form->addRow(hint);

    auto* login = new QGroupBox(QStringLiteral("Login parameters"), this);
    auto* login_form = new QFormLayout(login);
    login_form->addRow(Named(new QCheckBox(QStringLiteral("Anonymous")), IDC_ANONYMOUS));
    login_form->addRow(QStringLiteral("User:"), Named(new QLineEdit, IDC_USER));
    auto* pass_edit = Named(new QLineEdit, IDC_PASS);
    pass_edit->setEchoMode(QLineEdit::Password);
    login_form->addRow(QStringLiteral("Password:"), pass_edit);

    auto* temp_box = Named(new QCheckBox(QStringLiteral("Temporary data source")), IDC_TEMPORARY);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("&Connect"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(login);
    layout->addWidget(temp_box);
    layout->addWidget(buttons);
    // The box joined the dialog after the buttons; Tab reads it before them.
    setTabOrder(pass_edit, temp_box);

    connect(Item<QCheckBox>(IDC_ANONYMOUS), &QCheckBox::clicked, this,
            &CDlgQuickConn::OnAnonymousClicked);
    connect(url_box, &QComboBox::activated, this, &CDlgQuickConn::OnUrlPicked);
    connect(url_box, &QComboBox::editTextChanged, this, &CDlgQuickConn::OnUrlEdited);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CDlgQuickConn::OnInitDialog()
{
    history.LoadFromProfile();
    auto* url_box = Item<QComboBox>(IDC_URL);
    // Alphabetical, each item carrying its entry's place in the history.
    std::vector<std::pair<QString, int>> urls;
    for (size_t i = 0; i < history.Items().size(); ++i) {
        urls.emplace_back(Q(history.Items()[i].url), static_cast<int>(i));
    }
    std::sort(urls.begin(), urls.end());
    picking = true;
    for (const auto& [text, index] : urls) {
        url_box->addItem(text, index);
    }
    url_box->setCurrentIndex(-1);
    url_box->setEditText(QString());
    picking = false;
    CKVDialog::OnInitDialog();
    RefreshUrl();
}

void CDlgQuickConn::exchange(bool save)
{
    CKVDialog::exchange(save);
    auto* anon_box = Item<QCheckBox>(IDC_ANONYMOUS);
    auto* temp_box = Item<QCheckBox>(IDC_TEMPORARY);
    auto* user_edit = Item<QLineEdit>(IDC_USER);
    auto* pass_edit = Item<QLineEdit>(IDC_PASS);
    if (save) {
        anonymous = anon_box->isChecked() ? 1 : 0;
        temporary = temp_box->isChecked() ? 1 : 0;
        user = K(user_edit->text());
        pass = K(pass_edit->text());
    } else {
        anon_box->setChecked(anonymous != 0);
        temp_box->setChecked(temporary != 0);
        user_edit->setText(Q(user));
        pass_edit->setText(Q(pass));
    }
}

void CDlgQuickConn::RefreshLogin()
{
    const bool login = !Item<QCheckBox>(IDC_ANONYMOUS)->isChecked();
    Item(IDC_USER)->setEnabled(login);
    Item(IDC_PASS)->setEnabled(login);
}

void CDlgQuickConn::RefreshUrl()
{
    const bool applies = QuickConnAnonymousApplies(K(Item<QComboBox>(IDC_URL)->currentText()));
    auto* anon_box = Item<QCheckBox>(IDC_ANONYMOUS);
    if (!applies && anon_box->isChecked()) {
        anon_box->setChecked(false);
    }
    RefreshLogin();
    anon_box->setVisible(applies);
}

void CDlgQuickConn::OnAnonymousClicked()
{
    RefreshLogin();
}

void CDlgQuickConn::OnUrlPicked(int index)
{
    auto* url_box = Item<QComboBox>(IDC_URL);
    const int entry = url_box->itemData(index).toInt();
    if (index < 0 || entry < 0 || entry >= static_cast<int>(history.Items().size())) {
        return;
    }
    const CQuickConnItem& it = history.Items()[static_cast<size_t>(entry)];
    user = it.user;
    pass = it.pass;
    anonymous = it.anonymous;
    temporary = it.temporary;
    exchange(false);
    filled = true;
    RefreshUrl();
}

void CDlgQuickConn::OnUrlEdited(const QString& text)
{
    if (picking) {
        return;
    }
    auto* url_box = Item<QComboBox>(IDC_URL);
    const int found = url_box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found >= 0) {
        picking = true;
        url_box->setCurrentIndex(found);
        picking = false;
        OnUrlPicked(found);
        return;
    }
    if (filled) {
        ResetLogin();
    }
    RefreshUrl();
}

void CDlgQuickConn::ResetLogin()
{
    auto* url_box = Item<QComboBox>(IDC_URL);
    const QString text = url_box->currentText();
    user.clear();
    pass.clear();
    anonymous = 1;
    temporary = TemporaryPreset();
    exchange(false);
    filled = false;
    // Leaving the picked item keeps the text the user is typing.
    if (url_box->currentIndex() >= 0) {
        picking = true;
        url_box->setCurrentIndex(-1);
        url_box->setEditText(text);
        picking = false;
    }
}

void CDlgQuickConn::ShowError(const QString& text, QWidget* focus)
{
    ShowErrorBox(text, this);
    focus->setFocus();
}

void CDlgQuickConn::OnOK()
{
    exchange(true);
    const KV_String typed = K(Item<QComboBox>(IDC_URL)->currentText()).trim();
    if (typed.empty()) {
        ShowError(QStringLiteral("Invalid server address specified."), Item(IDC_URL));
        return;
    }
    user = user.trim();
    pass = pass.trim();
    if (anonymous == 0 && !QuickConnLoginOk(typed, user, pass)) {
        ShowError(QStringLiteral("Missing login parameter(s)."), Item(IDC_USER));
        return;
    }
    url = typed;
    CQuickConnItem entry;
    entry.url = url;
    entry.user = user;
    entry.pass = pass;
    entry.anonymous = static_cast<uint8_t>(anonymous != 0);
    entry.temporary = static_cast<uint8_t>(temporary != 0);
    entry.last_use.now();
    history.Add(entry);
    // A history that cannot be stored is no reason to stop the connection.
    history.SaveToProfile();
    QDialog::accept();
}
