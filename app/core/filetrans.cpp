#include "core/filetrans.h"

namespace {

// The folder text of `path` in `man`'s notation, ending in one separator.
KV_String FolderText(const KV_PathMan& man, const KV_PathDef& path)
{
    KV_String out;
    if (path.empty() || !man.build_path(out, path, false, 0)) {
        return KV_String(man.dir_sep());
    }
    return man.compl_dir(out);
}

// `folder` split with `man`; its root when empty.
KV_PathDef SplitFolder(const KV_PathMan& man, const KV_String& folder)
{
    KV_PathDef path;
    const KV_String text = folder.trim();
    man.split_path(text.empty() ? KV_String(man.dir_sep()) : text, path, true);
    return path;
}

} // namespace

bool FileTransSplitFile(const KV_PathMan& man, const KV_String& text, KV_String* name,
                        KV_String* folder)
{
    const KV_String trimmed = text.trim();
    if (!man.is_fname(trimmed)) {
        return false;
    }
    KV_PathDef path;
    if (!man.split_path(trimmed, path, true) || path.entries() <= path.first_ind()) {
        return false;
    }
    const KV_String last = path.last();
    if (!KV_PathDef::is_entry_name(last)) {
        return false;
    }
    if (name != nullptr) {
        *name = last;
    }
    if (folder != nullptr) {
        path.remove_last();
        *folder = FolderText(man, path);
    }
    return true;
}

FileTransRebuilt FileTransRebuildDest(const KV_String& dest, const KV_PathMan* old_man,
                                      const KV_PathMan& new_man, const KV_String& new_start)
{
    FileTransRebuilt result;
    KV_String name;
    if (old_man == nullptr) {
        name = dest.trim();
    } else if (FileTransSplitFile(*old_man, dest, &name, &result.old_folder)) {
        result.old_folder_set = true;
    }
    const KV_PathDef folder = SplitFolder(new_man, new_start);
    if (name.empty() || !new_man.build_path(result.text, folder, name, false, 0)) {
        result.text = FolderText(new_man, folder);
    }
    return result;
}

bool FileTransTakeSourceName(bool dest_names_file, const KV_PathMan& src_man, const KV_String& src,
                             const KV_PathMan& dst_man, const KV_String& dest, KV_String& out)
{
    if (dest_names_file) {
        return false;
    }
    KV_String name;
    if (!FileTransSplitFile(src_man, src, &name, nullptr)) {
        return false;
    }
    const KV_PathDef folder = SplitFolder(dst_man, dest);
    KV_String text;
    if (!dst_man.build_path(text, folder, name, false, 0)) {
        return false;
    }
    out = text;
    return true;
}
