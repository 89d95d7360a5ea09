#include "shell/kivrelmain.h"

#include "shell/kivrelapp.h"
#include "startup/starthooks.h"

int KivrelMain(int argc, char** argv)
{
    CKivrelApp app(argc, argv);
    // The program lives in the tray and the control window, which is a tool
    // window: closing a dialog or the tips must not end it.
    app.setQuitOnLastWindowClosed(false);
    int code = 1;
    if (app.InitInstance()) {
        code = app.exec();
    } else if (ForwardedToRunningInstance()) {
        code = 0;
    }
    const int exit_code = app.ExitInstance();
    return code != 0 ? code : exit_code;
}
