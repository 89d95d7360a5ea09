// The FTP protocol manager: the control connection of one FTP worker.
//
// This far the class holds its process-wide certificate flag, which the
// transfer manager's options set (TREXPL_FTPS in the data-source file).
//
// Threads: the static flag may be read and written from any thread.
#pragma once

#include <atomic>

class KV_FtpMan
{
public:
    // When set, an FTPS server certificate is trusted only when it is in the
    // local store of trusted certificates (or the user accepts it). True by
    // default.
    static void set_trexpl(bool trexpl) { _trexpl.store(trexpl, std::memory_order_relaxed); }
    static bool trexpl() { return _trexpl.load(std::memory_order_relaxed); }

private:
    static std::atomic<bool> _trexpl;
};
