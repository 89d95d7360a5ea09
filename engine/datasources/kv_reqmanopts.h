// Options of the request managers.
//
// KV_FileReqManOpts is what every request manager shares: how many workers it
// runs, how often a failed request is retried, how long it waits before a
// restart, and the path notation of its side (it is a KV_PathMan).
// KV_FileTransManOpts adds the settings of the engine's one transfer manager.
// Some of those are process-wide values of other classes (bandwidth limits,
// certificate flags, display settings): its accessors forward to them, so that
// the settings dialog and the data-source file treat them like the rest, and
// every copy of the object shares them.
//
// Loading from the data-source file never trusts a value: a number that is not
// a decimal number or does not fit its field is ignored, and the field keeps
// its value. AUTO_RM_REQ and AUTO_RM_REQ_START, sets of flag bits, are the
// exception: they keep the low 8 bits of the number.
//
// Threads: plain values, one thread at a time per object. The forwarded
// settings are thread-safe where their owners say so (the bandwidth limits,
// the certificate flags and the flash length are).
#pragma once

#include <atomic>

#include <cstdint>

#include "foundation/kv_path.h"
#include "foundation/kv_string.h"

class KV_Storage;

class KV_FileReqManOpts : public KV_PathMan
{
public:
    // The local path notation; ntavos is stored as given (0 stays 0), no
    // retry limit.
    explicit KV_FileReqManOpts(uint32_t ntavos = 0, uint32_t rest_wait = 0);
    KV_FileReqManOpts(const KV_FileReqManOpts& other) = default;
    KV_FileReqManOpts& operator=(const KV_FileReqManOpts& other) = default;

    // Number of workers; the setter stores 1 for 0.
    uint32_t ntavos() const { return ntavos_; }
    void set_ntavos(uint32_t n) { ntavos_ = n ? n : 1; }
    // Retries of a failed request; 0 retries without limit.
    uint32_t nretries() const { return nretries_; }
    void set_nretries(uint32_t n) { nretries_ = n; }
    // Wait before a failed request is restarted.
    uint32_t rest_wait() const { return rest_wait_; }
    void set_rest_wait(uint32_t wait) { rest_wait_ = wait; }

    // The path notation of this side.
    const KV_PathMan& man_path() const { return *this; }

private:
    uint32_t ntavos_;
    uint32_t nretries_ = 0;
    uint32_t rest_wait_;
};

// Accessors of the process-wide bandwidth limits, in bytes per second. The
// sessions of the network layer keep the limits and apply them (a new limit
// restarts their meters), so that layer, which sits above this one, installs
// its accessors when the library is loaded (net/kv_session.cpp).
struct KV_BwtLimitHooks
{
    double (*get_in)();
    double (*get_out)();
    void (*set_in)(double bytes_per_sec);
    void (*set_out)(double bytes_per_sec);
};

class KV_FileTransManOpts : public KV_FileReqManOpts
{
public:
    // 100 workers, no restart wait, 500 retries per request, 50 per file, 100
    // temporary files, completed and cancelled requests removed at once and
    // failed ones at the next start.
    KV_FileTransManOpts();
    KV_FileTransManOpts(const KV_FileTransManOpts& other) = default;
    // The base and the four own fields; the forwarded settings are shared and
    // so not copied.
    KV_FileTransManOpts& operator=(const KV_FileTransManOpts& other) = default;

    // Finished requests removed automatically, by final status: 0x01
    // completed, 0x02 failed, 0x04 cancelled.
    uint8_t auto_rm_req() const { return auto_rm_req_; }
    void set_auto_rm_req(uint8_t bits) { auto_rm_req_ = bits; }
    // Removed in addition when the application next starts.
    uint8_t auto_rm_req_st() const { return auto_rm_req_st_; }
    void set_auto_rm_req_st(uint8_t bits) { auto_rm_req_st_ = bits; }
    // Temporary files per transfer; 0 means no limit.
    uint32_t ntmpfiles() const { return ntmpfiles_; }
    void set_ntmpfiles(uint32_t n) { ntmpfiles_ = n; }
    // Retries of one operation within a transfer; 0 retries without limit.
    uint32_t nfretries() const { return nfretries_; }
    void set_nfretries(uint32_t n) { nfretries_ = n; }

    // ---- process-wide settings: the flash length and the trust flags are
    // kept here and read by the classes that use them (KV_FileReqInfo,
    // KV_FtpMan, KV_HttpMan); the bandwidth limits and the time format are
    // forwarded to the classes that apply them

    // Flash length of a request's result indicator, in pairs of steps
    // (KV_FileReqInfo); 7 by default.
    static uint32_t add_init_cnt() { return add_init_cnt_.load(std::memory_order_relaxed); }
    static void set_add_init_cnt(uint32_t pairs)
    {
        add_init_cnt_.store(pairs, std::memory_order_relaxed);
    }
    // Global bandwidth limits in KB/s (1 KB = 1024 bytes); 0 means none.
    // The network layer holds them in bytes per second. A value that is
    // negative, not a number, or whose byte rate is not finite is ignored.
    // Until the network layer has installed its accessors (set_bwt_hooks)
    // they read 0 and a new value is dropped.
    static double bwt_speed_in();
    static void set_bwt_speed_in(double kb_per_sec);
    static double bwt_speed_out();
    static void set_bwt_speed_out(double kb_per_sec);
    // `hooks` must live as long as the library (null removes them).
    static void set_bwt_hooks(const KV_BwtLimitHooks* hooks);
    // Trust an FTPS (HTTPS) server certificate only when it is in the local
    // store of trusted certificates; true (false) by default.
    static bool trexpl_ftps() { return trexpl_ftps_.load(std::memory_order_relaxed); }
    static void set_trexpl_ftps(bool trexpl)
    {
        trexpl_ftps_.store(trexpl, std::memory_order_relaxed);
    }
    static bool trexpl_https() { return trexpl_https_.load(std::memory_order_relaxed); }
    static void set_trexpl_https(bool trexpl)
    {
        trexpl_https_.store(trexpl, std::memory_order_relaxed);
    }
    // strftime format of displayed file times (KV_FileData); "%c" by default.
    static KV_String tm_form_disp();
    static void set_tm_form_disp(const KV_String& form);

    // Writes the keyed values that differ from the defaults, in a fixed
    // order. False as soon as one write fails.
    bool save(KV_Storage& st) const;
    // Takes one keyed value. handled := whether the key is one of this
    // class's. False only for a flag whose value is neither YES nor NO (the
    // setting then stays as it was).
    bool load(const KV_String& key, const KV_String& value, bool& handled);

private:
    uint8_t auto_rm_req_ = 0x05;
    uint8_t auto_rm_req_st_ = 0x02;
    uint32_t ntmpfiles_ = 100;
    uint32_t nfretries_ = 50;

    static std::atomic<uint32_t> add_init_cnt_;
    static std::atomic<bool> trexpl_ftps_;
    static std::atomic<bool> trexpl_https_;
    static std::atomic<const KV_BwtLimitHooks*> bwt_hooks_;
};
