// ASN.1 key methods of the GOST keys (gost2001, gost3410-2012-256,
// gost3410-2012-512) and of the GOST 28147-89 MAC key: public keys in
// certificates, private keys in PKCS#8, algorithm parameters, comparison,
// printing, sizes, control.
//
// The key data of a GOST EVP_PKEY is a p11_gost2012_key record (gost_key.h),
// owned by the key. The CKA_ID we give a pair is pkcs11_id_gen over the public
// value, so a certificate and the token objects of its key pair meet under one
// ID; a pair made by another tool keeps the CKA_ID it has on the token.
#ifndef PKCS11_AMETH_H
#define PKCS11_AMETH_H

#include <openssl/types.h>

#include "gost_key.h"
#include "token_key_objects.h"  // pkcs11_id_gen


// The record of a GOST key or of the MAC key; nullptr for a null key.
p11_gost2012_key *gost_key_record(const EVP_PKEY *pkey);

// Reads a GOST public-key algorithm identifier (palg) into pkey: sets its
// type to the algorithm and, for a GOST key algorithm, gives it a record
// filled for the parameter set. 1 or 0.
int decode_gost2012_algor_params(const X509_ALGOR *palg, EVP_PKEY *pkey);
// The parameters of pkey's algorithm identifier as a SEQUENCE string (curve
// and digest parameter sets), or nullptr.
ASN1_STRING *encode_gost2012_algor_params(const EVP_PKEY *pkey);

// Reads the public value and parameter set of the key pair with the record's
// CKA_ID from the engine's token (a short session of its own): from its
// public-key object, or from its certificate when there is none. 1, or 0
// after one line ("Token public key not found\n" with neither).
int get_pub_key_value(ENGINE *e, p11_gost2012_key *key);

// Takes a public value read from the token into the record (pub_key and both
// lengths): it must be `expected` bytes and not all zero. false after one
// line, the record untouched.
bool gost_key_take_public_value(p11_gost2012_key &key, const unsigned char *value, unsigned long len,
                                unsigned int expected);

// ---- private keys in PKCS#8 (pkcs11_ameth_priv.cpp) ----------------------

// The PKCS#8 slots of the GOST key methods. Decoding takes the private value
// in, computes its public value with the curve core and derives the CKA_ID;
// encoding writes the private value as a little-endian OCTET STRING, read
// from the token when the key does not hold it. 1 or 0.
int priv_decode_gost2012(EVP_PKEY *pkey, const PKCS8_PRIV_KEY_INFO *p8);
int priv_encode_gost2001(PKCS8_PRIV_KEY_INFO *p8, const EVP_PKEY *pkey);

// Completes pkey's record from a PKCS#8 private value: priv is one DER
// element of priv_len bytes, an INTEGER (big-endian) or an OCTET STRING
// (little-endian) no longer than the key; palg names the parameter set.
// Sets the private and public values, their lengths and the CKA_ID. Every
// buffer that held the private value is wiped, on success and on failure.
// 1, or 0 after one line.
int create_private_key(const X509_ALGOR *palg, const unsigned char *priv, int priv_len, EVP_PKEY *pkey);

// The private value of a GOST key, little-endian, into out (at least
// kGostPrivKeyMax bytes) and its length into *out_len: the value the record
// holds, or else CKA_VALUE of the token's private key with the record's
// CKA_ID (a short session of its own; the value must be exactly the key's
// length). A key of another algorithm gives 1 with nothing written.
// 1, or 0 after one line.
int get_priv_key_value(const EVP_PKEY *pkey, unsigned char *out, unsigned int *out_len);

// Creates a new ASN.1 method for nid into *ameth: all GOST key slots for the
// GOST key algorithms, the free and control slots for the MAC key, none for
// any other NID. The method belongs to the engine that hands it to OpenSSL
// (OpenSSL frees it with the engine). 1 or 0.
int register_ameth_pkcs11(int nid, EVP_PKEY_ASN1_METHOD **ameth, const char *pemstr, const char *info);

// Length of the GOST 28147-89 key behind a MAC EVP_PKEY.
constexpr unsigned int kGostMacKeyLen = 32;

#endif
