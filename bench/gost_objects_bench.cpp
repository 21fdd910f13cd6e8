// Costs of the GOST objects and key methods beside their OpenSSL references:
//   name lookup     gost_txt2nid (our names first)  vs  OBJ_txt2nid
//   CKA_ID          pkcs11_id_gen on a 128-byte value  vs  SHA-1 of 131 bytes
//   certificate     d2i_X509 + public key of a GOST R 34.10-2012-512 certificate
//                   vs  the same for an ECDSA P-256 certificate
//   PKCS#8 import   EVP_PKCS82PKEY of a GOST private key (256-bit CryptoPro A,
//                   512-bit set A: the public value is computed)  vs  the same
//                   for an EC P-256 key stored without its public key
// Each GOST figure is printed after the run as a ratio to its reference.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>

#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gost_key_params.h"
#include "gost_objects.h"
#include "gost_params.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"

namespace {

// An engine offering the GOST ASN.1 methods (with bare public-key methods,
// which OpenSSL requires before it decodes a key through an engine).
void register_engine()
{
    static bool done = [] {
        static std::vector<int> nids = {gost_nid(GostObj::gost2001), gost_nid(GostObj::gost3410_2012_256),
                                        gost_nid(GostObj::gost3410_2012_512)};
        static std::vector<EVP_PKEY_ASN1_METHOD *> ameths;
        static std::vector<EVP_PKEY_METHOD *> pmeths;
        for (int nid : nids) {
            EVP_PKEY_ASN1_METHOD *m = nullptr;
            register_ameth_pkcs11(nid, &m, "GOST", "GOST");
            ameths.push_back(m);
            pmeths.push_back(EVP_PKEY_meth_new(nid, 0));
        }
        ENGINE *e = ENGINE_new();
        ENGINE_set_id(e, "gost-bench");
        ENGINE_set_name(e, "gost-bench");
        ENGINE_set_pkey_asn1_meths(e, [](ENGINE *, EVP_PKEY_ASN1_METHOD **out, const int **list, int nid) {
            if (out == nullptr) {
                *list = nids.data();
                return static_cast<int>(nids.size());
            }
            for (std::size_t i = 0; i < nids.size(); ++i)
                if (nids[i] == nid)
                    return (*out = ameths[i]) != nullptr ? 1 : 0;
            *out = nullptr;
            return 0;
        });
        ENGINE_set_pkey_meths(e, [](ENGINE *, EVP_PKEY_METHOD **out, const int **list, int nid) {
            if (out == nullptr) {
                *list = nids.data();
                return static_cast<int>(nids.size());
            }
            for (std::size_t i = 0; i < nids.size(); ++i)
                if (nids[i] == nid)
                    return (*out = pmeths[i]) != nullptr ? 1 : 0;
            *out = nullptr;
            return 0;
        });
        static P11_ENGINE_CTX ctx;  // private-key decoding asks for it
        ENGINE_set_ex_data(e, 0, &ctx);
        ENGINE_add(e);
        ENGINE_register_pkey_asn1_meths(e);
        ENGINE_register_pkey_meths(e);
        return true;
    }();
    (void)done;
}

std::vector<unsigned char> certificate(EVP_PKEY *subject_key)
{
    static EVP_PKEY *issuer = EVP_EC_gen("P-256");
    X509 *x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
    X509_NAME *name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("bench"), -1, -1, 0);
    X509_set_issuer_name(x, name);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_set_pubkey(x, subject_key);
    X509_sign(x, issuer, EVP_sha256());
    unsigned char *der = nullptr;
    int len = i2d_X509(x, &der);
    std::vector<unsigned char> out(der, der + (len > 0 ? len : 0));
    OPENSSL_free(der);
    X509_free(x);
    return out;
}

const std::vector<unsigned char> &gost_certificate()
{
    static const std::vector<unsigned char> der = [] {
        register_engine();
        p11_gost2012_key *rec = p11_gost2012_key_new();
        fill_GOST2012_params(rec, gost_nid(GostObj::gost3410_2012_512), gost_nid(GostObj::gost3410_2012_512_paramset_a));
        for (unsigned i = 0; i < rec->pub_key_len; ++i)
            rec->pub_key[i] = static_cast<unsigned char>(i * 7 + 1);
        pkcs11_id_gen(rec->pub_key, rec->pub_key_len, rec->key_id);
        EVP_PKEY *k = EVP_PKEY_new();
        EVP_PKEY_assign(k, gost_nid(GostObj::gost3410_2012_512), rec);
        std::vector<unsigned char> out = certificate(k);
        EVP_PKEY_free(k);
        return out;
    }();
    return der;
}

const std::vector<unsigned char> &ec_certificate()
{
    static const std::vector<unsigned char> der = [] {
        EVP_PKEY *k = EVP_EC_gen("P-256");
        std::vector<unsigned char> out = certificate(k);
        EVP_PKEY_free(k);
        return out;
    }();
    return der;
}

void decode(benchmark::State &state, const std::vector<unsigned char> &der)
{
    if (der.empty()) {
        state.SkipWithError("no certificate");
        return;
    }
    for (auto _ : state) {
        const unsigned char *p = der.data();
        X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        benchmark::DoNotOptimize(X509_get0_pubkey(x));
        X509_free(x);
    }
}

void BM_CertDecode_Gost512(benchmark::State &state) { decode(state, gost_certificate()); }
void BM_CertDecode_EcP256_Reference(benchmark::State &state) { decode(state, ec_certificate()); }

const char *const kNames[] = {"gost3410-2012-512", "GOST R 34.10-2012 512 bits", "1.2.643.7.1.1.1.2",
                              "id-tc26-gost-28147-param-Z", "sha256"};

void BM_NameLookup_Gost(benchmark::State &state)
{
    gost_objects_init();
    for (auto _ : state)
        for (const char *n : kNames)
            benchmark::DoNotOptimize(gost_txt2nid(n));
}

void BM_NameLookup_OpenSsl_Reference(benchmark::State &state)
{
    // OpenSSL's names for the same objects.
    const char *names[] = {"gost2012_512", "GOST R 34.10-2012 with 512 bit modulus", "1.2.643.7.1.1.1.2",
                           "id-tc26-gost-28147-param-Z", "sha256"};
    for (auto _ : state)
        for (const char *n : names)
            benchmark::DoNotOptimize(OBJ_txt2nid(n));
}

void BM_KeyId_Gost512(benchmark::State &state)
{
    unsigned char pub[128], id[20];
    std::memset(pub, 0x5A, sizeof pub);
    for (auto _ : state) {
        pkcs11_id_gen(pub, sizeof pub, id);
        benchmark::DoNotOptimize(id);
    }
}

void BM_KeyId_Sha1_Reference(benchmark::State &state)
{
    unsigned char buf[131], id[20];
    std::memset(buf, 0x5A, sizeof buf);
    for (auto _ : state) {
        SHA1(buf, sizeof buf, id);
        benchmark::DoNotOptimize(id);
    }
}

// PrivateKeyInfo DER of a GOST key with a random private value (an OCTET
// STRING, little-endian), as a PKCS#12 file carries it.
std::vector<unsigned char> gost_pkcs8(GostObj alg, GostObj set)
{
    register_engine();
    const GostKeyAlg *props = gost_key_alg(gost_nid(alg));
    std::vector<unsigned char> element(2 + props->priv_key_len);
    element[0] = V_ASN1_OCTET_STRING;
    element[1] = static_cast<unsigned char>(props->priv_key_len);
    RAND_bytes(element.data() + 2, static_cast<int>(props->priv_key_len));
    element.back() &= 0x3F;
    ZKC_GOST2012_KEY_PARAMS *params = ZKC_GOST2012_KEY_PARAMS_new();
    params->key_params = OBJ_nid2obj(gost_nid(set));
    params->hash_params = OBJ_nid2obj(gost_nid(props->hash_params));
    unsigned char *params_der = nullptr;
    int params_len = i2d_ZKC_GOST2012_KEY_PARAMS(params, &params_der);
    ZKC_GOST2012_KEY_PARAMS_free(params);
    ASN1_STRING *seq = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_STRING_set0(seq, params_der, params_len);
    PKCS8_PRIV_KEY_INFO *p8 = PKCS8_PRIV_KEY_INFO_new();
    unsigned char *value = static_cast<unsigned char *>(OPENSSL_memdup(element.data(), element.size()));
    PKCS8_pkey_set0(p8, OBJ_nid2obj(gost_nid(alg)), 0, V_ASN1_SEQUENCE, seq, value, static_cast<int>(element.size()));
    unsigned char *der = nullptr;
    int len = i2d_PKCS8_PRIV_KEY_INFO(p8, &der);
    std::vector<unsigned char> out(der, der + (len > 0 ? len : 0));
    OPENSSL_free(der);
    PKCS8_PRIV_KEY_INFO_free(p8);
    return out;
}

// An EC P-256 key written without its public key: reading it back computes
// the public point, as GOST import does.
std::vector<unsigned char> ec_pkcs8()
{
    EVP_PKEY *k = EVP_EC_gen("P-256");
    EC_KEY *ec = EVP_PKEY_get1_EC_KEY(k);
    EC_KEY_set_enc_flags(ec, EC_PKEY_NO_PUBKEY);
    EVP_PKEY *legacy = EVP_PKEY_new();
    EVP_PKEY_assign_EC_KEY(legacy, ec);
    PKCS8_PRIV_KEY_INFO *p8 = EVP_PKEY2PKCS8(legacy);
    unsigned char *der = nullptr;
    int len = p8 != nullptr ? i2d_PKCS8_PRIV_KEY_INFO(p8, &der) : 0;
    std::vector<unsigned char> out(der, der + (len > 0 ? len : 0));
    OPENSSL_free(der);
    PKCS8_PRIV_KEY_INFO_free(p8);
    EVP_PKEY_free(legacy);
    EVP_PKEY_free(k);
    return out;
}

void import(benchmark::State &state, const std::vector<unsigned char> &der)
{
    const unsigned char *p = der.data();
    PKCS8_PRIV_KEY_INFO *p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY *probe = p8 != nullptr ? EVP_PKCS82PKEY(p8) : nullptr;
    if (probe == nullptr)
        state.SkipWithError("the key is not decoded");
    EVP_PKEY_free(probe);
    for (auto _ : state) {
        EVP_PKEY *k = EVP_PKCS82PKEY(p8);
        benchmark::DoNotOptimize(k);
        EVP_PKEY_free(k);
    }
    PKCS8_PRIV_KEY_INFO_free(p8);
    state.counters["keys/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Pkcs8Import_Gost256(benchmark::State &state)
{
    import(state, gost_pkcs8(GostObj::gost3410_2012_256, GostObj::gost2001_cryptopro_a_paramset));
}
void BM_Pkcs8Import_Gost512(benchmark::State &state)
{
    import(state, gost_pkcs8(GostObj::gost3410_2012_512, GostObj::gost3410_2012_512_paramset_a));
}
void BM_Pkcs8Import_EcP256_Reference(benchmark::State &state) { import(state, ec_pkcs8()); }

BENCHMARK(BM_CertDecode_Gost512);
BENCHMARK(BM_CertDecode_EcP256_Reference);
BENCHMARK(BM_NameLookup_Gost);
BENCHMARK(BM_NameLookup_OpenSsl_Reference);
BENCHMARK(BM_KeyId_Gost512);
BENCHMARK(BM_KeyId_Sha1_Reference);
BENCHMARK(BM_Pkcs8Import_Gost256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pkcs8Import_Gost512)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pkcs8Import_EcP256_Reference)->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration and prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs)
            times_[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        ratio("certificate decode, GOST 512 / ECDSA P-256", "BM_CertDecode_Gost512", "BM_CertDecode_EcP256_Reference");
        ratio("name lookup, ours / OBJ_txt2nid", "BM_NameLookup_Gost", "BM_NameLookup_OpenSsl_Reference");
        ratio("CKA_ID, pkcs11_id_gen / SHA-1", "BM_KeyId_Gost512", "BM_KeyId_Sha1_Reference");
        ratio("PKCS#8 import, GOST 256 / EC P-256", "BM_Pkcs8Import_Gost256", "BM_Pkcs8Import_EcP256_Reference");
        ratio("PKCS#8 import, GOST 512 / EC P-256", "BM_Pkcs8Import_Gost512", "BM_Pkcs8Import_EcP256_Reference");
    }

private:
    void ratio(const char *what, const std::string &a, const std::string &b)
    {
        if (times_.count(a) && times_.count(b) && times_[b] > 0)
            std::printf("cpu time ratio %-45s %.2f\n", what, times_[a] / times_[b]);
    }
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
