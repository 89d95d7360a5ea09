#include "core/propvalues.h"

#include "foundation/kvtl.h"
#include "ssh/kv_sshcipher.h"

#include <limits>

namespace kvprop {

QString FromKv(const KV_String& text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.length()));
}

KV_String ToKv(const QString& text)
{
    return KV_String(text.toUtf8().constData());
}

NumCheck CheckUInt(const QString& text, uint32_t min, uint32_t max, uint32_t& value)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        return NumCheck::not_number;
    }
    uint64_t v = 0;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return NumCheck::not_number;
        }
        // Saturate instead of wrapping, so that a long row of digits is out
        // of range rather than some small number.
        if (v <= std::numeric_limits<uint32_t>::max()) {
            v = v * 10 + static_cast<uint64_t>(c.unicode() - '0');
        }
    }
    if (v < min || v > max) {
        return NumCheck::out_of_range;
    }
    value = static_cast<uint32_t>(v);
    return NumCheck::ok;
}

QString NumCheckMessage(NumCheck check, uint32_t min, uint32_t max)
{
    switch (check) {
    case NumCheck::not_number:
        return QStringLiteral("Please enter a positive integer.");
    case NumCheck::out_of_range:
        return QStringLiteral("Please enter an integer between %1 and %2.").arg(min).arg(max);
    case NumCheck::ok:
        break;
    }
    return QString();
}

uint32_t MsToSeconds(uint32_t ms)
{
    return ms / 1000;
}

uint32_t BytesToKb(int64_t bytes)
{
    if (bytes <= 0) {
        return 0;
    }
    const int64_t kb = bytes / 1024;
    return kb > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                     : static_cast<uint32_t>(kb);
}

int ConnModeToRadio(uint32_t mode)
{
    switch (mode) {
    case 2:
        return 1;
    case 1:
        return 2;
    default:
        return 0;
    }
}

uint32_t RadioToConnMode(int index)
{
    switch (index) {
    case 0:
        return 3;
    case 1:
        return 2;
    case 2:
        return 1;
    default:
        return 0;
    }
}

int KeepAliveToRadio(uint32_t cmd)
{
    return cmd <= 1 ? static_cast<int>(cmd) : -1;
}

uint8_t ListFlags(bool all_files, bool resolve_links)
{
    return static_cast<uint8_t>((all_files ? 1 : 0) | (resolve_links ? 2 : 0));
}

bool IsValidDefPath(const QString& trimmed, char dir_sep)
{
    return trimmed.isEmpty() || trimmed.at(0) == QLatin1Char(dir_sep);
}

const QStringList& HttpMethods()
{
    static const QStringList methods{"GET",      "HEAD",  "PUT",  "DELETE",
                                     "PROPFIND", "MKCOL", "MOVE", "COPY"};
    return methods;
}

uint16_t MethodMask(const std::vector<bool>& checked)
{
    uint16_t mask = 0;
    for (size_t i = 0; i < checked.size() && i < 16; ++i) {
        if (checked[i]) {
            mask = static_cast<uint16_t>(mask | (1u << i));
        }
    }
    return mask;
}

bool MethodChecked(uint16_t mask, int index)
{
    return index >= 0 && index < 16 && (mask & (1u << index)) != 0;
}

DocCheck CheckDocPath(const QString& trimmed)
{
    if (trimmed.isEmpty()) {
        return DocCheck::empty;
    }
    return trimmed.startsWith(QLatin1Char('/')) ? DocCheck::ok : DocCheck::invalid;
}

QString JoinDocs(const QStringList& items)
{
    QString text;
    for (const QString& item : items) {
        const QString t = item.trimmed();
        if (!t.isEmpty()) {
            text += t;
            text += QStringLiteral("\r\n");
        }
    }
    return text;
}

int VersionToRadio(const KV_HttpVer& version)
{
    if (version == KV_HttpVer(1, 0)) {
        return 0;
    }
    if (version == KV_HttpVer(1, 1)) {
        return 1;
    }
    return -1;
}

KV_HttpVer RadioToVersion(int index)
{
    switch (index) {
    case 0:
        return KV_HttpVer(1, 0);
    case 1:
        return KV_HttpVer(1, 1);
    default:
        return KV_HttpVer();
    }
}

std::vector<CipherCheck> CipherChecks(const KV_String& disabled)
{
    KVTL::KV_ListVal<KV_String> names;
    disabled.parse(names, ",");
    std::vector<CipherCheck> checks;
    for (uint32_t i = 0; i < KV_SshCipherDef::nciphers(); ++i) {
        const KV_SshCipherDef* def = KV_SshCipherDef::cipher(i);
        if (def == nullptr) {
            continue;
        }
        const KV_String name(def->name());
        checks.push_back({FromKv(name), !names.find(name)});
    }
    return checks;
}

KV_String DisabledCiphers(const std::vector<CipherCheck>& checks)
{
    QStringList off;
    for (const CipherCheck& c : checks) {
        if (!c.allowed) {
            off << c.name;
        }
    }
    return ToKv(off.join(QLatin1Char(',')));
}

Panes PanesFromWord(uint16_t disp_info)
{
    Panes p;
    for (int i = 0; i < 3; ++i) {
        p.own[i] = (disp_info & (1u << i)) != 0;
        p.other[i] = (disp_info & (0x100u << i)) != 0;
    }
    return p;
}

uint16_t PanesToWord(const Panes& panes)
{
    uint16_t word = 0;
    for (int i = 0; i < 3; ++i) {
        if (panes.own[i]) {
            word = static_cast<uint16_t>(word | (1u << i));
        }
        if (panes.other[i]) {
            word = static_cast<uint16_t>(word | (0x100u << i));
        }
    }
    return word;
}

void FixEmptySides(Panes& panes)
{
    if (!panes.own[0] && !panes.own[1] && !panes.own[2]) {
        panes.own[0] = true;
    }
    if (!panes.other[0] && !panes.other[1] && !panes.other[2]) {
        panes.other[0] = true;
    }
}

bool PaneSwitchable(const bool side[3], int index)
{
    for (int i = 0; i < 3; ++i) {
        if (i != index && side[i]) {
            return true;
        }
    }
    return false;
}

} // namespace kvprop
