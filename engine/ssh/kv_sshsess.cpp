#include "ssh/kv_sshsess.h"

#include <new>

#include <openssl/bn.h>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "ssh/kv_sshchanif.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshman.h"

namespace {

// 82: no fields.
class MsgRequestFailure : public KV_SshTlMsg
{
public:
    uint8_t type() const override { return 82; }
};

// 100: u32 recipient channel.
class MsgChannelFailure : public KV_SshTlMsg
{
public:
    explicit MsgChannelFailure(uint32_t channel) : channel_(channel) {}
    uint8_t type() const override { return 100; }
    bool write(KV_Storage& st) const override
    {
        return KV_SshTlMsg::write(st) && ssh_write_u32(st, channel_);
    }

private:
    uint32_t channel_;
};

bool read_u8(KV_Storage& st, uint8_t& v)
{
    return ssh_read_all(st, &v, 1);
}

// Printable form of peer bytes for a message: control bytes become '.',
// and at most 64 of them are shown.
KV_String shown(const unsigned char* p, uint32_t n)
{
    KV_String s;
    for (uint32_t i = 0; i < n && i < 64; ++i)
        s += p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '.';
    return s;
}

// Digits of a version number, at most 9 of them; false when there are none.
bool scan_num(const unsigned char* p, uint32_t n, uint32_t& i, uint32_t& v)
{
    const uint32_t from = i;
    v = 0;
    while (i < n && p[i] >= '0' && p[i] <= '9' && i - from < 9)
        v = v * 10 + (p[i++] - '0');
    return i > from && !(i < n && p[i] >= '0' && p[i] <= '9');
}

} // namespace

KV_SshDh::KV_SshDh() : p(BN_new()), g(BN_new()), x(BN_secure_new()), e(BN_new()) {}

KV_SshDh::~KV_SshDh()
{
    BN_free(p);
    BN_free(g);
    BN_clear_free(x);
    BN_free(e);
}

KV_SshSess::KV_SshSess(KV_Socket& sock, const KV_InetAddr& addr, KV_SshMan* const owner)
    : KV_Session(owner, sock, addr), owner_(owner),
      soft_ver_(new (std::nothrow) char[soft_ver_size]())
{
    info_mask = 0xFF;
    started = std::chrono::steady_clock::now();
}

KV_SshSess::~KV_SshSess() = default;

KV_SshKeyMan& KV_SshSess::man_key()
{
    static KV_SshKeyMan store;
    return store;
}

void KV_SshSess::notice(const KV_String& text, bool err)
{
    log(KV_SESS_LOG_NOTICE, text, err);
}

bool KV_SshSess::report(const KV_String& text)
{
    if (owner_)
        owner_->set_err_msg(text);
    notice(text, true);
    return false;
}

bool KV_SshSess::init()
{
    if (!owner_)
        return false;
    owner_->sess_started_.store(true);
    owner_->new_conn();
    started = std::chrono::steady_clock::now();
    notice("Initializing the SSH session ...");
    return true;
}

bool KV_SshSess::init_secured()
{
    const bool r = KV_Session::init_secured();
    if (!r && owner_) {
        if (ssl.last_err().empty())
            owner_->set_err_msg("SSL negotiation failed.");
        else
            owner_->set_err_msg(KV_String::format_impl("%s ( %s )", "SSL negotiation failed.",
                                                       ssl.last_err().data()));
    }
    return r;
}

bool KV_SshSess::postcleanup(bool)
{
    if (channels_) {
        std::vector<uint32_t> nums;
        channels_->numbers(nums);
        for (uint32_t n : nums) {
            if (KV_SshChanIf* c = channels_->chan(n))
                c->end();
        }
    }
    if (owner_) {
        owner_->chans_open(false);
        owner_->end_sess();
    }
    return true;
}

bool KV_SshSess::send(KV_Stream& out, const KV_SshTlMsg& msg, KV_SshString* const copy)
{
    KV_String err;
    if (msg.send(out, current_[1], err, copy))
        return true;
    if (!err.empty())
        notice(err, true);
    return false;
}

bool KV_SshSess::process_out(KV_Stream& out)
{
    return KV_Session::process_out(out) && process_idle(out);
}

bool KV_SshSess::process_idle(KV_Stream& out)
{
    if (!owner_)
        return false;
    if (state_ == KV_SSH_SESS_STATE::VERSION) {
        // The version phase is bounded in time too: a peer that sends
        // nothing, or line after line slowly, must not hold the session.
        // Half the open time-out, so that this more telling text comes
        // before the manager gives up on the whole opening.
        const uint32_t limit = owner_->tmout_open() / 2;
        const auto waited = std::chrono::steady_clock::now() - started;
        if (limit != 0 && waited > std::chrono::milliseconds(limit)) {
            const KV_Stream& in = in_stream;
            return report(KV_String::format_impl("Invalid protocol version identification ( %s ).",
                                                 shown(in, in.length()).data()));
        }
        return true;
    }
    if (out.length() >= out_block)
        return true;
    if (!check_buff())
        return false;
    if (state_ == KV_SSH_SESS_STATE::VERSION_OK)
        return send_first_flight(out);
    if (state_ == KV_SSH_SESS_STATE::OPEN)
        return send_channel_data(out);
    return true;
}

bool KV_SshSess::send_first_flight(KV_Stream& out)
{
    KV_String line;
    if (!line.format("SSH-%u.%u-%s", 2u, 0u, "Kivrel") || !(v_c_ = KV_SshString(line.data())))
        return false;
    const unsigned char lf = '\n';
    const bool ok =
        out.append(reinterpret_cast<const unsigned char*>(line.data()), line.length()) &&
        out.append(&lf, 1) && send_keyex(out);
    if (KV_Informer* inf = owner_->informer())
        inf->send(new (std::nothrow)
                      KV_MsgLoginStatNtf(owner_->tavo_id(), KV_LOGIN_STATUS_CONNECTED));
    return ok;
}

bool KV_SshSess::send_channel_data(KV_Stream& out)
{
    if (!channels_)
        return true;
    std::vector<uint32_t> nums;
    channels_->numbers(nums);
    for (uint32_t n : nums) {
        KV_SshChanIf* c = channels_->chan(n);
        if (!c || !c->is_open())
            continue;
        if (!c->data_out())
            return false;
        // Every packet the server's window allows: one packet per pass
        // would hold an upload to a packet per wait. The channel holds no
        // more than its requests in flight.
        for (;;) {
            KV_SshTlMsgChannelData msg(c->remote_id());
            if (!c->take_out(msg.data()))
                return false;
            if (msg.data().empty())
                break;
            if (!send(out, msg))
                return false;
        }
    }
    return true;
}

bool KV_SshSess::process_in(KV_Stream& in, KV_Stream& out)
{
    if (!owner_)
        return false;
    // The loop calls this hook once per pass: every whole line or packet
    // that is buffered is handled now, not one per pass.
    for (;;) {
        const uint32_t before = in.length();
        bool ok;
        if (state_ == KV_SSH_SESS_STATE::VERSION) {
            ok = process_version(in);
        } else {
            // A server may send its KEXINIT right behind its identification
            // line: this side's KEXINIT must be out before that one is
            // answered.
            if (state_ == KV_SSH_SESS_STATE::VERSION_OK &&
                (!check_buff() || !send_first_flight(out)))
                return false;
            ok = process_packet(in, out);
        }
        if (!ok)
            return false;
        if (in.empty() || in.length() >= before || shutdown_req())
            break;
    }
    // Once a burst is all taken, what the channels queued in answer goes out
    // in this pass, not after the loop's next idle wait.
    return state_ != KV_SSH_SESS_STATE::OPEN || !in.empty() || process_idle(out);
}

bool KV_SshSess::process_version(KV_Stream& in)
{
    uint32_t pos = 0;
    if (!in.find('\n', pos)) {
        if (in.length() > max_line)
            return report(KV_String::format_impl("Invalid protocol version identification ( %s ).",
                                                 shown(in, in.length()).data()));
        return true;
    }
    const unsigned char* p = in;
    KV_Stream line;
    if (pos > max_line || !line.append(p, pos)) {
        const KV_String text = shown(p, pos);
        in.remove(pos + 1);
        return report(
            KV_String::format_impl("Invalid protocol version identification ( %s ).", text.data()));
    }
    in.remove(pos + 1);
    const unsigned char* l = line;
    const uint32_t n = line.length();
    uint32_t keep = n;
    while (keep > 0 && (l[keep - 1] == '\r' || l[keep - 1] == '\n'))
        --keep;
    if (n < 4 || l[0] != 'S' || l[1] != 'S' || l[2] != 'H' || l[3] != '-') {
        if (++pre_lines > max_pre_lines)
            return report(KV_String::format_impl("Invalid protocol version identification ( %s ).",
                                                 shown(l, keep).data()));
        return true;
    }
    // "SSH-%u.%u-%s": both numbers and a software version that is not
    // empty (it runs up to the first white space).
    uint32_t i = 4, major = 0, minor = 0;
    bool ok = scan_num(l, n, i, major) && i < n && l[i++] == '.' && scan_num(l, n, i, minor) &&
              i < n && l[i++] == '-';
    uint32_t soft = 0;
    if (ok) {
        while (i < n && l[i] != ' ' && l[i] != '\t' && l[i] != '\r' && l[i] != '\v' &&
               l[i] != '\f') {
            if (soft_ver_ && soft + 1 < soft_ver_size)
                soft_ver_[soft] = static_cast<char>(l[i]);
            ++soft;
            ++i;
        }
        if (soft_ver_)
            soft_ver_[soft + 1 < soft_ver_size ? soft : soft_ver_size - 1] = '\0';
        ok = soft > 0;
    }
    if (!ok)
        return report(KV_String::format_impl("Invalid protocol version identification ( %s ).",
                                             shown(l, keep).data()));
    v_s_.clear();
    if (!v_s_.append(l, keep))
        return false;
    if (!(major >= 2 || (major == 1 && minor == 99)))
        return report(
            KV_String::format_impl("Unsupported protocol version ( %u.%u ).", major, minor));
    state_ = KV_SSH_SESS_STATE::VERSION_OK;
    notice("The server is running SSH2");
    return true;
}

bool KV_SshSess::process_packet(KV_Stream& in, KV_Stream& out)
{
    KV_String err;
    bool complete = false;
    if (!packet.read_head(in, current_[0], complete, err))
        return err.empty() ? false : report(err);
    if (!complete)
        return true;
    if (!packet.read_body(in, current_[0], err))
        return err.empty() ? false : report(err);
    KV_Stream& payload = packet.payload();
    if (payload.length() > 0 && payload.at(0) == 20 && !(kex_s.payload() = payload))
        return false;
    const uint8_t type = payload.get();
    if (expected != 0) {
        // Only these may come between a key-exchange step and the next one;
        // the expectation stays until its message arrives.
        if (type == expected)
            expected = 0;
        else if (type != 4 && type != 2 && type != 1)
            return report(KV_String::format_impl(
                "Unexpected message received ( message type: %u ).", static_cast<unsigned>(type)));
    }
    return process_msg(out, type);
}

bool KV_SshSess::process_msg(KV_Stream& out, unsigned char type)
{
    KV_Stream& pl = packet.payload();
    switch (type) {
    case 1:
        return on_disconnect();
    case 2: {
        KV_SshTlMsgIgnore ign;
        return ign.read(pl);
    }
    case 3: {
        uint32_t seq = 0;
        return ssh_read_u32(pl, seq);
    }
    case 6:
        return on_service_accept(out);
    case 20:
        return on_kexinit(out);
    case 21:
        return on_newkeys(out);
    case 31:
        return on_kexdh_reply(out);
    case 51:
        return report("User authentication failed");
    case 52:
        return on_userauth_success(out);
    case 80:
        return on_global_request(out);
    case 91:
    case 92:
    case 93:
    case 94:
    case 97:
        return on_channel_msg(out, type);
    case 98:
        return on_channel_request(out);
    default:
        return true;
    }
}

bool KV_SshSess::on_disconnect()
{
    KV_Stream& pl = packet.payload();
    uint32_t reason = 0;
    KV_SshString descr;
    const bool ok = ssh_read_u32(pl, reason) && descr.read(pl);
    notice(KV_String::format_impl("Disconnecting ( reason: %u, message: %s )", reason,
                                  shown(descr, ok ? descr.length() : 0).data()));
    req_shutdown();
    return ok;
}

bool KV_SshSess::on_service_accept(KV_Stream& out)
{
    KV_SshString name;
    if (!name.read(packet.payload()))
        return false;
    if (!(name == KV_SshString("ssh-userauth")))
        return true;
    const KV_SshLoginData& ld = owner_->ldata();
    const KV_String pass = ld.pass(owner_->file_man());
    KV_SshTlMsgAuthReqPass req(KV_SshString(ld.user().data()), KV_SshString(pass.data()),
                               KV_SshString("ssh-connection"));
    if (!send(out, req))
        return false;
    notice("User authentication started");
    return true;
}

bool KV_SshSess::on_userauth_success(KV_Stream& out)
{
    // Only a login over keys in force counts.
    if (state_ != KV_SSH_SESS_STATE::KEX || session_id_.empty() || channels_)
        return false;
    if (KV_Informer* inf = owner_->informer()) {
        notice("Opening a channel");
        inf->send(new (std::nothrow)
                      KV_MsgLoginStatNtf(owner_->tavo_id(), KV_LOGIN_STATUS_LOGGED_IN));
    }
    channels_ = owner_->init_channels();
    if (!channels_)
        return false;
    std::vector<uint32_t> nums;
    channels_->numbers(nums);
    for (uint32_t n : nums) {
        KV_SshChanIf* c = channels_->chan(n);
        if (!c ||
            !send(out, KV_SshTlMsgChannelOpen(n, c->local_wnd(), c->local_max_packet(), "session")))
            return false;
    }
    state_ = KV_SSH_SESS_STATE::OPEN;
    if (nums.empty())
        owner_->chans_open(true);
    return true;
}

bool KV_SshSess::on_global_request(KV_Stream& out)
{
    KV_Stream& pl = packet.payload();
    KV_SshString name;
    uint8_t want = 0;
    if (!name.read(pl) || !read_u8(pl, want))
        return false;
    return want == 0 || send(out, MsgRequestFailure());
}

bool KV_SshSess::on_channel_request(KV_Stream& out)
{
    KV_Stream& pl = packet.payload();
    uint32_t num = 0;
    KV_SshString name;
    uint8_t want = 0;
    if (!ssh_read_u32(pl, num) || !name.read(pl) || !read_u8(pl, want))
        return false;
    KV_SshChanIf* c = channels_ ? channels_->chan(num) : nullptr;
    if (!c)
        return report(KV_String::format_impl("Invalid channel number received ( %u ).", num));
    return want == 0 || send(out, MsgChannelFailure(c->remote_id()));
}

bool KV_SshSess::on_channel_msg(KV_Stream& out, unsigned char type)
{
    KV_Stream& pl = packet.payload();
    uint32_t num = 0;
    if (!ssh_read_u32(pl, num))
        return false;
    KV_SshChanIf* c = channels_ ? channels_->chan(num) : nullptr;
    if (type == 92) {
        uint32_t reason = 0;
        if (!ssh_read_u32(pl, reason))
            return false;
        if (!c)
            return report(KV_String::format_impl("Invalid channel number received ( %u ).", num));
        channels_->drop(num);
        return report(KV_String::format_impl("Error opening channel ( reason: %u )", reason));
    }
    uint32_t a = 0, b = 0, d = 0;
    KV_SshString data;
    switch (type) {
    case 91:
        if (!ssh_read_u32(pl, a) || !ssh_read_u32(pl, b) || !ssh_read_u32(pl, d))
            return false;
        break;
    case 93:
        if (!ssh_read_u32(pl, a))
            return false;
        break;
    case 94:
        if (!data.read(pl))
            return false;
        break;
    default:
        break;
    }
    if (!c)
        return report(KV_String::format_impl("Invalid channel number received ( %u ).", num));
    switch (type) {
    case 91: {
        c->confirm(a, b, d);
        const KV_String name = c->name();
        if (!name.empty()) {
            if (!send(out, KV_SshTlMsgChannelReqSubsys(c->remote_id(), KV_SshString(name.data()))))
                return false;
            notice(KV_String::format_impl("Opening the subsystem: %s", name.data()));
        }
        c->set_state(1);
        std::vector<uint32_t> nums;
        channels_->numbers(nums);
        bool all = true;
        for (uint32_t n : nums) {
            KV_SshChanIf* o = channels_->chan(n);
            all = all && o && o->is_open();
        }
        if (all)
            owner_->chans_open(true);
        return true;
    }
    case 93:
        c->remote_wnd_add(a);
        return true;
    case 94: {
        if (state_ != KV_SSH_SESS_STATE::OPEN && state_ != KV_SSH_SESS_STATE::KEX)
            return false;
        bool adjust = false;
        if (!check_buff() || !c->data_in(data, adjust, out_block, buff_out.get()))
            return false;
        const uint32_t refill = adjust ? c->wnd_refill() : 0;
        if (refill != 0) {
            if (!send(out, KV_SshTlMsgChannelWndAdjust(c->remote_id(), refill)))
                return false;
            c->local_wnd_add(refill);
        }
        return true;
    }
    case 97:
        c->set_state(2);
        return true;
    default:
        return true;
    }
}
