// The engine's error sink and the progress sink of long copies.
//
// Every engine object reports failures as formatted text into a
// KV_ErrHandler; the informer is the main implementation, transfer logs and
// other owners implement it too. KV_ProgressMan receives the position reached
// by a long file copy.
#ifndef KV_FOUNDATION_KV_ERRHANDLER_H
#define KV_FOUNDATION_KV_ERRHANDLER_H

#include <cstdint>

#include "foundation/kv_event.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_ErrHandler : public KV_SafeObj
{
public:
    KV_ErrHandler() = default;
    // A copy gets a lock of its own: sharing one would let the two handlers
    // block each other, and the lock's state is no part of the handler's value.
    KV_ErrHandler(const KV_ErrHandler&) : KV_SafeObj() {}
    KV_ErrHandler& operator=(const KV_ErrHandler&) { return *this; }
    virtual ~KV_ErrHandler();

    // Formats printf-style (numbers in the C locale) and hands the text to
    // deliver_err, by default process_err under the handler's lock. The text
    // is cut to 4095 characters. Callable from any thread; unless a subclass
    // guards its own state, calls of one handler are serialised, so
    // process_err never runs twice at once. Must not be called from inside
    // process_err of the same handler (the lock is not re-entrant). Never
    // fails towards the caller: when no scratch memory can be had nothing is
    // reported.
    void set_err(uint8_t prio, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    // Hands the text as it is to process_err, serialised as above.
    void set_err(uint8_t prio, const KV_String& text);

    // The calling thread's errno as text (strerror), trimmed of blanks, tabs,
    // CR and LF, and errno set back to 0; empty when errno is 0. Used after a
    // failed file operation to add the system's reason to a message.
    static KV_String last_err();

protected:
    // Receives one formatted error. `prio` is the priority the reporter gave.
    // Runs on the reporting thread, under the handler's lock unless
    // deliver_err is overridden.
    virtual void process_err(uint8_t prio, const KV_String& text) = 0;
    // Hands one formatted error to process_err on the reporting thread. The
    // default serialises the calls under the handler's lock. A subclass whose
    // process_err may wait for long (for a person to close a dialog) and that
    // guards its own state overrides it to call process_err without the lock,
    // so that a second report is never held up by the first one's wait.
    virtual void deliver_err(uint8_t prio, const KV_String& text);

private:
    KV_Lock err_lock;
};

// Receives the absolute position, in bytes, reached by a copy in progress.
// Called on the copying thread after every chunk written.
class KV_ProgressMan
{
public:
    KV_ProgressMan() = default;
    KV_ProgressMan(const KV_ProgressMan&) = default;
    KV_ProgressMan& operator=(const KV_ProgressMan&) = default;
    virtual ~KV_ProgressMan() = default;

    virtual void progress(int64_t done) = 0;
};

#endif
