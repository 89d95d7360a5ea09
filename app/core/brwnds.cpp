#include "core/brwnds.h"

#include "core/settings.h"

#include <QSettings>
#include <QVariant>

bool BrWndMan::BrWndPair::write_bin(KV_Storage& st) const
{
    return left.write_bin(st) && right.write_bin(st) && st.write_le(flags);
}

bool BrWndMan::BrWndPair::read_bin(KV_Storage& st)
{
    return left.read_bin(st) && right.read_bin(st) && st.read_le(flags);
}

bool BrWndMan::write_bin(KV_Storage& st) const
{
    if (!st.write_le(static_cast<uint32_t>(list.size()))) {
        return false;
    }
    for (uint32_t i = 0; i < list.size(); ++i) {
        if (!list.at(i).write_bin(st)) {
            return false;
        }
    }
    return true;
}

bool BrWndMan::read_bin(KV_Storage& st)
{
    clear();
    uint32_t n = 0;
    if (!st.read_le(n)) {
        return false;
    }
    // The count is not trusted for a reservation: a short value fails at
    // its first missing record.
    for (uint32_t i = 0; i < n; ++i) {
        BrWndPair pair;
        if (!pair.read_bin(st) || !append(pair)) {
            return false;
        }
    }
    return true;
}

bool BrWndMan::FromBytes(const QByteArray& bytes)
{
    clear();
    if (bytes.isEmpty() || bytes.size() > static_cast<qsizetype>(kMaxBytes)) {
        return true;
    }
    KV_Stream stream;
    if (!stream.append(reinterpret_cast<const unsigned char*>(bytes.constData()),
                       static_cast<uint32_t>(bytes.size()))) {
        return false;
    }
    return read_bin(stream);
}

bool BrWndMan::ToBytes(QByteArray& bytes) const
{
    KV_Stream stream;
    if (!write_bin(stream)) {
        return false;
    }
    const unsigned char* data = stream;
    bytes =
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(stream.length()));
    return true;
}

bool BrWndMan::Load()
{
    const QString conf = SettingsEnv().user_conf;
    if (conf.isEmpty()) {
        return true;
    }
    QSettings settings(conf, QSettings::IniFormat);
    const QVariant value = settings.value(QStringLiteral("Init/") + kKey);
    if (!value.isValid()) {
        return true;
    }
    // Binary values are stored as byte arrays; text typed into the file is
    // a value of another type.
    if (value.typeId() != QMetaType::QByteArray) {
        clear();
        return false;
    }
    return FromBytes(value.toByteArray());
}

bool BrWndMan::Save() const
{
    QByteArray bytes;
    if (!ToBytes(bytes)) {
        return false;
    }
    WriteProfileBinary(QStringLiteral("Init"), kKey, bytes);
    return true;
}
