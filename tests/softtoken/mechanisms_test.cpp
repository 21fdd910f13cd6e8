// GOST mechanisms through the function list: key pair generation, signing
// and verification on every curve, the published examples, key agreement,
// and their error codes.
#include <openssl/rand.h>

#include <cstring>

#include "st_fixture.h"

namespace sttest {
namespace {

struct Curve {
  const char* name;
  const Bytes* oid;
  const Bytes* hash;
  size_t n;
};

const Curve kCurves[] = {
    {"test-256", &kCurveTest256, &kHash94CryptoPro, 32}, {"A-256", &kCurveA256, &kHash2012_256, 32},
    {"B-256", &kCurveB256, &kHash94CryptoPro, 32},       {"C-256", &kCurveC256, &kHash2012_256, 32},
    {"XchA", &kCurveXchA, &kHash94CryptoPro, 32},        {"XchB", &kCurveXchB, &kHash2012_256, 32},
    {"test-512", &kCurveTest512, &kHash2012_512, 64},    {"A-512", &kCurveA512, &kHash2012_512, 64},
    {"B-512", &kCurveB512, &kHash2012_512, 64},       {"tc26-A-256", &kCurveTc26A256, &kHash2012_256, 32},
    {"tc26-C-512", &kCurveTc26C512, &kHash2012_512, 64},
};

CK_MECHANISM_TYPE sign_mech(size_t n) { return n == 64 ? CKM_GOSTR3410_512 : CKM_GOSTR3410; }
CK_MECHANISM_TYPE derive_mech(size_t n) { return n == 64 ? CKM_GOSTR3410_12_DERIVE : CKM_GOSTR3410_DERIVE; }

Bytes ulong_bytes(CK_ULONG v) {
  Bytes b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

Bytes random_bytes(size_t n) {
  Bytes b(n);
  RAND_bytes(b.data(), static_cast<int>(n));
  return b;
}

class Mechanisms : public SoftTokenTest {
 protected:
  void SetUp() override {
    SoftTokenTest::SetUp();
    slot = init_token();
    s = open_user(slot);
  }

  CK_RV sign(CK_OBJECT_HANDLE key, size_t n, const Bytes& digest, Bytes& sig) {
    CK_MECHANISM m{sign_mech(n), nullptr, 0};
    CK_RV rv = f->C_SignInit(s, &m, key);
    if (rv != CKR_OK) return rv;
    CK_ULONG len = 0;
    rv = f->C_Sign(s, const_cast<uint8_t*>(digest.data()), digest.size(), nullptr, &len);
    if (rv != CKR_OK) return rv;
    sig.assign(len, 0);
    rv = f->C_Sign(s, const_cast<uint8_t*>(digest.data()), digest.size(), sig.data(), &len);
    sig.resize(len);
    return rv;
  }

  CK_RV verify(CK_OBJECT_HANDLE key, size_t n, const Bytes& digest, const Bytes& sig) {
    CK_MECHANISM m{sign_mech(n), nullptr, 0};
    CK_RV rv = f->C_VerifyInit(s, &m, key);
    if (rv != CKR_OK) return rv;
    return f->C_Verify(s, const_cast<uint8_t*>(digest.data()), digest.size(), const_cast<uint8_t*>(sig.data()),
                       sig.size());
  }

  CK_OBJECT_HANDLE public_key(const Bytes& oid, const Bytes& value, CK_RV want = CKR_OK) {
    Template t;
    t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, value.size() == 128 ? CKK_GOSTR3410_512 : CKK_GOSTR3410)
        .boolean(CKA_PRIVATE, false).boolean(CKA_VERIFY, true).bytes(CKA_GOSTR3410_PARAMS, oid)
        .bytes(CKA_VALUE, value);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(f->C_CreateObject(s, t.data(), t.size(), &h), want);
    return h;
  }

  CK_OBJECT_HANDLE private_key(const Bytes& oid, const Bytes& hash, const Bytes& value) {
    Template t;
    t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, value.size() == 64 ? CKK_GOSTR3410_512 : CKK_GOSTR3410)
        .boolean(CKA_SIGN, true).boolean(CKA_DERIVE, true).bytes(CKA_GOSTR3410_PARAMS, oid)
        .bytes(CKA_GOSTR3411_PARAMS, hash).bytes(CKA_VALUE, value);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(f->C_CreateObject(s, t.data(), t.size(), &h), CKR_OK);
    return h;
  }

  CK_RV derive(CK_OBJECT_HANDLE priv, size_t n, const Bytes& peer, const Bytes& ukm, Bytes& out) {
    CK_GOSTR3410_DERIVE_PARAMS p{CKD_NULL, const_cast<uint8_t*>(peer.data()), peer.size(),
                                 const_cast<uint8_t*>(ukm.data()), ukm.size()};
    CK_MECHANISM m{derive_mech(n), &p, sizeof p};
    // The agreed-key template the engine sends.
    Template t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GOST28147).boolean(CKA_TOKEN, false)
        .boolean(CKA_PRIVATE, false).boolean(CKA_ENCRYPT, true).boolean(CKA_DECRYPT, true).boolean(CKA_WRAP, true)
        .boolean(CKA_UNWRAP, true).bytes(CKA_GOST28147_PARAMS, der_oid("1.2.643.7.1.2.5.1.1"))
        .boolean(CKA_EXTRACTABLE, true).boolean(CKA_SENSITIVE, false);
    CK_OBJECT_HANDLE key = 0;
    CK_RV rv = f->C_DeriveKey(s, &m, priv, t.data(), t.size(), &key);
    if (rv != CKR_OK) return rv;
    EXPECT_EQ(attribute(s, key, CKA_KEY_TYPE).size(), sizeof(CK_ULONG));
    out = attribute(s, key, CKA_VALUE, &rv);
    return rv;
  }

  CK_SLOT_ID slot = 0;
  CK_SESSION_HANDLE s = 0;
};

TEST_F(Mechanisms, SignAndVerifyOnEveryCurve) {
  for (const Curve& c : kCurves) {
    SCOPED_TRACE(c.name);
    CK_OBJECT_HANDLE pub, priv;
    generate(s, *c.oid, *c.hash, pub, priv);
    Bytes value = attribute(s, pub, CKA_VALUE);
    EXPECT_EQ(value.size(), 2 * c.n);
    Bytes digest = random_bytes(c.n), sig;
    ASSERT_EQ(sign(priv, c.n, digest, sig), CKR_OK);
    EXPECT_EQ(sig.size(), 2 * c.n);
    EXPECT_EQ(verify(pub, c.n, digest, sig), CKR_OK);
    // Every changed byte of signature or digest is caught.
    for (size_t i : {size_t(0), c.n - 1, c.n, 2 * c.n - 1}) {
      Bytes bad = sig;
      bad[i] ^= 0x01;
      EXPECT_EQ(verify(pub, c.n, digest, bad), CKR_SIGNATURE_INVALID) << i;
    }
    Bytes other = digest;
    other[5] ^= 0x80;
    EXPECT_EQ(verify(pub, c.n, other, sig), CKR_SIGNATURE_INVALID);
    // A copy of the public value, as the engine makes for verification, works too.
    EXPECT_EQ(verify(public_key(*c.oid, value), c.n, digest, sig), CKR_OK);
  }
}

TEST_F(Mechanisms, GeneratedKeysCarryTheirAttributes) {
  CK_OBJECT_HANDLE pub, priv;
  generate(s, kCurveA256, kHash2012_256, pub, priv, true);
  CK_ULONG v = 0;
  Bytes kt = attribute(s, priv, CKA_KEY_TYPE);
  std::memcpy(&v, kt.data(), sizeof v);
  EXPECT_EQ(v, CKK_GOSTR3410);
  Bytes mech = attribute(s, pub, CKA_KEY_GEN_MECHANISM);
  std::memcpy(&v, mech.data(), sizeof v);
  EXPECT_EQ(v, CKM_GOSTR3410_KEY_PAIR_GEN);
  EXPECT_EQ(attribute(s, priv, CKA_LOCAL), Bytes{1});
  EXPECT_EQ(attribute(s, priv, CKA_SENSITIVE), Bytes{1});
  EXPECT_EQ(attribute(s, priv, CKA_EXTRACTABLE), Bytes{0});
  EXPECT_EQ(attribute(s, priv, CKA_ALWAYS_SENSITIVE), Bytes{1});
  EXPECT_EQ(attribute(s, priv, CKA_NEVER_EXTRACTABLE), Bytes{1});
  // The curve named only in the public template reaches the private key.
  EXPECT_EQ(attribute(s, priv, CKA_GOSTR3410_PARAMS), kCurveA256);
  EXPECT_EQ(attribute(s, priv, CKA_GOSTR3411_PARAMS), kHash2012_256);
  CK_RV rv;
  attribute(s, priv, CKA_VALUE, &rv);
  EXPECT_EQ(rv, CKR_ATTRIBUTE_SENSITIVE);
  // The engine sets CKA_ID and CKA_LABEL right after generation.
  Template id;
  id.bytes(CKA_ID, Bytes(20, 9)).bytes(CKA_LABEL, Bytes{'0', 0});
  EXPECT_EQ(f->C_SetAttributeValue(s, pub, id.data(), id.size()), CKR_OK);
  EXPECT_EQ(f->C_SetAttributeValue(s, priv, id.data(), id.size()), CKR_OK);
  // Asked for, a generated key can be extractable.
  CK_MECHANISM m{CKM_GOSTR3410_512_KEY_PAIR_GEN, nullptr, 0};
  Template pt, kt2;
  pt.bytes(CKA_GOSTR3410_PARAMS, kCurveA512);
  kt2.boolean(CKA_SENSITIVE, false).boolean(CKA_EXTRACTABLE, true);
  ASSERT_EQ(f->C_GenerateKeyPair(s, &m, pt.data(), pt.size(), kt2.data(), kt2.size(), &pub, &priv), CKR_OK);
  EXPECT_EQ(attribute(s, priv, CKA_VALUE).size(), 64u);
  EXPECT_EQ(attribute(s, priv, CKA_ALWAYS_SENSITIVE), Bytes{0});
}

// The key pair templates the engine sends, exactly as it sends them.
TEST_F(Mechanisms, EngineKeyPairTemplates) {
  Bytes z = der_oid("1.2.643.7.1.2.5.1.1");
  for (bool rw : {true, false}) {
    SCOPED_TRACE(rw ? "read-write" : "read-only");
    CK_SESSION_HANDLE sess = open(slot, rw);
    Template pub;
    pub.boolean(CKA_TOKEN, rw).bytes(CKA_GOSTR3410_PARAMS, kCurveB512).bytes(CKA_GOSTR3411_PARAMS, kHash2012_512)
        .bytes(CKA_GOST28147_PARAMS, z).ulong(CKA_CLASS, CKO_PUBLIC_KEY).boolean(CKA_PRIVATE, false)
        .boolean(CKA_ENCRYPT, true).boolean(CKA_VERIFY, true);
    Template priv;
    priv.boolean(CKA_TOKEN, rw).ulong(CKA_CLASS, CKO_PRIVATE_KEY).boolean(CKA_PRIVATE, rw)
        .boolean(CKA_DECRYPT, true).boolean(CKA_SIGN, true).boolean(CKA_DERIVE, true)
        .boolean(CKA_EXTRACTABLE, false).boolean(CKA_SENSITIVE, true);
    CK_MECHANISM m{CKM_GOSTR3410_512_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE hp, hk;
    ASSERT_EQ(f->C_GenerateKeyPair(sess, &m, pub.data(), pub.size(), priv.data(), priv.size(), &hp, &hk), CKR_OK);
    EXPECT_EQ(attribute(sess, hk, CKA_TOKEN), Bytes{static_cast<uint8_t>(rw)});
    EXPECT_EQ(attribute(sess, hk, CKA_GOSTR3410_PARAMS), kCurveB512);
    Bytes value = attribute(sess, hp, CKA_VALUE);
    EXPECT_EQ(value.size(), 128u);
    f->C_CloseSession(sess);
  }
}

TEST_F(Mechanisms, KeyPairGenerationErrors) {
  CK_OBJECT_HANDLE a, b;
  CK_MECHANISM m{CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
  Template none, priv;
  EXPECT_EQ(f->C_GenerateKeyPair(s, &m, none.data(), none.size(), priv.data(), priv.size(), &a, &b),
            CKR_TEMPLATE_INCOMPLETE);
  Template big;
  big.bytes(CKA_GOSTR3410_PARAMS, kCurveA512);
  EXPECT_EQ(f->C_GenerateKeyPair(s, &m, big.data(), big.size(), priv.data(), priv.size(), &a, &b),
            CKR_TEMPLATE_INCONSISTENT);
  Template unknown;
  unknown.bytes(CKA_GOSTR3410_PARAMS, der_oid("1.2.643.7.1.2.1.1.9"));
  EXPECT_EQ(f->C_GenerateKeyPair(s, &m, unknown.data(), unknown.size(), priv.data(), priv.size(), &a, &b),
            CKR_DOMAIN_PARAMS_INVALID);
  Template ok;
  ok.bytes(CKA_GOSTR3410_PARAMS, kCurveA256);
  Template wrong_type;
  wrong_type.ulong(CKA_KEY_TYPE, CKK_GOSTR3410_512);
  EXPECT_EQ(f->C_GenerateKeyPair(s, &m, ok.data(), ok.size(), wrong_type.data(), wrong_type.size(), &a, &b),
            CKR_TEMPLATE_INCONSISTENT);
  Template clash;
  clash.bytes(CKA_GOSTR3410_PARAMS, kCurveB256);
  EXPECT_EQ(f->C_GenerateKeyPair(s, &m, ok.data(), ok.size(), clash.data(), clash.size(), &a, &b),
            CKR_TEMPLATE_INCONSISTENT);
  CK_MECHANISM rsa{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  EXPECT_EQ(f->C_GenerateKeyPair(s, &rsa, ok.data(), ok.size(), priv.data(), priv.size(), &a, &b),
            CKR_MECHANISM_INVALID);
  uint8_t param = 0;
  CK_MECHANISM with_param{CKM_GOSTR3410_KEY_PAIR_GEN, &param, 1};
  EXPECT_EQ(f->C_GenerateKeyPair(s, &with_param, ok.data(), ok.size(), priv.data(), priv.size(), &a, &b),
            CKR_MECHANISM_PARAM_INVALID);
  // Token keys need a read-write session, private keys a login.
  CK_SESSION_HANDLE ro = open(slot, false);
  Template tok;
  tok.bytes(CKA_GOSTR3410_PARAMS, kCurveA256).boolean(CKA_TOKEN, true);
  EXPECT_EQ(f->C_GenerateKeyPair(ro, &m, tok.data(), tok.size(), priv.data(), priv.size(), &a, &b),
            CKR_SESSION_READ_ONLY);
  ASSERT_EQ(f->C_Logout(s), CKR_OK);
  EXPECT_EQ(f->C_GenerateKeyPair(s, &m, ok.data(), ok.size(), priv.data(), priv.size(), &a, &b),
            CKR_USER_NOT_LOGGED_IN);
  Template all;
  EXPECT_TRUE(find(s, all).empty());
}

TEST_F(Mechanisms, SignAndVerifyErrors) {
  CK_OBJECT_HANDLE pub, priv, pub512, priv512;
  generate(s, kCurveA256, kHash2012_256, pub, priv);
  generate(s, kCurveA512, kHash2012_512, pub512, priv512);
  CK_MECHANISM m{CKM_GOSTR3410, nullptr, 0};
  CK_MECHANISM m512{CKM_GOSTR3410_512, nullptr, 0};
  Bytes digest = random_bytes(32), sig(64);
  CK_ULONG len = 64;
  EXPECT_EQ(f->C_Sign(s, digest.data(), 32, sig.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(f->C_SignInit(s, &m, priv512), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(f->C_SignInit(s, &m512, priv), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(f->C_SignInit(s, &m, pub), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(f->C_SignInit(s, &m, 0xdead), CKR_KEY_HANDLE_INVALID);
  CK_MECHANISM bad{CKM_SHA256_RSA_PKCS, nullptr, 0};
  EXPECT_EQ(f->C_SignInit(s, &bad, priv), CKR_MECHANISM_INVALID);
  ASSERT_EQ(f->C_SignInit(s, &m, priv), CKR_OK);
  EXPECT_EQ(f->C_SignInit(s, &m, priv), CKR_OPERATION_ACTIVE);
  // Asking for the length and a short buffer keep the operation going.
  len = 10;
  EXPECT_EQ(f->C_Sign(s, digest.data(), 32, sig.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 64u);
  EXPECT_EQ(f->C_Sign(s, digest.data(), 48, sig.data(), &len), CKR_DATA_LEN_RANGE);
  EXPECT_EQ(f->C_Sign(s, digest.data(), 32, sig.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
  ASSERT_EQ(sign(priv, 32, digest, sig), CKR_OK);
  EXPECT_EQ(verify(pub, 32, Bytes(digest.begin(), digest.begin() + 31), sig), CKR_DATA_LEN_RANGE);
  EXPECT_EQ(verify(pub, 32, digest, Bytes(sig.begin(), sig.begin() + 63)), CKR_SIGNATURE_LEN_RANGE);
  Bytes longer = sig;
  longer.push_back(0);
  EXPECT_EQ(verify(pub, 32, digest, longer), CKR_SIGNATURE_LEN_RANGE);
  EXPECT_EQ(verify(pub, 32, digest, Bytes(64, 0)), CKR_SIGNATURE_INVALID);
  EXPECT_EQ(verify(pub, 32, digest, Bytes(64, 0xff)), CKR_SIGNATURE_INVALID);
  // A key without CKA_SIGN may not sign.
  Template nosign;
  nosign.bytes(CKA_SIGN, Bytes{0});
  ASSERT_EQ(f->C_SetAttributeValue(s, priv, nosign.data(), nosign.size()), CKR_OK);
  EXPECT_EQ(f->C_SignInit(s, &m, priv), CKR_KEY_FUNCTION_NOT_PERMITTED);
  EXPECT_EQ(f->C_SignUpdate(s, digest.data(), 32), CKR_OPERATION_NOT_INITIALIZED);
}

// RFC 5832 / RFC 7091 section 7: the published signature verifies, with the
// digest read as a little-endian number and the signature as s then r.
TEST_F(Mechanisms, PublishedSignatureOfTheTestCurveVerifies) {
  Bytes x = from_hex("7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B");
  Bytes y = from_hex("26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA");
  Bytes e = from_hex("2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5");
  Bytes r = from_hex("41AA28D2F1AB148280CD9ED56FEDA41974053554A42767B83AD043FD39DC0493");
  Bytes sv = from_hex("01456C64BA4642A1653C235A98A60249BCD6D3F746B631DF928014F6C5BF9C40");
  Bytes q = reversed(x);
  Bytes ry = reversed(y);
  q.insert(q.end(), ry.begin(), ry.end());
  Bytes sig = sv;
  sig.insert(sig.end(), r.begin(), r.end());
  Bytes digest = reversed(e);
  CK_OBJECT_HANDLE pub = public_key(kCurveTest256, q);
  EXPECT_EQ(verify(pub, 32, digest, sig), CKR_OK);
  for (size_t i = 0; i < sig.size(); i += 9) {
    Bytes bad = sig;
    bad[i] ^= 0x04;
    EXPECT_EQ(verify(pub, 32, digest, bad), CKR_SIGNATURE_INVALID) << i;
  }
  // The same private key imported signs so that the published key verifies.
  Bytes d = reversed(from_hex("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28"));
  CK_OBJECT_HANDLE priv = private_key(kCurveTest256, kHash94CryptoPro, d);
  Bytes mine;
  ASSERT_EQ(sign(priv, 32, digest, mine), CKR_OK);
  EXPECT_EQ(verify(pub, 32, digest, mine), CKR_OK);
}

// The published public key written with x + p instead of x names the same
// point; only the reduced encoding is a public value.
TEST_F(Mechanisms, CoordinatesAtOrAbovePAreRefused) {
  Bytes y = reversed(from_hex("26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA"));
  Bytes e = reversed(from_hex("2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5"));
  Bytes sig = from_hex(
      "01456C64BA4642A1653C235A98A60249BCD6D3F746B631DF928014F6C5BF9C40"
      "41AA28D2F1AB148280CD9ED56FEDA41974053554A42767B83AD043FD39DC0493");
  Bytes x = reversed(from_hex("7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B"));
  Bytes x_plus_p = reversed(from_hex("FF2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FDC3C"));
  Bytes q = x, wide = x_plus_p;
  q.insert(q.end(), y.begin(), y.end());
  wide.insert(wide.end(), y.begin(), y.end());
  EXPECT_EQ(verify(public_key(kCurveTest256, q), 32, e, sig), CKR_OK);
  public_key(kCurveTest256, wide, CKR_ATTRIBUTE_VALUE_INVALID);
  // The same for a peer value in key agreement.
  CK_OBJECT_HANDLE pa, ka;
  generate(s, kCurveTest256, kHash94CryptoPro, pa, ka);
  Bytes ukm = random_bytes(8), out;
  ukm[0] |= 1;
  ASSERT_EQ(derive(ka, 32, q, ukm, out), CKR_OK);
  EXPECT_EQ(derive(ka, 32, wide, ukm, out), CKR_MECHANISM_PARAM_INVALID);
}

// RFC 9215 appendix D.3: a key pair on the 512-bit test curve.
TEST_F(Mechanisms, PublishedKeyPairOfThe512BitTestCurve) {
  Bytes d = reversed(from_hex(
      "0BA6048AADAE241BA40936D47756D7C93091A0E8514669700EE7508E508B102072E8123B2200A0563322DAD2827E2714A2636B7BFD18AADFC"
      "62967821FA18DD4"));
  Bytes x = reversed(from_hex(
      "115DC5BC96760C7B48598D8AB9E740D4C4A85A65BE33C1815B5C320C854621DD5A515856D13314AF69BC5B924C8B4DDFF75C45415C1D9DD9"
      "DD33612CD530EFE1"));
  Bytes y = reversed(from_hex(
      "37C7C90CD40B0F5621DC3AC1B751CFA0E2634FA0503B3D52639F5D7FB72AFD61EA199441D943FFE7F0C70A2759A3CDB84C114E1F9339FDF2"
      "7F35ECA93677BEEC"));
  ASSERT_EQ(d.size(), 64u);
  Bytes q = x;
  q.insert(q.end(), y.begin(), y.end());
  CK_OBJECT_HANDLE pub = public_key(kCurveTest512, q);
  CK_OBJECT_HANDLE priv = private_key(kCurveTest512, kHash2012_512, d);
  Bytes digest = random_bytes(64), sig;
  ASSERT_EQ(sign(priv, 64, digest, sig), CKR_OK);
  EXPECT_EQ(verify(pub, 64, digest, sig), CKR_OK);
  // A public value off the curve is refused.
  Bytes off = q;
  off[70] ^= 1;
  public_key(kCurveTest512, off, CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST_F(Mechanisms, DeriveAgreesFromBothSidesOnEveryCurve) {
  for (const Curve& c : kCurves) {
    SCOPED_TRACE(c.name);
    CK_OBJECT_HANDLE pa, ka, pb, kb;
    generate(s, *c.oid, *c.hash, pa, ka);
    generate(s, *c.oid, *c.hash, pb, kb);
    Bytes qa = attribute(s, pa, CKA_VALUE), qb = attribute(s, pb, CKA_VALUE);
    // From one byte up to n/2 bits, the longest UKM VKO takes.
    std::vector<size_t> sizes = {1, 8, 16};
    if (c.n == 64) sizes.push_back(32);
    for (size_t u : sizes) {
      Bytes ukm = random_bytes(u);
      ukm[0] |= 1;
      Bytes ab, ba;
      ASSERT_EQ(derive(ka, c.n, qb, ukm, ab), CKR_OK);
      ASSERT_EQ(derive(kb, c.n, qa, ukm, ba), CKR_OK);
      EXPECT_EQ(ab.size(), 32u);
      EXPECT_EQ(ab, ba);
      Bytes other_ukm = ukm;
      other_ukm[0] ^= 2;
      Bytes ab2;
      ASSERT_EQ(derive(ka, c.n, qb, other_ukm, ab2), CKR_OK);
      EXPECT_NE(ab, ab2);
    }
  }
}

// Key transport as the engine runs it on the token: an ephemeral key pair
// made with the recipient's parameters, its public value read and the public
// object destroyed, a key-encryption key derived against the recipient's
// session copy and read out, then both destroyed. Every template exactly as
// the engine sends it.
TEST_F(Mechanisms, EngineKeyTransportTemplates) {
  Bytes z = der_oid("1.2.643.7.1.2.5.1.1");
  struct Case {
    const Bytes* curve;
    const Bytes* hash;
    size_t n;
  };
  for (const Case& c : {Case{&kCurveXchA, &kHash94CryptoPro, 32}, Case{&kCurveA256, &kHash2012_256, 32},
                        Case{&kCurveB512, &kHash2012_512, 64}}) {
    SCOPED_TRACE(c.n);
    CK_KEY_TYPE type = c.n == 64 ? CKK_GOSTR3410_512 : CKK_GOSTR3410;
    // The recipient's long-term pair, and its public value as a session object.
    CK_OBJECT_HANDLE rp, rk;
    generate(s, *c.curve, *c.hash, rp, rk, true);
    Bytes rq = attribute(s, rp, CKA_VALUE);
    Template recipient;
    recipient.bytes(CKA_VALUE, rq).ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, type)
        .bytes(CKA_GOSTR3410_PARAMS, *c.curve).bytes(CKA_GOSTR3411_PARAMS, *c.hash);
    CK_OBJECT_HANDLE rcopy;
    ASSERT_EQ(f->C_CreateObject(s, recipient.data(), recipient.size(), &rcopy), CKR_OK);
    EXPECT_EQ(attribute(s, rcopy, CKA_TOKEN), Bytes{0});
    EXPECT_EQ(attribute(s, rcopy, CKA_GOSTR3411_PARAMS), *c.hash);
    // The ephemeral pair.
    Template ep;
    ep.boolean(CKA_TOKEN, true).bytes(CKA_GOSTR3410_PARAMS, *c.curve).bytes(CKA_GOSTR3411_PARAMS, *c.hash)
        .bytes(CKA_GOST28147_PARAMS, z).ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, type)
        .boolean(CKA_PRIVATE, false);
    Template ek;
    ek.boolean(CKA_TOKEN, true).ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, type)
        .boolean(CKA_PRIVATE, true).boolean(CKA_DERIVE, true);
    CK_MECHANISM gen{c.n == 64 ? CKM_GOSTR3410_512_KEY_PAIR_GEN : CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE hp, hk;
    ASSERT_EQ(f->C_GenerateKeyPair(s, &gen, ep.data(), ep.size(), ek.data(), ek.size(), &hp, &hk), CKR_OK);
    Bytes eq = attribute(s, hp, CKA_VALUE);
    ASSERT_EQ(eq.size(), 2 * c.n);
    ASSERT_EQ(f->C_DestroyObject(s, hp), CKR_OK);
    // The key-encryption key, both ways.
    Bytes ukm = random_bytes(c.n / 4);
    ukm[0] |= 1;
    Template kek;
    kek.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GOST28147).boolean(CKA_TOKEN, false)
        .boolean(CKA_SENSITIVE, false).bytes(CKA_GOST28147_PARAMS, z).boolean(CKA_EXTRACTABLE, true)
        .boolean(CKA_ENCRYPT, true).boolean(CKA_DECRYPT, true);
    auto derive_with = [&](CK_OBJECT_HANDLE base, const Bytes& peer, Bytes& value) {
      CK_GOSTR3410_DERIVE_PARAMS p{CKD_NULL, const_cast<uint8_t*>(peer.data()), peer.size(),
                                   const_cast<uint8_t*>(ukm.data()), ukm.size()};
      CK_MECHANISM m{derive_mech(c.n), &p, sizeof p};
      CK_OBJECT_HANDLE h = 0;
      ASSERT_EQ(f->C_DeriveKey(s, &m, base, kek.data(), kek.size(), &h), CKR_OK);
      EXPECT_EQ(attribute(s, h, CKA_CLASS), ulong_bytes(CKO_SECRET_KEY));
      EXPECT_EQ(attribute(s, h, CKA_KEY_TYPE), ulong_bytes(CKK_GOST28147));
      value = attribute(s, h, CKA_VALUE);
      EXPECT_EQ(f->C_DestroyObject(s, h), CKR_OK);
    };
    Bytes wrap_side, unwrap_side;
    derive_with(hk, rq, wrap_side);
    ASSERT_EQ(f->C_DestroyObject(s, hk), CKR_OK);
    derive_with(rk, eq, unwrap_side);
    EXPECT_EQ(wrap_side.size(), 32u);
    EXPECT_EQ(wrap_side, unwrap_side);
    // Only the recipient's pair and its session copy are left.
    Template all;
    EXPECT_EQ(find(s, all).size(), 3u);
    for (CK_OBJECT_HANDLE h : {rp, rk, rcopy}) ASSERT_EQ(f->C_DestroyObject(s, h), CKR_OK);
  }
}

TEST_F(Mechanisms, DeriveHashFollowsTheKeysHashParameters) {
  Bytes d = random_bytes(32);
  d[31] &= 0x3f;
  CK_OBJECT_HANDLE k94 = private_key(kCurveA256, kHash94CryptoPro, d);
  CK_OBJECT_HANDLE k12 = private_key(kCurveA256, kHash2012_256, d);
  CK_OBJECT_HANDLE pb, kb;
  generate(s, kCurveA256, kHash2012_256, pb, kb);
  Bytes qb = attribute(s, pb, CKA_VALUE), ukm = random_bytes(8), a, b;
  ASSERT_EQ(derive(k94, 32, qb, ukm, a), CKR_OK);
  ASSERT_EQ(derive(k12, 32, qb, ukm, b), CKR_OK);
  EXPECT_NE(a, b);
}

TEST_F(Mechanisms, DeriveErrors) {
  CK_OBJECT_HANDLE pa, ka, pb, kb;
  generate(s, kCurveA256, kHash2012_256, pa, ka);
  generate(s, kCurveA512, kHash2012_512, pb, kb);
  Bytes qa = attribute(s, pa, CKA_VALUE), out;
  Bytes ukm = random_bytes(8);
  EXPECT_EQ(derive(ka, 32, Bytes(qa.begin(), qa.begin() + 63), ukm, out), CKR_MECHANISM_PARAM_INVALID);
  Bytes off = qa;
  off[3] ^= 1;
  EXPECT_EQ(derive(ka, 32, off, ukm, out), CKR_MECHANISM_PARAM_INVALID);
  EXPECT_EQ(derive(ka, 32, qa, Bytes(8, 0), out), CKR_MECHANISM_PARAM_INVALID);
  EXPECT_EQ(derive(ka, 32, qa, Bytes(), out), CKR_MECHANISM_PARAM_INVALID);
  EXPECT_EQ(derive(ka, 32, qa, random_bytes(17), out), CKR_MECHANISM_PARAM_INVALID);  // over n/2 bits
  EXPECT_EQ(derive(kb, 32, qa, ukm, out), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(derive(pa, 32, qa, ukm, out), CKR_KEY_TYPE_INCONSISTENT);
  CK_GOSTR3410_DERIVE_PARAMS p{CKD_SHA1_KDF, qa.data(), qa.size(), ukm.data(), ukm.size()};
  CK_MECHANISM m{CKM_GOSTR3410_DERIVE, &p, sizeof p};
  CK_OBJECT_HANDLE h;
  EXPECT_EQ(f->C_DeriveKey(s, &m, ka, nullptr, 0, &h), CKR_MECHANISM_PARAM_INVALID);
  p.kdf = CKD_NULL;
  m.ulParameterLen = 3;
  EXPECT_EQ(f->C_DeriveKey(s, &m, ka, nullptr, 0, &h), CKR_MECHANISM_PARAM_INVALID);
  m.ulParameterLen = sizeof p;
  Template wrong;
  wrong.ulong(CKA_CLASS, CKO_PUBLIC_KEY);
  EXPECT_EQ(f->C_DeriveKey(s, &m, ka, wrong.data(), wrong.size(), &h), CKR_TEMPLATE_INCONSISTENT);
  // Without a template the agreed key is a sensitive session key.
  ASSERT_EQ(f->C_DeriveKey(s, &m, ka, nullptr, 0, &h), CKR_OK);
  CK_RV rv;
  attribute(s, h, CKA_VALUE, &rv);
  EXPECT_EQ(rv, CKR_ATTRIBUTE_SENSITIVE);
  Template noderive;
  noderive.bytes(CKA_DERIVE, Bytes{0});
  ASSERT_EQ(f->C_SetAttributeValue(s, ka, noderive.data(), noderive.size()), CKR_OK);
  EXPECT_EQ(f->C_DeriveKey(s, &m, ka, nullptr, 0, &h), CKR_KEY_FUNCTION_NOT_PERMITTED);
}

}  // namespace
}  // namespace sttest
