// Throughput of the crypto core's GOST 28147-89 modes and GOST R 34.11 hashes
// over 1 MiB and 64-byte inputs, with OpenSSL's SHA-256, SHA-512 and
// AES-256-CFB measured in the same run as references. After the run a summary
// prints each GOST figure as a ratio to its reference, in MB/s and in
// reference cycles per byte: rdtsc around the calls of a message, the best of
// many, with the process pinned to the core it runs on (best_ticks below). The
// best of many is the figure a shared machine can repeat; it counts TSC
// ticks, which run at the nominal clock whatever the core's own clock does.
//
//   build-dir/bench/core_bench            (or --benchmark_filter=... etc.)
#include "bench_summary.h"

#include <openssl/evp.h>
#include <sched.h>
#include <x86intrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gost28147_89.h"
#include "gost_r3411_94.h"
#include "hash_low/gost_r3411_2012.h"

namespace {

constexpr int64_t kLarge = 1 << 20;
constexpr int64_t kSmall = 64;

std::vector<uint8_t> input(size_t n) { return bench_input(n); }

const uint8_t kKey[32] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba,
                          0x98, 0x76, 0x54, 0x32, 0x10, 0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a,
                          0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};
const uint8_t kIv[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                         0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00};

const uint8_t kDerZ[] = {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x05, 0x01, 0x01};

// One GOST 28147-89 message: Init, Update, Final.
int gost28147_message(GOST28147_89_CTX &ctx, const GOST28147_89_PARAM &p, int mode, int encrypt,
                      std::vector<uint8_t> &in, std::vector<uint8_t> &out)
{
    GOST28147_89_Init(&ctx, encrypt, p.table, mode, 0, p.key_meshing, 0, kIv, kKey);
    GOST_DATA_BLOB bin = {uint32_t(in.size()), in.data()};
    GOST_DATA_BLOB bout = {uint32_t(out.size()), out.data()};
    const int rc = GOST28147_89_Update(&ctx, &bin, mode == GOST28147_89_MODE_MAC ? nullptr : &bout);
    GOST28147_89_Final(&ctx);
    return rc;
}

// One GOST 28147-89 message per iteration (Init, Update, Final) with set Z
// and CryptoPro key meshing.
void gost28147(benchmark::State &state, int mode, int encrypt = 1)
{
    const size_t n = size_t(state.range(0));
    std::vector<uint8_t> in = input(n), out(n + 8);
    const GOST28147_89_PARAM *z = nullptr;
    if (GOST28147_89_FindParByDerOid(kDerZ, sizeof kDerZ, &z) != 0) {
        state.SkipWithError("set Z not found");
        return;
    }
    GOST28147_89_CTX ctx;
    for (auto _ : state) {
        if (gost28147_message(ctx, *z, mode, encrypt, in, out) != 0) {
            state.SkipWithError("update failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(ctx.mac);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void BM_Gost28147_ECB(benchmark::State &s) { gost28147(s, GOST28147_89_MODE_ECB); }
void BM_Gost28147_CFB(benchmark::State &s) { gost28147(s, GOST28147_89_MODE_CFB); }
void BM_Gost28147_CNT(benchmark::State &s) { gost28147(s, GOST28147_89_MODE_CNT); }
void BM_Gost28147_CBC(benchmark::State &s) { gost28147(s, GOST28147_89_MODE_CBC); }
void BM_Gost28147_MAC(benchmark::State &s) { gost28147(s, GOST28147_89_MODE_MAC); }
// Decryption, where CFB and CBC need no chaining through the cipher.
void BM_Gost28147_CFB_Decrypt(benchmark::State &s) { gost28147(s, GOST28147_89_MODE_CFB, 0); }
void BM_Gost28147_CBC_Decrypt(benchmark::State &s) { gost28147(s, GOST28147_89_MODE_CBC, 0); }
BENCHMARK(BM_Gost28147_ECB)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_Gost28147_CFB)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_Gost28147_CNT)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_Gost28147_CBC)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_Gost28147_MAC)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_Gost28147_CFB_Decrypt)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_Gost28147_CBC_Decrypt)->Arg(kLarge)->Arg(kSmall);

void gost94_message(GOSTR3411_94_CTX &ctx, const GOSTR3411_94_PARAM &param,
                    const std::vector<uint8_t> &in, uint8_t *digest)
{
    GOSTR3411_94_Init_ex(&ctx, param.table);
    GOSTR3411_94_Update(&ctx, in.data(), in.size());
    GOSTR3411_94_Final(&ctx, digest);
}

void BM_GostR3411_94(benchmark::State &state)
{
    const size_t n = size_t(state.range(0));
    std::vector<uint8_t> in = input(n);
    uint8_t digest[32];
    GOSTR3411_94_CTX ctx;
    const GOSTR3411_94_PARAM *param = GOSTR3411_94_DefaultParam();
    for (auto _ : state) {
        gost94_message(ctx, *param, in, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_GostR3411_94)->Arg(kLarge)->Arg(kSmall);

void gost2012_message(GOSTR3411_2012_CTX &ctx, bool is512, const std::vector<uint8_t> &in,
                      uint8_t *digest)
{
    if (is512) {
        GOSTR3411_2012_512_Init(&ctx);
        GOSTR3411_2012_512_Update(&ctx, in.data(), in.size());
        GOSTR3411_2012_512_Final(&ctx, digest);
    } else {
        GOSTR3411_2012_256_Init(&ctx);
        GOSTR3411_2012_256_Update(&ctx, in.data(), in.size());
        GOSTR3411_2012_256_Final(&ctx, digest);
    }
}

void gost2012(benchmark::State &state, bool is512)
{
    const size_t n = size_t(state.range(0));
    std::vector<uint8_t> in = input(n);
    uint8_t digest[64];
    GOSTR3411_2012_CTX ctx;
    for (auto _ : state) {
        gost2012_message(ctx, is512, in, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
void BM_GostR3411_2012_256(benchmark::State &s) { gost2012(s, false); }
void BM_GostR3411_2012_512(benchmark::State &s) { gost2012(s, true); }
BENCHMARK(BM_GostR3411_2012_256)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_GostR3411_2012_512)->Arg(kLarge)->Arg(kSmall);

// --- OpenSSL references ---------------------------------------------------

void openssl_digest_message(EVP_MD_CTX *ctx, const EVP_MD *md, const std::vector<uint8_t> &in,
                            unsigned char *digest, unsigned int *len)
{
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, in.data(), in.size());
    EVP_DigestFinal_ex(ctx, digest, len);
}

void openssl_digest(benchmark::State &state, const EVP_MD *md)
{
    const size_t n = size_t(state.range(0));
    std::vector<uint8_t> in = input(n);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        openssl_digest_message(ctx, md, in, digest, &len);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
void BM_OpenSSL_SHA256(benchmark::State &s) { openssl_digest(s, EVP_sha256()); }
void BM_OpenSSL_SHA512(benchmark::State &s) { openssl_digest(s, EVP_sha512()); }
BENCHMARK(BM_OpenSSL_SHA256)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_OpenSSL_SHA512)->Arg(kLarge)->Arg(kSmall);

void openssl_aes_cfb_message(EVP_CIPHER_CTX *ctx, int encrypt, const std::vector<uint8_t> &in,
                             std::vector<uint8_t> &out, int *len)
{
    EVP_CipherInit_ex(ctx, EVP_aes_256_cfb128(), nullptr, kKey, kIv, encrypt);
    EVP_CipherUpdate(ctx, out.data(), len, in.data(), int(in.size()));
    EVP_CipherFinal_ex(ctx, out.data() + *len, len);
}

void openssl_aes_cfb(benchmark::State &state, int encrypt)
{
    const size_t n = size_t(state.range(0));
    std::vector<uint8_t> in = input(n), out(n + 16);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    for (auto _ : state) {
        openssl_aes_cfb_message(ctx, encrypt, in, out, &len);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
void BM_OpenSSL_AES256_CFB(benchmark::State &s) { openssl_aes_cfb(s, 1); }
void BM_OpenSSL_AES256_CFB_Decrypt(benchmark::State &s) { openssl_aes_cfb(s, 0); }
BENCHMARK(BM_OpenSSL_AES256_CFB)->Arg(kLarge)->Arg(kSmall);
BENCHMARK(BM_OpenSSL_AES256_CFB_Decrypt)->Arg(kLarge)->Arg(kSmall);

// --- reference cycles ---------------------------------------------------

// One message over n bytes prepared beforehand, in its three calls (Init,
// Update over a stretch of the input, Final), ready to run again and again;
// nothing is allocated inside the measured calls.
struct Message {
    std::function<void()> begin;
    std::function<void(size_t offset, size_t length)> update;
    std::function<void()> end;
    explicit operator bool() const { return bool(update); }
};
using MessageFactory = std::function<Message(size_t n)>;

std::map<std::string, MessageFactory> message_factories()
{
    std::map<std::string, MessageFactory> f;
    auto g89 = [](int mode, int encrypt) {
        return [mode, encrypt](size_t n) -> Message {
            const GOST28147_89_PARAM *z = nullptr;
            if (GOST28147_89_FindParByDerOid(kDerZ, sizeof kDerZ, &z) != 0)
                return {};
            auto in = std::make_shared<std::vector<uint8_t>>(input(n));
            auto out = std::make_shared<std::vector<uint8_t>>(n + 8);
            auto ctx = std::make_shared<GOST28147_89_CTX>();
            return {[=] { GOST28147_89_Init(ctx.get(), encrypt, z->table, mode, 0, z->key_meshing, 0, kIv, kKey); },
                    [=](size_t offset, size_t length) {
                        GOST_DATA_BLOB bin = {uint32_t(length), in->data() + offset};
                        GOST_DATA_BLOB bout = {uint32_t(out->size() - offset), out->data() + offset};
                        GOST28147_89_Update(ctx.get(), &bin, mode == GOST28147_89_MODE_MAC ? nullptr : &bout);
                    },
                    [=] { GOST28147_89_Final(ctx.get()); }};
        };
    };
    f["BM_Gost28147_ECB"] = g89(GOST28147_89_MODE_ECB, 1);
    f["BM_Gost28147_CFB"] = g89(GOST28147_89_MODE_CFB, 1);
    f["BM_Gost28147_CFB_Decrypt"] = g89(GOST28147_89_MODE_CFB, 0);
    f["BM_Gost28147_CNT"] = g89(GOST28147_89_MODE_CNT, 1);
    f["BM_Gost28147_CBC"] = g89(GOST28147_89_MODE_CBC, 1);
    f["BM_Gost28147_CBC_Decrypt"] = g89(GOST28147_89_MODE_CBC, 0);
    f["BM_Gost28147_MAC"] = g89(GOST28147_89_MODE_MAC, 1);
    f["BM_GostR3411_94"] = [](size_t n) -> Message {
        auto in = std::make_shared<std::vector<uint8_t>>(input(n));
        auto ctx = std::make_shared<GOSTR3411_94_CTX>();
        auto digest = std::make_shared<std::vector<uint8_t>>(32);
        return {[=] { GOSTR3411_94_Init_ex(ctx.get(), GOSTR3411_94_DefaultParam()->table); },
                [=](size_t offset, size_t length) { GOSTR3411_94_Update(ctx.get(), in->data() + offset, length); },
                [=] { GOSTR3411_94_Final(ctx.get(), digest->data()); }};
    };
    for (bool is512 : {false, true})
        f[is512 ? "BM_GostR3411_2012_512" : "BM_GostR3411_2012_256"] = [is512](size_t n) -> Message {
            auto in = std::make_shared<std::vector<uint8_t>>(input(n));
            auto ctx = std::make_shared<GOSTR3411_2012_CTX>();
            auto digest = std::make_shared<std::vector<uint8_t>>(64);
            return {[=] { is512 ? GOSTR3411_2012_512_Init(ctx.get()) : GOSTR3411_2012_256_Init(ctx.get()); },
                    [=](size_t offset, size_t length) {
                        is512 ? GOSTR3411_2012_512_Update(ctx.get(), in->data() + offset, length)
                              : GOSTR3411_2012_256_Update(ctx.get(), in->data() + offset, length);
                    },
                    [=] {
                        is512 ? GOSTR3411_2012_512_Final(ctx.get(), digest->data())
                              : GOSTR3411_2012_256_Final(ctx.get(), digest->data());
                    }};
        };
    auto md = [](const EVP_MD *type) {
        return [type](size_t n) -> Message {
            auto in = std::make_shared<std::vector<uint8_t>>(input(n));
            std::shared_ptr<EVP_MD_CTX> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
            auto digest = std::make_shared<std::vector<uint8_t>>(EVP_MAX_MD_SIZE);
            return {[=] { EVP_DigestInit_ex(ctx.get(), type, nullptr); },
                    [=](size_t offset, size_t length) { EVP_DigestUpdate(ctx.get(), in->data() + offset, length); },
                    [=] {
                        unsigned int len = 0;
                        EVP_DigestFinal_ex(ctx.get(), digest->data(), &len);
                    }};
        };
    };
    f["BM_OpenSSL_SHA256"] = md(EVP_sha256());
    f["BM_OpenSSL_SHA512"] = md(EVP_sha512());
    for (int encrypt : {1, 0})
        f[encrypt ? "BM_OpenSSL_AES256_CFB" : "BM_OpenSSL_AES256_CFB_Decrypt"] = [encrypt](size_t n) -> Message {
            auto in = std::make_shared<std::vector<uint8_t>>(input(n));
            auto out = std::make_shared<std::vector<uint8_t>>(n + 16);
            std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
            return {[=] { EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cfb128(), nullptr, kKey, kIv, encrypt); },
                    [=](size_t offset, size_t length) {
                        int len = 0;
                        EVP_CipherUpdate(ctx.get(), out->data() + offset, &len, in->data() + offset, int(length));
                    },
                    [=] {
                        int len = 0;
                        EVP_CipherFinal_ex(ctx.get(), out->data() + in->size(), &len);
                    }};
        };
    return f;
}

// Keeps the process on the core it is running on while alive.
class PinToThisCore {
public:
    PinToThisCore()
    {
        pinned_ = sched_getaffinity(0, sizeof old_, &old_) == 0;
        const int cpu = sched_getcpu();
        if (pinned_ && cpu >= 0) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            pinned_ = sched_setaffinity(0, sizeof one, &one) == 0;
        }
    }
    ~PinToThisCore()
    {
        if (pinned_)
            sched_setaffinity(0, sizeof old_, &old_);
    }
    PinToThisCore(const PinToThisCore &) = delete;
    PinToThisCore &operator=(const PinToThisCore &) = delete;

private:
    cpu_set_t old_{};
    bool pinned_ = false;
};

// TSC ticks of one call, fenced so that only the call is counted.
template <typename F>
uint64_t ticks(F &&call)
{
    unsigned aux = 0;
    _mm_lfence();
    const uint64_t t0 = __rdtsc();
    _mm_lfence();
    call();
    const uint64_t t1 = __rdtscp(&aux);
    _mm_lfence();
    return t1 - t0;
}

// Reference cycles (TSC ticks) of one message of n bytes, best of many runs:
// at least `min_runs`, and more while the runs so far add up to less than
// `budget` ticks. A short message is timed whole. A long one would rarely
// run uninterrupted on a shared core, so each of its calls (Init, every
// Update over a 16 KiB piece, Final) is timed alone, and the message's
// figure is the sum of each call's best.
uint64_t best_ticks(const Message &message, size_t n, int min_runs, uint64_t budget)
{
    constexpr size_t kPiece = 16384;
    auto whole = [&] {
        message.begin();
        message.update(0, n);
        message.end();
    };
    whole();  // warm the caches and the tables
    const size_t pieces = n > kPiece ? (n + kPiece - 1) / kPiece : 0;
    std::vector<uint64_t> best(pieces + 2, std::numeric_limits<uint64_t>::max());
    uint64_t spent = 0;
    for (int i = 0; i < min_runs || spent < budget; ++i) {
        if (pieces == 0) {
            const uint64_t t = ticks(whole);
            best[0] = std::min(best[0], t);
            spent += t;
            continue;
        }
        uint64_t t = ticks(message.begin);
        best[0] = std::min(best[0], t);
        spent += t;
        for (size_t k = 0; k < pieces; ++k) {
            const size_t offset = k * kPiece, length = std::min(kPiece, n - offset);
            t = ticks([&] { message.update(offset, length); });
            best[k + 1] = std::min(best[k + 1], t);
            spent += t;
        }
        t = ticks(message.end);
        best[pieces + 1] = std::min(best[pieces + 1], t);
        spent += t;
    }
    if (pieces == 0)
        return best[0];
    uint64_t sum = 0;
    for (uint64_t b : best)
        sum += b;
    return sum;
}

// Core clock cycles per TSC tick, from a chain of dependent 64-bit multiplies
// (three cycles each on current x86 cores): turbo makes it more than 1, and
// it varies with the load on the machine.
double core_cycles_per_tick()
{
    uint64_t best = std::numeric_limits<uint64_t>::max();
    for (int r = 0; r < 50; ++r) {
        uint64_t x = uint64_t(r) | 1;
        best = std::min(best, ticks([&] {
                            for (int i = 0; i < 10000; ++i)
                                __asm__ volatile("imul %0, %0\n\timul %0, %0" : "+r"(x));
                        }));
    }
    return 3.0 * 20000 / double(best);
}

// Reference cycles per byte of one message of n bytes (about half a second's
// worth of runs at the nominal clock), or 0 when there is no such case.
double cycles_per_byte(const std::string &name, size_t n)
{
    static const std::map<std::string, MessageFactory> factories = message_factories();
    auto it = factories.find(name);
    if (it == factories.end())
        return 0;
    const Message message = it->second(n);
    if (!message)
        return 0;
    const uint64_t half_second = 1300000000;  // TSC ticks at 2.6 GHz; roughly elsewhere
    return double(best_ticks(message, n, n > 16384 ? 20 : 20000, half_second)) / double(n);
}

// --- summary ----------------------------------------------------------------


// "met" or "MISSED" against a bound; `below` for cycle counts, where less is
// better.
std::string verdict(double value, double bound, bool below)
{
    if (bound <= 0 || value <= 0)
        return "";
    const bool met = below ? value <= bound : value >= bound;
    char text[48];
    std::snprintf(text, sizeof text, "%s (%s %g)", met ? "met" : "MISSED", below ? "<=" : ">=", bound);
    return text;
}

void print_summary(const SummaryReporter &r)
{
    struct Line {
        const char *gost;
        const char *reference;
        double target;         // throughput ratio at 1 MiB; 0 = none
        double cycles_large;   // reference cycles per byte at 1 MiB; 0 = none
        double cycles_small;   // the same at 64 bytes
    };
    const Line lines[] = {
        {"BM_Gost28147_ECB", "BM_OpenSSL_AES256_CFB", 0, 0, 0},
        {"BM_Gost28147_CFB", "BM_OpenSSL_AES256_CFB", 0, 0, 0},
        {"BM_Gost28147_CFB_Decrypt", "BM_OpenSSL_AES256_CFB_Decrypt", 0.15, 0, 0},
        {"BM_Gost28147_CNT", "BM_OpenSSL_AES256_CFB", 0.2, 0, 0},
        {"BM_Gost28147_CBC", "BM_OpenSSL_AES256_CFB", 0, 0, 0},
        {"BM_Gost28147_CBC_Decrypt", "BM_OpenSSL_AES256_CFB", 0, 0, 0},
        {"BM_Gost28147_MAC", "BM_OpenSSL_AES256_CFB", 0, 16, 0},
        {"BM_GostR3411_94", "BM_OpenSSL_SHA256", 0.045, 0, 0},
        {"BM_GostR3411_2012_256", "BM_OpenSSL_SHA512", 0, 14, 20},
        {"BM_GostR3411_2012_512", "BM_OpenSSL_SHA512", 0.25, 14, 20},
    };
    const std::string big = "/" + std::to_string(kLarge), small = "/" + std::to_string(kSmall);
    std::printf("\nThroughput (MB/s = 10^6 bytes/s, CPU time) relative to the OpenSSL reference of the same run;\n"
                "GOST 28147-89 with set Z and CryptoPro key meshing, GOST R 34.11-94 with the CryptoPro set\n");
    std::printf("%-22s %-27s %10s %7s %10s %7s  %s\n", "GOST", "reference", "1MiB MB/s", "ratio",
                "64B MB/s", "ratio", "target (1 MiB)");
    for (const Line &l : lines) {
        const double g1 = r.get(l.gost + big, "bytes_per_second");
        const double r1 = r.get(l.reference + big, "bytes_per_second");
        const double g2 = r.get(l.gost + small, "bytes_per_second");
        const double r2 = r.get(l.reference + small, "bytes_per_second");
        if (g1 == 0 && g2 == 0)
            continue;
        const double q1 = r1 > 0 ? g1 / r1 : 0, q2 = r2 > 0 ? g2 / r2 : 0;
        const std::string target = r1 > 0 ? verdict(q1, l.target, false) : "";
        std::printf("%-22s %-27s %10.1f %7.3f %10.1f %7.3f  %s\n", l.gost + 3, l.reference + 3,
                    g1 / 1e6, q1, g2 / 1e6, q2, target.empty() ? "-" : target.c_str());
    }

    // Reference cycles of the cases that ran, and of their references.
    std::printf("\nReference cycles per byte (rdtsc, best of many, pinned to one core: 64 B timed as one\n"
                "message, 1 MiB as the sum of the best of each call: Init, 16 KiB Updates, Final);\n"
                "ratio = reference's cycles / GOST cycles\n");
    std::printf("%-22s %-27s %9s %7s %9s %7s  %s\n", "GOST", "reference", "1MiB c/B", "ratio",
                "64B c/B", "ratio", "targets (c/B)");
    PinToThisCore pin;
    std::map<std::string, double> memo;
    auto cycles = [&](const std::string &name, int64_t n, bool ran) {
        if (!ran)
            return 0.0;
        const std::string key = name + "/" + std::to_string(n);
        auto it = memo.find(key);
        if (it != memo.end())
            return it->second;
        return memo[key] = cycles_per_byte(name, size_t(n));
    };
    bool any = false;
    for (const Line &l : lines) {
        const bool ran1 = r.get(l.gost + big, "bytes_per_second") > 0;
        const bool ran2 = r.get(l.gost + small, "bytes_per_second") > 0;
        if (!ran1 && !ran2)
            continue;
        const double g1 = cycles(l.gost, kLarge, ran1), g2 = cycles(l.gost, kSmall, ran2);
        const double c1 = cycles(l.reference, kLarge, ran1), c2 = cycles(l.reference, kSmall, ran2);
        any = true;
        std::string targets = verdict(g1, l.cycles_large, true);
        const std::string t2 = verdict(g2, l.cycles_small, true);
        if (!t2.empty())
            targets += (targets.empty() ? "" : "; 64B ") + t2;
        std::printf("%-22s %-27s %9.2f %7.3f %9.2f %7.3f  %s\n", l.gost + 3, l.reference + 3, g1,
                    g1 > 0 ? c1 / g1 : 0.0, g2, g2 > 0 ? c2 / g2 : 0.0,
                    targets.empty() ? "-" : targets.c_str());
    }
    if (any)
        std::printf("core clock during the run: about %.2f core cycles per reference cycle\n",
                    core_cycles_per_tick());
    // Public-key generation, when those benchmarks ran.
    const struct {
        const char *gost, *reference, *label;
    } keys[] = {
        {"BM_GostR3410_256_GeneratePublicKey", "BM_OpenSSL_EC_256_GeneratorMul", "256-bit curve"},
        {"BM_GostR3410_512_GeneratePublicKey", "BM_OpenSSL_EC_512_GeneratorMul", "512-bit curve"},
    };
    for (const auto &k : keys) {
        const double g = r.get(k.gost, "keys/s"), ref = r.get(k.reference, "keys/s");
        if (g == 0)
            continue;
        if (ref > 0)
            std::printf("public keys, %s: %.0f keys/s (OpenSSL generic EC_POINT_mul %.0f keys/s, ratio %.3f)\n",
                        k.label, g, ref, g / ref);
        else
            std::printf("public keys, %s: %.0f keys/s\n", k.label, g);
    }
}

}  // namespace

int main(int argc, char **argv) { return run_benchmarks(argc, argv, print_summary); }
