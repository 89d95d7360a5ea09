// The user's trash: where KV_File::del and KV_File::rmdir send an item when
// the caller asks for the recycle bin.
#pragma once

#include "foundation/kv_string.h"

// The freedesktop.org trash in its home location, $XDG_DATA_HOME/Trash
// (~/.local/share/Trash when the variable is unset or not absolute). An item
// goes to files/<name> with its description in info/<name>.trashinfo; names
// already taken get a number (a.txt, a.2.txt, a.3.txt ...).
class KV_Trash
{
public:
    // Moves the file, link or whole folder tree at path into the trash: a
    // rename on the same file system, otherwise a copy followed by the
    // removal of the original. Existing trash entries are never replaced.
    // False with errno set when the item could not be moved; the trash then
    // holds nothing of it, except when the original could not be removed
    // after a full copy: the copy and its description stay in the trash, as
    // they are the one whole copy left. Thread-safe: concurrent callers get
    // different names.
    static bool put(const KV_String& path);
};
