// File-system steps that the engine's own moves and clean-ups need beside
// KV_File's toolbox: a rename that never replaces, the removal of a whole tree
// the engine made or set aside, and the carrying over of permissions and
// times to a copy. Like KV_File's statics they report failure by their result
// and leave the reason in errno.
//
// What the user deletes never goes through kv_remove_tree: the delete walker
// removes item by item, asking where it must, through KV_File::del and
// KV_File::rmdir.
#pragma once

#include <sys/stat.h>

// rename(2) that never replaces: false with errno EEXIST when something is
// already at dst. Where the file system cannot check and move in one step
// (no RENAME_NOREPLACE), dst is looked at just before the rename; a name
// taken between those two steps is the one case left open.
bool kv_rename_noreplace(const char* src, const char* dst);

// Removes path and, for a folder, everything inside it. Symbolic links are
// removed, never followed: a link to a folder outside the tree cannot lead
// the removal out of it. Stops at the first failure (what went stays gone).
bool kv_remove_tree(const char* path);

// Gives path the permission bits and the access and modification times that
// st (the lstat of the original) records. A link keeps its own permissions
// (Linux has none for links) but gets the times. Setting the times is a
// courtesy; the result is that of the permissions.
bool kv_keep_attrs(const char* path, const struct stat& st);
