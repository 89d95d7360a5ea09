// The small FTP enumerations that the manager, its actions, the data-source
// parameters and the worker share.
#pragma once

#include <cstdint>

// Where the login of a control connection stands.
enum KV_FTP_LOGIN : uint32_t {
    KV_FTP_LOGIN_OK = 0,
    KV_FTP_LOGIN_REFUSED = 1,
    KV_FTP_LOGIN_PASS = 2, // the server wants the password
    KV_FTP_LOGIN_ACCT = 3, // the server wants the account
    KV_FTP_LOGIN_WAIT = 4, // nothing sent yet (welcome pending, user name next)
};

// FTP over TLS.
enum KV_FTP_SECURE : uint32_t {
    KV_FTP_SECURE_NONE = 0,
    KV_FTP_SECURE_IMPLICIT = 1, // TLS from the first byte, port 990
    KV_FTP_SECURE_EXPLICIT = 2, // AUTH after the welcome, port 21
};

// The server's operating system, which decides how its listings read.
enum KV_FTP_SERV_TYPE : uint32_t {
    KV_FTP_SERV_UNKNOWN = 0, // let SYST decide
    KV_FTP_SERV_GENERIC = 1,
    KV_FTP_SERV_NETWARE = 2,
    KV_FTP_SERV_UNIX = 3,
    KV_FTP_SERV_VM = 4,
    KV_FTP_SERV_VMS = 5,
    KV_FTP_SERV_WINNT = 6,
};

// Phase of the transfer in progress.
enum KV_FTP_TRANS_STAT : uint32_t {
    KV_FTP_TRANS_STARTED = 0, // the data connection is up
    KV_FTP_TRANS_ENDED = 1,   // the data stream ended
    KV_FTP_TRANS_ACKED = 2,   // the server confirmed the transfer
    KV_FTP_TRANS_IDLE = 3,
};
