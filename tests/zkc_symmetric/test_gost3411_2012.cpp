// GOST R 34.11-2012 core: RFC 6986 examples, the lookup tables against the
// published S, P, L definitions, splits, the empty message, codes and lines.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "hash_low/gost_r3411_2012.h"
#include "hash_low/gost_r3411_2012_tables.h"
#include "symmetric_test_util.h"

namespace {

Bytes digest2012(int bits, const Bytes &msg, const std::vector<size_t> &pieces = {})
{
    GOSTR3411_2012_CTX ctx;
    EXPECT_EQ(bits == 256 ? GOSTR3411_2012_256_Init(&ctx) : GOSTR3411_2012_512_Init(&ctx), 0);
    auto update = [&](const uint8_t *p, size_t n) {
        return bits == 256 ? GOSTR3411_2012_256_Update(&ctx, p, n) : GOSTR3411_2012_512_Update(&ctx, p, n);
    };
    if (pieces.empty()) {
        EXPECT_EQ(update(msg.data(), msg.size()), 0);
    } else {
        size_t pos = 0;
        for (size_t p : pieces) {
            EXPECT_EQ(update(msg.data() + pos, p), 0);
            pos += p;
        }
    }
    Bytes out(size_t(bits / 8));
    EXPECT_EQ(bits == 256 ? GOSTR3411_2012_256_Final(&ctx, out.data())
                          : GOSTR3411_2012_512_Final(&ctx, out.data()),
              0);
    return out;
}

const Bytes kM1 = bytes_of("012345678901234567890123456789012345678901234567890123456789012");
const Bytes kM2 = reversed(hex(
    "fbe2e5f0eee3c820fbeafaebef20fffbf0e1e0f0f520e0ed20e8ece0ebe5f0f2"
    "f120fff0eeec20f120faf2fee5e2202ce8f6f3ede220e8e6eee1e8f0f2d1202c"
    "e8f0f2e5e220e5d1"));

}  // namespace

TEST(GostR34112012Vectors, Rfc6986Examples)
{
    // The RFC prints most significant byte first.
    EXPECT_EQ(to_hex(reversed(kM1)), "323130393837363534333231303938373635343332313039383736353433323130"
                                     "393837363534333231303938373635343332313039383736353433323130");
    EXPECT_EQ(to_hex(digest2012(512, kM1)),
              to_hex(reversed(hex("486f64c1917879417fef082b3381a4e211c324f074654c38823a7b76f830ad00"
                                  "fa1fbae42b1285c0352f227524bc9ab16254288dd6863dccd5b9f54a1ad0541b"))));
    EXPECT_EQ(to_hex(digest2012(256, kM1)),
              to_hex(reversed(hex("00557be5e584fd52a449b16b0251d05d27f94ab76cbaa6da890b59d8ef1e159d"))));
    EXPECT_EQ(to_hex(digest2012(512, kM2)),
              to_hex(reversed(hex("28fbc9bada033b1460642bdcddb90c3fb3e56c497ccd0f62b8a2ad4935e85f03"
                                  "7613966de4ee00531ae60f3b5a47f8dae06915d5f2f194996fcabf2622e6881e"))));
    EXPECT_EQ(to_hex(digest2012(256, kM2)),
              to_hex(reversed(hex("508f7e553c06501d749a66fc28c6cac0b005746d97537fa85d9e40904efed29d"))));
}

TEST(GostR34112012Vectors, EmptyMessageIsOnePaddedBlock)
{
    // Well-known digests of the empty message.
    EXPECT_EQ(to_hex(digest2012(512, {})),
              "8e945da209aa869f0455928529bcae4679e9873ab707b55315f56ceb98bef0a7"
              "362f715528356ee83cda5f2aac4c6ad2ba3a715c1bcd81cb8e9f90bf4c1c1a8a");
    EXPECT_EQ(to_hex(digest2012(256, {})),
              "3f539a213e97c802cc229d474c6aa32a825a360b2a933a949fd925208d9ce1bb");
}

TEST(GostR34112012Tables, MatchTheStandardStepByStep)
{
    using namespace zkc::streebog;
    // S, P and L exactly as defined: S substitutes each byte by Pi', P moves
    // byte Tau(k) to position k, L multiplies each 64-bit word by A.
    const int tau[64] = {0, 8,  16, 24, 32, 40, 48, 56, 1, 9,  17, 25, 33, 41, 49, 57,
                         2, 10, 18, 26, 34, 42, 50, 58, 3, 11, 19, 27, 35, 43, 51, 59,
                         4, 12, 20, 28, 36, 44, 52, 60, 5, 13, 21, 29, 37, 45, 53, 61,
                         6, 14, 22, 30, 38, 46, 54, 62, 7, 15, 23, 31, 39, 47, 55, 63};
    const Bytes in = pseudo_random(64, 33);
    uint8_t s[64], p[64];
    for (int k = 0; k < 64; ++k)
        s[k] = kPi[in[size_t(k)]];
    for (int k = 0; k < 64; ++k)
        p[k] = s[tau[k]];
    for (int i = 0; i < 8; ++i) {
        uint64_t b = 0, c = 0;
        std::memcpy(&b, p + 8 * i, 8);
        for (int bit = 0; bit < 64; ++bit)
            if ((b >> (63 - bit)) & 1)
                c ^= kA[bit];
        uint64_t via_tables = 0;
        for (int j = 0; j < 8; ++j)
            via_tables ^= kLps.t[j][in[size_t(8 * j + i)]];
        EXPECT_EQ(via_tables, c) << "word " << i;
    }
    // C1 as published: its least significant word is the last 16 digits.
    EXPECT_EQ(kIter.c[0][0], 0xdd806559f2a64507ull);
    EXPECT_EQ(kIter.c[0][7], 0xb1085bda1ecadae9ull);
    EXPECT_EQ(kIter.c[11][0], 0x48bc924af11bd720ull);
}

TEST(GostR34112012Streaming, AnySplitEqualsOneCall)
{
    const Bytes msg = pseudo_random(1000, 44);
    for (int bits : {256, 512}) {
        const Bytes whole = digest2012(bits, msg);
        for (size_t piece : {1, 7, 32, 63, 64, 65, 128}) {
            std::vector<size_t> pieces;
            for (size_t pos = 0; pos < msg.size(); pos += piece)
                pieces.push_back(std::min(piece, msg.size() - pos));
            EXPECT_EQ(digest2012(bits, msg, pieces), whole) << bits << " pieces of " << piece;
        }
        std::mt19937 gen{unsigned(bits)};
        for (int round = 0; round < 30; ++round) {
            std::vector<size_t> pieces;
            size_t pos = 0;
            while (pos < msg.size()) {
                const size_t p = std::min<size_t>(gen() % 150, msg.size() - pos);  // zero-length pieces too
                pieces.push_back(p);
                pos += p;
            }
            EXPECT_EQ(digest2012(bits, msg, pieces), whole) << bits << " round " << round;
        }
    }
    // Every length up to three blocks, cut in two at every point.
    for (size_t len = 1; len <= 192; len += 1) {
        const Bytes m(msg.begin(), msg.begin() + long(len));
        const Bytes one = digest2012(512, m);
        for (size_t cut = 1; cut < len; cut += (len > 140 ? 7 : 1))
            ASSERT_EQ(digest2012(512, m, {cut, len - cut}), one) << len << " cut " << cut;
    }
}

TEST(GostR34112012Context, LayoutAfterInitAndBuffering)
{
    GOSTR3411_2012_CTX ctx;
    ASSERT_EQ(GOSTR3411_2012_256_Init(&ctx), 0);
    EXPECT_EQ(ctx.digest_size, 32);
    for (DIGIT_T d : ctx.h)
        EXPECT_EQ(d, 0x01010101u);
    ASSERT_EQ(GOSTR3411_2012_512_Init(&ctx), 0);
    EXPECT_EQ(ctx.digest_size, 64);
    for (DIGIT_T d : ctx.h)
        EXPECT_EQ(d, 0u);
    const uint8_t msg[3] = {0xA1, 0xB2, 0xC3};
    ASSERT_EQ(GOSTR3411_2012_512_Update(&ctx, msg, 3), 0);
    EXPECT_EQ(ctx.count, 3);
    EXPECT_EQ(ctx.buffer[63], 0xA1);
    EXPECT_EQ(ctx.buffer[61], 0xC3);
    // One whole block: N counts 512 bits, Sigma holds the block.
    const Bytes block = pseudo_random(61, 5);
    ASSERT_EQ(GOSTR3411_2012_512_Update(&ctx, block.data(), block.size()), 0);
    EXPECT_EQ(ctx.count, 0);
    EXPECT_EQ(ctx.N[0], 512u);
    EXPECT_EQ(ctx.Sigma[0], 0xA1u | 0xB2u << 8 | 0xC3u << 16 | DIGIT_T(block[0]) << 24);
}

TEST(GostR34112012Codes, SizesPointersAndLines)
{
    GOSTR3411_2012_CTX ctx;
    ASSERT_EQ(GOSTR3411_2012_256_Init(&ctx), 0);
    const Bytes msg = bytes_of("abc");
    DiagCapture diag;
    EXPECT_EQ(GOSTR3411_2012_512_Update(&ctx, msg.data(), msg.size()), -2);
    uint8_t out[64];
    EXPECT_EQ(GOSTR3411_2012_512_Final(&ctx, out), -2);
    EXPECT_EQ(GOSTR3411_2012_256_Init(nullptr), -1);
    EXPECT_EQ(GOSTR3411_2012_512_Init(nullptr), -1);
    EXPECT_EQ(GOSTR3411_2012_Update(nullptr, msg.data(), 3), -1);
    EXPECT_EQ(GOSTR3411_2012_256_Update(nullptr, msg.data(), 3), -1);
    EXPECT_EQ(GOSTR3411_2012_Update(&ctx, nullptr, 3), -2);
    EXPECT_EQ(GOSTR3411_2012_Update(&ctx, nullptr, 0), 0);
    EXPECT_EQ(GOSTR3411_2012_Final(&ctx, nullptr), -2);
    EXPECT_EQ(GOSTR3411_2012_Final(nullptr, out), -1);

    // Each line: source, line number, function, text.
    const std::string text = diag.text();
    const char *expected[] = {
        "GOSTR3411_2012_512_Update. Illegal digest size in context: 32\n",
        "GOSTR3411_2012_512_Final. Illegal digest size in context: 32\n",
        "GOSTR3411_2012_Init. NULL context pointer\n",
        "GOSTR3411_2012_Init. NULL context pointer\n",
        "GOSTR3411_2012_Update. NULL context pointer\n",
        "GOSTR3411_2012_256_Update. NULL context pointer\n",
        "GOSTR3411_2012_Update. NULL data pointer for data_len > 0\n",
        "GOSTR3411_2012_Final. NULL digest pointer\n",
        "GOSTR3411_2012_Final. NULL context pointer\n",
    };
    size_t pos = 0;
    for (const char *line : expected) {
        ASSERT_EQ(text.compare(pos, 25, "hash_low/gost_r3411_2012:"), 0) << text.substr(pos);
        const size_t space = text.find(' ', pos);
        ASSERT_NE(space, std::string::npos);
        for (size_t k = pos + 25; k < space; ++k)
            EXPECT_TRUE(isdigit(text[k])) << text.substr(pos);
        EXPECT_EQ(text.compare(space + 1, strlen(line), line), 0) << text.substr(pos);
        pos = space + 1 + strlen(line);
    }
    EXPECT_EQ(pos, text.size());

    // A context that no Init prepared is refused.
    GOSTR3411_2012_CTX junk;
    std::memset(&junk, 0xFF, sizeof junk);
    EXPECT_EQ(GOSTR3411_2012_Update(&junk, msg.data(), msg.size()), -2);
    EXPECT_EQ(GOSTR3411_2012_Final(&junk, out), -2);

    // The failed calls left the 256-bit context usable.
    ASSERT_EQ(GOSTR3411_2012_256_Update(&ctx, msg.data(), msg.size()), 0);
    Bytes d(32);
    ASSERT_EQ(GOSTR3411_2012_256_Final(&ctx, d.data()), 0);
    EXPECT_EQ(d, digest2012(256, msg));
}
