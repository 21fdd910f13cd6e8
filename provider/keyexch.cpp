// VKO GOST R 34.10 key agreement: the 32-byte key agreed between the own
// private key and the peer's public value under a UKM ("ukm",
// ZK_EXCHANGE_PARAM_UKM, an octet string of 8 bytes for 256-bit keys, 16
// for 512-bit keys, not all zero), as the engine's derive gives it. A key on
// a token agrees on its token.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>

#include <new>
#include <vector>

#include "gost_params.h"
#include "key_algs.h"
#include "soft_gost.h"
#include "token_keys.h"

namespace {

constexpr std::size_t kAgreedLen = 32;

struct ExchCtx {
    ProvCtx *prov;
    ProvKey own;
    ProvKey peer;
    std::vector<unsigned char> ukm;
};

void *newctx(void *provctx)
{
    auto *ctx = new (std::nothrow) ExchCtx;
    if (ctx != nullptr)
        ctx->prov = static_cast<ProvCtx *>(provctx);
    return ctx;
}

void freectx(void *vctx)
{
    auto *ctx = static_cast<ExchCtx *>(vctx);
    if (ctx == nullptr)
        return;
    OPENSSL_cleanse(&ctx->own.rec, sizeof ctx->own.rec);
    OPENSSL_cleanse(ctx->ukm.data(), ctx->ukm.size());
    delete ctx;
}

void *dupctx(void *vctx) { return new (std::nothrow) ExchCtx(*static_cast<const ExchCtx *>(vctx)); }

int set_ctx_params(void *vctx, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<ExchCtx *>(vctx);
    bool given = false;
    return zk_read_ukm(ctx->prov, params, ctx->ukm, &given);
}

const OSSL_PARAM *settable_ctx_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_octet_string(ZK_EXCHANGE_PARAM_UKM, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

int init(void *vctx, void *provkey, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<ExchCtx *>(vctx);
    const auto *key = static_cast<const ProvKey *>(provkey);
    if (key == nullptr || gost_key_alg(key->rec.alg_nid) == nullptr || !(key->rec.priv_key_loaded || key->on_token()))
        return zk_raise(ctx->prov, ZK_R_NO_KEY, "no private key");
    ctx->own = *key;
    return set_ctx_params(vctx, params);
}

int set_peer(void *vctx, void *provkey)
{
    auto *ctx = static_cast<ExchCtx *>(vctx);
    const auto *peer = static_cast<const ProvKey *>(provkey);
    if (peer == nullptr || !peer->has_public)
        return zk_raise(ctx->prov, ZK_R_NO_KEY, "no peer public value");
    if (peer->rec.alg_nid != ctx->own.rec.alg_nid || peer->rec.param_nid != ctx->own.rec.param_nid)
        return zk_raise(ctx->prov, ZK_R_BAD_KEY, "peer key of another algorithm or parameter set");
    ctx->peer.rec = peer->rec;
    OPENSSL_cleanse(ctx->peer.rec.priv_key, sizeof ctx->peer.rec.priv_key);
    ctx->peer.rec.priv_key_loaded = 0;
    ctx->peer.has_public = true;
    return 1;
}

int derive(void *vctx, unsigned char *secret, size_t *secretlen, size_t outlen)
{
    auto *ctx = static_cast<ExchCtx *>(vctx);
    if (secret == nullptr) {
        *secretlen = kAgreedLen;
        return 1;
    }
    if (outlen < kAgreedLen)
        return zk_raise(ctx->prov, ZK_R_OUTPUT_TOO_SMALL);
    if (!ctx->peer.has_public)
        return zk_raise(ctx->prov, ZK_R_NO_KEY, "no peer key");
    const std::size_t need = ctx->peer.rec.pub_key_len / 8;
    if (ctx->ukm.size() != need || gost_bytes_are_zero(ctx->ukm.data(), need))
        return zk_raise(ctx->prov, ZK_R_BAD_PARAMETER, "UKM of %zu bytes, %zu non-zero bytes needed", ctx->ukm.size(), need);
    std::size_t len = outlen;
    bool ok = ctx->own.on_token()
                  ? zk_token_derive(ctx->own, ctx->peer.rec.pub_key, ctx->peer.rec.pub_key_len, ctx->ukm.data(), need,
                                    secret, &len)
                  : (len = kAgreedLen, zk_soft_vko(ctx->prov, ctx->own.rec, ctx->peer.rec.pub_key,
                                                   ctx->peer.rec.pub_key_len, ctx->ukm.data(), need, secret));
    if (!ok)
        return 0;
    *secretlen = len;
    return 1;
}

const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_KEYEXCH_NEWCTX, zk_fn(newctx)},
    {OSSL_FUNC_KEYEXCH_FREECTX, zk_fn(freectx)},
    {OSSL_FUNC_KEYEXCH_DUPCTX, zk_fn(dupctx)},
    {OSSL_FUNC_KEYEXCH_INIT, zk_fn(init)},
    {OSSL_FUNC_KEYEXCH_SET_PEER, zk_fn(set_peer)},
    {OSSL_FUNC_KEYEXCH_DERIVE, zk_fn(derive)},
    {OSSL_FUNC_KEYEXCH_SET_CTX_PARAMS, zk_fn(set_ctx_params)},
    {OSSL_FUNC_KEYEXCH_SETTABLE_CTX_PARAMS, zk_fn(settable_ctx_params)},
    {0, nullptr},
};

}  // namespace

const OSSL_ALGORITHM zk_keyexch[] = {
    ZK_KEY_ALG_ENTRIES("provider=" ZK_PROVIDER_NAME, kFunctions, kFunctions, kFunctions, "key agreement"),
    {nullptr, nullptr, nullptr, nullptr},
};
