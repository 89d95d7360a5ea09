#ifndef KIVREL_CORE_CMDFORWARD_H
#define KIVREL_CORE_CMDFORWARD_H

// What the running program makes of the command line a later start hands
// it (packed by PackCommandLine of core/startrules.h): "REG", "CP" and
// "WEXPL_DROP". The bytes come from another process: every count
// and length is checked against the bytes that are there before anything is
// read or allocated. Any thread.

#include <QByteArray>
#include <QString>

#include <vector>

#include "foundation/kv_string.h"

// Entries 1 and up of the payload, each trimmed of " \t\r\n" and then of
// '"' at both ends. False, with `args` empty, for a payload that is cut
// short, whose count or string lengths promise more than its bytes, or that
// has bytes left over.
bool UnpackCommandLine(const QByteArray& payload, std::vector<KV_String>& args);

struct CCmdLineAction
{
    enum Kind { kNone, kRegister, kCopy, kDrop, kError };
    Kind kind = kNone;
    // REG: the URI; CP: source and target URIs (target may be empty);
    // WEXPL_DROP: the target folder in `first`.
    KV_String first;
    KV_String second;
    // WEXPL_DROP: a drag-and-drop ("DD"), else the clipboard ("CL"); moved
    // ("MV"), else copied ("CP").
    bool drag = false;
    bool move = false;
    // kError: the message for the user.
    QString error;
};

// What the unpacked entries ask for. A WEXPL_DROP with another word than
// DD/CL or MV/CP asks for nothing and shows nothing.
CCmdLineAction ParseCommandLine(const std::vector<KV_String>& args);

#endif
