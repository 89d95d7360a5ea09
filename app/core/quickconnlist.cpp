#include "core/quickconnlist.h"

#include "core/settings.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_uriman.h"

#include <algorithm>

namespace {

KV_String Scheme(const KV_String& url)
{
    KV_String scheme;
    KV_String host;
    KV_String path;
    KV_UriMan::split_uri(url, scheme, host, path);
    return scheme.upper();
}

bool ReadItem(KV_Stream& st, CQuickConnItem& item)
{
    KV_String pass;
    if (!item.url.read_bin(st) || !item.user.read_bin(st) || !pass.read_bin(st)) {
        return false;
    }
    bool ok = true;
    item.pass = pass.decrypt_bf(KV_LoginData::bf_key, nullptr, &ok);
    return ok && st.read_le(item.anonymous) && st.read_le(item.temporary) &&
           item.last_use.read_bin(st);
}

} // namespace

void CQuickConnHistory::Load(const QByteArray& bytes)
{
    items.clear();
    KV_Stream st;
    if (bytes.isEmpty() || !st.append(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                      static_cast<uint32_t>(bytes.size()))) {
        return;
    }
    CQuickConnItem item;
    while (st.length() > 0 && ReadItem(st, item)) {
        items.push_back(item);
        item = CQuickConnItem();
    }
    // Newest first, as the list is kept; entries of the same time keep their
    // stored order.
    std::stable_sort(
        items.begin(), items.end(),
        [](const CQuickConnItem& a, const CQuickConnItem& b) { return a.last_use > b.last_use; });
}

bool CQuickConnHistory::Save(QByteArray& out) const
{
    KV_Stream st;
    for (const CQuickConnItem& item : items) {
        bool ok = true;
        const KV_String pass = item.pass.encrypt_bf(KV_LoginData::bf_key, nullptr, &ok);
        if (!ok || !item.url.write_bin(st) || !item.user.write_bin(st) || !pass.write_bin(st) ||
            !st.write_le(item.anonymous) || !st.write_le(item.temporary) ||
            !item.last_use.write_bin(st)) {
            return false;
        }
    }
    out = QByteArray(reinterpret_cast<const char*>(static_cast<const unsigned char*>(st)),
                     static_cast<qsizetype>(st.length()));
    return true;
}

bool CQuickConnHistory::SameUrl(const KV_String& a, const KV_String& b)
{
    return a.trim().upper() == b.trim().upper();
}

void CQuickConnHistory::Add(const CQuickConnItem& item)
{
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (SameUrl(it->url, item.url)) {
            items.erase(it);
            break;
        }
    }
    // In front of entries of the same second too: the connection just made
    // is the newest, and must not be the one the size limit drops.
    auto pos = items.begin();
    while (pos != items.end() && pos->last_use > item.last_use) {
        ++pos;
    }
    items.insert(pos, item);
    while (items.size() > kMaxItems) {
        items.pop_back();
    }
}

void CQuickConnHistory::LoadFromProfile()
{
    Load(GetProfileBinary(QStringLiteral("UI"), QStringLiteral("QuickConnList")));
}

bool CQuickConnHistory::SaveToProfile() const
{
    QByteArray bytes;
    return Save(bytes) &&
           WriteProfileBinary(QStringLiteral("UI"), QStringLiteral("QuickConnList"), bytes);
}

bool QuickConnAnonymousApplies(const KV_String& url)
{
    const KV_String scheme = Scheme(url);
    return scheme.empty() || scheme == "FTP" || scheme == "FTPS";
}

bool QuickConnLoginOk(const KV_String& url, const KV_String& user, const KV_String& pass)
{
    const KV_String scheme = Scheme(url);
    const bool user_empty = user.trim().empty();
    if (scheme == "HTTP" || scheme == "HTTPS") {
        return !(user_empty && !pass.trim().empty());
    }
    return !user_empty;
}
