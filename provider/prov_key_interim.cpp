// The key record's life until key management brings its own.
#include <openssl/crypto.h>

#include <new>

#include "prov_key.h"

ProvKey *zk_key_new(ProvCtx *prov)
{
    auto *key = new (std::nothrow) ProvKey;
    if (key != nullptr)
        key->prov = prov;
    return key;
}

void zk_key_free(ProvKey *key)
{
    if (key == nullptr)
        return;
    OPENSSL_cleanse(&key->rec, sizeof key->rec);
    delete key;
}
