#include "core/versioninfo.h"

#include <sys/stat.h>

bool CVersionInfo::Read(const QString& path)
{
    Clear();
    struct stat file
    {
    };
    struct stat self
    {
    };
    if (stat(path.toUtf8().constData(), &file) != 0 || stat("/proc/self/exe", &self) != 0 ||
        file.st_dev != self.st_dev || file.st_ino != self.st_ino) {
        return false;
    }
    return ReadBlock(&kv_program_version_block);
}

bool CVersionInfo::ReadBlock(const CVersionBlock* b)
{
    Clear();
    if (!b || !b->has_fixed) {
        return false;
    }
    block = b;
    if (b->translations && b->translation_count > 0) {
        lang = static_cast<uint16_t>(b->translations[0] & 0xFFFF);
        code_page = static_cast<uint16_t>(b->translations[0] >> 16);
    }
    return true;
}

void CVersionInfo::Clear()
{
    lang = 0;
    code_page = 1252;
    block = nullptr;
}

uint64_t CVersionInfo::GetProductVersion() const
{
    return block ? block->product_version : 0;
}

QString CVersionInfo::GetValue(const QString& key) const
{
    if (!block) {
        return QString();
    }
    const QString table = QStringLiteral("%1%2")
                              .arg(lang, 4, 16, QLatin1Char('0'))
                              .arg(code_page, 4, 16, QLatin1Char('0'));
    for (size_t i = 0; i < block->string_count; ++i) {
        const CVersionString& s = block->strings[i];
        if (table == QLatin1String(s.table) && key == QLatin1String(s.key)) {
            return QString::fromUtf8(s.value);
        }
    }
    return QString();
}
