// What may be made: every template the token refuses, with the code it
// answers, and who may trust a certificate.
#include <cstring>
#include <functional>

#include "st_fixture.h"

namespace sttest {
namespace {

// Curve A-256: its base point and its order, little-endian.
Bytes base_point() {
  Bytes p = reversed(from_hex("0000000000000000000000000000000000000000000000000000000000000001"));
  Bytes y = reversed(from_hex("8D91E471E0989CDA27DF505A453F2B7635294F2DDF23E3B122ACC99C9E9F1E14"));
  p.insert(p.end(), y.begin(), y.end());
  return p;
}
const Bytes kOrder = reversed(from_hex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF6C611070995AD10045841B09B761B893"));

Bytes minus_one(Bytes le) {
  for (auto& b : le)
    if (b-- != 0) break;
  return le;
}

void public_key(Template& t, const Bytes& value, const Bytes& curve = kCurveA256) {
  t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_GOSTR3410).bytes(CKA_GOSTR3410_PARAMS, curve)
      .bytes(CKA_VALUE, value);
}
void private_key(Template& t, const Bytes& value, CK_KEY_TYPE type = CKK_GOSTR3410) {
  t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, type).bytes(CKA_GOSTR3410_PARAMS, kCurveA256)
      .bytes(CKA_VALUE, value);
}
void certificate(Template& t, CK_CERTIFICATE_TYPE type = CKC_X_509) {
  t.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, type).bytes(CKA_SUBJECT, Bytes{0x30, 0})
      .bytes(CKA_VALUE, Bytes{0x30, 0});
}

struct TemplateCase {
  const char* name;
  std::function<void(Template&)> build;
  CK_RV want;
};

const TemplateCase kTemplates[] = {
    {"unknown class", [](Template& t) { t.ulong(CKA_CLASS, CKO_VENDOR_DEFINED + 7); }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"unknown certificate type", [](Template& t) { certificate(t, CKC_WTLS); }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"unknown key type",
     [](Template& t) { t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_RSA).bytes(CKA_VALUE, Bytes(32, 1)); },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"data object that signs", [](Template& t) { t.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_SIGN, true); },
     CKR_ATTRIBUTE_TYPE_INVALID},
    {"public key that signs", [](Template& t) { public_key(t, base_point()); t.boolean(CKA_SIGN, true); },
     CKR_ATTRIBUTE_TYPE_INVALID},
    {"certificate with a key type", [](Template& t) { certificate(t); t.ulong(CKA_KEY_TYPE, CKK_GOSTR3410); },
     CKR_ATTRIBUTE_TYPE_INVALID},
    {"GOST key with a modulus", [](Template& t) { private_key(t, Bytes(32, 1)); t.bytes(CKA_MODULUS, Bytes(8, 1)); },
     CKR_ATTRIBUTE_TYPE_INVALID},
    {"public key without its value",
     [](Template& t) {
       t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_GOSTR3410).bytes(CKA_GOSTR3410_PARAMS, kCurveA256);
     },
     CKR_TEMPLATE_INCOMPLETE},
    {"private key without its curve",
     [](Template& t) {
       t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_GOSTR3410).bytes(CKA_VALUE, Bytes(32, 1));
     },
     CKR_TEMPLATE_INCOMPLETE},
    {"secret key without its value",
     [](Template& t) { t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GOST28147); },
     CKR_TEMPLATE_INCOMPLETE},
    {"public value one byte short",
     [](Template& t) {
       Bytes p = base_point();
       p.pop_back();
       public_key(t, p);
     },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"public value off the curve",
     [](Template& t) {
       Bytes p = base_point();
       p[32] ^= 1;
       public_key(t, p);
     },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"public value of another curve size", [](Template& t) { public_key(t, base_point(), kCurveA512); },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"private value 0", [](Template& t) { private_key(t, Bytes(32, 0)); }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"private value q", [](Template& t) { private_key(t, kOrder); }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"private value of 31 bytes", [](Template& t) { private_key(t, Bytes(31, 1)); }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"256-bit curve for a 512-bit key type", [](Template& t) { private_key(t, Bytes(32, 1), CKK_GOSTR3410_512); },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"point of the twisted Edwards curve outside the subgroup of order q",
     [](Template& t) {
       Bytes p = reversed(from_hex("18476B1AF2E5CECDC380E4C91D2A3A5C2B6C0788066615E2B4E9A63246463E96"));
       Bytes y = reversed(from_hex("4CFA952E3B48A1409977E07FABA396136986D7E8EDC05C336154375BE5070030"));
       p.insert(p.end(), y.begin(), y.end());
       public_key(t, p, kCurveTc26A256);
     },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"unknown curve", [](Template& t) { public_key(t, base_point(), der_oid("1.2.643.2.2.35.9")); },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"unknown hash set",
     [](Template& t) { private_key(t, Bytes(32, 1)); t.bytes(CKA_GOSTR3411_PARAMS, der_oid("1.2.643.2.2.30.9")); },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"unknown cipher set",
     [](Template& t) { private_key(t, Bytes(32, 1)); t.bytes(CKA_GOST28147_PARAMS, der_oid("1.2.643.2.2.31.99")); },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"GOST 28147-89 key of 16 bytes",
     [](Template& t) {
       t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GOST28147).bytes(CKA_VALUE, Bytes(16, 1));
     },
     CKR_ATTRIBUTE_VALUE_INVALID},
    // The boundaries that are accepted.
    {"private value q - 1", [](Template& t) { private_key(t, minus_one(kOrder)); }, CKR_OK},
    {"private value 1", [](Template& t) { private_key(t, reversed(from_hex(std::string(62, '0') + "01"))); }, CKR_OK},
    {"the base point", [](Template& t) { public_key(t, base_point()); }, CKR_OK},
};

using Templates = SoftTokenTest;

TEST_F(Templates, EveryBadTemplateIsRefusedWithItsCode) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  CK_OBJECT_HANDLE data = create_data(s, "to copy", false);
  for (const TemplateCase& c : kTemplates) {
    Template t;
    c.build(t);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(f->C_CreateObject(s, t.data(), t.size(), &h), c.want) << c.name;
    if (c.want != CKR_OK) continue;
    // A key that could be made can be used.
    CK_ULONG cls = 0;
    std::memcpy(&cls, attribute(s, h, CKA_CLASS).data(), sizeof cls);
    bool pub = cls == CKO_PUBLIC_KEY;
    Template use;
    use.boolean(pub ? CKA_VERIFY : CKA_SIGN, true);
    ASSERT_EQ(f->C_SetAttributeValue(s, h, use.data(), use.size()), CKR_OK) << c.name;
    CK_MECHANISM m{CKM_GOSTR3410, nullptr, 0};
    uint8_t digest[32] = {1}, sig[64] = {0};
    CK_ULONG len = sizeof sig;
    if (pub) {
      ASSERT_EQ(f->C_VerifyInit(s, &m, h), CKR_OK) << c.name;
      EXPECT_EQ(f->C_Verify(s, digest, 32, sig, len), CKR_SIGNATURE_INVALID) << c.name;
    } else {
      ASSERT_EQ(f->C_SignInit(s, &m, h), CKR_OK) << c.name;
      EXPECT_EQ(f->C_Sign(s, digest, 32, sig, &len), CKR_OK) << c.name;
    }
  }
  // A copy, and a change, keep to the attributes of the class.
  Template sign;
  sign.boolean(CKA_SIGN, true);
  CK_OBJECT_HANDLE copy;
  EXPECT_EQ(f->C_CopyObject(s, data, sign.data(), sign.size(), &copy), CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(f->C_SetAttributeValue(s, data, sign.data(), sign.size()), CKR_ATTRIBUTE_TYPE_INVALID);
  // So do attributes that are fixed where a class has them.
  for (CK_ATTRIBUTE_TYPE type : {CKA_KEY_TYPE, CKA_CERTIFICATE_TYPE, CKA_VALUE_LEN, CKA_GOSTR3410_PARAMS}) {
    EXPECT_EQ(f->C_CopyObject(s, data, Template().ulong(type, 1).data(), 1, &copy), CKR_ATTRIBUTE_TYPE_INVALID) << type;
    EXPECT_EQ(f->C_SetAttributeValue(s, data, Template().ulong(type, 1).data(), 1), CKR_ATTRIBUTE_TYPE_INVALID) << type;
  }
  // Generation refuses an unknown hash set before it computes anything.
  CK_MECHANISM gen{CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
  Template pt, kt;
  pt.bytes(CKA_GOSTR3410_PARAMS, kCurveA256).bytes(CKA_GOSTR3411_PARAMS, der_oid("1.2.643.2.2.30.9"));
  CK_OBJECT_HANDLE pub, priv;
  EXPECT_EQ(f->C_GenerateKeyPair(s, &gen, pt.data(), pt.size(), kt.data(), kt.size(), &pub, &priv),
            CKR_ATTRIBUTE_VALUE_INVALID);
}

// Only the SO trusts a certificate, and only the SO changes a trusted one.
TEST_F(Templates, TrustIsTheSecurityOfficers) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE so = open(slot);
  ASSERT_EQ(f->C_Login(so, CKU_SO, (CK_UTF8CHAR_PTR)kSoPin, std::strlen(kSoPin)), CKR_OK);
  Template trusted;
  certificate(trusted);
  trusted.boolean(CKA_TOKEN, true).boolean(CKA_TRUSTED, true).text(CKA_LABEL, "root");
  CK_OBJECT_HANDLE root = 0;
  ASSERT_EQ(f->C_CreateObject(so, trusted.data(), trusted.size(), &root), CKR_OK);
  Template relabel;
  relabel.text(CKA_LABEL, "renamed by the SO");
  EXPECT_EQ(f->C_SetAttributeValue(so, root, relabel.data(), relabel.size()), CKR_OK);
  ASSERT_EQ(f->C_Logout(so), CKR_OK);
  ASSERT_EQ(f->C_CloseSession(so), CKR_OK);

  CK_SESSION_HANDLE s = open_user(slot);
  Template plain;
  certificate(plain);
  plain.boolean(CKA_TOKEN, true);
  CK_OBJECT_HANDLE mine = 0, h = 0;
  ASSERT_EQ(f->C_CreateObject(s, plain.data(), plain.size(), &mine), CKR_OK);
  Template trust;
  trust.boolean(CKA_TRUSTED, true);
  Template distrust;
  distrust.boolean(CKA_TRUSTED, false);
  struct {
    const char* name;
    std::function<CK_RV()> act;
    CK_RV want;
  } cases[] = {
      {"user creates a trusted certificate", [&] { return f->C_CreateObject(s, trusted.data(), trusted.size(), &h); },
       CKR_ATTRIBUTE_READ_ONLY},
      {"user trusts a certificate", [&] { return f->C_SetAttributeValue(s, mine, trust.data(), trust.size()); },
       CKR_ATTRIBUTE_READ_ONLY},
      {"user renames a trusted certificate",
       [&] { return f->C_SetAttributeValue(s, root, relabel.data(), relabel.size()); }, CKR_ATTRIBUTE_READ_ONLY},
      {"user distrusts a trusted certificate",
       [&] { return f->C_SetAttributeValue(s, root, distrust.data(), distrust.size()); }, CKR_ATTRIBUTE_READ_ONLY},
      {"user copies a trusted certificate as it is", [&] { return f->C_CopyObject(s, root, nullptr, 0, &h); },
       CKR_ATTRIBUTE_READ_ONLY},
      {"user renames an untrusted certificate",
       [&] { return f->C_SetAttributeValue(s, mine, relabel.data(), relabel.size()); }, CKR_OK},
  };
  for (auto& c : cases) EXPECT_EQ(c.act(), c.want) << c.name;
  Bytes label = attribute(s, root, CKA_LABEL);
  EXPECT_EQ(std::string(label.begin(), label.end()), "renamed by the SO");
  EXPECT_EQ(attribute(s, root, CKA_TRUSTED), Bytes{1});
}

}  // namespace
}  // namespace sttest
