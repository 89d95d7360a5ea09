// HTTP login data: user name and password, whether the server login is sent
// at all (auth), and the methods whose requests carry it (auth_cmds, one bit
// per method: GET 0x01, HEAD 0x02, PUT 0x04, DELETE 0x08, PROPFIND 0x10,
// MKCOL 0x20, MOVE 0x40, COPY 0x80).
//
// A plain value; one thread at a time per object.
#pragma once

#include <cstdint>

#include "datasources/kv_logindata.h"
#include "foundation/kv_string.h"

class KV_HttpLoginData : public KV_LoginData
{
public:
    // auth false, auth_cmds 0xFF; the texts stored as given.
    KV_HttpLoginData() = default;
    explicit KV_HttpLoginData(const KV_String& user, const KV_String& pass = KV_String());
    KV_HttpLoginData(const KV_HttpLoginData& other) = default;
    KV_HttpLoginData& operator=(const KV_HttpLoginData& other) = default;
    // User name and password of the plain login, with auth on for every
    // method: whoever hands over a plain login means it to be sent.
    KV_HttpLoginData& operator=(const KV_LoginData& other);
    ~KV_HttpLoginData() = default;

    // User name, password and auth_cmds equal; auth takes no part.
    bool operator==(const KV_HttpLoginData& other) const;

    bool auth() const { return auth_; }
    void set_auth(bool auth) { auth_ = auth; }
    uint16_t auth_cmds() const { return auth_cmds_; }
    void set_auth_cmds(uint16_t cmds) { auth_cmds_ = cmds; }

private:
    bool auth_ = false;
    uint16_t auth_cmds_ = 0xFF;
};
