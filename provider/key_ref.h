// How the provider's decoders hand a key they made to key management: an
// object reference (OSSL_OBJECT_PARAM_REFERENCE) holding this record; `load`
// takes the key out of it. References of any other shape are the token
// keys' (token_keys.h).
#ifndef ZK_KEY_REF_H
#define ZK_KEY_REF_H

#include <cstring>

#include "prov_key.h"

struct SoftKeyRef {
    char tag[8] = {'z', 'k', '-', 's', 'o', 'f', 't', '\0'};
    ProvKey *key = nullptr;  // owned until load takes it
};

// The reference's record when these bytes are one.
inline SoftKeyRef *zk_soft_key_ref(const void *reference, std::size_t size)
{
    static const SoftKeyRef kShape;
    if (reference == nullptr || size != sizeof(SoftKeyRef) || std::memcmp(reference, kShape.tag, sizeof kShape.tag) != 0)
        return nullptr;
    return static_cast<SoftKeyRef *>(const_cast<void *>(reference));
}

#endif
