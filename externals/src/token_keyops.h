// The token layer's key operations: reading what a GOST key object tells
// of itself, signing on the token, and VKO agreement on the token. Plain
// PKCS#11; each reports the failing call and its code, the callers say it.
#ifndef TOKEN_KEYOPS_H
#define TOKEN_KEYOPS_H

#include "pkcs11_vendor.h"

#include <cstddef>
#include <vector>

// What a GOST key object holds besides its private value: CKA_ID, the DER
// OIDs of CKA_GOSTR3410_PARAMS and CKA_GOSTR3411_PARAMS, CKA_KEY_TYPE and,
// for a public key, CKA_VALUE (x then y, little-endian).
struct TokenKeyInfo {
    std::vector<unsigned char> id, params3410, params3411, value;
    CK_KEY_TYPE key_type = 0;
};

// Reads those attributes in one call (CKA_VALUE only when with_value). CKR_OK
// or the code of C_GetAttributeValue.
CK_RV token_read_key_info(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, bool with_value,
                          TokenKeyInfo &info);

// C_SignInit with the mechanism, then C_Sign of `data` into out (*out_len in
// its capacity, out the signature's length). CKR_OK, or the failing call's
// code with *failed_call naming it.
CK_RV token_sign(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key,
                 const unsigned char *data, CK_ULONG data_len, unsigned char *out, CK_ULONG *out_len,
                 const char **failed_call);

// The length of a VKO agreed key.
constexpr std::size_t kTokenVkoKeyLen = 32;

// VKO agreement between the private key `priv` and the peer's public value
// (64 or 128 bytes, choosing the 2001/2012-256 or the 2012-512 mechanism)
// with the UKM: a GOST 28147-89 session key with the cipher parameter set
// (DER OID), its 32-byte value read into out, the object destroyed. CKR_OK;
// or the failing call's code with *failed_call naming it ("C_DeriveKey",
// "C_GetAttributeValue", "C_DestroyObject"); or CKR_KEY_SIZE_RANGE with
// *failed_call null when the token's value is not 32 bytes.
CK_RV token_vko_derive(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE priv,
                       const unsigned char *peer_pub, std::size_t peer_pub_len, const unsigned char *ukm,
                       std::size_t ukm_len, const unsigned char *cipher_params, std::size_t cipher_params_len,
                       unsigned char *out, const char **failed_call);

#endif
