#ifndef KIVREL_SETUP_SETUPENTRY_H
#define KIVREL_SETUP_SETUPENTRY_H

// Entry points of the setup dialogs for the main window's commands and the
// first start: quick connect, the connection setup and the network setup,
// each run modally over `parent` (null: no owner). User-interface thread
// only.

#include "foundation/kv_string.h"

#include <functional>

class QWidget;

// A server to open in a browse window, as quick connect and the connection
// setup collect it.
struct CServerOpen
{
    // Empty name and comment: the data source keeps the ones it has or gets.
    KV_String name;
    KV_String comment;
    KV_String uri;
    KV_String user;
    KV_String pass;
    bool anonymous = false;
    // A temporary data source, deleted once nothing uses it.
    bool temporary = false;
};

using CServerOpener = std::function<bool(const CServerOpen&)>;

// Finds or makes the data source of `what.uri` and opens a browse window on
// it (CKivrelApp::OpenUriBrowseWnd, which reports its own failures). False
// only without an application.
bool OpenServerUri(const CServerOpen& what);

// Quick connect: the dialog, then on Connect its URL, login and switches,
// with empty name and comment, handed to `open`.
void QuickConnect(QWidget* parent, const CServerOpener& open = OpenServerUri);

// The connection setup; on Finish the server goes to `open` as a permanent
// data source. Whether it ended with Finish.
bool RunConnWizard(QWidget* parent, const CServerOpener& open = OpenServerUri);

// The network setup (`next_follows`: another setup comes next, as on the
// first start); on Finish its result is written into the engine root's
// data-source tree (ApplyNetSetup). Whether it ended with Finish; nothing is
// written without an engine root.
bool RunNetWizard(QWidget* parent, bool next_follows);

#endif
