// GOST R 34.11-94: the step function (key generation, four GOST 28147-89
// encryptions, the psi shift register), buffering, the control sum and length,
// and the built-in parameter sets.
#include "gost_r3411_94.h"

#include <algorithm>
#include <cstring>

#include "gost28147_89_core.h"
#include "zkc_diag.h"

using namespace zkc::g89;

// S-boxes of RFC 4357 section 11.2, packed as there (byte 4r + j =
// S(2j+1)[r] << 4 | S(2j+2)[r]).
constexpr uint8_t GOSTR3411_94_SBOX_TEST[64] = {
    0x4E, 0x57, 0x64, 0xD1, 0xAB, 0x8D, 0xCB, 0xBF, 0x94, 0x1A, 0x7A, 0x4D, 0x2C, 0xD1, 0x10, 0x10,
    0xD6, 0xA0, 0x57, 0x35, 0x8D, 0x38, 0xF2, 0xF7, 0x0F, 0x49, 0xD1, 0x5A, 0xEA, 0x2F, 0x8D, 0x94,
    0x62, 0xEE, 0x43, 0x09, 0xB3, 0xF4, 0xA6, 0xA2, 0x18, 0xC6, 0x98, 0xE3, 0xC1, 0x7C, 0xE5, 0x7E,
    0x70, 0x6B, 0x09, 0x66, 0xF7, 0x02, 0x3C, 0x8B, 0x55, 0x95, 0xBF, 0x28, 0x39, 0xB3, 0x2E, 0xCC,
};
constexpr uint8_t GOSTR3411_94_SBOX_CRYPTOPRO[64] = {
    0xA5, 0x74, 0x77, 0xD1, 0x4F, 0xFA, 0x66, 0xE3, 0x54, 0xC7, 0x42, 0x4A, 0x60, 0xEC, 0xB4, 0x19,
    0x82, 0x90, 0x9D, 0x75, 0x1D, 0x4F, 0xC9, 0x0B, 0x3B, 0x12, 0x2F, 0x54, 0x79, 0x08, 0xA0, 0xAF,
    0xD1, 0x3E, 0x1A, 0x38, 0xC7, 0xB1, 0x81, 0xC6, 0xE6, 0x56, 0x05, 0x87, 0x03, 0x25, 0xEB, 0xFE,
    0x9C, 0x6D, 0xF8, 0x6D, 0x2E, 0xAB, 0xDE, 0x20, 0xBA, 0x89, 0x3C, 0x92, 0xF8, 0xD3, 0x53, 0xBC,
};
constexpr GOST28147_89_EXP_TABLE GOSTR3411_94_TABLE_TEST = expand_sboxes(GOSTR3411_94_SBOX_TEST);
constexpr GOST28147_89_EXP_TABLE GOSTR3411_94_TABLE_CRYPTOPRO = expand_sboxes(GOSTR3411_94_SBOX_CRYPTOPRO);

namespace {
const uint8_t kDerTest[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x00};
const uint8_t kDerCryptoPro[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01};
}  // namespace

extern "C" const GOSTR3411_94_PARAM GOSTR3411_94_BUILTIN_PARAMS[2] = {
    {uint32_t(sizeof kDerTest), kDerTest, "1.2.643.2.2.30.0", "id-GostR3411-94-TestParamSet",
     &GOSTR3411_94_TABLE_TEST},
    {uint32_t(sizeof kDerCryptoPro), kDerCryptoPro, "1.2.643.2.2.30.1",
     "id-GostR3411-94-CryptoProParamSet", &GOSTR3411_94_TABLE_CRYPTOPRO},
};

namespace {

// A 256-bit word as four 64-bit little-endian words (w[0] least significant).
struct W256 {
    uint64_t w[4];
};

inline W256 load256(const uint8_t *p)
{
    W256 r;
    for (int i = 0; i < 4; ++i)
        r.w[i] = load_le64(p + 8 * i);
    return r;
}

inline void store256(uint8_t *p, const W256 &v)
{
    for (int i = 0; i < 4; ++i)
        store_le64(p + 8 * i, v.w[i]);
}

inline W256 load_words(const uint32_t *p)
{
    W256 r;
    for (int i = 0; i < 4; ++i)
        r.w[i] = uint64_t(p[2 * i]) | uint64_t(p[2 * i + 1]) << 32;
    return r;
}

inline void store_words(uint32_t *p, const W256 &v)
{
    for (int i = 0; i < 4; ++i) {
        p[2 * i] = uint32_t(v.w[i]);
        p[2 * i + 1] = uint32_t(v.w[i] >> 32);
    }
}

inline W256 xor256(const W256 &a, const W256 &b)
{
    return {{a.w[0] ^ b.w[0], a.w[1] ^ b.w[1], a.w[2] ^ b.w[2], a.w[3] ^ b.w[3]}};
}

// A(y4 || y3 || y2 || y1) = (y1 ^ y2) || y4 || y3 || y2.
inline W256 transform_a(const W256 &y)
{
    return {{y.w[1], y.w[2], y.w[3], y.w[0] ^ y.w[1]}};
}

// P: byte i + 4m of the result is byte 8i + m of the input (i = 0..3,
// m = 0..7); produced directly as the eight 32-bit round keys.
inline void transform_p(const W256 &x, uint32_t *k)
{
    for (int m = 0; m < 8; ++m) {
        const int s = 8 * m;
        k[m] = uint32_t((x.w[0] >> s) & 0xFF) | uint32_t((x.w[1] >> s) & 0xFF) << 8 |
               uint32_t((x.w[2] >> s) & 0xFF) << 16 | uint32_t((x.w[3] >> s) & 0xFF) << 24;
    }
}

// C3 of the key generation, least significant word first.
const W256 kC3 = {{0xFF00FF00FF00FF00ull, 0x00FF00FF00FF00FFull, 0xFF0000FF00FFFF00ull,
                   0xFF00FFFF000000FFull}};

#define R4(a, b, i) \
    ZKC_G89_R(T, a##1, b##1, K1[i]); ZKC_G89_R(T, a##2, b##2, K2[i]); \
    ZKC_G89_R(T, a##3, b##3, K3[i]); ZKC_G89_R(T, a##4, b##4, K4[i])
#define UP4 R4(a, b, 0); R4(b, a, 1); R4(a, b, 2); R4(b, a, 3); \
            R4(a, b, 4); R4(b, a, 5); R4(a, b, 6); R4(b, a, 7)
#define DOWN4 R4(a, b, 7); R4(b, a, 6); R4(a, b, 5); R4(b, a, 4); \
              R4(a, b, 3); R4(b, a, 2); R4(a, b, 1); R4(b, a, 0)

// s_i = E(K_i, h_i) for the four 64-bit parts of H, side by side.
inline W256 encrypt4(Tables T, const uint32_t *K1, const uint32_t *K2, const uint32_t *K3,
                     const uint32_t *K4, const W256 &h)
{
    uint32_t a1 = uint32_t(h.w[0]), b1 = uint32_t(h.w[0] >> 32);
    uint32_t a2 = uint32_t(h.w[1]), b2 = uint32_t(h.w[1] >> 32);
    uint32_t a3 = uint32_t(h.w[2]), b3 = uint32_t(h.w[2] >> 32);
    uint32_t a4 = uint32_t(h.w[3]), b4 = uint32_t(h.w[3] >> 32);
    UP4;
    UP4;
    UP4;
    DOWN4;
    // The output block is (N1, N2) = (b, a), as in the single-block cipher.
    return {{uint64_t(b1) | uint64_t(a1) << 32, uint64_t(b2) | uint64_t(a2) << 32,
             uint64_t(b3) | uint64_t(a3) << 32, uint64_t(b4) | uint64_t(a4) << 32}};
}
#undef R4
#undef UP4
#undef DOWN4

// psi^n through its linear recurrence on the sixteen 16-bit words (eta1 first):
// y[j + 16] = y[j] ^ y[j+1] ^ y[j+2] ^ y[j+3] ^ y[j+12] ^ y[j+15], and
// psi^n(X) = y[n .. n + 15].
template <int N>
inline W256 psi_pow(const W256 &x)
{
    uint16_t y[16 + N];
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            y[4 * i + k] = uint16_t(x.w[i] >> (16 * k));
    for (int j = 0; j < N; ++j)
        y[j + 16] = uint16_t(y[j] ^ y[j + 1] ^ y[j + 2] ^ y[j + 3] ^ y[j + 12] ^ y[j + 15]);
    W256 r;
    for (int i = 0; i < 4; ++i)
        r.w[i] = uint64_t(y[N + 4 * i]) | uint64_t(y[N + 4 * i + 1]) << 16 |
                 uint64_t(y[N + 4 * i + 2]) << 32 | uint64_t(y[N + 4 * i + 3]) << 48;
    return r;
}

// The step function chi(M, H).
W256 step(Tables T, const W256 &h, const W256 &m)
{
    uint32_t k[4][8];
    W256 u = h, v = m;
    transform_p(xor256(u, v), k[0]);
    for (int i = 1; i < 4; ++i) {
        u = transform_a(u);
        if (i == 2)
            u = xor256(u, kC3);
        v = transform_a(transform_a(v));
        transform_p(xor256(u, v), k[i]);
    }
    const W256 s = encrypt4(T, k[0], k[1], k[2], k[3], h);
    wipe(k, sizeof k);
    return psi_pow<61>(xor256(h, psi_pow<1>(xor256(m, psi_pow<12>(s)))));
}

inline void add256(W256 &acc, const W256 &x)
{
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const uint64_t s = acc.w[i] + x.w[i];
        const uint64_t c1 = s < x.w[i] ? 1 : 0;
        acc.w[i] = s + carry;
        carry = c1 | (acc.w[i] < carry ? 1 : 0);
    }
}

// The running state in locals while an Update or Final works.
struct State {
    W256 sigma, h;
    uint64_t length;
};

inline void compress(Tables T, State &st, const W256 &m, uint64_t bits)
{
    add256(st.sigma, m);
    st.h = step(T, st.h, m);
    st.length += bits;
}

State load_state(const GOSTR3411_94_CTX *ctx)
{
    State st;
    st.sigma = load_words(ctx->sigma);
    st.h = load_words(ctx->h);
    st.length = uint64_t(ctx->length[0]) | uint64_t(ctx->length[1]) << 32;
    return st;
}

void save_state(GOSTR3411_94_CTX *ctx, const State &st)
{
    store_words(ctx->sigma, st.sigma);
    store_words(ctx->h, st.h);
    ctx->length[0] = uint32_t(st.length);
    ctx->length[1] = uint32_t(st.length >> 32);
}

}  // namespace

extern "C" const GOSTR3411_94_PARAM *GOSTR3411_94_DefaultParam(void)
{
    return &GOSTR3411_94_BUILTIN_PARAMS[1];
}

extern "C" int GOSTR3411_94_Init_ex(GOSTR3411_94_CTX *ctx, const GOST28147_89_EXP_TABLE *table)
{
    if (ctx == nullptr || table == nullptr) {
        zkc_diag_printf("GOSTR3411_94_Init_ex: bad params\n");
        return GOSTR3411_94_ERR_PARAM;
    }
    wipe(ctx, sizeof *ctx);
    ctx->table = *table;
    return 0;
}

extern "C" int GOSTR3411_94_Init_more_par(GOSTR3411_94_CTX *ctx, const uint8_t *der,
                                          uint32_t der_len, const GOSTR3411_94_PARAM *more,
                                          uint32_t n_more)
{
    if (ctx == nullptr || der == nullptr || der_len == 0) {
        zkc_diag_printf("GOSTR3411_94_Init_more_par: bad params\n");
        return GOSTR3411_94_ERR_PARAM;
    }
    auto matches = [&](const GOSTR3411_94_PARAM &p) {
        return p.der != nullptr && p.der_len == der_len && std::memcmp(p.der, der, der_len) == 0;
    };
    for (const GOSTR3411_94_PARAM &p : GOSTR3411_94_BUILTIN_PARAMS)
        if (matches(p))
            return GOSTR3411_94_Init_ex(ctx, p.table);
    for (uint32_t i = 0; more != nullptr && i < n_more; ++i)
        if (matches(more[i]))
            return GOSTR3411_94_Init_ex(ctx, more[i].table);
    zkc_diag_printf("GOSTR3411_94_Init_more_par: unsupported OID\n");
    return GOSTR3411_94_ERR_OID;
}

extern "C" int GOSTR3411_94_Update(GOSTR3411_94_CTX *ctx, const uint8_t *data, size_t length)
{
    if (ctx == nullptr || data == nullptr || length == 0) {
        zkc_diag_printf("GOSTR3411_94_Update: bad params\n");
        return GOSTR3411_94_ERR_PARAM;
    }
    if (ctx->count < 0 || ctx->count > 32)
        return GOSTR3411_94_ERR_PARAM;  // not a context of this hash
    Tables T = ctx->table.T;
    State st = load_state(ctx);
    if (ctx->count > 0) {
        const size_t take = std::min(size_t(32 - ctx->count), length);
        std::memcpy(ctx->buffer + ctx->count, data, take);
        ctx->count += int(take);
        data += take;
        length -= take;
        if (ctx->count == 32) {
            compress(T, st, load256(ctx->buffer), 256);
            std::memset(ctx->buffer, 0, sizeof ctx->buffer);
            ctx->count = 0;
        }
    }
    // Whole blocks followed by more input go straight from the input; the
    // final 1 to 32 bytes wait in the buffer.
    while (length > 32) {
        compress(T, st, load256(data), 256);
        data += 32;
        length -= 32;
    }
    if (length > 0) {
        std::memcpy(ctx->buffer, data, length);
        ctx->count = int(length);
    }
    save_state(ctx, st);
    return 0;
}

extern "C" int GOSTR3411_94_Final(GOSTR3411_94_CTX *ctx, uint8_t *digest)
{
    if (ctx == nullptr || digest == nullptr) {
        zkc_diag_printf("GOSTR3411_94_Final: bad params\n");
        return GOSTR3411_94_ERR_PARAM;
    }
    if (ctx->count < 0 || ctx->count > 32)
        return GOSTR3411_94_ERR_PARAM;  // not a context of this hash
    Tables T = ctx->table.T;
    State st = load_state(ctx);
    if (ctx->count > 0) {
        std::memset(ctx->buffer + ctx->count, 0, size_t(32 - ctx->count));
        compress(T, st, load256(ctx->buffer), uint64_t(ctx->count) * 8);
        std::memset(ctx->buffer, 0, sizeof ctx->buffer);
        ctx->count = 0;
    }
    W256 len = {{st.length, 0, 0, 0}};
    st.h = step(T, st.h, len);
    st.h = step(T, st.h, st.sigma);
    save_state(ctx, st);
    store256(digest, st.h);
    return 0;
}
