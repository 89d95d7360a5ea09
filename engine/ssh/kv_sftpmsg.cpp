#include "ssh/kv_sftpmsg.h"

#include "foundation/kv_le.h"

bool ssh_write_u64(KV_Storage& st, uint64_t v)
{
    unsigned char b[8];
    kv_put_be(b, v);
    return st.write(b, 8) == 8;
}

bool ssh_read_u64(KV_Storage& st, uint64_t& v)
{
    unsigned char b[8];
    if (!ssh_read_all(st, b, 8))
        return false;
    v = kv_get_be<uint64_t>(b);
    return true;
}

KV_String sftp_text(const KV_SshString& s)
{
    KV_String t;
    if (!s.empty())
        t.append(static_cast<const unsigned char*>(s), s.length());
    return t;
}

KV_SshString sftp_str(const KV_String& s)
{
    KV_SshString t;
    if (!s.empty())
        t.append(reinterpret_cast<const unsigned char*>(s.data()), s.length());
    return t;
}

// ---------------------------------------------------------------------------
// KV_SftpFileAttr

bool KV_SftpFileAttr::read(KV_Storage& st)
{
    if (!ssh_read_u32(st, flags_))
        return false;
    if ((flags_ & size_flag) && !ssh_read_u64(st, size_))
        return false;
    if ((flags_ & uidgid_flag) && (!ssh_read_u32(st, uid_) || !ssh_read_u32(st, gid_)))
        return false;
    if ((flags_ & perm_flag) && !ssh_read_u32(st, permissions_))
        return false;
    if ((flags_ & acmodtime_flag) && (!ssh_read_u32(st, atime_) || !ssh_read_u32(st, mtime_)))
        return false;
    if (flags_ & extended_flag) {
        uint32_t count = 0;
        if (!ssh_read_u32(st, count))
            return false;
        // The count comes from the peer: each pair must really be there, so
        // a large count ends at the message's end.
        KV_SshString type;
        KV_SshString data;
        for (uint32_t i = 0; i < count; ++i)
            if (!type.read(st) || !data.read(st))
                return false;
    }
    return true;
}

bool KV_SftpFileAttr::write(KV_Storage& st) const
{
    if (!ssh_write_u32(st, flags_))
        return false;
    if ((flags_ & size_flag) && !ssh_write_u64(st, size_))
        return false;
    if ((flags_ & uidgid_flag) && (!ssh_write_u32(st, uid_) || !ssh_write_u32(st, gid_)))
        return false;
    if ((flags_ & perm_flag) && !ssh_write_u32(st, permissions_))
        return false;
    if ((flags_ & acmodtime_flag) && (!ssh_write_u32(st, atime_) || !ssh_write_u32(st, mtime_)))
        return false;
    if ((flags_ & extended_flag) && !ssh_write_u32(st, 0))
        return false;
    return true;
}

// ---------------------------------------------------------------------------
// KV_SftpMsg

KV_SftpMsg::~KV_SftpMsg() = default;

bool KV_SftpMsg::read(KV_Storage& st)
{
    return !has_id() || ssh_read_u32(st, id_);
}

bool KV_SftpMsg::write(KV_Storage& st) const
{
    if (st.write(&type_, 1) != 1)
        return false;
    return !has_id() || ssh_write_u32(st, id_);
}

// ---------------------------------------------------------------------------
// Requests

KV_SftpMsgInit::KV_SftpMsgInit(uint32_t version) : KV_SftpMsg(KV_SFTP_INIT), version_(version) {}

bool KV_SftpMsgInit::write(KV_Storage& st) const
{
    return KV_SftpMsg::write(st) && ssh_write_u32(st, version_);
}

KV_String KV_SftpMsgInit::describe() const
{
    return KV_String::format_impl("INIT ( version: %u )", version_);
}

KV_SftpMsgOpen::KV_SftpMsgOpen(const KV_SshString& filename, uint32_t pflags,
                               const KV_SftpFileAttr& attrs)
    : KV_SftpMsg(KV_SFTP_OPEN), filename_(filename), pflags_(pflags), attrs_(attrs)
{
}

bool KV_SftpMsgOpen::write(KV_Storage& st) const
{
    return KV_SftpMsg::write(st) && filename_.write(st) && ssh_write_u32(st, pflags_) &&
           attrs_.write(st);
}

KV_String KV_SftpMsgOpen::describe() const
{
    return KV_String("OPEN ") + sftp_text(filename_);
}

KV_SftpMsgClose::KV_SftpMsgClose(const KV_SshString& handle)
    : KV_SftpMsg(KV_SFTP_CLOSE), handle_(handle)
{
}

bool KV_SftpMsgClose::write(KV_Storage& st) const
{
    return KV_SftpMsg::write(st) && handle_.write(st);
}

KV_SftpMsgRead::KV_SftpMsgRead(const KV_SshString& handle, uint32_t offset_low,
                               uint32_t offset_high, uint32_t length)
    : KV_SftpMsg(KV_SFTP_READ), handle_(handle),
      offset_((static_cast<uint64_t>(offset_high) << 32) | offset_low), length_(length)
{
}

bool KV_SftpMsgRead::write(KV_Storage& st) const
{
    return KV_SftpMsg::write(st) && handle_.write(st) && ssh_write_u64(st, offset_) &&
           ssh_write_u32(st, length_);
}

KV_SftpMsgWrite::KV_SftpMsgWrite(const KV_SshString& handle, const unsigned char* data, uint32_t n,
                                 uint32_t offset_low, uint32_t offset_high)
    : KV_SftpMsg(KV_SFTP_WRITE), handle_(handle),
      offset_((static_cast<uint64_t>(offset_high) << 32) | offset_low)
{
    ok_ = handle_.length() == handle.length() && (n == 0 || data_.append(data, n));
}

bool KV_SftpMsgWrite::write(KV_Storage& st) const
{
    return ok_ && KV_SftpMsg::write(st) && handle_.write(st) && ssh_write_u64(st, offset_) &&
           data_.write(st);
}

KV_SftpMsgSetstat::KV_SftpMsgSetstat(const KV_SshString& path, const KV_SftpFileAttr& attrs)
    : KV_SftpMsg(KV_SFTP_SETSTAT), path_(path), attrs_(attrs)
{
}

bool KV_SftpMsgSetstat::write(KV_Storage& st) const
{
    return KV_SftpMsg::write(st) && path_.write(st) && attrs_.write(st);
}

KV_String KV_SftpMsgSetstat::describe() const
{
    KV_String s("SETSTAT ");
    s += sftp_text(path_);
    s += KV_String::format_impl(" (%o)", attrs_.permissions());
    return s;
}

KV_SftpMsgStr::KV_SftpMsgStr(uint8_t type, const KV_SshString& s, const char* word, bool with_text)
    : KV_SftpMsg(type), str_(s), word_(word), with_text_(with_text)
{
}

bool KV_SftpMsgStr::write(KV_Storage& st) const
{
    return KV_SftpMsg::write(st) && str_.write(st);
}

KV_String KV_SftpMsgStr::describe() const
{
    KV_String s(word_);
    if (with_text_) {
        s += ' ';
        s += sftp_text(str_);
    }
    return s;
}

KV_SftpMsgOpenDir::KV_SftpMsgOpenDir(const KV_SshString& path)
    : KV_SftpMsgStr(KV_SFTP_OPENDIR, path, "OPENDIR", true)
{
}

KV_SftpMsgReadDir::KV_SftpMsgReadDir(const KV_SshString& handle)
    : KV_SftpMsgStr(KV_SFTP_READDIR, handle, "READDIR", false)
{
}

KV_SftpMsgDel::KV_SftpMsgDel(const KV_SshString& filename)
    : KV_SftpMsgStr(KV_SFTP_REMOVE, filename, "REMOVE", true)
{
}

KV_SftpMsgMkDir::KV_SftpMsgMkDir(const KV_SshString& path, const KV_SftpFileAttr& attrs)
    : KV_SftpMsg(KV_SFTP_MKDIR), path_(path), attrs_(attrs)
{
}

bool KV_SftpMsgMkDir::write(KV_Storage& st) const
{
    return KV_SftpMsg::write(st) && path_.write(st) && attrs_.write(st);
}

KV_String KV_SftpMsgMkDir::describe() const
{
    return KV_String("MKDIR ") + sftp_text(path_);
}

KV_SftpMsgRmDir::KV_SftpMsgRmDir(const KV_SshString& path)
    : KV_SftpMsgStr(KV_SFTP_RMDIR, path, "RMDIR", true)
{
}

KV_SftpMsgRealPath::KV_SftpMsgRealPath(const KV_SshString& path)
    : KV_SftpMsgStr(KV_SFTP_REALPATH, path, "REALPATH", true)
{
}

KV_SftpMsgRen::KV_SftpMsgRen(const KV_SshString& from, const KV_SshString& to)
    : KV_SftpMsg(KV_SFTP_RENAME), from_(from), to_(to)
{
}

bool KV_SftpMsgRen::write(KV_Storage& st) const
{
    return KV_SftpMsg::write(st) && from_.write(st) && to_.write(st);
}

KV_String KV_SftpMsgRen::describe() const
{
    KV_String s("RENAME ");
    s += sftp_text(from_);
    s += " => ";
    s += sftp_text(to_);
    return s;
}

// ---------------------------------------------------------------------------
// Replies

KV_SftpMsgVersion::KV_SftpMsgVersion() : KV_SftpMsg(KV_SFTP_VERSION) {}

bool KV_SftpMsgVersion::read(KV_Storage& st)
{
    return KV_SftpMsg::read(st) && ssh_read_u32(st, version_);
}

KV_String KV_SftpMsgVersion::describe() const
{
    return KV_String::format_impl("VERSION ( %u )", version_);
}

KV_SftpMsgStatus::KV_SftpMsgStatus() : KV_SftpMsg(KV_SFTP_STATUS) {}

bool KV_SftpMsgStatus::read(KV_Storage& st)
{
    if (!KV_SftpMsg::read(st) || !ssh_read_u32(st, code_))
        return false;
    // Early servers send the code alone: the message is optional.
    if (!message_.read(st))
        message_.clear();
    return true;
}

KV_String KV_SftpMsgStatus::describe() const
{
    KV_String s = KV_String::format_impl("STATUS %u ", code_);
    s += sftp_text(message_);
    return s;
}

KV_String KV_SftpMsgStatus::err_text() const
{
    if (!message_.empty())
        return sftp_text(message_);
    switch (code_) {
    case 2:
        return "No such file.";
    case 3:
        return "Permission denied.";
    case 4:
        return "Failure.";
    case 5:
        return "Bad message.";
    case 6:
        return "No connection.";
    case 7:
        return "Connection lost.";
    case 8:
        return "Unsupported.";
    default:
        return KV_String::format_impl("Unknown error ( code: %u ).", code_);
    }
}

KV_SftpMsgHandle::KV_SftpMsgHandle() : KV_SftpMsg(KV_SFTP_HANDLE) {}

bool KV_SftpMsgHandle::read(KV_Storage& st)
{
    return KV_SftpMsg::read(st) && handle_.read(st);
}

KV_SftpMsgData::KV_SftpMsgData() : KV_SftpMsg(KV_SFTP_DATA) {}

bool KV_SftpMsgData::read(KV_Storage& st)
{
    return KV_SftpMsg::read(st) && data_.read(st);
}

KV_SftpMsgName::KV_SftpMsgName() : KV_SftpMsg(KV_SFTP_NAME) {}

bool KV_SftpMsgName::read(KV_Storage& st)
{
    uint32_t count = 0;
    if (!KV_SftpMsg::read(st) || !ssh_read_u32(st, count))
        return false;
    // The count is the peer's: entries are read while bytes last, memory is
    // taken one entry at a time.
    for (uint32_t i = 0; i < count; ++i) {
        KV_SftpMsgNameElem e;
        if (!e.filename.read(st) || !e.longname.read(st) || !e.attrs.read(st) || !entries_.add(e))
            return false;
    }
    return true;
}
