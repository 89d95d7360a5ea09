#include "setup/setupentry.h"

#include "core/netsetup.h"
#include "setup/dlgquickconn.h"
#include "setup/wizconn.h"
#include "setup/wiznet.h"
#include "shell/kivrelapp.h"

bool OpenServerUri(const CServerOpen& what)
{
    CKivrelApp* app = CKivrelApp::Instance();
    if (app == nullptr) {
        return false;
    }
    // A temporary data source is the lookup's "extra" kind.
    app->OpenUriBrowseWnd(what.name, what.comment, what.uri, what.user, what.pass, what.anonymous,
                          what.temporary);
    return true;
}

void QuickConnect(QWidget* parent, const CServerOpener& open)
{
    CDlgQuickConn dlg(parent);
    if (dlg.exec() != QDialog::Accepted) {
        return;
    }
    CServerOpen what;
    what.uri = dlg.GetUrl();
    what.user = dlg.GetUser();
    what.pass = dlg.GetPass();
    what.anonymous = dlg.IsAnonymous();
    what.temporary = dlg.IsTemporary();
    if (open) {
        open(what);
    }
}

bool RunConnWizard(QWidget* parent, const CServerOpener& open)
{
    CWizConn wiz(parent);
    if (wiz.exec() != QDialog::Accepted) {
        return false;
    }
    CServerOpen what;
    what.name = wiz.GetName();
    what.comment = wiz.GetComment();
    what.uri = wiz.GetUri();
    what.user = wiz.GetUser();
    what.pass = wiz.GetPass();
    what.anonymous = wiz.IsAnonymous();
    what.temporary = false;
    if (open) {
        open(what);
    }
    return true;
}

bool RunNetWizard(QWidget* parent, bool next_follows)
{
    CWizNet wiz(next_follows, ReadSysProxy(), parent);
    if (wiz.exec() != QDialog::Accepted) {
        return false;
    }
    CKivrelApp* app = CKivrelApp::Instance();
    if (app != nullptr && app->GetPool() != nullptr) {
        // The engine's refusals reach the user through its informer.
        ApplyNetSetup(*app->GetPool(), wiz.GetSetup());
    }
    return true;
}
