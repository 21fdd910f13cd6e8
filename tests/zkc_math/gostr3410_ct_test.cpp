// The constant-time curve arithmetic against the affine double-and-add it
// replaced: the same public keys and products, the same signatures for the
// same nonce (each side verifying the other's), the same agreement points, the
// published 256-bit signature, and the refusals of out-of-range values.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "gostr3410_2012.h"
#include "gostr3410_2012_ct.h"
#include "gostr3410_2012_ec.h"
#include "gostr3410_2012_fp.h"
#include "gostr3410_2012_sizes.h"

namespace {

using namespace zkc::ec;

template <std::size_t N> using Api = zkc::GostR3410<N>;

template <std::size_t N> using Num = std::vector<DIGIT_T>;

// Nonce candidates handed out in turn, little-endian.
struct Candidates {
    std::vector<Num<0>> queue;
    static int next(void *self, uint8_t *buf, size_t len)
    {
        auto &q = static_cast<Candidates *>(self)->queue;
        if (q.empty())
            return 0;
        for (size_t i = 0; i < len; ++i)
            buf[i] = (uint8_t)(q.front()[i / 4] >> (8 * (i % 4)));
        q.erase(q.begin());
        return 1;
    }
};

// 1, 2, q-1, q-2, long runs of zeros and ones, and random values, all below q.
template <std::size_t N> std::vector<Num<N>> scalars(const DIGIT_T *q, std::mt19937 &rng)
{
    std::vector<Num<N>> out(8, Num<N>(N, 0));
    out[0][0] = 1;
    out[1][0] = 2;
    mpShortSub(out[2].data(), q, 1, N);
    mpShortSub(out[3].data(), q, 2, N);
    out[4][0] = 0xFFFFu;                       // upper three quarters zero
    for (size_t i = 0; i < N - 1; ++i) {
        out[5][i] = i < (N - 1) / 2 ? 0 : q[i] >> 1;   // high half of ones-ish, low half zero
        out[6][i] = i % 2 ? 0 : 0xFFFFFFFFu;            // alternating 32-bit runs
        for (size_t j = 7; j < 8; ++j)
            out[j][i] = rng();
    }
    for (size_t j = 5; j < 8; ++j)
        mpModulo(out[j].data(), out[j].data(), N, q, N);
    return out;
}

template <std::size_t N> typename Curve<N>::Point oracle_mult(const typename Curve<N>::Params &c, const DIGIT_T *k,
                                                              const typename Curve<N>::Point *P = nullptr)
{
    typename Curve<N>::Point G, R;
    mpSetEqual(G.x, c.x, N);
    mpSetEqual(G.y, c.y, N);
    affine_mult<N>(R, P ? *P : G, k, c.a, c.p);
    return R;
}

template <std::size_t N> bool same(const typename Curve<N>::Point &A, const typename Curve<N>::Point &B)
{
    return mpEqual(A.x, B.x, N) == 1 && mpEqual(A.y, B.y, N) == 1;
}

// Verification by the affine arithmetic: x(s/e G - r/e Q) mod q = r.
template <std::size_t N> bool oracle_verify(const typename Curve<N>::Params &c, const typename Curve<N>::Point &Q,
                                            const DIGIT_T *e, const DIGIT_T *r, const DIGIT_T *s)
{
    DIGIT_T v[N], z1[N], z2[N], x[N];
    mpModInv(v, e, c.q, N);
    mpModMult(z1, s, v, c.q, N);
    mpModMult(z2, r, v, c.q, N);
    mpSubtract(z2, c.q, z2, N);
    typename Curve<N>::Point A = oracle_mult<N>(c, z1), B = oracle_mult<N>(c, z2, &Q);
    affine_add<N>(A, A, B, c.a, c.p);
    mpModulo(x, A.x, N, c.q, N);
    return mpEqual(x, r, N) == 1;
}

template <std::size_t N> void agrees_with_the_affine_arithmetic()
{
    std::mt19937 rng(N);
    for (size_t ci = 0; Api<N>::get(ci); ++ci) {
        const auto &c = *Api<N>::get(ci);
        SCOPED_TRACE(c.name);
        const auto ks = scalars<N>(c.q, rng);
        const typename Curve<N>::Params *found = nullptr;
        ASSERT_EQ(Api<N>::find(c.der, c.der_len, &found), 0);
        ASSERT_EQ(found, &c);
        // The cofactor: 4 on the twisted Edwards curves (q shorter than p).
        Num<N> h(N, 0);
        h[0] = mpBitLength(c.q, N) < mpBitLength(c.p, N) ? 4 : 1;
        Num<N> e(N, 0), r(N), s(N), ukm(N, 0), t(N), er(N), sr(N);
        for (size_t i = 0; i < ks.size(); ++i) {
            const Num<N> &d = ks[i], &k = ks[(i + 3) % ks.size()];
            typename Curve<N>::Point Q, Qk, Pk, K1, K2;
            ASSERT_EQ(Api<N>::generate(&c, d.data(), &Q), 0);
            ASSERT_TRUE(same<N>(Q, oracle_mult<N>(c, d.data())));
            ASSERT_EQ(Api<N>::mult(&Qk, &Q, k.data(), &c), 0);
            ASSERT_TRUE(same<N>(Qk, oracle_mult<N>(c, k.data(), &Q)));
            // Signing with nonce k after two refused candidates (0 and all ones).
            e[0] = rng();
            // A nonce giving r = 0 (k = 1 on a curve whose base point has x = 0)
            // is refused too, which leaves no candidate.
            Candidates cand{{Num<0>(N, 0), Num<0>(N, 0xFFFFFFFFu), Num<0>(k.begin(), k.end())}};
            const auto C = oracle_mult<N>(c, k.data());
            mpModulo(er.data(), C.x, N, c.q, N);
            const bool r_zero = mpIsZero(er.data(), N) == 1;
            ASSERT_EQ(Api<N>::sign(&c, d.data(), e.data(), Candidates::next, &cand, r.data(), s.data()), r_zero ? -2 : 0);
            if (r_zero)
                continue;
            mpModMult(t.data(), er.data(), d.data(), c.q, N);
            mpModMult(sr.data(), k.data(), e.data(), c.q, N);
            mpModAdd(sr.data(), sr.data(), t.data(), c.q, N);
            EXPECT_EQ(r, er);
            EXPECT_EQ(s, sr);
            EXPECT_TRUE(oracle_verify<N>(c, Q, e.data(), r.data(), s.data()));
            EXPECT_EQ(Api<N>::verify(&c, &Q, e.data(), r.data(), s.data()), 0);
            mpShortAdd(s.data(), s.data(), 1, N);
            EXPECT_EQ(Api<N>::verify(&c, &Q, e.data(), r.data(), s.data()), -1);
            // Agreement: both sides reach (UKM d k mod q) G.
            ukm[0] = rng() | 1u;
            ASSERT_EQ(Api<N>::generate(&c, k.data(), &Pk), 0);
            ASSERT_EQ(Api<N>::vko(&c, d.data(), &Pk, ukm.data(), &K1), 0);
            ASSERT_EQ(Api<N>::vko(&c, k.data(), &Q, ukm.data(), &K2), 0);
            mpModMult(t.data(), ukm.data(), d.data(), c.q, N);
            mpModMult(t.data(), t.data(), h.data(), c.q, N);
            EXPECT_TRUE(same<N>(K1, K2));
            EXPECT_TRUE(same<N>(K1, oracle_mult<N>(c, t.data(), &Pk)));
        }
        // Refusals: a private value of 0 or q, a UKM of q, r = 0.
        Num<N> zero(N, 0), q(c.q, c.q + N);
        typename Curve<N>::Point G = oracle_mult<N>(c, ks[0].data()), K;
        Candidates none;
        EXPECT_EQ(Api<N>::sign(&c, zero.data(), e.data(), Candidates::next, &none, r.data(), s.data()), -1);
        EXPECT_EQ(Api<N>::sign(&c, q.data(), e.data(), Candidates::next, &none, r.data(), s.data()), -1);
        EXPECT_EQ(Api<N>::sign(&c, ks[0].data(), e.data(), Candidates::next, &none, r.data(), s.data()), -2);
        EXPECT_EQ(Api<N>::vko(&c, q.data(), &G, ukm.data(), &K), -1);
        EXPECT_EQ(Api<N>::vko(&c, ks[0].data(), &G, q.data(), &K), -1);
        EXPECT_EQ(Api<N>::verify(&c, &G, e.data(), zero.data(), s.data()), -1);
    }
}

TEST(ConstantTimeCurves, AgreeWithTheAffineArithmetic256)
{
    agrees_with_the_affine_arithmetic<9>();
    // The RFC 7836 sets follow the others and stay out of the classic lookup.
    const GOSTR3410_2012_256_PARAMS *c = nullptr;
    EXPECT_EQ(GOSTR3410_2012_256_GetCurve(6), &gostr3410_2012_256_tc26_a);
    EXPECT_EQ(GOSTR3410_2012_512_GetCurve(3), &gostr3410_2012_512_tc26_c);
    EXPECT_EQ(GOSTR3410_2012_256_FindParByDerOid(gostr3410_2012_256_tc26_a.der, 11, &c), -1);
}
TEST(ConstantTimeCurves, AgreeWithTheAffineArithmetic512) { agrees_with_the_affine_arithmetic<17>(); }

// The fixed-base rows (constant and variable time) and the variable-time
// multipliers (k P, k G + k P, and k2 G + k P through P's tables) against the windowed constant-time multiplier, on every curve:
// scalars 0, 1, q-1, q, 2^(64 L)-1 (the carry digit), a full N-digit value
// (reduced mod q first) and random ones, on G and on another point.
template <std::size_t N> void public_paths_agree()
{
    constexpr std::size_t L = kLimbs<N>;
    std::mt19937 rng(N + 1);
    for (size_t ci = 0; Api<N>::get(ci); ++ci) {
        const auto ctx = curve_ctx<N>(*Api<N>::get(ci));
        SCOPED_TRACE(Api<N>::get(ci)->name);
        std::vector<Num<N>> ks(7, Num<N>(N, 0));
        ks[1][0] = 1;
        mpShortSub(ks[2].data(), Api<N>::get(ci)->q, 1, N);
        mpSetEqual(ks[6].data(), Api<N>::get(ci)->q, N);  // infinity
        for (size_t i = 0; i < N; ++i) {
            ks[3][i] = i + 1 < N ? 0xFFFFFFFFu : 0;
            ks[4][i] = ks[5][i] = rng();
        }
        ks[5][N - 1] = 0;
        Proj<L> P, R, want;
        ctx->mult(P, ctx->G, ks[5].data());
        for (const auto &k : ks) {
            const Fe<L> kf = fe_from_digits<L>(k.data());
            typename Curve<N>::Point a, b;
            auto agree = [&](const Proj<L> &got, const char *what) {
                ctx->unload(a, got);
                ctx->unload(b, want);
                EXPECT_TRUE(same<N>(a, b)) << what << " k[0]=" << k[0];
            };
            ctx->mult(want, ctx->G, k.data());
            ctx->base_mult(R, k.data());
            agree(R, "base_mult");
            if (k[N - 1] != 0)
                continue;  // the paths below take scalars below 2^(64 L)
            ctx->public_base_mult(R, kf);
            agree(R, "public_base_mult");
            ctx->public_mult(R, ctx->G, kf);
            agree(R, "public_mult G");
            ctx->mult(want, P, k.data());
            ctx->public_mult(R, P, kf);
            agree(R, "public_mult P");
            Proj<L> kG;
            ctx->mult(kG, ctx->G, k.data());
            ctx->add(want, want, kG);
            ctx->public_mult2(R, &kf, P, kf);
            agree(R, "public_mult2");
            // kg G + k P with a kg of its own: plain, then P's tables built, then reused.
            const Num<N> &k2 = ks[(&k - ks.data() + 1) % ks.size()];
            if (k2[N - 1] != 0)
                continue;
            ctx->mult(want, P, k.data());
            ctx->mult(kG, ctx->G, k2.data());
            ctx->add(want, want, kG);
            for (int round = 0; round < 3; ++round) {
                ctx->public_verify_mult(R, fe_from_digits<L>(k2.data()), P, kf);
                agree(R, "public_verify_mult");
            }
        }
    }
}

TEST(ConstantTimeCurves, PublicPathsAgreeWithTheConstantTimeOnes)
{
    public_paths_agree<9>();
    public_paths_agree<17>();
}

// Field products at the edges (0, 1, 2, p-1, p-2, p-32, 2^(w-1), 2^(w/2) - 1,
// (p-1)/2; (p-32)^2 makes the folding carry twice) agree with the long-division reference, on every field prime: those
// of the form 2^w - c (folded) and the others (Montgomery); so do the inverses.
template <std::size_t N> void field_products_agree()
{
    constexpr std::size_t L = (N - 1) / 2;
    for (size_t ci = 0; Api<N>::get(ci); ++ci) {
        const DIGIT_T *p = Api<N>::get(ci)->p;
        const Modulus<L> f(p);
        std::vector<Num<N>> v(9, Num<N>(N, 0));
        mpShortSub(v[8].data(), p, 32, N);
        v[1][0] = 1;
        v[2][0] = 2;
        mpShortSub(v[3].data(), p, 1, N);
        mpShortSub(v[4].data(), p, 2, N);
        v[5][N - 2] = 0x80000000u;
        for (size_t i = 0; i < (N - 1) / 2; ++i)
            v[6][i] = 0xFFFFFFFFu;
        mpShiftRight(v[7].data(), v[3].data(), 1, N);
        for (const auto &x : v)
            for (const auto &y : v) {
                Fe<L> a, b, r;
                f.to_mont(a, fe_from_digits<L>(x.data()));
                f.to_mont(b, fe_from_digits<L>(y.data()));
                f.mul(r, a, b);
                f.from_mont(r, r);
                Num<N> got(N), want(N);
                fe_to_digits<L>(got.data(), N, r);
                mpModMult(want.data(), x.data(), y.data(), p, N);
                ASSERT_EQ(got, want) << Api<N>::get(ci)->name;
            }
        // The variable-time inverse: x x^-1 = 1 (0 gives 0).
        for (const auto &x : v) {
            Fe<L> inv;
            f.inv_public(inv, fe_from_digits<L>(x.data()));
            Num<N> got(N), one(N, 0);
            fe_to_digits<L>(got.data(), N, inv);
            mpModMult(got.data(), got.data(), x.data(), p, N);
            one[0] = mpIsZero(x.data(), N) ? 0 : 1;
            ASSERT_EQ(got, one) << Api<N>::get(ci)->name;
        }
    }
}

TEST(ConstantTimeCurves, FieldProductsAgreeAtTheEdges)
{
    field_products_agree<9>();
    field_products_agree<17>();
}

// RFC 5832 / RFC 7091, 7.1: d, e and k on the test curve give the printed (r, s).
TEST(ConstantTimeCurves, ReproducesThePublishedSignature)
{
    auto num = [](const char *hex) {
        Num<9> n(9, 0);
        for (int i = 0; i < 64; ++i)
            n[(63 - i) / 8] |= (DIGIT_T)std::stoul(std::string(1, hex[i]), nullptr, 16) << (4 * ((63 - i) % 8));
        return n;
    };
    const auto d = num("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28");
    const auto e = num("2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5");
    Candidates k{{num("77105C9B20BCD3122823C8CF6FCC7B956DE33814E95B7FE64FED924594DCEAB3")}};
    Num<9> r(9), s(9);
    ASSERT_EQ(GOSTR3410_2012_256_Sign(&gostr3410_2012_256_test, d.data(), e.data(), Candidates::next, &k, r.data(),
                                      s.data()),
              0);
    EXPECT_EQ(r, num("41AA28D2F1AB148280CD9ED56FEDA41974053554A42767B83AD043FD39DC0493"));
    EXPECT_EQ(s, num("01456C64BA4642A1653C235A98A60249BCD6D3F746B631DF928014F6C5BF9C40"));
}

}  // namespace
