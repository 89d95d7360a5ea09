#include "core/brwnds.h"

#include "core/settings.h"

#include <QSettings>
#include <QVariant>
#include <algorithm>
#include <cstring>

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
    // A stored value holds at most 1 MiB, and a record takes at least 38
    // bytes: room for that many at once, so that a damaged count cannot
    // make the list grow step by step through a long value.
    list.reserve(std::min<uint32_t>(n, kMaxBytes / kMinRecord));
    for (uint32_t i = 0; i < n; ++i) {
        BrWndPair pair;
        if (!pair.read_bin(st) || !append(pair)) {
            return false;
        }
    }
    return true;
}

namespace {

// Reads a byte array from the front without moving what is left: a stream
// that gives up its first bytes on every read copies the rest each time,
// which turns reading a long value into minutes.
class CByteReader : public KV_Storage
{
public:
    explicit CByteReader(const QByteArray& bytes) : bytes(bytes) {}
    uint32_t read(void* dst, uint32_t n) override
    {
        const qsizetype left = bytes.size() - pos;
        const uint32_t take = static_cast<uint32_t>(std::min<qsizetype>(left, n));
        if (take > 0) {
            std::memcpy(dst, bytes.constData() + pos, take);
            pos += take;
        }
        return take;
    }
    uint32_t write(const unsigned char*, uint32_t) override { return 0; }

private:
    const QByteArray& bytes;
    qsizetype pos = 0;
};

} // namespace

bool BrWndMan::FromBytes(const QByteArray& bytes)
{
    clear();
    if (bytes.isEmpty() || bytes.size() > static_cast<qsizetype>(kMaxBytes)) {
        return true;
    }
    CByteReader reader(bytes);
    return read_bin(reader);
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
