// The token half of a provider key, and the references the pkcs11: store
// loader hands to OpenSSL for key management to load. A reference is an
// opaque number valid while the store loader that made it is open; a stale
// or foreign one is refused.
#ifndef ZK_TOKEN_KEY_REF_H
#define ZK_TOKEN_KEY_REF_H

#include <memory>
#include <string>
#include <vector>

#include "gost_key.h"
#include "token_access.h"

struct TokenKeyRef {
    std::shared_ptr<TokenSlot> slot;
    std::shared_ptr<const TokenPin> pin;
    std::vector<unsigned char> id;                   // CKA_ID of the pair, any length
    CK_OBJECT_HANDLE priv = CK_INVALID_HANDLE;  // found at first use (under the slot's lock)
};

// Registers a key: the provider it reports its errors through, its record
// and, for a private key, its token half (null for a public key, which is
// then a key like any software public key). Returns the reference's bytes;
// empty when memory runs out.
std::string zk_token_key_register(ProvCtx *prov, const p11_gost2012_key &rec, std::shared_ptr<TokenKeyRef> token);
// Forgets a reference; later loads of it are refused.
void zk_token_key_release(const std::string &reference);

#endif
