// GOST R 34.10-2001/2012 key generation, signatures and VKO key agreement
// on the crypto core's curve arithmetic, constant-time in private keys,
// nonces and agreement scalars. Private keys and nonces come from
// RAND_priv_bytes with rejection sampling (uniform in [1, q-1]); every
// buffer that held one is wiped.
//
// Byte conventions: private key little-endian (n bytes); public key x then
// y, each little-endian; digest read as a little-endian number; signature s
// then r, each big-endian.
#ifndef SOFTTOKEN_ST_GOST_H
#define SOFTTOKEN_ST_GOST_H

#include <pkcs11_vendor.h>

#include "st_gost_curves.h"

namespace softtoken {

CK_RV gost_generate(const GostCurve& c, SecureBytes& priv, Bytes& pub);
CK_RV gost_public_key(const GostCurve& c, const SecureBytes& priv, Bytes& pub);
// sig receives 2n bytes.
CK_RV gost_sign(const GostCurve& c, const SecureBytes& priv, const uint8_t* digest, size_t len, uint8_t* sig);
// The same with a given nonce k (n bytes, little-endian, in [1, q-1]), for
// checks against published examples; CKR_ARGUMENTS_BAD for a nonce out of
// range or one that gives r = 0 or s = 0.
CK_RV gost_sign_with_nonce(const GostCurve& c, const SecureBytes& priv, const uint8_t* digest, size_t len,
                           const SecureBytes& nonce, uint8_t* sig);
// Whether a public value is the canonical encoding of a point of the curve
// other than the point at infinity.
bool gost_point_valid(const GostCurve& c, const uint8_t* pub, size_t pub_len);
// Whether a private value has n bytes and lies in [1, q-1].
bool gost_private_valid(const GostCurve& c, const uint8_t* priv, size_t priv_len);
// CKR_OK or CKR_SIGNATURE_INVALID.
CK_RV gost_verify(const GostCurve& c, const uint8_t* pub, size_t pub_len, const uint8_t* digest, size_t len,
                  const uint8_t* sig, size_t sig_len);
// VKO: hash of (UKM * priv mod q) * peer, with GOST R 34.11-94 (CryptoPro
// set) or GOST R 34.11-2012-256. CKR_MECHANISM_PARAM_INVALID for a peer
// value that is not a point of the curve.
CK_RV gost_vko(const GostCurve& c, const SecureBytes& priv, const uint8_t* peer, size_t peer_len,
               const uint8_t* ukm, size_t ukm_len, bool hash94, uint8_t out[32]);

}  // namespace softtoken

#endif
