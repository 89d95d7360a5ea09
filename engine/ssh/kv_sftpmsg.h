// SFTP version 3 messages (draft-ietf-secsh-filexfer-02) and the ATTRS block.
//
// One class per message kind. Client-to-server kinds write themselves:
// the type byte, the request id where the kind has one, then the fields in
// wire order. Server-to-client kinds read themselves after the channel took
// the length and the type byte off; each reads from a copy bounded by its own
// length, so a read never reaches into the next message. What a kind does not
// read (the language tag of STATUS, VERSION's extension pairs) stays in that
// copy and is dropped with it.
//
// Integers are big-endian; names, paths and handles are SSH strings of bytes,
// sent and taken unchanged. describe() gives the session-log line.
//
// Threads: plain values, created, filled and deleted on the session thread.
#pragma once

#include <cstdint>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "ssh/kv_sshmsg.h"

bool ssh_write_u64(KV_Storage& st, uint64_t v);
bool ssh_read_u64(KV_Storage& st, uint64_t& v);

// The attribute block of SFTP version 3.
class KV_SftpFileAttr
{
public:
    static constexpr uint32_t size_flag = 0x00000001;
    static constexpr uint32_t uidgid_flag = 0x00000002;
    static constexpr uint32_t perm_flag = 0x00000004;
    static constexpr uint32_t acmodtime_flag = 0x00000008;
    static constexpr uint32_t extended_flag = 0x80000000;

    KV_SftpFileAttr() = default;
    KV_SftpFileAttr(const KV_SftpFileAttr&) = default;
    KV_SftpFileAttr& operator=(const KV_SftpFileAttr&) = default;

    // Flags, then the fields the flags name. Extended pairs are taken off the
    // wire and kept nowhere. False at the first field that is missing.
    bool read(KV_Storage& st);
    // With the extended flag set a count of 0 follows: this side has no
    // extensions to send.
    bool write(KV_Storage& st) const;

    uint32_t flags() const { return flags_; }
    void set_flags(uint32_t f) { flags_ = f; }
    uint64_t size() const { return size_; }
    void set_size(uint64_t s) { size_ = s; }
    uint32_t uid() const { return uid_; }
    uint32_t gid() const { return gid_; }
    void set_uidgid(uint32_t uid, uint32_t gid)
    {
        uid_ = uid;
        gid_ = gid;
    }
    uint32_t permissions() const { return permissions_; }
    void set_permissions(uint32_t p) { permissions_ = p; }
    uint32_t atime() const { return atime_; }
    uint32_t mtime() const { return mtime_; }
    void set_times(uint32_t atime, uint32_t mtime)
    {
        atime_ = atime;
        mtime_ = mtime;
    }

private:
    uint32_t flags_ = 0;
    uint64_t size_ = 0;
    uint32_t uid_ = 0;
    uint32_t gid_ = 0;
    uint32_t permissions_ = 0;
    uint32_t atime_ = 0;
    uint32_t mtime_ = 0;
};

// Type numbers of the kinds this client knows.
enum KV_SFTP_MSG : uint8_t {
    KV_SFTP_INIT = 1,
    KV_SFTP_VERSION = 2,
    KV_SFTP_OPEN = 3,
    KV_SFTP_CLOSE = 4,
    KV_SFTP_READ = 5,
    KV_SFTP_WRITE = 6,
    KV_SFTP_SETSTAT = 9,
    KV_SFTP_OPENDIR = 11,
    KV_SFTP_READDIR = 12,
    KV_SFTP_REMOVE = 13,
    KV_SFTP_MKDIR = 14,
    KV_SFTP_RMDIR = 15,
    KV_SFTP_REALPATH = 16,
    KV_SFTP_RENAME = 18,
    KV_SFTP_STATUS = 101,
    KV_SFTP_HANDLE = 102,
    KV_SFTP_DATA = 103,
    KV_SFTP_NAME = 104,
};

// Open flags (pflags) of OPEN.
enum KV_SFTP_PFLAG : uint32_t {
    KV_SFTP_PF_READ = 0x01,
    KV_SFTP_PF_WRITE = 0x02,
    KV_SFTP_PF_APPEND = 0x04,
    KV_SFTP_PF_CREAT = 0x08,
    KV_SFTP_PF_TRUNC = 0x10,
};

class KV_SftpMsg
{
public:
    explicit KV_SftpMsg(uint8_t type) : type_(type) {}
    KV_SftpMsg(const KV_SftpMsg&) = default;
    KV_SftpMsg& operator=(const KV_SftpMsg&) = default;

    // After the type byte: the id where the kind has one.
    virtual bool read(KV_Storage& st);
    // The type byte and the id where the kind has one.
    virtual bool write(KV_Storage& st) const;
    // False: the channel logs an instance only when its text differs from
    // the last one logged in its direction (the bulk kinds).
    virtual bool always_log() const { return true; }
    // INIT and VERSION carry none.
    virtual bool has_id() const { return true; }
    virtual KV_String describe() const { return KV_String(); }
    virtual ~KV_SftpMsg();

    uint8_t type() const { return type_; }
    uint32_t id() const { return id_; }
    void set_id(uint32_t id) { id_ = id; }

private:
    uint32_t id_ = 0;
    uint8_t type_;
};

// The bytes of an SSH string as text, and back: names are bytes both ways.
KV_String sftp_text(const KV_SshString& s);
KV_SshString sftp_str(const KV_String& s);

// 1: u32 version.
class KV_SftpMsgInit : public KV_SftpMsg
{
public:
    explicit KV_SftpMsgInit(uint32_t version);
    bool write(KV_Storage& st) const override;
    bool has_id() const override { return false; }
    KV_String describe() const override;

private:
    uint32_t version_;
};

// 2: u32 version; extension pairs after it are not read.
class KV_SftpMsgVersion : public KV_SftpMsg
{
public:
    KV_SftpMsgVersion();
    bool read(KV_Storage& st) override;
    bool has_id() const override { return false; }
    KV_String describe() const override;
    uint32_t version() const { return version_; }

private:
    uint32_t version_ = 0;
};

// 3: string filename, u32 pflags, ATTRS.
class KV_SftpMsgOpen : public KV_SftpMsg
{
public:
    KV_SftpMsgOpen(const KV_SshString& filename, uint32_t pflags, const KV_SftpFileAttr& attrs);
    bool write(KV_Storage& st) const override;
    KV_String describe() const override;
    const KV_SshString& filename() const { return filename_; }
    uint32_t pflags() const { return pflags_; }

private:
    KV_SshString filename_;
    uint32_t pflags_;
    KV_SftpFileAttr attrs_;
};

// 4: string handle.
class KV_SftpMsgClose : public KV_SftpMsg
{
public:
    explicit KV_SftpMsgClose(const KV_SshString& handle);
    bool write(KV_Storage& st) const override;
    KV_String describe() const override { return "CLOSE"; }

private:
    KV_SshString handle_;
};

// 5: string handle, u64 offset, u32 length.
class KV_SftpMsgRead : public KV_SftpMsg
{
public:
    KV_SftpMsgRead(const KV_SshString& handle, uint32_t offset_low, uint32_t offset_high,
                   uint32_t length);
    bool write(KV_Storage& st) const override;
    bool always_log() const override { return false; }
    KV_String describe() const override { return "READ"; }
    uint64_t offset() const { return offset_; }
    uint32_t length() const { return length_; }

private:
    KV_SshString handle_;
    uint64_t offset_;
    uint32_t length_;
};

// 6: string handle, u64 offset, string data.
class KV_SftpMsgWrite : public KV_SftpMsg
{
public:
    // The data are copied; `ok` tells whether the copy could be had.
    KV_SftpMsgWrite(const KV_SshString& handle, const unsigned char* data, uint32_t n,
                    uint32_t offset_low, uint32_t offset_high);
    bool write(KV_Storage& st) const override;
    bool always_log() const override { return false; }
    KV_String describe() const override { return "WRITE"; }
    bool ok() const { return ok_; }
    uint64_t offset() const { return offset_; }

private:
    KV_SshString handle_;
    uint64_t offset_;
    KV_SshString data_;
    bool ok_ = true;
};

// 9: string path, ATTRS.
class KV_SftpMsgSetstat : public KV_SftpMsg
{
public:
    KV_SftpMsgSetstat(const KV_SshString& path, const KV_SftpFileAttr& attrs);
    bool write(KV_Storage& st) const override;
    KV_String describe() const override;

private:
    KV_SshString path_;
    KV_SftpFileAttr attrs_;
};

// The requests whose only field is one string, with the log text "%s" of
// `word` and the string (or `word` alone).
class KV_SftpMsgStr : public KV_SftpMsg
{
public:
    KV_SftpMsgStr(uint8_t type, const KV_SshString& s, const char* word, bool with_text);
    bool write(KV_Storage& st) const override;
    KV_String describe() const override;
    const KV_SshString& str() const { return str_; }

private:
    KV_SshString str_;
    const char* word_;
    bool with_text_;
};

// 11: string path.
class KV_SftpMsgOpenDir : public KV_SftpMsgStr
{
public:
    explicit KV_SftpMsgOpenDir(const KV_SshString& path);
};

// 12: string handle.
class KV_SftpMsgReadDir : public KV_SftpMsgStr
{
public:
    explicit KV_SftpMsgReadDir(const KV_SshString& handle);
    bool always_log() const override { return false; }
};

// 13 (REMOVE): string filename.
class KV_SftpMsgDel : public KV_SftpMsgStr
{
public:
    explicit KV_SftpMsgDel(const KV_SshString& filename);
};

// 14: string path, ATTRS.
class KV_SftpMsgMkDir : public KV_SftpMsg
{
public:
    KV_SftpMsgMkDir(const KV_SshString& path, const KV_SftpFileAttr& attrs);
    bool write(KV_Storage& st) const override;
    KV_String describe() const override;

private:
    KV_SshString path_;
    KV_SftpFileAttr attrs_;
};

// 15: string path.
class KV_SftpMsgRmDir : public KV_SftpMsgStr
{
public:
    explicit KV_SftpMsgRmDir(const KV_SshString& path);
};

// 16: string path.
class KV_SftpMsgRealPath : public KV_SftpMsgStr
{
public:
    explicit KV_SftpMsgRealPath(const KV_SshString& path);
};

// 18 (RENAME): string oldpath, string newpath.
class KV_SftpMsgRen : public KV_SftpMsg
{
public:
    KV_SftpMsgRen(const KV_SshString& from, const KV_SshString& to);
    bool write(KV_Storage& st) const override;
    KV_String describe() const override;

private:
    KV_SshString from_;
    KV_SshString to_;
};

// 101: u32 code, string message (optional); the language tag is not read.
class KV_SftpMsgStatus : public KV_SftpMsg
{
public:
    KV_SftpMsgStatus();
    bool read(KV_Storage& st) override;
    bool always_log() const override { return false; }
    KV_String describe() const override;

    uint32_t code() const { return code_; }
    const KV_SshString& message() const { return message_; }
    bool ok() const { return code_ == 0; }
    bool eof() const { return code_ == 1; }
    bool failed() const { return code_ > 1; }
    // The server's message, or the text of the code when it sent none.
    KV_String err_text() const;

private:
    uint32_t code_ = 0;
    KV_SshString message_;
};

// 102: string handle.
class KV_SftpMsgHandle : public KV_SftpMsg
{
public:
    KV_SftpMsgHandle();
    bool read(KV_Storage& st) override;
    KV_String describe() const override { return "HANDLE"; }
    const KV_SshString& handle() const { return handle_; }

private:
    KV_SshString handle_;
};

// 103: string data.
class KV_SftpMsgData : public KV_SftpMsg
{
public:
    KV_SftpMsgData();
    bool read(KV_Storage& st) override;
    bool always_log() const override { return false; }
    KV_String describe() const override { return "DATA"; }
    const KV_SshString& data() const { return data_; }

private:
    KV_SshString data_;
};

// One entry of NAME.
struct KV_SftpMsgNameElem
{
    KV_SshString filename;
    KV_SshString longname;
    KV_SftpFileAttr attrs;
};

// The entries keep the server's order: the sorted list's comparison never
// orders two of them.
class KV_SftpNameList : public KVTL::KV_ListValSrt<KV_SftpMsgNameElem>
{
public:
    KV_SftpNameList() { set_grow(12); }
};

// 104: u32 count, then count entries of string filename, string longname,
// ATTRS.
class KV_SftpMsgName : public KV_SftpMsg
{
public:
    KV_SftpMsgName();
    // False at the first entry that cannot be read; the ones before stay.
    bool read(KV_Storage& st) override;
    bool always_log() const override { return false; }
    KV_String describe() const override { return "NAME"; }
    const KV_SftpNameList& entries() const { return entries_; }

private:
    KV_SftpNameList entries_;
};
