// The GOST 28147-89 MAC ("gost-mac", 4 bytes) through EVP_MAC: key, IV and
// parameter set as parameters.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>

#include <cstring>
#include <new>

#include "gost89_params.h"
#include "gost89_update.h"
#include "provider.h"

namespace {

struct MacCtx {
    const ProvCtx *prov;
    const GOST28147_89_PARAM *set;
    unsigned char key[GOST28147_89_KEY_SIZE];
    unsigned char iv[ZKC_GOST89_IV_LEN];
    bool keyed;
    bool has_iv;
    bool started;
    GOST28147_89_CTX core;
};

void *newctx(void *provctx)
{
    auto *ctx = new (std::nothrow) MacCtx{};
    if (ctx) {
        ctx->prov = static_cast<const ProvCtx *>(provctx);
        ctx->set = zk_default_paramset();
    }
    return ctx;
}

// Reads an octet string of exactly n bytes into out; false (with the reason)
// for any other length.
bool read_exact(const MacCtx *ctx, const OSSL_PARAM *p, unsigned char *out, size_t n, ProvReason reason)
{
    const void *data = nullptr;
    size_t len = 0;
    if (!OSSL_PARAM_get_octet_string_ptr(p, &data, &len) || len != n)
        return zk_raise(ctx->prov, reason, "%zu bytes", len);
    std::memcpy(out, data, n);
    return true;
}

int set_ctx_params(void *vctx, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<MacCtx *>(vctx);
    if (params == nullptr)
        return 1;
    if (!zk_read_paramset(ctx->prov, params, &ctx->set))
        return 0;
    if (const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, OSSL_MAC_PARAM_KEY)) {
        if (!read_exact(ctx, p, ctx->key, sizeof ctx->key, ZK_R_WRONG_KEY_LENGTH))
            return 0;
        ctx->keyed = true;
    }
    if (const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, OSSL_MAC_PARAM_IV)) {
        if (!read_exact(ctx, p, ctx->iv, sizeof ctx->iv, ZK_R_WRONG_IV_LENGTH))
            return 0;
        ctx->has_iv = true;
    }
    return 1;
}

int init(void *vctx, const unsigned char *key, size_t keylen, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<MacCtx *>(vctx);
    ctx->started = false;
    if (!set_ctx_params(ctx, params))
        return 0;
    if (key) {
        if (keylen != GOST28147_89_KEY_SIZE)
            return zk_raise(ctx->prov, ZK_R_WRONG_KEY_LENGTH, "%zu bytes", keylen);
        std::memcpy(ctx->key, key, keylen);
        ctx->keyed = true;
    }
    if (!ctx->keyed)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    int rc = GOST28147_89_Init(&ctx->core, 1, ctx->set->table, GOST28147_89_MODE_MAC, 0, ctx->set->key_meshing, 0,
                               ctx->has_iv ? ctx->iv : nullptr, ctx->key);
    if (rc != 0)
        return zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "MAC init, rc = %d", rc);
    ctx->started = true;
    return 1;
}

int update(void *vctx, const unsigned char *in, size_t inl)
{
    auto *ctx = static_cast<MacCtx *>(vctx);
    if (!ctx->started)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    if (inl == 0)
        return 1;
    int rc = gost89_update(&ctx->core, in, inl, nullptr);
    return rc == 0 ? 1 : zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "MAC update, rc = %d", rc);
}

int final(void *vctx, unsigned char *out, size_t *outl, size_t outsize)
{
    auto *ctx = static_cast<MacCtx *>(vctx);
    if (!ctx->started)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    if (outsize < GOST28147_89_MAC_SIZE)
        return zk_raise(ctx->prov, ZK_R_OUTPUT_TOO_SMALL);
    ctx->started = false;
    int rc = GOST28147_89_Final(&ctx->core);
    if (rc != 0)
        return zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "MAC final, rc = %d", rc);
    std::memcpy(out, ctx->core.mac, GOST28147_89_MAC_SIZE);
    *outl = GOST28147_89_MAC_SIZE;
    return 1;
}

int get_ctx_params(void *vctx, OSSL_PARAM params[])
{
    auto *ctx = static_cast<MacCtx *>(vctx);
    OSSL_PARAM *p = OSSL_PARAM_locate(params, OSSL_MAC_PARAM_SIZE);
    if (p && !OSSL_PARAM_set_size_t(p, GOST28147_89_MAC_SIZE))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_MAC_PARAM_BLOCK_SIZE);
    if (p && !OSSL_PARAM_set_size_t(p, GOST28147_89_BLOCK_SIZE))
        return 0;
    return zk_write_paramset(params, ctx->set);
}

const OSSL_PARAM *gettable_ctx_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_size_t(OSSL_MAC_PARAM_SIZE, nullptr),
        OSSL_PARAM_size_t(OSSL_MAC_PARAM_BLOCK_SIZE, nullptr),
        OSSL_PARAM_utf8_string(ZK_PARAM_PARAMSET, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

const OSSL_PARAM *settable_ctx_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_octet_string(OSSL_MAC_PARAM_KEY, nullptr, 0),
        OSSL_PARAM_octet_string(OSSL_MAC_PARAM_IV, nullptr, 0),
        OSSL_PARAM_utf8_string(ZK_PARAM_PARAMSET, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_MAC_NEWCTX, zk_fn(newctx)},
    {OSSL_FUNC_MAC_FREECTX, zk_fn(zk_freectx<MacCtx>)},
    {OSSL_FUNC_MAC_DUPCTX, zk_fn(zk_dupctx<MacCtx>)},
    {OSSL_FUNC_MAC_INIT, zk_fn(init)},
    {OSSL_FUNC_MAC_UPDATE, zk_fn(update)},
    {OSSL_FUNC_MAC_FINAL, zk_fn(final)},
    {OSSL_FUNC_MAC_GET_CTX_PARAMS, zk_fn(get_ctx_params)},
    {OSSL_FUNC_MAC_SET_CTX_PARAMS, zk_fn(set_ctx_params)},
    {OSSL_FUNC_MAC_GETTABLE_CTX_PARAMS, zk_fn(gettable_ctx_params)},
    {OSSL_FUNC_MAC_SETTABLE_CTX_PARAMS, zk_fn(settable_ctx_params)},
    {0, nullptr},
};

}  // namespace

const OSSL_ALGORITHM zk_macs[] = {
    {"gost-mac:GOST 28147-89 MAC:1.2.643.2.2.22", "provider=" ZK_PROVIDER_NAME, kFunctions, "GOST 28147-89 MAC (32 bits)"},
    {nullptr, nullptr, nullptr, nullptr},
};
