// GOST R 34.11-94 (CryptoPro parameters) and GOST R 34.11-2012 256/512 as
// provider digests over the crypto core's hash contexts; one template serves
// the three.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>

#include <new>

#include "gost_digest_core.h"
#include "provider.h"

namespace {

template <class D>
struct DigestCtx {
    const ProvCtx *prov;
    typename D::Ctx core;
};

template <class D>
void *newctx(void *provctx)
{
    auto *ctx = new (std::nothrow) DigestCtx<D>{};
    if (ctx)
        ctx->prov = static_cast<const ProvCtx *>(provctx);
    return ctx;
}

template <class D>
int init(void *vctx, const OSSL_PARAM *)
{
    auto *ctx = static_cast<DigestCtx<D> *>(vctx);
    OPENSSL_cleanse(&ctx->core, sizeof ctx->core);
    int rc = D::init(&ctx->core);
    return rc == 0 ? 1 : zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "hash init, rc = %d", rc);
}

template <class D>
int update(void *vctx, const unsigned char *in, size_t inl)
{
    auto *ctx = static_cast<DigestCtx<D> *>(vctx);
    if (inl == 0)
        return 1;
    int rc = D::update(&ctx->core, in, inl);
    return rc == 0 ? 1 : zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "hash update, rc = %d", rc);
}

template <class D>
int final(void *vctx, unsigned char *out, size_t *outl, size_t outsz)
{
    auto *ctx = static_cast<DigestCtx<D> *>(vctx);
    if (outsz < size_t(D::size))
        return zk_raise(ctx->prov, ZK_R_OUTPUT_TOO_SMALL);
    int rc = D::final(&ctx->core, out);
    if (rc != 0)
        return zk_raise(ctx->prov, ZK_R_CORE_FAILURE, "hash final, rc = %d", rc);
    *outl = D::size;
    return 1;
}

template <class D>
int get_params(OSSL_PARAM params[])
{
    OSSL_PARAM *p = OSSL_PARAM_locate(params, OSSL_DIGEST_PARAM_BLOCK_SIZE);
    if (p && !OSSL_PARAM_set_size_t(p, D::block))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_DIGEST_PARAM_SIZE);
    if (p && !OSSL_PARAM_set_size_t(p, D::size))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_DIGEST_PARAM_XOF);
    if (p && !OSSL_PARAM_set_int(p, 0))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_DIGEST_PARAM_ALGID_ABSENT);
    return p == nullptr || OSSL_PARAM_set_int(p, 0);
}

const OSSL_PARAM *gettable_params(void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_size_t(OSSL_DIGEST_PARAM_BLOCK_SIZE, nullptr),
        OSSL_PARAM_size_t(OSSL_DIGEST_PARAM_SIZE, nullptr),
        OSSL_PARAM_int(OSSL_DIGEST_PARAM_XOF, nullptr),
        OSSL_PARAM_int(OSSL_DIGEST_PARAM_ALGID_ABSENT, nullptr),
        OSSL_PARAM_END,
    };
    return kParams;
}

template <class D>
const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_DIGEST_NEWCTX, zk_fn(newctx<D>)},
    {OSSL_FUNC_DIGEST_FREECTX, zk_fn(zk_freectx<DigestCtx<D>>)},
    {OSSL_FUNC_DIGEST_DUPCTX, zk_fn(zk_dupctx<DigestCtx<D>>)},
    {OSSL_FUNC_DIGEST_INIT, zk_fn(init<D>)},
    {OSSL_FUNC_DIGEST_UPDATE, zk_fn(update<D>)},
    {OSSL_FUNC_DIGEST_FINAL, zk_fn(final<D>)},
    {OSSL_FUNC_DIGEST_GET_PARAMS, zk_fn(get_params<D>)},
    {OSSL_FUNC_DIGEST_GETTABLE_PARAMS, zk_fn(gettable_params)},
    {0, nullptr},
};

}  // namespace

// OpenSSL's short and long names of the OIDs, ours, and the OIDs: OpenSSL's
// PKCS#12 code fetches by long name.
const OSSL_ALGORITHM zk_digests[] = {
    {"md_gost94:GOST R 34.11-94:1.2.643.2.2.9", "provider=" ZK_PROVIDER_NAME, kFunctions<GostDigestCore94>,
     "GOST R 34.11-94 (CryptoPro parameters)"},
    {"md_gost12_256:gost3411-2012-256:GOST R 34.11-2012 with 256 bit hash:"
     "GOST R 34.11-2012 256 bits:1.2.643.7.1.1.2.2", "provider=" ZK_PROVIDER_NAME,
     kFunctions<GostDigestCore256>, "GOST R 34.11-2012 256 bits"},
    {"md_gost12_512:gost3411-2012-512:GOST R 34.11-2012 with 512 bit hash:"
     "GOST R 34.11-2012 512 bits:1.2.643.7.1.1.2.3", "provider=" ZK_PROVIDER_NAME,
     kFunctions<GostDigestCore512>, "GOST R 34.11-2012 512 bits"},
    {nullptr, nullptr, nullptr, nullptr},
};
