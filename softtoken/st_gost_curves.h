// GOST R 34.10 curves as OpenSSL groups, built once: the crypto core's
// curve records, and the two curves of RFC 7836 in twisted Edwards form
// (given in their Weierstrass form, cofactor 4) that only this token offers.
#ifndef SOFTTOKEN_ST_GOST_CURVES_H
#define SOFTTOKEN_ST_GOST_CURVES_H

#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstddef>
#include <cstdint>

#include "st_secure.h"

namespace softtoken {

struct GostCurve {
  size_t n = 0;  // bytes of a scalar and of one coordinate: 32 or 64
  unsigned cofactor = 1;  // 1, or 4 for the twisted Edwards curves
  Bytes oid_der;
  EC_GROUP* group = nullptr;
  BIGNUM* order = nullptr;
  Bytes order_le;  // q, n bytes little-endian
  BIGNUM* prime = nullptr;  // p: coordinates of an encoded point are below it
  // Arithmetic on secret scalars modulo q: Montgomery products, and the
  // exponent q - 2 of the constant-time inverse (q is prime).
  BN_MONT_CTX* order_mont = nullptr;
  BIGNUM* order_minus_2 = nullptr;
};

// nullptr for an OID that names no built-in curve.
const GostCurve* find_gost_curve(const uint8_t* der, size_t len);

// The core's hashes used by key agreement.
bool hash_gostr3411_94_cryptopro(const uint8_t* data, size_t len, uint8_t out[32]);
bool hash_gostr3411_2012_256(const uint8_t* data, size_t len, uint8_t out[32]);

// Whether a DER OID names the CryptoPro parameter set of GOST R 34.11-94.
bool is_gostr3411_94_cryptopro(const uint8_t* der, size_t len);

}  // namespace softtoken

#endif
