#ifndef KIVREL_FORWARD_CMDLINERUN_H
#define KIVREL_FORWARD_CMDLINERUN_H

// Runs the command line a later start handed over: registers a server
// document with a data source ("REG"), copies a file given by URI ("CP")
// after the user confirmed it in the transfer dialog, or finishes a drop
// onto the file manager's folder ("WEXPL_DROP"). Nothing is queued without
// the user's OK. Errors go to the engine root's informer at level 2.
// User-interface thread only.

#include <QByteArray>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_string.h"

class QWidget;

// A payload that cannot be read does nothing.
void RunCommandLine(const QByteArray& payload, QWidget* parent);

// Asks for the data source of `uri`'s server and adds the document to it.
// True also when the user cancelled.
bool RegisterUri(const KV_String& uri, QWidget* parent);

// Asks to copy `src` to `dst` (a local path or a URI; empty: the user
// chooses). `op` other than copy fixes the destination.
bool CopyUri(const KV_String& src, const KV_String& dst, KV_FILEOP op, QWidget* parent);

// Does nothing yet and gives false: no program on this system hands the
// file manager's drop target over, so the drop has no source to finish.
bool DropFromExplorer(const KV_String& folder, bool drag, bool move);

#endif
