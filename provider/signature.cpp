// GOST R 34.10 signatures with the matching GOST R 34.11 digest: over a
// digest (sign, verify) or over the data, hashed with the provider's own
// digests (digest_sign, digest_verify). Software keys sign in soft_gost,
// token keys on their token; verification needs only the public value.
// The X.509 algorithm identifier is the signature OID OpenSSL pairs with
// the key and digest, with NULL parameters, as the engine writes it.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/params.h>
#include <openssl/x509.h>

#include <new>

#include "gost_digest_core.h"
#include "gost_params.h"
#include "key_algs.h"
#include "soft_gost.h"
#include "token_keys.h"

namespace {

// The running digest of digest_sign / digest_verify.
struct Hash {
    int nid = NID_undef;
    GOSTR3411_94_CTX c94;
    GOSTR3411_2012_CTX c12;

    template <class D, class C>
    static bool run(C *c, int step, const unsigned char *in, std::size_t len, unsigned char *out)
    {
        switch (step) {
        case 0:
            return D::init(c) == 0;
        case 1:
            return len == 0 || D::update(c, in, len) == 0;
        default:
            return D::final(c, out) == 0;
        }
    }
    bool step(int which, const unsigned char *in, std::size_t len, unsigned char *out)
    {
        if (nid == gost_nid(GostObj::md_gost94))
            return run<GostDigestCore94>(&c94, which, in, len, out);
        if (nid == gost_nid(GostObj::gost3411_2012_256))
            return run<GostDigestCore256>(&c12, which, in, len, out);
        return run<GostDigestCore512>(&c12, which, in, len, out);
    }
};

struct SigCtx {
    ProvCtx *prov;
    ProvKey key;
    const GostKeyAlg *alg = nullptr;
    Hash hash;
};

void *newctx(void *provctx, const char *)
{
    auto *ctx = new (std::nothrow) SigCtx;
    if (ctx != nullptr)
        ctx->prov = static_cast<ProvCtx *>(provctx);
    return ctx;
}

void freectx(void *vctx)
{
    auto *ctx = static_cast<SigCtx *>(vctx);
    if (ctx == nullptr)
        return;
    OPENSSL_cleanse(&ctx->key.rec, sizeof ctx->key.rec);
    OPENSSL_cleanse(&ctx->hash, sizeof ctx->hash);
    delete ctx;
}

void *dupctx(void *vctx) { return new (std::nothrow) SigCtx(*static_cast<const SigCtx *>(vctx)); }

// Takes the key the operation uses: one with a private half for signing,
// with a public value for verifying.
int take_key(SigCtx *ctx, void *provkey, bool signing)
{
    const auto *key = static_cast<const ProvKey *>(provkey);
    const GostKeyAlg *alg = key != nullptr ? gost_key_alg(key->rec.alg_nid) : nullptr;
    if (alg == nullptr || key->rec.param_nid == NID_undef)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    if (signing ? !(key->rec.priv_key_loaded || key->on_token()) : !key->has_public)
        return zk_raise(ctx->prov, ZK_R_NO_KEY, signing ? "no private key" : "no public value");
    ctx->key = *key;
    ctx->alg = alg;
    ctx->hash.nid = gost_nid(alg->default_digest);
    return 1;
}

int sign_init(void *vctx, void *provkey, const OSSL_PARAM *) { return take_key(static_cast<SigCtx *>(vctx), provkey, true); }
int verify_init(void *vctx, void *provkey, const OSSL_PARAM *) { return take_key(static_cast<SigCtx *>(vctx), provkey, false); }

int sign(void *vctx, unsigned char *sig, size_t *siglen, size_t sigsize, const unsigned char *tbs, size_t tbslen)
{
    auto *ctx = static_cast<SigCtx *>(vctx);
    if (ctx->alg == nullptr)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    if (sig == nullptr) {
        *siglen = ctx->alg->sig_len;
        return 1;
    }
    if (sigsize < ctx->alg->sig_len)
        return zk_raise(ctx->prov, ZK_R_OUTPUT_TOO_SMALL);
    if (tbslen != ctx->alg->priv_key_len)
        return zk_raise(ctx->prov, ZK_R_WRONG_DIGEST, "digest of %zu bytes, %u expected", tbslen, ctx->alg->priv_key_len);
    std::size_t len = sigsize;
    bool ok = ctx->key.on_token() ? zk_token_sign(ctx->key, tbs, tbslen, sig, &len)
                                  : (len = ctx->alg->sig_len, zk_soft_sign(ctx->prov, ctx->key.rec, tbs, tbslen, sig));
    if (!ok)
        return 0;
    *siglen = len;
    return 1;
}

int verify(void *vctx, const unsigned char *sig, size_t siglen, const unsigned char *tbs, size_t tbslen)
{
    auto *ctx = static_cast<SigCtx *>(vctx);
    if (ctx->alg == nullptr)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    return zk_soft_verify(ctx->prov, ctx->key.rec, tbs, tbslen, sig, siglen) ? 1 : 0;
}

// The digest named (the key's own when none is): only the one that goes
// with the key.
int digest_init(void *vctx, const char *mdname, void *provkey, bool signing)
{
    auto *ctx = static_cast<SigCtx *>(vctx);
    if (!take_key(ctx, provkey, signing))
        return 0;
    if (mdname != nullptr && gost_txt2nid(mdname) != ctx->hash.nid)
        return zk_raise(ctx->prov, ZK_R_WRONG_DIGEST, "%s with %s", mdname, gost_nid2sn(ctx->key.rec.alg_nid));
    return ctx->hash.step(0, nullptr, 0, nullptr) ? 1 : zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "hash init");
}

int digest_sign_init(void *vctx, const char *mdname, void *provkey, const OSSL_PARAM *)
{
    return digest_init(vctx, mdname, provkey, true);
}

int digest_verify_init(void *vctx, const char *mdname, void *provkey, const OSSL_PARAM *)
{
    return digest_init(vctx, mdname, provkey, false);
}

int digest_update(void *vctx, const unsigned char *data, size_t len)
{
    auto *ctx = static_cast<SigCtx *>(vctx);
    if (ctx->alg == nullptr)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    return ctx->hash.step(1, data, len, nullptr) ? 1 : zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "hash update");
}

// The digest of the data so far into out (the key's length).
bool finish_digest(SigCtx *ctx, unsigned char *out)
{
    return ctx->alg != nullptr && (ctx->hash.step(2, nullptr, 0, out) || zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "hash final"));
}

int digest_sign_final(void *vctx, unsigned char *sig, size_t *siglen, size_t sigsize)
{
    auto *ctx = static_cast<SigCtx *>(vctx);
    unsigned char digest[kGostPrivKeyMax];
    if (sig != nullptr && ctx->alg != nullptr && sigsize < ctx->alg->sig_len)
        return zk_raise(ctx->prov, ZK_R_OUTPUT_TOO_SMALL);
    if (sig != nullptr && !finish_digest(ctx, digest))
        return 0;
    return sign(vctx, sig, siglen, sigsize, digest, ctx->alg != nullptr ? ctx->alg->priv_key_len : 0);
}

int digest_verify_final(void *vctx, const unsigned char *sig, size_t siglen)
{
    auto *ctx = static_cast<SigCtx *>(vctx);
    unsigned char digest[kGostPrivKeyMax];
    if (!finish_digest(ctx, digest))
        return 0;
    return verify(vctx, sig, siglen, digest, ctx->alg->priv_key_len);
}

// DER of the signature's AlgorithmIdentifier.
int write_algorithm_id(const SigCtx *ctx, OSSL_PARAM *p)
{
    int sig_nid = NID_undef;
    if (ctx->alg == nullptr || !OBJ_find_sigid_by_algs(&sig_nid, ctx->hash.nid, ctx->key.rec.alg_nid))
        return zk_raise(ctx->prov, ZK_R_NO_KEY, "no signature algorithm");
    X509_ALGOR *algor = X509_ALGOR_new();
    unsigned char *der = nullptr;
    int len = algor != nullptr && X509_ALGOR_set0(algor, OBJ_nid2obj(sig_nid), V_ASN1_NULL, nullptr)
                  ? i2d_X509_ALGOR(algor, &der)
                  : 0;
    int ok = len > 0 && OSSL_PARAM_set_octet_string(p, der, static_cast<std::size_t>(len));
    OPENSSL_free(der);
    X509_ALGOR_free(algor);
    return ok;
}

int get_ctx_params(void *vctx, OSSL_PARAM params[])
{
    const auto *ctx = static_cast<const SigCtx *>(vctx);
    OSSL_PARAM *p = OSSL_PARAM_locate(params, OSSL_SIGNATURE_PARAM_ALGORITHM_ID);
    if (p != nullptr && !write_algorithm_id(ctx, p))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_SIGNATURE_PARAM_DIGEST);
    return p == nullptr || OSSL_PARAM_set_utf8_string(p, gost_nid2sn(ctx->hash.nid));
}

const OSSL_PARAM *gettable_ctx_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_octet_string(OSSL_SIGNATURE_PARAM_ALGORITHM_ID, nullptr, 0),
        OSSL_PARAM_utf8_string(OSSL_SIGNATURE_PARAM_DIGEST, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_SIGNATURE_NEWCTX, zk_fn(newctx)},
    {OSSL_FUNC_SIGNATURE_FREECTX, zk_fn(freectx)},
    {OSSL_FUNC_SIGNATURE_DUPCTX, zk_fn(dupctx)},
    {OSSL_FUNC_SIGNATURE_SIGN_INIT, zk_fn(sign_init)},
    {OSSL_FUNC_SIGNATURE_SIGN, zk_fn(sign)},
    {OSSL_FUNC_SIGNATURE_VERIFY_INIT, zk_fn(verify_init)},
    {OSSL_FUNC_SIGNATURE_VERIFY, zk_fn(verify)},
    {OSSL_FUNC_SIGNATURE_DIGEST_SIGN_INIT, zk_fn(digest_sign_init)},
    {OSSL_FUNC_SIGNATURE_DIGEST_SIGN_UPDATE, zk_fn(digest_update)},
    {OSSL_FUNC_SIGNATURE_DIGEST_SIGN_FINAL, zk_fn(digest_sign_final)},
    {OSSL_FUNC_SIGNATURE_DIGEST_VERIFY_INIT, zk_fn(digest_verify_init)},
    {OSSL_FUNC_SIGNATURE_DIGEST_VERIFY_UPDATE, zk_fn(digest_update)},
    {OSSL_FUNC_SIGNATURE_DIGEST_VERIFY_FINAL, zk_fn(digest_verify_final)},
    {OSSL_FUNC_SIGNATURE_GET_CTX_PARAMS, zk_fn(get_ctx_params)},
    {OSSL_FUNC_SIGNATURE_GETTABLE_CTX_PARAMS, zk_fn(gettable_ctx_params)},
    {0, nullptr},
};

}  // namespace

const OSSL_ALGORITHM zk_signatures[] = {
    ZK_KEY_ALG_ENTRIES("provider=" ZK_PROVIDER_NAME, kFunctions, kFunctions, kFunctions, "signature"),
    {nullptr, nullptr, nullptr, nullptr},
};
