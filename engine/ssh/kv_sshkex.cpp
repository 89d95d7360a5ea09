// The key exchange of the SSH transport session: diffie-hellman-group1-sha1
// (RFC 4253 section 8) with the host-key check, the key derivation and the
// switch of the packet protection in each direction.
#include <cstring>
#include <new>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include "requests/kv_fileman.h"
#include "ssh/kv_sshchanif.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshman.h"
#include "ssh/kv_sshsess.h"

namespace {

// The 1024-bit MODP group of RFC 2409 section 6.2 (Oakley group 2), the
// group of diffie-hellman-group1-sha1.
const char group1_p[] = "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD1"
                        "29024E088A67CC74020BBEA63B139B22514A08798E3404DD"
                        "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245"
                        "E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
                        "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381"
                        "FFFFFFFFFFFFFFFF";

constexpr uint32_t hash_len = 20; // SHA-1

bool sha1(const KV_Stream& data, unsigned char* out)
{
    unsigned int n = 0;
    return EVP_Digest(static_cast<const unsigned char*>(data), data.length(), out, &n, EVP_sha1(),
                      nullptr) == 1 &&
           n == hash_len;
}

struct BnCtx
{
    BN_CTX* ctx = BN_CTX_secure_new();
    ~BnCtx() { BN_CTX_free(ctx); }
};

struct Bn
{
    BIGNUM* bn;
    explicit Bn(bool secret = false) : bn(secret ? BN_secure_new() : BN_new()) {}
    ~Bn() { BN_clear_free(bn); }
    Bn(const Bn&) = delete;
    Bn& operator=(const Bn&) = delete;
};

} // namespace

bool KV_SshSess::send_keyex(KV_Stream& out)
{
    KV_SshKeyEx kex;
    const KV_SshManOpts& o = owner_->opts();
    const KV_String ciphers = KV_SshCipherDef::ciphers(o.ciphers());
    const KV_String macs = KV_SshMacDef::list(false);
    const KV_String comps = KV_SshComp::list(o.compress());
    if (!(kex.list(KV_SSH_KEX_ALGS) = KV_SshString("diffie-hellman-group1-sha1")) ||
        !(kex.list(KV_SSH_KEX_HOST_KEY) = KV_SshString(KV_SshKeyTypeDef::list().data())) ||
        !(kex.list(KV_SSH_KEX_ENC_CS) = KV_SshString(ciphers.data())) ||
        !(kex.list(KV_SSH_KEX_ENC_SC) = KV_SshString(ciphers.data())) ||
        !(kex.list(KV_SSH_KEX_MAC_CS) = KV_SshString(macs.data())) ||
        !(kex.list(KV_SSH_KEX_MAC_SC) = KV_SshString(macs.data())) ||
        !(kex.list(KV_SSH_KEX_COMP_CS) = KV_SshString(comps.data())) ||
        !(kex.list(KV_SSH_KEX_COMP_SC) = KV_SshString(comps.data())))
        return false;
    kex_c = kex;
    if (!send(out, kex_c, &kex_c.payload()))
        return false;
    state_ = KV_SSH_SESS_STATE::KEX;
    kexinit_sent = true;
    return true;
}

bool KV_SshSess::on_kexinit(KV_Stream& out)
{
    notice("Key (re)exchange started");
    // The first exchange sent its KEXINIT in the first flight; a server's
    // re-exchange, in any state, gets ours now.
    if (!kexinit_sent && !send_keyex(out))
        return false;
    KV_SshKeyEx theirs;
    if (!theirs.read(packet.payload()) || !(theirs.payload() = kex_s.payload()))
        return false;
    kex_s = theirs;
    if (!new_params() || !dh_new_grp1() || !dh_gen_key(dh_.get()) || BN_is_zero(dh_->e))
        return false;
    if (!send(out, KV_SshTlMsgKexDhInit(dh_->e)))
        return false;
    expected = 31;
    return true;
}

bool KV_SshSess::new_params()
{
    const KV_SshKeyEx& c = kex_c;
    const KV_SshKeyEx& s = kex_s;
    // Only one method is offered; a server without it cannot follow it.
    if (ssh_negotiate(c.list(KV_SSH_KEX_ALGS), s.list(KV_SSH_KEX_ALGS)).empty()) {
        notice("No suitable key exchange method found.", true);
        return false;
    }
    host_key_type = KV_SshKeyTypeDef::type_of(
        ssh_negotiate(c.list(KV_SSH_KEX_HOST_KEY), s.list(KV_SSH_KEX_HOST_KEY)));
    pending_[1].set_cipher(
        KV_SshCipher::create(ssh_negotiate(c.list(KV_SSH_KEX_ENC_CS), s.list(KV_SSH_KEX_ENC_CS))));
    pending_[0].set_cipher(
        KV_SshCipher::create(ssh_negotiate(c.list(KV_SSH_KEX_ENC_SC), s.list(KV_SSH_KEX_ENC_SC))));
    pending_[1].set_comp(
        KV_SshComp::create(ssh_negotiate(c.list(KV_SSH_KEX_COMP_CS), s.list(KV_SSH_KEX_COMP_CS))));
    pending_[0].set_comp(
        KV_SshComp::create(ssh_negotiate(c.list(KV_SSH_KEX_COMP_SC), s.list(KV_SSH_KEX_COMP_SC))));
    pending_[1].set_mac(
        KV_SshMac::create(ssh_negotiate(c.list(KV_SSH_KEX_MAC_CS), s.list(KV_SSH_KEX_MAC_CS))));
    pending_[0].set_mac(
        KV_SshMac::create(ssh_negotiate(c.list(KV_SSH_KEX_MAC_SC), s.list(KV_SSH_KEX_MAC_SC))));
    key_mat_len = 0;
    for (const KV_SshDirParams& d : pending_) {
        if (const KV_SshCipher* ci = d.cipher()) {
            key_mat_len = std::max<uint32_t>(key_mat_len, static_cast<uint32_t>(ci->key_len()));
            key_mat_len = std::max<uint32_t>(key_mat_len, static_cast<uint32_t>(ci->block_size()));
        }
        if (const KV_SshMac* m = d.mac())
            key_mat_len = std::max<uint32_t>(key_mat_len, m->key_len());
    }
    for (int i = 0; i < 2; ++i) {
        KV_SshDirParams& d = pending_[i];
        bool ok = true;
        if (!d.cipher()) {
            notice("No suitable cipher found.", true);
            ok = false;
        }
        if (!d.mac()) {
            notice("No suitable MAC algorithm found.", true);
            ok = false;
        }
        if (!d.comp()) {
            notice("No suitable compression algorithm found.", true);
            ok = false;
        } else if (!d.comp()->init(i == 1)) {
            ok = false;
        }
        if (!ok)
            return false;
    }
    return true;
}

bool KV_SshSess::dh_new_grp1()
{
    dh_.reset();
    std::unique_ptr<KV_SshDh> dh(new (std::nothrow) KV_SshDh);
    if (!dh || !dh->p || !dh->g || !dh->x || !dh->e || !BN_hex2bn(&dh->p, group1_p) ||
        !BN_set_word(dh->g, 2))
        return false;
    dh_ = std::move(dh);
    return true;
}

bool KV_SshSess::dh_gen_key(KV_SshDh* dh)
{
    if (!dh || !dh->p || BN_is_zero(dh->p))
        return false;
    const uint64_t bits = 2ull * 8ull * key_mat_len;
    if (bits == 0 || bits >= static_cast<uint64_t>(BN_num_bits(dh->p)))
        return false;
    BnCtx ctx;
    if (!ctx.ctx)
        return false;
    for (int tries = 0; tries < 10; ++tries) {
        if (!BN_priv_rand(dh->x, static_cast<int>(bits), BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY))
            return false;
        BN_set_flags(dh->x, BN_FLG_CONSTTIME);
        if (!BN_mod_exp_mont_consttime(dh->e, dh->g, dh->x, dh->p, ctx.ctx, nullptr))
            return false;
        if (dh_pub_is_valid(dh, dh->e))
            return true;
    }
    return false;
}

bool KV_SshSess::dh_pub_is_valid(const KV_SshDh* dh, const BIGNUM* pub)
{
    // 1 < pub < p - 1: 0, 1 and p - 1 (and anything outside the group)
    // would force the shared secret to a value an attacker knows.
    if (!dh || !dh->p || !pub || BN_is_negative(pub) || BN_is_zero(pub) || BN_is_one(pub))
        return false;
    Bn pm1;
    return pm1.bn && BN_sub(pm1.bn, dh->p, BN_value_one()) && BN_cmp(pub, pm1.bn) < 0;
}

bool KV_SshSess::dh_hash(unsigned char* out, const KV_SshString& k_s, BIGNUM* e, BIGNUM* f,
                         BIGNUM* k)
{
    KV_Stream buf(1024);
    return out && v_c_.write(buf) && v_s_.write(buf) && kex_c.payload().write(buf) &&
           kex_s.payload().write(buf) && k_s.write(buf) && ssh_write_mpint(buf, e) &&
           ssh_write_mpint(buf, f) && ssh_write_mpint(buf, k) && sha1(buf, out);
}

bool KV_SshSess::new_key(KV_Stream& out, unsigned char letter, const unsigned char* h, BIGNUM* k)
{
    out.clear();
    if (!h || !k)
        return false;
    KV_Stream kh;
    if (!ssh_write_mpint(kh, k) || !kh.append(h, hash_len))
        return false;
    KV_Stream first(kh);
    if (first.length() != kh.length() || !first.append(&letter, 1) || !first.append(session_id_))
        return false;
    unsigned char d[hash_len];
    if (!sha1(first, d) || !out.append(d, hash_len))
        return false;
    while (out.length() < key_mat_len) {
        KV_Stream more(kh);
        if (more.length() != kh.length() || !more.append(out) || !sha1(more, d) ||
            !out.append(d, hash_len))
            return false;
    }
    return true;
}

bool KV_SshSess::new_keys(const unsigned char* h, BIGNUM* k)
{
    KV_SshDirParams& in = pending_[0];
    KV_SshDirParams& out = pending_[1];
    if (!h || !k || !in.cipher() || !out.cipher() || !in.mac() || !out.mac())
        return false;
    return new_key(out.cipher()->iv(), 'A', h, k) && new_key(in.cipher()->iv(), 'B', h, k) &&
           new_key(out.cipher()->key(), 'C', h, k) && new_key(in.cipher()->key(), 'D', h, k) &&
           new_key(out.mac()->key(), 'E', h, k) && new_key(in.mac()->key(), 'F', h, k) &&
           in.cipher()->init(false) && out.cipher()->init(true);
}

bool KV_SshSess::check_key(const KV_SshKey& key)
{
    KV_FileMan* fm = owner_ ? owner_->file_man() : nullptr;
    if (!fm)
        return false;
    if (man_key().valid(key, owner_->dst_addr()))
        return true;
    KV_String fp;
    if (!key.fingerprint(fp))
        return false;
    // Trust belongs to this exact key: the data source's answer for one key
    // must not let another key of a later connection through unasked.
    KV_SshString blob;
    unsigned char digest[32];
    unsigned int dn = 0;
    if (!key.write(blob) || EVP_Digest(static_cast<const unsigned char*>(blob), blob.length(),
                                       digest, &dn, EVP_sha256(), nullptr) != 1)
        return false;
    KV_String ident("ssh-host-key:");
    static const char digits[] = "0123456789abcdef";
    for (unsigned int i = 0; i < dn; ++i) {
        ident += digits[digest[i] >> 4];
        ident += digits[digest[i] & 15];
    }
    KV_ANS ans = KV_ANS_NONE;
    owner_->asking(true);
    const bool ok = fm->sec_forced(
        KV_String::format_impl(
            "You're connecting to an untrusted server. ( Public key fingerprint: %s ). "
            "Continue anyway ?",
            fp.data()),
        KV_ASK_TRUST2, ans, ident);
    owner_->asking(false);
    if (!ok)
        return false;
    if (ans == KV_ANS_YES_ALL)
        return man_key().add(key, owner_->dst_addr(), fp);
    return true;
}

bool KV_SshSess::on_kexdh_reply(KV_Stream& out)
{
    bool ok = dh_ != nullptr;
    bool refused = false;
    KV_Stream& pl = packet.payload();
    KV_SshString k_s;
    KV_SshString sig;
    KV_SshKey key;
    Bn f, k(true);
    unsigned char h[hash_len];
    if (ok) {
        KV_Stream copy;
        ok = k_s.read(pl) && (copy = k_s) && key.read(copy) && copy.empty() &&
             key.type() == host_key_type && f.bn && k.bn && ssh_read_mpint(pl, f.bn) &&
             dh_pub_is_valid(dh_.get(), f.bn) && sig.read(pl);
    }
    if (ok) {
        BnCtx ctx;
        BN_set_flags(dh_->x, BN_FLG_CONSTTIME);
        // K is the whole shared value as a number: its mpint form is what
        // both sides hash, whatever its leading bytes.
        ok = ctx.ctx && BN_mod_exp_mont_consttime(k.bn, f.bn, dh_->x, dh_->p, ctx.ctx, nullptr) &&
             dh_hash(h, k_s, dh_->e, f.bn, k.bn);
    }
    // The signature over H proves the server holds the key; only then is
    // the key worth a question, and worth storing.
    ok = ok && key.verify(h, hash_len, sig);
    if (ok && !check_key(key)) {
        refused = true;
        ok = false;
    }
    if (ok && session_id_.empty())
        ok = session_id_.append(h, hash_len);
    ok = ok && new_keys(h, k.bn) && send(out, KV_SshTlMsgNewKeys());
    if (ok) {
        current_[1].take(pending_[1]);
        expected = 21;
    }
    if (refused)
        report("Server key not accepted.");
    notice(ok ? "New keys in use" : "Key (re)exchange failed", !ok);
    if (!ok)
        return false;
    kexinit_sent = false;
    if (++kex_done == 1) {
        if (!send(out, KV_SshTlMsgServiceReq(KV_SshString("ssh-userauth"))))
            return false;
        notice("Authentication service requested");
    } else if (channels_) {
        state_ = KV_SSH_SESS_STATE::OPEN;
    }
    return true;
}

bool KV_SshSess::on_newkeys(KV_Stream& out)
{
    current_[0].take(pending_[0]);
    send(out, KV_SshTlMsgIgnore(KV_SshString("Kivrel TEST")));
    return true;
}
