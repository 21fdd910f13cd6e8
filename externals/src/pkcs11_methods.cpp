// The engine's algorithm tables and the selectors OpenSSL calls.
//
// To offer an algorithm, add one entry to its table below: a function that
// returns OpenSSL's NID for the algorithm (resolved from its OID) and a
// function that returns the method (created on first call and kept). The
// order of the entries is the order of the NID lists handed to OpenSSL.
#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_PKEY_METHOD, EVP_PKEY_ASN1_METHOD, ENGINE
#include "pkcs11_methods.h"

#include <openssl/engine.h>
#include <openssl/evp.h>

#include <vector>

namespace {

template <typename Method>
struct Entry {
    int (*nid)();         // OpenSSL's NID for the algorithm
    Method *(*method)();  // the method, or NULL when it cannot be created
};

using DigestEntry = Entry<const EVP_MD>;
using CipherEntry = Entry<const EVP_CIPHER>;
using PkeyEntry = Entry<EVP_PKEY_METHOD>;
using Asn1Entry = Entry<EVP_PKEY_ASN1_METHOD>;

// Digests, in this order: GOST R 34.11-94, GOST R 34.11-2012 256 and 512,
// GOST 28147-89 MAC.
const std::vector<DigestEntry> &digest_table() {
    static const std::vector<DigestEntry> table = {
    };
    return table;
}

// Ciphers: GOST 28147-89 (CFB), then GOST 28147-89 counter mode.
const std::vector<CipherEntry> &cipher_table() {
    static const std::vector<CipherEntry> table = {
    };
    return table;
}

// Public-key methods: GOST R 34.10-2001, GOST R 34.10-2012 256 and 512,
// GOST 28147-89 MAC.
const std::vector<PkeyEntry> &pkey_table() {
    static const std::vector<PkeyEntry> table = {
    };
    return table;
}

// ASN.1 methods, for the same algorithms as the public-key methods.
const std::vector<Asn1Entry> &asn1_table() {
    static const std::vector<Asn1Entry> table = {
    };
    return table;
}

// The NIDs of a table, resolved once.
template <typename Method>
const std::vector<int> &nids_of(const std::vector<Entry<Method>> &table) {
    static const std::vector<int> nids = [&table] {
        std::vector<int> out;
        out.reserve(table.size());
        for (const auto &entry : table)
            out.push_back(entry.nid());
        return out;
    }();
    return nids;
}

template <typename Method, typename Out>
int select(const std::vector<Entry<Method>> &table, Out **out, const int **nids, int nid) {
    const std::vector<int> &list = nids_of(table);
    if (!out) {
        if (nids)
            *nids = list.empty() ? nullptr : list.data();
        return static_cast<int>(list.size());
    }
    for (size_t k = 0; k < table.size(); ++k) {
        if (list[k] != 0 && list[k] == nid) {
            *out = table[k].method();
            return *out ? 1 : 0;
        }
    }
    *out = nullptr;
    return 0;
}

}  // namespace

int pkcs11_digests(ENGINE *, const EVP_MD **digest, const int **nids, int nid) {
    return select(digest_table(), digest, nids, nid);
}

int pkcs11_ciphers(ENGINE *, const EVP_CIPHER **cipher, const int **nids, int nid) {
    return select(cipher_table(), cipher, nids, nid);
}

int pkcs11_pkey_meths(ENGINE *, EVP_PKEY_METHOD **pmeth, const int **nids, int nid) {
    return select(pkey_table(), pmeth, nids, nid);
}

int pkcs11_pkey_asn1_meths(ENGINE *, EVP_PKEY_ASN1_METHOD **ameth, const int **nids, int nid) {
    return select(asn1_table(), ameth, nids, nid);
}

int pkcs11_create_key_methods(void) {
    for (const auto &entry : asn1_table())
        if (!entry.method())
            return 0;
    for (const auto &entry : pkey_table())
        if (!entry.method())
            return 0;
    return 1;
}

int pkcs11_add_algorithms(void) {
    for (const auto &entry : cipher_table()) {
        const EVP_CIPHER *cipher = entry.method();
        if (!cipher || !EVP_add_cipher(cipher))
            return 0;
    }
    for (const auto &entry : digest_table()) {
        const EVP_MD *digest = entry.method();
        if (!digest || !EVP_add_digest(digest))
            return 0;
    }
    return 1;
}
