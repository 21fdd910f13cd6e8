// GOST 28147-89 MAC against a test-only copy of the former MAC inner loop (the
// 16-round cycle on the four pre-rotated lookups, with the key meshing step
// made from the same rounds): random keys, sets, lengths and pieces.
#include <gtest/gtest.h>

#include <random>

#include "gost28147_89.h"
#include "symmetric_test_util.h"

namespace {

// --- the former inner loop, verbatim in its rounds -------------------------

using Tables = const uint32_t (*)[256];

#define REF_F(T, x) \
    (((T)[0][(x) & 0xFF] ^ (T)[1][((x) >> 8) & 0xFF]) ^ ((T)[2][((x) >> 16) & 0xFF] ^ (T)[3][(x) >> 24]))
#define REF_R(T, a, b, k) \
    do { \
        const uint32_t t_ = (a) + (k); \
        (b) ^= REF_F(T, t_); \
    } while (0)
#define REF_UP8(T, a, b, K) \
    REF_R(T, a, b, K[0]); REF_R(T, b, a, K[1]); REF_R(T, a, b, K[2]); \
    REF_R(T, b, a, K[3]); REF_R(T, a, b, K[4]); REF_R(T, b, a, K[5]); \
    REF_R(T, a, b, K[6]); REF_R(T, b, a, K[7])
#define REF_DOWN8(T, a, b, K) \
    REF_R(T, a, b, K[7]); REF_R(T, b, a, K[6]); REF_R(T, a, b, K[5]); \
    REF_R(T, b, a, K[4]); REF_R(T, a, b, K[3]); REF_R(T, b, a, K[2]); \
    REF_R(T, a, b, K[1]); REF_R(T, b, a, K[0])

void ref_mac16(Tables T, const uint32_t *K, uint32_t &n1, uint32_t &n2)
{
    uint32_t a = n1, b = n2;
    REF_UP8(T, a, b, K);
    REF_UP8(T, a, b, K);
    n1 = a;
    n2 = b;
}

void ref_decrypt(Tables T, const uint32_t *K, uint32_t &n1, uint32_t &n2)
{
    uint32_t a = n1, b = n2;
    REF_UP8(T, a, b, K);
    REF_DOWN8(T, a, b, K);
    REF_DOWN8(T, a, b, K);
    REF_DOWN8(T, a, b, K);
    n1 = b;
    n2 = a;
}

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const uint8_t kMeshConstant[32] = {
    0x69, 0x00, 0x72, 0x22, 0x64, 0xC9, 0x04, 0x23, 0x8D, 0x3A, 0xDB, 0x96, 0x46, 0xE9, 0x2A, 0xC4,
    0x18, 0xFE, 0xAC, 0x94, 0x00, 0xED, 0x07, 0x12, 0xC0, 0x86, 0xDC, 0xC2, 0xEF, 0x4C, 0xA9, 0x2B,
};

// The 4 MAC bytes of a whole message without IV: zero-padded last block,
// CryptoPro key meshing before every block after each 1024 bytes.
Bytes reference_mac(const GOST28147_89_EXP_TABLE &table, bool meshing, const Bytes &key,
                    const Bytes &msg)
{
    Tables T = table.T;
    uint32_t K[8];
    for (int i = 0; i < 8; ++i)
        K[i] = le32(key.data() + 4 * i);
    uint32_t n1 = 0, n2 = 0;
    size_t count = 0;
    for (size_t pos = 0; pos < msg.size(); pos += 8) {
        if (meshing && count == 1024) {
            uint32_t next[8];
            for (int i = 0; i < 8; i += 2) {
                next[i] = le32(kMeshConstant + 4 * i);
                next[i + 1] = le32(kMeshConstant + 4 * i + 4);
                ref_decrypt(T, K, next[i], next[i + 1]);
            }
            std::copy(next, next + 8, K);
            count = 0;
        }
        uint8_t block[8] = {};
        std::copy(msg.begin() + long(pos), msg.begin() + long(std::min(pos + 8, msg.size())), block);
        n1 ^= le32(block);
        n2 ^= le32(block + 4);
        ref_mac16(T, K, n1, n2);
        count += 8;
    }
    return {uint8_t(n1), uint8_t(n1 >> 8), uint8_t(n1 >> 16), uint8_t(n1 >> 24)};
}

}  // namespace

TEST(Gost28147MacDifferential, RandomMessagesInRandomPiecesMatchTheFormerLoop)
{
    const struct {
        const GOST28147_89_EXP_TABLE *table;
        int meshing;
    } sets[] = {{&GOST28147_89_TABLE_Z, 1}, {&GOST28147_89_TABLE_CRYPTOPRO_A, 1},
                {&GOST28147_89_TABLE_TEST, 0}, {&GOST28147_89_TABLE_CRYPTOPRO_D, 0}};
    std::mt19937 gen{2889};
    int checked = 0;
    for (const auto &set : sets) {
        for (int round = 0; round < 60; ++round) {
            const Bytes key = pseudo_random(32, gen());
            // Short messages, and long ones across several meshing points.
            const size_t len = 1 + (round % 3 == 2 ? gen() % 5000 : gen() % 70);
            const Bytes msg = pseudo_random(len, gen());
            GOST28147_89_CTX ctx;
            ASSERT_EQ(GOST28147_89_Init(&ctx, 1, set.table, GOST28147_89_MODE_MAC, 0, set.meshing, 0,
                                        nullptr, key.data()),
                      0);
            size_t pos = 0;
            while (pos < len) {
                const size_t piece = std::min<size_t>(1 + gen() % (round % 2 ? 9 : 700), len - pos);
                GOST_DATA_BLOB in = {uint32_t(piece), const_cast<uint8_t *>(msg.data() + pos)};
                ASSERT_EQ(GOST28147_89_Update(&ctx, &in, nullptr), 0);
                pos += piece;
            }
            ASSERT_EQ(GOST28147_89_Final(&ctx), 0);
            ASSERT_EQ(to_hex(Bytes(ctx.mac, ctx.mac + 4)),
                      to_hex(reference_mac(*set.table, set.meshing != 0, key, msg)))
                << "round " << round << ", " << len << " bytes";
            ++checked;
        }
    }
    EXPECT_EQ(checked, 240);
}
