#ifndef KIVREL_SETUP_DSPROPGRPDS_H
#define KIVREL_SETUP_DSPROPGRPDS_H

// The pages of the root group: the program's switches ("Main"), the
// transfer manager's limits and the program's folders ("Details"), and the
// TLS files and trust switches ("Security (SSL/SSH)"). They read their
// values once, when made, and write on OK: the transfer options into the
// root clone the sheet edits, the rest straight into the user's settings
// ("UI" and "Init"). A refused path is reported through the engine root's
// informer and the sheet still closes; the other values are saved.
// User-interface thread only.

// Qt's headers first (see props/dsprop.h).
#include "props/dsprop.h"

#include <QString>
#include <cstdint>

class KV_FileTransManOpts;

class CDsPropGrpDsMain : public CDsPropPage
{
    Q_OBJECT
public:
    enum : int {
        IDD = 54,
        IDC_RM_COMPLETED = 1141,
        IDC_RM_ERRONEOUS = 1140,
        IDC_RM_CANCELLED = 1139,
        IDC_AUTO_UPDATE = 1008,
        IDC_BROWSER_INT = 1012,
        IDC_START_TIPS = 1170,
        IDC_REQ_RESUME = 1136,
        IDC_REQ_INFO_CLOSE = 1137,
        IDC_DS_DBLCLCK_NEW = 1046,
        IDC_DS_AUTOSEL = 1045,
        IDC_QUICK_CONN_TMP = 1133,
        IDC_SOUNDS = 1168,
    };
    // `opts` (the root clone's, not owned) must outlive the page.
    explicit CDsPropGrpDsMain(KV_FileTransManOpts* opts);

    bool OnOK() override;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    KV_FileTransManOpts* const opts;
    // Completed, erroneous, cancelled: 0, 1 at once, 2 at the next start.
    int rm[3] = {};
    // In the order of the enum from IDC_AUTO_UPDATE on.
    int checks[9] = {};
};

class CDsPropGrpDsAdv : public CDsPropPage
{
    Q_OBJECT
public:
    enum : int {
        IDD = 53,
        IDC_NTAVOS = 1099,
        IDC_NRETRIES = 1097,
        IDC_NFRETRIES = 1095,
        IDC_NTMPFILES = 1098,
        IDC_DOWN = 1017,
        IDC_UP = 1018,
        IDC_TEMP = 1119,
        IDC_TEMP_BROWSE = 1061,
        IDC_EDITOR = 1117,
        IDC_EDITOR_BROWSE = 1059,
    };
    explicit CDsPropGrpDsAdv(KV_FileTransManOpts* opts);

    bool OnOK() override;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    // The restart note; tests replace the box.
    virtual void ShowNote(const QString& text);

private:
    void OnBrowseTemp();
    void OnBrowseEditor();

    KV_FileTransManOpts* const opts;
    uint32_t ntavos = 0;
    uint32_t nretries = 0;
    uint32_t nfretries = 0;
    uint32_t ntmpfiles = 0;
    double down = 0;
    double up = 0;
    QString temp;
    QString editor;
};

class CDsPropGrpDsSecurity : public CDsPropPage
{
    Q_OBJECT
public:
    enum : int {
        IDD = 55,
        IDC_KEY = 1118,
        IDC_KEY_BROWSE = 1060,
        IDC_KEY_PASS = 1113,
        IDC_CAS = 1116,
        IDC_CAS_BROWSE = 1057,
        IDC_TREXPL_FTPS = 1187,
        IDC_TREXPL_HTTPS = 1188,
        IDC_CERTS = 1019,
        IDC_KEYS = 1077,
    };
    explicit CDsPropGrpDsSecurity(KV_FileTransManOpts* opts);

    bool OnOK() override;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    virtual void ShowNote(const QString& text);
    // The trust store dialogs (CDlgTrust) over the page.
    virtual void RunTrustDialog(bool certs);

private:
    void OnBrowse(int id);

    KV_FileTransManOpts* const opts;
    QString ciphers;
    // Plain text only while the page lives.
    QString key_pass;
    QString cas;
    QString key;
    int trexpl_ftps = 0;
    int trexpl_https = 0;
};

#endif
