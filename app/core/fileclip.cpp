#include "core/fileclip.h"

#include "datasources/kv_dstreenode.h"
#include "datasources/kv_filemanopts.h"
#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"
#include "root/kv_filemanpool.h"

#include <QMimeData>
#include <QUrl>

namespace {

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}
KV_String ToKV(const QString& s)
{
    return KV_String(s.toUtf8().constData());
}

// The little-endian u32 at the front of the stream; false when fewer than
// four bytes are there.
bool PeekCount(const KV_Stream& st, uint32_t& count)
{
    if (st.length() < 4) {
        return false;
    }
    count = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        count |= static_cast<uint32_t>(st.at(i)) << (8 * i);
    }
    return true;
}

} // namespace

CFileClipData::CFileClipData()
{
    names.set_grow(85);
}

QByteArray CFileClipData::Write() const
{
    KV_Stream st(256);
    bool ok = st.write_le<uint8_t>(move ? 1 : 0) && st.write_le<uint8_t>(has_dir ? 1 : 0) &&
              src.write_bin(st) && dir.write_bin(st) && st.write_le<uint32_t>(names.size());
    for (uint32_t i = 0; ok && i < names.size(); ++i) {
        ok = names.at(i).write_bin(st);
    }
    if (!ok || st.empty()) {
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char*>(static_cast<const unsigned char*>(st)),
                      static_cast<qsizetype>(st.length()));
}

bool CFileClipData::Read(const QByteArray& bytes)
{
    KV_Stream st(1);
    if (bytes.isEmpty() || !st.append(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                      static_cast<uint32_t>(bytes.size()))) {
        return false;
    }
    uint8_t m = 0;
    uint8_t d = 0;
    uint32_t count = 0;
    if (!st.read_le(m) || !st.read_le(d) || !src.read_bin(st) || !dir.read_bin(st) ||
        !st.read_le(count)) {
        return false;
    }
    move = m != 0;
    has_dir = d != 0;
    // Each name takes at least its own count of four bytes: a count beyond
    // what is left is refused before anything is read or reserved.
    if (count > st.length() / 4) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t units = 0;
        if (!PeekCount(st, units) || units > (st.length() - 4) / 2) {
            return false;
        }
        KV_String name;
        if (!name.read_bin(st) || !names.add(name)) {
            return false;
        }
    }
    return st.length() == 0;
}

bool ParseUriList(const QByteArray& list, QStringList& paths)
{
    paths.clear();
    for (const QByteArray& raw : list.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile()) {
            return false;
        }
        const QString path = url.toLocalFile();
        if (path.isEmpty() || !path.startsWith('/')) {
            return false;
        }
        paths << path;
    }
    return !paths.isEmpty();
}

bool CFileClipData::ReadUriList(const QByteArray& list, const KV_FileManPool& pool)
{
    QStringList paths;
    if (!ParseUriList(list, paths)) {
        return false;
    }
    const KV_DsTreeNode* local = pool.tree().find(KV_DS_NODE_STD, false);
    if (local == nullptr || local->opts() == nullptr) {
        return false;
    }
    const KV_PathMan& syntax = local->opts()->man_path();
    src = local->id();
    has_dir = false;
    move = false;
    for (int i = 0; i < paths.size(); ++i) {
        KV_PathDef path;
        if (!syntax.split_path(ToKV(paths[i]), path, false) || path.entries() == 0) {
            return false;
        }
        const KV_String name = path.at(path.entries() - 1);
        if (!path.remove_last()) {
            return false;
        }
        if (i == 0) {
            dir = path;
        } else if (!(path == dir)) {
            return false; // files of two folders are refused as a whole
        }
        if (!has_dir) {
            has_dir = KV_File::is_dir(ToKV(paths[i]));
        }
        if (!names.add(name)) {
            return false;
        }
    }
    return true;
}

QByteArray CFileClipData::ToUriList() const
{
    QByteArray list;
    QString folder;
    for (uint32_t i = 0; i < dir.entries(); ++i) {
        // The local syntax keeps the root separator as an entry of its own.
        const QString entry = ToQ(dir.at(i));
        if (entry != "/") {
            folder += "/" + entry;
        }
    }
    for (uint32_t i = 0; i < names.size(); ++i) {
        list += QUrl::fromLocalFile(folder + "/" + ToQ(names.at(i))).toEncoded() + "\r\n";
    }
    return list;
}

int CFileClipData::GetDropEffect(KV_FileManPool& pool, const KV_FileManId& dst,
                                 const KV_PathDef& dst_dir, bool copy_default, bool ctrl) const
{
    if (dst_dir.entries() == 0) {
        return 0;
    }
    const bool movable = pool.can_move(src, dst, dir, dst_dir, names, has_dir);
    const int effect = DropEffect(movable, true, copy_default, ctrl);
    if (effect == 1 && !pool.can_copy(src, dst, dir, dst_dir, names, has_dir)) {
        return 0;
    }
    return effect;
}

int CFileClipData::DropEffect(bool can_move, bool can_copy, bool copy_default, bool ctrl)
{
    // Ctrl swaps the pane's default; what cannot move is copied.
    const int effect = can_move && ctrl == copy_default ? 2 : 1;
    return effect == 1 && !can_copy ? 0 : effect;
}

QByteArray CDsClipData::Write() const
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(item >> (8 * i));
    }
    return bytes;
}

bool CDsClipData::Read(const QByteArray& bytes)
{
    if (bytes.size() != 4) {
        return false;
    }
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(bytes[i]);
    }
    item = value;
    return true;
}

QMimeData* MakeFileMimeData(const CFileClipData& clip, const QString& format, bool local)
{
    auto* data = new QMimeData;
    data->setData(format, clip.Write());
    if (local) {
        data->setData(QStringLiteral("text/uri-list"), clip.ToUriList());
    }
    return data;
}
