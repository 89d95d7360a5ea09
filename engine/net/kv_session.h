// A network session: one TCP connection run as a thread of its own.
//
// This far the class holds the process-wide bandwidth limits that every
// session obeys. The limits are set from the transfer manager's options (the
// settings dialog and the data-source file) and read by every session thread
// once per pass of its loop.
//
// Threads: the statics may be called from any thread; each direction's limit
// is read and written under that direction's lock.
#pragma once

#include "foundation/kv_event.h"

class KV_Session
{
public:
    // The global limits in bytes per second. A limit of at most 0.0001 means
    // no limit; both start at 0. A limit is a finite number of at least 0:
    // the setters ignore NaN, infinities and negative values, which would
    // otherwise turn into an undefined byte allowance.
    static void set_bwt_speed_in(double bytes_per_sec);
    static void set_bwt_speed_out(double bytes_per_sec);
    static double bwt_speed_in();
    static double bwt_speed_out();

private:
    // Guard bwt_in and bwt_out respectively. Never taken together here; where
    // both are needed, lock_in is taken first.
    static KV_Lock lock_in;
    static KV_Lock lock_out;
    static double bwt_in;
    static double bwt_out;
};
