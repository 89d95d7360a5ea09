#ifndef KIVREL_CORE_FILECLIP_H
#define KIVREL_CORE_FILECLIP_H

// What travels when files are copied, cut or dragged: a source folder, the
// data-source instance holding it and a list of names, in the program's
// private clipboard and drag formats; files from other programs arrive as a
// text/uri-list. The data may come from another program, so readers check
// every count against the bytes that are there. Any thread; the engine root
// only on the user-interface thread.

#include "foundation/kv_ids.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

class KV_FileManPool;
class QMimeData;

class CFileClipData
{
public:
    CFileClipData();

    // The binary form: move flag, has-directory flag, the instance, the
    // folder, the u32 count of names and the names.
    QByteArray Write() const;
    // Reads the binary form; false (the record as far as it got) when a
    // field is missing, a count promises more than the bytes left, or bytes
    // are left over.
    bool Read(const QByteArray& bytes);

    // Reads a text/uri-list of local files: all in one folder, file URIs
    // only, percent escapes decoded as UTF-8. The source becomes the local
    // data source of the engine root's tree. False without one, for an empty
    // list, a URI of another scheme or files of two folders.
    bool ReadUriList(const QByteArray& list, const KV_FileManPool& pool);
    // The record as a text/uri-list, for the local data source only.
    QByteArray ToUriList() const;

    // Copy 1, move 2, none 0, for a drop into `dst_dir` of the instance
    // `dst` whose pane copies by default (`copy_default`, the SFTP pane)
    // with Ctrl held (`ctrl`) or not.
    int GetDropEffect(KV_FileManPool& pool, const KV_FileManId& dst, const KV_PathDef& dst_dir,
                      bool copy_default, bool ctrl) const;

    // The rule behind GetDropEffect, from the engine root's answers.
    static int DropEffect(bool can_move, bool can_copy, bool copy_default, bool ctrl);

    KV_PathDef dir;
    bool move = false;
    bool has_dir = false;
    KV_FileManId src;
    KVTL::KV_ListVal<KV_String> names;
};

// A data-source node in a drag of the data-source view: the handle that view
// gave the dragged item, meaningful only inside it.
class CDsClipData
{
public:
    // The four bytes of the handle, least significant first.
    QByteArray Write() const;
    // False, leaving the handle as it was, unless exactly four bytes.
    bool Read(const QByteArray& bytes);

    uint32_t item = 0;
};

// The data put on the clipboard or into a drag: the record under `format`
// (the program's copy or drag format), and as a text/uri-list as well when
// `local` (the record's instance is the local data source). The caller owns
// the result.
QMimeData* MakeFileMimeData(const CFileClipData& clip, const QString& format, bool local);

// The paths of a text/uri-list: each file URI decoded to a local path;
// false for an empty list or a URI that names no local file.
bool ParseUriList(const QByteArray& list, QStringList& paths);

#endif
