// GOST 28147-89 core: published vectors, the expanded tables, the parameter
// registry, key diversification, and the error codes and messages.
#include <gtest/gtest.h>

#include <cstring>

#include "gost28147_89.h"
#include "symmetric_test_util.h"

namespace {

struct Cipher {
    GOST28147_89_CTX ctx;
    int init(int enc, const GOST28147_89_EXP_TABLE *table, int mode, int meshing, const Bytes &key,
             const uint8_t *iv = nullptr)
    {
        return GOST28147_89_Init(&ctx, enc, table, mode, 0, meshing, 0, iv, key.data());
    }
    // One Update; returns the output bytes (rc in *rc).
    Bytes update(const Bytes &in, int *rc, size_t extra = 0)
    {
        Bytes out(in.size() + 8 + extra);
        Bytes data = in;
        uint8_t dummy = 0;
        GOST_DATA_BLOB bin = {uint32_t(data.size()), data.empty() ? &dummy : data.data()};
        GOST_DATA_BLOB bout = {uint32_t(out.size()), out.data()};
        *rc = GOST28147_89_Update(&ctx, &bin, &bout);
        out.resize(*rc == 0 ? bout.cbData : 0);
        return out;
    }
    Bytes run(const Bytes &in)
    {
        int rc = 0;
        Bytes out = update(in, &rc);
        EXPECT_EQ(rc, 0);
        return out;
    }
};

Bytes ecb(const GOST28147_89_EXP_TABLE *table, int enc, const Bytes &key, const Bytes &data)
{
    Cipher c;
    EXPECT_EQ(c.init(enc, table, GOST28147_89_MODE_ECB, 0, key), 0);
    return c.run(data);
}

Bytes mac_of(const GOST28147_89_EXP_TABLE *table, const Bytes &key, const Bytes &data,
             const uint8_t *iv = nullptr, int meshing = 0)
{
    Cipher c;
    EXPECT_EQ(c.init(1, table, GOST28147_89_MODE_MAC, meshing, key, iv), 0);
    if (!data.empty()) {
        Bytes copy = data;
        GOST_DATA_BLOB in = {uint32_t(copy.size()), copy.data()};
        EXPECT_EQ(GOST28147_89_Update(&c.ctx, &in, nullptr), 0);
    }
    EXPECT_EQ(GOST28147_89_Final(&c.ctx), 0);
    return Bytes(c.ctx.mac, c.ctx.mac + 4);
}

// The S-box S(i) (i = 1..8) unpacked from the parameter-set byte layout.
int sbox(const uint8_t *packed, int i, int x)
{
    const int j = (i - 1) / 2;
    const uint8_t b = packed[4 * x + j];
    return (i % 2 == 1) ? b >> 4 : b & 15;
}

// The round function as the standard states it: eight 4-bit substitutions,
// then an 11-bit left rotation.
uint32_t round_function_reference(const uint8_t *packed, uint32_t x)
{
    uint32_t y = 0;
    for (int i = 0; i < 8; ++i)
        y |= uint32_t(sbox(packed, i + 1, (x >> (4 * i)) & 15)) << (4 * i);
    return (y << 11) | (y >> 21);
}

const Bytes kMagmaKey = hex("ccddeeff8899aabb4455667700112233f3f2f1f0f7f6f5f4fbfaf9f8fffefdfc");

}  // namespace

// --- published vectors -----------------------------------------------------

TEST(Gost28147Vectors, MagmaExampleWithSetZ)
{
    // RFC 8891 A.4/A.5, in this cipher's byte order (key words and block halves
    // little-endian).
    const Bytes plain = hex("1032547698badcfe");
    const Bytes cipher = hex("3dcad8c2e501e94e");
    EXPECT_EQ(to_hex(ecb(&GOST28147_89_TABLE_Z, 1, kMagmaKey, plain)), to_hex(cipher));
    EXPECT_EQ(to_hex(ecb(&GOST28147_89_TABLE_Z, 0, kMagmaKey, cipher)), to_hex(plain));
}

TEST(Gost28147Vectors, KeyWrapExampleWithSetZ)
{
    // RFC 7836 B.11: CEK_ENC = ECB(KEK, CEK), CEK_MAC = MAC started from the seed.
    const Bytes kek = hex("a1aa5f7de402d7b3d323f2991c8d4534013137010a83754fd0af6d7cd4922ed9");
    const Bytes cek = hex("202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f");
    const Bytes seed = hex("af21434145656378");
    EXPECT_EQ(to_hex(ecb(&GOST28147_89_TABLE_Z, 1, kek, cek)),
              "d15547f8ee85121bc87d4b1027d26027ecc071bba6e72f3fec6f620f56834c5a");
    EXPECT_EQ(to_hex(mac_of(&GOST28147_89_TABLE_Z, kek, cek, seed.data())), "be33f052");
}

// --- expanded tables --------------------------------------------------------

TEST(Gost28147Tables, MatchTheirSboxesThroughTheRoundFunction)
{
    const struct {
        const GOST28147_89_EXP_TABLE *table;
        const uint8_t *sbox;
    } sets[] = {
        {&GOST28147_89_TABLE_TEST, GOST28147_89_SBOX_TEST},
        {&GOST28147_89_TABLE_CRYPTOPRO_A, GOST28147_89_SBOX_CRYPTOPRO_A},
        {&GOST28147_89_TABLE_CRYPTOPRO_B, GOST28147_89_SBOX_CRYPTOPRO_B},
        {&GOST28147_89_TABLE_CRYPTOPRO_C, GOST28147_89_SBOX_CRYPTOPRO_C},
        {&GOST28147_89_TABLE_CRYPTOPRO_D, GOST28147_89_SBOX_CRYPTOPRO_D},
        {&GOST28147_89_TABLE_Z, GOST28147_89_SBOX_Z},
    };
    for (const auto &set : sets) {
        EXPECT_EQ(set.table->ready, 1u);
        // Each table entry by the formula of the table layout...
        for (int j = 0; j < 4; ++j) {
            for (uint32_t x = 0; x < 256; ++x) {
                const uint32_t v = uint32_t(sbox(set.sbox, 2 * j + 2, x >> 4) << 4 |
                                            sbox(set.sbox, 2 * j + 1, x & 15))
                                   << (8 * j);
                ASSERT_EQ(set.table->T[j][x], (v << 11) | (v >> 21)) << "T" << j << "[" << x << "]";
            }
        }
        // ...and the four lookups against the substitute-and-rotate round.
        Bytes r = pseudo_random(4 * 1000, 7);
        for (size_t k = 0; k < r.size(); k += 4) {
            uint32_t x;
            std::memcpy(&x, &r[k], 4);
            const uint32_t f = set.table->T[0][x & 0xFF] ^ set.table->T[1][(x >> 8) & 0xFF] ^
                               set.table->T[2][(x >> 16) & 0xFF] ^ set.table->T[3][x >> 24];
            ASSERT_EQ(f, round_function_reference(set.sbox, x));
        }
    }
}

TEST(Gost28147Tables, CryptoProAFirstRowIsAsPrinted)
{
    // RFC 4357 prints row 0 of CryptoPro-A as K1..K8 = 9 3 E E B 3 1 B.
    const int row0[8] = {0x9, 0x3, 0xE, 0xE, 0xB, 0x3, 0x1, 0xB};
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(sbox(GOST28147_89_SBOX_CRYPTOPRO_A, i, 0), row0[i - 1]);
    // RFC 7836 Appendix C: set Z row 0 is c 6 b c 7 5 8 1.
    const int z0[8] = {0xc, 0x6, 0xb, 0xc, 0x7, 0x5, 0x8, 0x1};
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(sbox(GOST28147_89_SBOX_Z, i, 0), z0[i - 1]);
}

// --- registry ---------------------------------------------------------------

TEST(Gost28147Registry, ElevenSetsInOrderWithTheirTablesAndMeshing)
{
    const int cnt = GOST28147_89_MODE_CNT, cfb = GOST28147_89_MODE_CFB;
    const struct {
        const char *oid;
        const char *name;
        const GOST28147_89_EXP_TABLE *table;
        int mode;
        int meshing;
    } expected[] = {
        {"1.2.643.2.2.31.0", "id-Gost28147-89-TestParamSet", &GOST28147_89_TABLE_TEST, cnt, 0},
        {"1.2.643.2.2.31.1", "id-Gost28147-89-CryptoPro-A-ParamSet", &GOST28147_89_TABLE_CRYPTOPRO_A, cfb, 1},
        {"1.2.643.2.2.31.2", "id-Gost28147-89-CryptoPro-B-ParamSet", &GOST28147_89_TABLE_CRYPTOPRO_B, cfb, 1},
        {"1.2.643.2.2.31.3", "id-Gost28147-89-CryptoPro-C-ParamSet", &GOST28147_89_TABLE_CRYPTOPRO_C, cfb, 1},
        {"1.2.643.2.2.31.4", "id-Gost28147-89-CryptoPro-D-ParamSet", &GOST28147_89_TABLE_CRYPTOPRO_D, cfb, 1},
        {"1.2.643.2.2.31.5", "id-Gost28147-89-CryptoPro-Oscar-1-1-ParamSet", &GOST28147_89_TABLE_TEST, cnt, 0},
        {"1.2.643.2.2.31.6", "id-Gost28147-89-CryptoPro-Oscar-1-0-ParamSet", &GOST28147_89_TABLE_CRYPTOPRO_A, cfb, 0},
        {"1.2.643.2.2.31.7", "id-Gost28147-89-CryptoPro-RIC-1-ParamSet", &GOST28147_89_TABLE_CRYPTOPRO_B, cfb, 0},
        {"1.2.643.2.2.31.8", "id-Gost28147-89-CryptoPro-Simple-C-ParamSet", &GOST28147_89_TABLE_CRYPTOPRO_C, cfb, 0},
        {"1.2.643.2.2.31.9", "id-Gost28147-89-CryptoPro-Simple-D-ParamSet", &GOST28147_89_TABLE_CRYPTOPRO_D, cfb, 0},
        {"1.2.643.7.1.2.5.1.1", "id-tc26-gost-28147-param-Z", &GOST28147_89_TABLE_Z, cfb, 1},
    };
    const GOST28147_89_PARAM *first = nullptr;
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
        const auto &e = expected[i];
        // DER: 06 07 2A 85 03 02 02 1F n for the CryptoPro arcs, 11 bytes for set Z.
        const Bytes der = i < 10 ? hex("06072a850302021f" + std::string(1, char('0')) + std::to_string(i))
                                 : hex("06092a8503070102050101");
        const GOST28147_89_PARAM *p = nullptr;
        ASSERT_EQ(GOST28147_89_FindParByDerOid(der.data(), uint32_t(der.size()), &p), 0) << e.oid;
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->der_len, der.size());
        EXPECT_EQ(0, std::memcmp(p->der, der.data(), der.size()));
        EXPECT_STREQ(p->oid, e.oid);
        EXPECT_STREQ(p->name, e.name);
        EXPECT_EQ(p->table, e.table);
        EXPECT_EQ(p->default_mode, e.mode);
        EXPECT_EQ(p->key_meshing, e.meshing);
        if (i == 0)
            first = p;
    }
    // The list holds the eleven records in registration order, once.
    int count = 0;
    for (const GOST28147_89_PARAM *p = first; p != nullptr; p = p->next) {
        EXPECT_STREQ(p->oid, expected[count].oid);
        ++count;
        ASSERT_LE(count, 11);
    }
    EXPECT_EQ(count, 11);
    EXPECT_EQ(GOST28147_89_RegisterCryptoProPar(), 0);  // a second registration links nothing twice
    count = 0;
    for (const GOST28147_89_PARAM *p = first; p != nullptr && count <= 11; p = p->next)
        ++count;
    EXPECT_EQ(count, 11);
}

TEST(Gost28147Registry, AnyChangedByteIsUnsupported)
{
    const Bytes z = hex("06092a8503070102050101");
    for (size_t i = 0; i < z.size(); ++i) {
        Bytes der = z;
        der[i] ^= 0x01;
        GOST28147_89_PARAM dummy{};
        const GOST28147_89_PARAM *p = &dummy;
        DiagCapture diag;
        EXPECT_EQ(GOST28147_89_FindParByDerOid(der.data(), uint32_t(der.size()), &p), -1);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(diag.text(), "GOST28147_89_FindParByDerOid: unsupported OID\n");
    }
    // A prefix of a registered encoding is not a match either.
    const GOST28147_89_PARAM *p = nullptr;
    EXPECT_EQ(GOST28147_89_FindParByDerOid(z.data(), uint32_t(z.size() - 1), &p), -1);
    EXPECT_EQ(GOST28147_89_FindParByDerOid(z.data(), 0, &p), -1);
}

// --- key diversification ----------------------------------------------------

TEST(Gost28147Kdf, EachStepIsCfbUnderTheKeyWithTheSelectedSums)
{
    const Bytes kek = pseudo_random(32, 11);
    const Bytes ukm = hex("0001ff8042a5c35a");
    Bytes out(32);
    ASSERT_EQ(GOST28147_89_KDF(&GOST28147_89_TABLE_CRYPTOPRO_A, kek.data(), ukm.data(), out.data()), 0);

    // The same steps through the context interface: bit j of UKM byte i puts
    // key word j into the first IV word, the others go to the second.
    Bytes k = kek;
    for (int i = 0; i < 8; ++i) {
        uint32_t s1 = 0, s2 = 0;
        for (int j = 0; j < 8; ++j) {
            uint32_t w;
            std::memcpy(&w, &k[4 * j], 4);
            ((ukm[i] >> j) & 1 ? s1 : s2) += w;
        }
        if (ukm[i] == 0) {
            EXPECT_EQ(s1, 0u);
        }
        uint8_t iv[8];
        std::memcpy(iv, &s1, 4);
        std::memcpy(iv + 4, &s2, 4);
        Cipher c;
        ASSERT_EQ(c.init(1, &GOST28147_89_TABLE_CRYPTOPRO_A, GOST28147_89_MODE_CFB, 0, k, iv), 0);
        k = c.run(k);
    }
    EXPECT_EQ(to_hex(out), to_hex(k));

    // Another table gives another key; null arguments are refused.
    Bytes other(32);
    ASSERT_EQ(GOST28147_89_KDF(&GOST28147_89_TABLE_Z, kek.data(), ukm.data(), other.data()), 0);
    EXPECT_NE(other, out);
    EXPECT_EQ(GOST28147_89_KDF(nullptr, kek.data(), ukm.data(), out.data()), -2);
    EXPECT_EQ(GOST28147_89_KDF(&GOST28147_89_TABLE_Z, kek.data(), nullptr, out.data()), -2);
}

TEST(Gost28147Kdf, UnreadyTableFailsWithItsCode)
{
    GOST28147_89_EXP_TABLE table = GOST28147_89_TABLE_Z;
    table.ready = 0;
    const Bytes kek(32, 1), ukm(8, 2);
    Bytes out(32, 0xEE);
    DiagCapture diag;
    EXPECT_EQ(GOST28147_89_KDF(&table, kek.data(), ukm.data(), out.data()), -1);
    EXPECT_EQ(diag.text(), "ZKC_Gost_GFB_m failed, rc = 0xffffffff\n");
    EXPECT_EQ(out, Bytes(32, 0xEE));
}

// --- codes and messages -----------------------------------------------------

TEST(Gost28147Codes, MissingArgumentsAndUninitialisedContexts)
{
    Cipher c;
    const Bytes key(32, 7);
    EXPECT_EQ(GOST28147_89_Init(nullptr, 1, &GOST28147_89_TABLE_Z, 1, 0, 0, 0, nullptr, key.data()), -2);
    uint8_t buf[16] = {0};
    GOST_DATA_BLOB in = {8, buf}, out = {16, buf};
    EXPECT_EQ(GOST28147_89_Update(nullptr, &in, &out), -2);

    ASSERT_EQ(c.init(1, &GOST28147_89_TABLE_Z, GOST28147_89_MODE_ECB, 0, key), 0);
    EXPECT_EQ(GOST28147_89_Update(&c.ctx, nullptr, &out), -2);
    EXPECT_EQ(GOST28147_89_Update(&c.ctx, &in, nullptr), -2);
    GOST_DATA_BLOB no_data = {8, nullptr};
    EXPECT_EQ(GOST28147_89_Update(&c.ctx, &no_data, &out), -2);

    c.ctx.initialised = 0;
    EXPECT_EQ(GOST28147_89_Update(&c.ctx, &in, &out), -152);
    {
        DiagCapture diag;
        EXPECT_EQ(GOST28147_89_Final(&c.ctx), -152);
        EXPECT_EQ(GOST28147_89_Final(nullptr), -2);
        EXPECT_EQ(diag.text(),
                  "zkc_crpt_final: uninitialized context\nzkc_crpt_final: NULL context\n");
    }
    // Silent while the stream is unset.
    EXPECT_EQ(GOST28147_89_Final(nullptr), -2);

    // Memory that no Init prepared is refused rather than trusted.
    std::memset(&c.ctx, 0xFF, sizeof c.ctx);
    EXPECT_EQ(GOST28147_89_Update(&c.ctx, &in, &out), -152);
    EXPECT_EQ(GOST28147_89_Final(&c.ctx), -152);
}

TEST(Gost28147Codes, BlockFunctionMessages)
{
    Cipher c;
    const Bytes key(32, 3);
    ASSERT_EQ(c.init(1, &GOST28147_89_TABLE_Z, GOST28147_89_MODE_ECB, 0, key), 0);
    uint8_t buf[16] = {0};
    GOST_DATA_BLOB in = {16, buf}, out = {16, buf};
    DiagCapture diag;
    EXPECT_EQ(ZKC_Gost_SS_m(&c.ctx, &in, &out, nullptr, 1), -2);
    GOST_DATA_BLOB null_in = {16, nullptr};
    EXPECT_EQ(ZKC_Gost_SS_m(&c.ctx, &null_in, &out, key.data(), 1), -2);
    GOST_DATA_BLOB small = {8, buf};
    EXPECT_EQ(ZKC_Gost_SS_m(&c.ctx, &in, &small, key.data(), 1), -4);
    GOST_DATA_BLOB odd = {12, buf};
    EXPECT_EQ(ZKC_Gost_SS_m(&c.ctx, &odd, &out, key.data(), 1), -6);
    c.ctx.table.ready = 0;
    EXPECT_EQ(ZKC_Gost_SS_m(&c.ctx, &in, &out, key.data(), 1), -1);
    EXPECT_EQ(diag.text(),
              "ZKC_Gost_SS_m: bad params\n"
              "ZKC_Gost_SS_m: NULL data pointer\n"
              "ZKC_Gost_SS_m: invalid buffer length\n"
              "ZKC_Gost_SS_m: input data length should be multiple of block size\n"
              "ZKC_Gost_SS_m: TZ not initialized\n");
}

TEST(Gost28147Codes, GammaBlockFunctionsRefuseAPartialBlockThatIsNotLast)
{
    Cipher c;
    const Bytes key(32, 3);
    ASSERT_EQ(c.init(1, &GOST28147_89_TABLE_Z, GOST28147_89_MODE_CFB, 0, key), 0);
    uint8_t data[16] = {0}, iv[8] = {0};
    GOST_DATA_BLOB in = {13, data}, out = {16, data};
    DiagCapture diag;
    EXPECT_EQ(ZKC_Gost_GFB_m(&c.ctx, &in, &out, iv, key.data(), 1, 0), -6);
    EXPECT_EQ(ZKC_Gost_CNT_m(&c.ctx, &in, &out, iv, key.data(), 0), -6);
    EXPECT_EQ(diag.text(), "make_last_block failed, rc = 0xfffffffa\n"
                           "make_last_block failed, rc = 0xfffffffa\n");
    // With the last-block flag the tail is padded and 16 bytes come out.
    EXPECT_EQ(ZKC_Gost_GFB_m(&c.ctx, &in, &out, iv, key.data(), 1, GOST28147_89_FLAG_LAST_BLOCK), 0);
    EXPECT_EQ(out.cbData, 16u);
    GOST_DATA_BLOB short_out = {13, data};
    EXPECT_EQ(ZKC_Gost_CNT_m(&c.ctx, &in, &short_out, iv, key.data(), GOST28147_89_FLAG_LAST_BLOCK), -4);

    uint8_t padded[8];
    uint32_t tail = 0, blocks = 0;
    const uint8_t msg[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    EXPECT_EQ(make_last_block(msg, 11, padded, &tail, &blocks, 0), -6);
    EXPECT_EQ(make_last_block(msg, 11, padded, &tail, &blocks, GOST28147_89_FLAG_LAST_BLOCK), 0);
    EXPECT_EQ(tail, 3u);
    EXPECT_EQ(blocks, 1u);
    EXPECT_EQ(to_hex(padded, 8), "090a0b0000000000");
    EXPECT_EQ(make_last_block(msg, 8, padded, &tail, &blocks, 0), 0);
    EXPECT_EQ(tail, 0u);
}

TEST(Gost28147Codes, GammaModesCheckLengthsAndTable)
{
    const Bytes key(32, 5);
    for (int mode : {GOST28147_89_MODE_CFB, GOST28147_89_MODE_CNT}) {
        Cipher c;
        ASSERT_EQ(c.init(1, &GOST28147_89_TABLE_Z, mode, 0, key), 0);
        int rc = 0;
        c.update(Bytes(), &rc);
        EXPECT_EQ(rc, -4);
        uint8_t buf[16] = {0};
        GOST_DATA_BLOB in = {16, buf}, out = {15, buf};
        EXPECT_EQ(GOST28147_89_Update(&c.ctx, &in, &out), -4);
        // Init without a table leaves the ready word at zero: every call is refused.
        ASSERT_EQ(c.init(1, nullptr, mode, 0, key), 0);
        c.update(Bytes(8, 1), &rc);
        EXPECT_EQ(rc, -1);
    }
}

TEST(Gost28147Codes, UnsupportedModeOnlyBuffersUntilABlockIsDue)
{
    Cipher c;
    ASSERT_EQ(c.init(1, &GOST28147_89_TABLE_Z, 6, 0, Bytes(32, 9)), 0);
    int rc = 0;
    EXPECT_TRUE(c.update(Bytes(5, 1), &rc).empty());
    EXPECT_EQ(rc, 0);
    c.update(Bytes(3, 1), &rc);
    EXPECT_EQ(rc, -1102);
    EXPECT_EQ(c.ctx.held, 5);  // nothing was consumed
    EXPECT_EQ(GOST28147_89_Final(&c.ctx), -1102);
    EXPECT_EQ(c.ctx.initialised, 0);
}
