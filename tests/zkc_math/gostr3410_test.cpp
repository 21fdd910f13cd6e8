// GOST R 34.10 curve core: curve invariants, published key pairs, the
// public-key checks, lookups and the codes and messages of the interface.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gostr3410_2012.h"
#include "zkc_diag.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Collects what the core writes to its diagnostic stream.
class DiagCapture {
public:
    DiagCapture() : file_(std::tmpfile()) { previous_ = zkc_diag_set_stream(file_); }
    ~DiagCapture()
    {
        zkc_diag_set_stream(previous_);
        std::fclose(file_);
    }
    std::string text()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        int c;
        while ((c = std::fgetc(file_)) != EOF)
            out += static_cast<char>(c);
        return out;
    }

private:
    FILE *file_;
    FILE *previous_;
};

// The little-endian byte string of a number printed most significant first.
Bytes le_bytes(const std::string &hex, size_t n)
{
    Bytes out(n, 0);
    size_t k = 0;
    for (size_t i = hex.size(); i >= 2 && k < n; i -= 2)
        out[k++] = static_cast<uint8_t>(std::stoul(hex.substr(i - 2, 2), nullptr, 16));
    return out;
}

GOSTR3410_2012_256_POINT base_of(const GOSTR3410_2012_256_PARAMS &c)
{
    GOSTR3410_2012_256_POINT g;
    mpSetEqual(g.x, c.x, 9);
    mpSetEqual(g.y, c.y, 9);
    return g;
}
GOSTR3410_2012_512_POINT base_of(const GOSTR3410_2012_512_PARAMS &c)
{
    GOSTR3410_2012_512_POINT g;
    mpSetEqual(g.x, c.x, 17);
    mpSetEqual(g.y, c.y, 17);
    return g;
}

std::vector<const GOSTR3410_2012_256_PARAMS *> curves256()
{
    std::vector<const GOSTR3410_2012_256_PARAMS *> v;
    for (size_t i = 0; GOSTR3410_2012_256_GetParSet(i); ++i)
        v.push_back(GOSTR3410_2012_256_GetParSet(i));
    return v;
}
std::vector<const GOSTR3410_2012_512_PARAMS *> curves512()
{
    std::vector<const GOSTR3410_2012_512_PARAMS *> v;
    for (size_t i = 0; GOSTR3410_2012_512_GetParSet(i); ++i)
        v.push_back(GOSTR3410_2012_512_GetParSet(i));
    return v;
}

bool is_infinity(const GOSTR3410_2012_256_POINT &P)
{
    return mpIsZero(P.x, 9) == 1 && mpIsZero(P.y, 9) == 1;
}
bool is_infinity(const GOSTR3410_2012_512_POINT &P)
{
    return mpIsZero(P.x, 17) == 1 && mpIsZero(P.y, 17) == 1;
}
bool same(const GOSTR3410_2012_256_POINT &a, const GOSTR3410_2012_256_POINT &b)
{
    return mpEqual(a.x, b.x, 9) == 1 && mpEqual(a.y, b.y, 9) == 1;
}
bool same(const GOSTR3410_2012_512_POINT &a, const GOSTR3410_2012_512_POINT &b)
{
    return mpEqual(a.x, b.x, 17) == 1 && mpEqual(a.y, b.y, 17) == 1;
}

// ---------------------------------------------------------------------------

TEST(CurveTable, NineCurvesInTableOrderWithTheirNames)
{
    const auto c256 = curves256();
    const auto c512 = curves512();
    ASSERT_EQ(c256.size(), 6u);
    ASSERT_EQ(c512.size(), 3u);
    EXPECT_STREQ(c256[0]->name, "id-tc26-gost-3410-2012-256-paramSetTest");
    EXPECT_STREQ(c256[0]->name_2001, "id-GostR3410-2001-TestParamSet");
    EXPECT_STREQ(c256[4]->name, "id-tc26-gost-3410-2012-256-paramSetXchA");
    EXPECT_STREQ(c256[4]->name_2001, "id-GostR3410-2001-CryptoPro-XchA-ParamSet");
    EXPECT_STREQ(c256[5]->oid, "1.2.643.2.2.36.1");
    EXPECT_STREQ(c512[2]->name, "id-tc26-gost-3410-2012-512-paramSetB");
    EXPECT_STREQ(c512[1]->oid, "1.2.643.7.1.2.1.2.1");
    for (const auto *c : c256) {
        EXPECT_EQ(c->der_len, c->der_len_2001);
        EXPECT_STREQ(c->oid, c->oid_2001);
    }
    // Only the two test curves go without tables.
    EXPECT_EQ(c256[0]->precomputed, 0);
    EXPECT_EQ(c512[0]->precomputed, 0);
    for (size_t i = 1; i < c256.size(); ++i)
        EXPECT_EQ(c256[i]->precomputed, 1);
    for (size_t i = 1; i < c512.size(); ++i)
        EXPECT_EQ(c512[i]->precomputed, 1);
}

TEST(CurveTable, EveryBasePointIsOnItsCurveWithOrderQ)
{
    for (const auto *c : curves256()) {
        const auto g = base_of(*c);
        EXPECT_EQ(ecCheckPuKey(c, &g), 0) << c->name;
        GOSTR3410_2012_256_POINT r;
        ASSERT_EQ(epMult(&r, &g, c->q, c), 0);
        EXPECT_TRUE(is_infinity(r)) << c->name;
    }
    for (const auto *c : curves512()) {
        const auto g = base_of(*c);
        EXPECT_EQ(GOSTR3410_2012_512_CheckPublicKey(c, &g), 0) << c->name;
        GOSTR3410_2012_512_POINT r;
        ASSERT_EQ(depMult(&r, &g, c->q, c), 0);
        EXPECT_TRUE(is_infinity(r)) << c->name;
    }
}

// Point k+1 is point k doubled four times; point 0 is the base point.
template <class Params, class Point, class Add>
void check_table(const Params &c, size_t count, Point base, Add add)
{
    ASSERT_TRUE(same(c.points[0], base)) << c.name;
    Point t = base;
    for (size_t k = 1; k < count; ++k) {
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(add(&t, &t, &t, &c), 0);
        ASSERT_TRUE(same(c.points[k], t)) << c.name << " point " << k;
    }
}

TEST(CurveTable, PrecomputedPointKIsSixteenToTheKTimesTheBase)
{
    for (const auto *c : curves256())
        if (c->precomputed)
            check_table(*c, GOSTR3410_2012_256_PRECOMP_POINTS, base_of(*c),
                        GOSTR3410_2012_256_AddPoints);
    for (const auto *c : curves512())
        if (c->precomputed)
            check_table(*c, GOSTR3410_2012_512_PRECOMP_POINTS, base_of(*c), GOSTR3410_2012_512_AddPoints);
}

// ---------------------------------------------------------------------------

TEST(PublicKey, ReproducesTheRfc5832And7091KeyPair)
{
    const Bytes priv = le_bytes("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28", 32);
    Bytes want = le_bytes("7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B", 32);
    const Bytes y = le_bytes("26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA", 32);
    want.insert(want.end(), y.begin(), y.end());

    static const uint8_t kTestDer[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x00};
    const GOSTR3410_2012_256_PARAMS *c = nullptr;
    ASSERT_EQ(GOSTR3410_2012_256_FindParByDerOid(kTestDer, sizeof kTestDer, &c), 0);
    DIGIT_T d[9];
    ASSERT_EQ(GOSTR3410_2012_256_LoadPrivateKeyValue(priv.data(), d), 0);
    GOSTR3410_2012_256_POINT q;
    ASSERT_EQ(GOSTR3410_2012_256_GeneratePublicKey(c, d, &q), 0);
    Bytes out(64);
    ASSERT_EQ(GOSTR3410_2012_256_UnloadPublicKeyValue(&q, out.data()), 0);
    EXPECT_EQ(out, want);
}

TEST(PublicKey, ReproducesThe512BitTestCurveKeyPair)
{
    const Bytes priv = le_bytes("0BA6048AADAE241BA40936D47756D7C93091A0E8514669700EE7508E508B1020"
                                "72E8123B2200A0563322DAD2827E2714A2636B7BFD18AADFC62967821FA18DD4",
                                64);
    Bytes want = le_bytes("115DC5BC96760C7B48598D8AB9E740D4C4A85A65BE33C1815B5C320C854621DD"
                          "5A515856D13314AF69BC5B924C8B4DDFF75C45415C1D9DD9DD33612CD530EFE1",
                          64);
    const Bytes y = le_bytes("37C7C90CD40B0F5621DC3AC1B751CFA0E2634FA0503B3D52639F5D7FB72AFD61"
                             "EA199441D943FFE7F0C70A2759A3CDB84C114E1F9339FDF27F35ECA93677BEEC",
                             64);
    want.insert(want.end(), y.begin(), y.end());

    static const uint8_t kTestDer[] = {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x00};
    const GOSTR3410_2012_512_PARAMS *c = nullptr;
    ASSERT_EQ(GOSTR3410_2012_512_FindParByDerOid(kTestDer, sizeof kTestDer, &c), 0);
    DIGIT_T d[17];
    ASSERT_EQ(GOSTR3410_2012_512_LoadPrivateKeyValue(priv.data(), d), 0);
    GOSTR3410_2012_512_POINT q;
    ASSERT_EQ(GOSTR3410_2012_512_GeneratePublicKey(c, d, &q), 0);
    Bytes out(128);
    ASSERT_EQ(GOSTR3410_2012_512_UnloadPublicKeyValue(&q, out.data()), 0);
    EXPECT_EQ(out, want);
}

// The fixed-base method (Jacobian, tables) against OpenSSL's EC arithmetic on
// every production curve, random scalars with a fixed seed.
template <class Params, class Point, class Gen>
void compare_with_openssl(const Params &c, size_t digits, Gen generate, std::mt19937 &rng)
{
    using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
    auto bn = [digits](const DIGIT_T *v) {
        Bytes be(digits * 4);
        mpConvToOctets(v, digits, be.data(), be.size());
        return BnPtr(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr), BN_free);
    };
    BN_CTX *ctx = BN_CTX_new();
    EC_GROUP *group = EC_GROUP_new_curve_GFp(bn(c.p).get(), bn(c.a).get(), bn(c.b).get(), ctx);
    ASSERT_NE(group, nullptr);
    EC_POINT *g = EC_POINT_new(group);
    EC_POINT *r = EC_POINT_new(group);
    ASSERT_EQ(EC_POINT_set_affine_coordinates(group, g, bn(c.x).get(), bn(c.y).get(), ctx), 1);
    for (int iter = 0; iter < 6; ++iter) {
        DIGIT_T d[17] = {};
        for (size_t i = 0; i + 1 < digits; ++i)
            d[i] = rng();
        if (iter == 0)  // all nibbles 15: every table point in the last round
            for (size_t i = 0; i + 1 < digits; ++i)
                d[i] = 0xFFFFFFFFu;
        Point q;
        ASSERT_EQ(generate(&c, d, &q), 0) << c.name;
        ASSERT_EQ(EC_POINT_mul(group, r, nullptr, g, bn(d).get(), ctx), 1);
        BnPtr x(BN_new(), BN_free), y(BN_new(), BN_free);
        ASSERT_EQ(EC_POINT_get_affine_coordinates(group, r, x.get(), y.get(), ctx), 1);
        EXPECT_EQ(BN_cmp(bn(q.x).get(), x.get()), 0) << c.name << " iteration " << iter;
        EXPECT_EQ(BN_cmp(bn(q.y).get(), y.get()), 0) << c.name << " iteration " << iter;
    }
    EC_POINT_free(r);
    EC_POINT_free(g);
    EC_GROUP_free(group);
    BN_CTX_free(ctx);
}

TEST(PublicKey, FixedBaseMatchesAnIndependentImplementation)
{
    std::mt19937 rng(34102012);
    for (const auto *c : curves256())
        if (c->precomputed)
            compare_with_openssl<GOSTR3410_2012_256_PARAMS, GOSTR3410_2012_256_POINT>(
                *c, 9, GOSTR3410_2012_256_GeneratePublicKey, rng);
    for (const auto *c : curves512())
        if (c->precomputed)
            compare_with_openssl<GOSTR3410_2012_512_PARAMS, GOSTR3410_2012_512_POINT>(
                *c, 17, GOSTR3410_2012_512_GeneratePublicKey, rng);
}

TEST(PublicKey, FixedBaseAgreesWithDoubleAndAdd)
{
    std::mt19937 rng(7836);
    const GOSTR3410_2012_256_PARAMS *c = &gostr3410_2012_256_cryptopro_b;
    const auto g = base_of(*c);
    for (int iter = 0; iter < 4; ++iter) {
        DIGIT_T d[9] = {};
        for (int i = 0; i < 8; ++i)
            d[i] = rng();
        GOSTR3410_2012_256_POINT fixed, affine;
        ASSERT_EQ(GOSTR3410_2012_256_GeneratePublicKey(c, d, &fixed), 0);
        ASSERT_EQ(epMult(&affine, &g, d, c), 0);
        EXPECT_TRUE(same(fixed, affine)) << "iteration " << iter;
    }
    // Small scalars: 1 gives the base point, 16 the table's second point.
    DIGIT_T one[9] = {1};
    GOSTR3410_2012_256_POINT q;
    ASSERT_EQ(GOSTR3410_2012_256_GeneratePublicKey(c, one, &q), 0);
    EXPECT_TRUE(same(q, g));
    DIGIT_T sixteen[9] = {16};
    ASSERT_EQ(GOSTR3410_2012_256_GeneratePublicKey(c, sixteen, &q), 0);
    EXPECT_TRUE(same(q, c->points[1]));
}

TEST(PublicKey, ChangedYFailsTheCheck)
{
    DiagCapture diag;
    auto g = base_of(gostr3410_2012_256_cryptopro_a);
    mpShortAdd(g.y, g.y, 1, 9);
    EXPECT_EQ(ecCheckPuKey(&gostr3410_2012_256_cryptopro_a, &g), -1);
    auto h = base_of(gostr3410_2012_512_a);
    mpShortAdd(h.y, h.y, 1, 17);
    EXPECT_EQ(GOSTR3410_2012_512_CheckPublicKey(&gostr3410_2012_512_a, &h), -1);
    EXPECT_EQ(diag.text(), "Invalid public key\nInvalid public key\n");
}

TEST(PublicKey, CoordinatesAtOrAboveTheFieldPrimeAreRejected)
{
    // (x + p, y) satisfies the equation mod p but is not a canonical point.
    const GOSTR3410_2012_256_PARAMS &c = gostr3410_2012_256_test;
    auto g = base_of(c);
    mpAdd(g.x, g.x, c.p, 9);
    EXPECT_EQ(ecCheckPuKey(&c, &g), -1);
}

TEST(PublicKey, ZeroPrivateKeyIsRejected)
{
    DiagCapture diag;
    DIGIT_T d256[9] = {};
    DIGIT_T d512[17] = {};
    GOSTR3410_2012_256_POINT q256;
    GOSTR3410_2012_512_POINT q512;
    EXPECT_EQ(GOSTR3410_2012_256_GeneratePublicKey(&gostr3410_2012_256_cryptopro_a, d256, &q256), -1);
    EXPECT_TRUE(is_infinity(q256));
    EXPECT_EQ(GOSTR3410_2012_256_GeneratePublicKey(&gostr3410_2012_256_test, d256, &q256), -1);
    EXPECT_EQ(GOSTR3410_2012_512_GeneratePublicKey(&gostr3410_2012_512_b, d512, &q512), -1);
    EXPECT_EQ(GOSTR3410_2012_512_GeneratePublicKey(&gostr3410_2012_512_test, d512, &q512), -1);
    EXPECT_EQ(diag.text(), "Invalid public key\nInvalid public key\nInvalid public key\nInvalid public key\n");
}

TEST(PointArithmetic, PointPlusItsNegativeIsInfinity)
{
    const GOSTR3410_2012_256_PARAMS &c = gostr3410_2012_256_cryptopro_c;
    auto g = base_of(c);
    auto neg = g;
    mpSubtract(neg.y, c.p, g.y, 9);
    GOSTR3410_2012_256_POINT r;
    ASSERT_EQ(GOSTR3410_2012_256_AddPoints(&r, &g, &neg, &c), 0);
    EXPECT_TRUE(is_infinity(r));

    const GOSTR3410_2012_512_PARAMS &c5 = gostr3410_2012_512_a;
    auto h = c5.points[5];
    auto hneg = h;
    mpSubtract(hneg.y, c5.p, h.y, 17);
    GOSTR3410_2012_512_POINT r5;
    ASSERT_EQ(GOSTR3410_2012_512_AddPoints(&r5, &h, &hneg, &c5), 0);
    EXPECT_TRUE(is_infinity(r5));
    // And infinity is the neutral element.
    ASSERT_EQ(GOSTR3410_2012_512_AddPoints(&r5, &r5, &h, &c5), 0);
    EXPECT_TRUE(same(r5, h));
}

TEST(PointArithmetic, CoordinatesAreTakenModP)
{
    const GOSTR3410_2012_256_PARAMS &c = gostr3410_2012_256_cryptopro_a;
    const auto g = base_of(c);
    auto wide = g;
    mpAdd(wide.y, wide.y, c.p, 9);  // spills into the spare top digit
    ASSERT_EQ(wide.y[8], 1u);
    GOSTR3410_2012_256_POINT twice, want;
    ASSERT_EQ(GOSTR3410_2012_256_AddPoints(&twice, &wide, &g, &c), 0);
    ASSERT_EQ(GOSTR3410_2012_256_AddPoints(&want, &g, &g, &c), 0);
    EXPECT_TRUE(same(twice, want));
    DIGIT_T two[9] = {2};
    ASSERT_EQ(epMult(&twice, &wide, two, &c), 0);
    EXPECT_TRUE(same(twice, want));
}

TEST(PointArithmetic, ScalarIsTakenByAbsoluteValueAndZeroGivesInfinity)
{
    const GOSTR3410_2012_256_PARAMS &c = gostr3410_2012_256_test;
    const auto g = base_of(c);
    DIGIT_T three[9] = {3}, minus_three[9];
    mpNegate(minus_three, three, 9);
    GOSTR3410_2012_256_POINT a, b;
    ASSERT_EQ(epMult(&a, &g, three, &c), 0);
    ASSERT_EQ(epMult(&b, &g, minus_three, &c), 0);
    EXPECT_TRUE(same(a, b));
    DIGIT_T zero[9] = {};
    ASSERT_EQ(epMult(&a, &g, zero, &c), 0);
    EXPECT_TRUE(is_infinity(a));
    GOSTR3410_2012_256_POINT inf = {};
    ASSERT_EQ(epMult(&a, &inf, three, &c), 0);
    EXPECT_TRUE(is_infinity(a));
}

// ---------------------------------------------------------------------------

TEST(CurveLookup, ByDerOid)
{
    const uint8_t xcha[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x00};
    const GOSTR3410_2012_256_PARAMS *c = nullptr;
    ASSERT_EQ(GOSTR3410_2012_256_FindParByDerOid(xcha, sizeof xcha, &c), 0);
    EXPECT_EQ(c, &gostr3410_2012_256_cryptopro_xcha);
    EXPECT_EQ(mpEqual(c->p, gostr3410_2012_256_cryptopro_a.p, 9), 1);
    EXPECT_EQ(mpEqual(c->b, gostr3410_2012_256_cryptopro_a.b, 9), 1);
    EXPECT_EQ(mpEqual(c->y, gostr3410_2012_256_cryptopro_a.y, 9), 1);

    // 1.2.643.7.1.2.1.1.1 (TC26 256-bit set A) is not a built-in curve.
    const uint8_t tc26_256a[] = {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x01, 0x01};
    c = &gostr3410_2012_256_test;
    EXPECT_EQ(GOSTR3410_2012_256_FindParByDerOid(tc26_256a, sizeof tc26_256a, &c), -1);
    EXPECT_EQ(c, nullptr);

    // A 512-bit OID is unknown to the 256-bit lookup and the other way round.
    const uint8_t set_b[] = {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x02};
    EXPECT_EQ(GOSTR3410_2012_256_FindParByDerOid(set_b, sizeof set_b, &c), -1);
    const GOSTR3410_2012_512_PARAMS *c5 = nullptr;
    ASSERT_EQ(GOSTR3410_2012_512_FindParByDerOid(set_b, sizeof set_b, &c5), 0);
    EXPECT_EQ(c5, &gostr3410_2012_512_b);
    EXPECT_EQ(GOSTR3410_2012_512_FindParByDerOid(xcha, sizeof xcha, &c5), -1);
    EXPECT_EQ(c5, nullptr);

    // A prefix of a known DER, or one with a changed byte, is not a match.
    EXPECT_EQ(GOSTR3410_2012_256_FindParByDerOid(xcha, sizeof xcha - 1, &c), -1);
    uint8_t changed[sizeof xcha];
    std::copy(std::begin(xcha), std::end(xcha), changed);
    changed[8] = 0x02;
    EXPECT_EQ(GOSTR3410_2012_256_FindParByDerOid(changed, sizeof changed, &c), -1);
    EXPECT_EQ(GOSTR3410_2012_256_FindParByDerOid(xcha, sizeof xcha, nullptr), -2);
}

TEST(CurveMessages, MissingArgumentsGiveMinusTwoAndTheirLines)
{
    DiagCapture diag;
    DIGIT_T d256[9] = {1};
    DIGIT_T d512[17] = {1};
    GOSTR3410_2012_256_POINT q256 = {};
    GOSTR3410_2012_512_POINT q512 = {};
    uint8_t buf[128] = {};
    EXPECT_EQ(GOSTR3410_2012_256_GeneratePublicKey(nullptr, d256, &q256), -2);
    EXPECT_EQ(GOSTR3410_2012_512_GeneratePublicKey(&gostr3410_2012_512_a, d512, nullptr), -2);
    EXPECT_EQ(ecCheckPuKey(&gostr3410_2012_256_test, nullptr), -2);
    EXPECT_EQ(GOSTR3410_2012_512_CheckPublicKey(nullptr, &q512), -2);
    EXPECT_EQ(GOSTR3410_2012_256_LoadPrivateKeyValue(nullptr, d256), -2);
    EXPECT_EQ(GOSTR3410_2012_512_LoadPrivateKeyValue(buf, nullptr), -2);
    EXPECT_EQ(GOSTR3410_2012_256_UnloadPublicKeyValue(nullptr, buf), -2);
    EXPECT_EQ(GOSTR3410_2012_512_UnloadPublicKeyValue(&q512, nullptr), -2);
    EXPECT_EQ(epMult(nullptr, &q256, d256, &gostr3410_2012_256_test), -1);
    EXPECT_EQ(depMult(&q512, &q512, nullptr, &gostr3410_2012_512_test), -1);
    EXPECT_EQ(diag.text(),
              "ecGeneratePublicKey: bad params\n"
              "GOSTR3410_2012_512_GeneratePublicKey: bad params\n"
              "ecCheckPuKey: bad params\n"
              "GOSTR3410_2012_512_CheckPublicKey: bad params\n"
              "GOSTR3410_2012_256_LoadPrivateKeyValue: bad params\n"
              "GOSTR3410_2012_512_LoadPrivateKeyValue: bad params\n"
              "GOSTR3410_2012_256_UnloadPublicKeyValue: bad params\n"
              "GOSTR3410_2012_512_UnloadPublicKeyValue: bad params\n"
              "epMult: bad arguments\n"
              "depMult: bad arguments\n");
}

TEST(CurveMessages, SilentWhileTheStreamIsUnset)
{
    ASSERT_EQ(zkc_diag_stream(), nullptr);
    // Nothing to observe but that it neither crashes nor writes anywhere.
    EXPECT_EQ(ecCheckPuKey(nullptr, nullptr), -2);
}

TEST(KeyEncoding, PrivateBytesAreLittleEndianAndPublicIsXThenY)
{
    uint8_t key[32];
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<uint8_t>(i + 1);
    DIGIT_T d[9];
    ASSERT_EQ(GOSTR3410_2012_256_LoadPrivateKeyValue(key, d), 0);
    EXPECT_EQ(d[0], 0x04030201u);
    EXPECT_EQ(d[7], 0x201F1E1Du);
    EXPECT_EQ(d[8], 0u);

    GOSTR3410_2012_512_POINT q = {};
    q.x[0] = 0x11223344u;
    q.y[15] = 0xAABBCCDDu;
    uint8_t out[128];
    ASSERT_EQ(GOSTR3410_2012_512_UnloadPublicKeyValue(&q, out), 0);
    EXPECT_EQ(out[0], 0x44);
    EXPECT_EQ(out[3], 0x11);
    EXPECT_EQ(out[127], 0xAA);
    EXPECT_EQ(out[124], 0xDD);
    EXPECT_EQ(out[64], 0x00);
}

}  // namespace
