// Costs of the GOST objects and key methods beside their OpenSSL references:
//   name lookup     gost_txt2nid (our names first)  vs  OBJ_txt2nid
//   CKA_ID          pkcs11_id_gen on a 128-byte value  vs  SHA-1 of 131 bytes
//   certificate     d2i_X509 + public key of a GOST R 34.10-2012-512 certificate
//                   vs  the same for an ECDSA P-256 certificate
// Each GOST figure is printed after the run as a ratio to its reference.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gost_objects.h"
#include "gost_params.h"
#include "pkcs11_ameth.h"

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

BENCHMARK(BM_CertDecode_Gost512);
BENCHMARK(BM_CertDecode_EcP256_Reference);
BENCHMARK(BM_NameLookup_Gost);
BENCHMARK(BM_NameLookup_OpenSsl_Reference);
BENCHMARK(BM_KeyId_Gost512);
BENCHMARK(BM_KeyId_Sha1_Reference);

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
