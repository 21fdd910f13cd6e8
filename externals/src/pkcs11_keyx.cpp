// Key agreement and key transport of the GOST key methods.
#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_PKEY_get0
#include "pkcs11_keyx.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "gost28147_89.h"
#include "gost_key_transport.h"
#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "p11_key_objects.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_login_on_use.h"
#include "pkcs11_pmeth.h"
#include "secret_string.h"
#include "token_keyops.h"
#include "token_session.h"
#include "zkc_ber.h"

namespace {

constexpr std::size_t kMacLen = kKeyxMacLen;
constexpr std::size_t kParamsMax = 16;  // parameter-set OIDs read from the token

#define KEYX_LINE(fmt, ...) std::fprintf(stderr, "%s:%d " fmt, __FILE__, __LINE__, ##__VA_ARGS__)

CK_BBOOL kTrue = CK_TRUE;
CK_BBOOL kFalse = CK_FALSE;

CK_MECHANISM_TYPE derive_mechanism(bool is512) { return is512 ? CKM_GOSTR3410_12_DERIVE : CKM_GOSTR3410_DERIVE; }

bool all_zero(const unsigned char *p, std::size_t n)
{
    unsigned char acc = 0;
    for (std::size_t i = 0; i < n; ++i)
        acc |= p[i];
    return acc == 0;
}

// The DER length of the engine's GOST 28147-89 parameter set.
std::size_t engine_params_len(const P11_ENGINE_CTX &ctx)
{
    std::size_t len = 2u + ctx.gost28147_params_der[1];
    return len <= sizeof ctx.gost28147_params_der ? len : 0;
}

// Key type and parameter sets of a key object.
struct KeyParams {
    CK_KEY_TYPE type = 0;
    unsigned char gostr3410[kParamsMax] = {};
    unsigned char gostr3411[kParamsMax] = {};
    CK_ATTRIBUTE attrs[3] = {{CKA_KEY_TYPE, &type, sizeof type},
                             {CKA_GOSTR3410_PARAMS, gostr3410, sizeof gostr3410},
                             {CKA_GOSTR3411_PARAMS, gostr3411, sizeof gostr3411}};
    KeyParams() = default;
    KeyParams(const KeyParams &) = delete;
    KeyParams &operator=(const KeyParams &) = delete;

    CK_RV read(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h) { return f->C_GetAttributeValue(s, h, attrs, 3); }
    bool is512() const { return type == CKK_GOSTR3410_512; }
    std::size_t pub_len() const { return is512() ? 128 : 64; }
    static bool same_bytes(const unsigned char *a, std::size_t alen, const unsigned char *b, std::size_t blen)
    {
        return alen == blen && std::memcmp(a, b, alen) == 0;
    }
    bool same_3410(const unsigned char *oid, std::size_t len) const
    {
        return same_bytes(gostr3410, attrs[1].ulValueLen, oid, len);
    }
    bool same_3411(const unsigned char *oid, std::size_t len) const
    {
        return same_bytes(gostr3411, attrs[2].ulValueLen, oid, len);
    }
    bool same_as(const KeyParams &o) const
    {
        return type == o.type && same_3410(o.gostr3410, o.attrs[1].ulValueLen) &&
               same_3411(o.gostr3411, o.attrs[2].ulValueLen);
    }
};

// Agrees the key-encryption key on the token: C_DeriveKey into a session
// object, its value read out and the object destroyed. `who` prefixes the
// lines.
CK_RV derive_kek(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, bool is512, const unsigned char *peer_pub,
                 std::size_t peer_len, const unsigned char *ukm, std::size_t ukm_len, CK_OBJECT_HANDLE base,
                 const unsigned char *cipher_oid, std::size_t cipher_oid_len, unsigned char *kek, const char *who)
{
    std::vector<unsigned char> pub(peer_pub, peer_pub + peer_len), ukm_copy(ukm, ukm + ukm_len);
    CK_GOSTR3410_DERIVE_PARAMS params{CKD_NULL, pub.data(), pub.size(), ukm_copy.data(), ukm_copy.size()};
    CK_MECHANISM mech{derive_mechanism(is512), &params, sizeof params};
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_KEY_TYPE type = CKK_GOST28147;
    std::vector<unsigned char> oid(cipher_oid, cipher_oid + cipher_oid_len);
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &cls, sizeof cls},       {CKA_KEY_TYPE, &type, sizeof type},
        {CKA_TOKEN, &kFalse, sizeof kFalse}, {CKA_SENSITIVE, &kFalse, sizeof kFalse},
        {CKA_GOST28147_PARAMS, oid.data(), oid.size()},
        {CKA_EXTRACTABLE, &kTrue, sizeof kTrue}, {CKA_ENCRYPT, &kTrue, sizeof kTrue},
        {CKA_DECRYPT, &kTrue, sizeof kTrue},
    };
    TokenObjectGuard derived(f, s);
    CK_RV rv = f->C_DeriveKey(s, &mech, base, tmpl, sizeof tmpl / sizeof tmpl[0], derived.out());
    if (rv != CKR_OK) {
        std::fprintf(stderr, "%s. C_DeriveKey failed, rc = 0x%lx\n", who, rv);
        return rv;
    }
    SecretBytes<kKeyxKeyLen> value;
    CK_ATTRIBUTE get{CKA_VALUE, value.data, value.size()};
    rv = f->C_GetAttributeValue(s, derived.get(), &get, 1);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "%s. C_GetAttributeValue failed, rc = 0x%lx\n", who, rv);
        return rv;
    }
    if (get.ulValueLen != kKeyxKeyLen) {
        std::fputs("VKO length != 32\n", stderr);
        return kKeyxLocalFailure;
    }
    rv = derived.destroy();
    if (rv != CKR_OK) {
        std::fprintf(stderr, "%s. C_DestroyObject failed, rc = 0x%lx\n", who, rv);
        return rv;
    }
    std::memcpy(kek, value.data, kKeyxKeyLen);
    return CKR_OK;
}

// Copies a result into the caller's output, or reports the size needed.
CK_RV hand_out(const unsigned char *result, std::size_t len, unsigned char *out, std::size_t *out_len, const char *who)
{
    if (out != nullptr && *out_len < len) {
        std::fprintf(stderr, "%s. Output buffer too small\n", who);
        *out_len = len;
        return CKR_BUFFER_TOO_SMALL;
    }
    *out_len = len;
    if (out != nullptr)
        std::memcpy(out, result, len);
    return CKR_OK;
}

bool ukm_length_ok(std::size_t len)
{
    if (len == 8 || len == 16)
        return true;
    KEYX_LINE("Usupported UKM length: %d. Should be 8 or 16\n", static_cast<int>(len));
    return false;
}

// A random UKM of n bytes, never all zero.
bool random_ukm(unsigned char *ukm, std::size_t n)
{
    do {
        if (RAND_bytes(ukm, static_cast<int>(n)) != 1) {
            std::fputs("RAND_bytes failed\n", stderr);
            return false;
        }
    } while (all_zero(ukm, n));
    return true;
}

// ---- Method helpers ----------------------------------------------------------

// The engine context of the engine behind the context's key.
P11_ENGINE_CTX *engine_of(EVP_PKEY_CTX *ctx, ENGINE **engine)
{
    EVP_PKEY *key = EVP_PKEY_CTX_get0_pkey(ctx);
    *engine = key != nullptr ? EVP_PKEY_get0_engine(key) : nullptr;
    return p11_engine_ctx_or_report(*engine);
}

bool open_session(P11Session &session, const P11_ENGINE_CTX *ctx) { return session.open_or_report(ctx); }

// The UKM of the context for a peer key of pub_len bytes: its first
// pub_len / 8 bytes. `who` names the method in the lines.
const unsigned char *context_ukm(const p11_gost_pkey_ctx *data, unsigned int pub_len, const char *who)
{
    std::size_t need = pub_len / 8;
    if (data == nullptr || data->ukm == nullptr) {
        std::fprintf(stderr, "%s: UKM not set\n", who);
        return nullptr;
    }
    if (data->ukm_len < need) {
        std::fprintf(stderr, "%s: UKM of %zu bytes, %zu needed\n", who, data->ukm_len, need);
        return nullptr;
    }
    if (all_zero(data->ukm, need)) {
        std::fprintf(stderr, "%s: zero UKM is deprecated\n", who);
        return nullptr;
    }
    return data->ukm;
}

// Marks the sender key as used when it shares the other key's parameters.
bool mark_peer_key(EVP_PKEY_CTX *ctx, const p11_gost2012_key &a, const p11_gost2012_key &b)
{
    if (a.param_nid != b.param_nid)
        return true;
    if (EVP_PKEY_CTX_ctrl(ctx, -1, -1, EVP_PKEY_CTRL_PEER_KEY, 3, nullptr) < 1) {
        std::fputs("EVP_PKEY_CTX_ctrl failed\n", stderr);
        return false;
    }
    return true;
}

}  // namespace

int find_priv_key(ENGINE *e, const p11_gost2012_key *key, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE *handle)
{
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (ctx == nullptr || key == nullptr || handle == nullptr || !p11_login_on_use(e))
        return 0;
    *handle = CK_INVALID_HANDLE;
    P11FindResult found = p11_find_key_objects(ctx->function_list, session, CKO_PRIVATE_KEY, *key);
    if (!found.ok()) {
        std::fprintf(stderr, "%s failed, rc = 0x%lx\n", found.failed_call, found.rv);
        return 0;
    }
    if (found.handles.empty()) {
        std::fputs("Token private key not found\n", stderr);
        return 1;
    }
    *handle = found.handles[0];
    return 1;
}

int pkcs11_vko_derive(unsigned int peer_pub_len, ENGINE *e, unsigned char *out, std::size_t *out_len,
                      const unsigned char *peer_pub, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE priv,
                      const unsigned char *ukm, std::size_t ukm_len)
{
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (ctx == nullptr || out_len == nullptr)
        return 0;
    if (out == nullptr) {
        *out_len = kKeyxKeyLen;
        return 1;
    }
    if (*out_len < kKeyxKeyLen || peer_pub == nullptr || ukm == nullptr || ctx->function_list == nullptr)
        return 0;
    const char *failed_call = nullptr;
    CK_RV rv = token_vko_derive(ctx->function_list, session, priv, peer_pub, peer_pub_len, ukm, ukm_len,
                                ctx->gost28147_params_der, engine_params_len(*ctx), out, &failed_call);
    if (rv != CKR_OK) {
        if (failed_call == nullptr)
            std::fputs("VKO length != 32\n", stderr);
        else if (std::strcmp(failed_call, "C_DestroyObject") == 0)
            std::fprintf(stderr, "C_DestroyObject failed, rc = 0x%lx\n", rv);
        else
            std::fprintf(stderr, "%s failed: rc = 0x%lx\n", failed_call, rv);
        return 0;
    }
    *out_len = kKeyxKeyLen;
    return 1;
}

int pkey_pkcs11_derive(EVP_PKEY_CTX *ctx, unsigned char *key, std::size_t *keylen)
{
    ENGINE *e = nullptr;
    P11_ENGINE_CTX *ectx = engine_of(ctx, &e);
    if (ectx == nullptr || keylen == nullptr)
        return 0;
    const p11_gost2012_key *own = gost_key_record(EVP_PKEY_CTX_get0_pkey(ctx));
    const p11_gost2012_key *peer = gost_key_record(EVP_PKEY_CTX_get0_peerkey(ctx));
    if (own == nullptr || peer == nullptr || (peer->pub_key_len != 64 && peer->pub_key_len != 128)) {
        std::fputs("pkey_pkcs11_derive: peer key not set\n", stderr);
        return 0;
    }
    P11Session session;
    if (!open_session(session, ectx))
        return 0;
    CK_OBJECT_HANDLE priv = CK_INVALID_HANDLE;
    if (!find_priv_key(e, own, session.handle(), &priv) || priv == CK_INVALID_HANDLE) {
        std::fputs("pkey_pkcs11_derive: Private key not found\n", stderr);
        return 0;
    }
    auto *data = static_cast<const p11_gost_pkey_ctx *>(EVP_PKEY_CTX_get_data(ctx));
    const unsigned char *ukm = context_ukm(data, peer->pub_key_len, "pkey_pkcs11_derive");
    if (ukm == nullptr)
        return 0;
    if (key == nullptr) {
        *keylen = kKeyxKeyLen;
        return 1;
    }
    if (*keylen < kKeyxKeyLen) {
        std::fputs("pkey_pkcs11_derive: output buffer too small\n", stderr);
        return 0;
    }
    return pkcs11_vko_derive(peer->pub_key_len, e, key, keylen, peer->pub_key, session.handle(), priv, ukm,
                             peer->pub_key_len / 8);
}

int pkey_pkcs11_encrypt(EVP_PKEY_CTX *ctx, unsigned char *out, std::size_t *outlen, const unsigned char *in,
                        std::size_t inlen)
{
    ENGINE *e = nullptr;
    P11_ENGINE_CTX *ectx = engine_of(ctx, &e);
    // The ephemeral key pair is a private object: the user logs in.
    if (ectx == nullptr || outlen == nullptr || !p11_login_on_use(e))
        return 0;
    const p11_gost2012_key *recipient = gost_key_record(EVP_PKEY_CTX_get0_pkey(ctx));
    const GostKeyAlg *alg = recipient != nullptr ? gost_key_alg(recipient->alg_nid) : nullptr;
    if (alg == nullptr || recipient->pub_key_len != alg->pub_key_len || gost_pub_key_is_zero(*recipient)) {
        std::fputs("pkey_pkcs11_encrypt: recipient public key not set\n", stderr);
        return 0;
    }
    // The recipient's public key as a session object.
    std::vector<unsigned char> curve = oid_der(recipient->param_nid);
    std::vector<unsigned char> digest = oid_der(gost_nid(alg->hash_params));
    std::vector<unsigned char> value(recipient->pub_key, recipient->pub_key + recipient->pub_key_len);
    CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
    CK_KEY_TYPE type = alg->key_type;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_VALUE, value.data(), value.size()},
        {CKA_CLASS, &cls, sizeof cls},
        {CKA_KEY_TYPE, &type, sizeof type},
        {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
        {CKA_GOSTR3411_PARAMS, digest.data(), digest.size()},
    };
    P11Session session;
    if (!open_session(session, ectx))
        return 0;
    CK_FUNCTION_LIST *f = ectx->function_list;

    CK_OBJECT_HANDLE sender_priv = CK_INVALID_HANDLE;
    if (EVP_PKEY *sender_key = EVP_PKEY_CTX_get0_peerkey(ctx)) {
        const p11_gost2012_key *sender = gost_key_record(sender_key);
        if (sender == nullptr) {
            std::fputs("NULL my_gost_key\n", stderr);
            return 0;
        }
        int found = find_priv_key(e, sender, session.handle(), &sender_priv);
        if (!found) {
            std::fprintf(stderr, "find_priv_key failed, rc = %d\n", found);
            return 0;
        }
        if (sender_priv == CK_INVALID_HANDLE || !mark_peer_key(ctx, *sender, *recipient))
            return 0;
    }

    const std::size_t ukm_len = recipient->pub_key_len / 8;
    unsigned char ukm[16];
    auto *data = static_cast<const p11_gost_pkey_ctx *>(EVP_PKEY_CTX_get_data(ctx));
    if (data != nullptr && data->ukm != nullptr) {
        const unsigned char *given = context_ukm(data, recipient->pub_key_len, "pkey_pkcs11_encrypt");
        if (given == nullptr)
            return 0;
        std::memcpy(ukm, given, ukm_len);
    } else if (!random_ukm(ukm, ukm_len)) {
        return 0;
    }

    TokenObjectGuard recipient_obj(f, session.handle());
    CK_RV rv = f->C_CreateObject(session.handle(), tmpl, sizeof tmpl / sizeof tmpl[0], recipient_obj.out());
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_CreateObject failed, rc = 0x%lx\n", rv);
        return 0;
    }
    rv = gost3410_kek_enc(f, session.handle(), recipient_obj.get(), sender_priv, ectx->gost28147_params_der,
                          engine_params_len(*ectx), ukm, ukm_len, in, inlen, out, outlen);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "gost3410_kek_enc failed, rc = 0x%lx\n", rv);
        return 0;
    }
    return 1;
}

int pkey_pkcs11_decrypt(EVP_PKEY_CTX *ctx, unsigned char *out, std::size_t *outlen, const unsigned char *in,
                        std::size_t inlen)
{
    ENGINE *e = nullptr;
    P11_ENGINE_CTX *ectx = engine_of(ctx, &e);
    if (ectx == nullptr || outlen == nullptr)
        return 0;
    P11Session session;
    if (!open_session(session, ectx))
        return 0;
    const p11_gost2012_key *own = gost_key_record(EVP_PKEY_CTX_get0_pkey(ctx));
    CK_OBJECT_HANDLE priv = CK_INVALID_HANDLE;
    int found = own != nullptr ? find_priv_key(e, own, session.handle(), &priv) : 0;
    if (!found) {
        std::fprintf(stderr, "find_priv_key failed, rc = %d", found);
        return 0;
    }
    if (priv == CK_INVALID_HANDLE)
        return 0;

    const unsigned char *sender_pub = nullptr;
    if (EVP_PKEY *sender_key = EVP_PKEY_CTX_get0_peerkey(ctx)) {
        const p11_gost2012_key *sender = gost_key_record(sender_key);
        if (sender == nullptr) {
            std::fputs("NULL send_gost_pu_key\n", stderr);
            return 0;
        }
        if (!mark_peer_key(ctx, *sender, *own))
            return 0;
        sender_pub = sender->pub_key;
    }
    CK_RV rv = gost3410_kek_dec(ectx->function_list, session.handle(), priv, sender_pub, in, inlen, out, outlen);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "gost3410_kek_dec failed, rc = %d", static_cast<int>(rv));
        return 0;
    }
    return 1;
}

CK_RV gost3410_kek_enc(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE recipient_pub,
                       CK_OBJECT_HANDLE sender_priv, const unsigned char *cipher_oid, std::size_t cipher_oid_len,
                       const unsigned char *ukm, std::size_t ukm_len, const unsigned char *cek, std::size_t cek_len,
                       unsigned char *out, std::size_t *out_len)
{
    static const char *who = "gost3410_kek_enc";
    if (cek_len != kKeyxKeyLen || cek == nullptr) {
        std::fprintf(stderr, "gost3410_kek_enc. Invalid input key data length: %ld\n", static_cast<long>(cek_len));
        return kKeyxLocalFailure;
    }
    if (f == nullptr || out_len == nullptr || cipher_oid == nullptr || !ukm_length_ok(ukm_len))
        return kKeyxRefused;
    const GOST28147_89_PARAM *par = nullptr;
    if (GOST28147_89_FindParByDerOid(cipher_oid, static_cast<uint32_t>(cipher_oid_len), &par) != 0 ||
        par == nullptr) {
        std::fputs("gost3410_kek_enc. GOST28147_89_FindParByDerOid failed\n", stderr);
        return kKeyxLocalFailure;
    }

    // The recipient's key.
    KeyParams recipient;
    unsigned char recipient_value[kGostPubKeyMax] = {};
    CK_ATTRIBUTE value_attr{CKA_VALUE, recipient_value, sizeof recipient_value};
    CK_RV rv = recipient.read(f, session, recipient_pub);
    if (rv == CKR_OK)
        rv = f->C_GetAttributeValue(session, recipient_pub, &value_attr, 1);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "gost3410_kek_enc. C_GetAttributeValue failed, rc = 0x%lx\n", rv);
        return rv;
    }
    std::vector<unsigned char> digest256 = oid_der(gost_nid(GostObj::gost3411_2012_256));
    GostObj alg_obj = recipient.is512()                                        ? GostObj::gost3410_2012_512
                      : recipient.same_3411(digest256.data(), digest256.size()) ? GostObj::gost3410_2012_256
                                                                                 : GostObj::gost2001;
    std::vector<unsigned char> alg_oid = oid_der(gost_nid(alg_obj));

    // The base key: the sender's own key when it matches the recipient's,
    // else an ephemeral pair made in this session.
    CK_OBJECT_HANDLE base = CK_INVALID_HANDLE;
    if (sender_priv != CK_INVALID_HANDLE) {
        KeyParams sender;
        rv = sender.read(f, session, sender_priv);
        if (rv != CKR_OK) {
            std::fprintf(stderr, "gost3410_kek_enc. C_GetAttributeValue failed, rc = 0x%lx\n", rv);
            return rv;
        }
        if (sender.same_as(recipient))
            base = sender_priv;
    }
    TokenObjectGuard eph_pub(f, session), eph_priv(f, session);
    unsigned char eph_value[kGostPubKeyMax] = {};
    CK_ULONG eph_value_len = 0;
    if (base == CK_INVALID_HANDLE) {
        CK_OBJECT_CLASS pub_cls = CKO_PUBLIC_KEY, priv_cls = CKO_PRIVATE_KEY;
        CK_KEY_TYPE type = recipient.type;
        CK_ATTRIBUTE pub_tmpl[] = {
            {CKA_TOKEN, &kFalse, sizeof kFalse},
            {CKA_GOSTR3410_PARAMS, recipient.gostr3410, recipient.attrs[1].ulValueLen},
            {CKA_GOSTR3411_PARAMS, recipient.gostr3411, recipient.attrs[2].ulValueLen},
            {CKA_GOST28147_PARAMS, const_cast<unsigned char *>(cipher_oid), cipher_oid_len},
            {CKA_CLASS, &pub_cls, sizeof pub_cls},
            {CKA_KEY_TYPE, &type, sizeof type},
            {CKA_PRIVATE, &kFalse, sizeof kFalse},
        };
        CK_ATTRIBUTE priv_tmpl[] = {
            {CKA_TOKEN, &kFalse, sizeof kFalse},     {CKA_CLASS, &priv_cls, sizeof priv_cls},
            {CKA_KEY_TYPE, &type, sizeof type},      {CKA_PRIVATE, &kTrue, sizeof kTrue},
            {CKA_DERIVE, &kTrue, sizeof kTrue},
        };
        CK_MECHANISM gen{recipient.is512() ? CKM_GOSTR3410_512_KEY_PAIR_GEN : CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
        rv = f->C_GenerateKeyPair(session, &gen, pub_tmpl, 7, priv_tmpl, 5, eph_pub.out(), eph_priv.out());
        if (rv != CKR_OK) {
            std::fprintf(stderr, "gost3410_kek_enc. C_GenerateKeyPair failed, rc = 0x%lx\n", rv);
            return rv;
        }
        CK_ATTRIBUTE get{CKA_VALUE, eph_value, sizeof eph_value};
        rv = f->C_GetAttributeValue(session, eph_pub.get(), &get, 1);
        if (rv != CKR_OK) {
            std::fprintf(stderr, "gost3410_kek_enc. C_GetAttributeValue failed, rc = 0x%lx\n", rv);
            return rv;
        }
        eph_value_len = get.ulValueLen;
        rv = eph_pub.destroy();
        if (rv != CKR_OK) {
            std::fprintf(stderr, "gost3410_kek_enc. C_DestroyObject failed, rc = 0x%lx\n", rv);
            return rv;
        }
        base = eph_priv.get();
    }

    unsigned char ukm_buf[16];
    if (ukm != nullptr)
        std::memcpy(ukm_buf, ukm, ukm_len);
    else if (!random_ukm(ukm_buf, ukm_len))
        return kKeyxLocalFailure;

    SecretBytes<kKeyxKeyLen> kek;
    rv = derive_kek(f, session, recipient.is512(), recipient_value, recipient.pub_len(), ukm_buf, ukm_len, base,
                    cipher_oid, cipher_oid_len, kek.data, who);
    if (rv != CKR_OK)
        return rv;
    rv = eph_priv.destroy();
    if (rv != CKR_OK) {
        std::fprintf(stderr, "gost3410_kek_enc. C_DestroyObject failed, rc = 0x%lx\n", rv);
        return rv;
    }

    unsigned char enc_key[kKeyxKeyLen], mac[kMacLen];
    if (!gost_key_wrap(*par, kek.data, ukm_buf, cek, enc_key, mac, who))
        return kKeyxLocalFailure;

    bool ephemeral = eph_value_len != 0;
    TransportParts parts{enc_key,       mac,  cipher_oid, cipher_oid_len, ephemeral ? &alg_oid : nullptr,
                         recipient.gostr3410, recipient.gostr3411, recipient.attrs[1].ulValueLen,
                         recipient.attrs[2].ulValueLen, eph_value, eph_value_len, ukm_buf, ukm_len};
    std::vector<unsigned char> encoded;
    std::size_t size = 0;
    if (!encode_transport(parts, out != nullptr ? &encoded : nullptr, &size))
        return kKeyxLocalFailure;
    if (out == nullptr) {
        *out_len = size;
        return CKR_OK;
    }
    return hand_out(encoded.data(), size, out, out_len, who);
}

CK_RV gost3410_kek_dec(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE priv,
                       const unsigned char *sender_pub, const unsigned char *in, std::size_t in_len,
                       unsigned char *out, std::size_t *out_len)
{
    static const char *who = "gost3410_kek_dec";
    if (f == nullptr || out_len == nullptr)
        return kKeyxRefused;
    const unsigned char *enc_key = nullptr, *mac = nullptr, *cipher_oid = nullptr, *alg_oid = nullptr,
                        *param_oid = nullptr, *digest_oid = nullptr, *pub = nullptr, *ukm = nullptr;
    std::size_t enc_key_len = 0, mac_len = 0, cipher_oid_len = 0, alg_oid_len = 0, param_oid_len = 0,
                digest_oid_len = 0, pub_len = 0, ukm_len = 0;
    int decoded = ber_decode_GostR3410_KeyTransport(in, in_len, &enc_key, &enc_key_len, &mac, &mac_len, &cipher_oid,
                                                    &cipher_oid_len, &alg_oid, &alg_oid_len, &param_oid,
                                                    &param_oid_len, &digest_oid, &digest_oid_len, &pub, &pub_len,
                                                    &ukm, &ukm_len);
    if (!decoded) {
        KEYX_LINE("gost3410_kek_dec. ber_decode_GostR3410_KeyTransport failed: 0x%x\n", decoded);
        return kKeyxRefused;
    }
    if (enc_key_len != kKeyxKeyLen) {
        KEYX_LINE("gost3410_kek_dec. Invalid encrypted key length: %d\n", static_cast<int>(enc_key_len));
        return kKeyxRefused;
    }
    if (mac_len != kMacLen) {
        KEYX_LINE("gost3410_kek_dec. Invalid MAC length: %d\n", static_cast<int>(mac_len));
        return kKeyxRefused;
    }
    if (!ukm_length_ok(ukm_len))
        return kKeyxRefused;

    KeyParams own;
    CK_RV rv = own.read(f, session, priv);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "gost3410_kek_dec. C_GetAttributeValue failed, rc = 0x%lx\n", rv);
        return rv;
    }
    const std::size_t expected_len = own.pub_len();
    const unsigned char *peer = nullptr;
    if (alg_oid != nullptr) {
        std::vector<unsigned char> alg512 = oid_der(gost_nid(GostObj::gost3410_2012_512));
        bool transport512 = KeyParams::same_bytes(alg_oid, alg_oid_len, alg512.data(), alg512.size());
        if (transport512 != own.is512()) {
            KEYX_LINE("Private key type doesn't match to input data\n");
            return kKeyxRefused;
        }
        if (!own.same_3410(param_oid, param_oid_len)) {
            KEYX_LINE("Private key GOST R3410 param OID doesn't match to input data\n");
            return kKeyxRefused;
        }
        if (!own.same_3411(digest_oid, digest_oid_len)) {
            KEYX_LINE("Private key GOST R3411 param OID doesn't match to input data\n");
            return kKeyxRefused;
        }
        if (sender_pub != nullptr && (pub_len != expected_len || std::memcmp(sender_pub, pub, pub_len) != 0)) {
            KEYX_LINE("Given sender public key doesn't match to input data\n");
            return kKeyxRefused;
        }
        peer = pub;
    } else {
        // Made with the sender's own key: its public value is the peer.
        if (sender_pub == nullptr) {
            KEYX_LINE("Sender public key not set\n");
            return kKeyxRefused;
        }
        peer = sender_pub;
        pub_len = expected_len;
    }
    const GOST28147_89_PARAM *par = nullptr;
    if (GOST28147_89_FindParByDerOid(cipher_oid, static_cast<uint32_t>(cipher_oid_len), &par) != 0 ||
        par == nullptr) {
        KEYX_LINE("gost3410_kek_dec. GOST28147_89_FindParByDerOid failed\n");
        return kKeyxRefused;
    }

    SecretBytes<kKeyxKeyLen> kek, cek;
    rv = derive_kek(f, session, own.is512(), peer, pub_len, ukm, ukm_len, priv, cipher_oid, cipher_oid_len, kek.data,
                    who);
    if (rv != CKR_OK)
        return rv;
    unsigned char computed[kMacLen];
    if (!gost_key_unwrap(*par, kek.data, ukm, enc_key, cek.data, computed, who))
        return kKeyxLocalFailure;
    if (CRYPTO_memcmp(computed, mac, kMacLen) != 0) {
        std::fputs("gost3410_kek_dec. Wrong MAC\n", stderr);
        return kKeyxLocalFailure;
    }
    return hand_out(cek.data, kKeyxKeyLen, out, out_len, who);
}
