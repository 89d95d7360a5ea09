#include "ftp/kv_ftpacttrans.h"

#include "foundation/kv_errhandler.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_msg.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqs.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"

KV_FtpActGet::KV_FtpActGet(const KV_String& src, const KV_String& dst, KV_FileFrag* frag,
                           KV_TransLogCp* log)
    : file(log ? log->data_name() : dst, log ? "r+b" : "wb"), src(src), frag(frag), log(log),
      mode(KV_TRANS_MODE_BINARY), offset_(frag ? frag->pos() : 0)
{
}

KV_FtpActGet::KV_FtpActGet(KV_TRANS_MODE mode, const KV_String& src, const KV_String& dst,
                           int64_t rest, KV_TransLogCp* log)
    : file(log ? log->data_name() : dst, log ? "r+b" : "wb"), src(src), frag(nullptr), log(log),
      mode(mode), offset_(rest)
{
}

bool KV_FtpActGet::run()
{
    // Downloads are not run yet: nothing is fetched.
    return false;
}

KV_String KV_FtpActGet::get_cmd()
{
    // The RETR line is not formed yet.
    return KV_String();
}

bool KV_FtpActGet::process_in(KV_Stream&, bool&)
{
    // Received data is not stored yet.
    return false;
}

bool KV_FtpActGet::init()
{
    // The target is not opened yet.
    return false;
}

bool KV_FtpActGet::cleanup()
{
    // Nothing is opened yet, so nothing is closed.
    return false;
}

KV_FtpActPut::KV_FtpActPut(KV_TRANS_MODE mode, const KV_String& src, const KV_String& dst,
                           KV_TransLogCp* log, int64_t rest)
    : file(log ? log->data_name() : src, "rb"), dst(dst), log(log), mode(mode), offset_(rest)
{
}

bool KV_FtpActPut::run()
{
    // Uploads are not run yet: nothing is sent.
    return false;
}

KV_String KV_FtpActPut::get_cmd()
{
    // The STOR or APPE line is not formed yet.
    return KV_String();
}

bool KV_FtpActPut::process_out(KV_Stream&, bool&, uint32_t, uint8_t*)
{
    // No data is read for sending yet.
    return false;
}

bool KV_FtpActPut::init()
{
    // The source is not opened yet.
    return false;
}

bool KV_FtpActPut::cleanup()
{
    // Nothing is opened yet, so nothing is closed.
    return false;
}

bool KV_FtpActGetDirect::run()
{
    // Server-to-server sending is not run yet.
    return false;
}

KV_String KV_FtpActGetDirect::get_cmd()
{
    // The RETR line is not formed yet.
    return KV_String();
}

KV_FtpActPutDirect::KV_FtpActPutDirect(const KV_InetAddr& peer, const KV_String& src,
                                       const KV_String& dst, KV_FileReq* stop_resp,
                                       KV_FileReqMan& man_src, KV_ErrHandler& eh, uint32_t tavo_id,
                                       int64_t rest)
    : peer(peer), src(src), dst(dst), stop_resp(stop_resp), man_src(man_src), eh(eh),
      tavo_id(tavo_id), rest(rest)
{
}

bool KV_FtpActPutDirect::run()
{
    // Server-to-server receiving is not run yet.
    return false;
}

KV_String KV_FtpActPutDirect::get_cmd()
{
    // The STOR or APPE line is not formed yet.
    return KV_String();
}

bool KV_FtpActPutDirect::dtrans(KV_InetAddr& addr)
{
    addr = peer;
    return true;
}

bool KV_FtpActPutDirect::trans_cmd_sent()
{
    // The source half is not queued yet.
    return false;
}

KV_FtpActList::~KV_FtpActList() = default;

KV_String KV_FtpActList::get_cmd()
{
    // The LIST line is not formed yet.
    return KV_String();
}

bool KV_FtpActList::process_in(KV_Stream&, bool&)
{
    // Listing text is not read yet.
    return false;
}

bool KV_FtpActList::init()
{
    // The dialect is not prepared yet.
    return false;
}

bool KV_FtpActList::cleanup()
{
    // No last line is processed yet.
    return false;
}

bool KV_FtpActList::inform()
{
    // Lines are not cut yet.
    return false;
}

bool KV_FtpActList::add_entry(const KV_String&, KV_MsgTreeScan*)
{
    // Entries are not parsed yet.
    return false;
}
