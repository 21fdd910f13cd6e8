// GOST R 34.10 keys in their DER forms: SubjectPublicKeyInfo and PKCS#8
// PrivateKeyInfo, written byte for byte as the engine writes them (the
// algorithm's OID with the curve and digest parameter sets; the public value
// in an OCTET STRING; the private value as a little-endian OCTET STRING) and
// read in both private-value forms key files carry (OCTET STRING, INTEGER).
// Every refusal is on OpenSSL's error queue with the provider's reason.
#ifndef ZK_KEY_DER_H
#define ZK_KEY_DER_H

#include <cstddef>
#include <vector>

#include "prov_key.h"

// The DER of the key's SubjectPublicKeyInfo; false after an error.
bool zk_spki_der(const ProvKey &key, std::vector<unsigned char> *der);
// The DER of the key's PrivateKeyInfo (secret: the caller wipes it);
// false after an error (a key whose private value stays on its token
// among them).
bool zk_pkcs8_der(const ProvKey &key, std::vector<unsigned char> *der);

enum class DerRead { key, not_ours, refused };

// A key from the DER of a SubjectPublicKeyInfo or a PrivateKeyInfo of len
// bytes: `key` with *out a new key; `not_ours` (nothing raised) when the DER
// is none of these structures or holds another algorithm's key; `refused`
// after an error when a GOST key's encoding is malformed or its values are
// not a key of its curve.
DerRead zk_key_from_spki(ProvCtx *prov, const unsigned char *der, std::size_t len, ProvKey **out);
DerRead zk_key_from_pkcs8(ProvCtx *prov, const unsigned char *der, std::size_t len, ProvKey **out);

#endif
