#include "core/startrules.h"

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

#include <cstring>

namespace {

void PutLe32(QByteArray& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

uint32_t GetLe32(const char* p)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    }
    return v;
}

} // namespace

QByteArray PackCommandLine(const QList<QByteArray>& args)
{
    KV_Stream st;
    bool ok = st.write_le(static_cast<uint32_t>(args.size()));
    for (const QByteArray& a : args) {
        KV_String arg;
        ok = ok &&
             arg.append(reinterpret_cast<const unsigned char*>(a.constData()),
                        static_cast<uint32_t>(a.size())) &&
             arg.write_bin(st);
    }
    if (!ok || st.empty()) {
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char*>(static_cast<const unsigned char*>(st)),
                      static_cast<qsizetype>(st.length()));
}

QByteArray FrameForward(const QByteArray& payload)
{
    QByteArray out;
    PutLe32(out, kForwardTag);
    PutLe32(out, static_cast<uint32_t>(payload.size()));
    out.append(payload);
    return out;
}

CForwardReader::State CForwardReader::Feed(const char* data, size_t size)
{
    while (state == kNeedMore && size > 0) {
        if (header.size() < 8) {
            const size_t take = std::min<size_t>(size, 8 - static_cast<size_t>(header.size()));
            header.append(data, static_cast<qsizetype>(take));
            data += take;
            size -= take;
            if (header.size() < 8) {
                break;
            }
            length = GetLe32(header.constData() + 4);
            if (GetLe32(header.constData()) != kForwardTag || length > kForwardMaxPayload) {
                state = kRefused;
                break;
            }
            payload.reserve(static_cast<qsizetype>(length));
        }
        const size_t want = length - static_cast<size_t>(payload.size());
        const size_t take = std::min(size, want);
        payload.append(data, static_cast<qsizetype>(take));
        data += take;
        size -= take;
        if (static_cast<size_t>(payload.size()) == length) {
            state = kDone;
        }
    }
    if (state == kDone && size > 0) {
        state = kRefused;
    }
    if (state == kNeedMore && header.size() == 8 && length == 0) {
        state = kDone;
    }
    if (state == kRefused) {
        payload.clear();
    }
    return state;
}

CUpdateCheckDecision DecideUpdateCheck(const CUpdateCheckInput& in)
{
    CUpdateCheckDecision d;
    // Without a server the engine would report that as an error at every
    // start; nothing is checked or noted then.
    if (!in.enabled || !in.has_server || in.installing_user.isEmpty() ||
        in.installing_user != in.user) {
        return d;
    }
    const bool valid = in.has_stamp && in.stamp.size() == 4;
    // Unsigned: a signed 32-bit comparison turns negative in 2038 and never
    // checks again.
    const uint64_t now = in.now < 0 ? 0 : static_cast<uint64_t>(in.now);
    if (valid &&
        now <= static_cast<uint64_t>(GetLe32(in.stamp.constData())) + kUpdateCheckInterval) {
        return d;
    }
    d.write_stamp = true;
    PutLe32(d.stamp, static_cast<uint32_t>(now));
    d.check = valid;
    return d;
}

QString ReadShortcutUrl(QIODevice& file)
{
    constexpr qint64 kMaxLine = 4096;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(kMaxLine + 2);
        if (line.size() > kMaxLine && !line.endsWith('\n')) {
            return QString();
        }
        while (line.endsWith('\n') || line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.isEmpty()) {
            return QString();
        }
        if (line.startsWith("URL=")) {
            QByteArray address = line.mid(4).trimmed();
            for (qsizetype i = 0; i < address.size(); ++i) {
                if (address[i] == ' ' || address[i] == '\t') {
                    address.truncate(i);
                    break;
                }
            }
            if (!address.isEmpty()) {
                return QString::fromUtf8(address);
            }
        }
    }
    return QString();
}

int64_t TermPollDelay(int64_t last_ms, int64_t now_ms)
{
    if (last_ms < 0 || now_ms < last_ms || now_ms - last_ms >= kTermPollMs) {
        return 0;
    }
    return kTermPollMs - (now_ms - last_ms);
}

int NextTip(int current, const std::function<bool(int)>& exists)
{
    const int next = current < 0 ? 1 : current + 1;
    if (next > 0 && exists(next)) {
        return next;
    }
    return exists(1) ? 1 : 0;
}
