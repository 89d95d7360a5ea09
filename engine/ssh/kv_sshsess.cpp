#include "ssh/kv_sshsess.h"

#include <openssl/bn.h>

#include "ssh/kv_sshchanif.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshman.h"

KV_SshDh::KV_SshDh() : p(BN_new()), g(BN_new()), x(BN_new()), e(BN_new()) {}

KV_SshDh::~KV_SshDh()
{
    BN_free(p);
    BN_free(g);
    BN_clear_free(x);
    BN_free(e);
}

KV_SshSess::KV_SshSess(KV_Socket& sock, const KV_InetAddr& addr, KV_SshMan* const owner)
    : KV_Session(owner, sock, addr), owner_(owner)
{
    info_mask = 0xFF;
}

KV_SshSess::~KV_SshSess() = default;

KV_SshKeyMan& KV_SshSess::man_key()
{
    static KV_SshKeyMan store;
    return store;
}

bool KV_SshSess::init_secured()
{
    return KV_Session::init_secured();
}
bool KV_SshSess::process_in(KV_Stream&, KV_Stream&)
{
    return false;
} // no protocol yet
bool KV_SshSess::process_out(KV_Stream& out)
{
    return KV_Session::process_out(out);
}
bool KV_SshSess::process_idle(KV_Stream&)
{
    return false;
} // no protocol yet
bool KV_SshSess::init()
{
    return false;
} // no protocol yet
bool KV_SshSess::postcleanup(bool)
{
    return true;
}
