#ifndef KIVREL_CORE_FILECOLS_H
#define KIVREL_CORE_FILECOLS_H

// What a file list shows of its entries: the column table, the stored
// column profile of each file-manager type, the texts of an entry, the sort
// order a click on a column sets, and the place where an arriving entry goes
// in a sorted list. Pure logic, any thread (QMimeDatabase is thread-safe).

#include "foundation/kv_filedata.h"

#include <QString>
#include <functional>
#include <vector>

// One column: the code that selects its text and sort key, its title and
// its default width in pixels.
struct CFileColumnDef
{
    int code;
    const char* title;
    int width;
};

// Column codes.
enum : int {
    kColName = 1,
    kColType = 2,
    kColSize = 3,
    kColTime = 4,
    kColPermissions = 5,
    kColUser = 6,
    kColGroup = 7,
};

inline constexpr int kFileColumnCount = 7;

// The column at table index `index` (0 Name ... 6 Group), or null.
const CFileColumnDef* GetFileColumnDef(int index);

// The columns shown when no profile says otherwise: Name, Size, Type, Time.
std::vector<int> DefaultFileColumns();

// The profile value ("UI" section) of a file-manager type: "FileListCols%d".
QString FileColumnsProfileKey(int man_type);

// The visible columns a profile value names: one decimal digit per column,
// in display order, each a table index. Digits outside the table and
// repeated digits are skipped (a hand-edited value must not index past the
// table or show a column twice); when nothing valid is left, the defaults.
std::vector<int> ParseFileColumns(const QString& value);
// The profile value of a column list.
QString FormatFileColumns(const std::vector<int>& columns);

// The sort key of a column code: Name 0, Size 1, Time 2, Permissions 3,
// User 4, Group 5, Type 6 (the extension).
KV_SORT_FD SortKeyOfColumn(int code);

// The order of a list: a click on a column of another key makes that key
// current and keeps the direction; a click on the current key turns the
// direction round. Not stored.
struct CFileSortOrder
{
    KV_SORT_FD key = KV_SORT_FD_NAME;
    bool descending = false;

    void Click(KV_SORT_FD clicked);
};

// The type text of an entry from the name alone (no disk access): the
// MIME database's description, else the fallback below.
QString FileTypeText(const KV_FileData& fd);
// The text when no type name is known: for a file ".%s File" with the
// upper-cased extension, or "File" without one; empty for a folder.
QString FileTypeFallback(const KV_FileData& fd);

// The text of `fd` in the column of `code`.
QString FileColumnText(const KV_FileData& fd, int code);

// Where an arriving item goes among `count` sorted items: after every item
// that does not sort after it, so that items of equal keys keep their
// arrival order. `sorts_after(i)` tells whether item i sorts after the new
// one. Binary search: the list is never sorted as a whole.
int SortedInsertPos(int count, const std::function<bool(int)>& sorts_after);

#endif
