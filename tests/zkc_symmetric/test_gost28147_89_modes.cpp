// GOST 28147-89 modes over a context: streams cut anywhere equal one call,
// buffering and Final rules, key meshing at the 1024-byte boundary, the MAC.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "gost28147_89.h"
#include "symmetric_test_util.h"

namespace {

const Bytes kKey = hex("0123456789abcdeffedcba98765432100f1e2d3c4b5a69788796a5b4c3d2e1f0");
const Bytes kIv = hex("1122334455667788");

struct ModeSetup {
    int mode;
    int meshing;
    int enc;
};

std::string describe(const ModeSetup &s)
{
    return "mode " + std::to_string(s.mode) + " meshing " + std::to_string(s.meshing) + " enc " +
           std::to_string(s.enc);
}

void init(GOST28147_89_CTX &ctx, const ModeSetup &s, const GOST28147_89_EXP_TABLE *table = &GOST28147_89_TABLE_CRYPTOPRO_A,
          const Bytes &key = kKey, const uint8_t *iv = kIv.data())
{
    ASSERT_EQ(GOST28147_89_Init(&ctx, s.enc, table, s.mode, 0, s.meshing, 0, iv, key.data()), 0);
}

// Feeds data in the given pieces; returns the concatenated output (for the
// MAC: the 4 MAC bytes after Final). in_place processes each piece in the
// caller's buffer.
Bytes stream(const ModeSetup &s, const Bytes &data, const std::vector<size_t> &pieces, bool in_place = false)
{
    GOST28147_89_CTX ctx;
    init(ctx, s);
    Bytes result;
    size_t pos = 0;
    for (size_t piece : pieces) {
        Bytes chunk(data.begin() + long(pos), data.begin() + long(pos + piece));
        pos += piece;
        chunk.resize(piece + 8);
        GOST_DATA_BLOB in = {uint32_t(piece), chunk.data()};
        Bytes out(piece + 8);
        GOST_DATA_BLOB bout = {uint32_t(out.size()), in_place ? chunk.data() : out.data()};
        const int rc = GOST28147_89_Update(&ctx, &in, s.mode == GOST28147_89_MODE_MAC ? nullptr : &bout);
        EXPECT_EQ(rc, 0) << describe(s) << " piece " << piece;
        if (rc != 0)
            return {};
        if (s.mode != GOST28147_89_MODE_MAC) {
            const uint8_t *o = in_place ? chunk.data() : out.data();
            result.insert(result.end(), o, o + bout.cbData);
        }
    }
    EXPECT_EQ(pos, data.size());
    const int rc = GOST28147_89_Final(&ctx);
    EXPECT_EQ(rc, 0) << describe(s);
    if (s.mode == GOST28147_89_MODE_MAC)
        return Bytes(ctx.mac, ctx.mac + 4);
    return result;
}

std::vector<size_t> fixed_pieces(size_t total, size_t piece)
{
    std::vector<size_t> pieces;
    for (size_t pos = 0; pos < total; pos += piece)
        pieces.push_back(std::min(piece, total - pos));
    return pieces;
}

std::vector<size_t> random_pieces(size_t total, std::mt19937 &gen)
{
    std::vector<size_t> pieces;
    size_t pos = 0;
    while (pos < total) {
        size_t piece = 1 + gen() % 70;
        if (gen() % 8 == 0)
            piece = 1 + gen() % 1500;
        piece = std::min(piece, total - pos);
        pieces.push_back(piece);
        pos += piece;
    }
    return pieces;
}

std::vector<ModeSetup> all_setups()
{
    std::vector<ModeSetup> v;
    for (int mode : {1, 2, 3, 4, 5})
        for (int meshing : {0, 1})
            for (int enc : {1, 0}) {
                if (mode == GOST28147_89_MODE_MAC && enc == 0)
                    continue;
                v.push_back({mode, meshing, enc});
            }
    return v;
}

}  // namespace

TEST(Gost28147Streaming, AnySplitEqualsOneCall)
{
    // 3000 bytes cross two meshing points; a multiple of 8 so that ECB and CBC
    // finish without a held tail.
    const Bytes data = pseudo_random(3000, 1);
    std::mt19937 gen(2024);
    for (const ModeSetup &s : all_setups()) {
        const Bytes whole = stream(s, data, {data.size()});
        ASSERT_FALSE(whole.empty()) << describe(s);
        for (size_t piece : {1, 7, 9, 1024})
            EXPECT_EQ(stream(s, data, fixed_pieces(data.size(), piece)), whole)
                << describe(s) << " pieces of " << piece;
        for (int round = 0; round < 20; ++round) {
            const auto pieces = random_pieces(data.size(), gen);
            EXPECT_EQ(stream(s, data, pieces), whole) << describe(s) << " random round " << round;
        }
        EXPECT_EQ(stream(s, data, random_pieces(data.size(), gen), true), whole)
            << describe(s) << " in place";
    }
}

TEST(Gost28147Streaming, GammaModesTakeAnyLengthAndRoundTrip)
{
    const Bytes data = pseudo_random(2053, 3);
    for (int mode : {1, 2, 3, 4})
        for (int meshing : {0, 1}) {
            const size_t len = (mode == 2 || mode == 3) ? data.size() : data.size() & ~size_t(7);
            const Bytes plain(data.begin(), data.begin() + long(len));
            const Bytes cipher = stream({mode, meshing, 1}, plain, {len});
            ASSERT_EQ(cipher.size(), len);
            EXPECT_NE(cipher, plain);
            std::mt19937 gen(unsigned(mode * 10 + meshing));
            EXPECT_EQ(stream({mode, meshing, 0}, cipher, random_pieces(len, gen)), plain)
                << "mode " << mode << " meshing " << meshing;
        }
}

TEST(Gost28147Streaming, GammaAndChainingModesFromTheirDefinitions)
{
    const Bytes data = pseudo_random(40, 9);
    GOST28147_89_CTX ecb;
    init(ecb, {GOST28147_89_MODE_ECB, 0, 1});
    auto E = [&](const Bytes &block) {
        GOST28147_89_CTX c = ecb;
        Bytes b = block, out(8);
        GOST_DATA_BLOB in = {8, b.data()}, o = {8, out.data()};
        EXPECT_EQ(GOST28147_89_Update(&c, &in, &o), 0);
        return out;
    };
    // Counter: gamma_i = E(S_i), S_i = S_(i-1) + (0x01010101, 0x01010104), the
    // second word modulo 2^32 - 1; S_0 = E(IV). Starting from a chosen state
    // (first-block flag cleared) makes the second word wrap at the first step.
    const Bytes start = hex("00000000fcfefefe");
    Bytes s = start, expected;
    for (size_t i = 0; i < data.size(); i += 8) {
        uint32_t n1, n2;
        std::memcpy(&n1, &s[0], 4);
        std::memcpy(&n2, &s[4], 4);
        n1 += 0x01010101u;
        n2 = uint32_t((uint64_t(n2) + 0x01010104u - 1) % 0xFFFFFFFFu + 1);
        if (i == 0) {
            EXPECT_EQ(n2, 1u);
        }
        std::memcpy(&s[0], &n1, 4);
        std::memcpy(&s[4], &n2, 4);
        const Bytes g = E(s);
        for (size_t k = 0; k < 8 && i + k < data.size(); ++k)
            expected.push_back(uint8_t(data[i + k] ^ g[k]));
    }
    GOST28147_89_CTX cnt;
    init(cnt, {GOST28147_89_MODE_CNT, 0, 1});
    cnt.flags = 0;
    std::memcpy(cnt.iv, start.data(), 8);
    Bytes in_copy = data, out(data.size());
    GOST_DATA_BLOB in = {uint32_t(data.size()), in_copy.data()}, o = {uint32_t(out.size()), out.data()};
    ASSERT_EQ(GOST28147_89_Update(&cnt, &in, &o), 0);
    EXPECT_EQ(to_hex(out), to_hex(expected));

    // With the first-block flag the state starts as E(IV).
    const Bytes first = stream({GOST28147_89_MODE_CNT, 0, 1}, Bytes(8, 0), {8});
    Bytes s0 = E(kIv);
    uint32_t n1, n2;
    std::memcpy(&n1, &s0[0], 4);
    std::memcpy(&n2, &s0[4], 4);
    n1 += 0x01010101u;
    n2 = uint32_t((uint64_t(n2) + 0x01010104u - 1) % 0xFFFFFFFFu + 1);
    std::memcpy(&s0[0], &n1, 4);
    std::memcpy(&s0[4], &n2, 4);
    EXPECT_EQ(to_hex(first), to_hex(E(s0)));

    // CFB: C_i = P_i ^ E(C_(i-1)), C_0 = IV.
    expected.clear();
    Bytes feedback = kIv;
    for (size_t i = 0; i < data.size(); i += 8) {
        const Bytes g = E(feedback);
        for (size_t k = 0; k < 8 && i + k < data.size(); ++k)
            expected.push_back(uint8_t(data[i + k] ^ g[k]));
        feedback.assign(expected.begin() + long(i), expected.begin() + long(std::min(i + 8, expected.size())));
    }
    EXPECT_EQ(to_hex(stream({GOST28147_89_MODE_CFB, 0, 1}, data, {data.size()})), to_hex(expected));

    // CBC: C_i = E(P_i ^ C_(i-1)), C_0 = IV.
    expected.clear();
    Bytes chain = kIv;
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        Bytes block(8);
        for (size_t k = 0; k < 8; ++k)
            block[k] = uint8_t(data[i + k] ^ chain[k]);
        chain = E(block);
        expected.insert(expected.end(), chain.begin(), chain.end());
    }
    EXPECT_EQ(to_hex(stream({GOST28147_89_MODE_CBC, 0, 1}, data, {data.size()})), to_hex(expected));
}

TEST(Gost28147Streaming, EcbHoldsBackAPartialBlockAndFinalRefusesIt)
{
    GOST28147_89_CTX ctx;
    init(ctx, {GOST28147_89_MODE_ECB, 0, 1});
    Bytes data = pseudo_random(12, 4), out(16);
    GOST_DATA_BLOB in = {12, data.data()};
    GOST_DATA_BLOB query = {0, nullptr};
    ASSERT_EQ(GOST28147_89_Update(&ctx, &in, &query), 0);  // size query: nothing consumed
    EXPECT_EQ(query.cbData, 8u);
    EXPECT_EQ(ctx.held, 0);
    GOST_DATA_BLOB small = {7, out.data()};
    EXPECT_EQ(GOST28147_89_Update(&ctx, &in, &small), -4);
    GOST_DATA_BLOB bout = {16, out.data()};
    ASSERT_EQ(GOST28147_89_Update(&ctx, &in, &bout), 0);
    EXPECT_EQ(bout.cbData, 8u);
    EXPECT_EQ(ctx.held, 4);
    // With 4 held, a size query for 5 more answers 8.
    GOST_DATA_BLOB in5 = {5, data.data()};
    query = {0, nullptr};
    ASSERT_EQ(GOST28147_89_Update(&ctx, &in5, &query), 0);
    EXPECT_EQ(query.cbData, 8u);
    EXPECT_EQ(GOST28147_89_Final(&ctx), -6);
    EXPECT_EQ(ctx.initialised, 0);
    EXPECT_EQ(GOST28147_89_Update(&ctx, &in, &bout), -152);
}

TEST(Gost28147Streaming, FinalWithoutDataAndWithNothingHeld)
{
    for (int mode : {GOST28147_89_MODE_ECB, GOST28147_89_MODE_CBC, GOST28147_89_MODE_MAC}) {
        GOST28147_89_CTX ctx;
        init(ctx, {mode, 0, 1}, &GOST28147_89_TABLE_Z, kKey, mode == GOST28147_89_MODE_MAC ? nullptr : kIv.data());
        EXPECT_EQ(GOST28147_89_Final(&ctx), -153) << mode;
        EXPECT_EQ(ctx.initialised, 1);
        Bytes data(16, 1), out(16);
        GOST_DATA_BLOB in = {16, data.data()}, bout = {16, out.data()};
        ASSERT_EQ(GOST28147_89_Update(&ctx, &in, mode == GOST28147_89_MODE_MAC ? nullptr : &bout), 0);
        EXPECT_EQ(GOST28147_89_Final(&ctx), 0);
        EXPECT_EQ(ctx.initialised, 1);  // nothing held: the context stays usable
    }
    for (int mode : {GOST28147_89_MODE_CFB, GOST28147_89_MODE_CNT}) {
        GOST28147_89_CTX ctx;
        init(ctx, {mode, 0, 1});
        EXPECT_EQ(GOST28147_89_Final(&ctx), 0);
        EXPECT_EQ(ctx.initialised, 0);
    }
}

// --- key meshing --------------------------------------------------------------

TEST(Gost28147Meshing, BlockAfter1024BytesUsesMeshedKeyAndFeedback)
{
    // CryptoPro-A meshes; Oscar-1-0 has the same S-boxes without meshing.
    const Bytes data = pseudo_random(1024 + 16, 5);
    const ModeSetup meshed{GOST28147_89_MODE_CFB, 1, 1};
    const ModeSetup plain{GOST28147_89_MODE_CFB, 0, 1};
    const Bytes a = stream(meshed, data, {data.size()});
    const Bytes b = stream(plain, data, {data.size()});
    ASSERT_EQ(a.size(), data.size());
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 1024, b.begin()));
    EXPECT_FALSE(std::equal(a.begin() + 1024, a.begin() + 1032, b.begin() + 1024));

    // Key' = ECB decryption of C under the key; IV' = ECB encryption of the
    // last ciphertext block under Key'; block 129 = P ^ E_Key'(IV').
    const Bytes c = hex("6900722264c904238d3adb9646e92ac418feac9400ed0712c086dcc2ef4ca92b");
    const Bytes key2 = stream({GOST28147_89_MODE_ECB, 0, 0}, c, {32});
    GOST28147_89_CTX e;
    init(e, {GOST28147_89_MODE_ECB, 0, 1}, &GOST28147_89_TABLE_CRYPTOPRO_A, key2);
    Bytes last(a.begin() + 1016, a.begin() + 1024), iv2(8);
    GOST_DATA_BLOB in = {8, last.data()}, out = {8, iv2.data()};
    ASSERT_EQ(GOST28147_89_Update(&e, &in, &out), 0);
    GOST28147_89_CTX f;
    init(f, plain, &GOST28147_89_TABLE_CRYPTOPRO_A, key2, iv2.data());
    Bytes tail(data.begin() + 1024, data.end()), expected(16);
    GOST_DATA_BLOB tin = {16, tail.data()}, tout = {16, expected.data()};
    ASSERT_EQ(GOST28147_89_Update(&f, &tin, &tout), 0);
    EXPECT_EQ(to_hex(Bytes(a.begin() + 1024, a.end())), to_hex(expected));
}

TEST(Gost28147Meshing, EveryModeMeshesAtTheBoundaryOnly)
{
    const Bytes data = pseudo_random(2048, 6);
    for (int mode : {1, 2, 3, 4}) {
        const Bytes a = stream({mode, 1, 1}, data, {data.size()});
        const Bytes b = stream({mode, 0, 1}, data, {data.size()});
        EXPECT_TRUE(std::equal(a.begin(), a.begin() + 1024, b.begin())) << mode;
        EXPECT_FALSE(std::equal(a.begin() + 1024, a.begin() + 1032, b.begin() + 1024)) << mode;
    }
    // The MAC over exactly 1024 bytes meshes nothing; one more block does.
    const Bytes d1024(data.begin(), data.begin() + 1024);
    EXPECT_EQ(stream({5, 1, 1}, d1024, {1024}), stream({5, 0, 1}, d1024, {1024}));
    const Bytes d1032(data.begin(), data.begin() + 1032);
    EXPECT_NE(stream({5, 1, 1}, d1032, {1032}), stream({5, 0, 1}, d1032, {1032}));
}

// --- MAC ------------------------------------------------------------------------

TEST(Gost28147Mac, PaddingIvAndSingleBlock)
{
    const Bytes seven = pseudo_random(7, 8);
    Bytes eight = seven;
    eight.push_back(0);
    const ModeSetup mac{GOST28147_89_MODE_MAC, 0, 1};
    EXPECT_EQ(stream(mac, seven, {7}), stream(mac, eight, {8}));
    EXPECT_EQ(stream(mac, seven, {3, 4}), stream(mac, eight, {8}));

    // One block with an IV v is one 16-round step over v ^ m: the same as the
    // MAC of m ^ v without an IV.
    const Bytes m = pseudo_random(8, 10);
    Bytes mx(8);
    for (int i = 0; i < 8; ++i)
        mx[i] = uint8_t(m[i] ^ kIv[i]);
    GOST28147_89_CTX with_iv;
    init(with_iv, mac, &GOST28147_89_TABLE_Z, kKey, kIv.data());
    Bytes copy = m;
    GOST_DATA_BLOB in = {8, copy.data()};
    ASSERT_EQ(GOST28147_89_Update(&with_iv, &in, nullptr), 0);
    ASSERT_EQ(GOST28147_89_Final(&with_iv), 0);
    GOST28147_89_CTX without;
    ASSERT_EQ(GOST28147_89_Init(&without, 1, &GOST28147_89_TABLE_Z, GOST28147_89_MODE_MAC, 0, 0, 0,
                                nullptr, kKey.data()),
              0);
    GOST_DATA_BLOB in2 = {8, mx.data()};
    ASSERT_EQ(GOST28147_89_Update(&without, &in2, nullptr), 0);
    ASSERT_EQ(GOST28147_89_Final(&without), 0);
    EXPECT_EQ(to_hex(with_iv.mac, 4), to_hex(without.mac, 4));
    // And 8 bytes give no extra block: appending a zero block changes the MAC.
    Bytes sixteen = m;
    sixteen.resize(16, 0);
    EXPECT_NE(stream(mac, m, {8}), stream(mac, sixteen, {16}));
}

TEST(Gost28147Mac, IvOnlyAndNoDataCases)
{
    GOST28147_89_CTX ctx;
    init(ctx, {GOST28147_89_MODE_MAC, 0, 1}, &GOST28147_89_TABLE_Z, kKey, kIv.data());
    EXPECT_EQ(ctx.flags, 0);
    EXPECT_EQ(GOST28147_89_Final(&ctx), 0);
    EXPECT_EQ(to_hex(ctx.mac, 4), to_hex(kIv.data(), 4));

    GOST28147_89_CTX bare;
    ASSERT_EQ(GOST28147_89_Init(&bare, 1, &GOST28147_89_TABLE_Z, GOST28147_89_MODE_MAC, 0, 0, 0,
                                nullptr, kKey.data()),
              0);
    uint8_t byte = 0;
    GOST_DATA_BLOB empty = {0, &byte};
    EXPECT_EQ(GOST28147_89_Update(&bare, &empty, nullptr), -4);
    EXPECT_EQ(GOST28147_89_Final(&bare), -153);
    // A short message is held and finished by Final.
    GOST_DATA_BLOB three = {3, &byte};
    uint8_t msg[3] = {1, 2, 3};
    three.pbData = msg;
    EXPECT_EQ(GOST28147_89_Update(&bare, &three, nullptr), 0);
    EXPECT_EQ(bare.held, 3);
    EXPECT_EQ(GOST28147_89_Final(&bare), 0);
    EXPECT_EQ(bare.initialised, 0);
    EXPECT_EQ(bare.held, 0);
}
