// The module's curve arithmetic against the crypto core: the same public key
// for the same private key on every built-in curve.
#include <openssl/rand.h>

#include "gostr3410_2012.h"
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

TEST(CoreAgreement, UnknownCurvesAreNotFound) {
  Bytes tc26_256a = der_oid("1.2.643.7.1.2.1.1.1");
  EXPECT_EQ(softtoken::find_gost_curve(tc26_256a.data(), tc26_256a.size()), nullptr);
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
