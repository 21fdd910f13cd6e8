// GOST 28147-89 streaming over a context: Init, Update with the buffering
// rules of each mode, Final, and CryptoPro key meshing every 1024 bytes.
#include "gost28147_89.h"

#include <cstring>

#include "gost28147_89_core.h"
#include "gost28147_89_internal.h"
#include "zkc_diag.h"

using namespace zkc::g89;

namespace {

// The CryptoPro key-meshing constant C (RFC 4357, section 2.3.2).
const uint8_t kMeshConstant[32] = {
    0x69, 0x00, 0x72, 0x22, 0x64, 0xC9, 0x04, 0x23, 0x8D, 0x3A, 0xDB, 0x96, 0x46, 0xE9, 0x2A, 0xC4,
    0x18, 0xFE, 0xAC, 0x94, 0x00, 0xED, 0x07, 0x12, 0xC0, 0x86, 0xDC, 0xC2, 0xEF, 0x4C, 0xA9, 0x2B,
};

// Runs the mode's block function over len bytes (whole blocks unless the
// flags let a final tail through), in chunks that never cross a meshing point.
int process_chunked(GOST28147_89_CTX *ctx, const uint8_t *src, uint8_t *dst, uint32_t len)
{
    while (len != 0) {
        uint32_t take = 0;
        int rc = mesh_take(ctx, (len + 7) & ~7u, &take);
        if (rc != 0)
            return rc;
        if (take > len)
            take = len;
        GOST_DATA_BLOB in = {take, const_cast<uint8_t *>(src)};
        GOST_DATA_BLOB out = {(take + 7) & ~7u, dst};
        rc = dispatch(ctx, &in, &out);
        if (rc != 0)
            return rc;
        src += take;
        dst += take;
        len -= take;
    }
    return 0;
}

// CFB (mode 2) and counter (mode 3): any length; the gamma left over from a
// partial block serves the next call.
int update_gamma(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out)
{
    const bool cfb = ctx->mode == GOST28147_89_MODE_CFB;
    uint32_t len = in->cbData;
    if (len == 0 || out->cbData < len)
        return GOST28147_89_ERR_LENGTH;
    if (!ctx->table.ready)
        return GOST28147_89_ERR_TABLE;
    if (out->pbData == nullptr)
        return GOST28147_89_ERR_PARAM;

    if (!cfb && (ctx->flags & GOST28147_89_FLAG_FIRST_BLOCK)) {
        // The counter starts from E(IV).
        GOST_DATA_BLOB iv_in = {8, ctx->iv};
        GOST_DATA_BLOB iv_out = {8, ctx->iv};
        const int rc = ZKC_Gost_SS_m(ctx, &iv_in, &iv_out, ctx->key, 1);
        if (rc != 0)
            return rc;
        ctx->flags = 0;
    }

    const uint8_t *src = in->pbData;
    uint8_t *dst = out->pbData;
    // The remaining gamma of the previous partial block.
    while (ctx->held > 0 && len > 0) {
        uint8_t *g = &ctx->partial[8 - ctx->held];
        const uint8_t c = *src++;
        const uint8_t o = uint8_t(c ^ *g);
        *dst++ = o;
        if (cfb)
            *g = ctx->encrypt ? o : c;  // the feedback takes the ciphertext
        --len;
        if (--ctx->held == 0 && cfb)
            std::memcpy(ctx->iv, ctx->partial, 8);
    }

    const uint32_t whole = len & ~7u;
    int rc = process_chunked(ctx, src, dst, whole);
    if (rc != 0)
        return rc;
    src += whole;
    dst += whole;
    len -= whole;

    if (len != 0) {
        // A trailing partial block: zero-padded, processed as a whole block;
        // partial keeps the 8 result bytes (ciphertext, then spare gamma).
        uint8_t saved[8] = {0};
        std::memcpy(saved, src, len);
        std::memcpy(ctx->partial, saved, 8);
        rc = process_chunked(ctx, ctx->partial, ctx->partial, 8);
        if (rc != 0)
            return rc;
        std::memcpy(dst, ctx->partial, len);
        if (cfb && !ctx->encrypt)
            std::memcpy(ctx->partial, saved, len);
        ctx->held = int(8 - len);
        wipe(saved, sizeof saved);
    }
    ctx->flags &= uint8_t(~GOST28147_89_FLAG_FIRST_BLOCK);
    out->cbData = in->cbData;
    return 0;
}

// ECB, CBC and any other code: whole blocks, the rest held back.
int update_blocks(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out)
{
    const uint32_t held = uint32_t(ctx->held);
    const uint32_t len = in->cbData;
    const uint64_t total64 = uint64_t(held) + len;
    if (total64 > 0xFFFFFFFFu)
        return GOST28147_89_ERR_LENGTH;
    const uint32_t total = uint32_t(total64);
    const uint32_t needed = total & ~7u;
    if (out->pbData == nullptr) {
        out->cbData = needed;
        return 0;
    }
    if (total < 8) {
        std::memcpy(ctx->partial + held, in->pbData, len);
        ctx->held = int(total);
        out->cbData = 0;
        return 0;
    }
    if (out->cbData < needed)
        return GOST28147_89_ERR_LENGTH;

    const uint8_t *src = in->pbData;
    uint8_t *dst = out->pbData;
    const uint32_t rest = total % 8;
    int rc = 0;
    if (held == 0) {
        rc = process_chunked(ctx, src, dst, needed);
        if (rc != 0)
            return rc;
        std::memcpy(ctx->partial, src + needed, rest);
    } else {
        // The held bytes shift every block: each block is assembled in cur,
        // and the next one is read before cur's output is written, so that the
        // output may be the input buffer itself.
        uint8_t cur[8], next[8], tail[8];
        std::memcpy(cur, ctx->partial, held);
        std::memcpy(cur + held, src, 8 - held);
        const uint8_t *pos = src + (8 - held);
        const uint32_t blocks = needed / 8;
        for (uint32_t i = 0; i < blocks; ++i) {
            if (i + 1 < blocks) {
                std::memcpy(next, pos, 8);
                pos += 8;
            } else {
                std::memcpy(tail, pos, rest);
            }
            rc = process_chunked(ctx, cur, cur, 8);
            if (rc != 0)
                break;
            std::memcpy(dst + 8 * i, cur, 8);
            if (i + 1 < blocks)
                std::memcpy(cur, next, 8);
            ctx->held = 0;  // the held bytes are consumed
        }
        if (rc == 0)
            std::memcpy(ctx->partial, tail, rest);
        wipe(cur, sizeof cur);
        wipe(next, sizeof next);
        wipe(tail, sizeof tail);
        if (rc != 0)
            return rc;
    }
    ctx->held = int(rest);
    ctx->flags &= uint8_t(~GOST28147_89_FLAG_FIRST_BLOCK);
    out->cbData = needed;
    return 0;
}

}  // namespace

int zkc::g89::mesh_key(GOST28147_89_CTX *ctx)
{
    uint8_t new_key[32];
    GOST_DATA_BLOB c_in = {32, const_cast<uint8_t *>(kMeshConstant)};
    GOST_DATA_BLOB c_out = {32, new_key};
    int rc = ZKC_Gost_SS_m(ctx, &c_in, &c_out, ctx->key, 0);
    if (rc == 0) {
        std::memcpy(ctx->key, new_key, 32);
        GOST_DATA_BLOB iv_in = {8, ctx->iv};
        GOST_DATA_BLOB iv_out = {8, ctx->iv};
        rc = ZKC_Gost_SS_m(ctx, &iv_in, &iv_out, ctx->key, 1);
    }
    wipe(new_key, sizeof new_key);
    return rc;
}

int zkc::g89::mesh_take(GOST28147_89_CTX *ctx, uint32_t want, uint32_t *take)
{
    if (!ctx->key_meshing) {
        *take = want;
        return 0;
    }
    if (ctx->mesh_count >= GOST28147_89_MESH_INTERVAL) {
        const int rc = mesh_key(ctx);
        if (rc != 0) {
            ctx->initialised = 0;
            return rc;
        }
        ctx->mesh_count = 0;
    }
    const uint32_t room = uint32_t(GOST28147_89_MESH_INTERVAL - ctx->mesh_count);
    *take = want < room ? want : room;
    ctx->mesh_count += int(*take);
    return 0;
}

int zkc::g89::dispatch(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out)
{
    switch (ctx->mode) {
    case GOST28147_89_MODE_ECB:
        return ZKC_Gost_SS_m(ctx, in, out, ctx->key, ctx->encrypt);
    case GOST28147_89_MODE_CFB:
        return ZKC_Gost_GFB_m(ctx, in, out, ctx->iv, ctx->key, ctx->encrypt, ctx->flags);
    case GOST28147_89_MODE_CNT:
        return ZKC_Gost_CNT_m(ctx, in, out, ctx->iv, ctx->key, ctx->flags);
    case GOST28147_89_MODE_CBC:
        return ZKC_Gost_CBC_m(ctx, in, out, ctx->iv, ctx->key, ctx->encrypt);
    default:
        return GOST28147_89_ERR_MODE;
    }
}

extern "C" int GOST28147_89_Init(GOST28147_89_CTX *ctx, int encrypt_flag,
                                 const GOST28147_89_EXP_TABLE *table, int mode, int reserved1,
                                 int key_meshing, int reserved2, const uint8_t *iv,
                                 const uint8_t *key)
{
    if (ctx == nullptr || key == nullptr)
        return GOST28147_89_ERR_PARAM;
    wipe(ctx, sizeof *ctx);
    if (table != nullptr)
        ctx->table = *table;
    ctx->mode = mode;
    ctx->reserved1 = reserved1;
    ctx->key_meshing = key_meshing ? 1 : 0;
    ctx->reserved2 = reserved2;
    ctx->encrypt = encrypt_flag ? 1 : 0;
    std::memcpy(ctx->key, key, 32);
    if (iv != nullptr)
        std::memcpy(ctx->iv, iv, 8);
    if (mode == GOST28147_89_MODE_MAC && iv != nullptr) {
        std::memcpy(ctx->mac, iv, 8);
        ctx->flags = 0;
    } else {
        ctx->flags = GOST28147_89_FLAG_FIRST_BLOCK;
    }
    ctx->initialised = 1;
    return 0;
}

extern "C" int GOST28147_89_Update(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in,
                                   GOST_DATA_BLOB *out)
{
    if (ctx == nullptr || in == nullptr || in->pbData == nullptr)
        return GOST28147_89_ERR_PARAM;
    if (out == nullptr && ctx->mode != GOST28147_89_MODE_MAC)
        return GOST28147_89_ERR_PARAM;
    // Counters out of range mark memory that no Init prepared.
    if (!ctx->initialised || ctx->held < 0 || ctx->held > 8)
        return GOST28147_89_ERR_NOT_INIT;
    switch (ctx->mode) {
    case GOST28147_89_MODE_CFB:
    case GOST28147_89_MODE_CNT:
        return update_gamma(ctx, in, out);
    case GOST28147_89_MODE_MAC:
        return ZKC_Gost_MAC_m(ctx, in);
    default:
        return update_blocks(ctx, in, out);
    }
}

extern "C" int GOST28147_89_Final(GOST28147_89_CTX *ctx)
{
    if (ctx == nullptr) {
        zkc_diag_printf("zkc_crpt_final: NULL context\n");
        return GOST28147_89_ERR_PARAM;
    }
    if (!ctx->initialised || ctx->held < 0 || ctx->held > 8) {
        zkc_diag_printf("zkc_crpt_final: uninitialized context\n");
        return GOST28147_89_ERR_NOT_INIT;
    }
    if (ctx->mode == GOST28147_89_MODE_CFB || ctx->mode == GOST28147_89_MODE_CNT) {
        ctx->initialised = 0;
        return 0;
    }
    if (ctx->held == 0)
        return (ctx->flags & GOST28147_89_FLAG_FIRST_BLOCK) ? GOST28147_89_ERR_NO_DATA : 0;

    ctx->flags |= GOST28147_89_FLAG_LAST_BLOCK;
    int rc;
    if (ctx->mode == GOST28147_89_MODE_MAC) {
        uint8_t none = 0;
        GOST_DATA_BLOB in = {0, &none};
        rc = ZKC_Gost_MAC_m(ctx, &in);
    } else {
        // ECB and CBC take whole blocks only: the held tail is refused (-6).
        uint8_t sink[8];
        GOST_DATA_BLOB in = {uint32_t(ctx->held), ctx->partial};
        GOST_DATA_BLOB out = {sizeof sink, sink};
        rc = dispatch(ctx, &in, &out);
        wipe(sink, sizeof sink);
    }
    ctx->initialised = 0;
    return rc;
}
