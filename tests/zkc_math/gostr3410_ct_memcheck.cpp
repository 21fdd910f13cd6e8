// Run under valgrind's memcheck: private values, nonces and agreement scalars
// are marked undefined, so any branch or memory address that depends on them
// is reported (and fails the run). Only the released values (the public key,
// r and s, the range verdicts) are marked defined again by the core.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "gostr3410_2012.h"

namespace {

int secret_bytes(void *, uint8_t *buf, size_t len)
{
    for (size_t i = 0; i < len; ++i)
        buf[i] = (uint8_t)(0x5A ^ (37 * i));
    buf[len - 1] &= 0x3F;
    VALGRIND_MAKE_MEM_UNDEFINED(buf, len);
    return 1;
}

template <class Params, class Point, size_t N, class Load, class Gen, class Unload, class Mult, class Sign,
          class Verify, class Vko>
int run(const Params *c, Load load, Gen gen, Unload unload, Mult mult, Sign sign, Verify verify, Vko vko)
{
    uint8_t key[(N - 1) * 4];
    DIGIT_T d[N], k[N], e[N] = {0x1234}, ukm[N] = {7}, r[N], s[N];
    Point Q, R, K;
    secret_bytes(nullptr, key, sizeof key);
    int failures = load(key, d) != 0;
    failures += gen(c, d, &Q) != 0;                      // key generation
    uint8_t pub[2 * sizeof key];                         // its encoding, whatever the point
    VALGRIND_MAKE_MEM_UNDEFINED(&Q, sizeof Q);
    failures += unload(&Q, pub) != 0;
    VALGRIND_MAKE_MEM_DEFINED(&Q, sizeof Q);
    std::memcpy(k, d, sizeof k);
    failures += mult(&R, &Q, k, c) != 0;                  // variable base, secret scalar
    failures += sign(c, d, e, secret_bytes, nullptr, r, s) != 0;
    failures += verify(c, &Q, e, r, s) != 0;
    failures += vko(c, d, &Q, ukm, &K) != 0;
    return failures;
}

}  // namespace

int main()
{
    // A: field primes 2^w - c (folded products); B: Montgomery products.
    int failures = 0;
    for (const auto *c : {&gostr3410_2012_256_cryptopro_a, &gostr3410_2012_256_cryptopro_b})
        failures += run<GOSTR3410_2012_256_PARAMS, GOSTR3410_2012_256_POINT, 9>(
            c, GOSTR3410_2012_256_LoadPrivateKeyValue, GOSTR3410_2012_256_GeneratePublicKey,
            GOSTR3410_2012_256_UnloadPublicKeyValue, epMult,
            GOSTR3410_2012_256_Sign, GOSTR3410_2012_256_Verify, GOSTR3410_2012_256_Vko);
    for (const auto *c : {&gostr3410_2012_512_a, &gostr3410_2012_512_b})
        failures += run<GOSTR3410_2012_512_PARAMS, GOSTR3410_2012_512_POINT, 17>(
            c, GOSTR3410_2012_512_LoadPrivateKeyValue, GOSTR3410_2012_512_GeneratePublicKey,
            GOSTR3410_2012_512_UnloadPublicKeyValue, depMult,
            GOSTR3410_2012_512_Sign, GOSTR3410_2012_512_Verify, GOSTR3410_2012_512_Vko);
    std::printf("%d failures\n", failures);
    return failures != 0;
}
