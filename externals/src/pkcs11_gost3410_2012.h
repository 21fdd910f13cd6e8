// GOST R 34.10 key operations done by the token: key-pair generation,
// signing with the token's private key (found by the CKA_ID of the key's
// record) and verification with a session copy of the public key.
//
// Each operation but generation opens a session of its own on the engine's
// slot and closes it on every path. Generation runs in a session the caller
// gives (the key methods open one, the store passes the engine's). Digests,
// signatures and values are handed to the token and taken back unchanged:
// the digest as the hash function wrote it, the signature as the token
// writes it (s then r, each big-endian).
#ifndef PKCS11_GOST3410_2012_H
#define PKCS11_GOST3410_2012_H

#include <cstddef>

#include <openssl/types.h>

#include "gost_key.h"
#include "pkcs11_vendor.h"

// Generates a key pair on the token, in `session`, for the record's
// algorithm and parameter set (alg_nid and param_nid set, as parameter
// generation leaves them). Both objects get the CKA_ID pkcs11_id_gen gives
// for the public value and, when the engine names a label index file, the
// CKA_LABEL read from it (the file then holds the next number). On success
// the record holds the public value and the CKA_ID, and *pub_handle and
// *priv_handle, when given, the handles of the new public and private key
// objects; 1 is returned. On failure the outputs are 0, the record keeps
// what it had, a pair already generated is destroyed again, and 0 is
// returned after one line on stderr.
int pkcs11_gost2012_keygen_wrapper(ENGINE *e, p11_gost2012_key *key, CK_SESSION_HANDLE session,
                                   CK_OBJECT_HANDLE *pub_handle, CK_OBJECT_HANDLE *priv_handle);

// Signs a digest of 32 or 64 bytes with the token's private key of the
// record's CKA_ID. `sig` receives the key's signature: 64 bytes for 256-bit
// keys, 128 for 512-bit keys (the room it must have). The key is searched by
// CKA_ID, unless the previous signature of the engine used the same CKA_ID
// and the token still shows a private key with it under that handle. 1 or 0.
int pkcs11_gost2012_do_sign(ENGINE *e, const unsigned char *dgst, int dlen, unsigned char *sig,
                            const p11_gost2012_key *key);

// Verifies a signature of sig_len bytes over a digest of 32 or 64 bytes
// with the record's public value (read from the token by CKA_ID when the
// record does not hold it yet). A signature of another length than the
// key's is refused without reading it. 1 when the token accepts the
// signature, else 0.
int pkcs11_gost2012_do_verify(ENGINE *e, const unsigned char *dgst, int dlen, const unsigned char *sig,
                              std::size_t sig_len, p11_gost2012_key *key);

#endif
