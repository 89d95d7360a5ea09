#include "datasources/kv_httplogindata.h"

KV_HttpLoginData::KV_HttpLoginData(const KV_String& user, const KV_String& pass)
    : KV_LoginData(user, pass)
{
}

KV_HttpLoginData& KV_HttpLoginData::operator=(const KV_LoginData& other)
{
    KV_LoginData::operator=(other);
    auth_ = true;
    auth_cmds_ = 0xFF;
    return *this;
}

bool KV_HttpLoginData::operator==(const KV_HttpLoginData& other) const
{
    return KV_LoginData::operator==(other) && auth_cmds_ == other.auth_cmds_;
}
