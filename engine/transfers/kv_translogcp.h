// The sub-log of one elementary copy: its status and, for a server-to-server
// transfer, the source worker reserved for it.
//
// This far only what the elementary copy (KV_FileReqCopy) asks of its
// sub-log is declared. The sub-log comes with the transfers; its operations
// are weak declarations until then, so that the library links while no
// sub-log can exist.
#pragma once

#include <cstdint>

class KV_TransLogCp
{
public:
    // The status byte of the copy.
    [[gnu::weak]] uint8_t status() const;
    // Sets the status and rewrites it in place when it changes; false when
    // the write fails.
    [[gnu::weak]] bool set_status(uint8_t status);
    // The worker that runs the pending server-to-server source half; 0 for
    // none.
    [[gnu::weak]] uint32_t dtrans_id() const;
    // Stores the worker id and its flag; (0, 0) clears them.
    [[gnu::weak]] void set_dtrans(uint32_t id, uint8_t flag);
};
