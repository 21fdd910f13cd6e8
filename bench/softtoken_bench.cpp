// GOST operations of the softtoken module per second, through its function
// list as an application calls them, against OpenSSL's ECDSA P-256; and
// hash-and-sign of 1 MiB in parts against digest-then-sign. After the
// run a summary gives each figure as a ratio to the reference of the same run.
#include "bench_summary.h"
#include "bench_token.h"
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <pkcs11_vendor.h>
#include <unistd.h>

#include "gostr3410_2012.h"
#include "st_gost.h"
#include "st_mechanisms.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR);

namespace {

using Bytes = std::vector<uint8_t>;

Bytes oid(std::initializer_list<uint8_t> content) {
  Bytes der(content.size() + 2);
  der[0] = 0x06;
  der[1] = static_cast<uint8_t>(content.size());
  std::copy(content.begin(), content.end(), der.begin() + 2);
  return der;
}

const Bytes kCurve256 = oid({0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01});                    // CryptoPro A
const Bytes kCurve512 = oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x01});        // TC26 512 A
const Bytes kHash256 = oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02});                // Streebog-256
const Bytes kHash512 = oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x03});                // Streebog-512

// One token in a temporary directory, a logged-in session, and a key pair
// per curve stored on the token.
struct Token : BenchToken {
  CK_OBJECT_HANDLE pub[2] = {0, 0}, priv[2] = {0, 0};
  Bytes q[2];

  Token() : BenchToken(fresh_bench_token("softtoken-bench", C_GetFunctionList)) {
    for (int i = 0; i < 2; ++i) {
      generate(i, true, pub[i], priv[i]);
      q[i].resize(i ? 128 : 64);
      CK_ATTRIBUTE a{CKA_VALUE, q[i].data(), q[i].size()};
      f->C_GetAttributeValue(s, pub[i], &a, 1);
    }
  }
  ~Token() {
    f->C_Finalize(nullptr);
    std::filesystem::remove_all(dir);
  }

  CK_RV generate(int big, bool token, CK_OBJECT_HANDLE& hp, CK_OBJECT_HANDLE& hk) {
    return generate_on(big ? kCurve512 : kCurve256, big, token, hp, hk);
  }

  CK_RV generate_on(const Bytes& curve, int big, bool token, CK_OBJECT_HANDLE& hp, CK_OBJECT_HANDLE& hk) {
    CK_MECHANISM m{big ? CKM_GOSTR3410_512_KEY_PAIR_GEN : CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_BBOOL tok = token ? CK_TRUE : CK_FALSE, yes = CK_TRUE;
    const Bytes& hash = big ? kHash512 : kHash256;
    CK_ATTRIBUTE pt[] = {{CKA_TOKEN, &tok, 1},
                         {CKA_GOSTR3410_PARAMS, const_cast<uint8_t*>(curve.data()), curve.size()},
                         {CKA_GOSTR3411_PARAMS, const_cast<uint8_t*>(hash.data()), hash.size()},
                         {CKA_VERIFY, &yes, 1}};
    CK_ATTRIBUTE kt[] = {{CKA_TOKEN, &tok, 1}, {CKA_SIGN, &yes, 1}, {CKA_DERIVE, &yes, 1}};
    return f->C_GenerateKeyPair(s, &m, pt, 4, kt, 3, &hp, &hk);
  }
};

Token& token() {
  static Token t;
  return t;
}

void BM_GostKeygen(benchmark::State& st) {
  Token& t = token();
  int big = static_cast<int>(st.range(0));
  for (auto _ : st) {
    CK_OBJECT_HANDLE hp, hk;
    if (t.generate(big, false, hp, hk) != CKR_OK) st.SkipWithError("C_GenerateKeyPair failed");
    t.f->C_DestroyObject(t.s, hp);
    t.f->C_DestroyObject(t.s, hk);
  }
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_GostSign(benchmark::State& st) {
  Token& t = token();
  int big = static_cast<int>(st.range(0));
  Bytes digest(big ? 64 : 32, 0x5c), sig(128);
  CK_MECHANISM m{big ? CKM_GOSTR3410_512 : CKM_GOSTR3410, nullptr, 0};
  for (auto _ : st) {
    CK_ULONG len = sig.size();
    if (t.f->C_SignInit(t.s, &m, t.priv[big]) != CKR_OK ||
        t.f->C_Sign(t.s, digest.data(), digest.size(), sig.data(), &len) != CKR_OK)
      st.SkipWithError("sign failed");
  }
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_GostVerify(benchmark::State& st) {
  Token& t = token();
  int big = static_cast<int>(st.range(0));
  Bytes digest(big ? 64 : 32, 0x5c), sig(128);
  CK_MECHANISM m{big ? CKM_GOSTR3410_512 : CKM_GOSTR3410, nullptr, 0};
  CK_ULONG len = sig.size();
  t.f->C_SignInit(t.s, &m, t.priv[big]);
  t.f->C_Sign(t.s, digest.data(), digest.size(), sig.data(), &len);
  for (auto _ : st) {
    if (t.f->C_VerifyInit(t.s, &m, t.pub[big]) != CKR_OK ||
        t.f->C_Verify(t.s, digest.data(), digest.size(), sig.data(), len) != CKR_OK)
      st.SkipWithError("verify failed");
  }
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_GostDerive(benchmark::State& st) {
  Token& t = token();
  int big = static_cast<int>(st.range(0));
  Bytes ukm(big ? 16 : 8, 0x33);
  CK_GOSTR3410_DERIVE_PARAMS p{CKD_NULL, t.q[big].data(), t.q[big].size(), ukm.data(), ukm.size()};
  CK_MECHANISM m{big ? CKM_GOSTR3410_12_DERIVE : CKM_GOSTR3410_DERIVE, &p, sizeof p};
  for (auto _ : st) {
    CK_OBJECT_HANDLE k;
    if (t.f->C_DeriveKey(t.s, &m, t.priv[big], nullptr, 0, &k) != CKR_OK) st.SkipWithError("derive failed");
    t.f->C_DestroyObject(t.s, k);
  }
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

// The signature arithmetic alone, without the PKCS#11 layer and the token's
// storage: shows what C_SignInit's key lookup and decryption add.
void BM_GostSignArithmetic(benchmark::State& st) {
  int big = static_cast<int>(st.range(0));
  const Bytes& oid = big ? kCurve512 : kCurve256;
  const softtoken::GostCurve* c = softtoken::find_gost_curve(oid.data(), oid.size());
  softtoken::SecureBytes d;
  Bytes q, digest(c->n, 0x5c), sig(2 * c->n);
  softtoken::gost_generate(*c, d, q);
  for (auto _ : st) {
    if (softtoken::gost_sign(*c, d, digest.data(), digest.size(), sig.data()) != CKR_OK) st.SkipWithError("failed");
  }
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

// Every built-in curve but the test sets, by name, with a session key pair.
struct CurveCase {
  std::string name;
  Bytes der;
  int big;
  CK_OBJECT_HANDLE pub = 0, priv = 0;
};

std::vector<CurveCase>& curve_cases() {
  static std::vector<CurveCase> cases = [] {
    std::vector<CurveCase> v;
    for (size_t i = 0; const GOSTR3410_2012_256_PARAMS* c = GOSTR3410_2012_256_GetCurve(i); ++i)
      v.push_back({c->name, Bytes(c->der, c->der + c->der_len), 0});
    for (size_t i = 0; const GOSTR3410_2012_512_PARAMS* c = GOSTR3410_2012_512_GetCurve(i); ++i)
      v.push_back({c->name, Bytes(c->der, c->der + c->der_len), 1});
    v.erase(std::remove_if(v.begin(), v.end(), [](const CurveCase& c) { return c.name.find("Test") != std::string::npos; }),
            v.end());
    for (auto& c : v) token().generate_on(c.der, c.big, false, c.pub, c.priv);
    return v;
  }();
  return cases;
}
constexpr int kMaxCurves = 9;

// Key generation, signing or verification (op 0, 1, 2) on one curve.
void BM_Curve(benchmark::State& st) {
  Token& t = token();
  const auto idx = static_cast<size_t>(st.range(0));
  const int op = static_cast<int>(st.range(1));
  if (idx >= curve_cases().size()) return st.SkipWithError("no such curve");
  const CurveCase& c = curve_cases()[idx];
  Bytes digest(c.big ? 64 : 32, 0x5c), sig(128);
  CK_MECHANISM m{c.big ? CKM_GOSTR3410_512 : CKM_GOSTR3410, nullptr, 0};
  CK_ULONG len = sig.size();
  t.f->C_SignInit(t.s, &m, c.priv);
  t.f->C_Sign(t.s, digest.data(), digest.size(), sig.data(), &len);
  for (auto _ : st) {
    CK_OBJECT_HANDLE hp, hk;
    CK_ULONG l = sig.size();
    const bool ok = op == 0   ? t.generate_on(c.der, c.big, false, hp, hk) == CKR_OK &&
                                  t.f->C_DestroyObject(t.s, hp) == CKR_OK && t.f->C_DestroyObject(t.s, hk) == CKR_OK
                    : op == 1 ? t.f->C_SignInit(t.s, &m, c.priv) == CKR_OK &&
                                  t.f->C_Sign(t.s, digest.data(), digest.size(), sig.data(), &l) == CKR_OK
                              : t.f->C_VerifyInit(t.s, &m, c.pub) == CKR_OK &&
                                  t.f->C_Verify(t.s, digest.data(), digest.size(), sig.data(), len) == CKR_OK;
    if (!ok) st.SkipWithError("operation failed");
  }
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

// Signing 1 MiB: hash-and-sign in 64 KiB parts (C_SignUpdate, C_SignFinal),
// against C_Digest of the whole followed by the raw mechanism on the digest.
constexpr size_t kMessage = 1 << 20, kPart = 1 << 16;

void BM_HashAndSign1MiB(benchmark::State& st) {
  Token& t = token();
  int big = static_cast<int>(st.range(0));
  Bytes msg(kMessage, 0xa5), sig(128);
  CK_MECHANISM m{big ? CKM_GOSTR3410_WITH_GOSTR3411_12_512 : CKM_GOSTR3410_WITH_GOSTR3411_12_256, nullptr, 0};
  for (auto _ : st) {
    CK_ULONG len = sig.size();
    bool ok = t.f->C_SignInit(t.s, &m, t.priv[big]) == CKR_OK;
    for (size_t at = 0; ok && at < msg.size(); at += kPart) ok = t.f->C_SignUpdate(t.s, msg.data() + at, kPart) == CKR_OK;
    if (!ok || t.f->C_SignFinal(t.s, sig.data(), &len) != CKR_OK) st.SkipWithError("hash-and-sign failed");
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * kMessage));
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_DigestThenSign1MiB(benchmark::State& st) {
  Token& t = token();
  int big = static_cast<int>(st.range(0));
  Bytes msg(kMessage, 0xa5), digest(64), sig(128);
  CK_MECHANISM dm{big ? CKM_GOSTR3411_12_512 : CKM_GOSTR3411_12_256, nullptr, 0};
  CK_MECHANISM m{big ? CKM_GOSTR3410_512 : CKM_GOSTR3410, nullptr, 0};
  for (auto _ : st) {
    CK_ULONG dlen = digest.size(), len = sig.size();
    if (t.f->C_DigestInit(t.s, &dm) != CKR_OK || t.f->C_Digest(t.s, msg.data(), msg.size(), digest.data(), &dlen) != CKR_OK ||
        t.f->C_SignInit(t.s, &m, t.priv[big]) != CKR_OK || t.f->C_Sign(t.s, digest.data(), dlen, sig.data(), &len) != CKR_OK)
      st.SkipWithError("digest-then-sign failed");
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * kMessage));
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

// Reference: OpenSSL's ECDSA on P-256 over a 32-byte digest.
struct P256 {
  EVP_PKEY* key = nullptr;
  P256() { key = EVP_EC_gen("P-256"); }
  ~P256() { EVP_PKEY_free(key); }
};

P256& p256() {
  static P256 k;
  return k;
}

void BM_OpenSSL_ECDSA_P256_Sign(benchmark::State& st) {
  Bytes digest(32, 0x5c), sig(128);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(p256().key, nullptr);
  EVP_PKEY_sign_init(ctx);
  for (auto _ : st) {
    size_t len = sig.size();
    if (EVP_PKEY_sign(ctx, sig.data(), &len, digest.data(), digest.size()) != 1) st.SkipWithError("sign failed");
  }
  EVP_PKEY_CTX_free(ctx);
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_OpenSSL_ECDSA_P256_Verify(benchmark::State& st) {
  Bytes digest(32, 0x5c), sig(128);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(p256().key, nullptr);
  EVP_PKEY_sign_init(ctx);
  size_t len = sig.size();
  EVP_PKEY_sign(ctx, sig.data(), &len, digest.data(), digest.size());
  EVP_PKEY_verify_init(ctx);
  for (auto _ : st) {
    if (EVP_PKEY_verify(ctx, sig.data(), len, digest.data(), digest.size()) != 1) st.SkipWithError("verify failed");
  }
  EVP_PKEY_CTX_free(ctx);
  st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}


constexpr double kSignTarget256 = 1500;  // signatures per second on a 256-bit curve

void print_summary(const SummaryReporter& r) {
  const double ref_sign = r.get("BM_OpenSSL_ECDSA_P256_Sign", "ops/s"), ref_verify = r.get("BM_OpenSSL_ECDSA_P256_Verify", "ops/s");
  std::printf("\nOperations per second (CPU time); ratios to OpenSSL ECDSA P-256 of the same run\n"
              "(sign: %.0f/s, verify: %.0f/s); 256-bit: CryptoPro A, 512-bit: TC26 512 A\n",
              ref_sign, ref_verify);
  std::printf("%-8s %10s %10s %10s %10s\n", "", "256-bit", "ratio", "512-bit", "ratio");
  const struct {
    const char* label;
    const char* bench;
    double reference;
  } lines[] = {{"keygen", "BM_GostKeygen", ref_sign},
               {"sign", "BM_GostSign", ref_sign},
               {"verify", "BM_GostVerify", ref_verify},
               {"derive", "BM_GostDerive", ref_sign}};
  for (const auto& l : lines) {
    const double a = r.get(std::string(l.bench) + "/512bit:0", "ops/s"), b = r.get(std::string(l.bench) + "/512bit:1", "ops/s");
    if (a == 0 && b == 0) continue;
    const double ref = l.reference > 0 ? l.reference : 0;
    std::printf("%-8s %10.0f %10.3f %10.0f %10.3f\n", l.label, a, ref ? a / ref : 0, b, ref ? b / ref : 0);
  }
  std::printf("(keygen and derive against ECDSA signing: one secret scalar multiplication each)\n");
  for (int big = 0; big < 2; ++big) {
    const std::string arg = big ? "/512bit:1" : "/512bit:0";
    const double hs = r.get("BM_HashAndSign1MiB" + arg, "ops/s"), ds = r.get("BM_DigestThenSign1MiB" + arg, "ops/s");
    if (hs > 0 && ds > 0)
      std::printf("1 MiB, %s: hash-and-sign in parts %.2f/s, digest then sign %.2f/s, ratio %.3f (target >= 0.90)\n",
                  big ? "512-bit" : "256-bit", hs, ds, hs / ds);
  }
  std::printf("\nEvery curve, ratios to ECDSA P-256 signing (keygen, sign) and verification (verify):\n");
  std::printf("%-40s %8s %8s %8s\n", "", "keygen", "sign", "verify");
  for (size_t i = 0; i < curve_cases().size(); ++i) {
    double v[3];
    for (int op = 0; op < 3; ++op)
      v[op] = r.get("BM_Curve/curve:" + std::to_string(i) + "/op:" + std::to_string(op), "ops/s");
    if (v[0] == 0 && v[1] == 0 && v[2] == 0) continue;
    std::printf("%-40s %8.3f %8.3f %8.3f\n", curve_cases()[i].name.c_str(), ref_sign ? v[0] / ref_sign : 0,
                ref_sign ? v[1] / ref_sign : 0, ref_verify ? v[2] / ref_verify : 0);
  }
  const double sign256 = r.get("BM_GostSign/512bit:0", "ops/s");
  if (sign256 > 0)
    std::printf("target: at least %.0f signatures/s on the 256-bit curve: %s (%.0f/s)\n", kSignTarget256,
                sign256 >= kSignTarget256 ? "met" : "MISSED", sign256);
}

}  // namespace

BENCHMARK(BM_GostKeygen)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_GostSign)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_GostVerify)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_GostDerive)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_GostSignArithmetic)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_Curve)->ArgsProduct({benchmark::CreateDenseRange(0, kMaxCurves - 1, 1), {0, 1, 2}})->ArgNames({"curve", "op"});
BENCHMARK(BM_HashAndSign1MiB)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_DigestThenSign1MiB)->Arg(0)->Arg(1)->ArgName("512bit");
BENCHMARK(BM_OpenSSL_ECDSA_P256_Sign);
BENCHMARK(BM_OpenSSL_ECDSA_P256_Verify);

int main(int argc, char** argv) { return run_benchmarks(argc, argv, print_summary); }
