// dudect on every curve function that handles a secret: public-key
// generation, signing (private value and nonce), key generation as the
// software token does it, and VKO (private value; the UKM on its own row), on
// CryptoPro A (prime 2^256 - c), CryptoPro B (Montgomery prime) and TC26 512 A.
//
// Two classes of secrets, interleaved at random in one run: class 0 a fixed
// value whose upper three quarters are zero, class 1 a fresh uniform value in
// [1, q-1]. Welch's t over the timings, on all samples and on the samples
// below the 99th, 90th and 50th percentile (interrupts and migration push a
// few far up); the largest |t| is reported. |t| below 4.5 means no timing
// difference was found between the classes.
//
//   build/bench/dudect_bench                  # 100,000 samples per class and row
//   DUDECT_SAMPLES=5000 build/bench/dudect_bench --benchmark_filter=256
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_summary.h"
#include "gostr3410_2012_sizes.h"
#include "st_gost.h"

namespace {

using Rng = std::mt19937_64;

// One function under test: `set` puts the secrets of a class in place
// (untimed), `call` is the timed operation, 0 on success.
struct Subject {
    std::function<void(int, Rng &)> set;
    std::function<int()> call;
};

// Running mean and variance (Welford).
struct Moments {
    double n = 0, mean = 0, m2 = 0;
    void add(double x)
    {
        n += 1;
        const double delta = x - mean;
        mean += delta / n;
        m2 += delta * (x - mean);
    }
};

double welch_t(const Moments &a, const Moments &b)
{
    return (a.mean - b.mean) / std::sqrt(a.m2 / (a.n - 1) / a.n + b.m2 / (b.n - 1) / b.n);
}

struct Outcome {
    double t = 0, crop = 1, kept[2] = {};
    bool failed = false;
};

constexpr double kCrops[] = {1.0, 0.99, 0.9, 0.5};

Outcome dudect(Subject &s, size_t per_class, Rng &rng)
{
    for (int warm = 0; warm < 100; ++warm) {  // tables built on first use, caches
        s.set(warm % 2, rng);
        s.call();
    }
    std::vector<uint8_t> order(2 * per_class);
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<uint8_t>(i % 2);
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<double> times(order.size());
    Outcome out;
    for (size_t i = 0; i < order.size(); ++i) {
        s.set(order[i], rng);
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = s.call();
        const auto t1 = std::chrono::steady_clock::now();
        times[i] = std::chrono::duration<double, std::nano>(t1 - t0).count();
        out.failed |= rc != 0;
    }
    std::vector<double> sorted(times);
    std::sort(sorted.begin(), sorted.end());
    for (const double crop : kCrops) {
        const double limit = sorted[static_cast<size_t>(crop * static_cast<double>(sorted.size() - 1))];
        Moments m[2];
        for (size_t i = 0; i < times.size(); ++i)
            if (times[i] <= limit)
                m[order[i]].add(times[i]);
        const double t = std::fabs(welch_t(m[0], m[1]));
        if (t >= out.t)
            out = {t, crop, {m[0].n, m[1].n}, out.failed};
    }
    return out;
}

// Class 0: a fixed value with the upper three quarters zero (`salt` tells
// the secrets of one function apart); class 1: uniform in [1, q-1].
// Both classes run the same preparation (a uniform value is drawn either
// way), so that nothing but the secret differs when the timed call starts.
template <size_t N> void secret(int cls, Rng &rng, const DIGIT_T *q, DIGIT_T *out, DIGIT_T salt)
{
    std::fill(out, out + N, 0);
    do
        for (size_t i = 0; i + 1 < N; ++i)
            out[i] = static_cast<DIGIT_T>(rng());
    while (mpCompare(out, q, N) >= 0 || mpIsZero(out, N));
    const DIGIT_T keep = (DIGIT_T)0 - static_cast<DIGIT_T>(cls != 0);
    for (size_t i = 0; i + 1 < N; ++i) {
        const DIGIT_T fixed = i < (N - 1) / 4 ? (0x9E3779B9u * static_cast<DIGIT_T>(i + 1)) ^ salt : 0;
        out[i] = (out[i] & keep) | (fixed & ~keep);
    }
}

// A number as little-endian bytes; as signing's random source it hands out
// the nonce of the class.
template <size_t N> int le_bytes(void *ctx, uint8_t *buf, size_t len)
{
    const DIGIT_T *k = static_cast<const DIGIT_T *>(ctx);
    for (size_t i = 0; i < len && i < 4 * N; ++i)
        buf[i] = static_cast<uint8_t>(k[i / 4] >> (8 * (i % 4)));
    return 1;
}

template <class K> struct Inputs {
    static constexpr size_t N = K::kDigits;
    explicit Inputs(const typename K::Params &curve) : c(curve)
    {
        Rng rng(3);
        secret<N>(1, rng, c.q, d_fixed, 0);
        secret<N>(1, rng, c.q, e, 0);
        K::generate(&c, d_fixed, &peer);
        token = softtoken::find_gost_curve(c.der, c.der_len);
    }
    const typename K::Params &c;
    DIGIT_T d[N], k[N], e[N], ukm[N], d_fixed[N], r[N], s[N];
    typename K::Point Q, peer;
    const softtoken::GostCurve *token;
    softtoken::SecureBytes priv;
    softtoken::Bytes pub;
};

template <class K> std::vector<std::pair<const char *, Subject>> subjects(const typename K::Params &curve)
{
    constexpr size_t N = K::kDigits;
    const auto in = std::make_shared<Inputs<K>>(curve);
    const auto key = [in](int cls, Rng &g) { secret<N>(cls, g, in->c.q, in->d, 0x51u); };
    return {
        {"GeneratePublicKey", {key, [in] { return K::generate(&in->c, in->d, &in->Q); }}},
        {"Sign",
         {[in, key](int cls, Rng &g) {
              key(cls, g);
              secret<N>(cls, g, in->c.q, in->k, 0xA7u);
          },
          [in] { return K::sign(&in->c, in->d, in->e, le_bytes<N>, in->k, in->r, in->s); }}},
        // The token's path from a drawn private value on: range check,
        // multiplication, public-key check, encoding.
        {"KeyGeneration",
         {[in, key](int cls, Rng &g) {
              key(cls, g);
              in->priv.resize(4 * (N - 1));
              le_bytes<N>(in->d, in->priv.data(), in->priv.size());
          },
          [in] { return in->token && softtoken::gost_public_key(*in->token, in->priv, in->pub) == CKR_OK ? 0 : 1; }}},
        // UKM 1: the private value's shape reaches the point multiplication.
        {"Vko",
         {[in, key](int cls, Rng &g) {
              key(cls, g);
              std::fill(in->ukm, in->ukm + N, 0);
              in->ukm[0] = 1;
          },
          [in] { return K::vko(&in->c, in->d, &in->peer, in->ukm, &in->Q); }}},
        // The UKM is public (it travels in clear beside the key) and is
        // reduced mod q by division: this row shows what that costs.
        {"Vko_UKM",
         {[in](int cls, Rng &g) {
              std::copy(in->d_fixed, in->d_fixed + N, in->d);
              secret<N>(cls, g, in->c.q, in->ukm, 0x3Cu);
          },
          [in] { return K::vko(&in->c, in->d, &in->peer, in->ukm, &in->Q); }}},
    };
}

size_t samples_per_class()
{
    const char *env = std::getenv("DUDECT_SAMPLES");
    const long n = env ? std::atol(env) : 0;
    return n > 1 ? static_cast<size_t>(n) : 100000;
}

std::vector<std::string> g_rows;

void register_curve(const char *curve, std::vector<std::pair<const char *, Subject>> rows)
{
    for (auto &row : rows) {
        const std::string name = std::string("dudect/") + curve + "/" + row.first;
        g_rows.push_back(name);
        benchmark::RegisterBenchmark(name.c_str(), [subject = row.second](benchmark::State &state) mutable {
            const size_t per_class = samples_per_class();
            Rng rng(11);
            Outcome o;
            for (auto _ : state)
                o = dudect(subject, per_class, rng);
            if (o.failed)
                state.SkipWithError("the operation failed");
            state.counters["|t|"] = o.t;
            state.counters["per_class"] = static_cast<double>(per_class);
            state.counters["crop_pct"] = 100 * o.crop;
            state.counters["kept_fixed"] = o.kept[0];
            state.counters["kept_random"] = o.kept[1];
        })->Iterations(1)->Unit(benchmark::kSecond);
    }
}

void print_summary(const SummaryReporter &r)
{
    std::printf("\n%-44s %8s %12s %10s\n", "dudect (fixed short vs random secrets)", "|t|", "per class", "verdict");
    for (const auto &name : g_rows) {
        const std::string run = name + "/iterations:1";
        const double t = r.get(run, "|t|"), n = r.get(run, "per_class");
        if (n > 0)
            std::printf("%-44s %8.2f %12.0f %10s\n", name.c_str(), t, n, t < 4.5 ? "no leak" : "DIFFERS");
    }
}

}  // namespace

int main(int argc, char **argv)
{
    register_curve("256_CryptoPro_A", subjects<zkc::GostR3410<GOSTR3410_2012_256_DIGITS>>(gostr3410_2012_256_cryptopro_a));
    register_curve("256_CryptoPro_B", subjects<zkc::GostR3410<GOSTR3410_2012_256_DIGITS>>(gostr3410_2012_256_cryptopro_b));
    register_curve("512_TC26_A", subjects<zkc::GostR3410<GOSTR3410_2012_512_DIGITS>>(gostr3410_2012_512_a));
    return run_benchmarks(argc, argv, print_summary);
}
