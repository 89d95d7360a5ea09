// The transfer data of one protocol action: where a download stores the
// bytes it receives and where an upload takes the bytes it sends. Every
// protocol's get and put action holds one, so that opening the data, placing
// the bytes, keeping a fragment inside its range, counting and closing are
// written once and behave alike on FTP, SFTP and HTTP.
//
// A download (get) stores into the copy sub-log (KV_TransLogCp): a whole
// file at its offset, a fragment of a segmented copy at the fragment's
// position, each through the sink's own descriptor with pwrite. The
// sub-log's stored count (or the fragment's record) follows the bytes
// written every vouch_every bytes and on flush and close, never ahead of
// them. A
// fragment takes no byte past its end, and counts as complete only when its
// last byte is in: data that ends early leaves it incomplete. An upload (put)
// reads from the sub-log's data area, or from the file that holds the data
// when the sub-log does not (a local source), from its offset on; a segmented
// copy is sent fragment by fragment, and only fragments that are complete.
//
// What the protocols do differently on purpose is set, not written again:
// a download may hold received bytes in memory up to a size before they go
// to the sub-log (set_hold; HTTP writes in large pieces), and an upload may
// have to send exactly the sub-log's size, no byte more nor less (set_exact;
// HTTP announces a Content-Length). Whether a request may start at an
// offset, and what the server's answer to a cut fragment means, stay with the
// protocols.
//
// Threads: one action's. The action's worker constructs it and may restart
// it before the transfer starts; the thread that runs the transfer (the data
// session, or the session inside the manager's lock) opens, writes or reads
// and closes it, handed over by the action's owner. No lock of its own, nor
// any taken for the bytes: each fragment writes only its own range, and the
// sub-log serialises only the placing of a fragment's slot.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_string.h"

class KV_ErrHandler;
class KV_FileFrag;
class KV_TransLogCp;

class KV_TransSink
{
public:
    enum class Dir : uint8_t {
        get, // received bytes are stored
        put, // stored bytes are sent
    };
    // What a read gave: bytes, the end of the data (no bytes), or a failure.
    enum class Read : uint8_t { data, end, fail };

    static constexpr const char* write_err = "Couldn't write the temporary file.";
    // How many bytes may be written before the stored count or record is
    // rewritten to vouch for them (a resume after a crash fetches at most
    // this much again).
    static constexpr int64_t vouch_every = 4 << 20;

    // The whole file from `offset` on, in direction `dir`. `log`: not owned,
    // may be null (then every step fails).
    KV_TransSink(Dir dir, KV_TransLogCp* log, int64_t offset);
    // The download of one fragment, from its position to its end. `log` and
    // `frag`: not owned; `frag` belongs to `log`.
    KV_TransSink(KV_TransLogCp* log, KV_FileFrag* frag);
    ~KV_TransSink();
    KV_TransSink(const KV_TransSink&) = delete;
    KV_TransSink& operator=(const KV_TransSink&) = delete;

    // Before open (get only): received bytes are held in memory until `bytes`
    // of them are waiting, then written in one piece; 0 (the default)
    // writes each piece as it comes. Held bytes are not yet counted.
    void set_hold(uint32_t bytes) { hold_ = bytes; }
    // Before open (put of a whole file only): the data is exactly the
    // sub-log's size from the offset on. Reads stop there, and a file that
    // ends before it fails the read instead of ending the data.
    void set_exact(bool exact) { exact_ = exact; }

    // The data starts at `offset` after all (a server that could not resume
    // sends from 0). Whole files only; false for a fragment, which cannot
    // move. Before open only remembered; on an open download the held bytes
    // are dropped and the stored count is cut back to `offset` (false, with
    // err(), when that fails).
    bool restart(int64_t offset);

    // Opens the data file: for writing (get; a whole file's stored count is
    // cut back to the offset, since what lies beyond it is not this
    // transfer's) or for reading at the offset (put). A file that cannot be
    // opened is reported through `eh` (may be null) with its name and the
    // system's reason. False without a sub-log. Opening again after close
    // starts afresh at the current offset.
    bool open(KV_ErrHandler* eh);

    // Get: stores `n` bytes that continue the data. A fragment takes only
    // the bytes up to its end and drops the rest (full() tells). The sub-log
    // hears of the progress. False, with err(), when the bytes could not be
    // stored: the offset then stays where the stored data ends, and every
    // later write fails too, since its bytes would follow a gap.
    bool write(const unsigned char* data, uint32_t n);
    // Writes the held bytes (get), then has the stored count or record vouch
    // for everything written; true when there was nothing to do.
    bool flush();

    // Put: reads the next bytes into `buf`, at most `size` of them (the
    // whole block each upload sends), and advances the offset. data: `n` bytes;
    // end: nothing is left (n = 0); fail: a fragment that is not complete,
    // a read error, or (exact) a file that ended too soon, with err() when
    // there is a reason to tell. The sub-log hears of the progress.
    Read read(unsigned char* buf, uint32_t size, uint32_t& n);

    // Writes the held bytes, then closes the data file and the sub-log's
    // file (the sub-log reopens it when used again). False when held bytes
    // could not be written (err() says why); they are dropped. Closing a
    // closed sink is harmless.
    bool close();

    // Get: the fragment has all its bytes, stored or held: whatever else
    // the server sends is not its own. Always false for a whole file, whose
    // end only the protocol knows.
    bool full() const;
    // Get: the data is complete as far as the sink can tell: a fragment's
    // bytes are all stored. A whole file always is (its end is the
    // protocol's to judge).
    bool complete() const;
    // Put: the last byte has been read (an end found, or a segmented copy's
    // offset at the file's size): nothing follows.
    bool done() const { return done_; }

    // Where the next stored byte lands (get) or the next byte read comes
    // from (put), in the file: for a fragment its position. Held bytes do
    // not count.
    int64_t offset() const;
    // Where the next received byte belongs: the offset plus the held bytes.
    int64_t pos() const;
    KV_FileFrag* frag() const { return frag_; }
    KV_TransLogCp* log() const { return log_; }
    // Why the last failed step failed; empty when it gave no reason.
    const KV_String& err() const { return err_; }

private:
    // Get: stores `n` bytes in the sub-log at the offset.
    bool store(const unsigned char* data, uint32_t n);
    // Get: the stored count or the fragment's record is rewritten to cover
    // the bytes written so far; a failure breaks the sink.
    bool vouch();
    Read read_frag(unsigned char* buf, uint32_t size, uint32_t& n);
    Read read_file(unsigned char* buf, uint32_t size, uint32_t& n);

    Dir dir_;
    KV_TransLogCp* log_;
    KV_FileFrag* frag_;
    // The data file: the sink's own descriptor to write the bytes at their
    // place (get) or to read the data from (put).
    KV_File file_;
    // The offset of a whole file; a fragment's is its position.
    int64_t offset_;
    uint32_t hold_ = 0;
    bool exact_ = false;
    bool done_ = false;
    // A store failed: the bytes after it would land at the wrong place, so
    // none is taken until the sink is opened or restarted again.
    bool broken_ = false;
    // Bytes written since the count or record was last rewritten, and since
    // the sink was opened.
    int64_t unvouched_ = 0;
    int64_t written_ = 0;
    std::vector<unsigned char> held_;
    KV_String err_;
};
