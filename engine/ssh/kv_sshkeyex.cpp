#include "ssh/kv_sshkeyex.h"

#include <cstring>

#include <openssl/err.h>
#include <openssl/rand.h>

#include "foundation/kvtl.h"

KV_SshKeyEx::KV_SshKeyEx()
{
    // The cookie makes each side's exchange hash unpredictable: it must come
    // from a cryptographic generator.
    if (RAND_bytes(cookie_, sizeof cookie_) != 1) {
        ERR_clear_error();
        std::memset(cookie_, 0, sizeof cookie_);
    }
}

KV_SshKeyEx::~KV_SshKeyEx() = default;

bool KV_SshKeyEx::read(KV_Storage& st)
{
    if (!KV_SshTlMsg::read(st) || !ssh_read_all(st, cookie_, sizeof cookie_))
        return false;
    for (KV_SshString& list : lists_)
        if (!list.read(st))
            return false;
    return ssh_read_all(st, &first_kex_follows_, 1) && ssh_read_u32(st, reserved_);
}

bool KV_SshKeyEx::write(KV_Storage& st) const
{
    if (!KV_SshTlMsg::write(st) || st.write(cookie_, sizeof cookie_) != sizeof cookie_)
        return false;
    for (const KV_SshString& list : lists_)
        if (!list.write(st))
            return false;
    return st.write(&first_kex_follows_, 1) == 1 && ssh_write_u32(st, reserved_);
}

namespace {

bool split(const KV_Stream& list, KVTL::KV_ListVal<KV_String>& names)
{
    KV_String text;
    return text.append(list, list.length()) && text.parse(names, ",");
}

} // namespace

KV_String ssh_negotiate(const KV_Stream& ours, const KV_Stream& theirs)
{
    KVTL::KV_ListVal<KV_String> our_names;
    KVTL::KV_ListVal<KV_String> their_names;
    if (!split(ours, our_names) || !split(theirs, their_names))
        return KV_String();
    for (uint32_t i = 0; i < our_names.size(); ++i)
        if (their_names.find(our_names.at(i)))
            return our_names.at(i);
    return KV_String();
}
