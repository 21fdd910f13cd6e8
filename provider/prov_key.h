// A GOST R 34.10 key as the provider's key management holds it: algorithm,
// parameter set and public value always; the private value for a software
// key; for a key that lives on a token, a reference to it (its private
// value never leaves the token).
#ifndef ZK_PROV_KEY_H
#define ZK_PROV_KEY_H

#include <memory>

#include "gost_key.h"
#include "provider.h"

struct TokenKeyRef;  // the token half of a key (token_keys.h)

struct ProvKey {
    ProvCtx *prov = nullptr;
    p11_gost2012_key rec{};  // alg_nid 0 until a type is set; priv_key_loaded for software keys
    bool has_public = false;
    std::shared_ptr<TokenKeyRef> token;  // set for token keys only
    bool on_token() const { return token != nullptr; }
};

// A new empty key of the provider, or nullptr when memory runs out.
ProvKey *zk_key_new(ProvCtx *prov);
// Wipes and releases a key; a null key is ignored.
void zk_key_free(ProvKey *key);
// Sets the record's key algorithm and parameter set (the lengths follow);
// false, the record untouched, when the set is not one of the algorithm's.
bool zk_key_set_type(ProvKey &key, int alg_nid, int param_nid);

#endif
