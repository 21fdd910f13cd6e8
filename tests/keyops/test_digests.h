// The engine's GOST digests and its GOST 28147-89 MAC digest, as OpenSSL
// finds them by NID.
#ifndef KEYOPS_TEST_DIGESTS_H
#define KEYOPS_TEST_DIGESTS_H

#include <openssl/evp.h>

#include "gost_objects.h"

// md_gost94, gost3411_2012_256, gost3411_2012_512 or gost_mac.
inline const EVP_MD *gost_digest(GostObj md) { return EVP_get_digestbynid(gost_nid(md)); }

#endif
