// Key-operation methods (EVP_PKEY_METHOD) of the GOST keys (gost2001,
// gost3410-2012-256, gost3410-2012-512) and of the GOST 28147-89 MAC key.
//
// Each operation context of a GOST key carries a p11_gost_pkey_ctx: the
// parameter set chosen for generation, the announced digest, the user keying
// material and the peer-key mark. Parameter generation fills a
// p11_gost2012_key record. Key generation, signing and verification run on
// the token (pkcs11_gost3410_2012.h); key agreement and transport slot into
// the same methods.
// The MAC key's contexts carry a p11_mac_pkey_ctx with the 32-byte key; the
// MAC itself is made by the engine's "gost-mac" digest (EVP_DigestSign).
#ifndef PKCS11_PMETH_H
#define PKCS11_PMETH_H

#include <openssl/evp.h>

#include <cstddef>

#include "pkcs11_ameth.h"  // kGostMacKeyLen

// Per-operation data of the GOST key methods, zero-filled at creation.
struct p11_gost_pkey_ctx {
    int alg_nid;         // key algorithm, set by parameter generation
    int param_nid;       // parameter set for generation; 0 = none chosen
    const EVP_MD *md;    // digest announced by the digest control
    unsigned char *ukm;  // user keying material (IV control), owned, or null
    int peer_key_set;    // 1 once the peer-key control marked a peer key
    std::size_t ukm_len;  // length of ukm, so readers never run past it
    char *label;          // label for a generated pair ("label" option), owned, or null
};

// Per-operation data of the MAC method, zero-filled at creation.
struct p11_mac_pkey_ctx {
    const EVP_MD *md;
    int key_set;  // 1 when key holds the MAC key
    unsigned char key[kGostMacKeyLen];
};

// Length of a GOST 28147-89 MAC made through the MAC key.
constexpr std::size_t kGostMacLen = 4;

// The parameter-set control: p1 is the parameter set's NID.
#define EVP_PKEY_CTRL_GOST_PARAMSET (EVP_PKEY_ALG_CTRL + 1)
// The MAC digest's set-key control (32-byte key in p2).
#define EVP_MD_CTRL_GOST_SET_KEY (EVP_MD_CTRL_ALG_CTRL + 4)

// Creates a new key-operation method for nid into *pmeth, with the given
// flags: the GOST key slots for the GOST key algorithms, the MAC slots for
// the MAC key. Any other NID prints
// "register_pmeth_pkcs11: Unsupported NID %d" and returns 0. The method
// belongs to the engine that hands it to OpenSSL (OpenSSL frees it with the
// engine). 1 or 0.
int register_pmeth_pkcs11(int nid, EVP_PKEY_METHOD **pmeth, int flags);

#endif
