#include "core/filecmds.h"

namespace {

// Command ids of the edit commands.
constexpr uint32_t kCopy = 57634;
constexpr uint32_t kCut = 57635;
constexpr uint32_t kPaste = 57637;
constexpr uint32_t kExtPaste = 32797;
constexpr uint32_t kUndo = 57643;
constexpr uint32_t kSelectAll = 57642;

} // namespace

int EditCommandState(uint32_t id, const CEditFacts& edit, bool clipboard_text)
{
    switch (id) {
    case kCopy:
    case kCut:
        return edit.sel_start != edit.sel_end ? 1 : 0;
    case kPaste:
        // A read-only field takes no text; files may still be pasted into
        // the view behind it.
        return edit.writable ? (clipboard_text ? 1 : 0) : -1;
    case kExtPaste:
        // The parameters of a paste mean nothing to a text field.
        return edit.writable ? 0 : -1;
    case kUndo:
        return edit.writable && edit.can_undo ? 1 : 0;
    case kSelectAll:
        return edit.sel_start > 0 || edit.sel_end < edit.length ? 1 : 0;
    default:
        return -1;
    }
}

CFilePropKind FilePropKindOf(uint32_t man_type, uint32_t entry_type, bool valid_accf)
{
    // Only the extended entry carries access rights.
    if (entry_type != 1 || !valid_accf) {
        return CFilePropKind::ReadOnly;
    }
    switch (man_type) {
    case 1:
        return CFilePropKind::Std;
    case 2:
        return CFilePropKind::Ftp;
    case 4:
        return CFilePropKind::Sftp;
    default:
        return CFilePropKind::ReadOnly;
    }
}

KV_String TypedFolderText(const KV_String& typed, char sep)
{
    return typed.convert(KV_String("\\/"), sep);
}
