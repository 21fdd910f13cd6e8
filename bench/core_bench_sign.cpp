// Signing and verification on the core's constant-time curve arithmetic
// (256-bit CryptoPro A, 512-bit TC26 A), next to OpenSSL's ECDSA on P-256 as
// the reference of the run. (Their timing against the secrets: dudect_bench.)
#define OPENSSL_SUPPRESS_DEPRECATED  // EC_KEY and ECDSA_sign: the plainest P-256 reference
#include <benchmark/benchmark.h>

#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>

#include <random>

#include "gostr3410_2012.h"

namespace {

int fixed_random(void *, uint8_t *buf, size_t len)
{
    static std::mt19937 rng(7);
    for (size_t i = 0; i < len; ++i)
        buf[i] = static_cast<uint8_t>(rng());
    return 1;
}

template <size_t N, class Params, class Point, class Gen, class Sign, class Verify>
void core_sign(benchmark::State &state, const Params &c, Gen gen, Sign sign, Verify verify, bool verifying)
{
    DIGIT_T d[N] = {0x12345678u, 0x9ABCDEF0u, 0x0FEDCBA9u, 0x87654321u}, e[N] = {0xCAFEBABEu, 0xDEADBEEFu};
    DIGIT_T r[N], s[N];
    Point Q;
    if (gen(&c, d, &Q) != 0 || sign(&c, d, e, fixed_random, nullptr, r, s) != 0)
        state.SkipWithError("set-up failed");
    for (auto _ : state) {
        const int rc = verifying ? verify(&c, &Q, e, r, s) : sign(&c, d, e, fixed_random, nullptr, r, s);
        if (rc != 0)
            state.SkipWithError("operation failed");
        benchmark::DoNotOptimize(r);
    }
    state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_GostR3410_256_Sign(benchmark::State &state)
{
    core_sign<GOSTR3410_2012_256_DIGITS, GOSTR3410_2012_256_PARAMS, GOSTR3410_2012_256_POINT>(
        state, gostr3410_2012_256_cryptopro_a, GOSTR3410_2012_256_GeneratePublicKey, GOSTR3410_2012_256_Sign,
        GOSTR3410_2012_256_Verify, state.range(0) != 0);
}
BENCHMARK(BM_GostR3410_256_Sign)->ArgName("verify")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_GostR3410_512_Sign(benchmark::State &state)
{
    core_sign<GOSTR3410_2012_512_DIGITS, GOSTR3410_2012_512_PARAMS, GOSTR3410_2012_512_POINT>(
        state, gostr3410_2012_512_a, GOSTR3410_2012_512_GeneratePublicKey, GOSTR3410_2012_512_Sign,
        GOSTR3410_2012_512_Verify, state.range(0) != 0);
}
BENCHMARK(BM_GostR3410_512_Sign)->ArgName("verify")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The reference: ECDSA on P-256 (OpenSSL's dedicated constant-time code).
void BM_OpenSSL_ECDSA_P256(benchmark::State &state)
{
    EC_KEY *key = EC_KEY_new_by_curve_name(NID_X9_62_prime256v1);
    unsigned char digest[32] = {1, 2, 3}, sig[80];
    unsigned int len = sizeof sig;
    if (!key || EC_KEY_generate_key(key) != 1 || ECDSA_sign(0, digest, 32, sig, &len, key) != 1)
        state.SkipWithError("set-up failed");
    for (auto _ : state) {
        unsigned int l = sizeof sig;
        const int rc = state.range(0) ? ECDSA_verify(0, digest, 32, sig, static_cast<int>(len), key)
                                      : ECDSA_sign(0, digest, 32, sig, &l, key);
        if (rc != 1)
            state.SkipWithError("operation failed");
    }
    state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    EC_KEY_free(key);
}
BENCHMARK(BM_OpenSSL_ECDSA_P256)->ArgName("verify")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
