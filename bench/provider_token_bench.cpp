// Token keys through the provider, on the software token holding one GOST
// key pair beside 1000 other objects: signing with a key loaded by URI
// against the module's raw C_SignInit + C_Sign on the same key, and loading
// the key by pkcs11: URI against one raw search for it. A summary gives the
// ratios of the same run.
#include "bench_summary.h"
#include "bench_token.h"

#include <openssl/core_names.h>
#include <openssl/core_object.h>
#include <openssl/params.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gost_objects.h"
#include "token_keys.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes kCurveA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
const Bytes kHash256 = {0x06, 0x08, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02};
constexpr const char *kUri = "pkcs11:object=K;type=private";
constexpr int kOthers = 1000;

template <class Fn>
Fn store_fn(int id) { return zk_dispatch_find<Fn>(zk_stores[0].implementation, id); }

struct Loaded {
    ProvCtx *prov;
    ProvKey *key;
};

int take_key(const OSSL_PARAM params[], void *arg)
{
    auto *loaded = static_cast<Loaded *>(arg);
    const OSSL_PARAM *ref = OSSL_PARAM_locate_const(params, OSSL_OBJECT_PARAM_REFERENCE);
    loaded->key = ref ? zk_token_key_load(loaded->prov, ref->data, ref->data_size) : nullptr;
    return loaded->key != nullptr;
}

struct Token : BenchToken {
    ProvCtx prov;
    CK_OBJECT_HANDLE priv = 0;

    Token() : BenchToken(fresh_bench_token("provider-token-bench", module_entry(SOFTTOKEN_MODULE_PATH)))
    {
        CK_BBOOL yes = CK_TRUE;
        CK_OBJECT_CLASS data = CKO_DATA;
        unsigned char id = 1;
        CK_ATTRIBUTE pub[] = {{CKA_TOKEN, &yes, 1}, {CKA_GOSTR3410_PARAMS, const_cast<unsigned char *>(kCurveA.data()), 9},
                              {CKA_GOSTR3411_PARAMS, const_cast<unsigned char *>(kHash256.data()), 10},
                              {CKA_ID, &id, 1}, {CKA_LABEL, const_cast<char *>("K"), 2}};
        CK_ATTRIBUTE prv[] = {{CKA_TOKEN, &yes, 1}, {CKA_ID, &id, 1}, {CKA_LABEL, const_cast<char *>("K"), 2},
                              {CKA_SIGN, &yes, 1}};
        CK_MECHANISM m{CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE hp = 0, h = 0;
        bool ok = gost_objects_init() && f->C_GenerateKeyPair(s, &m, pub, 5, prv, 4, &hp, &priv) == CKR_OK;
        for (int i = 0; ok && i < kOthers; ++i) {
            std::string label = "other " + std::to_string(i);
            CK_ATTRIBUTE t[] = {{CKA_CLASS, &data, sizeof data}, {CKA_TOKEN, &yes, 1},
                                {CKA_LABEL, label.data(), label.size()}};
            ok = f->C_CreateObject(s, t, 3, &h) == CKR_OK;
        }
        if (!ok) {
            std::fprintf(stderr, "cannot make the key pair and the other objects\n");
            std::exit(1);
        }
        prov.pkcs11_module_path = SOFTTOKEN_MODULE_PATH;
        prov.new_error = [](const OSSL_CORE_HANDLE *) {};
        prov.vset_error = [](const OSSL_CORE_HANDLE *, uint32_t, const char *fmt, va_list args) {
            std::vfprintf(stderr, fmt ? fmt : "", args);
            std::fputc('\n', stderr);
        };
        prov.pkcs11_pin_source.assign("pass:user-pin", 13);
    }
    ~Token()
    {
        f->C_Finalize(nullptr);
        std::filesystem::remove_all(dir);
    }

    // The key of kUri, as key management gets it from the store.
    ProvKey *load()
    {
        Loaded loaded{&prov, nullptr};
        void *ctx = store_fn<OSSL_FUNC_store_open_fn *>(OSSL_FUNC_STORE_OPEN)(&prov, kUri);
        if (ctx)
            store_fn<OSSL_FUNC_store_load_fn *>(OSSL_FUNC_STORE_LOAD)(ctx, take_key, &loaded, nullptr, nullptr);
        if (ctx)
            store_fn<OSSL_FUNC_store_close_fn *>(OSSL_FUNC_STORE_CLOSE)(ctx);
        return loaded.key;
    }
};

Token &token()
{
    static Token t;
    return t;
}

void rate(benchmark::State &st)
{
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_RawSign(benchmark::State &st)
{
    Token &t = token();
    Bytes digest(32, 0x5c), sig(64);
    CK_MECHANISM m{CKM_GOSTR3410, nullptr, 0};
    for (auto _ : st) {
        CK_ULONG len = sig.size();
        if (t.f->C_SignInit(t.s, &m, t.priv) != CKR_OK || t.f->C_Sign(t.s, digest.data(), 32, sig.data(), &len) != CKR_OK)
            st.SkipWithError("C_Sign failed");
    }
    rate(st);
}

void BM_ProviderSign(benchmark::State &st)
{
    Token &t = token();
    ProvKey *key = t.load();
    Bytes digest(32, 0x5c), sig(64);
    for (auto _ : st) {
        std::size_t len = sig.size();
        if (!key || !zk_token_sign(*key, digest.data(), 32, sig.data(), &len))
            st.SkipWithError("zk_token_sign failed");
    }
    zk_key_free(key);
    rate(st);
}

// One search for the public key of the pair by class and label, in an open
// session.
void BM_RawSearch(benchmark::State &st)
{
    Token &t = token();
    CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
    CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_LABEL, const_cast<char *>("K"), 2}};
    for (auto _ : st) {
        CK_OBJECT_HANDLE h[16];
        CK_ULONG n = 0;
        if (t.f->C_FindObjectsInit(t.s, templ, 2) != CKR_OK || t.f->C_FindObjects(t.s, h, 16, &n) != CKR_OK ||
            t.f->C_FindObjectsFinal(t.s) != CKR_OK || n != 1)
            st.SkipWithError("search failed");
    }
    rate(st);
}

void BM_LoadByUri(benchmark::State &st)
{
    Token &t = token();
    for (auto _ : st) {
        ProvKey *key = t.load();
        if (!key)
            st.SkipWithError("load failed");
        zk_key_free(key);
    }
    rate(st);
}

void print_summary(const SummaryReporter &r)
{
    const double raw = r.get("BM_RawSign", "ops/s"), prov = r.get("BM_ProviderSign", "ops/s");
    const double search = r.get("BM_RawSearch", "ops/s"), load = r.get("BM_LoadByUri", "ops/s");
    std::printf("\nWith %d other objects on the token, operations per second of the same run:\n", kOthers);
    if (raw > 0 && prov > 0)
        std::printf("signing: raw C_SignInit + C_Sign %.0f, provider %.0f, ratio %.3f (target at least 0.9)\n", raw,
                    prov, prov / raw);
    if (search > 0 && load > 0)
        std::printf("loading by URI %.0f, one raw search %.0f: a load costs %.2f searches\n", load, search,
                    search / load);
}

}  // namespace

int main(int argc, char **argv)
{
    benchmark::RegisterBenchmark("BM_RawSign", BM_RawSign)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_ProviderSign", BM_ProviderSign)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_RawSearch", BM_RawSearch)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_LoadByUri", BM_LoadByUri)->Unit(benchmark::kMicrosecond);
    return run_benchmarks(argc, argv, print_summary);
}
