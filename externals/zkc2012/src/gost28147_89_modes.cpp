// GOST 28147-89 block-level mode functions: ECB (simple substitution), CFB
// (gamma with feedback), counter (gamma), CBC, the MAC step, and the splitting
// of a final partial block. They work on whole runs of blocks with the round
// keys in locals; key meshing and streaming belong to the context layer.
#include <cstring>

#include "gost28147_89.h"
#include "gost28147_89_core.h"
#include "gost28147_89_internal.h"
#include "zkc_diag.h"

using namespace zkc::g89;

namespace {

constexpr uint32_t kCounterStep1 = 0x01010101u;  // added to N1 mod 2^32
constexpr uint32_t kCounterStep2 = 0x01010104u;  // added to N2 mod 2^32 - 1

// Common argument checks of the block functions. Returns 0 or the code.
int check_block_args(const GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in,
                     const GOST_DATA_BLOB *out, const uint8_t *key)
{
    if (ctx == nullptr || in == nullptr || out == nullptr || key == nullptr ||
        in->pbData == nullptr || out->pbData == nullptr)
        return GOST28147_89_ERR_PARAM;
    if (in->cbData == 0)
        return GOST28147_89_ERR_LENGTH;
    if (!ctx->table.ready)
        return GOST28147_89_ERR_TABLE;
    return 0;
}

// Output room for the CFB and counter functions: the input rounded up to a
// whole block when the last-block flag lets a tail through.
uint32_t gamma_output_size(uint32_t blocks, uint32_t tail)
{
    return blocks * 8 + (tail != 0 ? 8 : 0);
}

// Below this many blocks in one call the runs stay on the four
// lookups: recognising the set's three-lookup tables costs about as much as
// it saves on a few blocks.
constexpr uint32_t kSplitMinBlocks = 4;

// The runs that take the three-lookup tables are those where bench/core_bench
// measures a gain of a tenth or more at 1 MiB: ECB, counter, the MAC and the
// CFB and CBC decryptions (14 to 17 %). CFB and CBC encryption chain every
// block through the cipher and gain a little less (about 9.5 % over 51 runs
// each): they run on the four lookups.

const SplitTables *split_for(const GOST28147_89_CTX *ctx, uint32_t blocks)
{
    return blocks >= kSplitMinBlocks ? find_split_tables(&ctx->table) : nullptr;
}

// Calls f with the tables the run is to use: the set's three-lookup tables
// when there are and the run is long enough, else the context's own four.
template <typename F>
void with_tables(const GOST28147_89_CTX *ctx, uint32_t blocks, F f)
{
    const SplitTables *S = split_for(ctx, blocks);
    if (S != nullptr)
        f(S);
    else
        f(Tables(ctx->table.T));
}

template <typename Tab>
void cfb_encrypt_run(Tab T, const uint32_t *K, const uint8_t *in, uint8_t *out, uint32_t blocks,
                     uint8_t *iv)
{
    uint32_t n1 = load_le32(iv), n2 = load_le32(iv + 4);
    for (uint32_t i = 0; i < blocks; ++i, in += 8, out += 8) {
        encrypt(T, K, n1, n2);
        n1 ^= load_le32(in);
        n2 ^= load_le32(in + 4);
        store_le32(out, n1);
        store_le32(out + 4, n2);
    }
    store_le32(iv, n1);
    store_le32(iv + 4, n2);
}

template <typename Tab>
void cfb_decrypt_run(Tab T, const uint32_t *K, const uint8_t *in, uint8_t *out, uint32_t blocks,
                     uint8_t *iv)
{
    uint32_t n1 = load_le32(iv), n2 = load_le32(iv + 4);
    uint32_t i = 0;
    // The gamma of each block depends only on the previous ciphertext, so
    // several blocks go through the cipher side by side.
    for (; i + 4 <= blocks; i += 4, in += 32, out += 32) {
        uint32_t c[8], g[8];
        for (int k = 0; k < 8; ++k)
            c[k] = load_le32(in + 4 * k);
        g[0] = n1;
        g[1] = n2;
        for (int k = 2; k < 8; ++k)
            g[k] = c[k - 2];
        encrypt4(T, K, g);
        for (int k = 0; k < 8; ++k)
            store_le32(out + 4 * k, c[k] ^ g[k]);
        n1 = c[6];
        n2 = c[7];
    }
    for (; i + 2 <= blocks; i += 2, in += 16, out += 16) {
        const uint32_t c1 = load_le32(in), c2 = load_le32(in + 4);
        const uint32_t c3 = load_le32(in + 8), c4 = load_le32(in + 12);
        uint32_t g1 = n1, g2 = n2, g3 = c1, g4 = c2;
        encrypt2(T, K, g1, g2, g3, g4);
        store_le32(out, c1 ^ g1);
        store_le32(out + 4, c2 ^ g2);
        store_le32(out + 8, c3 ^ g3);
        store_le32(out + 12, c4 ^ g4);
        n1 = c3;
        n2 = c4;
    }
    for (; i < blocks; ++i, in += 8, out += 8) {
        const uint32_t c1 = load_le32(in), c2 = load_le32(in + 4);
        encrypt(T, K, n1, n2);
        store_le32(out, c1 ^ n1);
        store_le32(out + 4, c2 ^ n2);
        n1 = c1;
        n2 = c2;
    }
    store_le32(iv, n1);
    store_le32(iv + 4, n2);
}

inline void counter_step(uint32_t &n1, uint32_t &n2)
{
    n1 += kCounterStep1;
    const uint32_t s = n2 + kCounterStep2;
    n2 = s + (s < kCounterStep2 ? 1u : 0u);  // end-around carry: mod 2^32 - 1
}

template <typename Tab>
void cnt_run(Tab T, const uint32_t *K, const uint8_t *in, uint8_t *out, uint32_t blocks,
             uint8_t *iv)
{
    uint32_t n1 = load_le32(iv), n2 = load_le32(iv + 4);
    uint32_t i = 0;
    for (; i + 4 <= blocks; i += 4, in += 32, out += 32) {
        uint32_t g[8];
        for (int k = 0; k < 4; ++k) {
            counter_step(n1, n2);
            g[2 * k] = n1;
            g[2 * k + 1] = n2;
        }
        encrypt4(T, K, g);
        for (int k = 0; k < 8; ++k)
            store_le32(out + 4 * k, load_le32(in + 4 * k) ^ g[k]);
    }
    for (; i + 2 <= blocks; i += 2, in += 16, out += 16) {
        counter_step(n1, n2);
        uint32_t g1 = n1, g2 = n2;
        counter_step(n1, n2);
        uint32_t g3 = n1, g4 = n2;
        encrypt2(T, K, g1, g2, g3, g4);
        store_le32(out, load_le32(in) ^ g1);
        store_le32(out + 4, load_le32(in + 4) ^ g2);
        store_le32(out + 8, load_le32(in + 8) ^ g3);
        store_le32(out + 12, load_le32(in + 12) ^ g4);
    }
    for (; i < blocks; ++i, in += 8, out += 8) {
        counter_step(n1, n2);
        uint32_t g1 = n1, g2 = n2;
        encrypt(T, K, g1, g2);
        store_le32(out, load_le32(in) ^ g1);
        store_le32(out + 4, load_le32(in + 4) ^ g2);
    }
    store_le32(iv, n1);
    store_le32(iv + 4, n2);
}

template <typename Tab>
void ecb_run(Tab T, const uint32_t *K, const uint8_t *in, uint8_t *out, uint32_t blocks,
             bool enc)
{
    uint32_t i = 0;
    for (; i + 4 <= blocks; i += 4, in += 32, out += 32) {
        uint32_t x[8];
        for (int k = 0; k < 8; ++k)
            x[k] = load_le32(in + 4 * k);
        if (enc)
            encrypt4(T, K, x);
        else
            decrypt4(T, K, x);
        for (int k = 0; k < 8; ++k)
            store_le32(out + 4 * k, x[k]);
    }
    for (; i + 2 <= blocks; i += 2, in += 16, out += 16) {
        uint32_t a1 = load_le32(in), a2 = load_le32(in + 4);
        uint32_t b1 = load_le32(in + 8), b2 = load_le32(in + 12);
        if (enc)
            encrypt2(T, K, a1, a2, b1, b2);
        else
            decrypt2(T, K, a1, a2, b1, b2);
        store_le32(out, a1);
        store_le32(out + 4, a2);
        store_le32(out + 8, b1);
        store_le32(out + 12, b2);
    }
    for (; i < blocks; ++i, in += 8, out += 8) {
        if (enc)
            encrypt_bytes(T, K, in, out);
        else
            decrypt_bytes(T, K, in, out);
    }
}

template <typename Tab>
void cbc_encrypt_run(Tab T, const uint32_t *K, const uint8_t *in, uint8_t *out,
                     uint32_t blocks, uint8_t *iv)
{
    uint32_t n1 = load_le32(iv), n2 = load_le32(iv + 4);
    for (uint32_t i = 0; i < blocks; ++i, in += 8, out += 8) {
        n1 ^= load_le32(in);
        n2 ^= load_le32(in + 4);
        encrypt(T, K, n1, n2);
        store_le32(out, n1);
        store_le32(out + 4, n2);
    }
    store_le32(iv, n1);
    store_le32(iv + 4, n2);
}

template <typename Tab>
void cbc_decrypt_run(Tab T, const uint32_t *K, const uint8_t *in, uint8_t *out,
                     uint32_t blocks, uint8_t *iv)
{
    uint32_t v1 = load_le32(iv), v2 = load_le32(iv + 4);
    uint32_t i = 0;
    for (; i + 4 <= blocks; i += 4, in += 32, out += 32) {
        uint32_t c[8], p[8];
        for (int k = 0; k < 8; ++k)
            p[k] = c[k] = load_le32(in + 4 * k);
        decrypt4(T, K, p);
        store_le32(out, p[0] ^ v1);
        store_le32(out + 4, p[1] ^ v2);
        for (int k = 2; k < 8; ++k)
            store_le32(out + 4 * k, p[k] ^ c[k - 2]);
        v1 = c[6];
        v2 = c[7];
    }
    for (; i + 2 <= blocks; i += 2, in += 16, out += 16) {
        const uint32_t c1 = load_le32(in), c2 = load_le32(in + 4);
        const uint32_t c3 = load_le32(in + 8), c4 = load_le32(in + 12);
        uint32_t p1 = c1, p2 = c2, p3 = c3, p4 = c4;
        decrypt2(T, K, p1, p2, p3, p4);
        store_le32(out, p1 ^ v1);
        store_le32(out + 4, p2 ^ v2);
        store_le32(out + 8, p3 ^ c1);
        store_le32(out + 12, p4 ^ c2);
        v1 = c3;
        v2 = c4;
    }
    for (; i < blocks; ++i, in += 8, out += 8) {
        const uint32_t c1 = load_le32(in), c2 = load_le32(in + 4);
        uint32_t p1 = c1, p2 = c2;
        decrypt(T, K, p1, p2);
        store_le32(out, p1 ^ v1);
        store_le32(out + 4, p2 ^ v2);
        v1 = c1;
        v2 = c2;
    }
    store_le32(iv, v1);
    store_le32(iv + 4, v2);
}

// Runs a gamma mode (CFB or counter; run is called with the tables to use)
// over whole blocks and, with the
// last-block flag, over the zero-padded tail, which yields 8 output bytes.
template <typename Run>
int gamma_mode(const char *name, GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in,
               GOST_DATA_BLOB *out, uint8_t *iv, const uint8_t *key, int flags, bool three_lookups,
               Run run)
{
    int rc = check_block_args(ctx, in, out, key);
    if (rc == 0 && iv == nullptr)
        rc = GOST28147_89_ERR_PARAM;
    if (rc != 0)
        return rc;
    uint8_t last[8];
    uint32_t tail = 0, blocks = 0;
    rc = make_last_block(in->pbData, in->cbData, last, &tail, &blocks, flags);
    if (rc != 0) {
        zkc_diag_printf("make_last_block failed, rc = 0x%x\n", unsigned(rc));
        (void)name;
        return rc;
    }
    const uint32_t needed = gamma_output_size(blocks, tail);
    if (out->cbData < needed)
        return GOST28147_89_ERR_LENGTH;
    RoundKeys rk;
    load_keys(rk, key);
    auto run_all = [&](auto T) {
        run(T, rk.k, in->pbData, out->pbData, blocks, iv);
        if (tail != 0)
            run(T, rk.k, last, out->pbData + 8 * blocks, 1, iv);
    };
    if (three_lookups)
        with_tables(ctx, blocks, run_all);
    else
        run_all(Tables(ctx->table.T));
    out->cbData = needed;
    wipe(&rk, sizeof rk);
    wipe(last, sizeof last);
    return 0;
}

}  // namespace

extern "C" int make_last_block(const uint8_t *data, uint32_t length, uint8_t *block8,
                               uint32_t *tail_len, uint32_t *blocks, int flags)
{
    if (data == nullptr || block8 == nullptr || tail_len == nullptr || blocks == nullptr)
        return GOST28147_89_ERR_PARAM;
    *blocks = length / 8;
    const uint32_t tail = length % 8;
    *tail_len = 0;
    if (tail == 0)
        return 0;
    if ((flags & GOST28147_89_FLAG_LAST_BLOCK) == 0)
        return GOST28147_89_ERR_BLOCK;
    std::memset(block8, 0, 8);
    std::memcpy(block8, data + 8 * *blocks, tail);
    *tail_len = tail;
    return 0;
}

extern "C" int ZKC_Gost_SS_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out,
                             const uint8_t *key, int encrypt_flag)
{
    if (ctx == nullptr || in == nullptr || out == nullptr || key == nullptr) {
        zkc_diag_printf("ZKC_Gost_SS_m: bad params\n");
        return GOST28147_89_ERR_PARAM;
    }
    if (in->pbData == nullptr || out->pbData == nullptr) {
        zkc_diag_printf("ZKC_Gost_SS_m: NULL data pointer\n");
        return GOST28147_89_ERR_PARAM;
    }
    if (in->cbData == 0 || out->cbData < in->cbData) {
        zkc_diag_printf("ZKC_Gost_SS_m: invalid buffer length\n");
        return GOST28147_89_ERR_LENGTH;
    }
    if (!ctx->table.ready) {
        zkc_diag_printf("ZKC_Gost_SS_m: TZ not initialized\n");
        return GOST28147_89_ERR_TABLE;
    }
    if (in->cbData % 8 != 0) {
        zkc_diag_printf("ZKC_Gost_SS_m: input data length should be multiple of block size\n");
        return GOST28147_89_ERR_BLOCK;
    }
    RoundKeys rk;
    load_keys(rk, key);
    with_tables(ctx, in->cbData / 8, [&](auto T) {
        ecb_run(T, rk.k, in->pbData, out->pbData, in->cbData / 8, encrypt_flag != 0);
    });
    out->cbData = in->cbData;
    wipe(&rk, sizeof rk);
    return 0;
}

extern "C" int ZKC_Gost_GFB_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out,
                              uint8_t *iv, const uint8_t *key, int encrypt_flag, int flags)
{
    if (encrypt_flag)
        return gamma_mode("ZKC_Gost_GFB_m", ctx, in, out, iv, key, flags, false,
                          [](auto T, auto... args) { cfb_encrypt_run(T, args...); });
    return gamma_mode("ZKC_Gost_GFB_m", ctx, in, out, iv, key, flags, true,
                      [](auto T, auto... args) { cfb_decrypt_run(T, args...); });
}

extern "C" int ZKC_Gost_CNT_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out,
                              uint8_t *iv, const uint8_t *key, int flags)
{
    return gamma_mode("ZKC_Gost_CNT_m", ctx, in, out, iv, key, flags, true,
                      [](auto T, auto... args) { cnt_run(T, args...); });
}

extern "C" int ZKC_Gost_CBC_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out,
                              uint8_t *iv, const uint8_t *key, int encrypt_flag)
{
    int rc = check_block_args(ctx, in, out, key);
    if (rc == 0 && iv == nullptr)
        rc = GOST28147_89_ERR_PARAM;
    if (rc == 0 && out->cbData < in->cbData)
        rc = GOST28147_89_ERR_LENGTH;
    if (rc == 0 && in->cbData % 8 != 0)
        rc = GOST28147_89_ERR_BLOCK;
    if (rc != 0)
        return rc;
    RoundKeys rk;
    load_keys(rk, key);
    if (encrypt_flag)
        cbc_encrypt_run(Tables(ctx->table.T), rk.k, in->pbData, out->pbData, in->cbData / 8, iv);
    else
        with_tables(ctx, in->cbData / 8, [&](auto T) {
            cbc_decrypt_run(T, rk.k, in->pbData, out->pbData, in->cbData / 8, iv);
        });
    out->cbData = in->cbData;
    wipe(&rk, sizeof rk);
    return 0;
}

// MAC over whole blocks: before each block the key-meshing check, then
// mac ^= block and mac := 16-round encryption of mac. The blocks run in chunks
// that never cross a meshing point, with the round keys loaded once per chunk.
static int mac_run(GOST28147_89_CTX *ctx, const uint8_t *data, uint32_t blocks)
{
    while (blocks != 0) {
        uint32_t take = 0;
        const int rc = zkc::g89::mesh_take(ctx, blocks * 8, &take);
        if (rc != 0)
            return rc;
        if (ctx->flags & GOST28147_89_FLAG_FIRST_BLOCK) {
            std::memset(ctx->mac, 0, 4);
            ctx->flags &= uint8_t(~GOST28147_89_FLAG_FIRST_BLOCK);
        }
        RoundKeys rk;
        load_keys(rk, ctx->key);
        uint32_t n1 = load_le32(ctx->mac), n2 = load_le32(ctx->mac + 4);
        with_tables(ctx, take / 8, [&](auto T) {
            for (uint32_t i = 0; i < take / 8; ++i, data += 8) {
                n1 ^= load_le32(data);
                n2 ^= load_le32(data + 4);
                mac16(T, rk.k, n1, n2);
            }
        });
        store_le32(ctx->mac, n1);
        store_le32(ctx->mac + 4, n2);
        wipe(&rk, sizeof rk);
        blocks -= take / 8;
    }
    return 0;
}

extern "C" int ZKC_Gost_MAC_m(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in)
{
    if (ctx == nullptr || in == nullptr || (in->pbData == nullptr && in->cbData != 0))
        return GOST28147_89_ERR_PARAM;
    const bool last = (ctx->flags & GOST28147_89_FLAG_LAST_BLOCK) != 0;
    if (in->cbData == 0 && !last)
        return GOST28147_89_ERR_LENGTH;
    if (!ctx->table.ready)
        return GOST28147_89_ERR_TABLE;

    const uint8_t *data = in->pbData;
    uint32_t length = in->cbData;
    const uint32_t held = uint32_t(ctx->held);
    // In 64 bits: a length near 2^32 must not wrap around into the short path.
    if (uint64_t(held) + length >= 8) {
        int rc = 0;
        uint32_t used = 0;
        if (held != 0) {
            used = 8 - held;
            uint8_t block[8];
            std::memcpy(block, ctx->partial, held);
            std::memcpy(block + held, data, used);
            rc = mac_run(ctx, block, 1);
            wipe(block, sizeof block);
            if (rc != 0)
                return rc;
            ctx->held = 0;
            std::memset(ctx->partial, 0, sizeof ctx->partial);
        }
        const uint32_t rest = length - used;
        rc = mac_run(ctx, data + used, rest / 8);
        if (rc != 0)
            return rc;
        std::memset(ctx->partial, 0, sizeof ctx->partial);
        std::memcpy(ctx->partial, data + used + (rest / 8) * 8, rest % 8);
        ctx->held = int(rest % 8);
        return 0;
    }
    if (length != 0)
        std::memcpy(ctx->partial + held, data, length);
    ctx->held = int(held + length);
    if (last) {
        std::memset(ctx->partial + ctx->held, 0, 8 - size_t(ctx->held));
        const int rc = mac_run(ctx, ctx->partial, 1);
        if (rc != 0)
            return rc;
        ctx->held = 0;
        wipe(ctx->partial, sizeof ctx->partial);
    }
    return 0;
}
