// The GOST R 34.10 curves of the crypto core (its records, the two twisted
// Edwards curves of RFC 7836 in Weierstrass form, cofactor 4, among them),
// with what the token needs to know of each, built once.
#ifndef SOFTTOKEN_ST_GOST_CURVES_H
#define SOFTTOKEN_ST_GOST_CURVES_H

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>

#include "gostr3410_2012.h"
#include "st_secure.h"

namespace softtoken {

struct GostCurve {
  size_t n = 0;  // bytes of a scalar and of one coordinate: 32 or 64
  unsigned cofactor = 1;  // 1, or 4 for the twisted Edwards curves
  Bytes oid_der;
  BIGNUM* order = nullptr;
  Bytes order_le;  // q, n bytes little-endian
  BIGNUM* prime = nullptr;  // p: coordinates of an encoded point are below it
  // The core's record: one of the two is set, by n.
  const GOSTR3410_2012_256_PARAMS* r256 = nullptr;
  const GOSTR3410_2012_512_PARAMS* r512 = nullptr;
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
