#include "datasources/kv_ftplogindata.h"

KV_FtpLoginData::KV_FtpLoginData(const KV_String& user, const KV_String& pass,
                                 const KV_String& acct)
    : KV_LoginData(user, pass), acct_(acct)
{
}

KV_FtpLoginData& KV_FtpLoginData::operator=(const KV_LoginData& other)
{
    KV_LoginData::operator=(other);
    acct_.clear();
    return *this;
}

bool KV_FtpLoginData::operator==(const KV_FtpLoginData& other) const
{
    return KV_LoginData::operator==(other) && acct_ == other.acct_;
}

void KV_FtpLoginData::set_acct(const KV_String& acct)
{
    acct_ = acct.trim();
}
