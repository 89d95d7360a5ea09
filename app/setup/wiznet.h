#ifndef KIVREL_SETUP_WIZNET_H
#define KIVREL_SETUP_WIZNET_H

// The network setup: a direct connection or one through a proxy (HTTP,
// SOCKS4 or SOCKS5, with address, port and login), and an optional
// bandwidth limit. It starts from the system's proxy. The wizard only
// collects; after it finished, its driver (setup/setupentry.h) writes the
// result into the data-source tree. Controls are named by their numeric ids
// (objectName). User-interface thread only.

#include <QString>
#include <QWizard>
#include <QWizardPage>

#include "core/netsetup.h"

class CWizNetMain : public QWizardPage
{
    Q_OBJECT
public:
    enum : int { IDD = 94, IDC_DIRECT = 1026, IDC_FIREWALL = 1027 };
    explicit CWizNetMain(bool firewall, QWidget* parent = nullptr);
    // 0 direct, 1 through a firewall.
    int Kind() const;
    int nextId() const override;
};

class CWizNetSrv : public QWizardPage
{
    Q_OBJECT
public:
    enum : int { IDD = 95, IDC_ADDR = 1156, IDC_PROTOCOL = 1130, IDC_PORT = 1122 };
    explicit CWizNetSrv(const CSysProxy& sys, QWidget* parent = nullptr);
    bool isComplete() const override;
    // Refuses a port above 65535, which would otherwise be stored cut.
    bool validatePage() override;

private:
    void OnProtocolChanged(int protocol);
};

class CWizNetLogin : public QWizardPage
{
    Q_OBJECT
public:
    enum : int { IDD = 93, IDC_USER = 1195, IDC_PASS = 1113 };
    explicit CWizNetLogin(const CSysProxy& sys, QWidget* parent = nullptr);
    bool isComplete() const override;
};

class CWizNetBwt : public QWizardPage
{
    Q_OBJECT
public:
    enum : int { IDD = 92, IDC_LIMIT = 1016, IDC_DOWN = 1017, IDC_UP = 1018 };
    explicit CWizNetBwt(QWidget* parent = nullptr);
    void initializePage() override;
    // While the limit is on, each speed must be a number from 0 to 999999.
    bool validatePage() override;
    // The speeds typed, in KB/s (0 for a text that is no number).
    double Down() const;
    double Up() const;

private:
    void OnLimitClicked();
};

class CWizNet : public QWizard
{
    Q_OBJECT
public:
    enum : int { kPageMain = 0, kPageSrv = 1, kPageLogin = 2, kPageBwt = 3 };

    // `next_follows`: another wizard comes after this one, so its last
    // button reads "&Next >". `sys` is the system's proxy to start from.
    CWizNet(bool next_follows, const CSysProxy& sys, QWidget* parent = nullptr);

    // What the pages hold (after Finish: what the user chose).
    CNetSetup GetSetup() const;

    // The message of a refused field, then the focus on it; tests replace
    // the box.
    virtual void ShowRangeError(const QString& text, QWidget* field);

private:
    CWizNetMain* main_page;
    CWizNetSrv* srv;
    CWizNetLogin* login;
    CWizNetBwt* bwt;
};

#endif
