#include "foundation/kv_errhandler.h"

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <memory>
#include <mutex>
#include <new>

namespace {

// Room for 4095 characters and the terminator: the longest text an error may
// have.
constexpr size_t scratch_size = 4096;

// The "C" locale, made once, so that numbers in messages do not depend on the
// language the program set for the process.
locale_t c_locale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

} // namespace

KV_ErrHandler::~KV_ErrHandler() = default;

void KV_ErrHandler::set_err(uint8_t prio, const char* fmt, ...)
{
    std::unique_ptr<char[]> scratch(new (std::nothrow) char[scratch_size]);
    if (!scratch || !fmt)
        return;
    va_list args;
    va_start(args, fmt);
    locale_t loc = c_locale();
    locale_t old = loc ? uselocale(loc) : static_cast<locale_t>(nullptr);
    // vsnprintf cuts a longer result at scratch_size - 1 characters.
    int n = std::vsnprintf(scratch.get(), scratch_size, fmt, args);
    if (loc)
        uselocale(old);
    va_end(args);
    if (n < 0)
        return;
    deliver_err(prio, KV_String(scratch.get()));
}

void KV_ErrHandler::set_err(uint8_t prio, const KV_String& text)
{
    deliver_err(prio, text);
}

void KV_ErrHandler::deliver_err(uint8_t prio, const KV_String& text)
{
    std::lock_guard<KV_Lock> guard(err_lock);
    process_err(prio, text);
}

KV_String KV_ErrHandler::last_err()
{
    int err = errno;
    if (err == 0)
        return KV_String();
    // strerror() shares one buffer between threads; the GNU strerror_r gives
    // either its own static text or one written into ours.
    char buf[256];
    const char* text = strerror_r(err, buf, sizeof buf);
    errno = 0;
    return KV_String(text).trim(3, nullptr);
}
