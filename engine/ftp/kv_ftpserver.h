// Listing dialects: how one line of a server's LIST answer reads, and how
// paths are written for servers whose paths are not slash-separated.
//
// KV_FtpServer reads Unix-style long listings (also what most Windows servers
// send in Unix mode); the kinds add Netware, VM/CMS, VMS and the DOS style of
// IIS, each falling back to the Unix form where servers mix them. Lines come
// from the network, so every field is scanned by a tokenizer of our own:
// sizes are 64-bit and checked for overflow, a negative size leaves the
// entry with its size unknown (neither flag 0x04 nor 0x10, size 0), a fixed
// field longer than max_field or a line longer than max_line is no entry,
// and the name is the whole rest of the line, however long.
//
// Threads: one object per connection, used by the thread that runs its
// actions; the VMS kind carries a line from one call to the next.
#pragma once

#include <cstdint>

#include "datasources/kv_ftptypes.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"

// Bits of the entry flags that parse_line gives (the file-data flag byte).
enum KV_FTP_ENTRY : uint8_t {
    KV_FTP_ENTRY_DIR = 0x01,
    KV_FTP_ENTRY_LINK = 0x02,
    KV_FTP_ENTRY_SZ_EST = 0x04, // the size is an estimate
    KV_FTP_ENTRY_SZ_EXACT = 0x10,
};

class KV_FtpServer
{
public:
    // A fixed field (attributes, owner, month, ...) longer than this makes the
    // line no entry.
    static constexpr uint32_t max_field = 255;
    // So does a whole line longer than this.
    static constexpr uint32_t max_line = 65536;

    KV_FtpServer() = default;
    KV_FtpServer(const KV_FtpServer&) = default;
    KV_FtpServer& operator=(const KV_FtpServer&) = default;
    virtual ~KV_FtpServer() = default;

    // A number telling the dialects apart.
    virtual uint32_t kind() const { return 1; }
    // The KV_Time::from_str form of the date text: 1 month name first, 2
    // MM-DD-YY with AM/PM, 3 DD-Mon-YYYY.
    virtual uint32_t date_form() const { return 1; }
    // One listing line; true when it was an entry. Outputs are set only then
    // (fields the dialect has no column for are cleared).
    virtual bool parse_line(const KV_String& line, KV_String& name, KV_String& attr,
                            KV_String& owner, KV_String& group, KV_String& date, int64_t& size,
                            uint8_t& flags);
    // A server directory as a slash path, in place.
    virtual bool dir_from_serv(KV_String& dir);
    // LIST may carry options ("-a", "-L").
    virtual bool list_opts() const { return true; }
    // A slash path in the server's syntax, in place.
    virtual bool path_to_serv(KV_String& path, bool is_file);
    // The reply code confirms a finished transfer.
    virtual bool acks_trans(uint32_t code) const;
    // Forgets what one listing left behind.
    virtual void reset() {}

protected:
    // The Unix long-listing grammars.
    bool parse_generic(const KV_String& line, KV_String& name, KV_String& attr, KV_String& owner,
                       KV_String& group, KV_String& date, int64_t& size, uint8_t& flags);
};

class KV_FtpServerNetware : public KV_FtpServer
{
public:
    uint32_t kind() const override { return 6; }
    bool parse_line(const KV_String& line, KV_String& name, KV_String& attr, KV_String& owner,
                    KV_String& group, KV_String& date, int64_t& size, uint8_t& flags) override;
};

class KV_FtpServerVM : public KV_FtpServer
{
public:
    uint32_t kind() const override { return 4; }
    bool parse_line(const KV_String& line, KV_String& name, KV_String& attr, KV_String& owner,
                    KV_String& group, KV_String& date, int64_t& size, uint8_t& flags) override;
    bool list_opts() const override { return false; }
    bool acks_trans(uint32_t code) const override;
};

class KV_FtpServerVMS : public KV_FtpServer
{
public:
    // path_man is the file manager's notation of slash paths.
    explicit KV_FtpServerVMS(const KV_PathMan& path_man);

    uint32_t kind() const override { return 5; }
    uint32_t date_form() const override { return 3; }
    // A long name may stand alone on a line with its details on the next: a
    // line that is no entry is kept and tried again in front of the next one.
    bool parse_line(const KV_String& line, KV_String& name, KV_String& attr, KV_String& owner,
                    KV_String& group, KV_String& date, int64_t& size, uint8_t& flags) override;
    // "DISK$USER:[DIR.SUB]" becomes "/DIR/SUB" (in the path manager's
    // notation); the device and the closing bracket are kept for the way back.
    bool dir_from_serv(KV_String& dir) override;
    bool list_opts() const override { return false; }
    bool path_to_serv(KV_String& path, bool is_file) override;
    void reset() override { carried.clear(); }

private:
    bool parse_one(const KV_String& text, KV_String& name, KV_String& attr, KV_String& date,
                   int64_t& size, uint8_t& flags) const;

    KV_PathMan path_man;
    KV_String dev_pre;
    KV_String dir_suf;
    KV_String carried;
};

class KV_FtpServerWinNT : public KV_FtpServer
{
public:
    uint32_t kind() const override { return 6; }
    uint32_t date_form() const override { return 2; }
    // The Unix form first (IIS in Unix mode), else the DOS form.
    bool parse_line(const KV_String& line, KV_String& name, KV_String& attr, KV_String& owner,
                    KV_String& group, KV_String& date, int64_t& size, uint8_t& flags) override;
};
