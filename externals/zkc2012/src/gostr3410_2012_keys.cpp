// Keys on the GOST R 34.10 curves: loading private values, generating and
// checking public points, unloading them to their byte encoding.
#include <cstring>

#include "gostr3410_2012.h"
#include "gostr3410_2012_ct.h"
#include "gostr3410_2012_ec.h"
#include "zkc_diag.h"

namespace {

using namespace zkc::ec;

template <std::size_t N> int load_private(const uint8_t *key, DIGIT_T *d)
{
    // Copy, reverse to big-endian, convert.
    constexpr std::size_t kBytes = (N - 1) * MP_BYTES_PER_DIGIT;
    Wiped<uint8_t[kBytes]> be;
    for (std::size_t i = 0; i < kBytes; ++i)
        be.v[i] = key[kBytes - 1 - i];
    mpSetZero(d, N);
    mpConvFromOctets(d, N, be.v, kBytes);
    return 0;
}

// Byte by byte, little-endian: the same work whatever the coordinates (the
// point comes straight from a private value at key generation).
template <std::size_t N> void unload_public(const typename Curve<N>::Point &Q, uint8_t *out)
{
    constexpr std::size_t kBytes = (N - 1) * MP_BYTES_PER_DIGIT;
    for (std::size_t i = 0; i < kBytes; ++i) {
        out[i] = static_cast<uint8_t>(mpGetByte(Q.x, N, i));
        out[kBytes + i] = static_cast<uint8_t>(mpGetByte(Q.y, N, i));
    }
}

// Both coordinates in 0..p-1 and y^2 = x^3 + ax + b (mod p).
template <std::size_t N> int check_public(const typename Curve<N>::Params &params, const typename Curve<N>::Point &Q)
{
    bool ok = mpCompare(Q.x, params.p, N) < 0 && mpCompare(Q.y, params.p, N) < 0;
    if (ok) {
        const auto ctx = curve_ctx<N>(params);
        Proj<kLimbs<N>> P;
        ctx->load(P, Q);
        ok = ctx->on_curve(P);
    }
    if (!ok)
        zkc_diag_printf("Invalid public key\n");
    return ok ? 0 : -1;
}

// Q := d G in constant time. Records with the fixed-base table take the
// scalar's digits as they are; the others, like epMult, its absolute value.
template <std::size_t N>
int generate_public(const typename Curve<N>::Params &params, const DIGIT_T *d, typename Curve<N>::Point &Q)
{
    const auto ctx = curve_ctx<N>(params);
    struct Work {
        DIGIT_T k[N];
        Proj<kLimbs<N>> R;
    };
    Wiped<Work> w;
    if (params.precomputed)
        mpSetEqual(w.v.k, d, N);
    else
        ct_abs<N>(w.v.k, d);
    ctx->base_mult(w.v.R, w.v.k);
    ctx->unload(Q, w.v.R);
    ZKC_DECLASSIFY(&Q, sizeof Q);  // the public key
    return 0;
}

}  // namespace

extern "C" int GOSTR3410_2012_256_LoadPrivateKeyValue(const uint8_t key[GOSTR3410_2012_256_KEY_BYTES],
                                                      DIGIT_T d[GOSTR3410_2012_256_DIGITS])
{
    if (!key || !d) {
        zkc_diag_printf("GOSTR3410_2012_256_LoadPrivateKeyValue: bad params\n");
        return -2;
    }
    return load_private<GOSTR3410_2012_256_DIGITS>(key, d);
}

extern "C" int GOSTR3410_2012_512_LoadPrivateKeyValue(const uint8_t key[GOSTR3410_2012_512_KEY_BYTES],
                                                      DIGIT_T d[GOSTR3410_2012_512_DIGITS])
{
    if (!key || !d) {
        zkc_diag_printf("GOSTR3410_2012_512_LoadPrivateKeyValue: bad params\n");
        return -2;
    }
    return load_private<GOSTR3410_2012_512_DIGITS>(key, d);
}

extern "C" int GOSTR3410_2012_256_UnloadPublicKeyValue(const GOSTR3410_2012_256_POINT *Q,
                                                       uint8_t out[2 * GOSTR3410_2012_256_KEY_BYTES])
{
    if (!Q || !out) {
        zkc_diag_printf("GOSTR3410_2012_256_UnloadPublicKeyValue: bad params\n");
        return -2;
    }
    unload_public<GOSTR3410_2012_256_DIGITS>(*Q, out);
    return 0;
}

extern "C" int GOSTR3410_2012_512_UnloadPublicKeyValue(const GOSTR3410_2012_512_POINT *Q,
                                                       uint8_t out[2 * GOSTR3410_2012_512_KEY_BYTES])
{
    if (!Q || !out) {
        zkc_diag_printf("GOSTR3410_2012_512_UnloadPublicKeyValue: bad params\n");
        return -2;
    }
    unload_public<GOSTR3410_2012_512_DIGITS>(*Q, out);
    return 0;
}

extern "C" int ecCheckPuKey(const GOSTR3410_2012_256_PARAMS *params, const GOSTR3410_2012_256_POINT *Q)
{
    if (!params || !Q) {
        zkc_diag_printf("ecCheckPuKey: bad params\n");
        return -2;
    }
    return check_public<GOSTR3410_2012_256_DIGITS>(*params, *Q);
}

extern "C" int GOSTR3410_2012_512_CheckPublicKey(const GOSTR3410_2012_512_PARAMS *params,
                                                 const GOSTR3410_2012_512_POINT *Q)
{
    if (!params || !Q) {
        zkc_diag_printf("GOSTR3410_2012_512_CheckPublicKey: bad params\n");
        return -2;
    }
    return check_public<GOSTR3410_2012_512_DIGITS>(*params, *Q);
}

extern "C" int GOSTR3410_2012_256_GeneratePublicKey(const GOSTR3410_2012_256_PARAMS *params,
                                                    const DIGIT_T d[GOSTR3410_2012_256_DIGITS],
                                                    GOSTR3410_2012_256_POINT *Q)
{
    if (!params || !d || !Q) {
        zkc_diag_printf("ecGeneratePublicKey: bad params\n");
        return -2;
    }
    const int rc = generate_public<GOSTR3410_2012_256_DIGITS>(*params, d, *Q);
    if (rc != 0) {
        zkc_diag_printf("ecGeneratePublicKey: epMultPP failed\n");
        return rc;
    }
    return ecCheckPuKey(params, Q);
}

extern "C" int GOSTR3410_2012_512_GeneratePublicKey(const GOSTR3410_2012_512_PARAMS *params,
                                                    const DIGIT_T d[GOSTR3410_2012_512_DIGITS],
                                                    GOSTR3410_2012_512_POINT *Q)
{
    if (!params || !d || !Q) {
        zkc_diag_printf("GOSTR3410_2012_512_GeneratePublicKey: bad params\n");
        return -2;
    }
    const int rc = generate_public<GOSTR3410_2012_512_DIGITS>(*params, d, *Q);
    if (rc != 0) {
        zkc_diag_printf("GOSTR3410_2012_512_GeneratePublicKey: depMultPP failed\n");
        return rc;
    }
    return GOSTR3410_2012_512_CheckPublicKey(params, Q);
}
