// Keys that live on a token, as the provider sees them: made by the pkcs11:
// store loader, used by key management (load by reference), the signature
// and key-exchange operations. What is done with the private key is done on
// the token. Each call reports its failure on OpenSSL's error queue with the
// provider's reason and returns false / nullptr.
#ifndef ZK_TOKEN_KEYS_H
#define ZK_TOKEN_KEYS_H

#include <cstddef>

#include "prov_key.h"

// The key a store reference names (what the store loader passed to OpenSSL
// as OSSL_OBJECT_PARAM_REFERENCE); nullptr when the reference is not one of
// ours or is stale.
ProvKey *zk_token_key_load(ProvCtx *prov, const void *reference, std::size_t reference_size);

// Signs a digest (32 or 64 bytes) with the token's private key: *sig_len in
// is the capacity of sig, out the length of the token's C_Sign output (64 or
// 128 bytes, laid out as the token gives it, s then r).
bool zk_token_sign(const ProvKey &key, const unsigned char *digest, std::size_t digest_len, unsigned char *sig,
                   std::size_t *sig_len);

// VKO agreement on the token between the key's private half and the peer's
// public value (64 or 128 bytes, x then y little-endian) with the UKM, as
// the engine's derive does: the 32-byte agreed key into out (*out_len in is
// its capacity, out 32).
bool zk_token_derive(const ProvKey &key, const unsigned char *peer_pub, std::size_t peer_pub_len,
                     const unsigned char *ukm, std::size_t ukm_len, unsigned char *out, std::size_t *out_len);

#endif
