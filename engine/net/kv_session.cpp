#include "net/kv_session.h"

#include <cmath>
#include <mutex>

KV_Lock KV_Session::lock_in;
KV_Lock KV_Session::lock_out;
double KV_Session::bwt_in = 0;
double KV_Session::bwt_out = 0;

namespace {

bool valid_limit(double bytes_per_sec)
{
    return std::isfinite(bytes_per_sec) && bytes_per_sec >= 0;
}

} // namespace

void KV_Session::set_bwt_speed_in(double bytes_per_sec)
{
    if (!valid_limit(bytes_per_sec))
        return;
    std::lock_guard<KV_Lock> guard(lock_in);
    bwt_in = bytes_per_sec;
}

void KV_Session::set_bwt_speed_out(double bytes_per_sec)
{
    if (!valid_limit(bytes_per_sec))
        return;
    std::lock_guard<KV_Lock> guard(lock_out);
    bwt_out = bytes_per_sec;
}

double KV_Session::bwt_speed_in()
{
    std::lock_guard<KV_Lock> guard(lock_in);
    return bwt_in;
}

double KV_Session::bwt_speed_out()
{
    std::lock_guard<KV_Lock> guard(lock_out);
    return bwt_out;
}
