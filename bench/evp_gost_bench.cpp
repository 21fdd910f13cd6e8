// The GOST digests, ciphers and MAC of the engine and of the provider through
// OpenSSL's EVP against the crypto core's own calls, 1 MiB a message, in the
// same run. After the run a summary prints each EVP figure as a ratio to the
// core's (the EVP shells are to stay within 5 % of it).
//
//   build-dir/bench/evp_gost_bench           (or --benchmark_filter=... etc.)
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "bench_summary.h"

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "gost28147_89.h"
#include "gost_objects.h"
#include "gost_r3411_94.h"
#include "hash_low/gost_r3411_2012.h"
#include "pkcs11_core_eng.h"
#include "zkc_gost28147.h"

namespace {

constexpr size_t kSize = 1 << 20;

std::vector<uint8_t> input() { return bench_input(kSize); }

const uint8_t kKey[32] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba,
                          0x98, 0x76, 0x54, 0x32, 0x10, 0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a,
                          0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};
const uint8_t kIv[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

bool engine_loaded() {
    static const bool loaded = [] {
        ENGINE_load_zk_p11_core();
        ENGINE *e = ENGINE_by_id(ZK_P11_ENGINE_ID);
        ENGINE_free(e);
        return e != nullptr;
    }();
    return loaded;
}

// The provider in a library context of its own, its algorithms fetched at
// start-up, before the engine is loaded: OpenSSL 3.0 would otherwise give
// them the engine's NIDs and hand their work to the engine.
struct Provided {
    std::map<std::string, EVP_MD *> md;
    std::map<std::string, EVP_CIPHER *> cipher;
    EVP_MAC *mac = nullptr;
};
const Provided &provided() {
    static const Provided p = [] {
        Provided p;
        OSSL_LIB_CTX *lib = OSSL_LIB_CTX_new();
        if (!OSSL_PROVIDER_set_default_search_path(lib, TOKENCERT_PROVIDER_DIR) ||
            !OSSL_PROVIDER_load(lib, "zk_p11_core_2012"))
            return p;
        for (const char *name : {"md_gost94", "md_gost12_256", "md_gost12_512"})
            p.md[name] = EVP_MD_fetch(lib, name, nullptr);
        for (const char *name : {"gost89", "gost89-cnt"})
            p.cipher[name] = EVP_CIPHER_fetch(lib, name, nullptr);
        p.mac = EVP_MAC_fetch(lib, "gost-mac", nullptr);
        return p;
    }();
    return p;
}
[[maybe_unused]] const bool kProviderFetched = !provided().md.empty();

void finish(benchmark::State &state) { state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize)); }

// ---- digests ---------------------------------------------------------------

void evp_digest(benchmark::State &state, const EVP_MD *md) {
    if (!md) {
        state.SkipWithError("no digest");
        return;
    }
    std::vector<uint8_t> in = input();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, in.data(), in.size());
        EVP_DigestFinal_ex(ctx, digest, &len);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    finish(state);
}

void BM_Core_GostR3411_94(benchmark::State &state) {
    std::vector<uint8_t> in = input();
    uint8_t digest[32];
    GOSTR3411_94_CTX ctx;
    const GOSTR3411_94_PARAM *param = GOSTR3411_94_DefaultParam();
    for (auto _ : state) {
        GOSTR3411_94_Init_more_par(&ctx, param->der, param->der_len, nullptr, 0);
        GOSTR3411_94_Update(&ctx, in.data(), in.size());
        GOSTR3411_94_Final(&ctx, digest);
        benchmark::DoNotOptimize(digest);
    }
    finish(state);
}

template <bool Is512>
void BM_Core_GostR3411_2012(benchmark::State &state) {
    std::vector<uint8_t> in = input();
    uint8_t digest[64];
    GOSTR3411_2012_CTX ctx;
    for (auto _ : state) {
        if (Is512) {
            GOSTR3411_2012_512_Init(&ctx);
            GOSTR3411_2012_512_Update(&ctx, in.data(), in.size());
            GOSTR3411_2012_512_Final(&ctx, digest);
        } else {
            GOSTR3411_2012_256_Init(&ctx);
            GOSTR3411_2012_256_Update(&ctx, in.data(), in.size());
            GOSTR3411_2012_256_Final(&ctx, digest);
        }
        benchmark::DoNotOptimize(digest);
    }
    finish(state);
}

const EVP_MD *engine_md(GostObj obj) { return engine_loaded() ? EVP_get_digestbynid(gost_nid(obj)) : nullptr; }
const EVP_MD *provider_md(const char *name) { return provided().md.count(name) ? provided().md.at(name) : nullptr; }

void BM_Evp_GostR3411_94(benchmark::State &s) { evp_digest(s, engine_md(GostObj::md_gost94)); }
void BM_Evp_GostR3411_2012_256(benchmark::State &s) { evp_digest(s, engine_md(GostObj::gost3411_2012_256)); }
void BM_Evp_GostR3411_2012_512(benchmark::State &s) { evp_digest(s, engine_md(GostObj::gost3411_2012_512)); }
void BM_Prov_GostR3411_94(benchmark::State &s) { evp_digest(s, provider_md("md_gost94")); }
void BM_Prov_GostR3411_2012_256(benchmark::State &s) { evp_digest(s, provider_md("md_gost12_256")); }
void BM_Prov_GostR3411_2012_512(benchmark::State &s) { evp_digest(s, provider_md("md_gost12_512")); }
BENCHMARK(BM_Core_GostR3411_94);
BENCHMARK(BM_Evp_GostR3411_94);
BENCHMARK(BM_Prov_GostR3411_94);
BENCHMARK(BM_Core_GostR3411_2012<false>)->Name("BM_Core_GostR3411_2012_256");
BENCHMARK(BM_Evp_GostR3411_2012_256);
BENCHMARK(BM_Prov_GostR3411_2012_256);
BENCHMARK(BM_Core_GostR3411_2012<true>)->Name("BM_Core_GostR3411_2012_512");
BENCHMARK(BM_Evp_GostR3411_2012_512);
BENCHMARK(BM_Prov_GostR3411_2012_512);

// ---- ciphers and MAC ---------------------------------------------------------

// The engine's default set, as the EVP records use it.
const GOST28147_89_PARAM *set_z() {
    static const GOST28147_89_PARAM *z = [] {
        const uint8_t der[] = {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x05, 0x01, 0x01};
        const GOST28147_89_PARAM *p = nullptr;
        GOST28147_89_FindParByDerOid(der, sizeof der, &p);
        return p;
    }();
    return z;
}

void core_cipher(benchmark::State &state, int mode, int encrypt) {
    std::vector<uint8_t> in = input(), out(kSize + 8);
    const GOST28147_89_PARAM *z = set_z();
    GOST28147_89_CTX ctx;
    for (auto _ : state) {
        GOST28147_89_Init(&ctx, encrypt, z->table, mode, 0, z->key_meshing, 0, kIv, kKey);
        GOST_DATA_BLOB bin = {uint32_t(in.size()), in.data()};
        GOST_DATA_BLOB bout = {uint32_t(out.size()), out.data()};
        GOST28147_89_Update(&ctx, &bin, mode == GOST28147_89_MODE_MAC ? nullptr : &bout);
        GOST28147_89_Final(&ctx);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(ctx.mac);
    }
    finish(state);
}

void evp_cipher(benchmark::State &state, const EVP_CIPHER *c, int encrypt) {
    if (!c) {
        state.SkipWithError("no cipher");
        return;
    }
    std::vector<uint8_t> in = input(), out(kSize + 8);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    for (auto _ : state) {
        EVP_CipherInit_ex(ctx, c, nullptr, kKey, kIv, encrypt);
        EVP_CipherUpdate(ctx, out.data(), &len, in.data(), int(in.size()));
        EVP_CipherFinal_ex(ctx, out.data() + len, &len);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    finish(state);
}

void BM_Evp_Gost89_Mac(benchmark::State &state) {
    const EVP_MD *mac = engine_loaded() ? EVP_get_digestbynid(gost_nid(GostObj::gost_mac)) : nullptr;
    if (!mac) {
        state.SkipWithError("no engine MAC");
        return;
    }
    std::vector<uint8_t> in = input();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, mac, nullptr);
        EVP_MD_CTX_ctrl(ctx, ZKC_MAC_CTRL_SET_KEY, 32, const_cast<uint8_t *>(kKey));
        EVP_DigestUpdate(ctx, in.data(), in.size());
        EVP_DigestFinal_ex(ctx, out, &len);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    finish(state);
}

// The provider's MAC through EVP_MAC, keyed at each init.
void BM_Prov_Gost89_Mac(benchmark::State &state) {
    EVP_MAC_CTX *ctx = provided().mac ? EVP_MAC_CTX_new(provided().mac) : nullptr;
    if (!ctx) {
        state.SkipWithError("no provider MAC");
        return;
    }
    std::vector<uint8_t> in = input();
    unsigned char out[8];
    size_t len = 0;
    for (auto _ : state) {
        EVP_MAC_init(ctx, kKey, sizeof kKey, nullptr);
        EVP_MAC_update(ctx, in.data(), in.size());
        EVP_MAC_final(ctx, out, &len, sizeof out);
        benchmark::DoNotOptimize(out);
    }
    EVP_MAC_CTX_free(ctx);
    finish(state);
}

const EVP_CIPHER *engine_cipher(GostObj obj) { return engine_loaded() ? EVP_get_cipherbynid(gost_nid(obj)) : nullptr; }
const EVP_CIPHER *provider_cipher(const char *name) {
    return provided().cipher.count(name) ? provided().cipher.at(name) : nullptr;
}

void BM_Core_Gost89_CFB(benchmark::State &s) { core_cipher(s, GOST28147_89_MODE_CFB, 1); }
void BM_Evp_Gost89_CFB(benchmark::State &s) { evp_cipher(s, engine_cipher(GostObj::gost89), 1); }
void BM_Prov_Gost89_CFB(benchmark::State &s) { evp_cipher(s, provider_cipher("gost89"), 1); }
void BM_Core_Gost89_CFB_Decrypt(benchmark::State &s) { core_cipher(s, GOST28147_89_MODE_CFB, 0); }
void BM_Evp_Gost89_CFB_Decrypt(benchmark::State &s) { evp_cipher(s, engine_cipher(GostObj::gost89), 0); }
void BM_Prov_Gost89_CFB_Decrypt(benchmark::State &s) { evp_cipher(s, provider_cipher("gost89"), 0); }
void BM_Core_Gost89_CNT(benchmark::State &s) { core_cipher(s, GOST28147_89_MODE_CNT, 1); }
void BM_Evp_Gost89_CNT(benchmark::State &s) { evp_cipher(s, engine_cipher(GostObj::gost89_cnt), 1); }
void BM_Prov_Gost89_CNT(benchmark::State &s) { evp_cipher(s, provider_cipher("gost89-cnt"), 1); }
void BM_Core_Gost89_Mac(benchmark::State &s) { core_cipher(s, GOST28147_89_MODE_MAC, 1); }
BENCHMARK(BM_Core_Gost89_CFB);
BENCHMARK(BM_Evp_Gost89_CFB);
BENCHMARK(BM_Prov_Gost89_CFB);
BENCHMARK(BM_Core_Gost89_CFB_Decrypt);
BENCHMARK(BM_Evp_Gost89_CFB_Decrypt);
BENCHMARK(BM_Prov_Gost89_CFB_Decrypt);
BENCHMARK(BM_Core_Gost89_CNT);
BENCHMARK(BM_Evp_Gost89_CNT);
BENCHMARK(BM_Prov_Gost89_CNT);
BENCHMARK(BM_Core_Gost89_Mac);
BENCHMARK(BM_Evp_Gost89_Mac);
BENCHMARK(BM_Prov_Gost89_Mac);

// ---- summary -----------------------------------------------------------------

// Prints as usual and keeps each run's throughput (the median when repeated).

void print_summary(const SummaryReporter &r) {
    const char *pairs[] = {"GostR3411_94", "GostR3411_2012_256", "GostR3411_2012_512", "Gost89_CFB",
                           "Gost89_CFB_Decrypt", "Gost89_CNT", "Gost89_Mac"};
    std::printf("\nEVP through the engine and through the provider against the core, 1 MiB\n"
                "(MB/s = 10^6 bytes/s, CPU time); GOST 28147-89 with set Z and CryptoPro key meshing\n");
    std::printf("%-20s %-8s %10s %10s %7s  %s\n", "algorithm", "via", "core MB/s", "EVP MB/s", "ratio", "within 5 %");
    for (const char *p : pairs)
        for (const char *via : {"Evp", "Prov"}) {
            const double core = r.get(std::string("BM_Core_") + p, "bytes_per_second"),
                         evp = r.get(std::string("BM_") + via + "_" + p, "bytes_per_second");
            if (core <= 0 || evp <= 0)
                continue;
            const double q = evp / core;
            std::printf("%-20s %-8s %10.1f %10.1f %7.3f  %s\n", p, *via == 'E' ? "engine" : "provider", core / 1e6,
                        evp / 1e6, q, q >= 0.95 ? "yes" : "NO");
        }
}

}  // namespace

int main(int argc, char **argv) { return run_benchmarks(argc, argv, print_summary); }
