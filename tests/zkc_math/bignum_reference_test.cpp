// Multiple-precision arithmetic compared with OpenSSL's BIGNUM on random
// operands (fixed seed). OpenSSL is used here only as the reference.
#include <gtest/gtest.h>

#include <openssl/bn.h>

#include <memory>
#include <random>
#include <vector>

#include "zkc_bignum.h"

namespace {

using Digits = std::vector<DIGIT_T>;
using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
using CtxPtr = std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)>;

BnPtr to_bn(const Digits &a)
{
    std::vector<uint8_t> bytes(a.size() * 4);
    mpConvToOctets(a.data(), a.size(), bytes.data(), bytes.size());
    return BnPtr(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr), BN_free);
}

Digits from_bn(const BIGNUM *b, size_t n)
{
    std::vector<uint8_t> bytes(n * 4);
    EXPECT_GE(BN_bn2binpad(b, bytes.data(), static_cast<int>(bytes.size())), 0);
    Digits d(n);
    mpConvFromOctets(d.data(), n, bytes.data(), bytes.size());
    return d;
}

// Random numbers with a random number of significant digits and, now and
// then, digits of all ones or zeros, which stress the carries and estimates.
class RandomDigits {
public:
    explicit RandomDigits(uint32_t seed) : gen_(seed) {}

    Digits make(size_t n, bool nonzero = false)
    {
        Digits d(n, 0);
        do {
            const size_t used = 1 + gen_() % n;
            for (size_t i = 0; i < used; ++i) {
                switch (gen_() % 8) {
                case 0: d[i] = 0xFFFFFFFFu; break;
                case 1: d[i] = 0; break;
                case 2: d[i] = gen_() % 4; break;
                default: d[i] = gen_(); break;
                }
            }
        } while (nonzero && mpIsZero(d.data(), n) == 1);
        return d;
    }
    uint32_t next() { return gen_(); }

private:
    std::mt19937 gen_;
};

TEST(BignumReference, MultiplyMatches)
{
    RandomDigits rnd(20261207);
    for (int iter = 0; iter < 500; ++iter) {
        const size_t n = 1 + rnd.next() % 20;
        const Digits u = rnd.make(n), v = rnd.make(n);
        Digits w(2 * n);
        mpMultiply(w.data(), u.data(), v.data(), n);
        CtxPtr ctx(BN_CTX_new(), BN_CTX_free);
        BnPtr want(BN_new(), BN_free);
        BN_mul(want.get(), to_bn(u).get(), to_bn(v).get(), ctx.get());
        ASSERT_EQ(w, from_bn(want.get(), 2 * n)) << "iteration " << iter;
    }
}

TEST(BignumReference, DivideAndModuloMatch)
{
    RandomDigits rnd(7091);
    for (int iter = 0; iter < 1000; ++iter) {
        const size_t nu = 1 + rnd.next() % 34;
        const size_t nv = 1 + rnd.next() % 17;
        const Digits u = rnd.make(nu), v = rnd.make(nv, true);
        Digits q(nu), r(nv);
        ASSERT_EQ(mpDivide(q.data(), r.data(), u.data(), nu, v.data(), nv), 0);
        CtxPtr ctx(BN_CTX_new(), BN_CTX_free);
        BnPtr bq(BN_new(), BN_free), br(BN_new(), BN_free);
        BN_div(bq.get(), br.get(), to_bn(u).get(), to_bn(v).get(), ctx.get());
        ASSERT_EQ(q, from_bn(bq.get(), nu)) << "iteration " << iter;
        ASSERT_EQ(r, from_bn(br.get(), nv)) << "iteration " << iter;

        Digits m(nv);
        ASSERT_EQ(mpModulo(m.data(), u.data(), nu, v.data(), nv), 0);
        ASSERT_EQ(m, r);
    }
}

TEST(BignumReference, ModularMultiplyAndInverseMatch)
{
    RandomDigits rnd(5832);
    int inverses = 0;
    for (int iter = 0; iter < 400; ++iter) {
        const size_t n = 1 + rnd.next() % 17;
        Digits m = rnd.make(n, true);
        m[0] |= (iter % 2) ? 1u : 0u;  // odd moduli have more inverses
        const Digits x = rnd.make(n), y = rnd.make(n);
        CtxPtr ctx(BN_CTX_new(), BN_CTX_free);
        const BnPtr bm = to_bn(m), bx = to_bn(x), by = to_bn(y);

        Digits prod(n);
        ASSERT_EQ(mpModMult(prod.data(), x.data(), y.data(), m.data(), n), 0);
        BnPtr want(BN_new(), BN_free);
        BN_mod_mul(want.get(), bx.get(), by.get(), bm.get(), ctx.get());
        ASSERT_EQ(prod, from_bn(want.get(), n)) << "iteration " << iter;

        Digits inv(n, 0xA5A5A5A5u);
        const int rc = mpModInv(inv.data(), x.data(), m.data(), n);
        BnPtr gcd(BN_new(), BN_free);
        BN_gcd(gcd.get(), bx.get(), bm.get(), ctx.get());
        if (BN_is_one(gcd.get()) && !BN_is_one(bm.get())) {
            ASSERT_EQ(rc, 0) << "iteration " << iter;
            BnPtr binv(BN_mod_inverse(nullptr, bx.get(), bm.get(), ctx.get()), BN_free);
            ASSERT_TRUE(binv);
            ASSERT_EQ(inv, from_bn(binv.get(), n)) << "iteration " << iter;
            ++inverses;
        } else if (!BN_is_one(gcd.get())) {
            ASSERT_NE(rc, 0) << "iteration " << iter;
            ASSERT_EQ(mpIsZero(inv.data(), n), 1);
        }
    }
    EXPECT_GT(inverses, 100);
}

TEST(BignumReference, ModularAddAndSubtractMatch)
{
    RandomDigits rnd(4357);
    for (int iter = 0; iter < 400; ++iter) {
        const size_t n = 1 + rnd.next() % 17;
        const Digits m = rnd.make(n, true), x = rnd.make(n), y = rnd.make(n);
        CtxPtr ctx(BN_CTX_new(), BN_CTX_free);
        const BnPtr bm = to_bn(m), bx = to_bn(x), by = to_bn(y);
        Digits r(n);
        BnPtr want(BN_new(), BN_free);
        ASSERT_EQ(mpModAdd(r.data(), x.data(), y.data(), m.data(), n), 0);
        BN_mod_add(want.get(), bx.get(), by.get(), bm.get(), ctx.get());
        ASSERT_EQ(r, from_bn(want.get(), n)) << "iteration " << iter;
        ASSERT_EQ(mpModSub(r.data(), x.data(), y.data(), m.data(), n), 0);
        BN_mod_sub(want.get(), bx.get(), by.get(), bm.get(), ctx.get());
        ASSERT_EQ(r, from_bn(want.get(), n)) << "iteration " << iter;
    }
}

}  // namespace
