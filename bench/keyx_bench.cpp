// Key transport through the token engine on the software token: wraps
// (EVP_PKEY_encrypt, with an ephemeral key pair or with the sender's own
// key) and unwraps (EVP_PKEY_decrypt) per second, against the token's raw
// C_DeriveKey rate measured in the same run. After the run a summary gives
// each figure as a ratio to that reference.
#define OPENSSL_SUPPRESS_DEPRECATED
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
#include <vector>

#include "gost_key.h"
#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_vendor.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct KeyPair {
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    Bytes value;
    EVP_PKEY *key = nullptr;
};

// One token in a temporary directory, the engine attached to it, and a
// recipient and a sender key pair per size (CryptoPro A, TC26 512 A).
struct Bench : BenchToken {
    ENGINE *engine = nullptr;
    KeyPair recipient[2], sender[2];

    Bench() : BenchToken(fresh_bench_token("keyx-bench", module_entry(SOFTTOKEN_MODULE_PATH)))
    {
        ENGINE_load_zk_p11_core();
        engine = ENGINE_by_id(ZK_P11_ENGINE_ID);
        P11_ENGINE_CTX *ctx = p11_engine_ctx(engine);
        ctx->function_list = f;
        ctx->slot_id = slot;
        for (int big = 0; big < 2; ++big) {
            recipient[big] = make(big);
            sender[big] = make(big);
        }
    }
    ~Bench()
    {
        for (int big = 0; big < 2; ++big) {
            EVP_PKEY_free(recipient[big].key);
            EVP_PKEY_free(sender[big].key);
        }
        p11_engine_ctx(engine)->function_list = nullptr;
        ENGINE_free(engine);
        f->C_Finalize(nullptr);
        std::filesystem::remove_all(dir);
    }

    KeyPair make(int big)
    {
        GostObj alg_obj = big ? GostObj::gost3410_2012_512 : GostObj::gost3410_2012_256;
        GostObj set_obj = big ? GostObj::gost3410_2012_512_paramset_a : GostObj::gost2001_cryptopro_a_paramset;
        const GostKeyAlg *alg = gost_key_alg(gost_nid(alg_obj));
        Bytes curve = oid_der(gost_nid(set_obj)), hash = oid_der(gost_nid(alg->hash_params));
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE pub_tmpl[] = {{CKA_TOKEN, &yes, 1},
                                   {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
                                   {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()}};
        CK_ATTRIBUTE priv_tmpl[] = {{CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_DERIVE, &yes, 1}};
        CK_MECHANISM mech{alg->keygen_mechanism, nullptr, 0};
        KeyPair k;
        f->C_GenerateKeyPair(s, &mech, pub_tmpl, 3, priv_tmpl, 3, &k.pub, &k.priv);
        k.value.resize(alg->pub_key_len);
        CK_ATTRIBUTE value{CKA_VALUE, k.value.data(), k.value.size()};
        f->C_GetAttributeValue(s, k.pub, &value, 1);
        p11_gost2012_key *rec = p11_gost2012_key_new();
        fill_GOST2012_params(rec, gost_nid(alg_obj), gost_nid(set_obj));
        std::memcpy(rec->pub_key, k.value.data(), k.value.size());
        pkcs11_id_gen(rec->pub_key, rec->pub_key_len, rec->key_id);
        CK_ATTRIBUTE id{CKA_ID, rec->key_id, kGostKeyIdLen};
        f->C_SetAttributeValue(s, k.pub, &id, 1);
        f->C_SetAttributeValue(s, k.priv, &id, 1);
        k.key = EVP_PKEY_new();
        EVP_PKEY_assign(k.key, gost_nid(alg_obj), rec);
        return k;
    }
};

Bench &bench()
{
    static Bench *b = new Bench;  // the engine outlives static destruction
    return *b;
}

const Bytes kCek(32, 0x5A);

Bytes wrap_once(EVP_PKEY *to, EVP_PKEY *from)
{
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(to, nullptr);
    Bytes out(400);
    std::size_t len = out.size();
    bool ok = EVP_PKEY_encrypt_init(ctx) == 1 && (from == nullptr || EVP_PKEY_derive_set_peer(ctx, from) == 1) &&
              EVP_PKEY_encrypt(ctx, out.data(), &len, kCek.data(), kCek.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    out.resize(ok ? len : 0);
    return out;
}

void set_rate(benchmark::State &st) {
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

// Reference: the token's own agreement, C_DeriveKey of a session key (and
// its destruction).
void BM_TokenDeriveKey(benchmark::State &st)
{
    Bench &b = bench();
    int big = static_cast<int>(st.range(0));
    Bytes ukm(big ? 16 : 8, 0x33), peer = b.sender[big].value;
    CK_GOSTR3410_DERIVE_PARAMS params{CKD_NULL, peer.data(), peer.size(), ukm.data(), ukm.size()};
    CK_MECHANISM mech{big ? CKM_GOSTR3410_12_DERIVE : CKM_GOSTR3410_DERIVE, &params, sizeof params};
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_TOKEN, &no, 1}};
    for (auto _ : st) {
        CK_OBJECT_HANDLE h = 0;
        if (b.f->C_DeriveKey(b.s, &mech, b.recipient[big].priv, tmpl, 2, &h) != CKR_OK)
            st.SkipWithError("C_DeriveKey failed");
        b.f->C_DestroyObject(b.s, h);
    }
    set_rate(st);
}

void BM_Wrap(benchmark::State &st)
{
    Bench &b = bench();
    int big = static_cast<int>(st.range(0));
    for (auto _ : st)
        if (wrap_once(b.recipient[big].key, nullptr).empty())
            st.SkipWithError("wrap failed");
    set_rate(st);
}

void BM_WrapWithSenderKey(benchmark::State &st)
{
    Bench &b = bench();
    int big = static_cast<int>(st.range(0));
    for (auto _ : st)
        if (wrap_once(b.recipient[big].key, b.sender[big].key).empty())
            st.SkipWithError("wrap failed");
    set_rate(st);
}

void BM_Unwrap(benchmark::State &st)
{
    Bench &b = bench();
    int big = static_cast<int>(st.range(0));
    Bytes transport = wrap_once(b.recipient[big].key, nullptr), out(32);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(b.recipient[big].key, nullptr);
    EVP_PKEY_decrypt_init(ctx);
    for (auto _ : st) {
        std::size_t len = out.size();
        if (EVP_PKEY_decrypt(ctx, out.data(), &len, transport.data(), transport.size()) != 1 || out != kCek)
            st.SkipWithError("unwrap failed");
    }
    EVP_PKEY_CTX_free(ctx);
    set_rate(st);
}

// Prints as usual (colours only on a terminal) and keeps each run's rate.

void print_summary(const SummaryReporter &r)
{
    std::printf("\nOperations per second (CPU time); ratios to the token's C_DeriveKey of the same run\n"
                "256-bit: CryptoPro A, 512-bit: TC26 512 A\n");
    std::printf("%-18s %10s %8s %10s %8s\n", "", "256-bit", "ratio", "512-bit", "ratio");
    const double ref[2] = {r.get("BM_TokenDeriveKey/512bit:0", "ops/s"), r.get("BM_TokenDeriveKey/512bit:1", "ops/s")};
    const struct {
        const char *label, *bench;
    } lines[] = {{"C_DeriveKey", "BM_TokenDeriveKey"},
                 {"wrap (ephemeral)", "BM_Wrap"},
                 {"wrap (sender key)", "BM_WrapWithSenderKey"},
                 {"unwrap", "BM_Unwrap"}};
    for (const auto &l : lines) {
        double a = r.get(std::string(l.bench) + "/512bit:0", "ops/s"), b = r.get(std::string(l.bench) + "/512bit:1", "ops/s");
        std::printf("%-18s %10.0f %8.3f %10.0f %8.3f\n", l.label, a, ref[0] > 0 ? a / ref[0] : 0, b,
                    ref[1] > 0 ? b / ref[1] : 0);
    }
}

}  // namespace

BENCHMARK(BM_TokenDeriveKey)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_Wrap)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_WrapWithSenderKey)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_Unwrap)->Arg(0)->Arg(1)->ArgName("512bit");

int main(int argc, char **argv) { return run_benchmarks(argc, argv, print_summary); }
