// GOST R 34.10 parameter sets (curves) a key may use, and what follows from
// a key algorithm: lengths, digest parameter set, default digest, PKCS#11
// key type and mechanisms.
#ifndef GOST_PARAMS_H
#define GOST_PARAMS_H

#include <cstddef>

#include <openssl/types.h>

#include "gost_objects.h"
#include "pkcs11_vendor.h"

enum class GostKeySize { bits256, bits512 };

struct GostParamSet {
    GostObj obj;
    const char *oid;            // dotted text
    unsigned char der[11];      // complete DER of the OID: 06, length, content
    std::size_t der_len;
    const char *letter;         // abbreviation taken by "paramset", or nullptr
    int nid() const { return gost_nid(obj); }
};

struct GostParamTable {
    const GostParamSet *entries;
    std::size_t count;
    const GostParamSet *begin() const { return entries; }
    const GostParamSet *end() const { return entries + count; }
};

const GostParamTable &gost_paramsets(GostKeySize size);

// The table entry of a parameter-set NID, or nullptr (NID_undef is never found).
const GostParamSet *gost_paramset_find(GostKeySize size, int nid);
inline bool gost_paramset_in_table(GostKeySize size, int nid) { return gost_paramset_find(size, nid) != nullptr; }

// The parameter set named by its letter ("0", "A", "B", "C", "XA", "XB",
// "TCA" for 256-bit keys; "A", "B", "C" for 512-bit keys), ignoring case;
// NID_undef if none.
int gost_paramset_by_letter(GostKeySize size, const char *letter);

struct GostKeyAlg {
    GostObj alg;
    GostKeySize size;
    const GostParamTable *paramsets;  // the sets a key of the algorithm may use
    unsigned int pub_key_len;
    unsigned int priv_key_len;
    GostObj hash_params;     // digest parameter set written with the key
    GostObj default_digest;
    unsigned int sig_len;
    CK_KEY_TYPE key_type;
    CK_MECHANISM_TYPE keygen_mechanism;
    CK_MECHANISM_TYPE sign_mechanism;
};

// Properties of a key algorithm NID (gost2001, gost3410-2012-256,
// gost3410-2012-512), or nullptr for any other NID.
const GostKeyAlg *gost_key_alg(int alg_nid);

// The key algorithm of a key, whether an engine's or a provider's holds it
// (a provider's key has no NID in OpenSSL 3.0), or nullptr.
const GostKeyAlg *gost_key_alg_of(const EVP_PKEY *key);

// The parameter sets of a key algorithm: its size's table, but for GOST R
// 34.10-2001 keys, which do not take the RFC 7836 twisted Edwards curves.
inline const GostParamTable &gost_paramsets(const GostKeyAlg &alg) { return *alg.paramsets; }

// The table entry of a parameter-set NID that a key of the algorithm may
// use, or nullptr.
const GostParamSet *gost_key_paramset(const GostKeyAlg &alg, int nid);

// The parameter set "paramset" names for a key algorithm: a letter of its
// table (one character, "X" and a letter for the 256-bit exchange sets, or
// "TCA"), else a name or dotted OID of a set in its table. NID_undef when refused;
// *other_table (when given) then tells whether the text named a parameter
// set known elsewhere.
int gost_paramset_from_text(const GostKeyAlg &alg, const char *value, bool *other_table = nullptr);

#endif
