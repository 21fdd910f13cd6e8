// GOST R 34.10 signatures computed apart from the token and the engine: the
// published formulas on OpenSSL's curve arithmetic (EC_GROUP, BIGNUM), over
// the published curve parameters. Byte conventions as the token's: digest
// read as a little-endian number, public value x then y (little-endian),
// private value little-endian, signature s then r (big-endian).
#ifndef KEYOPS_GOST_REFERENCE_H
#define KEYOPS_GOST_REFERENCE_H

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Whether the reference knows the curve of a parameter-set NID.
bool reference_knows(int param_nid);
// Whether the public value is a point of the curve (not the point at infinity).
bool reference_on_curve(int param_nid, const Bytes &pub);
// The public value of a private one.
Bytes reference_public(int param_nid, const Bytes &priv);
// A signature with private value priv; the nonce is random unless given
// (little-endian).
Bytes reference_sign(int param_nid, const Bytes &priv, const Bytes &digest, const Bytes &nonce = {});
// Whether sig is a valid signature of digest for the public value.
bool reference_verify(int param_nid, const Bytes &pub, const Bytes &digest, const Bytes &sig);

// Bytes from hexadecimal text and the reverse of a byte string.
Bytes hex_to_bytes(const std::string &hex);
Bytes reversed(Bytes b);

#endif
