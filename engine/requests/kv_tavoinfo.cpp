#include "requests/kv_tavoinfo.h"

#include <new>

#include "foundation/kv_msg.h"
#include "requests/kv_reqmsg.h"
#include "requests/kv_sessinfo.h"

// ---------------------------------------------------------------------------
// KV_TavoInfo

KV_TavoInfo::KV_TavoInfo() : status_text("Ready"), conn(KV_TAVO_CONN_NONE) {}

KV_TavoInfo::KV_TavoInfo(const KV_TavoInfo& other)
    : sess_ctrl(other.sess_ctrl), sess_data(other.sess_data), status_text(other.status_text),
      detail_text(other.detail_text), conn(other.conn), refused(other.refused)
{
}

KV_TavoInfo& KV_TavoInfo::operator=(const KV_TavoInfo& other)
{
    if (this != &other) {
        sess_ctrl = other.sess_ctrl;
        sess_data = other.sess_data;
        status_text = other.status_text;
        conn = other.conn;
        refused = other.refused;
        detail_text = other.detail_text;
    }
    return *this;
}

KV_TavoInfo::~KV_TavoInfo()
{
    list_log_.clear();
}

bool KV_TavoInfo::add_log(const KV_SessLogInfo& line)
{
    while (list_log_.size() >= max_log) {
        if (!list_log_.remove_at(0)) {
            return false;
        }
    }
    return list_log_.add(line);
}

// ---------------------------------------------------------------------------
// KV_TavoInfoMan

KV_TavoInfoMan::KV_TavoInfoMan() = default;

KV_TavoInfoMan::~KV_TavoInfoMan()
{
    map_info_.delete_all();
    map_info_.clear();
    list_recv.clear();
}

const KV_TavoInfo* KV_TavoInfoMan::at(unsigned int id) const
{
    return map_info_.find(id);
}

KV_TavoInfo* KV_TavoInfoMan::init(unsigned int id)
{
    KV_TavoInfo* info = map_info_.find(id);
    if (info) {
        return info;
    }
    info = new (std::nothrow) KV_TavoInfo;
    if (!info) {
        return nullptr;
    }
    if (!map_info_.add(id, info)) {
        delete info;
        return nullptr;
    }
    return info;
}

void KV_TavoInfoMan::inform(unsigned int id, KV_TAVO_NTF_TYPE kind, KV_TavoInfoNtfRecv* only)
{
    for (uint32_t i = 0; i < list_recv.size(); ++i) {
        KV_TavoInfoNtfRecv* recv = list_recv.at(i);
        if (!recv || (only && recv != only)) {
            continue;
        }
        recv->notify(id, kind);
    }
}

bool KV_TavoInfoMan::reg(KV_TavoInfoNtfRecv* recv)
{
    if (!list_recv.add(recv)) {
        return false;
    }
    KVTL::KV_HMapPtrIterator<unsigned int, KV_TavoInfo> it(map_info_);
    for (it.first(); !it.end(); it.next()) {
        inform(it.key(), KV_TAVO_NTF_TYPE_CHANGED, recv);
    }
    return true;
}

bool KV_TavoInfoMan::unreg(KV_TavoInfoNtfRecv* recv)
{
    return list_recv.remove(recv);
}

bool KV_TavoInfoMan::process_ntf(const KV_Msg* msg)
{
    if (!msg) {
        return true;
    }
    switch (msg->type()) {
    case KV_MSG_TAVO: {
        const auto* m = static_cast<const KV_MsgTavoNtf*>(msg);
        switch (m->ntf) {
        case KV_TAVO_NTF_ADDED:
        case KV_TAVO_NTF_STATUS: {
            KV_TavoInfo* info = init(m->tavo_id);
            if (!info) {
                return false;
            }
            info->status_text = m->text1;
            info->detail_text = m->text2;
            inform(m->tavo_id, KV_TAVO_NTF_TYPE_CHANGED, nullptr);
            return true;
        }
        case KV_TAVO_NTF_REMOVED:
            if (!map_info_.remove(m->tavo_id)) {
                return false;
            }
            inform(m->tavo_id, KV_TAVO_NTF_TYPE_REMOVED, nullptr);
            return true;
        default:
            // The worker set changed: the file manager's views reread the
            // pool themselves; nothing here depends on it.
            return true;
        }
    }
    case KV_MSG_SESS: {
        const auto* m = static_cast<const KV_MsgSessNtf*>(msg);
        // Id 0 stands for all sessions together, not for a worker.
        if (m->tavo_id == 0) {
            return true;
        }
        KV_TavoInfo* info = init(m->tavo_id);
        if (!info) {
            return false;
        }
        const KV_SessInfo& sess = m->info;
        switch (sess.type()) {
        case KV_SESS_TYPE_FTP_CTRL:
            info->sess_ctrl = sess;
            if (!sess.running()) {
                info->conn = KV_TAVO_CONN_NONE;
            }
            break;
        case KV_SESS_TYPE_FTP_DATA:
            // A data connection comes and goes with every transfer; the
            // worker stays connected through its control session.
            info->sess_data = sess;
            break;
        case KV_SESS_TYPE_HTTP:
            // HTTP has no login step: a running session is all there is.
            info->sess_ctrl = sess;
            info->sess_data = sess;
            info->conn = sess.running() ? KV_TAVO_CONN_CONNECTED : KV_TAVO_CONN_NONE;
            break;
        case KV_SESS_TYPE_SSH:
            info->sess_ctrl = sess;
            info->sess_data = sess;
            if (!sess.running()) {
                info->conn = KV_TAVO_CONN_NONE;
            }
            break;
        default:
            break;
        }
        inform(m->tavo_id, KV_TAVO_NTF_TYPE_CHANGED, nullptr);
        return true;
    }
    case KV_MSG_SESS_LOG: {
        const auto* m = static_cast<const KV_MsgSessLog*>(msg);
        KV_TavoInfo* info = init(m->tavo_id);
        if (!info || !info->add_log(m->info)) {
            return false;
        }
        inform(m->tavo_id, KV_TAVO_NTF_TYPE_LOG, nullptr);
        return true;
    }
    case KV_MSG_LOGIN_STAT: {
        const auto* m = static_cast<const KV_MsgLoginStatNtf*>(msg);
        KV_TavoInfo* info = init(m->tavo_id);
        if (!info) {
            return false;
        }
        info->conn = static_cast<int>(m->status);
        if (m->status == KV_LOGIN_STATUS_REFUSED) {
            info->refused = true;
        } else if (m->status == KV_LOGIN_STATUS_LOGGED_IN) {
            info->refused = false;
        }
        inform(m->tavo_id, KV_TAVO_NTF_TYPE_CHANGED, nullptr);
        return true;
    }
    default:
        return true;
    }
}

void KV_TavoInfoMan::status(KV_String& out, KV_CONN_CLR& clr) const
{
    int best = KV_TAVO_CONN_NONE;
    uint32_t count = 0;
    uint32_t refused = 0;
    bool logged_in = false;
    KVTL::KV_HMapPtrIterator<unsigned int, KV_TavoInfo> it(map_info_);
    for (it.first(); !it.end(); it.next()) {
        const int conn = it.value()->conn;
        if (count == 0 || conn > best) {
            best = conn;
            count = 1;
        } else if (conn == best) {
            ++count;
        }
        refused += it.value()->refused ? 1 : 0;
        logged_in = logged_in || conn == KV_TAVO_CONN_LOGGED_IN;
    }

    const char* text = "Unknown";
    clr = KV_CONN_CLR_NONE;
    const bool known = best == KV_TAVO_CONN_NONE || best == KV_TAVO_CONN_CONNECTED ||
                       best == static_cast<int>(KV_LOGIN_STATUS_REFUSED);
    if (refused > 0 && known && !logged_in) {
        // The session that follows a refusal closes at once, and a worker
        // that tries again is connected only until the same refusal.
        out = KV_String::format_impl("%s [%u]", "Login refused", refused);
        return;
    }
    switch (best) {
    case KV_TAVO_CONN_NONE:
        text = "Disconnected";
        break;
    case KV_TAVO_CONN_CONNECTED:
        text = "Connected";
        clr = KV_CONN_CLR_CONNECTED;
        break;
    case KV_TAVO_CONN_LOGGED_IN:
        text = "Logged in";
        clr = KV_CONN_CLR_LOGGED_IN;
        break;
    default:
        break;
    }
    if (count > 0) {
        out = KV_String::format_impl("%s [%u]", text, count);
    } else {
        out = text;
    }
}

bool KV_TavoInfoMan::min_conn(unsigned int n, KVTL::KV_ListVal<unsigned int>& ids) const
{
    unsigned int counted = 0;
    KVTL::KV_HMapPtrIterator<unsigned int, KV_TavoInfo> it(map_info_);
    for (it.first(); counted < n && !it.end(); it.next()) {
        if (it.value()->conn != KV_TAVO_CONN_LOGGED_IN && !ids.add(it.key())) {
            return false;
        }
        ++counted;
    }
    return true;
}
