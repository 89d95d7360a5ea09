#ifndef KIVREL_CORE_FILETRANS_H
#define KIVREL_CORE_FILETRANS_H

// How the file transfer dialog keeps its destination text in step: a
// destination that is only a folder takes the source's file name, and
// moving to another destination data source carries the file name over to
// that data source's start folder. Texts are split and built with each data
// source's own path notation. Any thread.

#include "foundation/kv_path.h"
#include "foundation/kv_string.h"

// Splits the trimmed `text` with `man`. True when it names a file: its last
// part is a name and the text does not end in a separator. `name` gets the
// file name and `folder` the text of the folder part (either may be null).
bool FileTransSplitFile(const KV_PathMan& man, const KV_String& text, KV_String* name,
                        KV_String* folder);

struct FileTransRebuilt
{
    // The folder part of the old destination, for the old data source's
    // start folder; valid when `old_folder_set`.
    bool old_folder_set = false;
    KV_String old_folder;
    // The new destination text.
    KV_String text;
};

// The destination `dest` was written for the notation `old_man` (null: no
// data source was selected, and the whole text is the file name). The new
// destination is the new data source's start folder `new_start` (its root
// when empty) in the notation `new_man`, with the file name kept, or ending
// in exactly one separator when there is none.
FileTransRebuilt FileTransRebuildDest(const KV_String& dest, const KV_PathMan* old_man,
                                      const KV_PathMan& new_man, const KV_String& new_start);

// The source text changed. When the destination does not name a file yet
// and the source ends in a file name, `out` gets the destination folder with
// that name appended and the result is true; otherwise `out` is untouched.
bool FileTransTakeSourceName(bool dest_names_file, const KV_PathMan& src_man, const KV_String& src,
                             const KV_PathMan& dst_man, const KV_String& dest, KV_String& out);

#endif
