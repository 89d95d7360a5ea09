#include "core/filecols.h"

#include <QMimeDatabase>
#include <QMimeType>
#include <algorithm>

namespace {

constexpr CFileColumnDef kColumns[kFileColumnCount] = {
    {kColName, "Name", 200},
    {kColSize, "Size", 80},
    {kColType, "Type", 180},
    {kColTime, "Time", 100},
    {kColPermissions, "Permissions", 100},
    {kColUser, "User", 100},
    {kColGroup, "Group", 100},
};

QString FromBytes(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.length()));
}

} // namespace

const CFileColumnDef* GetFileColumnDef(int index)
{
    if (index < 0 || index >= kFileColumnCount) {
        return nullptr;
    }
    return &kColumns[index];
}

std::vector<int> DefaultFileColumns()
{
    return {0, 1, 2, 3};
}

QString FileColumnsProfileKey(int man_type)
{
    return QStringLiteral("FileListCols%1").arg(man_type);
}

std::vector<int> ParseFileColumns(const QString& value)
{
    std::vector<int> out;
    for (const QChar c : value) {
        const int index = c.digitValue();
        if (c.unicode() > 0x7F || GetFileColumnDef(index) == nullptr) {
            continue;
        }
        if (std::find(out.begin(), out.end(), index) == out.end()) {
            out.push_back(index);
        }
    }
    return out.empty() ? DefaultFileColumns() : out;
}

QString FormatFileColumns(const std::vector<int>& columns)
{
    QString out;
    for (int index : columns) {
        out += QString::number(index);
    }
    return out;
}

KV_SORT_FD SortKeyOfColumn(int code)
{
    switch (code) {
    case kColSize:
        return KV_SORT_FD_SIZE;
    case kColType:
        return KV_SORT_FD_EXT;
    case kColTime:
        return KV_SORT_FD_TIME;
    case kColPermissions:
        return KV_SORT_FD_ACCF;
    case kColUser:
        return KV_SORT_FD_USER;
    case kColGroup:
        return KV_SORT_FD_GROUP;
    default:
        return KV_SORT_FD_NAME;
    }
}

void CFileSortOrder::Click(KV_SORT_FD clicked)
{
    if (clicked == key) {
        descending = !descending;
    } else {
        key = clicked;
    }
}

QString FileTypeFallback(const KV_FileData& fd)
{
    if (fd.is_dir()) {
        return QString();
    }
    const KV_String ext = fd.fext();
    if (ext.length() == 0) {
        return QStringLiteral("File");
    }
    return QStringLiteral(".%1 File").arg(FromBytes(ext.upper()));
}

QString FileTypeText(const KV_FileData& fd)
{
    const QMimeDatabase db;
    if (fd.is_dir()) {
        const QMimeType dir = db.mimeTypeForName(QStringLiteral("inode/directory"));
        return dir.isValid() ? dir.comment() : QString();
    }
    const QList<QMimeType> types = db.mimeTypesForFileName(FromBytes(fd.name()));
    if (!types.isEmpty() && !types.first().comment().isEmpty()) {
        return types.first().comment();
    }
    return FileTypeFallback(fd);
}

QString FileColumnText(const KV_FileData& fd, int code)
{
    const auto* ext =
        fd.type() == KV_FD_DATA_EXT ? static_cast<const KV_FileDataExt*>(&fd) : nullptr;
    switch (code) {
    case kColName:
        return FromBytes(fd.name());
    case kColSize:
        return fd.valid_size(false) ? QString::number(fd.size(false)) : QString();
    case kColType:
        return FileTypeText(fd);
    case kColTime:
        return fd.valid_time() ? FromBytes(fd.tm_disp()) : QString();
    case kColPermissions:
        return ext != nullptr ? FromBytes(ext->accf()) : QString();
    case kColUser:
        return ext != nullptr ? FromBytes(ext->user()) : QString();
    case kColGroup:
        return ext != nullptr ? FromBytes(ext->group()) : QString();
    default:
        return QString();
    }
}

int SortedInsertPos(int count, const std::function<bool(int)>& sorts_after)
{
    int lo = 0;
    int hi = count;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (sorts_after(mid)) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}
