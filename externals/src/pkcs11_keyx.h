// Key agreement and key transport with GOST keys on the token.
//
// Derivation computes the 32-byte VKO key between the token's private key
// and a peer's public key (C_DeriveKey). Encryption wraps a 32-byte content
// key for a recipient's public key into a GostR3410-KeyTransport;
// decryption unwraps one with the token's private key. The agreement runs
// on the token; the token hands back the agreed key, and the CryptoPro key
// wrap (key diversification with the UKM, GOST 28147-89 MAC and ECB
// encryption) runs in software on the crypto core. Every key the token makes
// along the way (agreed keys, ephemeral key pairs, temporary public keys)
// is a session object, destroyed before the call returns, on every path.
#ifndef PKCS11_KEYX_H
#define PKCS11_KEYX_H

#include <openssl/types.h>

#include <cstddef>

#include "gost_key.h"
#include "gost_key_transport.h"
#include "pkcs11_vendor.h"

// Result of gost3410_kek_enc / gost3410_kek_dec besides CKR_OK and the codes
// of failed token calls: a local failure of the wrap (wrong content-key
// length, cipher failure, wrong MAC).
constexpr CK_RV kKeyxLocalFailure = 6;
// Input refused before any token call (malformed or mismatching transport,
// unsupported UKM).
constexpr CK_RV kKeyxRefused = CKR_DATA_INVALID;


// Finds the private key with the record's CKA_ID in `session`: 1 with the
// handle, 1 with handle 0 after "Token private key not found\n", or 0 when
// a search call failed (its line printed).
int find_priv_key(ENGINE *e, const p11_gost2012_key *key, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE *handle);

// VKO agreement on the token between private key `priv` and the peer's
// public value (peer_pub_len bytes: 64, or 128 for 512-bit keys) with the
// UKM. A null output only reports 32. Otherwise *out_len must be at least
// 32; the agreed key is written and its token object destroyed. 1 or 0.
int pkcs11_vko_derive(unsigned int peer_pub_len, ENGINE *e, unsigned char *out, std::size_t *out_len,
                      const unsigned char *peer_pub, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE priv,
                      const unsigned char *ukm, std::size_t ukm_len);

// The derive, encrypt and decrypt slots of the GOST key methods (OpenSSL's
// convention: 1 success, 0 failure; *len is the output's capacity on entry
// when an output is given).
int pkey_pkcs11_derive(EVP_PKEY_CTX *ctx, unsigned char *key, std::size_t *keylen);
int pkey_pkcs11_encrypt(EVP_PKEY_CTX *ctx, unsigned char *out, std::size_t *outlen, const unsigned char *in,
                        std::size_t inlen);
int pkey_pkcs11_decrypt(EVP_PKEY_CTX *ctx, unsigned char *out, std::size_t *outlen, const unsigned char *in,
                        std::size_t inlen);

// Wraps the 32-byte content key `cek` for the recipient's public-key object
// into a key transport. With a sender private key whose type and parameter
// sets equal the recipient's, that key is the agreement's base and the
// transport carries no ephemeral key; otherwise an ephemeral key pair is
// made in the session and its public value is sent. cipher_oid is the DER of
// the GOST 28147-89 parameter set; the UKM (8 or 16 bytes; null: a random
// non-zero one of ukm_len bytes) diversifies the key. A null output only
// reports the size (after the whole token procedure); otherwise *out_len is
// the capacity (CKR_BUFFER_TOO_SMALL and the size needed when short).
CK_RV gost3410_kek_enc(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE recipient_pub,
                       CK_OBJECT_HANDLE sender_priv, const unsigned char *cipher_oid, std::size_t cipher_oid_len,
                       const unsigned char *ukm, std::size_t ukm_len, const unsigned char *cek, std::size_t cek_len,
                       unsigned char *out, std::size_t *out_len);

// Unwraps a key transport with the private key `priv`. sender_pub (64 bytes,
// or 128 for 512-bit keys; may be null) is the sender's public value: it must
// equal a transported ephemeral key, and it is the agreement's peer when the
// transport carries none. Output as for gost3410_kek_enc; the content key is
// 32 bytes.
CK_RV gost3410_kek_dec(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE priv,
                       const unsigned char *sender_pub, const unsigned char *in, std::size_t in_len,
                       unsigned char *out, std::size_t *out_len);

#endif
