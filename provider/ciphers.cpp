// GOST 28147-89 as provider ciphers: "gost89" (CFB) and "gost89-cnt"
// (counter), CryptoPro key meshing as the parameter set says. The set is the
// "paramset" parameter; the IV and the set travel in the AlgorithmIdentifier
// parameters (OSSL_CIPHER_PARAM_ALGORITHM_ID_PARAMS), which OpenSSL's PBES2
// code writes and reads through this file.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <cstring>
#include <new>

#include "gost89_params.h"
#include "gost89_update.h"
#include "ossl_ptr.h"
#include "provider.h"

namespace {

struct CipherKind {
    int core_mode;
    unsigned int evp_mode;  // what OpenSSL is told
};
constexpr CipherKind kCfb = {GOST28147_89_MODE_CFB, EVP_CIPH_CFB_MODE};
constexpr CipherKind kCnt = {GOST28147_89_MODE_CNT, EVP_CIPH_OFB_MODE};

struct CipherCtx {
    const ProvCtx *prov;
    const CipherKind *kind;
    const GOST28147_89_PARAM *set;
    unsigned char iv[ZKC_GOST89_IV_LEN];
    unsigned char key[GOST28147_89_KEY_SIZE];
    bool keyed;
    bool started;
    int enc;
    GOST28147_89_CTX core;
};

using ParamsPtr = ossl::Ptr<ZKC_CIPHER_PARAMS, ZKC_CIPHER_PARAMS_free>;

template <const CipherKind &Kind>
void *newctx(void *provctx)
{
    auto *ctx = new (std::nothrow) CipherCtx{};
    if (ctx) {
        ctx->prov = static_cast<const ProvCtx *>(provctx);
        ctx->kind = &Kind;
        ctx->set = zk_default_paramset();
    }
    return ctx;
}

// The core keyed for the current set, IV and direction: the stream starts
// again from the IV.
int start(CipherCtx *ctx)
{
    ctx->started = false;
    if (!ctx->keyed)
        return 1;
    int rc = GOST28147_89_Init(&ctx->core, ctx->enc, ctx->set->table, ctx->kind->core_mode, 0,
                               ctx->set->key_meshing, 0, ctx->iv, ctx->key);
    if (rc != 0)
        return zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "cipher init, rc = %d", rc);
    ctx->started = true;
    return 1;
}

// Reads Gost28147-89-Parameters filling exactly len bytes: an 8-byte IV and
// a parameter set the core knows. Nothing changes unless all of it holds.
int read_algorithm_params(CipherCtx *ctx, const unsigned char *der, size_t len)
{
    const unsigned char *p = der;
    ParamsPtr params(len <= 64 ? d2i_ZKC_CIPHER_PARAMS(nullptr, &p, static_cast<long>(len)) : nullptr);
    if (!params || p != der + len)
        return zk_raise(ctx->prov, ZK_R_MALFORMED_ALGORITHM_PARAMS);
    if (ASN1_STRING_length(params->iv) != ZKC_GOST89_IV_LEN)
        return zk_raise(ctx->prov, ZK_R_WRONG_IV_LENGTH);
    const GOST28147_89_PARAM *set = gost89_paramset_of_object(params->enc_param_set);
    if (set == nullptr)
        return zk_raise(ctx->prov, ZK_R_UNKNOWN_PARAMSET);
    ctx->set = set;
    std::memcpy(ctx->iv, ASN1_STRING_get0_data(params->iv), ZKC_GOST89_IV_LEN);
    return 1;
}

int write_algorithm_params(const CipherCtx *ctx, OSSL_PARAM *out)
{
    ParamsPtr params(ZKC_CIPHER_PARAMS_new());
    const unsigned char *oid = ctx->set->der;
    ASN1_OBJECT *set = params ? d2i_ASN1_OBJECT(nullptr, &oid, ctx->set->der_len) : nullptr;
    if (!set || !ASN1_OCTET_STRING_set(params->iv, ctx->iv, ZKC_GOST89_IV_LEN)) {
        ASN1_OBJECT_free(set);
        return zk_raise(ctx->prov, ZK_R_OUT_OF_MEMORY);
    }
    ASN1_OBJECT_free(params->enc_param_set);
    params->enc_param_set = set;
    unsigned char *der = nullptr;
    int len = i2d_ZKC_CIPHER_PARAMS(params.get(), &der);
    if (len <= 0)
        return zk_raise(ctx->prov, ZK_R_OUT_OF_MEMORY);
    int ok = OSSL_PARAM_set_octet_string(out, der, static_cast<size_t>(len));
    OPENSSL_free(der);
    return ok;
}

int set_ctx_params(void *vctx, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    if (params == nullptr)
        return 1;
    const GOST28147_89_PARAM *before = ctx->set;
    if (!zk_read_paramset(ctx->prov, params, &ctx->set))
        return 0;
    bool restart = ctx->set != before;
    if (const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, OSSL_CIPHER_PARAM_ALGORITHM_ID_PARAMS)) {
        const void *der = nullptr;
        size_t len = 0;
        if (!OSSL_PARAM_get_octet_string_ptr(p, &der, &len))
            return zk_raise(ctx->prov, ZK_R_MALFORMED_ALGORITHM_PARAMS);
        if (!read_algorithm_params(ctx, static_cast<const unsigned char *>(der), len))
            return 0;
        restart = true;
    }
    if (const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, OSSL_CIPHER_PARAM_KEYLEN)) {
        size_t keylen = 0;
        if (!OSSL_PARAM_get_size_t(p, &keylen) || keylen != GOST28147_89_KEY_SIZE)
            return zk_raise(ctx->prov, ZK_R_WRONG_KEY_LENGTH);
    }
    return restart && ctx->started ? start(ctx) : 1;
}

int cipher_init(void *vctx, const unsigned char *key, size_t keylen, const unsigned char *iv, size_t ivlen,
                const OSSL_PARAM params[], int enc)
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    if (key && keylen != GOST28147_89_KEY_SIZE)
        return zk_raise(ctx->prov, ZK_R_WRONG_KEY_LENGTH, "%zu bytes", keylen);
    if (iv && ivlen != ZKC_GOST89_IV_LEN)
        return zk_raise(ctx->prov, ZK_R_WRONG_IV_LENGTH, "%zu bytes", ivlen);
    ctx->started = false;
    if (!set_ctx_params(ctx, params))
        return 0;
    if (iv)
        std::memcpy(ctx->iv, iv, ZKC_GOST89_IV_LEN);
    if (key) {
        std::memcpy(ctx->key, key, GOST28147_89_KEY_SIZE);
        ctx->keyed = true;
    }
    ctx->enc = enc;
    return start(ctx);
}

int encrypt_init(void *vctx, const unsigned char *key, size_t keylen, const unsigned char *iv, size_t ivlen,
                 const OSSL_PARAM params[])
{
    return cipher_init(vctx, key, keylen, iv, ivlen, params, 1);
}

int decrypt_init(void *vctx, const unsigned char *key, size_t keylen, const unsigned char *iv, size_t ivlen,
                 const OSSL_PARAM params[])
{
    return cipher_init(vctx, key, keylen, iv, ivlen, params, 0);
}

int update(void *vctx, unsigned char *out, size_t *outl, size_t outsize, const unsigned char *in, size_t inl)
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    if (!ctx->started)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    if (outsize < inl)
        return zk_raise(ctx->prov, ZK_R_OUTPUT_TOO_SMALL);
    if (inl != 0) {
        int rc = gost89_update(&ctx->core, in, inl, out);
        if (rc != 0)
            return zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "cipher update, rc = %d", rc);
    }
    *outl = inl;
    return 1;
}

// A stream cipher: everything went out with the updates.
int final(void *vctx, unsigned char *, size_t *outl, size_t)
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    if (!ctx->started)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    *outl = 0;
    return 1;
}

int get_ctx_params(void *vctx, OSSL_PARAM params[])
{
    auto *ctx = static_cast<CipherCtx *>(vctx);
    OSSL_PARAM *p = OSSL_PARAM_locate(params, OSSL_CIPHER_PARAM_KEYLEN);
    if (p && !OSSL_PARAM_set_size_t(p, GOST28147_89_KEY_SIZE))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_CIPHER_PARAM_IVLEN);
    if (p && !OSSL_PARAM_set_size_t(p, ZKC_GOST89_IV_LEN))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_CIPHER_PARAM_ALGORITHM_ID_PARAMS);
    if (p && !write_algorithm_params(ctx, p))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_CIPHER_PARAM_RANDOM_KEY);
    if (p) {
        if (p->data_type != OSSL_PARAM_OCTET_STRING || p->data_size < GOST28147_89_KEY_SIZE)
            return zk_raise(ctx->prov, ZK_R_BAD_PARAMETER, OSSL_CIPHER_PARAM_RANDOM_KEY);
        if (RAND_priv_bytes(static_cast<unsigned char *>(p->data), GOST28147_89_KEY_SIZE) <= 0)
            return zk_raise(ctx->prov, ZK_R_RANDOM_FAILED);
        p->return_size = GOST28147_89_KEY_SIZE;
    }
    return zk_write_paramset(params, ctx->set);
}

template <const CipherKind &Kind>
int get_params(OSSL_PARAM params[])
{
    struct Value {
        const char *name;
        size_t value;
    };
    const Value values[] = {
        {OSSL_CIPHER_PARAM_MODE, Kind.evp_mode},
        {OSSL_CIPHER_PARAM_KEYLEN, GOST28147_89_KEY_SIZE},
        {OSSL_CIPHER_PARAM_IVLEN, ZKC_GOST89_IV_LEN},
        {OSSL_CIPHER_PARAM_BLOCK_SIZE, 1},
        {OSSL_CIPHER_PARAM_CUSTOM_IV, 1},
        {OSSL_CIPHER_PARAM_HAS_RAND_KEY, 1},
        {OSSL_CIPHER_PARAM_AEAD, 0},
        {OSSL_CIPHER_PARAM_CTS, 0},
        {OSSL_CIPHER_PARAM_TLS1_MULTIBLOCK, 0},
    };
    for (const Value &v : values) {
        OSSL_PARAM *p = OSSL_PARAM_locate(params, v.name);
        if (p && !OSSL_PARAM_set_size_t(p, v.value))
            return 0;
    }
    return 1;
}

const OSSL_PARAM *gettable_params(void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_uint(OSSL_CIPHER_PARAM_MODE, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_KEYLEN, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_IVLEN, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_BLOCK_SIZE, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_CUSTOM_IV, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_HAS_RAND_KEY, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_AEAD, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_CTS, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_TLS1_MULTIBLOCK, nullptr),
        OSSL_PARAM_END,
    };
    return kParams;
}

const OSSL_PARAM *gettable_ctx_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_KEYLEN, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_IVLEN, nullptr),
        OSSL_PARAM_octet_string(OSSL_CIPHER_PARAM_ALGORITHM_ID_PARAMS, nullptr, 0),
        OSSL_PARAM_octet_string(OSSL_CIPHER_PARAM_RANDOM_KEY, nullptr, 0),
        OSSL_PARAM_utf8_string(ZK_PARAM_PARAMSET, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

const OSSL_PARAM *settable_ctx_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_KEYLEN, nullptr),
        OSSL_PARAM_octet_string(OSSL_CIPHER_PARAM_ALGORITHM_ID_PARAMS, nullptr, 0),
        OSSL_PARAM_utf8_string(ZK_PARAM_PARAMSET, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

template <const CipherKind &Kind>
const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_CIPHER_NEWCTX, zk_fn(newctx<Kind>)},
    {OSSL_FUNC_CIPHER_FREECTX, zk_fn(zk_freectx<CipherCtx>)},
    {OSSL_FUNC_CIPHER_DUPCTX, zk_fn(zk_dupctx<CipherCtx>)},
    {OSSL_FUNC_CIPHER_ENCRYPT_INIT, zk_fn(encrypt_init)},
    {OSSL_FUNC_CIPHER_DECRYPT_INIT, zk_fn(decrypt_init)},
    {OSSL_FUNC_CIPHER_UPDATE, zk_fn(update)},
    {OSSL_FUNC_CIPHER_FINAL, zk_fn(final)},
    {OSSL_FUNC_CIPHER_CIPHER, zk_fn(update)},
    {OSSL_FUNC_CIPHER_GET_PARAMS, zk_fn(get_params<Kind>)},
    {OSSL_FUNC_CIPHER_GETTABLE_PARAMS, zk_fn(gettable_params)},
    {OSSL_FUNC_CIPHER_GET_CTX_PARAMS, zk_fn(get_ctx_params)},
    {OSSL_FUNC_CIPHER_SET_CTX_PARAMS, zk_fn(set_ctx_params)},
    {OSSL_FUNC_CIPHER_GETTABLE_CTX_PARAMS, zk_fn(gettable_ctx_params)},
    {OSSL_FUNC_CIPHER_SETTABLE_CTX_PARAMS, zk_fn(settable_ctx_params)},
    {0, nullptr},
};

}  // namespace

const OSSL_ALGORITHM zk_ciphers[] = {
    {"gost89:GOST 28147-89:1.2.643.2.2.21", "provider=" ZK_PROVIDER_NAME, kFunctions<kCfb>, "GOST 28147-89 in CFB mode"},
    {"gost89-cnt", "provider=" ZK_PROVIDER_NAME, kFunctions<kCnt>, "GOST 28147-89 in counter mode"},
    {nullptr, nullptr, nullptr, nullptr},
};
