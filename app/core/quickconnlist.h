#ifndef KIVREL_CORE_QUICKCONNLIST_H
#define KIVREL_CORE_QUICKCONNLIST_H

// The history of the quick-connect dialog: the last connections the user
// made by URL, newest first, kept in "UI"/"QuickConnList".
//
// Stored form, kept byte for byte because earlier versions read it: the
// entries one after another, newest first, with no count and no header;
// each entry is the URL and the user (KV_String binary form: u32 LE length,
// then each character as a 16-bit LE unit), the password scrambled with
// KV_String::encrypt_bf under KV_LoginData::bf_key and written in the same
// binary form, the anonymous byte, the temporary byte and the last use
// (KV_Time binary form, 4 bytes LE). Reading keeps every entry before the
// first that cannot be read whole, whatever the length of the value.
//
// A plain value; one thread at a time (the user-interface thread).

#include "foundation/kv_string.h"
#include "foundation/kv_time.h"

#include <QByteArray>
#include <cstdint>
#include <vector>

struct CQuickConnItem
{
    KV_String url;
    KV_String user;
    // Plain text in memory; scrambled only in the stored form.
    KV_String pass;
    uint8_t anonymous = 1;
    uint8_t temporary = 1;
    KV_Time last_use;
};

class CQuickConnHistory
{
public:
    // The most entries kept.
    static constexpr size_t kMaxItems = 50;

    // Replaces the entries by those of a stored value.
    void Load(const QByteArray& bytes);
    // The stored form of every entry, in list order. False, with `out`
    // untouched, when a password cannot be scrambled: the previous value is
    // better kept than replaced by one that lost passwords.
    bool Save(QByteArray& out) const;

    // Puts a new connection in front of every entry used at the same time or
    // earlier, after dropping the first entry whose URL is the same (trimmed,
    // ASCII upper-cased), then drops the oldest entries beyond kMaxItems.
    void Add(const CQuickConnItem& item);

    const std::vector<CQuickConnItem>& Items() const { return items; }
    void Clear() { items.clear(); }

    // "UI"/"QuickConnList" of the user's settings; a missing value gives an
    // empty history, a failed save keeps the stored value.
    void LoadFromProfile();
    bool SaveToProfile() const;

    // Whether two URLs count as the same connection.
    static bool SameUrl(const KV_String& a, const KV_String& b);

private:
    std::vector<CQuickConnItem> items;
};

// Anonymous login applies to an address without scheme (FTP is assumed),
// "FTP" and "FTPS" (ASCII case ignored).
bool QuickConnAnonymousApplies(const KV_String& url);

// Whether a non-anonymous login may be used for `url` (user and password
// trimmed): HTTP and HTTPS servers may have no login at all but never a
// password without a user; every other server needs a user.
bool QuickConnLoginOk(const KV_String& url, const KV_String& user, const KV_String& pass);

#endif
