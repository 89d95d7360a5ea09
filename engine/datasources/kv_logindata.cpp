#include "datasources/kv_logindata.h"

// Two letters, eight digits, eight digits, two letters. Fixed for good: every
// stored password of every user's data-source file depends on it.
const char KV_LoginData::bf_key[] = "Kv-20417395+86203147-Rl";

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
