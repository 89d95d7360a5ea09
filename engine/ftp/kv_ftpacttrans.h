// The FTP actions that move data: downloads and uploads through a copy
// sub-log, the two halves of a server-to-server copy, and the listing.
//
// A download writes each received block straight into the sub-log; an upload
// reads each block straight from the sub-log or its data file into the
// session's send buffer. Data never waits in memory beyond one block.
//
// Resuming: bytes are written at an offset above 0 only after the server
// accepted REST for it; a download that may not use REST starts again from
// 0, and an upload that can neither REST nor APPE sends the whole file. A
// fragment takes exactly its own bytes: the client cuts the data connection
// at the fragment's end, and the server's complaint about that cut does not
// fail the fragment.
//
// Threads: run() and its sub-steps run on the worker's thread; init,
// process_in, process_out and cleanup run on the data session's thread while
// the worker waits (see KV_FtpActTrans).
#pragma once

#include <cstdint>

#include "foundation/kv_inetaddr.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "ftp/kv_ftpact.h"
#include "transfers/kv_transsink.h"

class KV_ErrHandler;
class KV_FileFrag;
class KV_FileListStore;
class KV_FileReq;
class KV_FileReqMan;
class KV_Informer;
class KV_MsgTreeScan;
class KV_TransLogCp;

// RETR into a copy sub-log.
class KV_FtpActGet : public KV_FtpActTrans
{
public:
    // One fragment of a segmented copy, binary, from the fragment's position.
    KV_FtpActGet(const KV_String& src, const KV_String& dst, KV_FileFrag* frag, KV_TransLogCp* log);
    // The whole file from rest on.
    KV_FtpActGet(KV_TRANS_MODE mode, const KV_String& src, const KV_String& dst, int64_t rest,
                 KV_TransLogCp* log);

    bool run() override;
    KV_String get_cmd() override;
    bool process_in(KV_Stream& in, bool& end) override;
    bool init() override;
    bool cleanup() override;

    // The next file offset to write.
    int64_t offset() const { return sink.offset(); }

    // The error of a server that ended the data before the end of the file
    // or of the part of it asked for.
    static constexpr const char* short_data_msg =
        "The data ended before the end of the file: the copy is incomplete.";

private:
    KV_TransSink sink;
    KV_String src;
    KV_TRANS_MODE mode;
};

// STOR or APPE from a copy sub-log or its data file.
class KV_FtpActPut : public KV_FtpActTrans
{
public:
    KV_FtpActPut(KV_TRANS_MODE mode, const KV_String& src, const KV_String& dst, KV_TransLogCp* log,
                 int64_t rest);

    bool run() override;
    KV_String get_cmd() override;
    bool trans_end_fast() const override { return true; }
    bool close_self() const override { return true; }
    bool process_out(KV_Stream& out, bool& end, uint32_t size, uint8_t* buff) override;
    bool init() override;
    bool cleanup() override;

    // The next source offset to send.
    int64_t offset() const { return sink.offset(); }

private:
    KV_TransSink sink;
    KV_String dst;
    KV_TRANS_MODE mode;
};

// The source half of a server-to-server copy: RETR on the server whose
// passive port the destination server connects to. No local data
// connection, no TYPE (sent when the pair was set up).
class KV_FtpActGetDirect : public KV_FtpActTrans
{
public:
    KV_FtpActGetDirect(const KV_String& path, int64_t from) : path(path), from(from) {}

    bool run() override;
    KV_String get_cmd() override;
    bool trans_end_fast() const override { return true; }
    bool dtrans(KV_InetAddr&) override { return true; }

private:
    KV_String path;
    int64_t from;
};

// The destination half of a server-to-server copy: PORT names the source
// server's passive address, then STOR or APPE; once the command is accepted
// the source half is queued on the source data source's request manager.
class KV_FtpActPutDirect : public KV_FtpActTrans
{
public:
    KV_FtpActPutDirect(const KV_InetAddr& peer, const KV_String& src, const KV_String& dst,
                       KV_FileReq* stop_resp, KV_FileReqMan& man_src, KV_ErrHandler& eh,
                       uint32_t tavo_id, int64_t rest);

    bool run() override;
    KV_String get_cmd() override;
    bool trans_end_fast() const override { return true; }
    bool dtrans(KV_InetAddr& addr) override;
    bool trans_cmd_sent() override;

private:
    KV_InetAddr peer;
    KV_String src;
    KV_String dst;
    KV_FileReq* stop_resp;
    KV_FileReqMan& man_src;
    KV_ErrHandler& eh;
    uint32_t tavo_id;
    int64_t rest;
};

// Where a listing goes: into the caller's store, or (without one) as
// KV_MsgTreeScan messages of `path` through the informer.
class KV_FtpActListParams
{
public:
    KV_FtpActListParams(KV_FileListStore* store, KV_Informer* informer, const KV_PathDef& path)
        : store(store), informer(informer), path(path)
    {
    }

    KV_FileListStore* store;
    KV_Informer* informer;
    KV_PathDef path;
};

// LIST of the current directory, each line read by the server's dialect.
// A line longer than max_line bytes (complete or still waiting for its end)
// ends the listing as a failure with too_long_msg: a server that never sends
// a line end must not fill the memory.
class KV_FtpActList : public KV_FtpActTrans
{
public:
    static constexpr uint32_t max_line = 65536;
    static constexpr const char* too_long_msg = "Listing line longer than 65536 bytes.";

    // params must outlive the action.
    explicit KV_FtpActList(KV_FtpActListParams& params) : params(params) {}
    ~KV_FtpActList() override;

    KV_String get_cmd() override;
    bool process_in(KV_Stream& in, bool& end) override;
    bool init() override;
    bool cleanup() override;

    // Cuts the complete lines off buf and hands each to add_entry. False
    // (too_long_msg set) once a line passes max_line.
    bool inform();
    // One listing line into msg (no store) or the store; lines that are no
    // entry, or not wanted, are skipped with success.
    bool add_entry(const KV_String& line, KV_MsgTreeScan* msg);

private:
    KV_String buf;
    KV_FtpActListParams& params;
    // The bytes at buf's front known to hold no line end.
    uint32_t scanned = 0;
    // A line passed max_line: nothing more is read as entries.
    bool too_long = false;
};
