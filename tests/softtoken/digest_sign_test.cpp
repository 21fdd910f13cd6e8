// Digests and hash-and-sign: the published digests, single and multi-part;
// signatures checked by C_Verify and by the raw mechanism on the digest.
#include <openssl/rand.h>

#include <cstring>

#include "hash_low/gost_r3411_2012.h"
#include "st_fixture.h"
#include "st_mechanisms.h"

namespace sttest {
namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes streebog_empty(size_t n) {
  GOSTR3411_2012_CTX ctx;
  Bytes out(n);
  if (n == 32) GOSTR3411_2012_256_Init(&ctx), GOSTR3411_2012_256_Final(&ctx, out.data());
  else GOSTR3411_2012_512_Init(&ctx), GOSTR3411_2012_512_Final(&ctx, out.data());
  return out;
}

const Bytes kM2 = from_hex(
    "d1e520e2e5f2f0e82c20d1f2f0e8e1eee6e820e2edf3f6e82c20e2e5fef2fa20f120eceef0ff20f1f2f0e5ebe0ece820ede020f5f0e0e1f0fbff"
    "20efebfaeafb20c8e3eef0e5e2fb");
const std::string kM1 = "012345678901234567890123456789012345678901234567890123456789012";

struct DigestCase {
  const char* name;
  CK_MECHANISM_TYPE mech;
  Bytes message, digest;
};

const DigestCase kDigests[] = {
    {"94 empty", CKM_GOSTR3411, {}, from_hex("981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0")},
    {"94 a", CKM_GOSTR3411, text("a"), from_hex("e74c52dd282183bf37af0079c9f78055715a103f17e3133ceff1aacf2f403011")},
    {"94 32 bytes", CKM_GOSTR3411, text("This is message, length=32 bytes"),
     from_hex("2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb")},
    {"94 50 bytes", CKM_GOSTR3411, text("Suppose the original message has length = 50 bytes"),
     from_hex("c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011")},
    {"2012-256 M1", CKM_GOSTR3411_12_256, text(kM1),
     from_hex("9d151eefd8590b89daa6ba6cb74af9275dd051026bb149a452fd84e5e57b5500")},
    {"2012-256 M2", CKM_GOSTR3411_12_256, kM2,
     from_hex("9dd2fe4e90409e5da87f53976d7405b0c0cac628fc669a741d50063c557e8f50")},
    {"2012-512 M1", CKM_GOSTR3411_12_512, text(kM1),
     from_hex("1b54d01a4af5b9d5cc3d86d68d285462b19abc2475222f35c085122be4ba1ffa00ad30f8767b3a82384c6574f024c311e2a48133"
              "2b08ef7f41797891c1646f48")},
    {"2012-512 M2", CKM_GOSTR3411_12_512, kM2,
     from_hex("1e88e62226bfca6f9994f1f2d51569e0daf8475a3b0fe61a5300eee46d961376035fe83549ada2b8620fcd7c496ce5b33f0cb9dd"
              "dc2b6460143b03dabac9fb28")},
    {"2012-256 empty", CKM_GOSTR3411_12_256, {}, streebog_empty(32)},
    {"2012-512 empty", CKM_GOSTR3411_12_512, {}, streebog_empty(64)},
};

class DigestAndSign : public SoftTokenTest {
 protected:
  void SetUp() override {
    SoftTokenTest::SetUp();
    s = open_user(init_token());
  }

  Bytes digest(CK_MECHANISM_TYPE mech, const Bytes& msg) {
    CK_MECHANISM m{mech, nullptr, 0};
    EXPECT_EQ(f->C_DigestInit(s, &m), CKR_OK);
    CK_ULONG len = 0;
    EXPECT_EQ(f->C_Digest(s, const_cast<uint8_t*>(msg.data()), msg.size(), nullptr, &len), CKR_OK);
    Bytes out(len);
    EXPECT_EQ(f->C_Digest(s, const_cast<uint8_t*>(msg.data()), msg.size(), out.data(), &len), CKR_OK);
    return out;
  }

  // In parts of `step` bytes, with an empty part first.
  Bytes digest_parts(CK_MECHANISM_TYPE mech, const Bytes& msg, size_t step) {
    CK_MECHANISM m{mech, nullptr, 0};
    EXPECT_EQ(f->C_DigestInit(s, &m), CKR_OK);
    EXPECT_EQ(f->C_DigestUpdate(s, nullptr, 0), CKR_OK);
    for (size_t at = 0; at < msg.size(); at += step)
      EXPECT_EQ(f->C_DigestUpdate(s, const_cast<uint8_t*>(msg.data()) + at, std::min(step, msg.size() - at)), CKR_OK);
    Bytes out(64);
    CK_ULONG len = 1;
    EXPECT_EQ(f->C_DigestFinal(s, out.data(), &len), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(f->C_DigestFinal(s, out.data(), &len), CKR_OK);
    out.resize(len);
    return out;
  }

  CK_RV sign(CK_MECHANISM m, CK_OBJECT_HANDLE key, const Bytes& msg, Bytes& sig, size_t step = 0) {
    CK_RV rv = f->C_SignInit(s, &m, key);
    if (rv != CKR_OK) return rv;
    CK_ULONG len = 0;
    uint8_t* data = const_cast<uint8_t*>(msg.data());
    if (!step) {
      rv = f->C_Sign(s, data, msg.size(), nullptr, &len);
      sig.assign(len, 0);
      if (rv == CKR_OK) rv = f->C_Sign(s, data, msg.size(), sig.data(), &len);
      return rv;
    }
    for (size_t at = 0; at < msg.size() && rv == CKR_OK; at += step)
      rv = f->C_SignUpdate(s, data + at, std::min(step, msg.size() - at));
    if (rv != CKR_OK) return rv;
    rv = f->C_SignFinal(s, nullptr, &len);
    sig.assign(len, 0);
    return rv == CKR_OK ? f->C_SignFinal(s, sig.data(), &len) : rv;
  }

  CK_RV verify(CK_MECHANISM m, CK_OBJECT_HANDLE key, const Bytes& msg, const Bytes& sig, size_t step = 0) {
    CK_RV rv = f->C_VerifyInit(s, &m, key);
    if (rv != CKR_OK) return rv;
    uint8_t* data = const_cast<uint8_t*>(msg.data());
    if (!step) return f->C_Verify(s, data, msg.size(), const_cast<uint8_t*>(sig.data()), sig.size());
    for (size_t at = 0; at < msg.size() && rv == CKR_OK; at += step)
      rv = f->C_VerifyUpdate(s, data + at, std::min(step, msg.size() - at));
    return rv == CKR_OK ? f->C_VerifyFinal(s, const_cast<uint8_t*>(sig.data()), sig.size()) : rv;
  }

  CK_SESSION_HANDLE s = 0;
};

TEST_F(DigestAndSign, PublishedDigestsSingleAndMultiPart) {
  for (const DigestCase& c : kDigests) {
    EXPECT_EQ(digest(c.mech, c.message), c.digest) << c.name;
    for (size_t step : {1, 7, 32, 64}) EXPECT_EQ(digest_parts(c.mech, c.message, step), c.digest) << c.name << step;
  }
  CK_MECHANISM m{CKM_GOSTR3411, nullptr, 0};
  ASSERT_EQ(f->C_DigestInit(s, &m), CKR_OK);
  EXPECT_EQ(f->C_DigestInit(s, &m), CKR_OPERATION_ACTIVE);
  CK_ULONG len = 0;
  EXPECT_EQ(f->C_Digest(s, nullptr, 0, nullptr, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(f->C_DigestFinal(s, nullptr, &len), CKR_OPERATION_NOT_INITIALIZED);
  Bytes oid = kHash94CryptoPro;
  CK_MECHANISM with_param{CKM_GOSTR3411, oid.data(), oid.size()};
  EXPECT_EQ(f->C_DigestInit(s, &with_param), CKR_MECHANISM_PARAM_INVALID);
}

struct SignCase {
  const char* name;
  CK_MECHANISM_TYPE mech, digest, raw;
  const Bytes* curve;
  const Bytes* hash;
};

const SignCase kSigns[] = {
    {"94 on A-256", CKM_GOSTR3410_WITH_GOSTR3411, CKM_GOSTR3411, CKM_GOSTR3410, &kCurveA256, &kHash94CryptoPro},
    {"2012-256 on B-256", CKM_GOSTR3410_WITH_GOSTR3411_12_256, CKM_GOSTR3411_12_256, CKM_GOSTR3410, &kCurveB256,
     &kHash2012_256},
    {"2012-512 on A-512", CKM_GOSTR3410_WITH_GOSTR3411_12_512, CKM_GOSTR3411_12_512, CKM_GOSTR3410_512, &kCurveA512,
     &kHash2012_512},
};

TEST_F(DigestAndSign, HashAndSignMatchesTheRawMechanismOnTheDigest) {
  for (const SignCase& c : kSigns) {
    CK_OBJECT_HANDLE pub, priv;
    generate(s, *c.curve, *c.hash, pub, priv);
    CK_MECHANISM m{c.mech, nullptr, 0}, raw{c.raw, nullptr, 0};
    for (size_t size : {0, 1, 1000}) {
      Bytes msg(size), sig, sig2;
      RAND_bytes(msg.data(), static_cast<int>(size));
      ASSERT_EQ(sign(m, priv, msg, sig), CKR_OK) << c.name << size;
      EXPECT_EQ(verify(m, pub, msg, sig), CKR_OK) << c.name << size;
      EXPECT_EQ(verify(raw, pub, digest(c.digest, msg), sig), CKR_OK) << c.name << size;
      ASSERT_EQ(sign(m, priv, msg, sig2, 333), CKR_OK) << c.name << size;
      EXPECT_EQ(verify(m, pub, msg, sig2, 7), CKR_OK) << c.name << size;
      Bytes other = msg;
      other.push_back(0);
      EXPECT_EQ(verify(m, pub, other, sig), CKR_SIGNATURE_INVALID) << c.name << size;
      EXPECT_EQ(verify(m, pub, other, sig, 5), CKR_SIGNATURE_INVALID) << c.name << size;
    }
  }
}

TEST_F(DigestAndSign, Errors) {
  CK_OBJECT_HANDLE pub, priv, pub512, priv512;
  generate(s, kCurveA256, kHash94CryptoPro, pub, priv);
  generate(s, kCurveA512, kHash2012_512, pub512, priv512);
  Bytes msg(10, 1), sig;
  // The mechanism must fit the key, and only the GOST R 34.11-94 one names
  // its (CryptoPro) parameter set.
  CK_MECHANISM m512{CKM_GOSTR3410_WITH_GOSTR3411_12_512, nullptr, 0};
  EXPECT_EQ(f->C_SignInit(s, &m512, priv), CKR_KEY_TYPE_INCONSISTENT);
  Bytes cp = kHash94CryptoPro, other = kHash2012_256;
  CK_MECHANISM named{CKM_GOSTR3410_WITH_GOSTR3411, cp.data(), cp.size()};
  EXPECT_EQ(sign(named, priv, msg, sig), CKR_OK);
  CK_MECHANISM misnamed{CKM_GOSTR3410_WITH_GOSTR3411, other.data(), other.size()};
  EXPECT_EQ(f->C_SignInit(s, &misnamed, priv), CKR_MECHANISM_PARAM_INVALID);
  CK_MECHANISM m{CKM_GOSTR3410_WITH_GOSTR3411, nullptr, 0};
  // After a part, only C_SignFinal ends the operation.
  ASSERT_EQ(f->C_SignInit(s, &m, priv), CKR_OK);
  ASSERT_EQ(f->C_SignUpdate(s, msg.data(), msg.size()), CKR_OK);
  CK_ULONG len = 64;
  uint8_t out[64];
  EXPECT_EQ(f->C_Sign(s, msg.data(), msg.size(), out, &len), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(f->C_SignFinal(s, out, &len), CKR_OPERATION_NOT_INITIALIZED);
  // The raw mechanism takes the digest in parts too, never more of it.
  CK_MECHANISM raw{CKM_GOSTR3410, nullptr, 0};
  Bytes d(32, 5);
  ASSERT_EQ(sign(raw, priv, d, sig, 16), CKR_OK);
  EXPECT_EQ(verify(raw, pub, d, sig, 3), CKR_OK);
  EXPECT_EQ(sign(raw, priv, Bytes(33, 5), sig, 16), CKR_DATA_LEN_RANGE);
  EXPECT_EQ(verify(raw, pub, Bytes(31, 5), sig, 16), CKR_DATA_LEN_RANGE);
  // A short signature buffer keeps the operation going.
  ASSERT_EQ(f->C_SignInit(s, &m, priv), CKR_OK);
  ASSERT_EQ(f->C_SignUpdate(s, msg.data(), msg.size()), CKR_OK);
  len = 10;
  EXPECT_EQ(f->C_SignFinal(s, out, &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 64u);
  ASSERT_EQ(f->C_SignFinal(s, out, &len), CKR_OK);
  EXPECT_EQ(verify(m, pub, msg, Bytes(out, out + 64)), CKR_OK);
  EXPECT_EQ(verify(m, pub, msg, Bytes(out, out + 63)), CKR_SIGNATURE_LEN_RANGE);
}

}  // namespace
}  // namespace sttest
