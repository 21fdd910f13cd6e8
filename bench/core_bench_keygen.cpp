// Public-key generations per second on a 256-bit and a 512-bit production
// curve (fixed-base tables, Jacobian coordinates), next to OpenSSL's generic
// prime-curve multiplication on the same curves as the reference of the run.
#include <benchmark/benchmark.h>

#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstdint>
#include <vector>

#include "gostr3410_2012.h"

namespace {

// A fixed private key of n digits (the top digit stays zero).
template <size_t N> void fixed_key(DIGIT_T (&d)[N])
{
    uint32_t s = 0x9E3779B9u;
    for (size_t i = 0; i + 1 < N; ++i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        d[i] = s;
    }
    d[N - 1] = 0;
}

void BM_GostR3410_256_GeneratePublicKey(benchmark::State &state)
{
    DIGIT_T d[GOSTR3410_2012_256_DIGITS];
    fixed_key(d);
    GOSTR3410_2012_256_POINT q;
    for (auto _ : state) {
        if (GOSTR3410_2012_256_GeneratePublicKey(&gostr3410_2012_256_cryptopro_a, d, &q) != 0)
            state.SkipWithError("public-key generation failed");
        benchmark::DoNotOptimize(q);
    }
    state.counters["keys/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GostR3410_256_GeneratePublicKey)->Unit(benchmark::kMillisecond);

void BM_GostR3410_512_GeneratePublicKey(benchmark::State &state)
{
    DIGIT_T d[GOSTR3410_2012_512_DIGITS];
    fixed_key(d);
    GOSTR3410_2012_512_POINT q;
    for (auto _ : state) {
        if (GOSTR3410_2012_512_GeneratePublicKey(&gostr3410_2012_512_a, d, &q) != 0)
            state.SkipWithError("public-key generation failed");
        benchmark::DoNotOptimize(q);
    }
    state.counters["keys/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GostR3410_512_GeneratePublicKey)->Unit(benchmark::kMillisecond);

// The reference: OpenSSL's EC_POINT_mul with the generator of a curve built
// from the same record.
BIGNUM *to_bn(const DIGIT_T *v, size_t n)
{
    std::vector<uint8_t> be(n * 4);
    mpConvToOctets(v, n, be.data(), be.size());
    return BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr);
}

template <class Params> void openssl_keygen(benchmark::State &state, const Params &c, size_t n)
{
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *p = to_bn(c.p, n), *a = to_bn(c.a, n), *b = to_bn(c.b, n);
    BIGNUM *x = to_bn(c.x, n), *y = to_bn(c.y, n), *q = to_bn(c.q, n);
    EC_GROUP *group = EC_GROUP_new_curve_GFp(p, a, b, ctx);
    EC_POINT *g = EC_POINT_new(group);
    EC_POINT_set_affine_coordinates(group, g, x, y, ctx);
    EC_GROUP_set_generator(group, g, q, BN_value_one());
    DIGIT_T d[GOSTR3410_2012_512_DIGITS] = {};
    fixed_key(d);
    d[n - 1] = 0;
    BIGNUM *k = to_bn(d, n);
    EC_POINT *r = EC_POINT_new(group);
    BIGNUM *rx = BN_new(), *ry = BN_new();
    for (auto _ : state) {
        EC_POINT_mul(group, r, k, nullptr, nullptr, ctx);
        EC_POINT_get_affine_coordinates(group, r, rx, ry, ctx);
        benchmark::DoNotOptimize(rx);
    }
    state.counters["keys/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
    BN_free(rx);
    BN_free(ry);
    EC_POINT_free(r);
    EC_POINT_free(g);
    EC_GROUP_free(group);
    BN_CTX_free(ctx);
    for (BIGNUM *v : {p, a, b, x, y, q, k})
        BN_free(v);
}

void BM_OpenSSL_EC_256_GeneratorMul(benchmark::State &state)
{
    openssl_keygen(state, gostr3410_2012_256_cryptopro_a, GOSTR3410_2012_256_DIGITS);
}
BENCHMARK(BM_OpenSSL_EC_256_GeneratorMul)->Unit(benchmark::kMillisecond);

void BM_OpenSSL_EC_512_GeneratorMul(benchmark::State &state)
{
    openssl_keygen(state, gostr3410_2012_512_a, GOSTR3410_2012_512_DIGITS);
}
BENCHMARK(BM_OpenSSL_EC_512_GeneratorMul)->Unit(benchmark::kMillisecond);

}  // namespace
