// Digests: GOST R 34.11-94 (CryptoPro set) and GOST R 34.11-2012.
#include "st_export.h"
#include "st_module.h"

using namespace softtoken;

namespace {

// The output convention of the digest calls: without a buffer the length is
// asked (CKR_OK), a buffer too small gets CKR_BUFFER_TOO_SMALL; either way the
// length is told and the digest goes on. True when the call ends there.
bool length_only(CK_BYTE_PTR out, CK_ULONG_PTR out_len, CK_ULONG need, CK_RV* rv) {
  if (out && *out_len >= need) return false;
  *rv = out ? CKR_BUFFER_TOO_SMALL : CKR_OK;
  *out_len = need;
  return true;
}

}  // namespace

extern "C" {

ST_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mech) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!mech) return CKR_ARGUMENTS_BAD;
  if (s->digest.active()) return CKR_OPERATION_ACTIVE;
  if (!GostDigest::size_of(mech->mechanism)) return CKR_MECHANISM_INVALID;
  if (mech->pParameter || mech->ulParameterLen) return CKR_MECHANISM_PARAM_INVALID;
  return s->digest.init(mech->mechanism) ? CKR_OK : CKR_DEVICE_ERROR;
}

ST_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG part_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!s->digest.active()) return CKR_OPERATION_NOT_INITIALIZED;
  CK_RV rv = !part && part_len ? CKR_ARGUMENTS_BAD : s->digest.update(part, part_len) ? CKR_OK : CKR_DEVICE_ERROR;
  if (rv != CKR_OK) s->digest.reset();
  return rv;
}

ST_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  GostDigest& d = s->digest;
  if (!d.active()) return CKR_OPERATION_NOT_INITIALIZED;
  if (!out_len) {
    d.reset();
    return CKR_ARGUMENTS_BAD;
  }
  CK_ULONG need = d.size();
  CK_RV rv;
  if (length_only(out, out_len, need, &rv)) return rv;
  if (!d.final(out)) return CKR_DEVICE_ERROR;
  *out_len = need;
  return CKR_OK;
}

ST_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG data_len, CK_BYTE_PTR out,
                         CK_ULONG_PTR out_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  GostDigest& d = s->digest;
  if (!d.active()) return CKR_OPERATION_NOT_INITIALIZED;
  if (!out_len || (!data && data_len)) {
    d.reset();
    return CKR_ARGUMENTS_BAD;
  }
  CK_ULONG need = d.size();
  CK_RV rv;
  if (length_only(out, out_len, need, &rv)) return rv;
  if (!d.update(data, data_len) || !d.final(out)) {
    d.reset();
    return CKR_DEVICE_ERROR;
  }
  *out_len = need;
  return CKR_OK;
}

}  // extern "C"
