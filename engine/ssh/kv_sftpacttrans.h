// The pipelined SFTP actions: download, upload and folder listing.
//
// Each opens a handle (OPEN or OPENDIR), keeps up to W data requests in
// flight on it (W = 64 with the manager's aggressive options, else 1),
// queues CLOSE once nothing more is to be asked, and is done when the reply
// that leaves nothing outstanding has come.
//
// Downloads do not trust the server to answer in request order or with
// whole blocks: each READ's offset and length are kept by request id, every
// DATA lands at its own offset (answers ahead of the stored prefix wait in
// memory, at most one window's worth), the rest of a short answer is asked
// for again, and the file counts as complete only when every byte before
// the end of file is stored. The stored count of the transfer log therefore
// always names a prefix without gaps, which a resume relies on.
//
// Listings drop entries whose names would leave the listed folder ("",
// ".", "..", names holding "/" or NUL).
//
// Threads: init() and the constructors run on the worker thread; the
// message handlers run on the session thread inside the SFTP manager's lock;
// cleanup() wherever the action ends (KV_SftpMan::act_end).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "ssh/kv_sftpman.h"
#include "transfers/kv_transsink.h"

class KV_FileFrag;
class KV_FileListStore;
class KV_Informer;
class KV_TransLogCp;

class KV_SftpActGet : public KV_SftpAct
{
public:
    // The length of one READ: the size OpenSSH's client asks for, which
    // servers answer whole.
    static constexpr uint32_t block = 0x8000;

    // The whole file from `offset` on, stored in the log's data area.
    KV_SftpActGet(const KV_String& remote, const KV_String& local, int64_t offset,
                  KV_TransLogCp* const log);
    // One fragment, from its current position to its end.
    KV_SftpActGet(const KV_String& remote, const KV_String& local, KV_FileFrag* const frag,
                  KV_TransLogCp* const log);
    ~KV_SftpActGet() override;

    bool init() override;
    bool cleanup() override;
    KV_SftpMsg* first_msg() override;
    bool process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t buf_len,
                    uint8_t* const buf) override;
    void numbered(const KV_SftpMsgList& out) override;

private:
    struct Range
    {
        int64_t off;
        uint32_t len;
    };

    // Stores a DATA answer of the READ `r`; false when storing failed.
    bool take_data(const Range& r, const KV_SshString& data);
    // Stores bytes at `off`: written when they continue the stored prefix,
    // else held until they do.
    bool store(int64_t off, const unsigned char* p, uint32_t n);
    // The offset up to which the file is stored without a gap.
    int64_t stored_to() const;
    // Where the data ends: the end of file once seen, the fragment's end.
    int64_t limit() const;
    // Queues more READs, CLOSE or ends the action, as the state asks.
    bool step(KV_SftpMsgList& out);
    bool window_full(const KV_SftpMsgList& out) const;

    KV_TransSink sink;
    KV_String remote_;
    KV_SshString handle;
    int64_t read_off;
    bool end = false;
    bool failed = false;
    // The lowest offset a READ was answered EOF at; INT64_MAX until then.
    int64_t eof_at = INT64_MAX;
    std::map<uint32_t, Range> reads;
    std::vector<Range> retry;
    std::map<int64_t, std::string> held;
    uint32_t empty_answers = 0;
};

class KV_SftpActPut : public KV_SftpAct
{
public:
    // The most data one WRITE carries.
    static constexpr uint32_t block = 0x8000;

    // `offset` > 0 resumes: the remote file is appended to and the source is
    // read from there.
    KV_SftpActPut(const KV_String& local, const KV_String& remote, KV_TransLogCp* const log,
                  int64_t offset);
    ~KV_SftpActPut() override;

    bool init() override;
    bool cleanup() override;
    KV_SftpMsg* first_msg() override;
    bool process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t buf_len,
                    uint8_t* const buf) override;

private:
    bool write(KV_SftpMsgList& out, uint32_t buf_len, uint8_t* const buf);
    bool trans_end() const;
    bool window_full(const KV_SftpMsgList& out) const;

    KV_TransSink sink;
    KV_String remote_;
    KV_SshString handle;
    bool end = false;
};

// What a listing needs; filled by its user and outliving the action.
struct KV_SftpActListParams
{
    // Builds the folder's path text.
    const KV_PathMan* path_man = nullptr;
    // When set, the entries go into it; else to the informer as listing
    // messages.
    KV_FileListStore* store = nullptr;
    KV_Informer* informer = nullptr;
    KV_PathDef path;
};

class KV_SftpActList : public KV_SftpAct
{
public:
    explicit KV_SftpActList(const KV_SftpActListParams& params);
    ~KV_SftpActList() override;

    // Refuses a folder whose path text cannot be built or is empty: nothing
    // would be sent and the listing would never end.
    bool init() override;
    KV_SftpMsg* first_msg() override;
    bool process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t buf_len,
                    uint8_t* const buf) override;

    // The ten-letter rights text of POSIX permissions.
    static KV_String rights(uint32_t perm);

private:
    bool read(KV_SftpMsgList& out, const KV_SftpMsgName* name);
    bool trans_end() const;
    bool window_full(const KV_SftpMsgList& out) const;

    KV_SshString handle;
    const KV_SftpActListParams* params;
    KV_String dir;
    bool end = false;
};
