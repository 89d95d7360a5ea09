// The byte meter of one direction of one session, or of all sessions
// together: the average rate over a sliding window of up to 16 samples of
// about a second or more each, and how many more bytes may pass now under a
// limit in bytes per second.
//
// A sample closes at the first add() that comes more than one second after it
// opened; a quiet period creates no empty samples, so one sample may span a
// long pause (the rate then drops and the allowance grows accordingly).
//
// Threads: no lock of its own. A session's meters are used by its thread
// only; the global meters are used under their direction's lock (see
// KV_Session). rate() changes the meter, so it needs the same protection as
// add().
#pragma once

#include <atomic>
#include <cstdint>

// A clock for the meters: milliseconds on any monotonic scale.
using KV_MeterClock = int64_t (*)();

class KV_SpeedMeter
{
public:
    // reset().
    KV_SpeedMeter();
    KV_SpeedMeter(const KV_SpeedMeter&) = default;
    KV_SpeedMeter& operator=(const KV_SpeedMeter&) = default;

    // Restarts the timer with one empty sample and no bytes.
    void reset();
    // Counts n bytes; may close the newest sample and open a new one.
    void add(uint64_t n);
    // Bytes per second over the window, or -1.0 when asked again less than
    // min_interval_ms after the last answer (0: always answers). Right after
    // reset() a query with a minimum interval answers -1.0 for that long.
    double rate(uint64_t min_interval_ms);
    // How many more bytes may pass now so that the window stays within
    // `limit` bytes per second; 0 when none. Never negative; a huge limit or
    // span is clamped instead of overflowing the 64-bit conversion.
    int64_t allowance(double limit) const;

    // Installs the clock every meter reads (null: the steady clock). For
    // tests that drive time by hand; any thread, but meters in use see the
    // jump.
    static void set_impl_clock(KV_MeterClock clock);

private:
    static constexpr uint32_t NSAMPLES = 16;
    struct Sample
    {
        uint64_t start;
        uint64_t bytes;
    };

    // Milliseconds since the last reset.
    int64_t now() const;
    // now() - the oldest sample's start, or 0 when the window is empty.
    int64_t span(int64_t now) const;

    // The clock reading at the last reset.
    int64_t base = 0;
    uint64_t sum = 0;
    uint32_t count = 0;
    uint64_t last_query = 0;
    Sample samples[NSAMPLES] = {};

    static std::atomic<KV_MeterClock> clock_;
};
