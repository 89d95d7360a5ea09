#include "core/cmdforward.h"

#include "foundation/kv_storage.h"

namespace {

uint32_t ReadU32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Whether the payload's count and lengths fit its bytes exactly.
bool Fits(const unsigned char* p, uint32_t size)
{
    if (size < 4) {
        return false;
    }
    const uint32_t n = ReadU32(p);
    uint32_t at = 4;
    // Every string needs at least its length field.
    if (n > (size - at) / 4) {
        return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (size - at < 4) {
            return false;
        }
        const uint32_t chars = ReadU32(p + at);
        at += 4;
        if (chars > (size - at) / 2) {
            return false;
        }
        at += chars * 2;
    }
    return at == size;
}

KV_String Trimmed(const KV_String& s)
{
    return s.trim(3, " \t\r\n");
}

} // namespace

bool UnpackCommandLine(const QByteArray& payload, std::vector<KV_String>& args)
{
    args.clear();
    const auto* bytes = reinterpret_cast<const unsigned char*>(payload.constData());
    const uint32_t size = static_cast<uint32_t>(payload.size());
    if (payload.size() > static_cast<qsizetype>(UINT32_MAX) || !Fits(bytes, size)) {
        return false;
    }
    KV_Stream st(1);
    if (!st.append(bytes, size)) {
        return false;
    }
    unsigned char count[4];
    if (st.read(count, 4) != 4) {
        return false;
    }
    const uint32_t n = ReadU32(count);
    for (uint32_t i = 0; i < n; ++i) {
        KV_String s;
        if (!s.read_bin(st)) {
            args.clear();
            return false;
        }
        if (i > 0) {
            args.push_back(Trimmed(s).trim(3, "\""));
        }
    }
    return true;
}

CCmdLineAction ParseCommandLine(const std::vector<KV_String>& args)
{
    CCmdLineAction action;
    if (args.empty()) {
        return action;
    }
    const KV_String cmd = args[0].upper();
    const size_t count = args.size();
    auto wrong = [&action](int expected) {
        action.kind = CCmdLineAction::kError;
        action.error =
            QStringLiteral("Wrong number of parameters (%1 parameter(s) expected).").arg(expected);
        return action;
    };
    if (cmd == "REG") {
        if (count != 2) {
            return wrong(1);
        }
        action.kind = CCmdLineAction::kRegister;
        action.first = args[1];
    } else if (cmd == "CP") {
        if (count != 2 && count != 3) {
            return wrong(2);
        }
        action.kind = CCmdLineAction::kCopy;
        action.first = args[1];
        if (count == 3) {
            action.second = args[2];
        }
    } else if (cmd == "WEXPL_DROP") {
        if (count != 4) {
            return wrong(3);
        }
        const KV_String how = Trimmed(args[2].upper());
        const KV_String what = Trimmed(args[3].upper());
        if ((how != "DD" && how != "CL") || (what != "MV" && what != "CP")) {
            return action;
        }
        action.kind = CCmdLineAction::kDrop;
        action.first = args[1];
        action.drag = how == "DD";
        action.move = what == "MV";
    } else {
        action.kind = CCmdLineAction::kError;
        action.error =
            QStringLiteral("Unrecognized command %1.")
                .arg(QString::fromUtf8(cmd.data(), static_cast<qsizetype>(cmd.length())));
    }
    return action;
}
