// Object rules: visibility, read-only sessions, attribute errors, exact
// matching, and the templates the engine's store sends.
#include <cstring>

#include "st_fixture.h"

namespace sttest {
namespace {

using ObjectRules = SoftTokenTest;

TEST_F(ObjectRules, PrivateObjectsAreVisibleOnlyAfterLogin) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  CK_OBJECT_HANDLE pub = create_data(s, "public"), priv = create_data(s, "private", true, true);
  CK_OBJECT_HANDLE spriv = create_data(s, "session private", false, true);
  Template all;
  EXPECT_EQ(find(s, all).size(), 3u);
  ASSERT_EQ(f->C_Logout(s), CKR_OK);
  auto seen = find(s, all);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], pub);
  CK_RV rv;
  attribute(s, priv, CKA_LABEL, &rv);
  EXPECT_EQ(rv, CKR_OBJECT_HANDLE_INVALID);
  attribute(s, spriv, CKA_LABEL, &rv);
  EXPECT_EQ(rv, CKR_OBJECT_HANDLE_INVALID);
  EXPECT_EQ(f->C_DestroyObject(s, priv), CKR_OBJECT_HANDLE_INVALID);
  // Creating a private object needs the user.
  Template t;
  t.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_PRIVATE, true);
  CK_OBJECT_HANDLE h;
  EXPECT_EQ(f->C_CreateObject(s, t.data(), t.size(), &h), CKR_USER_NOT_LOGGED_IN);
}

TEST_F(ObjectRules, ReadOnlySessionsKeepTokenObjectsUnchanged) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE rw = open_user(slot);
  CK_OBJECT_HANDLE obj = create_data(rw, "stored");
  CK_SESSION_HANDLE ro = open(slot, false);
  Template t;
  t.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_TOKEN, true);
  CK_OBJECT_HANDLE h;
  EXPECT_EQ(f->C_CreateObject(ro, t.data(), t.size(), &h), CKR_SESSION_READ_ONLY);
  EXPECT_EQ(f->C_DestroyObject(ro, obj), CKR_SESSION_READ_ONLY);
  Template label;
  label.text(CKA_LABEL, "renamed");
  EXPECT_EQ(f->C_SetAttributeValue(ro, obj, label.data(), label.size()), CKR_SESSION_READ_ONLY);
  // Session objects are fine in a read-only session, and go with it.
  CK_OBJECT_HANDLE mine = create_data(ro, "mine", false);
  EXPECT_EQ(f->C_SetAttributeValue(ro, mine, label.data(), label.size()), CKR_OK);
  Template by_label;
  by_label.text(CKA_LABEL, "renamed");
  EXPECT_EQ(find(rw, by_label).size(), 1u);
  f->C_CloseSession(ro);
  EXPECT_TRUE(find(rw, by_label).empty());
  CK_RV rv;
  attribute(rw, mine, CKA_LABEL, &rv);
  EXPECT_EQ(rv, CKR_OBJECT_HANDLE_INVALID);
}

TEST_F(ObjectRules, GetAttributeValueErrors) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  Template t;
  Bytes secret(32, 0x5A);
  t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_GOSTR3410).boolean(CKA_TOKEN, true)
      .text(CKA_LABEL, "key").bytes(CKA_VALUE, secret).bytes(CKA_GOSTR3410_PARAMS, kCurveA256);
  CK_OBJECT_HANDLE key;
  ASSERT_EQ(f->C_CreateObject(s, t.data(), t.size(), &key), CKR_OK);
  char label[2];
  CK_ULONG cls = 0;
  CK_ATTRIBUTE a[4] = {{CKA_LABEL, label, sizeof label},
                       {CKA_VALUE, nullptr, 0},
                       {CKA_MODULUS, nullptr, 0},
                       {CKA_CLASS, &cls, sizeof cls}};
  CK_RV rv = f->C_GetAttributeValue(s, key, a, 4);
  EXPECT_TRUE(rv == CKR_BUFFER_TOO_SMALL || rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(a[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(a[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(a[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(a[3].ulValueLen, sizeof cls);
  EXPECT_EQ(cls, CKO_PRIVATE_KEY);
  CK_ATTRIBUTE one{CKA_VALUE, nullptr, 0};
  EXPECT_EQ(f->C_GetAttributeValue(s, key, &one, 1), CKR_ATTRIBUTE_SENSITIVE);
  one = {CKA_MODULUS, nullptr, 0};
  EXPECT_EQ(f->C_GetAttributeValue(s, key, &one, 1), CKR_ATTRIBUTE_TYPE_INVALID);
  one = {CKA_LABEL, label, 1};
  EXPECT_EQ(f->C_GetAttributeValue(s, key, &one, 1), CKR_BUFFER_TOO_SMALL);
  one = {CKA_LABEL, nullptr, 0};
  ASSERT_EQ(f->C_GetAttributeValue(s, key, &one, 1), CKR_OK);
  EXPECT_EQ(one.ulValueLen, 3u);
  // Defaults of an imported key: sensitive, not extractable, not local.
  EXPECT_EQ(attribute(s, key, CKA_SENSITIVE), Bytes{1});
  EXPECT_EQ(attribute(s, key, CKA_EXTRACTABLE), Bytes{0});
  EXPECT_EQ(attribute(s, key, CKA_LOCAL), Bytes{0});
  EXPECT_EQ(attribute(s, key, CKA_ALWAYS_SENSITIVE), Bytes{0});
  EXPECT_EQ(f->C_GetAttributeValue(s, key + 1000, &one, 1), CKR_OBJECT_HANDLE_INVALID);
  // An extractable, non-sensitive key gives its value.
  Template t2;
  t2.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GOST28147).bytes(CKA_VALUE, secret)
      .boolean(CKA_SENSITIVE, false).boolean(CKA_EXTRACTABLE, true);
  CK_OBJECT_HANDLE sk;
  ASSERT_EQ(f->C_CreateObject(s, t2.data(), t2.size(), &sk), CKR_OK);
  EXPECT_EQ(attribute(s, sk, CKA_VALUE), secret);
}

TEST_F(ObjectRules, SetAttributeValueRules) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  Template t;
  t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GOST28147).boolean(CKA_TOKEN, true)
      .bytes(CKA_VALUE, Bytes(32, 1)).boolean(CKA_SENSITIVE, false).boolean(CKA_EXTRACTABLE, true);
  CK_OBJECT_HANDLE k;
  ASSERT_EQ(f->C_CreateObject(s, t.data(), t.size(), &k), CKR_OK);
  Template ok;
  ok.text(CKA_LABEL, "new label").bytes(CKA_ID, Bytes{1, 2, 3});
  ASSERT_EQ(f->C_SetAttributeValue(s, k, ok.data(), ok.size()), CKR_OK);
  EXPECT_EQ(attribute(s, k, CKA_ID), (Bytes{1, 2, 3}));
  for (CK_ATTRIBUTE_TYPE fixed : {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_KEY_TYPE, CKA_VALUE, CKA_LOCAL}) {
    Template bad;
    if (fixed == CKA_CLASS || fixed == CKA_KEY_TYPE) bad.ulong(fixed, 1);
    else if (fixed == CKA_VALUE) bad.bytes(fixed, Bytes(32, 2));
    else bad.boolean(fixed, true);
    EXPECT_EQ(f->C_SetAttributeValue(s, k, bad.data(), bad.size()), CKR_ATTRIBUTE_READ_ONLY) << std::hex << fixed;
  }
  Template up;
  up.boolean(CKA_SENSITIVE, true);
  ASSERT_EQ(f->C_SetAttributeValue(s, k, up.data(), up.size()), CKR_OK);
  Template down;
  down.boolean(CKA_SENSITIVE, false);
  EXPECT_EQ(f->C_SetAttributeValue(s, k, down.data(), down.size()), CKR_ATTRIBUTE_READ_ONLY);
  Template badlen;
  badlen.bytes(CKA_SENSITIVE, Bytes{1, 1});
  EXPECT_EQ(f->C_SetAttributeValue(s, k, badlen.data(), badlen.size()), CKR_ATTRIBUTE_VALUE_INVALID);
  // A failed change leaves the object as it was.
  Template mixed;
  mixed.text(CKA_LABEL, "half").ulong(CKA_CLASS, CKO_DATA);
  EXPECT_EQ(f->C_SetAttributeValue(s, k, mixed.data(), mixed.size()), CKR_ATTRIBUTE_READ_ONLY);
  Bytes label = attribute(s, k, CKA_LABEL);
  EXPECT_EQ(std::string(label.begin(), label.end()), "new label");
}

TEST_F(ObjectRules, CreateObjectTemplateErrors) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  CK_OBJECT_HANDLE h;
  Template none;
  none.text(CKA_LABEL, "x");
  EXPECT_EQ(f->C_CreateObject(s, none.data(), none.size(), &h), CKR_TEMPLATE_INCOMPLETE);
  Template dup;
  dup.ulong(CKA_CLASS, CKO_DATA).text(CKA_LABEL, "a").text(CKA_LABEL, "b");
  EXPECT_EQ(f->C_CreateObject(s, dup.data(), dup.size(), &h), CKR_TEMPLATE_INCONSISTENT);
  Template badbool;
  badbool.ulong(CKA_CLASS, CKO_DATA).bytes(CKA_TOKEN, Bytes{1, 0, 0, 0});
  EXPECT_EQ(f->C_CreateObject(s, badbool.data(), badbool.size(), &h), CKR_ATTRIBUTE_VALUE_INVALID);
  Template local;
  local.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GOST28147).boolean(CKA_LOCAL, true);
  EXPECT_EQ(f->C_CreateObject(s, local.data(), local.size(), &h), CKR_ATTRIBUTE_READ_ONLY);
  Template nokeytype;
  nokeytype.ulong(CKA_CLASS, CKO_PUBLIC_KEY);
  EXPECT_EQ(f->C_CreateObject(s, nokeytype.data(), nokeytype.size(), &h), CKR_TEMPLATE_INCOMPLETE);
  Template cert;
  cert.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, CKC_X_509).bytes(CKA_VALUE, Bytes{0x30, 0});
  EXPECT_EQ(f->C_CreateObject(s, cert.data(), cert.size(), &h), CKR_TEMPLATE_INCOMPLETE);  // no subject
  EXPECT_EQ(f->C_CreateObject(s, nullptr, 1, &h), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(f->C_CreateObject(s + 50, none.data(), none.size(), &h), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(ObjectRules, FindMatchesBytesExactly) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  Template with_zero;
  with_zero.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_TOKEN, true).bytes(CKA_LABEL, Bytes{'k', 'e', 'y', 0});
  CK_OBJECT_HANDLE z;
  ASSERT_EQ(f->C_CreateObject(s, with_zero.data(), with_zero.size(), &z), CKR_OK);
  CK_OBJECT_HANDLE plain = create_data(s, "key");
  Template q1;
  q1.bytes(CKA_LABEL, Bytes{'k', 'e', 'y', 0});
  EXPECT_EQ(find(s, q1), std::vector<CK_OBJECT_HANDLE>{z});
  Template q2;
  q2.text(CKA_LABEL, "key");
  EXPECT_EQ(find(s, q2), std::vector<CK_OBJECT_HANDLE>{plain});
  Template q3;
  q3.text(CKA_LABEL, "ke");
  EXPECT_TRUE(find(s, q3).empty());
  Template q4;
  q4.text(CKA_LABEL, "key").ulong(CKA_CLASS, CKO_CERTIFICATE);
  EXPECT_TRUE(find(s, q4).empty());
  // A sensitive value cannot be probed by searching for it.
  Template key;
  key.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_GOSTR3410).bytes(CKA_VALUE, Bytes(32, 7))
      .bytes(CKA_GOSTR3410_PARAMS, kCurveA256);
  CK_OBJECT_HANDLE k;
  ASSERT_EQ(f->C_CreateObject(s, key.data(), key.size(), &k), CKR_OK);
  Template probe;
  probe.bytes(CKA_VALUE, Bytes(32, 7));
  EXPECT_TRUE(find(s, probe).empty());
  // One search at a time per session.
  ASSERT_EQ(f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  EXPECT_EQ(f->C_FindObjectsInit(s, nullptr, 0), CKR_OPERATION_ACTIVE);
  ASSERT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
  CK_ULONG n;
  EXPECT_EQ(f->C_FindObjects(s, &k, 1, &n), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(f->C_FindObjectsFinal(s), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(ObjectRules, DestroyAndCopy) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  CK_OBJECT_HANDLE obj = create_data(s, "orig");
  Template change;
  change.text(CKA_LABEL, "copy").boolean(CKA_TOKEN, false);
  CK_OBJECT_HANDLE copy;
  ASSERT_EQ(f->C_CopyObject(s, obj, change.data(), change.size(), &copy), CKR_OK);
  EXPECT_EQ(attribute(s, copy, CKA_TOKEN), Bytes{0});
  Bytes v = attribute(s, copy, CKA_VALUE);
  EXPECT_EQ(std::string(v.begin(), v.end()), "value of orig");
  ASSERT_EQ(f->C_DestroyObject(s, obj), CKR_OK);
  EXPECT_EQ(f->C_DestroyObject(s, obj), CKR_OBJECT_HANDLE_INVALID);
  ASSERT_EQ(f->C_DestroyObject(s, copy), CKR_OK);
  Template all;
  EXPECT_TRUE(find(s, all).empty());
}

// The private key, public key and certificate templates of the engine's store.
TEST_F(ObjectRules, StoreTemplatesAreAccepted) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  Bytes id(20, 0x11), z = der_oid("1.2.643.7.1.2.5.1.1");
  // The base point of the curve, as good a public value as any.
  Bytes pub = reversed(from_hex("0000000000000000000000000000000000000000000000000000000000000001"));
  Bytes gy = reversed(from_hex("8D91E471E0989CDA27DF505A453F2B7635294F2DDF23E3B122ACC99C9E9F1E14"));
  pub.insert(pub.end(), gy.begin(), gy.end());
  std::string label = "Imported";
  Bytes lab(label.begin(), label.end());
  lab.push_back(0);
  Template priv;
  priv.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_GOSTR3410).boolean(CKA_TOKEN, true)
      .boolean(CKA_PRIVATE, true).boolean(CKA_SIGN, true).boolean(CKA_DERIVE, true).boolean(CKA_DECRYPT, true)
      .bytes(CKA_GOSTR3410_PARAMS, kCurveA256).bytes(CKA_GOSTR3411_PARAMS, kHash2012_256)
      .bytes(CKA_GOST28147_PARAMS, z).bytes(CKA_LABEL, lab).bytes(CKA_ID, id).bytes(CKA_VALUE, Bytes(32, 3))
      .boolean(CKA_EXTRACTABLE, true).boolean(CKA_SENSITIVE, false);
  Template pubt;
  pubt.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_GOSTR3410).boolean(CKA_TOKEN, true)
      .boolean(CKA_PRIVATE, false).boolean(CKA_ENCRYPT, true).boolean(CKA_VERIFY, true)
      .bytes(CKA_GOSTR3410_PARAMS, kCurveA256).bytes(CKA_GOSTR3411_PARAMS, kHash2012_256)
      .bytes(CKA_GOST28147_PARAMS, z).bytes(CKA_LABEL, lab).bytes(CKA_ID, id).bytes(CKA_VALUE, pub);
  Template cert;
  cert.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, CKC_X_509).bytes(CKA_LABEL, lab)
      .bytes(CKA_ID, id).bytes(CKA_VALUE, Bytes{0x30, 0x03, 0x02, 0x01, 0x01}).bytes(CKA_SUBJECT, Bytes{0x30, 0})
      .boolean(CKA_PRIVATE, false).boolean(CKA_TOKEN, true).ulong(CKA_CERTIFICATE_CATEGORY, 1);
  CK_OBJECT_HANDLE h1, h2, h3;
  ASSERT_EQ(f->C_CreateObject(s, priv.data(), priv.size(), &h1), CKR_OK);
  ASSERT_EQ(f->C_CreateObject(s, pubt.data(), pubt.size(), &h2), CKR_OK);
  ASSERT_EQ(f->C_CreateObject(s, cert.data(), cert.size(), &h3), CKR_OK);
  // The store finds the public key by class, value and token flag.
  Template q;
  q.ulong(CKA_CLASS, CKO_PUBLIC_KEY).bytes(CKA_VALUE, pub).boolean(CKA_TOKEN, true);
  EXPECT_EQ(find(s, q), std::vector<CK_OBJECT_HANDLE>{h2});
  // An extractable, non-sensitive private key can be exported.
  EXPECT_EQ(attribute(s, h1, CKA_VALUE), Bytes(32, 3));
  EXPECT_EQ(attribute(s, h3, CKA_CERTIFICATE_CATEGORY).size(), sizeof(CK_ULONG));
}

}  // namespace
}  // namespace sttest
