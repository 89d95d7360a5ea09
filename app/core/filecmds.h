#ifndef KIVREL_CORE_FILECMDS_H
#define KIVREL_CORE_FILECMDS_H

// The parts of the browse window's file commands that need no window: how a
// text field holding the focus decides the edit commands, which properties
// dialog an entry gets, and the folder text a person typed. Pure functions,
// any thread.

#include "foundation/kv_string.h"

#include <cstdint>

// A text field holding the focus (a view's name editor, a folder field),
// as the edit commands see it. Selection ends are character positions.
struct CEditFacts
{
    bool writable = true;
    int sel_start = 0;
    int sel_end = 0;
    int length = 0;
    bool can_undo = false;
};

// What a focused text field makes of command `id`: 1 enabled, 0 disabled,
// -1 the field does not decide (the command follows the file rules, as a
// read-only field lets Paste do). `clipboard_text`: the clipboard holds
// text.
int EditCommandState(uint32_t id, const CEditFacts& edit, bool clipboard_text);

// The properties dialog an entry gets.
enum class CFilePropKind {
    ReadOnly, // shows the entry, changes nothing
    Std,      // attribute letters of a local file
    Ftp,      // permission bits with the special ones
    Sftp,     // permission bits
};

// By the file manager's type (1 local, 2 FTP, 3 HTTP, 4 SFTP), the entry's
// type (1 the extended entry with access rights) and whether its rights are
// valid. HTTP entries and entries without rights get the read-only dialog.
CFilePropKind FilePropKindOf(uint32_t man_type, uint32_t entry_type, bool valid_accf);

// A folder as typed, with every "\" and "/" made the file manager's
// separator `sep`.
KV_String TypedFolderText(const KV_String& typed, char sep);

#endif
