// GOST key operations: key pair generation, signing, verification and
// key agreement.
#include <cstring>

#include "st_export.h"
#include "st_gost.h"
#include "st_mechanisms.h"
#include "st_module.h"
#include "st_templates.h"

using namespace softtoken;

namespace softtoken {

const std::vector<MechanismEntry>& mechanism_table() {
  static const std::vector<MechanismEntry> table = {
      {CKM_GOSTR3410_KEY_PAIR_GEN, {256, 256, CKF_GENERATE_KEY_PAIR}},
      {CKM_GOSTR3410_512_KEY_PAIR_GEN, {512, 512, CKF_GENERATE_KEY_PAIR}},
      {CKM_GOSTR3410, {256, 256, CKF_SIGN | CKF_VERIFY}},
      {CKM_GOSTR3410_512, {512, 512, CKF_SIGN | CKF_VERIFY}},
      {CKM_GOSTR3410_WITH_GOSTR3411, {256, 256, CKF_SIGN | CKF_VERIFY}},
      {CKM_GOSTR3410_WITH_GOSTR3411_12_256, {256, 256, CKF_SIGN | CKF_VERIFY}},
      {CKM_GOSTR3410_WITH_GOSTR3411_12_512, {512, 512, CKF_SIGN | CKF_VERIFY}},
      {CKM_GOSTR3410_DERIVE, {256, 256, CKF_DERIVE}},
      {CKM_GOSTR3410_12_DERIVE, {512, 512, CKF_DERIVE}},
      {CKM_GOSTR3411, {0, 0, CKF_DIGEST}},
      {CKM_GOSTR3411_12_256, {0, 0, CKF_DIGEST}},
      {CKM_GOSTR3411_12_512, {0, 0, CKF_DIGEST}},
  };
  return table;
}

size_t gost_mechanism_bytes(CK_MECHANISM_TYPE type) {
  switch (type) {
    case CKM_GOSTR3410_KEY_PAIR_GEN:
    case CKM_GOSTR3410:
    case CKM_GOSTR3410_DERIVE:
    case CKM_GOSTR3410_WITH_GOSTR3411:
    case CKM_GOSTR3410_WITH_GOSTR3411_12_256:
      return 32;
    case CKM_GOSTR3410_512_KEY_PAIR_GEN:
    case CKM_GOSTR3410_512:
    case CKM_GOSTR3410_12_DERIVE:
    case CKM_GOSTR3410_WITH_GOSTR3411_12_512:
      return 64;
    default:
      return 0;
  }
}

CK_MECHANISM_TYPE digest_of_sign_mechanism(CK_MECHANISM_TYPE type) {
  switch (type) {
    case CKM_GOSTR3410_WITH_GOSTR3411:
      return CKM_GOSTR3411;
    case CKM_GOSTR3410_WITH_GOSTR3411_12_256:
      return CKM_GOSTR3411_12_256;
    case CKM_GOSTR3410_WITH_GOSTR3411_12_512:
      return CKM_GOSTR3411_12_512;
    default:
      return 0;
  }
}

CK_KEY_TYPE gost_key_type_for_bytes(size_t n) { return n == 64 ? CKK_GOSTR3410_512 : CKK_GOSTR3410; }

}  // namespace softtoken

namespace {

const uint8_t* bytes_of(const AttrMap& a, CK_ATTRIBUTE_TYPE t, size_t& len) {
  auto it = a.find(t);
  if (it == a.end()) return nullptr;
  len = it->second.size();
  return it->second.data();
}

const GostCurve* curve_of(const AttrMap& a) {
  size_t len = 0;
  const uint8_t* der = bytes_of(a, CKA_GOSTR3410_PARAMS, len);
  return der ? find_gost_curve(der, len) : nullptr;
}

// Checks a key object against a mechanism and the use it is put to.
CK_RV check_key(Session& s, CK_OBJECT_HANDLE handle, CK_OBJECT_CLASS cls, CK_ATTRIBUTE_TYPE usage,
                CK_MECHANISM_TYPE mech, Object& key, const GostCurve*& curve) {
  CK_RV rv = get_object(s, handle, key);
  if (rv == CKR_OBJECT_HANDLE_INVALID) return CKR_KEY_HANDLE_INVALID;
  if (rv != CKR_OK) return rv;
  size_t n = gost_mechanism_bytes(mech);
  CK_ULONG type = 0;
  if (object_class(key.attrs) != cls || !get_ulong(key.attrs, CKA_KEY_TYPE, type) ||
      type != gost_key_type_for_bytes(n))
    return CKR_KEY_TYPE_INCONSISTENT;
  if (!get_bool(key.attrs, usage, false)) return CKR_KEY_FUNCTION_NOT_PERMITTED;
  if (key.secrets_locked) return CKR_USER_NOT_LOGGED_IN;
  curve = curve_of(key.attrs);
  if (!curve || curve->n != n) return CKR_KEY_TYPE_INCONSISTENT;
  auto it = key.attrs.find(CKA_VALUE);
  size_t want = cls == CKO_PUBLIC_KEY ? 2 * n : n;
  if (it == key.attrs.end() || it->second.size() != want) return CKR_KEY_HANDLE_INVALID;
  return CKR_OK;
}

// The mechanism parameter of hash-and-sign with GOST R 34.11-94 may name
// its parameter set, which must be the CryptoPro one; the other signing
// mechanisms take none.
bool sign_parameter_ok(const CK_MECHANISM& m) {
  if (!m.pParameter && !m.ulParameterLen) return true;
  return m.mechanism == CKM_GOSTR3410_WITH_GOSTR3411 && m.pParameter &&
         is_gostr3411_94_cryptopro(static_cast<const uint8_t*>(m.pParameter), m.ulParameterLen);
}

CK_RV begin(Session& s, KeyOperation& op, CK_MECHANISM_PTR mech, CK_OBJECT_HANDLE key, CK_OBJECT_CLASS cls,
            CK_ATTRIBUTE_TYPE usage) {
  if (!mech) return CKR_ARGUMENTS_BAD;
  if (op.active) return CKR_OPERATION_ACTIVE;
  CK_MECHANISM_TYPE digest = digest_of_sign_mechanism(mech->mechanism);
  if (mech->mechanism != CKM_GOSTR3410 && mech->mechanism != CKM_GOSTR3410_512 && !digest)
    return CKR_MECHANISM_INVALID;
  if (!sign_parameter_ok(*mech)) return CKR_MECHANISM_PARAM_INVALID;
  Object o;
  const GostCurve* curve = nullptr;
  CK_RV rv = check_key(s, key, cls, usage, mech->mechanism, o, curve);
  if (rv != CKR_OK) return rv;
  // A value that is no key of its curve (a public value off the curve, a
  // private value out of range) is refused here, so that the operation
  // itself only ever answers for the data and the signature.
  const SecureBytes& value = o.attrs[CKA_VALUE];
  bool valid = cls == CKO_PUBLIC_KEY ? gost_point_valid(*curve, value.data(), value.size())
                                     : gost_private_valid(*curve, value.data(), value.size());
  if (!valid) return CKR_KEY_HANDLE_INVALID;
  op = KeyOperation();
  if (digest && !op.hash.init(digest)) return CKR_DEVICE_ERROR;
  op.active = true;
  op.mechanism = mech->mechanism;
  op.curve = curve;
  op.key = o.attrs[CKA_VALUE];
  return CKR_OK;
}

// Adds a part of the data: to the digest, or, for raw signing, to the
// digest value the caller hands in pieces.
CK_RV add_part(KeyOperation& op, const uint8_t* part, size_t len) {
  if (op.hash.active()) return op.hash.update(part, len) ? CKR_OK : CKR_DEVICE_ERROR;
  if (len > op.curve->n - op.data.size()) return CKR_DATA_LEN_RANGE;
  op.data.insert(op.data.end(), part, part + len);
  return CKR_OK;
}

// C_SignUpdate and C_VerifyUpdate: one more part, the operation ended when
// it is refused.
CK_RV update_part(KeyOperation& op, const uint8_t* part, size_t len) {
  if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
  CK_RV rv = !part && len ? CKR_ARGUMENTS_BAD : add_part(op, part, len);
  if (rv != CKR_OK) op = KeyOperation();
  else op.updated = true;
  return rv;
}

// The value that is signed: the digest of the data, or the data itself.
CK_RV finish_data(KeyOperation& op, SecureBytes& value) {
  if (op.hash.active()) {
    value.assign(op.hash.size(), 0);
    return op.hash.final(value.data()) ? CKR_OK : CKR_DEVICE_ERROR;
  }
  if (op.data.size() != op.curve->n) return CKR_DATA_LEN_RANGE;
  value = op.data;
  return CKR_OK;
}

// C_Sign and C_SignFinal: a length query leaves the operation running;
// anything else ends it. Only codes of the signing functions come out.
CK_RV sign_out(KeyOperation& op, uint8_t* sig, CK_ULONG_PTR sig_len) {
  CK_ULONG need = 2 * op.curve->n;
  if (!sig) {
    *sig_len = need;
    return CKR_OK;
  }
  if (*sig_len < need) {
    *sig_len = need;
    return CKR_BUFFER_TOO_SMALL;
  }
  SecureBytes value;
  CK_RV rv = finish_data(op, value);
  if (rv == CKR_OK) rv = gost_sign(*op.curve, op.key, value.data(), value.size(), sig);
  op = KeyOperation();
  if (rv == CKR_OK) *sig_len = need;
  return rv == CKR_OK || rv == CKR_DATA_LEN_RANGE || rv == CKR_DEVICE_ERROR ? rv : CKR_FUNCTION_FAILED;
}

CK_RV verify_out(KeyOperation& op, const uint8_t* sig, size_t sig_len) {
  SecureBytes value;
  CK_RV rv = finish_data(op, value);
  if (rv == CKR_OK) rv = gost_verify(*op.curve, op.key.data(), op.key.size(), value.data(), value.size(), sig, sig_len);
  op = KeyOperation();
  switch (rv) {
    case CKR_OK:
    case CKR_DATA_LEN_RANGE:
    case CKR_DEVICE_ERROR:
    case CKR_SIGNATURE_INVALID:
    case CKR_SIGNATURE_LEN_RANGE:
      return rv;
    default:
      return CKR_FUNCTION_FAILED;
  }
}

// Template rules shared by the keys the token makes itself.
CK_RV check_generated_template(const AttrMap& a, CK_OBJECT_CLASS cls, CK_KEY_TYPE key_type) {
  for (CK_ATTRIBUTE_TYPE t : {CKA_LOCAL, CKA_KEY_GEN_MECHANISM, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE, CKA_VALUE})
    if (a.count(t)) return CKR_ATTRIBUTE_READ_ONLY;
  CK_ULONG v;
  if (a.count(CKA_CLASS) && (!get_ulong(a, CKA_CLASS, v) || v != cls)) return CKR_TEMPLATE_INCONSISTENT;
  if (a.count(CKA_KEY_TYPE) && (!get_ulong(a, CKA_KEY_TYPE, v) || v != key_type)) return CKR_TEMPLATE_INCONSISTENT;
  return CKR_OK;
}

void copy_if_missing(AttrMap& to, const AttrMap& from, CK_ATTRIBUTE_TYPE t) {
  auto it = from.find(t);
  if (it != from.end() && !to.count(t)) to[t] = it->second;
}

}  // namespace

extern "C" {

ST_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mech, CK_ATTRIBUTE_PTR pub_tmpl,
                                  CK_ULONG pub_count, CK_ATTRIBUTE_PTR priv_tmpl, CK_ULONG priv_count,
                                  CK_OBJECT_HANDLE_PTR pub_out, CK_OBJECT_HANDLE_PTR priv_out) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!mech || !pub_out || !priv_out || (!pub_tmpl && pub_count) || (!priv_tmpl && priv_count))
    return CKR_ARGUMENTS_BAD;
  if (mech->mechanism != CKM_GOSTR3410_KEY_PAIR_GEN && mech->mechanism != CKM_GOSTR3410_512_KEY_PAIR_GEN)
    return CKR_MECHANISM_INVALID;
  if (mech->pParameter || mech->ulParameterLen) return CKR_MECHANISM_PARAM_INVALID;
  size_t n = gost_mechanism_bytes(mech->mechanism);
  CK_KEY_TYPE key_type = gost_key_type_for_bytes(n);
  AttrMap pub, priv;
  CK_RV rv = template_to_map(pub_tmpl, pub_count, pub);
  if (rv == CKR_OK) rv = template_to_map(priv_tmpl, priv_count, priv);
  if (rv == CKR_OK) rv = check_generated_template(pub, CKO_PUBLIC_KEY, key_type);
  if (rv == CKR_OK) rv = check_generated_template(priv, CKO_PRIVATE_KEY, key_type);
  if (rv != CKR_OK) return rv;
  // The curve may be named in either template; the other one inherits it,
  // with the hash and cipher parameter sets.
  for (CK_ATTRIBUTE_TYPE t : {CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS}) {
    if (pub.count(t) && priv.count(t) && pub[t] != priv[t]) return CKR_TEMPLATE_INCONSISTENT;
  }
  for (CK_ATTRIBUTE_TYPE t : {CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS, CKA_GOST28147_PARAMS}) {
    copy_if_missing(priv, pub, t);
    copy_if_missing(pub, priv, t);
  }
  if (!pub.count(CKA_GOSTR3410_PARAMS)) return CKR_TEMPLATE_INCOMPLETE;
  const GostCurve* curve = curve_of(pub);
  if (!curve) return CKR_DOMAIN_PARAMS_INVALID;
  if (curve->n != n) return CKR_TEMPLATE_INCONSISTENT;

  set_ulong(pub, CKA_CLASS, CKO_PUBLIC_KEY);
  set_ulong(priv, CKA_CLASS, CKO_PRIVATE_KEY);
  for (AttrMap* a : {&pub, &priv}) {
    set_ulong(*a, CKA_KEY_TYPE, key_type);
    set_bool(*a, CKA_LOCAL, true);
    set_ulong(*a, CKA_KEY_GEN_MECHANISM, mech->mechanism);
  }
  apply_key_defaults(pub, CKO_PUBLIC_KEY);
  apply_key_defaults(priv, CKO_PRIVATE_KEY);
  set_bool(priv, CKA_ALWAYS_SENSITIVE, get_bool(priv, CKA_SENSITIVE, true));
  set_bool(priv, CKA_NEVER_EXTRACTABLE, !get_bool(priv, CKA_EXTRACTABLE, false));
  // Refuse before computing anything if either object could not be stored.
  for (const AttrMap* a : {&pub, &priv}) {
    if (get_bool(*a, CKA_TOKEN, false) && !session_is_rw(*s)) return CKR_SESSION_READ_ONLY;
    if (get_bool(*a, CKA_PRIVATE, false) && !user_logged_in(*s)) return CKR_USER_NOT_LOGGED_IN;
  }
  SecureBytes d;
  Bytes q;
  rv = gost_generate(*curve, d, q);
  if (rv != CKR_OK) return rv;
  pub[CKA_VALUE] = SecureBytes(q.begin(), q.end());
  priv[CKA_VALUE] = d;
  for (const AttrMap* a : {&pub, &priv}) {
    rv = check_object(*a, true);
    if (rv == CKR_OK) rv = check_trust(nullptr, *a, so_logged_in(*s));
    if (rv != CKR_OK) return rv;
  }
  std::vector<CK_OBJECT_HANDLE> handles;
  rv = store_objects(*s, {&pub, &priv}, handles);
  if (rv != CKR_OK) return rv;
  CK_OBJECT_HANDLE hpub = handles[0], hpriv = handles[1];
  *pub_out = hpub;
  *priv_out = hpriv;
  return CKR_OK;
}

ST_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mech, CK_OBJECT_HANDLE key) {
  ST_ENTER();
  ST_SESSION(s, handle);
  return begin(*s, s->sign, mech, key, CKO_PRIVATE_KEY, CKA_SIGN);
}

ST_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG data_len, CK_BYTE_PTR sig,
                       CK_ULONG_PTR sig_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  KeyOperation& op = s->sign;
  if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
  if (!sig_len || (!data && data_len) || op.updated) {
    op = KeyOperation();
    return CKR_ARGUMENTS_BAD;
  }
  // A length query hands no data in: the call that signs hands it again.
  if (!sig) return sign_out(op, sig, sig_len);
  if (*sig_len >= 2 * op.curve->n) {
    CK_RV rv = add_part(op, data, data_len);
    if (rv != CKR_OK) {
      op = KeyOperation();
      return rv;
    }
  }
  return sign_out(op, sig, sig_len);
}

ST_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG part_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  return update_part(s->sign, part, part_len);
}

ST_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR sig, CK_ULONG_PTR sig_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  KeyOperation& op = s->sign;
  if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
  if (!sig_len) {
    op = KeyOperation();
    return CKR_ARGUMENTS_BAD;
  }
  return sign_out(op, sig, sig_len);
}

ST_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mech, CK_OBJECT_HANDLE key) {
  ST_ENTER();
  ST_SESSION(s, handle);
  return begin(*s, s->verify, mech, key, CKO_PUBLIC_KEY, CKA_VERIFY);
}

ST_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG data_len, CK_BYTE_PTR sig,
                         CK_ULONG sig_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  KeyOperation& op = s->verify;
  if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
  CK_RV rv = (!data && data_len) || (!sig && sig_len) || op.updated ? CKR_ARGUMENTS_BAD : add_part(op, data, data_len);
  if (rv != CKR_OK) {
    op = KeyOperation();
    return rv;
  }
  return verify_out(op, sig, sig_len);
}

ST_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG part_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  return update_part(s->verify, part, part_len);
}

ST_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR sig, CK_ULONG sig_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  KeyOperation& op = s->verify;
  if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
  if (!sig && sig_len) {
    op = KeyOperation();
    return CKR_ARGUMENTS_BAD;
  }
  return verify_out(op, sig, sig_len);
}

ST_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mech, CK_OBJECT_HANDLE base,
                            CK_ATTRIBUTE_PTR tmpl, CK_ULONG count, CK_OBJECT_HANDLE_PTR out) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!mech || !out || (!tmpl && count)) return CKR_ARGUMENTS_BAD;
  if (mech->mechanism != CKM_GOSTR3410_DERIVE && mech->mechanism != CKM_GOSTR3410_12_DERIVE)
    return CKR_MECHANISM_INVALID;
  if (!mech->pParameter || mech->ulParameterLen != sizeof(CK_GOSTR3410_DERIVE_PARAMS))
    return CKR_MECHANISM_PARAM_INVALID;
  const auto* p = static_cast<const CK_GOSTR3410_DERIVE_PARAMS*>(mech->pParameter);
  size_t n = gost_mechanism_bytes(mech->mechanism);
  if (p->kdf != CKD_NULL || !p->pPublicData || p->ulPublicDataLen != 2 * n || !p->pUKM || p->ulUKMLen == 0 ||
      p->ulUKMLen > n / 2)
    return CKR_MECHANISM_PARAM_INVALID;
  Object key;
  const GostCurve* curve = nullptr;
  CK_RV rv = check_key(*s, base, CKO_PRIVATE_KEY, CKA_DERIVE, mech->mechanism, key, curve);
  if (rv != CKR_OK) return rv;
  AttrMap a;
  rv = template_to_map(tmpl, count, a);
  if (rv != CKR_OK) return rv;
  for (CK_ATTRIBUTE_TYPE t : {CKA_LOCAL, CKA_KEY_GEN_MECHANISM, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE, CKA_VALUE})
    if (a.count(t)) return CKR_ATTRIBUTE_READ_ONLY;
  CK_ULONG v;
  if (a.count(CKA_CLASS) && (!get_ulong(a, CKA_CLASS, v) || v != CKO_SECRET_KEY)) return CKR_TEMPLATE_INCONSISTENT;
  if (a.count(CKA_KEY_TYPE) && (!get_ulong(a, CKA_KEY_TYPE, v) || (v != CKK_GOST28147 && v != CKK_GENERIC_SECRET)))
    return CKR_TEMPLATE_INCONSISTENT;
  if (a.count(CKA_VALUE_LEN) && (!get_ulong(a, CKA_VALUE_LEN, v) || v != 32)) return CKR_TEMPLATE_INCONSISTENT;
  size_t hlen = 0;
  const uint8_t* hash_oid = bytes_of(key.attrs, CKA_GOSTR3411_PARAMS, hlen);
  bool hash94 = is_gostr3411_94_cryptopro(hash_oid, hlen);
  SecureBytes kek(32);
  rv = gost_vko(*curve, key.attrs[CKA_VALUE], p->pPublicData, p->ulPublicDataLen, p->pUKM, p->ulUKMLen, hash94,
                kek.data());
  if (rv != CKR_OK) return rv;
  set_ulong(a, CKA_CLASS, CKO_SECRET_KEY);
  if (!a.count(CKA_KEY_TYPE)) set_ulong(a, CKA_KEY_TYPE, CKK_GOST28147);
  apply_key_defaults(a, CKO_SECRET_KEY);
  set_bool(a, CKA_LOCAL, false);
  set_bool(a, CKA_ALWAYS_SENSITIVE,
           get_bool(key.attrs, CKA_ALWAYS_SENSITIVE, false) && get_bool(a, CKA_SENSITIVE, true));
  set_bool(a, CKA_NEVER_EXTRACTABLE,
           get_bool(key.attrs, CKA_NEVER_EXTRACTABLE, false) && !get_bool(a, CKA_EXTRACTABLE, false));
  a[CKA_VALUE] = kek;
  rv = check_object(a);
  if (rv == CKR_OK) rv = check_trust(nullptr, a, so_logged_in(*s));
  if (rv != CKR_OK) return rv;
  return store_object(*s, a, *out);
}

}  // extern "C"
