// Signatures per second through the token engine against the module's raw
// C_SignInit + C_Sign on the same key, on the software token holding the key
// pair alone or beside other private objects (the engine searches the key
// by CKA_ID in a session of its own for every signature). After the run a
// summary gives the engine's rate as a ratio to the raw rate of the same run.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "bench_summary.h"
#include "bench_token.h"
#include <dlfcn.h>
#include <unistd.h>

#include <openssl/engine.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gost_key.h"
#include "gost_objects.h"
#include "pkcs11_core_eng.h"

namespace {

using Bytes = std::vector<unsigned char>;


// One software token in a temporary directory with the user logged in, the
// engine attached to it, a key pair of each size generated through OpenSSL,
// and `others` private data objects beside them.
struct Token : BenchToken {
    ENGINE *engine = nullptr;
    EVP_PKEY *key[3] = {nullptr, nullptr, nullptr};  // 256-bit, 512-bit, another 256-bit
    CK_OBJECT_HANDLE priv[3] = {0, 0, 0};
    int others = 0;

    Token() : BenchToken(fresh_bench_token("keyops-bench", module_entry(SOFTTOKEN_MODULE_PATH)))
    {

        ENGINE_load_zk_p11_core();
        engine = ENGINE_by_id(ZK_P11_ENGINE_ID);
        if (!engine || ENGINE_ctrl(engine, PKCS11_CTRL_ATTACH_API_FUNCS, 0, f, nullptr) != 1 ||
            ENGINE_ctrl(engine, PKCS11_CTRL_SET_SESSION, static_cast<long>(s), nullptr, nullptr) != 1) {
            std::fprintf(stderr, "cannot attach the engine\n");
            std::exit(1);
        }
        const GostObj algs[3] = {GostObj::gost3410_2012_256, GostObj::gost3410_2012_512, GostObj::gost3410_2012_256};
        for (int big = 0; big < 3; ++big) {
            EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_id(gost_nid(algs[big]), nullptr);
            if (!c || EVP_PKEY_keygen_init(c) != 1 || EVP_PKEY_CTX_ctrl_str(c, "paramset", "A") != 1 ||
                EVP_PKEY_keygen(c, &key[big]) != 1) {
                std::fprintf(stderr, "key generation failed\n");
                std::exit(1);
            }
            EVP_PKEY_CTX_free(c);
            priv[big] = find_private(static_cast<const p11_gost2012_key *>(EVP_PKEY_get0(key[big]))->key_id);
        }
    }
    ~Token()
    {
        for (EVP_PKEY *k : key)
            EVP_PKEY_free(k);
        ENGINE_free(engine);
        f->C_Finalize(nullptr);
        std::filesystem::remove_all(dir);
    }

    CK_OBJECT_HANDLE find_private(const unsigned char *id)
    {
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_ID, const_cast<unsigned char *>(id), kGostKeyIdLen}};
        CK_OBJECT_HANDLE h = 0;
        CK_ULONG n = 0;
        f->C_FindObjectsInit(s, t, 2);
        f->C_FindObjects(s, &h, 1, &n);
        f->C_FindObjectsFinal(s);
        return h;
    }

    // Private data objects on the token, up to `count`.
    void fill_to(int count)
    {
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL yes = CK_TRUE;
        Bytes value(200, 0x42);
        for (; others < count; ++others) {
            std::string label = "other " + std::to_string(others);
            CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                                {CKA_TOKEN, &yes, 1},
                                {CKA_PRIVATE, &yes, 1},
                                {CKA_LABEL, label.data(), label.size()},
                                {CKA_VALUE, value.data(), value.size()}};
            CK_OBJECT_HANDLE h = 0;
            f->C_CreateObject(s, t, 5, &h);
        }
    }
};

Token &token()
{
    static Token t;
    return t;
}

// Arguments: key size (0: 256 bits, 1: 512 bits), private objects beside the
// key pair (added as the runs go: run the counts in increasing order).
void BM_RawSign(benchmark::State &st)
{
    Token &t = token();
    int big = static_cast<int>(st.range(0));
    t.fill_to(static_cast<int>(st.range(1)));
    Bytes digest(big ? 64 : 32, 0x5c), sig(128);
    CK_MECHANISM m{big ? CKM_GOSTR3410_512 : CKM_GOSTR3410, nullptr, 0};
    for (auto _ : st) {
        CK_ULONG len = sig.size();
        if (t.f->C_SignInit(t.s, &m, t.priv[big]) != CKR_OK ||
            t.f->C_Sign(t.s, digest.data(), digest.size(), sig.data(), &len) != CKR_OK)
            st.SkipWithError("C_Sign failed");
    }
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_EngineSign(benchmark::State &st)
{
    Token &t = token();
    int big = static_cast<int>(st.range(0));
    t.fill_to(static_cast<int>(st.range(1)));
    Bytes digest(big ? 64 : 32, 0x5c), sig(128);
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(t.key[big], nullptr);
    EVP_PKEY_sign_init(c);
    for (auto _ : st) {
        std::size_t len = sig.size();
        if (EVP_PKEY_sign(c, sig.data(), &len, digest.data(), digest.size()) != 1)
            st.SkipWithError("EVP_PKEY_sign failed");
    }
    EVP_PKEY_CTX_free(c);
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

// Two 256-bit keys in turn: every signature searches its key, as the first
// signature with a key does.
void BM_EngineSignSearching(benchmark::State &st)
{
    Token &t = token();
    t.fill_to(static_cast<int>(st.range(1)));
    Bytes digest(32, 0x5c), sig(128);
    EVP_PKEY_CTX *c[2] = {EVP_PKEY_CTX_new(t.key[0], nullptr), EVP_PKEY_CTX_new(t.key[2], nullptr)};
    EVP_PKEY_sign_init(c[0]);
    EVP_PKEY_sign_init(c[1]);
    int turn = 0;
    for (auto _ : st) {
        std::size_t len = sig.size();
        if (EVP_PKEY_sign(c[turn], sig.data(), &len, digest.data(), digest.size()) != 1)
            st.SkipWithError("EVP_PKEY_sign failed");
        turn ^= 1;
    }
    EVP_PKEY_CTX_free(c[0]);
    EVP_PKEY_CTX_free(c[1]);
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

constexpr int kOthers[] = {0, 20, 100};

// Raw and engine runs alternate for each setting, so both see the same
// token contents.
void register_benchmarks()
{
    for (int others : kOthers)
        for (int big : {0, 1}) {
            benchmark::RegisterBenchmark("BM_RawSign", BM_RawSign)->Args({big, others})->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark("BM_EngineSign", BM_EngineSign)->Args({big, others})->Unit(benchmark::kMicrosecond);
            if (big == 0)
                benchmark::RegisterBenchmark("BM_EngineSignSearching", BM_EngineSignSearching)
                    ->Args({big, others})
                    ->Unit(benchmark::kMicrosecond);
        }
}


void print_summary(const SummaryReporter &r)
{
    std::printf("\nSignatures per second (CPU time): the engine against the raw C_SignInit + C_Sign of the same run\n");
    std::printf("%-28s %10s %10s %8s %10s %8s\n", "", "raw", "engine", "ratio", "searching", "ratio");
    for (int others : kOthers)
        for (int big : {0, 1}) {
            std::string args = "/" + std::to_string(big) + "/" + std::to_string(others);
            const double raw = r.get("BM_RawSign" + args, "ops/s"), eng = r.get("BM_EngineSign" + args, "ops/s");
            if (raw == 0 || eng == 0)
                continue;
            char what[64];
            std::snprintf(what, sizeof what, "%s, %d other objects", big ? "512-bit" : "256-bit", others);
            std::printf("%-28s %10.0f %10.0f %8.3f", what, raw, eng, eng / raw);
            if (const double searching = r.get("BM_EngineSignSearching" + args, "ops/s"))
                std::printf(" %10.0f %8.3f", searching, searching / raw);
            std::printf("\n");
        }
    std::printf("(searching: two keys in turn, so that every signature searches its key by CKA_ID)\n"
                "target: engine at least 0.8 of raw\n");
}

}  // namespace

int main(int argc, char **argv)
{
    register_benchmarks();
    return run_benchmarks(argc, argv, print_summary);
}
