// The module's curve arithmetic against the crypto core: the same public key
// for the same private key on every built-in curve.
#include <openssl/rand.h>

#include "gost_r3411_94.h"
#include "gostr3410_2012.h"
#include "hash_low/gost_r3411_2012.h"
#include "st_fixture.h"
#include "st_gost.h"

namespace sttest {
namespace {

using softtoken::SecureBytes;

TEST(CoreAgreement, PublicKeysEqualTheCoresOnEveryCurve) {
  for (size_t i = 0; const GOSTR3410_2012_256_PARAMS* rec = GOSTR3410_2012_256_GetParSet(i); ++i) {
    SCOPED_TRACE(rec->oid);
    const softtoken::GostCurve* c = softtoken::find_gost_curve(rec->der, rec->der_len);
    ASSERT_NE(c, nullptr);
    for (int k = 0; k < 3; ++k) {
      SecureBytes priv;
      Bytes ours;
      ASSERT_EQ(softtoken::gost_generate(*c, priv, ours), CKR_OK);
      DIGIT_T d[GOSTR3410_2012_256_DIGITS];
      GOSTR3410_2012_256_POINT q;
      uint8_t theirs[64];
      ASSERT_EQ(GOSTR3410_2012_256_LoadPrivateKeyValue(priv.data(), d), 0);
      ASSERT_EQ(GOSTR3410_2012_256_GeneratePublicKey(rec, d, &q), 0);
      ASSERT_EQ(GOSTR3410_2012_256_UnloadPublicKeyValue(&q, theirs), 0);
      EXPECT_EQ(ours, Bytes(theirs, theirs + 64));
    }
  }
  for (size_t i = 0; const GOSTR3410_2012_512_PARAMS* rec = GOSTR3410_2012_512_GetParSet(i); ++i) {
    SCOPED_TRACE(rec->oid);
    const softtoken::GostCurve* c = softtoken::find_gost_curve(rec->der, rec->der_len);
    ASSERT_NE(c, nullptr);
    SecureBytes priv;
    Bytes ours;
    ASSERT_EQ(softtoken::gost_generate(*c, priv, ours), CKR_OK);
    DIGIT_T d[GOSTR3410_2012_512_DIGITS];
    GOSTR3410_2012_512_POINT q;
    uint8_t theirs[128];
    ASSERT_EQ(GOSTR3410_2012_512_LoadPrivateKeyValue(priv.data(), d), 0);
    ASSERT_EQ(GOSTR3410_2012_512_GeneratePublicKey(rec, d, &q), 0);
    ASSERT_EQ(GOSTR3410_2012_512_UnloadPublicKeyValue(&q, theirs), 0);
    EXPECT_EQ(ours, Bytes(theirs, theirs + 128));
  }
}

template <size_t N>
void load_digits(const uint8_t* le, size_t n, DIGIT_T (&out)[N]) {
  for (size_t i = 0; i < N; ++i) out[i] = 0;
  for (size_t i = 0; i < n; ++i) out[i / 4] |= static_cast<DIGIT_T>(le[i]) << (8 * (i % 4));
}

// UKM * d mod q as little-endian bytes.
Bytes scaled_key(const softtoken::GostCurve& c, const SecureBytes& d, const Bytes& ukm) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* bd = BN_lebin2bn(d.data(), static_cast<int>(d.size()), nullptr);
  BIGNUM* bu = BN_lebin2bn(ukm.data(), static_cast<int>(ukm.size()), nullptr);
  BIGNUM* t = BN_new();
  BN_mod_mul(t, bu, bd, c.order, ctx);
  Bytes out(c.n);
  BN_bn2lebinpad(t, out.data(), static_cast<int>(c.n));
  BN_free(bd);
  BN_free(bu);
  BN_free(t);
  BN_CTX_free(ctx);
  return out;
}

Bytes hash94(const Bytes& in) {
  GOSTR3411_94_CTX ctx;
  uint8_t out[32];
  EXPECT_EQ(GOSTR3411_94_Init_ex(&ctx, GOSTR3411_94_DefaultParam()->table), 0);
  EXPECT_EQ(GOSTR3411_94_Update(&ctx, in.data(), in.size()), 0);
  EXPECT_EQ(GOSTR3411_94_Final(&ctx, out), 0);
  return Bytes(out, out + 32);
}

Bytes hash2012(const Bytes& in) {
  GOSTR3411_2012_CTX ctx;
  uint8_t out[32];
  EXPECT_EQ(GOSTR3411_2012_256_Init(&ctx), 0);
  EXPECT_EQ(GOSTR3411_2012_256_Update(&ctx, in.data(), in.size()), 0);
  EXPECT_EQ(GOSTR3411_2012_256_Final(&ctx, out), 0);
  return Bytes(out, out + 32);
}

// KEK = H(K), K = (UKM d mod q) Q, the point written x then y, little-endian,
// recomputed with the core's own point arithmetic and hashes.
TEST(CoreAgreement, KeyAgreementMatchesTheCoresArithmetic) {
  Bytes oid256 = der_oid("1.2.643.2.2.35.1"), oid512 = der_oid("1.2.643.7.1.2.1.2.1");
  const softtoken::GostCurve* c256 = softtoken::find_gost_curve(oid256.data(), oid256.size());
  const softtoken::GostCurve* c512 = softtoken::find_gost_curve(oid512.data(), oid512.size());
  ASSERT_TRUE(c256 && c512);
  const GOSTR3410_2012_256_PARAMS* r256 = nullptr;
  const GOSTR3410_2012_512_PARAMS* r512 = nullptr;
  ASSERT_EQ(GOSTR3410_2012_256_FindParByDerOid(oid256.data(), static_cast<uint32_t>(oid256.size()), &r256), 0);
  ASSERT_EQ(GOSTR3410_2012_512_FindParByDerOid(oid512.data(), static_cast<uint32_t>(oid512.size()), &r512), 0);
  for (bool use94 : {true, false}) {
    SecureBytes d, peer_d;
    Bytes q, peer;
    ASSERT_EQ(softtoken::gost_generate(*c256, d, q), CKR_OK);
    ASSERT_EQ(softtoken::gost_generate(*c256, peer_d, peer), CKR_OK);
    Bytes ukm(8);
    RAND_bytes(ukm.data(), 8);
    ukm[7] |= 0x80;
    uint8_t kek[32];
    ASSERT_EQ(softtoken::gost_vko(*c256, d, peer.data(), peer.size(), ukm.data(), ukm.size(), use94, kek), CKR_OK);
    Bytes t = scaled_key(*c256, d, ukm);
    GOSTR3410_2012_256_POINT P, K;
    DIGIT_T k[GOSTR3410_2012_256_DIGITS];
    load_digits(peer.data(), 32, P.x);
    load_digits(peer.data() + 32, 32, P.y);
    load_digits(t.data(), 32, k);
    ASSERT_EQ(epMult(&K, &P, k, r256), 0);
    uint8_t kb[64];
    ASSERT_EQ(GOSTR3410_2012_256_UnloadPublicKeyValue(&K, kb), 0);
    Bytes expect = use94 ? hash94(Bytes(kb, kb + 64)) : hash2012(Bytes(kb, kb + 64));
    EXPECT_EQ(Bytes(kek, kek + 32), expect) << (use94 ? "GOST R 34.11-94" : "GOST R 34.11-2012");
  }
  SecureBytes d, peer_d;
  Bytes q, peer;
  ASSERT_EQ(softtoken::gost_generate(*c512, d, q), CKR_OK);
  ASSERT_EQ(softtoken::gost_generate(*c512, peer_d, peer), CKR_OK);
  Bytes ukm(16);
  RAND_bytes(ukm.data(), 16);
  uint8_t kek[32];
  ASSERT_EQ(softtoken::gost_vko(*c512, d, peer.data(), peer.size(), ukm.data(), ukm.size(), false, kek), CKR_OK);
  Bytes t = scaled_key(*c512, d, ukm);
  GOSTR3410_2012_512_POINT P, K;
  DIGIT_T k[GOSTR3410_2012_512_DIGITS];
  load_digits(peer.data(), 64, P.x);
  load_digits(peer.data() + 64, 64, P.y);
  load_digits(t.data(), 64, k);
  ASSERT_EQ(depMult(&K, &P, k, r512), 0);
  uint8_t kb[128];
  ASSERT_EQ(GOSTR3410_2012_512_UnloadPublicKeyValue(&K, kb), 0);
  EXPECT_EQ(Bytes(kek, kek + 32), hash2012(Bytes(kb, kb + 128)));
}

// VKO of RFC 4357 hashes with GOST R 34.11-94 for keys of the CryptoPro hash
// set only; the test set and the 2012 hashes go to VKO_GOSTR3410_2012_256.
TEST(CoreAgreement, OnlyTheCryptoProHashSetSelectsTheOldVko) {
  EXPECT_TRUE(softtoken::is_gostr3411_94_cryptopro(kHash94CryptoPro.data(), kHash94CryptoPro.size()));
  Bytes test_set = der_oid("1.2.643.2.2.30.0");
  EXPECT_FALSE(softtoken::is_gostr3411_94_cryptopro(test_set.data(), test_set.size()));
  EXPECT_FALSE(softtoken::is_gostr3411_94_cryptopro(kHash2012_256.data(), kHash2012_256.size()));
  EXPECT_FALSE(softtoken::is_gostr3411_94_cryptopro(kHash94CryptoPro.data(), kHash94CryptoPro.size() - 1));
  EXPECT_FALSE(softtoken::is_gostr3411_94_cryptopro(nullptr, 0));
}

TEST(CoreAgreement, UnknownCurvesAreNotFound) {
  Bytes unknown = der_oid("1.2.643.7.1.2.1.1.9");
  EXPECT_EQ(softtoken::find_gost_curve(unknown.data(), unknown.size()), nullptr);
  // The twisted Edwards curves are the token's own, with cofactor 4.
  for (const char* oid : {"1.2.643.7.1.2.1.1.1", "1.2.643.7.1.2.1.2.3"}) {
    Bytes der = der_oid(oid);
    const softtoken::GostCurve* c = softtoken::find_gost_curve(der.data(), der.size());
    ASSERT_NE(c, nullptr) << oid;
    EXPECT_EQ(c->cofactor, 4u);
  }
  EXPECT_EQ(softtoken::find_gost_curve(nullptr, 0), nullptr);
  Bytes xcha = der_oid("1.2.643.2.2.36.0"), a = der_oid("1.2.643.2.2.35.1");
  const softtoken::GostCurve* cx = softtoken::find_gost_curve(xcha.data(), xcha.size());
  const softtoken::GostCurve* ca = softtoken::find_gost_curve(a.data(), a.size());
  ASSERT_NE(cx, nullptr);
  ASSERT_NE(ca, nullptr);
  EXPECT_EQ(BN_cmp(cx->order, ca->order), 0);  // XchA is the A curve
}

}  // namespace
}  // namespace sttest
