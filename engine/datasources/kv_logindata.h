// Login data: a user name and a password, carried by value through the
// engine (data-source nodes, proxy options, connection parameters, protocol
// managers). The protocol kinds KV_FtpLoginData, KV_HttpLoginData and
// KV_SshLoginData derive from it.
//
// A plain value: no virtual operations, copy equals assignment. The password
// is held in clear text in memory; the data-source file keeps it scrambled
// with KV_String::encrypt_bf under bf_key.
//
// Threads: one thread at a time per object.
#pragma once

#include "foundation/kv_string.h"

class KV_ErrHandler;

class KV_LoginData
{
public:
    // The Blowfish key of every PASS, PROXY_PASS and ANONYMOUS_PASS value in the
    // data-source file (and of the program's stored logins). Files written with
    // one key read back only with the same key: never change it.
    static const char bf_key[];
    // Passwords as the data-source file holds them, scrambled under bf_key.
    // False when the cipher cannot be had: a save must then fail rather than
    // leave the password out, and a load must refuse the file rather than
    // keep an empty password. scramble reports the reason to eh.
    static bool scramble(const KV_String& text, KV_ErrHandler& eh, KV_String& out);
    static bool unscramble(const KV_String& text, KV_String& out);

    KV_LoginData() = default;
    // Both texts stored as given, not trimmed.
    explicit KV_LoginData(const KV_String& user, const KV_String& pass = KV_String());
    KV_LoginData(const KV_LoginData& other) = default;
    KV_LoginData& operator=(const KV_LoginData& other) = default;
    ~KV_LoginData() = default;

    // Same user name and password (case-sensitive).
    bool operator==(const KV_LoginData& other) const;

    // Store the text trimmed of blanks, tabs, CR and LF at both ends.
    void set_user(const KV_String& user);
    void set_pass(const KV_String& pass);

    const KV_String& user() const { return user_; }
    // The stored password; empty when none is stored.
    const KV_String& pass() const { return pass_; }
    // The stored password, or when none is stored the answer of the file
    // manager's password question for this user name (fm->pass(user()), which
    // asks the user at most once per manager and may block until answered).
    // The answer is not stored here. A null fm gives the empty text. A
    // template only so that this header needs no file manager: instantiated
    // with KV_FileMan.
    template <class FileMan> KV_String pass(FileMan* fm) const
    {
        if (!pass_.empty())
            return pass_;
        return fm ? KV_String(fm->pass(user_)) : KV_String();
    }

    // Both user name and password empty.
    bool empty() const { return user_.empty() && pass_.empty(); }

private:
    KV_String user_;
    KV_String pass_;
};
