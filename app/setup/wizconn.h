#ifndef KIVREL_SETUP_WIZCONN_H
#define KIVREL_SETUP_WIZCONN_H

// The connection setup: a new user's first server, in three pages (the
// server address and protocol, the login, the data source's name and
// description). The wizard only collects; after it finished, its driver
// (setup/setupentry.h) opens the server as a permanent data source.
// Controls are named by their numeric ids (objectName). User-interface
// thread only.

#include <QString>
#include <QWizard>
#include <QWizardPage>

#include "foundation/kv_string.h"

class CWizConnSrv : public QWizardPage
{
    Q_OBJECT
public:
    enum : int {
        IDD = 91,
        IDC_ADDR = 1156,
        IDC_FTP = 1157,
        IDC_FTPS = 1158,
        IDC_HTTP = 1159,
        IDC_HTTPS = 1160,
        IDC_SFTP = 1161,
        IDC_PORT = 1122,
    };
    explicit CWizConnSrv(QWidget* parent = nullptr);

    // The server URI: the address, with the chosen protocol's scheme when it
    // has none, and the port field's port unless that is the default one.
    KV_String GetUri() const;
    // 0 FTP, 1 FTPS, 2 HTTP, 3 HTTPS, 4 SFTP.
    int Protocol() const;

    bool isComplete() const override;
    // A port outside 1 to 65535 (or no number at all) is refused with the
    // message of the other number fields, so that no server address goes on
    // with a port the network cannot reach.
    bool validatePage() override;

private:
    void OnAddrChanged();
    void OnProtocolClicked(int protocol);
    void OnPortChanged();
    void SetProtocol(int protocol);
    void SetText(int id, const KV_String& text);

    // Changes made by the page itself do not count as the user's.
    bool updating = false;
};

class CWizConnLogin : public QWizardPage
{
    Q_OBJECT
public:
    enum : int { IDD = 90, IDC_USER = 1195, IDC_PASS = 1113, IDC_ANONYMOUS = 1006 };
    explicit CWizConnLogin(QWidget* parent = nullptr);

    void initializePage() override;
    bool isComplete() const override;

private:
    void OnAnonymousClicked();
    KV_String Scheme() const;
};

class CWizConnDs : public QWizardPage
{
    Q_OBJECT
public:
    enum : int { IDD = 89, IDC_NAME = 1094, IDC_COMMENT = 1024 };
    explicit CWizConnDs(QWidget* parent = nullptr);

    void initializePage() override;
    bool isComplete() const override;
};

class CWizConn : public QWizard
{
    Q_OBJECT
public:
    enum : int { kPageSrv = 0, kPageLogin = 1, kPageDs = 2 };

    explicit CWizConn(QWidget* parent = nullptr);

    CWizConnSrv* Srv() const { return srv; }
    CWizConnLogin* Login() const { return login; }
    CWizConnDs* Ds() const { return ds; }

    // The values after Finish.
    KV_String GetUri() const { return srv->GetUri(); }
    KV_String GetUser() const;
    KV_String GetPass() const;
    // Only where anonymous logins exist (FTP, FTPS).
    bool IsAnonymous() const;
    KV_String GetName() const;
    KV_String GetComment() const;

    // The message of a refused field, then the focus on it; tests replace
    // the box.
    virtual void ShowRangeError(const QString& text, QWidget* field);

private:
    CWizConnSrv* srv;
    CWizConnLogin* login;
    CWizConnDs* ds;
};

#endif
