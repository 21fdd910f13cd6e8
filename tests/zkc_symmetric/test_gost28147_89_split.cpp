// The three-lookup round tables: they reproduce the four
// pre-rotated lookups for every registered set, are used only for a table
// that is exactly a registered one, and give the same streams as the
// four-lookup path.
#include <gtest/gtest.h>

#include <random>

#include "gost28147_89.h"
#include "gost28147_89_core.h"
#include "symmetric_test_util.h"

using zkc::g89::SplitTables;
using zkc::g89::find_split_tables;

namespace {

const GOST28147_89_EXP_TABLE *const kTables[] = {
    &GOST28147_89_TABLE_TEST,        &GOST28147_89_TABLE_CRYPTOPRO_A, &GOST28147_89_TABLE_CRYPTOPRO_B,
    &GOST28147_89_TABLE_CRYPTOPRO_C, &GOST28147_89_TABLE_CRYPTOPRO_D, &GOST28147_89_TABLE_Z,
};

uint32_t f4(const GOST28147_89_EXP_TABLE &t, uint32_t x)
{
    return t.T[0][x & 0xFF] ^ t.T[1][(x >> 8) & 0xFF] ^ t.T[2][(x >> 16) & 0xFF] ^ t.T[3][x >> 24];
}

uint32_t f3(const SplitTables &s, uint32_t x)
{
    return s.lo[x & 0xFFF] ^ s.hi[x >> 20] ^ s.mid[(x >> 12) & 0xFF];
}

// Processes data with one context, either in one Update or in 8-byte pieces
// (below the size where the three-lookup tables are used); returns the
// output, or the 4 MAC bytes.
Bytes run(const GOST28147_89_EXP_TABLE *table, int mode, int enc, const Bytes &data, bool pieces)
{
    static const Bytes key = hex("0123456789abcdeffedcba98765432100f1e2d3c4b5a69788796a5b4c3d2e1f0");
    static const Bytes iv = hex("1122334455667788");
    GOST28147_89_CTX ctx;
    EXPECT_EQ(GOST28147_89_Init(&ctx, enc, table, mode, 0, 1, 0, iv.data(), key.data()), 0);
    Bytes in = data, out(data.size() + 8), result;
    const size_t step = pieces ? 8 : data.size();
    for (size_t pos = 0; pos < data.size(); pos += step) {
        GOST_DATA_BLOB bin = {uint32_t(step), in.data() + pos};
        GOST_DATA_BLOB bout = {uint32_t(out.size()), out.data()};
        EXPECT_EQ(GOST28147_89_Update(&ctx, &bin, mode == GOST28147_89_MODE_MAC ? nullptr : &bout), 0);
        if (mode != GOST28147_89_MODE_MAC)
            result.insert(result.end(), out.begin(), out.begin() + bout.cbData);
    }
    GOST28147_89_Final(&ctx);
    return mode == GOST28147_89_MODE_MAC ? Bytes(ctx.mac, ctx.mac + 4) : result;
}

}  // namespace

TEST(Gost28147SplitTables, ReproduceTheFourLookupsForEverySet)
{
    std::mt19937 gen(2024);
    for (const GOST28147_89_EXP_TABLE *t : kTables) {
        const SplitTables *s = find_split_tables(t);
        ASSERT_NE(s, nullptr);
        // Every value of each slice, the others random; then random words.
        for (uint32_t v = 0; v < 4096; ++v) {
            const uint32_t r = gen();
            for (uint32_t x : {(r & ~0xFFFu) | v, (r & 0xFFFFFu) | (v << 20), (r & ~0xFF000u) | ((v & 0xFF) << 12)})
                ASSERT_EQ(f3(*s, x), f4(*t, x)) << std::hex << x;
        }
        for (int i = 0; i < 100000; ++i) {
            const uint32_t x = gen();
            ASSERT_EQ(f3(*s, x), f4(*t, x)) << std::hex << x;
        }
    }
}

TEST(Gost28147SplitTables, FoundOnlyForAnExactRegisteredTable)
{
    for (const GOST28147_89_EXP_TABLE *t : kTables) {
        GOST28147_89_EXP_TABLE copy = *t;  // as a context holds it
        const SplitTables *s = find_split_tables(&copy);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(f3(*s, 0x89ABCDEFu), f4(*t, 0x89ABCDEFu));
        copy.T[3][255] ^= 1;
        EXPECT_EQ(find_split_tables(&copy), nullptr);
        copy = *t;
        copy.ready = 0;
        EXPECT_EQ(find_split_tables(&copy), nullptr);
    }
}

struct ModeDir {
    int mode;
    int enc;
};
const ModeDir kSetups[] = {{GOST28147_89_MODE_ECB, 1}, {GOST28147_89_MODE_ECB, 0}, {GOST28147_89_MODE_CFB, 1},
                         {GOST28147_89_MODE_CFB, 0}, {GOST28147_89_MODE_CNT, 1}, {GOST28147_89_MODE_CBC, 1},
                         {GOST28147_89_MODE_CBC, 0}, {GOST28147_89_MODE_MAC, 1}};

TEST(Gost28147SplitTables, EveryModeAgreesWithTheFourLookupPath)
{
    // 1100 bytes: meshing at 1024 inside one call; 8-byte pieces stay on the
    // four lookups.
    const Bytes data = pseudo_random(1104, 31);
    for (const GOST28147_89_EXP_TABLE *t : kTables)
        for (const ModeDir &m : kSetups) {
            const Bytes whole = run(t, m.mode, m.enc, data, false);
            ASSERT_FALSE(whole.empty());
            EXPECT_EQ(to_hex(whole), to_hex(run(t, m.mode, m.enc, data, true)))
                << "mode " << m.mode << " enc " << m.enc;
        }
    // A caller's own table (one changed entry) runs on the four lookups of
    // that table, whatever the call size.
    GOST28147_89_EXP_TABLE own = GOST28147_89_TABLE_Z;
    own.T[0][0] ^= 0x80000000u;
    for (const ModeDir &m : kSetups) {
        const Bytes mine = run(&own, m.mode, m.enc, data, false);
        EXPECT_EQ(to_hex(mine), to_hex(run(&own, m.mode, m.enc, data, true))) << "mode " << m.mode;
        EXPECT_NE(to_hex(mine), to_hex(run(&GOST28147_89_TABLE_Z, m.mode, m.enc, data, false)))
            << "mode " << m.mode;
    }
}
