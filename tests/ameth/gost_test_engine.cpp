#define OPENSSL_SUPPRESS_DEPRECATED
#include "gost_test_engine.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/engine.h>
#include <openssl/sha.h>

#include <cstring>

#include "gost_objects.h"
#include "pkcs11_ameth.h"

namespace {

struct Methods {
    std::vector<int> nids;
    std::vector<EVP_PKEY_ASN1_METHOD *> ameths;
    std::vector<EVP_PKEY_METHOD *> pmeths;
    Methods()
    {
        nids = {gost_nid(GostObj::gost2001), gost_nid(GostObj::gost3410_2012_256),
                gost_nid(GostObj::gost3410_2012_512), gost_nid(GostObj::gost_mac)};
        const char *names[][2] = {{"GOST2001", "GOST R 34.10-2001"},
                                  {"GOST3410-2012-256", "GOST R 34.10-2012-256"},
                                  {"GOST3410-2012-512", "GOST R 34.10-2012-512"},
                                  {"GOST-MAC", "GOST 28147-89 MAC"}};
        for (std::size_t i = 0; i < nids.size(); ++i) {
            EVP_PKEY_ASN1_METHOD *m = nullptr;
            register_ameth_pkcs11(nids[i], &m, names[i][0], names[i][1]);
            ameths.push_back(m);
            pmeths.push_back(EVP_PKEY_meth_new(nids[i], 0));
        }
    }
};

// The engine lives until OpenSSL's exit handler frees it (and these methods
// with it), after static destruction: the record is never destroyed.
const Methods &methods()
{
    static const Methods *m = new Methods;
    return *m;
}

template <typename M>
int select(const std::vector<M *> &list, M **out, const int **nids, int nid)
{
    const Methods &m = methods();
    if (out == nullptr) {
        *nids = m.nids.data();
        return static_cast<int>(m.nids.size());
    }
    for (std::size_t i = 0; i < m.nids.size(); ++i)
        if (m.nids[i] == nid) {
            *out = list[i];
            return 1;
        }
    *out = nullptr;
    return 0;
}

int asn1_meths(ENGINE *, EVP_PKEY_ASN1_METHOD **out, const int **nids, int nid)
{
    return select(methods().ameths, out, nids, nid);
}

int pkey_meths(ENGINE *, EVP_PKEY_METHOD **out, const int **nids, int nid)
{
    return select(methods().pmeths, out, nids, nid);
}

P11_ENGINE_CTX g_ctx;

ENGINE *create()
{
    gost_objects_init();
    ENGINE *e = ENGINE_new();
    ENGINE_set_id(e, "gost-ameth-test");
    ENGINE_set_name(e, "GOST key methods under test");
    ENGINE_set_pkey_asn1_meths(e, asn1_meths);
    ENGINE_set_pkey_meths(e, pkey_meths);
    ENGINE_set_ex_data(e, 0, &g_ctx);
    ENGINE_add(e);
    ENGINE_register_pkey_asn1_meths(e);
    ENGINE_register_pkey_meths(e);
    return e;
}

std::string printed(const EVP_PKEY *k, int indent, int (*print)(BIO *, const EVP_PKEY *, int, ASN1_PCTX *))
{
    BIO *bio = BIO_new(BIO_s_mem());
    int ok = print(bio, k, indent, nullptr);
    BUF_MEM *mem = nullptr;
    BIO_get_mem_ptr(bio, &mem);
    std::string text(mem->data, mem->length);
    BIO_free(bio);
    return ok == 1 ? text : "<failed>" + text;
}

}  // namespace

ENGINE *gost_test_engine()
{
    static ENGINE *e = create();
    return e;
}

P11_ENGINE_CTX *gost_test_ctx()
{
    gost_test_engine();
    return &g_ctx;
}

PkeyPtr make_gost_key(int alg_nid, int param_nid, const std::vector<unsigned char> &pub)
{
    gost_test_engine();
    p11_gost2012_key *rec = p11_gost2012_key_new();
    fill_GOST2012_params(rec, alg_nid, param_nid);
    if (!pub.empty()) {
        std::memcpy(rec->pub_key, pub.data(), pub.size() < 128 ? pub.size() : 128);
        pkcs11_id_gen(rec->pub_key, rec->pub_key_len, rec->key_id);
    }
    PkeyPtr k(EVP_PKEY_new());
    if (!EVP_PKEY_assign(k.get(), alg_nid, rec)) {
        p11_gost2012_key_free(rec);
        return nullptr;
    }
    return k;
}

std::vector<unsigned char> hex(const std::string &s)
{
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < s.size();) {
        if (s[i] == ' ' || s[i] == '\n') {
            ++i;
            continue;
        }
        out.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

std::vector<unsigned char> pattern_bytes(std::size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>((i * 37 + seed * 101 + 1) & 0xFF);
    return v;
}

std::vector<unsigned char> sha1(const std::vector<unsigned char> &data)
{
    std::vector<unsigned char> out(SHA_DIGEST_LENGTH);
    EVP_Digest(data.data(), data.size(), out.data(), nullptr, EVP_sha1(), nullptr);
    return out;
}

std::vector<unsigned char> concat(std::vector<unsigned char> a, const std::vector<unsigned char> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string print_public(const EVP_PKEY *k, int indent) { return printed(k, indent, EVP_PKEY_print_public); }
std::string print_private(const EVP_PKEY *k, int indent) { return printed(k, indent, EVP_PKEY_print_private); }
std::string print_params(const EVP_PKEY *k, int indent) { return printed(k, indent, EVP_PKEY_print_params); }
