// The engine's algorithm tables and the selectors OpenSSL calls.
//
// To offer an algorithm, add one entry to its table below. Digests and
// ciphers: a function that returns OpenSSL's NID for the algorithm (resolved
// from its OID) and a function that returns the method (a static record that
// lives for the process: OpenSSL's name table keeps pointing at it).
// Public-key and ASN.1 methods: the NID function and a function that creates
// a new method for that NID. These are made per engine by the bind step and
// kept in its context, because OpenSSL frees an engine's public-key and
// ASN.1 methods when it frees the engine. The order of the entries is the
// order of the NID lists handed to OpenSSL. The tables are never destroyed:
// OpenSSL's clean-up at exit frees the engine, and asks the selectors for
// its methods, after the program's own static objects are gone.
#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_PKEY_METHOD, EVP_PKEY_ASN1_METHOD, ENGINE
#include "pkcs11_methods.h"

#include "pkcs11_core_eng.h"
#include "gost_objects.h"
#include "pkcs11_ameth.h"
#include "pkcs11_pmeth.h"
#include "zkc_gost28147.h"
#include "zkc_gost3411_2012.h"

#include <openssl/engine.h>
#include <openssl/evp.h>

#include <vector>

namespace {

template <typename Method>
struct StaticEntry {
    int (*nid)();         // OpenSSL's NID for the algorithm
    Method *(*method)();  // the method, or NULL when it cannot be had
};

template <typename Method>
struct CreatedEntry {
    int (*nid)();            // OpenSSL's NID for the algorithm
    Method *(*create)(int);  // a new method for that NID, or NULL
};

using DigestEntry = StaticEntry<const EVP_MD>;
using CipherEntry = StaticEntry<const EVP_CIPHER>;
using PkeyEntry = CreatedEntry<EVP_PKEY_METHOD>;
using Asn1Entry = CreatedEntry<EVP_PKEY_ASN1_METHOD>;

// OpenSSL's NID of one GOST object, as a table entry's NID function.
template <GostObj Obj>
int nid_of() {
    return gost_nid(Obj);
}

// Digests, in this order: GOST R 34.11-94, GOST R 34.11-2012 256 and 512,
// GOST 28147-89 MAC.
const std::vector<DigestEntry> &digest_table() {
    static const auto *table = new std::vector<DigestEntry>{
        {nid_of<GostObj::md_gost94>, zkc_gost94_digest},
        {nid_of<GostObj::gost3411_2012_256>, zkc_gost2012_256_digest},
        {nid_of<GostObj::gost3411_2012_512>, zkc_gost2012_512_digest},
        {nid_of<GostObj::gost_mac>, zkc_gost_mac_digest},
    };
    return *table;
}

// Ciphers: GOST 28147-89 (CFB), then GOST 28147-89 counter mode.
const std::vector<CipherEntry> &cipher_table() {
    static const auto *table = new std::vector<CipherEntry>{
        {nid_of<GostObj::gost89>, zkc_gost89_cipher},
        {nid_of<GostObj::gost89_cnt>, zkc_gost89_cnt_cipher},
    };
    return *table;
}

EVP_PKEY_METHOD *create_pmeth(int nid) {
    EVP_PKEY_METHOD *m = nullptr;
    return register_pmeth_pkcs11(nid, &m, 0) ? m : nullptr;
}

// The PEM name and description of each ASN.1 method, in table order.
struct Asn1Names {
    const char *pem;
    const char *info;
};
constexpr Asn1Names kAsn1Names[] = {
    {"GOST2001", "GOST R 34.10-2001"},
    {"GOST3410-2012-256", "GOST R 34.10-2012-256"},
    {"GOST3410-2012-512", "GOST R 34.10-2012-512"},
    {"GOST-MAC", "GOST 28147-89 MAC"},
};

template <size_t K>
EVP_PKEY_ASN1_METHOD *create_ameth(int nid) {
    EVP_PKEY_ASN1_METHOD *m = nullptr;
    return register_ameth_pkcs11(nid, &m, kAsn1Names[K].pem, kAsn1Names[K].info) ? m : nullptr;
}

// Public-key methods: GOST R 34.10-2001, GOST R 34.10-2012 256 and 512,
// GOST 28147-89 MAC.
const std::vector<PkeyEntry> &pkey_table() {
    static const auto *table = new std::vector<PkeyEntry>{
        {nid_of<GostObj::gost2001>, create_pmeth},
        {nid_of<GostObj::gost3410_2012_256>, create_pmeth},
        {nid_of<GostObj::gost3410_2012_512>, create_pmeth},
        {nid_of<GostObj::gost_mac>, create_pmeth},
    };
    return *table;
}

// ASN.1 methods, for the same algorithms as the public-key methods.
const std::vector<Asn1Entry> &asn1_table() {
    static const auto *table = new std::vector<Asn1Entry>{
        {nid_of<GostObj::gost2001>, create_ameth<0>},
        {nid_of<GostObj::gost3410_2012_256>, create_ameth<1>},
        {nid_of<GostObj::gost3410_2012_512>, create_ameth<2>},
        {nid_of<GostObj::gost_mac>, create_ameth<3>},
    };
    return *table;
}

// The NIDs of a table, resolved once.
template <typename Table>
const std::vector<int> &nids_of(const Table &table) {
    static const auto *nids = [&table] {
        auto *out = new std::vector<int>;
        out->reserve(table.size());
        for (const auto &entry : table)
            out->push_back(entry.nid());
        return out;
    }();
    return *nids;
}

template <typename Table>
int hand_out_nids(const Table &table, const int **nids) {
    const std::vector<int> &list = nids_of(table);
    if (nids)
        *nids = list.empty() ? nullptr : list.data();
    return static_cast<int>(list.size());
}

// The position of nid in the table's list, or -1.
template <typename Table>
int index_of(const Table &table, int nid) {
    const std::vector<int> &list = nids_of(table);
    for (size_t k = 0; k < list.size(); ++k)
        if (list[k] != 0 && list[k] == nid)
            return static_cast<int>(k);
    return -1;
}

template <typename Method, typename Out>
int select_static(const std::vector<StaticEntry<Method>> &table, Out **out, const int **nids, int nid) {
    if (!out)
        return hand_out_nids(table, nids);
    int k = index_of(table, nid);
    *out = k < 0 ? nullptr : table[static_cast<size_t>(k)].method();
    return *out ? 1 : 0;
}

template <typename Method>
int select_created(ENGINE *e, const std::vector<CreatedEntry<Method>> &table, std::vector<Method *> P11_ENGINE_CTX::*kept,
                   Method **out, const int **nids, int nid) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx(e);
    if (!out) {
        // An engine without its methods (context gone) offers none, so that
        // OpenSSL frees nothing twice.
        if (!ctx || (ctx->*kept).size() != table.size()) {
            if (nids)
                *nids = nullptr;
            return 0;
        }
        return hand_out_nids(table, nids);
    }
    int k = index_of(table, nid);
    *out = (k < 0 || !ctx || (ctx->*kept).size() != table.size()) ? nullptr : (ctx->*kept)[static_cast<size_t>(k)];
    return *out ? 1 : 0;
}

}  // namespace

int pkcs11_digests(ENGINE *, const EVP_MD **digest, const int **nids, int nid) {
    return select_static(digest_table(), digest, nids, nid);
}

int pkcs11_ciphers(ENGINE *, const EVP_CIPHER **cipher, const int **nids, int nid) {
    return select_static(cipher_table(), cipher, nids, nid);
}

int pkcs11_pkey_meths(ENGINE *e, EVP_PKEY_METHOD **pmeth, const int **nids, int nid) {
    return select_created(e, pkey_table(), &P11_ENGINE_CTX::pkey_meths, pmeth, nids, nid);
}

int pkcs11_pkey_asn1_meths(ENGINE *e, EVP_PKEY_ASN1_METHOD **ameth, const int **nids, int nid) {
    return select_created(e, asn1_table(), &P11_ENGINE_CTX::asn1_meths, ameth, nids, nid);
}

int pkcs11_create_key_methods(ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx(e);
    if (!ctx || !ctx->asn1_meths.empty() || !ctx->pkey_meths.empty())
        return 0;
    std::vector<EVP_PKEY_ASN1_METHOD *> asn1;
    std::vector<EVP_PKEY_METHOD *> pkey;
    auto release = [&] {
        for (EVP_PKEY_ASN1_METHOD *m : asn1)
            EVP_PKEY_asn1_free(m);
        for (EVP_PKEY_METHOD *m : pkey)
            EVP_PKEY_meth_free(m);
        return 0;
    };
    for (const auto &entry : asn1_table()) {
        EVP_PKEY_ASN1_METHOD *m = entry.create(entry.nid());
        if (!m)
            return release();
        asn1.push_back(m);
    }
    for (const auto &entry : pkey_table()) {
        EVP_PKEY_METHOD *m = entry.create(entry.nid());
        if (!m)
            return release();
        pkey.push_back(m);
    }
    ctx->asn1_meths = std::move(asn1);
    ctx->pkey_meths = std::move(pkey);
    return 1;
}

int pkcs11_add_algorithms(void) {
    for (const auto &entry : cipher_table()) {
        const EVP_CIPHER *cipher = entry.method();
        if (!cipher || !EVP_add_cipher(cipher) || !gost_add_cipher_aliases(EVP_CIPHER_get_nid(cipher)))
            return 0;
    }
    for (const auto &entry : digest_table()) {
        const EVP_MD *digest = entry.method();
        if (!digest || !EVP_add_digest(digest) || !gost_add_digest_aliases(EVP_MD_get_type(digest)))
            return 0;
    }
    return 1;
}
