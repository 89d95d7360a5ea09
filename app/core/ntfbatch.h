#ifndef KIVREL_CORE_NTFBATCH_H
#define KIVREL_CORE_NTFBATCH_H

// How a window drains the informer it is bound to: in short batches. A busy
// transfer queues notices (progress, session-log lines, speeds) faster than
// a window handles them; draining the queue whole on one ring of the
// doorbell would hold the event loop (input, painting, every other window)
// until the transfer ends. Each ring handles a batch; the rest waits for
// the next ring, behind what the event loop has queued meanwhile.
// User-interface thread.

#include <functional>

class KV_Informer;
class KV_Msg;

class CInformerBatch
{
public:
    // A batch ends after this many notices or this many milliseconds,
    // whichever comes first.
    static constexpr int kMaxNotices = 256;
    static constexpr int kMaxMs = 20;

    // Pops one batch of `informer`'s notices and hands each to `handle`,
    // then gives it back (KV_Informer::destroy); afterwards re-arms the
    // informer, which rings again at once when notices are left. `handle`
    // returns false when the window that drains is gone (a handler may
    // destroy it, an error box runs the event loop): then nothing more is
    // popped or re-armed, and the result is false.
    static bool Drain(KV_Informer& informer, const std::function<bool(KV_Msg*)>& handle);
};

#endif
