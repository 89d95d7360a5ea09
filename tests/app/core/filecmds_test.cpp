// What the browse window's file commands decide without a window: a focused
// text field's say on the edit commands, the properties dialog by protocol
// and entry, and typed folder texts.
#include "core/filecmds.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(FileCmds, AFocusedTextFieldDecidesTheEditCommands)
{
    enum : uint32_t {
        Copy = 57634,
        Cut = 57635,
        Paste = 57637,
        ExtPaste = 32797,
        Undo = 57643,
        SelectAll = 57642,
        Delete = 32801,
    };
    const CEditFacts none_selected{true, 3, 3, 8, false};
    const CEditFacts some_selected{true, 2, 5, 8, true};
    const CEditFacts all_selected{true, 0, 8, 8, true};
    const CEditFacts read_only{false, 2, 5, 8, true};
    const CEditFacts empty{true, 0, 0, 0, false};
    struct Case
    {
        const char* what;
        uint32_t id;
        CEditFacts edit;
        bool clip_text;
        int state;
    };
    const Case cases[] = {
        {"copy needs a selection", Copy, none_selected, false, 0},
        {"copy of selected text", Copy, some_selected, false, 1},
        {"cut as copy", Cut, some_selected, false, 1},
        {"cut without selection", Cut, none_selected, true, 0},
        {"copy from a read-only field", Copy, read_only, false, 1},
        {"paste of text", Paste, none_selected, true, 1},
        {"paste without text on the clipboard", Paste, none_selected, false, 0},
        {"a read-only field leaves paste to the files", Paste, read_only, true, -1},
        {"ext. paste off in a writable field", ExtPaste, some_selected, true, 0},
        {"ext. paste in a read-only field follows the files", ExtPaste, read_only, true, -1},
        {"undo with something to undo", Undo, some_selected, false, 1},
        {"undo with nothing to undo", Undo, none_selected, false, 0},
        {"no undo in a read-only field", Undo, read_only, false, 0},
        {"select all with part selected", SelectAll, some_selected, false, 1},
        {"select all with a caret", SelectAll, none_selected, false, 1},
        {"select all with all selected", SelectAll, all_selected, false, 0},
        {"select all in an empty field", SelectAll, empty, false, 0},
        {"file commands are not the field's", Delete, some_selected, true, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EditCommandState(c.id, c.edit, c.clip_text), c.state) << c.what;
    }
}

TEST(FileCmds, ThePropertiesDialogByProtocolAndEntry)
{
    struct Case
    {
        uint32_t man_type;
        uint32_t entry_type;
        bool valid_accf;
        CFilePropKind kind;
    };
    const Case cases[] = {
        {1, 1, true, CFilePropKind::Std},
        {2, 1, true, CFilePropKind::Ftp},
        {4, 1, true, CFilePropKind::Sftp},
        // HTTP entries never have rights to change.
        {3, 1, true, CFilePropKind::ReadOnly},
        // Entries without valid rights, or plain entries, show only.
        {2, 1, false, CFilePropKind::ReadOnly},
        {4, 0, true, CFilePropKind::ReadOnly},
        {1, 0, false, CFilePropKind::ReadOnly},
        {7, 1, true, CFilePropKind::ReadOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.man_type) + "/" + std::to_string(c.entry_type) +
                     (c.valid_accf ? " valid" : " invalid"));
        EXPECT_EQ(FilePropKindOf(c.man_type, c.entry_type, c.valid_accf), c.kind);
    }
}

TEST(FileCmds, TypedFoldersTakeTheFileManagersSeparator)
{
    struct Case
    {
        const char* typed;
        char sep;
        const char* text;
    };
    const Case cases[] = {
        {"pub\\incoming/new", '/', "pub/incoming/new"},
        {"/srv/ftp", '/', "/srv/ftp"},
        {"C:/Data\\x", '\\', "C:\\Data\\x"},
        {"", '/', ""},
        {"\\\\", '/', "//"},
    };
    for (const Case& c : cases) {
        const KV_String out = TypedFolderText(KV_String(c.typed), c.sep);
        EXPECT_EQ(std::string(out.data(), out.length()), c.text) << c.typed;
    }
}

} // namespace
