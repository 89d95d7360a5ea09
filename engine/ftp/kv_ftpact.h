// FTP actions: each FTP operation is a small command object that the worker
// hands to KV_FtpMan::exec. The manager brings the control connection into a
// logged-in state and calls run(), which sends the command(s) and reads the
// outcome from the manager's reply state.
//
// executed() is the operation's success: it starts true and is only ever
// lowered; timed_out() is only ever raised. The result of run() and exec()
// only says whether the attempt could be carried out.
//
// A name, path, credential or command text holding a CR, LF or NUL is never
// sent: the action fails with "Invalid character in a command argument." (a
// Linux file name may hold a line feed, which would end the command early
// and let the rest reach the server as a command of its own).
//
// Threads: the worker's thread runs the action; the flags are also written by
// the data session's thread, each under its own lock.
#pragma once

#include <cstdint>

#include "datasources/kv_ftplogindata.h"
#include "datasources/kv_ftptypes.h"
#include "datasources/kv_manopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_inetaddr.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_FtpMan;
class KV_Stream;

class KV_FtpAct : public KV_SafeObj
{
    friend class KV_FtpMan;

public:
    KV_FtpAct() = default;
    KV_FtpAct(const KV_FtpAct& other);
    KV_FtpAct& operator=(const KV_FtpAct& other);
    virtual ~KV_FtpAct() = default;

    virtual bool run() = 0;
    virtual bool needs_login() const { return true; }
    virtual void exec_init() {}

    // Runs this action as a step of parent, on the parent's manager, keeping
    // the reply state (a failure of the step stays visible to the parent).
    bool exec(KV_FtpAct* parent);

    void set_executed(bool v);
    void set_timed_out(bool v);
    void set_force_executed() { force_executed = true; }
    bool executed() const;
    bool timed_out() const;
    bool force_exec() const { return force_executed; }
    KV_FtpMan& ftp() const { return *ftp_; }

    bool operator==(const KV_FtpAct* other) const { return this == other; }
    bool operator<(const KV_FtpAct* other) const { return this < other; }

    // The message of a refused argument.
    static constexpr const char* bad_arg_msg = "Invalid character in a command argument.";
    // No CR, LF or NUL in s.
    static bool arg_ok(const KV_String& s);

protected:
    // Sends one command and folds its outcome into the flags. A command
    // holding CR, LF or NUL is refused (nothing sent, not executed).
    bool cmd(const KV_String& text, const char* log_text = nullptr);
    bool cmd(const char* text, const char* log_text = nullptr);
    // "verb arg" after checking arg; false (not executed, the message set)
    // when arg holds CR, LF or NUL.
    bool cmd_arg(const char* verb, const KV_String& arg, const char* log_text = nullptr);
    // cmd_arg for a value the login cannot do without: an empty arg sends
    // nothing and fails with empty_msg.
    bool cmd_required(const char* verb, const KV_String& arg, const char* empty_msg,
                      const char* log_text = nullptr);
    // Refuses arg like cmd_arg; true when it may be sent.
    bool check_arg(const KV_String& arg);

private:
    bool exec(KV_FtpMan* man);

    mutable KV_Lock lock_exec;
    mutable KV_Lock lock_tmo;
    KV_FtpMan* ftp_ = nullptr;
    bool executed_ = true;
    bool timed_out_ = false;
    bool force_executed = false;
};

// The actions that move data over a data connection (listings, downloads,
// uploads, the halves of a server-to-server copy). run() negotiates the data
// connection (PASV and connect, or listen and PORT), sends get_cmd(), waits
// for the transfer to begin, end and be acknowledged, and closes the data
// connection. In automatic mode a failed attempt is retried once in the
// other mode, but never once data has moved (every data hook marks that),
// and the mode that worked is remembered for the next transfer.
//
// The data hooks (init, process_in, process_out, cleanup) run on the data
// session's thread while run() waits; they touch only the action's own data
// and the flags, which are locked.
class KV_FtpActTrans : public KV_FtpAct
{
public:
    bool run() override;
    void exec_init() override;

    virtual KV_String get_cmd() = 0;
    virtual bool trans_end_fast() const { return false; }
    virtual bool dtrans(KV_InetAddr&) { return false; }
    virtual bool close_self() const { return false; }
    virtual bool trans_cmd_sent() { return true; }
    virtual bool process_in(KV_Stream& in, bool& end);
    virtual bool process_out(KV_Stream& out, bool& end, uint32_t size, uint8_t* buff);
    virtual bool init() { return true; }
    virtual bool cleanup() { return true; }

protected:
    bool run(KV_FTP_CONN_MODE mode);
    bool wait_trans_beg();
    bool wait_trans_end();
    bool wait_trans_ack();

    // 0 the first attempt; 1 the retry runs passive, 2 active; 3 data has
    // moved, nothing is retried.
    uint32_t retry_mode = 0;
};

// ---- login and connection actions

class KV_FtpActLogin : public KV_FtpAct
{
public:
    // ldata is referenced, not copied: it must outlive the action.
    KV_FtpActLogin(const KV_FtpLoginData& ldata, bool proxy) : ldata(ldata), proxy(proxy) {}
    bool run() override;
    bool needs_login() const override { return false; }

private:
    const KV_FtpLoginData& ldata;
    bool proxy;
};

class KV_FtpActUser : public KV_FtpAct
{
public:
    explicit KV_FtpActUser(const KV_String& name) : name(name) {}
    bool run() override;
    bool needs_login() const override { return false; }

private:
    KV_String name;
};

class KV_FtpActPass : public KV_FtpAct
{
public:
    explicit KV_FtpActPass(const KV_String& pass) : pass(pass) {}
    bool run() override;
    bool needs_login() const override { return false; }

private:
    KV_String pass;
};

class KV_FtpActPbSz : public KV_FtpAct
{
public:
    bool run() override;
    bool needs_login() const override { return false; }
};

class KV_FtpActProt : public KV_FtpAct
{
public:
    bool run() override;
    bool needs_login() const override { return false; }
};

// Names the real server to an FTP proxy (SITE, OPEN, USER user@host [port]).
class KV_FtpActProxyConn : public KV_FtpAct
{
public:
    bool run() override;
    bool needs_login() const override { return false; }
};

class KV_FtpActPasv : public KV_FtpAct
{
public:
    bool run() override;
};

class KV_FtpActPort : public KV_FtpAct
{
public:
    explicit KV_FtpActPort(const KV_InetAddr& addr) : addr(addr) {}
    bool run() override;

private:
    KV_InetAddr addr;
    KV_String text;
};

class KV_FtpActMkDir : public KV_FtpAct
{
public:
    explicit KV_FtpActMkDir(const KV_String& dir) : dir(dir) {}
    bool run() override;

private:
    KV_String dir;
};

// ---- simple commands

class KV_FtpActAcct : public KV_FtpAct
{
public:
    explicit KV_FtpActAcct(const KV_String& acct) : acct(acct) {}
    bool run() override;
    bool needs_login() const override { return false; }

private:
    KV_String acct;
};

class KV_FtpActAuth : public KV_FtpAct
{
public:
    bool run() override;
    bool needs_login() const override { return false; }
};

class KV_FtpActCd : public KV_FtpAct
{
public:
    explicit KV_FtpActCd(const KV_String& path) : path(path) {}
    bool run() override;

private:
    KV_String path;
};

class KV_FtpActChmod : public KV_FtpAct
{
public:
    KV_FtpActChmod(const KV_String& path, const KV_String& access) : path(path), access(access) {}
    bool run() override;

private:
    KV_String path;
    KV_String access;
};

// Connection upkeep: a keep-alive (NOOP or PWD) on a connection that was
// already open; anything else only checks the connection.
class KV_FtpActConnMan : public KV_FtpAct
{
public:
    // The manage command: 1 keep alive.
    explicit KV_FtpActConnMan(uint32_t command) : command(command) {}
    bool run() override;

private:
    uint32_t command;
};

class KV_FtpActDel : public KV_FtpAct
{
public:
    explicit KV_FtpActDel(const KV_String& path) : path(path) {}
    bool run() override;

private:
    KV_String path;
};

class KV_FtpActPwd : public KV_FtpAct
{
public:
    bool run() override;
};

class KV_FtpActRen : public KV_FtpAct
{
public:
    KV_FtpActRen(const KV_String& from, const KV_String& to) : from(from), to(to) {}
    bool run() override;

private:
    KV_String from;
    KV_String to;
};

class KV_FtpActRest : public KV_FtpAct
{
public:
    explicit KV_FtpActRest(int64_t offset) : offset(offset) {}
    bool run() override;

private:
    int64_t offset;
};

class KV_FtpActRmDir : public KV_FtpAct
{
public:
    explicit KV_FtpActRmDir(const KV_String& path) : path(path) {}
    bool run() override;

private:
    KV_String path;
};

class KV_FtpActSyst : public KV_FtpAct
{
public:
    explicit KV_FtpActSyst(KV_FTP_SERV_TYPE& type) : type(type) {}
    bool run() override;
    // The server type named by the words of a SYST reply; 1 (generic) when
    // none is known. The last known word wins.
    static KV_FTP_SERV_TYPE type_of(const KV_String& text);

private:
    KV_FTP_SERV_TYPE& type;
};

class KV_FtpActType : public KV_FtpAct
{
public:
    explicit KV_FtpActType(KV_TRANS_MODE mode) : mode(mode) {}
    bool run() override;

private:
    KV_TRANS_MODE mode;
};

// A command the user typed, sent as it is (trimmed).
class KV_FtpActUsrDef : public KV_FtpAct
{
public:
    explicit KV_FtpActUsrDef(const KV_String& text) : text(text.trim(3)) {}
    bool run() override;

private:
    KV_String text;
};
