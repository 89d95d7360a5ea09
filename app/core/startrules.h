#ifndef KIVREL_CORE_STARTRULES_H
#define KIVREL_CORE_STARTRULES_H

// The rules of start-up that need no window: the bytes a second start hands
// to the running instance, when the automatic update check is due, the
// address inside an internet shortcut file and which start tip comes next.

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

// ---- forwarded command lines
// A second start sends, over the running instance's local socket: the tag
// (u32), the payload's length (u32), the payload; integers little-endian.
// The payload is the argument vector: u32 count, program path included,
// then each argument in KV_String's binary form (u32 length, each byte as a
// sign-extended 16-bit unit). The receiver answers one byte after it has run
// the command.
inline constexpr uint32_t kForwardTag = 0xA09;
// A larger payload is refused before any of it is read.
inline constexpr uint32_t kForwardMaxPayload = 1u << 20;

// The payload of `args` (bytes as given, program path first).
QByteArray PackCommandLine(const QList<QByteArray>& args);
// Tag, length, payload.
QByteArray FrameForward(const QByteArray& payload);

// Reads one forwarded command line from a stream of chunks.
class CForwardReader
{
public:
    enum State { kNeedMore, kDone, kRefused };
    // Takes the next chunk; bytes after a complete frame refuse it (a sender
    // sends one frame and waits for the answer).
    State Feed(const char* data, size_t size);
    State GetState() const { return state; }
    const QByteArray& Payload() const { return payload; }

private:
    State state = kNeedMore;
    QByteArray header;
    uint32_t length = 0;
    QByteArray payload;
};

// ---- the automatic update check
struct CUpdateCheckInput
{
    bool enabled = true;     // "UI"/"AutoUpdate" not 0
    bool has_server = false; // the update manager knows a server
    QString installing_user; // machine-wide "Init"/"UserInst"; empty: none
    QString user;            // the user running the program
    bool has_stamp = false;  // "Init"/"AutoUpdtCheck" is there
    QByteArray stamp;        // its bytes
    int64_t now = 0;         // seconds since 1970
};
struct CUpdateCheckDecision
{
    bool write_stamp = false; // write `stamp` as "AutoUpdtCheck"
    QByteArray stamp;
    bool check = false; // start the check
};
// At most every 14 days, only for the installing user, the first time only
// noting the time. The stamp is 4 bytes little-endian, read unsigned, so
// that times after January 2038 still count forward.
CUpdateCheckDecision DecideUpdateCheck(const CUpdateCheckInput& in);
inline constexpr uint32_t kUpdateCheckInterval = 14 * 24 * 60 * 60;

// ---- internet shortcut files
// The address of the first "URL=" line (up to the first blank), reading
// until an empty line or the end; lines longer than 4 KiB end the reading.
// Empty when there is none.
QString ReadShortcutUrl(QIODevice& file);

// ---- the quit
// While quitting, whether every engine thread ended is asked at most every
// kTermPollMs: asking on every idle pass would spin a core for as long as a
// transfer takes to stop. How long to wait before the next question, 0 when
// it is due now; `last_ms` < 0: never asked.
inline constexpr int64_t kTermPollMs = 50;
int64_t TermPollDelay(int64_t last_ms, int64_t now_ms);

// ---- start tips
// The tip after `current`: current + 1 when `exists` says that page is
// there, else tip 1 when it is there, else 0 (no tips at all).
int NextTip(int current, const std::function<bool(int)>& exists);

#endif
