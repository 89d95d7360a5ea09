#ifndef KIVREL_SETUP_DLGQUICKCONN_H
#define KIVREL_SETUP_DLGQUICKCONN_H

// Quick connect: the user types or picks a server URL and a login. The
// dialog only collects and records the connection in its history ("UI"/
// "QuickConnList"); after it ended with Accepted the caller reads the URL,
// login and the two switches and opens the server. User-interface thread
// only.

// Qt's headers first (see dialogs/dlgtranspar.h).
#include "shell/kvdialog.h"

#include <QString>

#include "core/quickconnlist.h"
#include "foundation/kv_string.h"

class CDlgQuickConn : public CKVDialog
{
    Q_OBJECT
public:
    enum : int {
        IDD = 79,
        IDC_URL = 1156,
        IDC_ANONYMOUS = 1006,
        IDC_USER = 1195,
        IDC_PASS = 1113,
        IDC_TEMPORARY = 1174,
    };

    explicit CDlgQuickConn(QWidget* parent);

    // After Accepted: the URL trimmed of blanks, the trimmed login, the
    // switches.
    const KV_String& GetUrl() const { return url; }
    const KV_String& GetUser() const { return user; }
    const KV_String& GetPass() const { return pass; }
    bool IsAnonymous() const { return anonymous != 0; }
    bool IsTemporary() const { return temporary != 0; }
    const CQuickConnHistory& History() const { return history; }

protected:
    void OnInitDialog() override;
    void OnOK() override;
    void exchange(bool save) override;
    // The error box over the dialog, then the focus on `focus`.
    virtual void ShowError(const QString& text, QWidget* focus);

private:
    void OnAnonymousClicked();
    void OnUrlPicked(int index);
    void OnUrlEdited(const QString& text);
    void RefreshLogin();
    void RefreshUrl();
    void ResetLogin();

    KV_String url;
    KV_String user;
    KV_String pass;
    int anonymous = 1;
    int temporary = 0;
    // The login fields hold a history entry's values.
    bool filled = false;
    // A selection made by the dialog itself is not a pick of the user.
    bool picking = false;
    CQuickConnHistory history;
};

#endif
