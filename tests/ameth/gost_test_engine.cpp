#define OPENSSL_SUPPRESS_DEPRECATED
#include "gost_test_engine.h"

#include <openssl/engine.h>

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
    return gost_key_from_values(alg_nid, param_nid, pub);
}
