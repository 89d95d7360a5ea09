// One byte range of a file that an elementary copy transfers on its own
// connection.
//
// This far only what the elementary copy (KV_FileReqCopy) asks of a fragment
// is declared. The fragment comes with the transfers; its operations are weak
// declarations until then, so that the library links while no fragment can
// exist.
#pragma once

#include <cstdint>

class KV_FileFrag
{
public:
    // Sets the state (2 in transfer, 3 done, 4 failed) through the
    // fragment's list, under that list's lock.
    [[gnu::weak]] void set_state(uint32_t state);
    // begin < end and begin <= pos <= end.
    [[gnu::weak]] bool valid() const;
    // pos == end.
    [[gnu::weak]] bool done() const;
};
