#include "datasources/kv_logindata.h"
#include "foundation/kv_errhandler.h"

// Two letters, eight digits, eight digits, two letters. Fixed for good: every
// stored password of every user's data-source file depends on it.
const char KV_LoginData::bf_key[] = "Kv-20417395+86203147-Rl";

bool KV_LoginData::scramble(const KV_String& text, KV_ErrHandler& eh, KV_String& out)
{
    bool ok = true;
    out = text.encrypt_bf(bf_key, &eh, &ok);
    return ok;
}

bool KV_LoginData::unscramble(const KV_String& text, KV_String& out)
{
    bool ok = true;
    out = text.decrypt_bf(bf_key, nullptr, &ok);
    return ok;
}

KV_LoginData::KV_LoginData(const KV_String& user, const KV_String& pass) : user_(user), pass_(pass)
{
}

bool KV_LoginData::operator==(const KV_LoginData& other) const
{
    return user_ == other.user_ && pass_ == other.pass_;
}

void KV_LoginData::set_user(const KV_String& user)
{
    user_ = user.trim();
}

void KV_LoginData::set_pass(const KV_String& pass)
{
    pass_ = pass.trim();
}
