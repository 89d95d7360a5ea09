#ifndef KIVREL_STARTUP_STARTHOOKS_H
#define KIVREL_STARTUP_STARTHOOKS_H

// What start-up shows the user, as one place that tests can replace: the
// error box and the resumption question. User-interface thread.

#include <QByteArray>
#include <QString>
#include <functional>

class DlgReqAsk;

struct CStartHooks
{
    // Default: ShowErrorBox without owner.
    std::function<void(const QString&)> error;
    // Default: runs the dialog; whether it ended with OK.
    std::function<bool(DlgReqAsk&)> ask_resume;
    // How long the splash's last picture stays.
    int last_picture_ms = 1500;
};

CStartHooks& StartHooks();

// Whether this start handed its command line to the running instance (its
// start-up then returned false without a failure).
bool ForwardedToRunningInstance();

// Runs a forwarded command line (the payload of core/startrules.h) in the
// control window; returns once the dialogs it opened are closed.
void ExecuteCommandLine(const QByteArray& payload);

// From now on the command lines that later starts hand to `instance` raise
// the control window and run there; each start gets its answer after its
// command ran.
void ServeCommandLines(class CSingleInstance& instance);

// Makes F1 without Ctrl, Shift or Alt open the help page of the window it
// was pressed in (CKivrelApp::ShowHelp), everywhere in `app`. Once.
void InstallHelpKey(class QApplication& app);

#endif
