// FTP login data: user name, password and the account sent with ACCT.
//
// A plain value; one thread at a time per object.
#pragma once

#include "datasources/kv_logindata.h"
#include "foundation/kv_string.h"

class KV_FtpLoginData : public KV_LoginData
{
public:
    KV_FtpLoginData() = default;
    // All three stored as given, not trimmed.
    explicit KV_FtpLoginData(const KV_String& user, const KV_String& pass = KV_String(),
                             const KV_String& acct = KV_String());
    KV_FtpLoginData(const KV_FtpLoginData& other) = default;
    KV_FtpLoginData& operator=(const KV_FtpLoginData& other) = default;
    // User name and password of the plain login; the account is cleared.
    KV_FtpLoginData& operator=(const KV_LoginData& other);
    ~KV_FtpLoginData() = default;

    // User name, password and account all equal.
    bool operator==(const KV_FtpLoginData& other) const;

    // Stored trimmed of blanks, tabs, CR and LF at both ends.
    void set_acct(const KV_String& acct);
    const KV_String& acct() const { return acct_; }

private:
    KV_String acct_;
};
