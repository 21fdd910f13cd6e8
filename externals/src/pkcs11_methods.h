// The algorithms the engine offers: its digests, ciphers, public-key methods
// and their ASN.1 methods. Each list lives in one table in pkcs11_methods.cpp;
// an entry names a function that resolves OpenSSL's NID for the algorithm
// and a function that gives the method (see pkcs11_methods.cpp). The
// selectors follow OpenSSL's convention: with a NULL output they hand out
// the NID list and its count; with a NID they hand out the method and
// return 1, or NULL and 0.
#ifndef PKCS11_METHODS_H
#define PKCS11_METHODS_H

#include <openssl/types.h>

int pkcs11_digests(ENGINE *e, const EVP_MD **digest, const int **nids, int nid);
int pkcs11_ciphers(ENGINE *e, const EVP_CIPHER **cipher, const int **nids, int nid);
int pkcs11_pkey_meths(ENGINE *e, EVP_PKEY_METHOD **pmeth, const int **nids, int nid);
int pkcs11_pkey_asn1_meths(ENGINE *e, EVP_PKEY_ASN1_METHOD **ameth, const int **nids, int nid);

// Creates the engine's own public-key and ASN.1 methods, one per table
// entry, into its context (bind step); 1 when all of them exist. OpenSSL
// frees them when it frees the engine.
int pkcs11_create_key_methods(ENGINE *e);
// Makes the ciphers and digests known to OpenSSL by name (EVP_add_cipher,
// EVP_add_digest); 1 on success.
int pkcs11_add_algorithms(void);

#endif
