// GOST R 34.10 with software keys (a private value held in memory): key
// generation, the public value of a private one, signatures and VKO key
// agreement. The one place where the provider does curve arithmetic with a
// secret; the rest of the provider only calls these.
//
// Byte conventions as everywhere in this system: private value n bytes
// little-endian; public value x then y, each n bytes little-endian; a digest
// is read as a little-endian number; a signature is s then r, each n bytes
// big-endian (what a token gives). Every failure is put on OpenSSL's error
// queue with the provider's reason, and false returned.
#ifndef ZK_SOFT_GOST_H
#define ZK_SOFT_GOST_H

#include <cstddef>

#include "gost_key.h"
#include "provider.h"

// A fresh key pair for the record's algorithm and parameter set: the private
// value uniform in [1, q-1] from the provider's random generator, and its
// public value. Sets priv_key_loaded.
bool zk_soft_keygen(const ProvCtx *prov, p11_gost2012_key &key);

// The public value of the record's private value, which must lie in
// [1, q-1] (refused otherwise, the record untouched).
bool zk_soft_public(const ProvCtx *prov, p11_gost2012_key &key);

// Whether pub (pub_len bytes) is a point of the record's curve other than
// the point at infinity, with both coordinates below p.
bool zk_soft_check_public(const ProvCtx *prov, const p11_gost2012_key &key, const unsigned char *pub,
                          std::size_t pub_len);

// Signs a digest of n bytes with the record's private value; sig receives 2n
// bytes. The nonce is uniform in [1, q-1].
bool zk_soft_sign(const ProvCtx *prov, const p11_gost2012_key &key, const unsigned char *digest,
                  std::size_t digest_len, unsigned char *sig);

// Whether sig (2n bytes) is a signature of the digest (n bytes) under the
// record's public value. A signature that does not verify is false without
// an error; malformed input raises one.
bool zk_soft_verify(const ProvCtx *prov, const p11_gost2012_key &key, const unsigned char *digest,
                    std::size_t digest_len, const unsigned char *sig, std::size_t sig_len);

// VKO: the 32-byte hash of (UKM d mod q) times the peer's point (x then y
// little-endian), GOST R 34.11-94 with CryptoPro parameters for GOST R
// 34.10-2001 keys, GOST R 34.11-2012 256 bits for the others. The UKM is read
// as a little-endian number; one that is 0 mod q is refused.
bool zk_soft_vko(const ProvCtx *prov, const p11_gost2012_key &key, const unsigned char *peer_pub,
                 std::size_t peer_len, const unsigned char *ukm, std::size_t ukm_len, unsigned char out[32]);

#endif
