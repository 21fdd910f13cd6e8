#include "st_attributes.h"

#include <cstring>
#include <set>

namespace softtoken {
namespace {

const std::set<CK_ATTRIBUTE_TYPE>& bool_types() {
  static const std::set<CK_ATTRIBUTE_TYPE> s = {
      CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT,
      CKA_WRAP, CKA_UNWRAP, CKA_SIGN, CKA_SIGN_RECOVER, CKA_VERIFY, CKA_VERIFY_RECOVER,
      CKA_DERIVE, CKA_EXTRACTABLE, CKA_LOCAL, CKA_NEVER_EXTRACTABLE, CKA_ALWAYS_SENSITIVE,
      CKA_TRUSTED, CKA_ALWAYS_AUTHENTICATE, CKA_WRAP_WITH_TRUSTED};
  return s;
}

const std::set<CK_ATTRIBUTE_TYPE>& ulong_types() {
  static const std::set<CK_ATTRIBUTE_TYPE> s = {
      CKA_CLASS, CKA_KEY_TYPE, CKA_CERTIFICATE_TYPE, CKA_CERTIFICATE_CATEGORY,
      CKA_KEY_GEN_MECHANISM, CKA_VALUE_LEN, CKA_MODULUS_BITS};
  return s;
}

// Set by the token only.
const std::set<CK_ATTRIBUTE_TYPE>& token_set_types() {
  static const std::set<CK_ATTRIBUTE_TYPE> s = {CKA_LOCAL, CKA_KEY_GEN_MECHANISM,
                                                 CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE};
  return s;
}

void put_u64(SecureBytes& out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t get_u64(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

void set_default(AttrMap& attrs, CK_ATTRIBUTE_TYPE type, const SecureBytes& value) {
  if (!attrs.count(type)) attrs[type] = value;
}

}  // namespace

CK_RV template_to_map(const CK_ATTRIBUTE* tmpl, CK_ULONG count, AttrMap& out) {
  out.clear();
  if (count && !tmpl) return CKR_ARGUMENTS_BAD;
  for (CK_ULONG i = 0; i < count; ++i) {
    const CK_ATTRIBUTE& a = tmpl[i];
    if (a.ulValueLen && !a.pValue) return CKR_ARGUMENTS_BAD;
    if (a.ulValueLen == CK_UNAVAILABLE_INFORMATION) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (out.count(a.type)) return CKR_TEMPLATE_INCONSISTENT;
    if (bool_types().count(a.type) && a.ulValueLen != sizeof(CK_BBOOL))
      return CKR_ATTRIBUTE_VALUE_INVALID;
    if (ulong_types().count(a.type) && a.ulValueLen != sizeof(CK_ULONG))
      return CKR_ATTRIBUTE_VALUE_INVALID;
    out[a.type] = secure_copy(a.pValue, a.ulValueLen);
  }
  return CKR_OK;
}

SecureBytes serialize_attrs(const AttrMap& attrs) {
  SecureBytes out;
  for (const auto& [type, value] : attrs) {
    put_u64(out, type, 8);
    put_u64(out, value.size(), 4);
    out.insert(out.end(), value.begin(), value.end());
  }
  return out;
}

bool parse_attrs(const uint8_t* data, size_t len, AttrMap& out) {
  out.clear();
  size_t pos = 0;
  while (pos < len) {
    if (len - pos < 12) return false;
    CK_ATTRIBUTE_TYPE type = static_cast<CK_ATTRIBUTE_TYPE>(get_u64(data + pos, 8));
    size_t n = static_cast<size_t>(get_u64(data + pos + 8, 4));
    pos += 12;
    if (len - pos < n) return false;
    out[type] = secure_copy(data + pos, n);
    pos += n;
  }
  return true;
}

bool get_ulong(const AttrMap& attrs, CK_ATTRIBUTE_TYPE type, CK_ULONG& value) {
  auto it = attrs.find(type);
  if (it == attrs.end() || it->second.size() != sizeof(CK_ULONG)) return false;
  std::memcpy(&value, it->second.data(), sizeof(CK_ULONG));
  return true;
}

bool get_bool(const AttrMap& attrs, CK_ATTRIBUTE_TYPE type, bool fallback) {
  auto it = attrs.find(type);
  if (it == attrs.end() || it->second.size() != 1) return fallback;
  return it->second[0] != 0;
}

void set_ulong(AttrMap& attrs, CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
  attrs[type] = secure_copy(&value, sizeof value);
}

void set_bool(AttrMap& attrs, CK_ATTRIBUTE_TYPE type, bool value) {
  attrs[type] = SecureBytes{static_cast<uint8_t>(value ? CK_TRUE : CK_FALSE)};
}

void set_default_bool(AttrMap& attrs, CK_ATTRIBUTE_TYPE type, bool value) {
  if (!attrs.count(type)) set_bool(attrs, type, value);
}

CK_OBJECT_CLASS object_class(const AttrMap& attrs) {
  CK_ULONG cls = CK_UNAVAILABLE_INFORMATION;
  get_ulong(attrs, CKA_CLASS, cls);
  return cls;
}

bool is_key_class(CK_OBJECT_CLASS cls) {
  return cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY;
}

bool is_secret_attribute(CK_OBJECT_CLASS cls, CK_ATTRIBUTE_TYPE type) {
  if (cls == CKO_SECRET_KEY) return type == CKA_VALUE;
  if (cls != CKO_PRIVATE_KEY) return false;
  switch (type) {
    case CKA_VALUE:
    case CKA_PRIVATE_EXPONENT:
    case CKA_PRIME_1:
    case CKA_PRIME_2:
    case CKA_EXPONENT_1:
    case CKA_EXPONENT_2:
    case CKA_COEFFICIENT:
      return true;
    default:
      return false;
  }
}

bool is_unreadable(const AttrMap& attrs, CK_ATTRIBUTE_TYPE type) {
  if (!is_secret_attribute(object_class(attrs), type)) return false;
  return get_bool(attrs, CKA_SENSITIVE, true) || !get_bool(attrs, CKA_EXTRACTABLE, false);
}

void apply_key_defaults(AttrMap& attrs, CK_OBJECT_CLASS cls) {
  set_default_bool(attrs, CKA_TOKEN, false);
  set_default_bool(attrs, CKA_PRIVATE, cls != CKO_PUBLIC_KEY);
  set_default_bool(attrs, CKA_MODIFIABLE, true);
  set_default(attrs, CKA_LABEL, {});
  set_default(attrs, CKA_ID, {});
  set_default(attrs, CKA_START_DATE, {});
  set_default(attrs, CKA_END_DATE, {});
  set_default_bool(attrs, CKA_DERIVE, false);
  set_default_bool(attrs, CKA_LOCAL, false);
  if (!attrs.count(CKA_KEY_GEN_MECHANISM)) set_ulong(attrs, CKA_KEY_GEN_MECHANISM, CK_UNAVAILABLE_INFORMATION);
  if (cls == CKO_PUBLIC_KEY) {
    set_default(attrs, CKA_SUBJECT, {});
    for (CK_ATTRIBUTE_TYPE t : {CKA_ENCRYPT, CKA_VERIFY, CKA_VERIFY_RECOVER, CKA_WRAP, CKA_TRUSTED})
      set_default_bool(attrs, t, false);
    return;
  }
  if (cls == CKO_PRIVATE_KEY) {
    set_default(attrs, CKA_SUBJECT, {});
    for (CK_ATTRIBUTE_TYPE t : {CKA_DECRYPT, CKA_SIGN, CKA_SIGN_RECOVER, CKA_UNWRAP,
                                CKA_WRAP_WITH_TRUSTED, CKA_ALWAYS_AUTHENTICATE})
      set_default_bool(attrs, t, false);
  } else {
    for (CK_ATTRIBUTE_TYPE t : {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY, CKA_WRAP,
                                CKA_UNWRAP, CKA_TRUSTED, CKA_WRAP_WITH_TRUSTED})
      set_default_bool(attrs, t, false);
  }
  // Secret material is sensitive and stays inside unless the caller says otherwise.
  set_default_bool(attrs, CKA_SENSITIVE, true);
  set_default_bool(attrs, CKA_EXTRACTABLE, false);
}

CK_RV prepare_created_object(AttrMap& attrs) {
  if (!attrs.count(CKA_CLASS)) return CKR_TEMPLATE_INCOMPLETE;
  for (const auto& [type, value] : attrs)
    if (token_set_types().count(type)) return CKR_ATTRIBUTE_READ_ONLY;
  CK_OBJECT_CLASS cls = object_class(attrs);
  if (is_key_class(cls)) {
    if (!attrs.count(CKA_KEY_TYPE)) return CKR_TEMPLATE_INCOMPLETE;
    apply_key_defaults(attrs, cls);
    if (cls != CKO_PUBLIC_KEY) {
      // Imported material was seen outside the token.
      set_bool(attrs, CKA_ALWAYS_SENSITIVE, false);
      set_bool(attrs, CKA_NEVER_EXTRACTABLE, false);
    }
    return CKR_OK;
  }
  set_default_bool(attrs, CKA_TOKEN, false);
  set_default_bool(attrs, CKA_PRIVATE, false);
  set_default_bool(attrs, CKA_MODIFIABLE, true);
  set_default(attrs, CKA_LABEL, {});
  if (cls == CKO_CERTIFICATE) {
    CK_ULONG ctype;
    if (!get_ulong(attrs, CKA_CERTIFICATE_TYPE, ctype)) return CKR_TEMPLATE_INCOMPLETE;
    set_default_bool(attrs, CKA_TRUSTED, false);
    if (!attrs.count(CKA_CERTIFICATE_CATEGORY)) set_ulong(attrs, CKA_CERTIFICATE_CATEGORY, 0);
    if (ctype == CKC_X_509) {
      if (!attrs.count(CKA_SUBJECT) || !attrs.count(CKA_VALUE)) return CKR_TEMPLATE_INCOMPLETE;
      for (CK_ATTRIBUTE_TYPE t : {CKA_ID, CKA_ISSUER, CKA_SERIAL_NUMBER}) set_default(attrs, t, {});
    }
  } else if (cls == CKO_DATA) {
    for (CK_ATTRIBUTE_TYPE t : {CKA_APPLICATION, CKA_OBJECT_ID, CKA_VALUE}) set_default(attrs, t, {});
  }
  return CKR_OK;
}

CK_RV check_modification(const AttrMap& object, const AttrMap& changes) {
  static const std::set<CK_ATTRIBUTE_TYPE> fixed = {
      CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_KEY_TYPE, CKA_CERTIFICATE_TYPE,
      CKA_LOCAL, CKA_KEY_GEN_MECHANISM, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE,
      CKA_GOSTR3410_PARAMS, CKA_VALUE_LEN, CKA_MODULUS_BITS};
  if (!get_bool(object, CKA_MODIFIABLE, true)) return CKR_ATTRIBUTE_READ_ONLY;
  CK_OBJECT_CLASS cls = object_class(object);
  for (const auto& [type, value] : changes) {
    if (fixed.count(type)) return CKR_ATTRIBUTE_READ_ONLY;
    if (type == CKA_VALUE && (is_key_class(cls) || cls == CKO_CERTIFICATE)) return CKR_ATTRIBUTE_READ_ONLY;
    if (is_secret_attribute(cls, type)) return CKR_ATTRIBUTE_READ_ONLY;
    // Sensitivity can only be raised, extractability only dropped.
    if (type == CKA_SENSITIVE && get_bool(object, CKA_SENSITIVE, false) && value[0] == CK_FALSE)
      return CKR_ATTRIBUTE_READ_ONLY;
    if (type == CKA_EXTRACTABLE && !get_bool(object, CKA_EXTRACTABLE, true) && value[0] != CK_FALSE)
      return CKR_ATTRIBUTE_READ_ONLY;
  }
  return CKR_OK;
}

bool matches(const AttrMap& object, const AttrMap& tmpl) {
  for (const auto& [type, value] : tmpl) {
    auto it = object.find(type);
    if (it == object.end() || is_unreadable(object, type)) return false;
    if (it->second.size() != value.size()) return false;
    if (!value.empty() && std::memcmp(it->second.data(), value.data(), value.size()) != 0) return false;
  }
  return true;
}

}  // namespace softtoken
