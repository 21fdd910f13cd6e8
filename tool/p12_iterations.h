// A PKCS#12 container whose MAC or encryption asks for an absurd number of
// key-derivation iterations would keep PKCS12_parse busy for minutes or
// hours; such a container is refused before it is opened.
#ifndef TOKENCERT_P12_ITERATIONS_H
#define TOKENCERT_P12_ITERATIONS_H

#include <openssl/pkcs12.h>

// Far above what real containers use (about 2000 to 600000).
constexpr long kMaxPkcs12Iterations = 10000000;

// True when the MAC's iteration count and those of every encrypted part
// (the encrypted contents and the shrouded key bags, also those inside
// encrypted contents, which are decrypted with `password` to be seen) are at
// most kMaxPkcs12Iterations. Otherwise prints
// "Can't import <path>: its <what> iteration count <count> is above 10000000"
// on bio_err and returns false. What cannot be decoded or decrypted here is
// left for PKCS12_parse to refuse.
bool pkcs12_iterations_acceptable(PKCS12 *container, const char *password, const char *path);

#endif
