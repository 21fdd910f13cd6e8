// GOST R 34.11-94 core: published digests with both parameter sets, the block
// cipher step inside it, splits, parameter-set choice and codes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "gost_r3411_94.h"
#include "symmetric_test_util.h"

namespace {

Bytes digest94(const GOST28147_89_EXP_TABLE *table, const Bytes &msg,
               const std::vector<size_t> &pieces = {})
{
    GOSTR3411_94_CTX ctx;
    EXPECT_EQ(GOSTR3411_94_Init_ex(&ctx, table), 0);
    if (pieces.empty()) {
        if (!msg.empty()) {
            EXPECT_EQ(GOSTR3411_94_Update(&ctx, msg.data(), msg.size()), 0);
        }
    } else {
        size_t pos = 0;
        for (size_t p : pieces) {
            EXPECT_EQ(GOSTR3411_94_Update(&ctx, msg.data() + pos, p), 0);
            pos += p;
        }
    }
    Bytes out(32);
    EXPECT_EQ(GOSTR3411_94_Final(&ctx, out.data()), 0);
    return out;
}

const GOST28147_89_EXP_TABLE *kTest = &GOSTR3411_94_TABLE_TEST;
const GOST28147_89_EXP_TABLE *kCryptoPro = &GOSTR3411_94_TABLE_CRYPTOPRO;

}  // namespace

TEST(GostR341194Vectors, Rfc5831ExamplesWithTheTestSet)
{
    // The RFC prints message and digest most significant byte first.
    const Bytes m32 = reversed(hex("73657479622032333D6874676E656C202C6567617373656D20736920736968 54"));
    EXPECT_EQ(m32, bytes_of("This is message, length=32 bytes"));
    EXPECT_EQ(to_hex(digest94(kTest, m32)),
              to_hex(reversed(hex("FAFF37A615A816691CFF3EF8B68CA247E09525F39F8119832EB81975D366C4B1"))));

    const Bytes m50 = bytes_of("Suppose the original message has length = 50 bytes");
    EXPECT_EQ(to_hex(digest94(kTest, m50)),
              to_hex(reversed(hex("0852F5623B89DD57AEB4781FE54DF14EEAFBC1350613763A0D770AA657BA1A47"))));
}

TEST(GostR341194Vectors, MoreTestSetDigests)
{
    // Empty message: only the two final steps, no padded block.
    EXPECT_EQ(to_hex(digest94(kTest, {})),
              "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d");
    EXPECT_EQ(to_hex(digest94(kTest, bytes_of("abc"))),
              "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d");
    EXPECT_EQ(to_hex(digest94(kTest, Bytes(128, 'U'))),
              "53a3a3ed25180cef0c1d85a074273e551c25660a87062a52d926a9e8fe5733a4");
    EXPECT_EQ(to_hex(digest94(kTest, bytes_of("The quick brown fox jumps over the lazy dog"))),
              "77b7fa410c9ac58a25f49bca7d0468c9296529315eaca76bd1a10f376d1f4294");
}

TEST(GostR341194Vectors, MillionAs)
{
    GOSTR3411_94_CTX ctx;
    ASSERT_EQ(GOSTR3411_94_Init_ex(&ctx, kTest), 0);
    const Bytes chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(GOSTR3411_94_Update(&ctx, chunk.data(), chunk.size()), 0);
    Bytes out(32);
    ASSERT_EQ(GOSTR3411_94_Final(&ctx, out.data()), 0);
    EXPECT_EQ(to_hex(out), "5c00ccc2734cdd3332d3d4749576e3c1a7dbaf0e7ea74e9fa602413c90a129fa");
}

TEST(GostR341194Vectors, CryptoProSetDigests)
{
    // RFC 5933 section 4.1: DS digest of a DNSKEY (owner name | RDATA).
    const Bytes dnskey = hex(
        "076578616d706c65036e6574000101030c2cc817447cd26c82469fa8b5e8afac0e36"
        "837ff935a3d0dbc5270e80462a612feb961d8c7fe051018dd01cf6f0a0f8767e40ca"
        "06ba05491191ed961cc7e60843");
    EXPECT_EQ(to_hex(digest94(kCryptoPro, dnskey)),
              "22261a8b0e0d799183e35e24e2ad6bb58533cba7e3b14d659e9ca09b2071398f");
    EXPECT_EQ(to_hex(digest94(kCryptoPro, bytes_of("This is message, length=32 bytes"))),
              "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb");
    EXPECT_EQ(to_hex(digest94(kCryptoPro, bytes_of("Suppose the original message has length = 50 bytes"))),
              "c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011");
    EXPECT_EQ(to_hex(digest94(kCryptoPro, {})),
              "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0");
}

TEST(GostR341194Vectors, FirstEncryptionStepOfTheRfcExample)
{
    // RFC 5831 7.3.1: s[1] = E(K[1], h[1] = 0) with the test S-boxes (the
    // key as reproduced by P(H xor M) for that message).
    const Bytes k1 = reversed(hex("733D2C20656865737474676979676120626E73732065736932 6C656833206D54"));
    GOST28147_89_CTX ctx;
    ASSERT_EQ(GOST28147_89_Init(&ctx, 1, kTest, GOST28147_89_MODE_ECB, 0, 0, 0, nullptr, k1.data()), 0);
    Bytes block(8, 0), out(8);
    GOST_DATA_BLOB in = {8, block.data()}, bout = {8, out.data()};
    ASSERT_EQ(GOST28147_89_Update(&ctx, &in, &bout), 0);
    EXPECT_EQ(to_hex(out), to_hex(reversed(hex("42ABBCCE32BC0B1B"))));
}

TEST(GostR341194Streaming, AnySplitEqualsOneCall)
{
    const Bytes msg = pseudo_random(700, 21);
    const Bytes whole = digest94(kCryptoPro, msg);
    for (size_t piece : {1, 7, 31, 32, 33, 64}) {
        std::vector<size_t> pieces;
        for (size_t pos = 0; pos < msg.size(); pos += piece)
            pieces.push_back(std::min(piece, msg.size() - pos));
        EXPECT_EQ(digest94(kCryptoPro, msg, pieces), whole) << piece;
    }
    std::mt19937 gen(77);
    for (int round = 0; round < 30; ++round) {
        std::vector<size_t> pieces;
        size_t pos = 0;
        while (pos < msg.size()) {
            const size_t p = std::min<size_t>(1 + gen() % 100, msg.size() - pos);
            pieces.push_back(p);
            pos += p;
        }
        EXPECT_EQ(digest94(kCryptoPro, msg, pieces), whole) << round;
    }
    // Every length up to three blocks, cut in two at every point.
    for (size_t len = 1; len <= 96; ++len) {
        const Bytes m(msg.begin(), msg.begin() + long(len));
        const Bytes one = digest94(kTest, m);
        for (size_t cut = 1; cut < len; ++cut)
            ASSERT_EQ(digest94(kTest, m, {cut, len - cut}), one) << len << " cut " << cut;
    }
}

TEST(GostR341194Params, SelectionByOidAndDefault)
{
    const GOSTR3411_94_PARAM *def = GOSTR3411_94_DefaultParam();
    ASSERT_NE(def, nullptr);
    EXPECT_STREQ(def->name, "id-GostR3411-94-CryptoProParamSet");
    EXPECT_STREQ(def->oid, "1.2.643.2.2.30.1");
    EXPECT_EQ(def->table, kCryptoPro);
    EXPECT_STREQ(GOSTR3411_94_BUILTIN_PARAMS[0].name, "id-GostR3411-94-TestParamSet");

    const Bytes msg = bytes_of("abc");
    GOSTR3411_94_CTX ctx;
    const Bytes der = hex("06072a850302021e01");
    ASSERT_EQ(GOSTR3411_94_Init_more_par(&ctx, der.data(), uint32_t(der.size()), nullptr, 0), 0);
    ASSERT_EQ(GOSTR3411_94_Update(&ctx, msg.data(), msg.size()), 0);
    Bytes out(32);
    ASSERT_EQ(GOSTR3411_94_Final(&ctx, out.data()), 0);
    EXPECT_EQ(to_hex(out), "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c");

    DiagCapture diag;
    const Bytes longer = hex("06082a850302021e0100");
    EXPECT_EQ(GOSTR3411_94_Init_more_par(&ctx, longer.data(), uint32_t(longer.size()), nullptr, 0), -3001);
    Bytes other = der;
    other[8] = 2;
    EXPECT_EQ(GOSTR3411_94_Init_more_par(&ctx, other.data(), uint32_t(other.size()), nullptr, 0), -3001);
    // An additional set supplied by the caller is found after the built-in ones.
    const GOSTR3411_94_PARAM extra = {uint32_t(other.size()), other.data(), "1.2.643.2.2.30.2", "extra",
                                      &GOSTR3411_94_TABLE_TEST};
    EXPECT_EQ(GOSTR3411_94_Init_more_par(&ctx, other.data(), uint32_t(other.size()), &extra, 1), 0);
    EXPECT_EQ(GOSTR3411_94_Init_more_par(&ctx, nullptr, 9, nullptr, 0), -2);
    EXPECT_EQ(diag.text(), "GOSTR3411_94_Init_more_par: unsupported OID\n"
                           "GOSTR3411_94_Init_more_par: unsupported OID\n"
                           "GOSTR3411_94_Init_more_par: bad params\n");
}

TEST(GostR341194Codes, BadParameters)
{
    GOSTR3411_94_CTX ctx;
    DiagCapture diag;
    EXPECT_EQ(GOSTR3411_94_Init_ex(nullptr, kTest), -2);
    EXPECT_EQ(GOSTR3411_94_Init_ex(&ctx, nullptr), -2);
    ASSERT_EQ(GOSTR3411_94_Init_ex(&ctx, kTest), 0);
    const uint8_t byte = 1;
    EXPECT_EQ(GOSTR3411_94_Update(&ctx, &byte, 0), -2);
    EXPECT_EQ(GOSTR3411_94_Update(&ctx, nullptr, 1), -2);
    EXPECT_EQ(GOSTR3411_94_Final(&ctx, nullptr), -2);
    EXPECT_EQ(diag.text(), "GOSTR3411_94_Init_ex: bad params\nGOSTR3411_94_Init_ex: bad params\n"
                           "GOSTR3411_94_Update: bad params\nGOSTR3411_94_Update: bad params\n"
                           "GOSTR3411_94_Final: bad params\n");
    GOSTR3411_94_CTX junk;
    std::memset(&junk, 0xFF, sizeof junk);
    EXPECT_EQ(GOSTR3411_94_Update(&junk, &byte, 1), -2);
    uint8_t sink[32];
    EXPECT_EQ(GOSTR3411_94_Final(&junk, sink), -2);

    // The failures left the context as it was: the empty-message digest.
    Bytes out(32);
    ASSERT_EQ(GOSTR3411_94_Final(&ctx, out.data()), 0);
    EXPECT_EQ(to_hex(out), "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d");
}
