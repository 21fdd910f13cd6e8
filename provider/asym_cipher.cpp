// GOST R 34.10 key transport (RFC 4490) as an asymmetric cipher: encrypt
// wraps a 32-byte content key for the recipient's public key into a DER
// GostR3410-KeyTransport, with an ephemeral key pair on the recipient's
// curve, VKO and the CryptoPro key wrap; decrypt unwraps one with the
// private key (a key on a token agrees on its token). Settable: "paramset"
// (ZK_PARAM_PARAMSET, the GOST 28147-89 set of the wrap, by default the
// engine's, id-tc26-gost-28147-param-Z) and "ukm" (ZK_EXCHANGE_PARAM_UKM, 8
// or 16 bytes, not all zero; random 8 bytes for each encryption when unset).
#include <openssl/crypto.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <new>
#include <vector>

#include "gost_key_transport.h"
#include "gost_params.h"
#include "key_algs.h"
#include "oid_der.h"
#include "secret_string.h"
#include "soft_gost.h"
#include "token_keys.h"
#include "zkc_ber.h"

namespace {

constexpr std::size_t kUkmLen = 8;

struct CipherCtx {
    ProvCtx *prov;
    ProvKey key;
    const GOST28147_89_PARAM *paramset;
    std::vector<unsigned char> ukm;
};

// A key record that held a private value, wiped when it goes.
struct EphemeralKey {
    ProvKey key;
    ~EphemeralKey() { OPENSSL_cleanse(&key.rec, sizeof key.rec); }
};

void *newctx(void *provctx)
{
    auto *ctx = new (std::nothrow) CipherCtx{static_cast<ProvCtx *>(provctx), {}, zk_default_paramset(), {}};
    return ctx;
}

void freectx(void *vctx)
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    if (ctx == nullptr)
        return;
    OPENSSL_cleanse(&ctx->key.rec, sizeof ctx->key.rec);
    delete ctx;
}

void *dupctx(void *vctx) { return new (std::nothrow) CipherCtx(*static_cast<const CipherCtx *>(vctx)); }

bool ukm_usable(const unsigned char *ukm, std::size_t len)
{
    return (len == 8 || len == 16) && !gost_bytes_are_zero(ukm, len);
}

int set_ctx_params(void *vctx, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    if (!zk_read_paramset(ctx->prov, params, &ctx->paramset))
        return 0;
    bool given = false;
    if (!zk_read_ukm(ctx->prov, params, ctx->ukm, &given))
        return 0;
    if (given && !ukm_usable(ctx->ukm.data(), ctx->ukm.size())) {
        ctx->ukm.clear();
        return zk_raise(ctx->prov, ZK_R_BAD_PARAMETER, "UKM of 8 or 16 non-zero bytes needed");
    }
    return 1;
}

const OSSL_PARAM *settable_ctx_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_utf8_string(ZK_PARAM_PARAMSET, nullptr, 0),
        OSSL_PARAM_octet_string(ZK_EXCHANGE_PARAM_UKM, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

int get_ctx_params(void *vctx, OSSL_PARAM params[])
{
    return zk_write_paramset(params, static_cast<CipherCtx *>(vctx)->paramset);
}

const OSSL_PARAM *gettable_ctx_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {OSSL_PARAM_utf8_string(ZK_PARAM_PARAMSET, nullptr, 0), OSSL_PARAM_END};
    return kParams;
}

int init(CipherCtx *ctx, const void *provkey, bool need_private, const OSSL_PARAM params[])
{
    const auto *key = static_cast<const ProvKey *>(provkey);
    if (key == nullptr || gost_key_alg(key->rec.alg_nid) == nullptr ||
        (need_private ? !(key->rec.priv_key_loaded || key->on_token()) : !key->has_public))
        return zk_raise(ctx->prov, ZK_R_NO_KEY, need_private ? "no private key" : "no public value");
    OPENSSL_cleanse(&ctx->key.rec, sizeof ctx->key.rec);
    ctx->key = *key;
    return set_ctx_params(ctx, params);
}

int encrypt_init(void *vctx, void *provkey, const OSSL_PARAM params[])
{
    return init(static_cast<CipherCtx *>(vctx), provkey, false, params);
}

int decrypt_init(void *vctx, void *provkey, const OSSL_PARAM params[])
{
    return init(static_cast<CipherCtx *>(vctx), provkey, true, params);
}

// The transport of a wrapped key for the context's recipient; with a null
// enc_key only its size (the other pointers then only need to be valid).
bool transport(const CipherCtx &ctx, const unsigned char *enc_key, const unsigned char *mac,
               const unsigned char *eph_pub, const unsigned char *ukm, std::size_t ukm_len,
               std::vector<unsigned char> *out, std::size_t *size)
{
    const p11_gost2012_key &rec = ctx.key.rec;
    std::vector<unsigned char> alg = oid_der(rec.alg_nid), curve = oid_der(rec.param_nid),
                               digest = oid_der(gost_nid(gost_key_alg(rec.alg_nid)->hash_params));
    TransportParts parts{enc_key,      mac,           ctx.paramset->der, ctx.paramset->der_len, &alg,
                         curve.data(), digest.data(), curve.size(),      digest.size(),         eph_pub,
                         rec.pub_key_len, ukm,        ukm_len};
    return encode_transport(parts, out, size) || zk_raise(ctx.prov, ZK_R_BAD_ENCODING, "key transport");
}

int encrypt(void *vctx, unsigned char *out, size_t *outlen, size_t outsize, const unsigned char *in, size_t inlen)
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    const p11_gost2012_key &rec = ctx->key.rec;
    unsigned char ukm[16] = {}, enc_key[kKeyxKeyLen] = {}, mac[kKeyxMacLen] = {};
    std::size_t ukm_len = ctx->ukm.empty() ? kUkmLen : ctx->ukm.size();
    std::size_t size = 0;
    if (!transport(*ctx, enc_key, mac, rec.pub_key, ukm, ukm_len, nullptr, &size))
        return 0;
    if (out == nullptr) {
        *outlen = size;
        return 1;
    }
    if (in == nullptr || inlen != kKeyxKeyLen)
        return zk_raise(ctx->prov, ZK_R_WRONG_KEY_LENGTH, "content key of %zu bytes, 32 needed", inlen);
    if (outsize < size)
        return zk_raise(ctx->prov, ZK_R_OUTPUT_TOO_SMALL);
    if (!ctx->ukm.empty()) {
        std::copy(ctx->ukm.begin(), ctx->ukm.end(), ukm);
    } else {
        do {
            if (RAND_bytes_ex(ctx->prov->libctx, ukm, kUkmLen, 0) != 1)
                return zk_raise(ctx->prov, ZK_R_RANDOM_FAILED);
        } while (gost_bytes_are_zero(ukm, kUkmLen));
    }
    EphemeralKey eph;
    SecretBytes<kKeyxKeyLen> kek;
    if (!zk_key_set_type(eph.key, rec.alg_nid, rec.param_nid) || !zk_soft_keygen(ctx->prov, eph.key.rec) ||
        !zk_soft_vko(ctx->prov, eph.key.rec, rec.pub_key, rec.pub_key_len, ukm, ukm_len, kek.data))
        return 0;
    if (!gost_key_wrap(*ctx->paramset, kek.data, ukm, in, enc_key, mac, nullptr))
        return zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "key wrap");
    std::vector<unsigned char> der;
    if (!transport(*ctx, enc_key, mac, eph.key.rec.pub_key, ukm, ukm_len, &der, &size))
        return 0;
    std::copy(der.begin(), der.end(), out);
    *outlen = der.size();
    return 1;
}

bool same_der(const unsigned char *der, std::size_t len, const std::vector<unsigned char> &expected)
{
    return len == expected.size() && std::equal(expected.begin(), expected.end(), der);
}

int decrypt(void *vctx, unsigned char *out, size_t *outlen, size_t outsize, const unsigned char *in, size_t inlen)
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    const ProvKey &own = ctx->key;
    if (out == nullptr) {
        *outlen = kKeyxKeyLen;
        return 1;
    }
    if (outsize < kKeyxKeyLen)
        return zk_raise(ctx->prov, ZK_R_OUTPUT_TOO_SMALL);
    const unsigned char *enc_key = nullptr, *mac = nullptr, *cipher_oid = nullptr, *alg_oid = nullptr,
                        *param_oid = nullptr, *digest_oid = nullptr, *pub = nullptr, *ukm = nullptr;
    std::size_t enc_key_len = 0, mac_len = 0, cipher_oid_len = 0, alg_oid_len = 0, param_oid_len = 0,
                digest_oid_len = 0, pub_len = 0, ukm_len = 0;
    if (in == nullptr ||
        !ber_decode_GostR3410_KeyTransport(in, inlen, &enc_key, &enc_key_len, &mac, &mac_len, &cipher_oid,
                                           &cipher_oid_len, &alg_oid, &alg_oid_len, &param_oid, &param_oid_len,
                                           &digest_oid, &digest_oid_len, &pub, &pub_len, &ukm, &ukm_len) ||
        enc_key_len != kKeyxKeyLen || mac_len != kKeyxMacLen || !ukm_usable(ukm, ukm_len))
        return zk_raise(ctx->prov, ZK_R_BAD_ENCODING, "key transport");
    // Only transports with an ephemeral key on the own key's curve: the
    // sender's own key would have to be given, and no one gives it here.
    const GostKeyAlg *alg = gost_key_alg(own.rec.alg_nid);
    if (pub == nullptr || pub_len != own.rec.pub_key_len ||
        same_der(alg_oid, alg_oid_len, oid_der(gost_nid(GostObj::gost3410_2012_512))) !=
            (alg->size == GostKeySize::bits512) ||
        !same_der(param_oid, param_oid_len, oid_der(own.rec.param_nid)) ||
        !same_der(digest_oid, digest_oid_len, oid_der(gost_nid(alg->hash_params))) ||
        !zk_soft_check_public(ctx->prov, own.rec, pub, pub_len))
        return zk_raise(ctx->prov, ZK_R_BAD_KEY, "transport made for another key");
    const GOST28147_89_PARAM *par = nullptr;
    if (GOST28147_89_FindParByDerOid(cipher_oid, static_cast<uint32_t>(cipher_oid_len), &par) != 0 || par == nullptr)
        return zk_raise(ctx->prov, ZK_R_UNKNOWN_PARAMSET, "in key transport");
    SecretBytes<kKeyxKeyLen> kek, cek;
    std::size_t kek_len = kek.size();
    bool agreed = own.on_token() ? zk_token_derive(own, pub, pub_len, ukm, ukm_len, kek.data, &kek_len)
                                 : zk_soft_vko(ctx->prov, own.rec, pub, pub_len, ukm, ukm_len, kek.data);
    if (!agreed)
        return 0;
    unsigned char computed[kKeyxMacLen];
    if (!gost_key_unwrap(*par, kek.data, ukm, enc_key, cek.data, computed, nullptr))
        return zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "key unwrap");
    if (CRYPTO_memcmp(computed, mac, kKeyxMacLen) != 0)
        return zk_raise(ctx->prov, ZK_R_WRONG_MAC);
    std::copy(cek.data, cek.data + kKeyxKeyLen, out);
    *outlen = kKeyxKeyLen;
    return 1;
}

const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_ASYM_CIPHER_NEWCTX, zk_fn(newctx)},
    {OSSL_FUNC_ASYM_CIPHER_FREECTX, zk_fn(freectx)},
    {OSSL_FUNC_ASYM_CIPHER_DUPCTX, zk_fn(dupctx)},
    {OSSL_FUNC_ASYM_CIPHER_ENCRYPT_INIT, zk_fn(encrypt_init)},
    {OSSL_FUNC_ASYM_CIPHER_ENCRYPT, zk_fn(encrypt)},
    {OSSL_FUNC_ASYM_CIPHER_DECRYPT_INIT, zk_fn(decrypt_init)},
    {OSSL_FUNC_ASYM_CIPHER_DECRYPT, zk_fn(decrypt)},
    {OSSL_FUNC_ASYM_CIPHER_SET_CTX_PARAMS, zk_fn(set_ctx_params)},
    {OSSL_FUNC_ASYM_CIPHER_SETTABLE_CTX_PARAMS, zk_fn(settable_ctx_params)},
    {OSSL_FUNC_ASYM_CIPHER_GET_CTX_PARAMS, zk_fn(get_ctx_params)},
    {OSSL_FUNC_ASYM_CIPHER_GETTABLE_CTX_PARAMS, zk_fn(gettable_ctx_params)},
    {0, nullptr},
};

}  // namespace

const OSSL_ALGORITHM zk_asym_ciphers[] = {
    ZK_KEY_ALG_ENTRIES("provider=" ZK_PROVIDER_NAME, kFunctions, kFunctions, kFunctions, "key transport"),
    {nullptr, nullptr, nullptr, nullptr},
};
