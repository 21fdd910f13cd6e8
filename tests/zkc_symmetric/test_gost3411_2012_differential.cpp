// GOST R 34.11-2012 core against the reference copy of its former compression:
// every compression form on random and extreme inputs, and whole messages of
// random lengths fed in random pieces.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "gost3411_2012_reference.h"
#include "hash_low/gost_r3411_2012.h"
#include "hash_low/gost_r3411_2012_compress.h"
#include "symmetric_test_util.h"

namespace {

using zkc::streebog::V512;

V512 to_v(const reference2012::Words &w)
{
    V512 v;
    std::memcpy(v.w, w.w, sizeof v.w);
    return v;
}

std::string words_hex(const uint64_t (&w)[8])
{
    return to_hex(reinterpret_cast<const uint8_t *>(w), 64);
}

// Inputs that stress carries and byte values at the ends of the range, then
// random ones.
std::vector<reference2012::Words> inputs(std::mt19937_64 &gen, int random_count)
{
    std::vector<reference2012::Words> v;
    v.push_back({});
    reference2012::Words ones;
    std::memset(ones.w, 0xFF, sizeof ones.w);
    v.push_back(ones);
    reference2012::Words bytes;
    for (int i = 0; i < 64; ++i)
        reinterpret_cast<uint8_t *>(bytes.w)[i] = uint8_t(i * 4 + 3);
    v.push_back(bytes);
    for (int i = 0; i < random_count; ++i) {
        reference2012::Words r;
        for (auto &w : r.w)
            w = gen();
        v.push_back(r);
    }
    return v;
}

}  // namespace

TEST(GostR34112012Compression, EveryFormMatchesTheReference)
{
    std::mt19937_64 gen{2012};
    const auto values = inputs(gen, 7);
    const bool vector = zkc::streebog::compress_vector_supported();
    int checked = 0;
    auto check = [&](const reference2012::Words &h, const reference2012::Words &m,
                     const reference2012::Words &n) {
        const reference2012::Words want = reference2012::compress(h, m, n);
        const V512 expected = to_v(want);
        const V512 portable = zkc::streebog::compress_portable(to_v(h), to_v(m), to_v(n));
        ASSERT_EQ(words_hex(portable.w), words_hex(expected.w)) << "portable, case " << checked;
        if (vector) {
            const V512 v = zkc::streebog::compress_vector(to_v(h), to_v(m), to_v(n));
            ASSERT_EQ(words_hex(v.w), words_hex(expected.w)) << "vector, case " << checked;
        }
        const V512 chosen = zkc::streebog::compress(to_v(h), to_v(m), to_v(n));
        ASSERT_EQ(words_hex(chosen.w), words_hex(expected.w)) << "chosen, case " << checked;
        ++checked;
    };
    // Every combination of the fixed and first random values ...
    for (const auto &h : values)
        for (const auto &m : values)
            for (const auto &n : values)
                check(h, m, n);
    // ... and many fully random triples.
    for (int i = 0; i < 3000; ++i) {
        const auto r = inputs(gen, 3);
        check(r[3], r[4], r[5]);
    }
    EXPECT_EQ(checked, 1000 + 3000);
}

TEST(GostR34112012Compression, ChainedOutputsStayEqual)
{
    // Feeding each output back as the next chaining value walks far from the
    // starting values; one wrong byte anywhere would spread.
    const bool vector = zkc::streebog::compress_vector_supported();
    reference2012::Words h{}, m{}, n{};
    std::memset(h.w, 0x01, sizeof h.w);
    V512 hp = to_v(h), hv = to_v(h);
    for (int i = 0; i < 2000; ++i) {
        m.w[i % 8] ^= uint64_t(i) * 0x9E3779B97F4A7C15ull;
        n.w[0] += 512;
        h = reference2012::compress(h, m, n);
        hp = zkc::streebog::compress_portable(hp, to_v(m), to_v(n));
        if (vector)
            hv = zkc::streebog::compress_vector(hv, to_v(m), to_v(n));
    }
    EXPECT_EQ(words_hex(hp.w), words_hex(h.w));
    if (vector) {
        EXPECT_EQ(words_hex(hv.w), words_hex(h.w));
    }
}

TEST(GostR34112012Compression, ConstantKeysServeExactlyTheInitialValues)
{
    // The keys depend on h ^ N only: any h and N whose XOR is an initial
    // value take the constant keys, and give what the full compression gives.
    std::mt19937_64 gen{6986};
    const bool vector = zkc::streebog::compress_vector_supported();
    for (uint64_t start : {uint64_t(0), uint64_t(0x0101010101010101ull)}) {
        for (int i = 0; i < 200; ++i) {
            reference2012::Words h, m, n;
            for (int w = 0; w < 8; ++w) {
                m.w[w] = gen();
                // First the plain first block (h the initial value, N = 0),
                // then random pairs with the same XOR.
                n.w[w] = i == 0 ? 0 : gen();
                h.w[w] = n.w[w] ^ start;
            }
            const std::string want = words_hex(reference2012::compress(h, m, n).w);
            const zkc::streebog::RoundKeys *keys = zkc::streebog::known_round_keys(to_v(h), to_v(n));
            ASSERT_NE(keys, nullptr);
            EXPECT_EQ(words_hex(zkc::streebog::compress_keyed_portable(to_v(h), to_v(m), *keys).w), want);
            if (vector) {
                EXPECT_EQ(words_hex(zkc::streebog::compress_keyed_vector(to_v(h), to_v(m), *keys).w), want);
            }
            EXPECT_EQ(words_hex(zkc::streebog::compress_block(to_v(h), to_v(m), to_v(n)).w), want);
            // One bit off and the constant keys do not apply.
            reference2012::Words off = n;
            off.w[i % 8] ^= uint64_t(1) << (i % 64);
            EXPECT_EQ(zkc::streebog::known_round_keys(to_v(h), to_v(off)), nullptr);
            EXPECT_EQ(words_hex(zkc::streebog::compress_block(to_v(h), to_v(m), to_v(off)).w),
                      words_hex(reference2012::compress(h, m, off).w));
        }
    }
}

TEST(GostR34112012Differential, RandomMessagesInRandomPiecesMatchTheReference)
{
    std::mt19937 gen{34112012};
    for (int round = 0; round < 400; ++round) {
        // Mostly short messages, where padding and the final steps dominate;
        // now and then a long one.
        const size_t len = round % 40 == 39 ? 4096 + gen() % 4096 : gen() % 300;
        const Bytes msg = pseudo_random(len, uint32_t(round) + 1);
        for (int bits : {256, 512}) {
            GOSTR3411_2012_CTX ctx;
            ASSERT_EQ(bits == 256 ? GOSTR3411_2012_256_Init(&ctx) : GOSTR3411_2012_512_Init(&ctx), 0);
            size_t pos = 0;
            while (pos < len) {
                const size_t piece = std::min<size_t>(gen() % 200, len - pos);
                ASSERT_EQ(GOSTR3411_2012_Update(&ctx, msg.data() + pos, piece), 0);
                pos += piece;
            }
            Bytes out(size_t(bits / 8));
            ASSERT_EQ(GOSTR3411_2012_Final(&ctx, out.data()), 0);
            ASSERT_EQ(to_hex(out), to_hex(reference2012::digest(bits, msg)))
                << bits << " bits, " << len << " bytes, round " << round;
        }
    }
}

TEST(GostR34112012Differential, ControlSumCarriesRunThroughEveryWord)
{
    // A block of all ones, then blocks that add 1: Sigma's carry must ripple
    // through all eight words, each of which wraps only with the carry in.
    for (size_t tail : {0, 1, 63, 64, 65}) {
        Bytes msg(64, 0xFF);
        Bytes one(64, 0x00);
        one[0] = 0x01;
        msg.insert(msg.end(), one.begin(), one.end());
        msg.insert(msg.end(), tail, 0xFF);
        for (int bits : {256, 512}) {
            GOSTR3411_2012_CTX ctx;
            ASSERT_EQ(bits == 256 ? GOSTR3411_2012_256_Init(&ctx) : GOSTR3411_2012_512_Init(&ctx), 0);
            ASSERT_EQ(GOSTR3411_2012_Update(&ctx, msg.data(), msg.size()), 0);
            Bytes out(size_t(bits / 8));
            ASSERT_EQ(GOSTR3411_2012_Final(&ctx, out.data()), 0);
            EXPECT_EQ(to_hex(out), to_hex(reference2012::digest(bits, msg))) << bits << " tail " << tail;
        }
    }
}
