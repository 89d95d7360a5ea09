#include "datasources/kv_sshlogindata.h"

KV_SshLoginData::KV_SshLoginData(const KV_String& user, const KV_String& pass)
    : KV_LoginData(user, pass)
{
}

KV_SshLoginData& KV_SshLoginData::operator=(const KV_LoginData& other)
{
    KV_LoginData::operator=(other);
    return *this;
}

bool KV_SshLoginData::operator==(const KV_SshLoginData& other) const
{
    return KV_LoginData::operator==(other);
}
