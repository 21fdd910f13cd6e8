// The engine's object-store method, "ZK PKCS11": maps stored certificates
// and keys to PKCS#11 objects on the engine's token.
#ifndef PKCS11_STORE_H
#define PKCS11_STORE_H

#include "store.h"

// The method record (static; lives for the process).
const STORE_METHOD *pkcs11_store_method(void);

#endif
