// The GOST digests and the GOST 28147-89 MAC digest as OpenSSL finds them by
// name: the engine's own when it offers them, otherwise stand-ins that these
// tests add to OpenSSL's name table (the hashes on the crypto core; the MAC
// a keyed function of its own, 4 bytes long, with the engine MAC's set-key
// control). Certificates need a digest OpenSSL finds by NID.
#ifndef KEYOPS_TEST_DIGESTS_H
#define KEYOPS_TEST_DIGESTS_H

#include <openssl/evp.h>

#include "gost_objects.h"

// md_gost94, gost3411_2012_256, gost3411_2012_512 or gost_mac.
const EVP_MD *gost_digest(GostObj md);
// Whether the MAC digest is the engine's (false: the tests' stand-in).
bool engine_offers_mac_digest();

#endif
