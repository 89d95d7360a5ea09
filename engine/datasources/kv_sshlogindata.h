// SSH login data: the user name and the password of an SSH-2 password
// authentication. Adds nothing to KV_LoginData; a type of its own so that the
// SSH manager and the SFTP parameters say which login they hold.
//
// A plain value; one thread at a time per object.
#pragma once

#include "datasources/kv_logindata.h"
#include "foundation/kv_string.h"

class KV_SshLoginData : public KV_LoginData
{
public:
    KV_SshLoginData() = default;
    // Both texts stored as given, not trimmed.
    explicit KV_SshLoginData(const KV_String& user, const KV_String& pass = KV_String());
    KV_SshLoginData(const KV_SshLoginData& other) = default;
    KV_SshLoginData& operator=(const KV_SshLoginData& other) = default;
    // User name and password, unchanged.
    KV_SshLoginData& operator=(const KV_LoginData& other);
    ~KV_SshLoginData() = default;

    // Same user name and password.
    bool operator==(const KV_SshLoginData& other) const;
};
