// The blinded signature and key-agreement arithmetic against the textbook
// formulas computed here with plain OpenSSL arithmetic: a blinding factor
// that is not undone exactly changes the result from one call to the next.
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/rand.h>

#include <memory>

#include "st_fixture.h"
#include "st_gost.h"

namespace sttest {
namespace {

using softtoken::GostCurve;
using softtoken::SecureBytes;

struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
struct CtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};

Bn le(const uint8_t* p, size_t n) { return Bn(BN_lebin2bn(p, static_cast<int>(n), nullptr)); }

// The curve as an OpenSSL group, the independent reference of these tests.
std::shared_ptr<EC_GROUP> group_of(const GostCurve& c) {
  auto bn = [&](const DIGIT_T* v) { return le(reinterpret_cast<const uint8_t*>(v), c.n); };
  const DIGIT_T* r[6];
  for (int i = 0; i < 6; ++i) r[i] = c.r256 ? (&c.r256->a)[i] : (&c.r512->a)[i];
  Bn a = bn(r[0]), b = bn(r[1]), p = bn(r[2]), q = bn(r[3]), x = bn(r[4]), y = bn(r[5]), h(BN_new());
  BN_set_word(h.get(), c.cofactor);
  std::shared_ptr<EC_GROUP> g(EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), nullptr), EC_GROUP_free);
  std::unique_ptr<EC_POINT, void (*)(EC_POINT*)> gen(EC_POINT_new(g.get()), EC_POINT_free);
  EC_POINT_set_affine_coordinates(g.get(), gen.get(), x.get(), y.get(), nullptr);
  EC_GROUP_set_generator(g.get(), gen.get(), q.get(), h.get());
  return g;
}

const GostCurve& curve(const Bytes& oid) {
  const GostCurve* c = softtoken::find_gost_curve(oid.data(), oid.size());
  EXPECT_NE(c, nullptr);
  return *c;
}

// A random value in [1, q-1], little-endian.
SecureBytes random_scalar(const GostCurve& c) {
  Bn v(BN_new());
  do {
    BN_priv_rand_range(v.get(), c.order);
  } while (BN_is_zero(v.get()));
  SecureBytes out(c.n);
  BN_bn2lebinpad(v.get(), out.data(), static_cast<int>(c.n));
  return out;
}

Bytes random_digest(size_t n) {
  Bytes d(n);
  RAND_bytes(d.data(), static_cast<int>(n));
  return d;
}

// s || r for nonce k: r = x(kP) mod q, s = (r d + k e) mod q with e the
// digest (little-endian) mod q, 1 when that is 0.
Bytes textbook_signature(const GostCurve& c, const SecureBytes& d, const Bytes& digest, const SecureBytes& k) {
  std::unique_ptr<BN_CTX, CtxFree> ctx(BN_CTX_new());
  Bn bd = le(d.data(), d.size()), bk = le(k.data(), k.size()), e = le(digest.data(), digest.size());
  Bn x(BN_new()), r(BN_new()), t(BN_new()), s(BN_new());
  auto group = group_of(c);
  EC_POINT* C = EC_POINT_new(group.get());
  EXPECT_EQ(EC_POINT_mul(group.get(), C, bk.get(), nullptr, nullptr, ctx.get()), 1);
  EXPECT_EQ(EC_POINT_get_affine_coordinates(group.get(), C, x.get(), nullptr, ctx.get()), 1);
  EC_POINT_free(C);
  BN_nnmod(r.get(), x.get(), c.order, ctx.get());
  BN_nnmod(e.get(), e.get(), c.order, ctx.get());
  if (BN_is_zero(e.get())) BN_one(e.get());
  BN_mod_mul(t.get(), r.get(), bd.get(), c.order, ctx.get());
  BN_mod_mul(s.get(), bk.get(), e.get(), c.order, ctx.get());
  BN_mod_add(s.get(), s.get(), t.get(), c.order, ctx.get());
  Bytes sig(2 * c.n);
  BN_bn2binpad(s.get(), sig.data(), static_cast<int>(c.n));
  BN_bn2binpad(r.get(), sig.data() + c.n, static_cast<int>(c.n));
  return sig;
}

Bytes sign_with(const GostCurve& c, const SecureBytes& d, const Bytes& digest, const SecureBytes& k) {
  Bytes sig(2 * c.n);
  EXPECT_EQ(softtoken::gost_sign_with_nonce(c, d, digest.data(), digest.size(), k, sig.data()), CKR_OK);
  return sig;
}

// RFC 5832 / RFC 7091 section 7, with the published nonce: the very
// signature printed there.
TEST(Blinding, PublishedExampleIsReproducedWithItsNonce) {
  const GostCurve& c = curve(kCurveTest256);
  Bytes d = reversed(from_hex("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28"));
  Bytes k = reversed(from_hex("77105C9B20BCD3122823C8CF6FCC7B956DE33814E95B7FE64FED924594DCEAB3"));
  Bytes e = reversed(from_hex("2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5"));
  Bytes want = from_hex(
      "01456C64BA4642A1653C235A98A60249BCD6D3F746B631DF928014F6C5BF9C40"
      "41AA28D2F1AB148280CD9ED56FEDA41974053554A42767B83AD043FD39DC0493");
  SecureBytes sd(d.begin(), d.end()), sk(k.begin(), k.end());
  for (int i = 0; i < 20; ++i) EXPECT_EQ(sign_with(c, sd, e, sk), want) << i;
}

// With the nonce fixed, every call draws a new blinding factor and must
// still give the same bytes, equal to the textbook formula, on both sizes
// and for digests at the edges (0, q, above q, all ones).
TEST(Blinding, FixedNonceGivesTheTextbookSignatureEveryTime) {
  for (const Bytes* oid : {&kCurveTest256, &kCurveA256, &kCurveC256, &kCurveTest512, &kCurveB512}) {
    const GostCurve& c = curve(*oid);
    SCOPED_TRACE(c.n);
    SecureBytes d = random_scalar(c), k = random_scalar(c);
    Bytes q_le(c.n);
    BN_bn2lebinpad(c.order, q_le.data(), static_cast<int>(c.n));
    Bytes q_plus_1 = q_le;
    q_plus_1[0] += 1;  // q is odd: no carry
    std::vector<Bytes> digests = {Bytes(c.n, 0), q_le, q_plus_1, Bytes(c.n, 0xff), random_digest(c.n)};
    for (const Bytes& digest : digests) {
      Bytes want = textbook_signature(c, d, digest, k);
      for (int i = 0; i < 25; ++i) ASSERT_EQ(sign_with(c, d, digest, k), want) << i;
    }
  }
}

// Random keys, nonces and digests: the textbook value, and the signature of
// the public entry point verifies.
TEST(Blinding, RandomSignaturesMatchAndVerifyOnBothSizes) {
  for (const Bytes* oid : {&kCurveA256, &kCurveTest512}) {
    const GostCurve& c = curve(*oid);
    SCOPED_TRACE(c.n);
    int rounds = c.n == 32 ? 150 : 40;
    for (int i = 0; i < rounds; ++i) {
      SecureBytes d, k = random_scalar(c);
      Bytes pub;
      ASSERT_EQ(softtoken::gost_generate(c, d, pub), CKR_OK);
      Bytes digest = random_digest(c.n);
      ASSERT_EQ(sign_with(c, d, digest, k), textbook_signature(c, d, digest, k)) << i;
      Bytes sig(2 * c.n);
      ASSERT_EQ(softtoken::gost_sign(c, d, digest.data(), digest.size(), sig.data()), CKR_OK);
      ASSERT_EQ(softtoken::gost_verify(c, pub.data(), pub.size(), digest.data(), digest.size(), sig.data(), sig.size()),
                CKR_OK)
          << i;
      sig[c.n - 1] ^= 1;
      ASSERT_EQ(softtoken::gost_verify(c, pub.data(), pub.size(), digest.data(), digest.size(), sig.data(), sig.size()),
                CKR_SIGNATURE_INVALID);
    }
  }
}

TEST(Blinding, NonceAndKeyOutOfRangeAreRefused) {
  const GostCurve& c = curve(kCurveA256);
  SecureBytes d = random_scalar(c), q(c.n), zero(c.n, 0);
  BN_bn2lebinpad(c.order, q.data(), static_cast<int>(c.n));
  Bytes digest = random_digest(c.n), sig(2 * c.n);
  EXPECT_EQ(softtoken::gost_sign_with_nonce(c, d, digest.data(), digest.size(), zero, sig.data()), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(softtoken::gost_sign_with_nonce(c, d, digest.data(), digest.size(), q, sig.data()), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(softtoken::gost_sign_with_nonce(c, d, digest.data(), digest.size(), SecureBytes(c.n - 1, 1), sig.data()),
            CKR_ARGUMENTS_BAD);
  EXPECT_EQ(softtoken::gost_sign(c, q, digest.data(), digest.size(), sig.data()), CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(softtoken::gost_sign(c, zero, digest.data(), digest.size(), sig.data()), CKR_KEY_HANDLE_INVALID);
  uint8_t kek[32];
  Bytes pub, ukm(8, 1);
  SecureBytes peer_d;
  ASSERT_EQ(softtoken::gost_generate(c, peer_d, pub), CKR_OK);
  EXPECT_EQ(softtoken::gost_vko(c, q, pub.data(), pub.size(), ukm.data(), ukm.size(), false, kek),
            CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(softtoken::gost_vko(c, zero, pub.data(), pub.size(), ukm.data(), ukm.size(), false, kek),
            CKR_KEY_HANDLE_INVALID);
}

// The blinded UKM d mod q: the same key whatever the blinding factor, the
// same for a UKM and that UKM plus q, refused for a UKM that is a multiple
// of q; and both sides agree for long UKMs above q.
TEST(Blinding, AgreementIsStableAndReducesTheUkm) {
  for (const Bytes* oid : {&kCurveA256, &kCurveTest512}) {
    const GostCurve& c = curve(*oid);
    SCOPED_TRACE(c.n);
    SecureBytes a, b;
    Bytes pa, pb;
    ASSERT_EQ(softtoken::gost_generate(c, a, pa), CKR_OK);
    ASSERT_EQ(softtoken::gost_generate(c, b, pb), CKR_OK);
    Bytes ukm = random_digest(8);
    ukm[0] |= 1;
    uint8_t first[32], again[32];
    ASSERT_EQ(softtoken::gost_vko(c, a, pb.data(), pb.size(), ukm.data(), ukm.size(), false, first), CKR_OK);
    for (int i = 0; i < 10; ++i) {
      ASSERT_EQ(softtoken::gost_vko(c, a, pb.data(), pb.size(), ukm.data(), ukm.size(), false, again), CKR_OK);
      ASSERT_EQ(Bytes(first, first + 32), Bytes(again, again + 32)) << i;
    }
    // UKM + q, one byte longer than q.
    Bn u = le(ukm.data(), ukm.size());
    BN_add(u.get(), u.get(), c.order);
    Bytes shifted(c.n + 1);
    BN_bn2lebinpad(u.get(), shifted.data(), static_cast<int>(shifted.size()));
    ASSERT_EQ(softtoken::gost_vko(c, a, pb.data(), pb.size(), shifted.data(), shifted.size(), false, again), CKR_OK);
    EXPECT_EQ(Bytes(first, first + 32), Bytes(again, again + 32));
    Bytes q_le(c.n);
    BN_bn2lebinpad(c.order, q_le.data(), static_cast<int>(c.n));
    EXPECT_EQ(softtoken::gost_vko(c, a, pb.data(), pb.size(), q_le.data(), q_le.size(), false, again),
              CKR_MECHANISM_PARAM_INVALID);
    Bytes wide(2 * c.n, 0xff);
    uint8_t ab[32], ba[32];
    ASSERT_EQ(softtoken::gost_vko(c, a, pb.data(), pb.size(), wide.data(), wide.size(), true, ab), CKR_OK);
    ASSERT_EQ(softtoken::gost_vko(c, b, pa.data(), pa.size(), wide.data(), wide.size(), true, ba), CKR_OK);
    EXPECT_EQ(Bytes(ab, ab + 32), Bytes(ba, ba + 32));
  }
}

}  // namespace
}  // namespace sttest
