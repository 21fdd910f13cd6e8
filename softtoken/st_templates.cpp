#include "st_templates.h"

#include <set>
#include <vector>

#include "gost28147_89.h"
#include "st_gost.h"
#include "st_gost_curves.h"

namespace softtoken {
namespace {

using TypeSet = std::set<CK_ATTRIBUTE_TYPE>;

const TypeSet kStorage = {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_LABEL};
const TypeSet kData = {CKA_APPLICATION, CKA_OBJECT_ID, CKA_VALUE};
const TypeSet kCertificate = {CKA_CERTIFICATE_TYPE, CKA_TRUSTED, CKA_CERTIFICATE_CATEGORY, CKA_CHECK_VALUE,
                              CKA_START_DATE, CKA_END_DATE};
const TypeSet kX509 = {CKA_SUBJECT, CKA_ID, CKA_ISSUER, CKA_SERIAL_NUMBER, CKA_VALUE, CKA_URL,
                       CKA_HASH_OF_SUBJECT_PUBLIC_KEY, CKA_HASH_OF_ISSUER_PUBLIC_KEY,
                       CKA_JAVA_MIDP_SECURITY_DOMAIN};
const TypeSet kKey = {CKA_KEY_TYPE, CKA_ID, CKA_START_DATE, CKA_END_DATE, CKA_DERIVE, CKA_LOCAL,
                      CKA_KEY_GEN_MECHANISM};
const TypeSet kPublicKey = {CKA_SUBJECT, CKA_ENCRYPT, CKA_VERIFY, CKA_VERIFY_RECOVER, CKA_WRAP, CKA_TRUSTED};
const TypeSet kPrivateKey = {CKA_SUBJECT, CKA_SENSITIVE, CKA_DECRYPT, CKA_SIGN, CKA_SIGN_RECOVER, CKA_UNWRAP,
                             CKA_EXTRACTABLE, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE, CKA_WRAP_WITH_TRUSTED,
                             CKA_ALWAYS_AUTHENTICATE};
const TypeSet kSecretKey = {CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY, CKA_WRAP, CKA_UNWRAP,
                            CKA_EXTRACTABLE, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE, CKA_CHECK_VALUE,
                            CKA_WRAP_WITH_TRUSTED, CKA_TRUSTED};
const TypeSet kGostKey = {CKA_VALUE, CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS, CKA_GOST28147_PARAMS};
const TypeSet kGost28147Key = {CKA_VALUE, CKA_VALUE_LEN, CKA_GOST28147_PARAMS};
const TypeSet kGenericSecret = {CKA_VALUE, CKA_VALUE_LEN};

using TypeSets = std::vector<const TypeSet*>;

bool in_any(CK_ATTRIBUTE_TYPE t, const TypeSets& sets) {
  for (const TypeSet* s : sets)
    if (s->count(t)) return true;
  return false;
}

CK_RV only(const AttrMap& attrs, const TypeSets& sets) {
  for (const auto& [type, value] : attrs)
    if (!in_any(type, sets)) return CKR_ATTRIBUTE_TYPE_INVALID;
  return CKR_OK;
}

const SecureBytes* find(const AttrMap& attrs, CK_ATTRIBUTE_TYPE t) {
  auto it = attrs.find(t);
  return it == attrs.end() ? nullptr : &it->second;
}

bool known_hash_oid(const SecureBytes& der) {
  static const Bytes kHashes[] = {
      {0x06, 0x07, 0x2a, 0x85, 0x03, 0x02, 0x02, 0x1e, 0x01},              // GOST R 34.11-94, CryptoPro set
      {0x06, 0x08, 0x2a, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02},        // GOST R 34.11-2012, 256 bits
      {0x06, 0x08, 0x2a, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x03}};       // GOST R 34.11-2012, 512 bits
  for (const Bytes& h : kHashes)
    if (der.size() == h.size() && std::equal(h.begin(), h.end(), der.begin())) return true;
  return false;
}

bool known_cipher_oid(const SecureBytes& der) {
  const GOST28147_89_PARAM* p = nullptr;
  return !der.empty() && GOST28147_89_FindParByDerOid(der.data(), static_cast<uint32_t>(der.size()), &p) == 0 && p;
}

CK_RV check_gost_key(const AttrMap& attrs, CK_OBJECT_CLASS cls, CK_KEY_TYPE type, bool value_made_here) {
  const SecureBytes* curve_oid = find(attrs, CKA_GOSTR3410_PARAMS);
  const SecureBytes* value = find(attrs, CKA_VALUE);
  if (!curve_oid || !value) return CKR_TEMPLATE_INCOMPLETE;
  const GostCurve* curve = find_gost_curve(curve_oid->data(), curve_oid->size());
  if (!curve || type != (curve->n == 64 ? CKK_GOSTR3410_512 : CKK_GOSTR3410)) return CKR_ATTRIBUTE_VALUE_INVALID;
  const SecureBytes* hash = find(attrs, CKA_GOSTR3411_PARAMS);
  if (hash && !known_hash_oid(*hash)) return CKR_ATTRIBUTE_VALUE_INVALID;
  const SecureBytes* cipher = find(attrs, CKA_GOST28147_PARAMS);
  if (cipher && !known_cipher_oid(*cipher)) return CKR_ATTRIBUTE_VALUE_INVALID;
  if (value_made_here) {
    // A pair just generated on the curve: its values need only their sizes.
    return value->size() == (cls == CKO_PUBLIC_KEY ? 2 : 1) * curve->n ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
  }
  if (cls == CKO_PUBLIC_KEY)
    return gost_point_valid(*curve, value->data(), value->size()) ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
  return gost_private_valid(*curve, value->data(), value->size()) ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
}

// The attributes an object of this class (and key type) has.
TypeSets class_attributes(CK_ULONG cls, CK_ULONG key_type) {
  switch (cls) {
    case CKO_DATA:
      return {&kStorage, &kData};
    case CKO_CERTIFICATE:
      return {&kStorage, &kCertificate, &kX509};
    case CKO_PUBLIC_KEY:
      return {&kStorage, &kKey, &kPublicKey, &kGostKey};
    case CKO_PRIVATE_KEY:
      return {&kStorage, &kKey, &kPrivateKey, &kGostKey};
    default:
      return {&kStorage, &kKey, &kSecretKey, key_type == CKK_GOST28147 ? &kGost28147Key : &kGenericSecret};
  }
}

CK_RV check_key(const AttrMap& attrs, CK_OBJECT_CLASS cls, bool value_made_here) {
  CK_ULONG type = 0;
  if (!get_ulong(attrs, CKA_KEY_TYPE, type)) return CKR_TEMPLATE_INCOMPLETE;
  if (cls != CKO_SECRET_KEY) {
    if (type != CKK_GOSTR3410 && type != CKK_GOSTR3410_512) return CKR_ATTRIBUTE_VALUE_INVALID;
    CK_RV rv = only(attrs, class_attributes(cls, type));
    return rv != CKR_OK ? rv : check_gost_key(attrs, cls, type, value_made_here);
  }
  if (type != CKK_GOST28147 && type != CKK_GENERIC_SECRET) return CKR_ATTRIBUTE_VALUE_INVALID;
  CK_RV rv = only(attrs, class_attributes(cls, type));
  if (rv != CKR_OK) return rv;
  const SecureBytes* value = find(attrs, CKA_VALUE);
  if (!value) return CKR_TEMPLATE_INCOMPLETE;
  if (value->empty() || (type == CKK_GOST28147 && value->size() != 32)) return CKR_ATTRIBUTE_VALUE_INVALID;
  CK_ULONG len = 0;
  if (attrs.count(CKA_VALUE_LEN) && (!get_ulong(attrs, CKA_VALUE_LEN, len) || len != value->size()))
    return CKR_TEMPLATE_INCONSISTENT;
  const SecureBytes* cipher = find(attrs, CKA_GOST28147_PARAMS);
  if (cipher && !known_cipher_oid(*cipher)) return CKR_ATTRIBUTE_VALUE_INVALID;
  return CKR_OK;
}

CK_RV check_certificate(const AttrMap& attrs) {
  CK_ULONG type = 0, category = 0;
  if (!get_ulong(attrs, CKA_CERTIFICATE_TYPE, type)) return CKR_TEMPLATE_INCOMPLETE;
  if (type != CKC_X_509) return CKR_ATTRIBUTE_VALUE_INVALID;
  CK_RV rv = only(attrs, class_attributes(CKO_CERTIFICATE, 0));
  if (rv != CKR_OK) return rv;
  if (!attrs.count(CKA_SUBJECT) || !attrs.count(CKA_VALUE)) return CKR_TEMPLATE_INCOMPLETE;
  if (get_ulong(attrs, CKA_CERTIFICATE_CATEGORY, category) && category > 3) return CKR_ATTRIBUTE_VALUE_INVALID;
  return CKR_OK;
}

}  // namespace

CK_RV check_object(const AttrMap& attrs, bool value_made_here) {
  CK_ULONG cls = 0;
  if (!get_ulong(attrs, CKA_CLASS, cls)) return CKR_TEMPLATE_INCOMPLETE;
  switch (cls) {
    case CKO_DATA:
      return only(attrs, class_attributes(CKO_DATA, 0));
    case CKO_CERTIFICATE:
      return check_certificate(attrs);
    case CKO_PUBLIC_KEY:
    case CKO_PRIVATE_KEY:
    case CKO_SECRET_KEY:
      return check_key(attrs, cls, value_made_here);
    default:
      return CKR_ATTRIBUTE_VALUE_INVALID;
  }
}

CK_RV check_attribute_types(const AttrMap& object, const AttrMap& changes) {
  CK_ULONG cls = 0, key_type = 0;
  get_ulong(object, CKA_CLASS, cls);
  get_ulong(object, CKA_KEY_TYPE, key_type);
  return only(changes, class_attributes(cls, key_type));
}

CK_RV check_trust(const AttrMap* before, const AttrMap& after_or_changes, bool so) {
  if (so) return CKR_OK;
  if (before && get_bool(*before, CKA_TRUSTED, false)) return CKR_ATTRIBUTE_READ_ONLY;
  if (get_bool(after_or_changes, CKA_TRUSTED, false)) return CKR_ATTRIBUTE_READ_ONLY;
  return CKR_OK;
}

}  // namespace softtoken
