// KV_TransLog: the common frame of the transfer-log files.
#include "transfers/kv_translog.h"

#include <cstring>
#include <mutex>

#include "foundation/kv_tmpfile.h"

const char KV_TransLog::HDR_TEXT[KV_TransLog::HDR_SIZE] =
    "SARVO-KET: Temporary transfer file ( KIVREL v2.1 ).";

static_assert(sizeof("SARVO-KET: Temporary transfer file ( KIVREL v2.1 ).") ==
                  KV_TransLog::HDR_SIZE,
              "the header is 51 characters and its NUL");

KV_TransLog::KV_TransLog(const KV_String& name) : file(name, "rt")
{
    file.set_no_buff();
}

KV_TransLog::~KV_TransLog()
{
    file.close();
}

bool KV_TransLog::create(KV_ErrHandler& eh)
{
    KV_String err;
    bool ok = false;
    {
        std::lock_guard<KV_Lock> hold(lock);
        ok_ = 0;
        file.close();
        file.set_mode("wb");
        // The new file goes out in one piece when it is closed below, not
        // field by field: nothing reads it before its type byte is in.
        file.set_buff();
        // The frame's layout is fixed: the type byte follows the header.
        const int64_t type_pos = HDR_SIZE;
        const bool opened = file.open();
        file.set_no_buff();
        if (!opened) {
            err.format("Couldn't open the file %s for writing (%s).", file.name().data(),
                       KV_ErrHandler::last_err().data());
        } else {
            const unsigned char zero = 0;
            ok = file.write(reinterpret_cast<const unsigned char*>(HDR_TEXT), HDR_SIZE) ==
                     HDR_SIZE &&
                 file.write(&zero, 1) == 1 && write_data();
            // A full disk may show only when the buffer goes out.
            ok = file.flush() && ok;
        }
        file.close();
        file.set_mode("r+b");
        if (ok) {
            const unsigned char t = type();
            ok = file.open() && file.set_pos(type_pos) && file.write(&t, 1) == 1;
            if (!ok)
                file.close();
        }
        ok_ = ok ? 1 : 0;
    }
    if (!err.empty())
        eh.set_err(2, err);
    return ok;
}

bool KV_TransLog::restore(KV_ErrHandler& eh, uint8_t* type_out)
{
    (void)eh;
    std::lock_guard<KV_Lock> hold(lock);
    ok_ = 0;
    file.close();
    file.set_mode("rb");
    // Read through a buffer: the body is read field by field, and the stream
    // opened here is closed before anything writes. A start with many saved
    // requests would otherwise make a system call per field.
    file.set_buff();
    bool ok = file.open() && tmp_file_man().reg(file.name());
    file.set_no_buff();
    if (ok) {
        // The NUL at offset 51 is part of the header: another version of the
        // text with the same 51 characters must not pass.
        unsigned char hdr[HDR_SIZE];
        ok = file.read(hdr, HDR_SIZE) == HDR_SIZE && std::memcmp(hdr, HDR_TEXT, HDR_SIZE) == 0;
    }
    unsigned char t = 0;
    ok = ok && file.read(&t, 1) == 1;
    if (ok) {
        if (type_out != nullptr) {
            *type_out = t;
        } else {
            // Type 0 marks a creation that never finished: no kind takes it,
            // not even the bare frame.
            ok = t != 0 && t == type() && read_data();
        }
    }
    file.close();
    file.set_mode("r+b");
    if (ok && type_out == nullptr) {
        ok = file.open();
        ok_ = ok ? 1 : 0;
    }
    return ok;
}

void KV_TransLog::close()
{
    std::lock_guard<KV_Lock> hold(lock);
    file.close();
}

bool KV_TransLog::set_name(const KV_String& name)
{
    std::lock_guard<KV_Lock> hold(lock);
    return file.set_name(name);
}

bool KV_TransLog::ok()
{
    std::lock_guard<KV_Lock> hold(lock);
    return ok_ != 0;
}

uint8_t KV_TransLog::type() const
{
    return 0;
}

KV_TmpFileMan& KV_TransLog::tmp_file_man()
{
    return KV_TmpFileMan::singleton();
}

void KV_TransLog::process_err(uint8_t code, const KV_String& text)
{
    (void)code;
    (void)text;
}

bool KV_TransLog::write_data()
{
    return true;
}

bool KV_TransLog::read_data()
{
    return true;
}

bool KV_TransLog::reopen()
{
    if (file.opened())
        return true;
    return ok_ != 0 && file.open();
}
