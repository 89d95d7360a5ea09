#include "net/kv_speedmeter.h"

#include <chrono>

std::atomic<KV_MeterClock> KV_SpeedMeter::clock_{nullptr};

namespace {

int64_t clock_ms(KV_MeterClock clock)
{
    if (clock)
        return clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

KV_SpeedMeter::KV_SpeedMeter()
{
    reset();
}

void KV_SpeedMeter::set_impl_clock(KV_MeterClock clock)
{
    clock_.store(clock);
}

int64_t KV_SpeedMeter::now() const
{
    const int64_t d = clock_ms(clock_.load(std::memory_order_relaxed)) - base;
    return d < 0 ? 0 : d;
}

void KV_SpeedMeter::reset()
{
    base = clock_ms(clock_.load(std::memory_order_relaxed));
    last_query = 0;
    count = 1;
    samples[0] = {0, 0};
    sum = 0;
}

void KV_SpeedMeter::add(uint64_t n)
{
    const int64_t t = now();
    samples[0].bytes += n;
    sum += n;
    const int64_t age = t - static_cast<int64_t>(samples[0].start);
    if (age <= 1000)
        return;
    if (count == NSAMPLES)
        sum -= samples[NSAMPLES - 1].bytes;
    else
        ++count;
    for (uint32_t i = count - 1; i > 0; --i)
        samples[i] = samples[i - 1];
    samples[0] = {static_cast<uint64_t>(t), 0};
}

int64_t KV_SpeedMeter::span(int64_t t) const
{
    if (count < 1 || count > NSAMPLES)
        return 0;
    return t - static_cast<int64_t>(samples[count - 1].start);
}

double KV_SpeedMeter::rate(uint64_t min_interval_ms)
{
    add(0);
    const int64_t t = now();
    if (min_interval_ms != 0 &&
        t - static_cast<int64_t>(last_query) < static_cast<int64_t>(min_interval_ms))
        return -1.0;
    const double s = static_cast<double>(span(t));
    double r = 0.0;
    if (s > 0.0001)
        r = static_cast<double>(sum) * 1000.0 / s;
    last_query = static_cast<uint64_t>(t);
    return r;
}

int64_t KV_SpeedMeter::allowance(double limit) const
{
    const double bytes_ms = limit * static_cast<double>(span(now()));
    // A limit of terabytes per second over a long pause overflows 64 bits:
    // clamp before the conversion, which would otherwise be undefined.
    int64_t allowed;
    if (!(bytes_ms > 0))
        allowed = 0;
    else if (bytes_ms >= 9.2e18)
        allowed = INT64_MAX / 1000;
    else
        allowed = static_cast<int64_t>(bytes_ms) / 1000;
    const uint64_t a = static_cast<uint64_t>(allowed);
    return a > sum ? static_cast<int64_t>(a - sum) : 0;
}
