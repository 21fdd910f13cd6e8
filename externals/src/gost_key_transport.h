// The parts of a GostR3410-KeyTransport (RFC 4490) that need neither a
// token nor OpenSSL: the CryptoPro key wrap of a 32-byte content key under
// an agreed key-encryption key (key diversification with the UKM, RFC 4357
// 6.5; GOST 28147-89 MAC and ECB encryption, 6.3 and 6.4), and the
// assembly of the structure with the BER codec. The engine and the provider
// both wrap and unwrap through here. `who` prefixes the line printed to
// stderr when a cipher step fails; with a null `who` nothing is printed.
#ifndef GOST_KEY_TRANSPORT_H
#define GOST_KEY_TRANSPORT_H

#include <cstddef>
#include <vector>

#include "gost28147_89.h"

// Length of the agreed key, the key-encryption key and the content key.
constexpr std::size_t kKeyxKeyLen = 32;
// Length of the wrap's MAC.
constexpr std::size_t kKeyxMacLen = GOST28147_89_MAC_SIZE;

// Wraps cek under kek: enc_key receives 32 bytes, mac 4. Only the first 8
// UKM bytes are used.
bool gost_key_wrap(const GOST28147_89_PARAM &par, const unsigned char *kek, const unsigned char *ukm,
                   const unsigned char *cek, unsigned char *enc_key, unsigned char *mac, const char *who);

// Decrypts a wrapped key (32 bytes) into cek and computes the MAC it must
// carry into mac; the caller compares (in constant time) before using cek.
bool gost_key_unwrap(const GOST28147_89_PARAM &par, const unsigned char *kek, const unsigned char *ukm,
                     const unsigned char *enc_key, unsigned char *cek, unsigned char *mac, const char *who);

// The fields of a transport to encode; every *_oid is a complete DER OID.
struct TransportParts {
    const unsigned char *enc_key, *mac;
    const unsigned char *cipher_oid;
    std::size_t cipher_oid_len;
    const std::vector<unsigned char> *alg_oid;  // null without ephemeral key
    const unsigned char *param_oid, *digest_oid;
    std::size_t param_oid_len, digest_oid_len;
    const unsigned char *pub;
    std::size_t pub_len;
    const unsigned char *ukm;
    std::size_t ukm_len;
};

// Sizes the transport into *size, and builds it into *out when out is given.
bool encode_transport(const TransportParts &t, std::vector<unsigned char> *out, std::size_t *size);

#endif
