// The key-transport codec: exact bytes of elements and of a whole transport,
// round trips, and refusal of every truncated, over-long or mistagged input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "../fuzz/ber_roundtrip.h"
#include "hex_bytes.h"
#include "zkc_ber.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct FreeBuf {
    void operator()(unsigned char *p) const { std::free(p); }
};

Bytes filled(std::size_t n, unsigned char first)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(first + i);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Runs an encoder (size-only, then for real) and checks the two agree.
template <typename Encode>
Bytes encoded(Encode encode)
{
    std::size_t size = 0;
    EXPECT_EQ(encode(1, nullptr, &size), 1);
    unsigned char *out = nullptr;
    std::size_t len = 0;
    EXPECT_EQ(encode(0, &out, &len), 1);
    std::unique_ptr<unsigned char, FreeBuf> owned(out);
    EXPECT_EQ(len, size);
    return out ? Bytes(out, out + len) : Bytes{};
}

const Bytes kCipherZ = hex_bytes("06092A8503070102050101");
const Bytes kAlg256 = hex_bytes("06082A85030701010101");
const Bytes kAlg512 = hex_bytes("06082A85030701010102");
const Bytes kCurveA = hex_bytes("06072A850302022301");
const Bytes kCurve512A = hex_bytes("06092A85030701020102 01");
const Bytes kHash256 = hex_bytes("06082A85030701010202");
const Bytes kHash512 = hex_bytes("06082A85030701010203");

// A transport as the key transport writes it.
Bytes transport(const Bytes &key, const Bytes &mac, const Bytes &alg, const Bytes &curve, const Bytes &hash,
                const Bytes &pub, const Bytes &ukm)
{
    Bytes sek = encoded([&](int s, unsigned char **o, std::size_t *l) {
        return ber_encode_Gost28147_89_EncryptedKey(s, o, l, key.data(), key.size(), mac.data(), mac.size());
    });
    Bytes eph;
    if (!pub.empty())
        eph = encoded([&](int s, unsigned char **o, std::size_t *l) {
            return ber_encode_GostR3410_EphemeralPublicKey(s, o, l, alg.data(), alg.size(), curve.data(), curve.size(),
                                                           hash.data(), hash.size(), pub.data(), pub.size());
        });
    Bytes tp = encoded([&](int s, unsigned char **o, std::size_t *l) {
        return ber_encode_GostR3410_TransportParameters(s, o, l, kCipherZ.data(), kCipherZ.size(), eph.data(),
                                                        eph.size(), ukm.data(), ukm.size());
    });
    return encoded([&](int s, unsigned char **o, std::size_t *l) {
        return ber_encode_GostR3410_KeyTransport(s, o, l, sek.data(), sek.size(), tp.data(), tp.size());
    });
}

// The 256-bit transport with an ephemeral key, written out by hand.
const Bytes kKnown = cat({
    hex_bytes("3081A9"),                                         // GostR3410-KeyTransport
    hex_bytes("3028 0420"), filled(32, 0), hex_bytes("0404 01020304"),  // encryptedKey, macKey
    hex_bytes("A07D"), kCipherZ,                                 // transportParameters
    hex_bytes("A066 301F"), kAlg256, hex_bytes("3013"), kCurveA, kHash256,
    hex_bytes("0343 00 0440"), filled(64, 0x40),                 // ephemeral public key
    hex_bytes("0408"), filled(8, 1),                             // ukm
});
Bytes known() { return transport(filled(32, 0), hex_bytes("01020304"), kAlg256, kCurveA, kHash256, filled(64, 0x40), filled(8, 1)); }

bool decodes(const Bytes &in, ber_check::Parts &parts, std::string *err = nullptr)
{
    // An exactly sized heap copy: a read past the end is a sanitizer finding.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[in.size() ? in.size() : 1]);
    std::copy(in.begin(), in.end(), copy.get());
    testing::internal::CaptureStderr();
    bool ok = ber_check::decode(copy.get(), in.size(), parts) == 1;
    std::string text = testing::internal::GetCapturedStderr();
    if (err)
        *err = text;
    for (int i = 0; i < 8; ++i)
        if (parts.p[i] != nullptr)
            parts.p[i] = in.data() + (parts.p[i] - copy.get());  // point into `in` for comparisons
    return ok;
}

Bytes part(const ber_check::Parts &p, int i) { return p.p[i] ? Bytes(p.p[i], p.p[i] + p.n[i]) : Bytes{}; }

}  // namespace

TEST(BerElements, LengthFormsOfEveryEncoder)
{
    struct Case {
        std::size_t len;
        const char *header;  // length bytes
    } cases[] = {{0, "00"},       {32, "20"},         {127, "7F"},          {128, "8180"},         {255, "81FF"},
                 {256, "820100"}, {300, "82012C"},    {65535, "82FFFF"},    {65536, "83010000"},   {70000, "83011170"}};
    struct Encoder {
        unsigned char tag;
        int (*encode)(int, unsigned char **, std::size_t *, const unsigned char *, std::size_t);
    } encoders[] = {{0x04, ber_encode_OCTET_STRING}, {0x30, ber_encode_SEQUENCE}, {0xA0, ber_encode_CONTEXT_SPECIFIC}};
    for (const Encoder &e : encoders)
        for (const Case &c : cases) {
            SCOPED_TRACE(std::to_string(e.tag) + " " + std::to_string(c.len));
            Bytes content = filled(c.len, 7);
            Bytes out = encoded([&](int s, unsigned char **o, std::size_t *l) {
                return e.encode(s, o, l, content.data(), content.size());
            });
            EXPECT_EQ(out, cat({Bytes{e.tag}, hex_bytes(c.header), content}));
        }
    // The BIT STRING's content is the unused-bits byte and the data.
    Bytes data = filled(66, 0);
    Bytes bits = encoded([&](int s, unsigned char **o, std::size_t *l) {
        return ber_encode_BIT_STRING(s, o, l, 0, data.data(), data.size());
    });
    EXPECT_EQ(bits, cat({hex_bytes("034300"), data}));
    Bytes long_bits = filled(127, 0);
    EXPECT_EQ(encoded([&](int s, unsigned char **o, std::size_t *l) {
                  return ber_encode_BIT_STRING(s, o, l, 3, long_bits.data(), long_bits.size());
              }),
              cat({hex_bytes("03818003"), long_bits}));
}

TEST(BerElements, ContentOfSixteenMebibytesIsRefusedWithTheEncodersLine)
{
    std::size_t size = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ber_encode_OCTET_STRING(1, nullptr, &size, nullptr, kBerMaxContentLen), 1);
    EXPECT_EQ(size, kBerMaxContentLen + 5);
    EXPECT_EQ(ber_encode_OCTET_STRING(1, nullptr, &size, nullptr, kBerMaxContentLen + 1), 0);
    EXPECT_EQ(ber_encode_BIT_STRING(1, nullptr, &size, 0, nullptr, kBerMaxContentLen), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("zkc_ber.cpp:"), std::string::npos);
    EXPECT_NE(err.find(" ber_encode_OCTET_STRING Function Failed\n"), std::string::npos);
    EXPECT_NE(err.find(" ber_encode_BIT_STRING Function Failed\n"), std::string::npos);
}

TEST(BerElements, DecodersReadEveryLengthFormAndRefuseTheOthers)
{
    struct Case {
        const char *in;
        bool ok;
        std::size_t content_len, total;
    } cases[] = {
        {"0403 AABBCC", true, 3, 5},   {"0481 03 AABBCC", true, 3, 6},   {"048200 03 AABBCC", true, 3, 7},
        {"04830000 03 AABBCC", true, 3, 8}, {"0400", true, 0, 2},
        {"0480 AABBCC 0000", false, 0, 0},   // indefinite form
        {"0484 00000003 AABBCC", false, 0, 0},  // four length bytes
        {"0404 AABBCC", false, 0, 0},        // one byte short
        {"0481", false, 0, 0},               // length byte missing
        {"048300", false, 0, 0},             // length bytes cut
        {"04", false, 0, 0},                 // tag alone
        {"0583 FFFFFF", false, 0, 0},        // wrong tag
        {"", false, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        Bytes in = hex_bytes(c.in);
        const unsigned char *content = nullptr;
        std::size_t len = 0, total = 0;
        testing::internal::CaptureStderr();
        int ok = ber_decode_OCTET_STRING(in.data(), in.size(), &content, &len, &total);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok == 1, c.ok);
        if (c.ok) {
            EXPECT_EQ(len, c.content_len);
            EXPECT_EQ(total, c.total);
            EXPECT_EQ(content, in.data() + c.total - c.content_len);
        } else {
            EXPECT_NE(err.find(" ber_decode_OCTET_STRING Function Failed\n"), std::string::npos) << err;
        }
    }
}

TEST(BerElements, EachDecoderTakesOnlyItsTag)
{
    struct Decoder {
        const char *name;
        unsigned char tag;
        int (*decode)(const unsigned char *, std::size_t, const unsigned char **, std::size_t *, std::size_t *);
    } decoders[] = {{"ber_decode_OCTET_STRING", 0x04, ber_decode_OCTET_STRING},
                    {"ber_decode_BIT_STRING", 0x03, ber_decode_BIT_STRING},
                    {"ber_decode_SEQUENCE", 0x30, ber_decode_SEQUENCE},
                    {"ber_decode_CONTEXT_SPECIFIC", 0xA0, ber_decode_CONTEXT_SPECIFIC}};
    for (const Decoder &d : decoders)
        for (unsigned char tag : {0x03, 0x04, 0x06, 0x30, 0x31, 0xA0, 0xA1, 0x80}) {
            SCOPED_TRACE(std::string(d.name) + " tag " + std::to_string(tag));
            Bytes in{tag, 0x02, 0x00, 0x11};
            const unsigned char *content = nullptr;
            std::size_t len = 0, total = 0;
            testing::internal::CaptureStderr();
            int ok = d.decode(in.data(), in.size(), &content, &len, &total);
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(ok == 1, tag == d.tag);
            if (tag != d.tag) {
                EXPECT_NE(err.find(std::string(" ") + d.name + " Function Failed\n"), std::string::npos);
            } else if (tag == 0x03) {
                EXPECT_EQ(len, 1u);  // the unused-bits byte is skipped
            }
        }
    const unsigned char *content = nullptr;
    std::size_t len = 0, total = 0;
    Bytes empty_bits = hex_bytes("0300");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ber_decode_BIT_STRING(empty_bits.data(), 2, &content, &len, &total), 0);
    EXPECT_EQ(ber_decode_SEQUENCE(nullptr, 10, &content, &len, &total), 0);
    testing::internal::GetCapturedStderr();
}

TEST(BerTransport, KnownStructureHasTheseExactBytes)
{
    EXPECT_EQ(known(), kKnown);
    ber_check::Parts parts;
    ASSERT_TRUE(decodes(kKnown, parts));
    EXPECT_EQ(part(parts, 0), filled(32, 0));
    EXPECT_EQ(part(parts, 1), hex_bytes("01020304"));
    EXPECT_EQ(part(parts, 2), kCipherZ);
    EXPECT_EQ(part(parts, 3), kAlg256);
    EXPECT_EQ(part(parts, 4), kCurveA);
    EXPECT_EQ(part(parts, 5), kHash256);
    EXPECT_EQ(part(parts, 6), filled(64, 0x40));
    EXPECT_EQ(part(parts, 7), filled(8, 1));
}

TEST(BerTransport, EveryShapeRoundTrips)
{
    struct Case {
        const char *name;
        Bytes alg, curve, hash, pub, ukm;
    } cases[] = {
        {"256-bit with ephemeral key", kAlg256, kCurveA, kHash256, filled(64, 9), filled(8, 1)},
        {"512-bit with ephemeral key", kAlg512, kCurve512A, kHash512, filled(128, 9), filled(16, 1)},
        {"without ephemeral key", {}, {}, {}, {}, filled(8, 0xF0)},
        {"300-byte key, empty UKM", kAlg256, kCurveA, kHash256, filled(300, 2), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes t = transport(filled(32, 0x20), hex_bytes("A1B2C3D4"), c.alg, c.curve, c.hash, c.pub, c.ukm);
        ber_check::Parts parts;
        ASSERT_TRUE(decodes(t, parts));
        EXPECT_EQ(part(parts, 0), filled(32, 0x20));
        EXPECT_EQ(part(parts, 1), hex_bytes("A1B2C3D4"));
        EXPECT_EQ(part(parts, 2), kCipherZ);
        EXPECT_EQ(part(parts, 3), c.alg);
        EXPECT_EQ(part(parts, 4), c.curve);
        EXPECT_EQ(part(parts, 5), c.hash);
        EXPECT_EQ(part(parts, 6), c.pub);
        EXPECT_EQ(part(parts, 7), c.ukm);
        EXPECT_EQ(parts.p[3] == nullptr, c.pub.empty());
        EXPECT_TRUE(ber_check::holds(t.data(), t.size()));
    }
}

TEST(BerTransport, EveryTruncationIsRefusedAndHandsOutNothing)
{
    for (const Bytes &whole : {kKnown, transport(filled(32, 0), filled(4, 0), {}, {}, {}, {}, filled(8, 1))})
        for (std::size_t len = 0; len < whole.size(); ++len) {
            SCOPED_TRACE(len);
            ber_check::Parts parts;
            std::string err;
            EXPECT_FALSE(decodes(Bytes(whole.begin(), whole.begin() + len), parts, &err));
            for (int i = 0; i < 8; ++i)
                EXPECT_TRUE(parts.p[i] == nullptr && parts.n[i] == 0);
            EXPECT_FALSE(err.empty());
        }
}

// Offsets in kKnown of each element's tag, with the line its corruption
// gives.
struct Spot {
    std::size_t at;
    const char *line;
};
const Spot kSpots[] = {
    {0, "Decode Sequence Failed"},          {3, "Decode SEQUENCE Failed"},
    {5, "Decode OCTET STRING Failed"},      {39, "Decode OCTET STRING Failed"},
    {45, "Decode CONTEXT SPECIFIC Failed"}, {47, "Decode CONTEXT SPECIFIC Failed"},  // encryptionParamSet
    {58, "Decode OCTET STRING Failed"},  // not an ephemeral key: read as the UKM
    {60, "Decode SEQUENCE Failed"},         {62, "Decode SEQUENCE Failed"},          // algorithm OID
    {72, "Decode SEQUENCE Failed"},         {74, "Decode SEQUENCE Failed"},          // parameter-set OID
    {83, "Decode SEQUENCE Failed"},         {93, "Decode BIT STRING Failed"},
    {96, "Decode OCTET STRING Failed"},     {162, "Decode OCTET STRING Failed"},
};

TEST(BerTransport, WrongTagsAreRefusedWithTheLineOfTheirElement)
{
    ASSERT_EQ(kKnown.size(), 172u);
    for (const Spot &s : kSpots) {
        SCOPED_TRACE(s.at);
        Bytes t = kKnown;
        t[s.at] ^= 0x01;
        ber_check::Parts parts;
        std::string err;
        EXPECT_FALSE(decodes(t, parts, &err));
        EXPECT_NE(err.find(std::string(" ") + s.line + "\n"), std::string::npos) << err;
    }
}

TEST(BerTransport, LengthsReachingPastTheirElementAreRefused)
{
    for (const Spot &s : kSpots) {
        SCOPED_TRACE(s.at);
        for (int grow : {1, 0x7F}) {
            Bytes t = kKnown;
            std::size_t len_at = s.at + 1;
            if (t[len_at] & 0x80)
                ++len_at;  // the single byte of an 81 form
            t[len_at] = static_cast<unsigned char>(t[len_at] + grow);
            ber_check::Parts parts;
            EXPECT_FALSE(decodes(t, parts));
        }
    }
    // Long forms claiming more than the input, and forms the codec never reads.
    for (const char *head : {"3083FFFFFF", "3084000000A9", "3080", "3082FFFF"}) {
        SCOPED_TRACE(head);
        Bytes t = cat({hex_bytes(head), Bytes(kKnown.begin() + 3, kKnown.end())});
        ber_check::Parts parts;
        std::string err;
        EXPECT_FALSE(decodes(t, parts, &err));
        EXPECT_NE(err.find(" ber_decode_SEQUENCE Function Failed\n"), std::string::npos) << err;
        EXPECT_NE(err.find(" Decode Sequence Failed\n"), std::string::npos) << err;
    }
}

TEST(BerTransport, ExtraOrMalformedElementsAreRefused)
{
    struct Case {
        const char *name;
        Bytes in;
        const char *line;
    } cases[] = {
        {"bytes after the structure", cat({kKnown, hex_bytes("00")}), "Decode Sequence Failed"},
        {"maskKey after macKey",
         cat({hex_bytes("3081AF 302E 0420"), filled(32, 0), hex_bytes("0404 01020304 0404 05060708"),
              Bytes(kKnown.begin() + 45, kKnown.end())}),
         "Decode SEQUENCE Failed"},
        {"OID with a long-form length",
         cat({hex_bytes("3081AA"), Bytes(kKnown.begin() + 3, kKnown.begin() + 45), hex_bytes("A07E 068109"),
              Bytes(kKnown.begin() + 49, kKnown.end())}),
         "Decode CONTEXT SPECIFIC Failed"},
        {"transport parameters without UKM",
         cat({hex_bytes("3037"), Bytes(kKnown.begin() + 3, kKnown.begin() + 45), hex_bytes("A00B"), kCipherZ}),
         "Decode OCTET STRING Failed"},
        {"empty BIT STRING",
         cat({hex_bytes("3066 3028 0420"), filled(32, 0), hex_bytes("0404 01020304 A03A"), kCipherZ,
              hex_bytes("A023 301F"), kAlg256, hex_bytes("3013"), kCurveA, kHash256, hex_bytes("0300 0408"),
              filled(8, 1)}),
         "Decode BIT STRING Failed"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ber_check::Parts parts;
        std::string err;
        EXPECT_FALSE(decodes(c.in, parts, &err));
        EXPECT_NE(err.find(std::string(" ") + c.line + "\n"), std::string::npos) << err;
    }
    ber_check::Parts parts;
    std::string err;
    EXPECT_FALSE(decodes({}, parts, &err));
    EXPECT_NE(err.find(" ber_decode_GostR3410_KeyTransport Function Failed\n"), std::string::npos);
}

TEST(BerTransport, StructureEncodersRefuseWhatTheDecoderWouldNot)
{
    Bytes pub = filled(64, 1);
    std::size_t size = 0;
    Bytes long_form_oid = hex_bytes("068107 2A850302022301");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ber_encode_GostR3410_EphemeralPublicKey(1, nullptr, &size, long_form_oid.data(), long_form_oid.size(),
                                                      kCurveA.data(), kCurveA.size(), kHash256.data(),
                                                      kHash256.size(), pub.data(), pub.size()),
              0);
    EXPECT_EQ(ber_encode_GostR3410_TransportParameters(1, nullptr, &size, kCurveA.data(), kCurveA.size() - 1,
                                                       nullptr, 0, pub.data(), 8),
              0);
    EXPECT_EQ(ber_encode_Gost28147_89_EncryptedKey(1, nullptr, &size, nullptr, kBerMaxContentLen + 1, nullptr, 4),
              0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(" ber_encode_GostR3410_EphemeralPublicKey Function Failed\n"), std::string::npos);
    EXPECT_NE(err.find(" ber_encode_GostR3410_TransportParameters Function Failed\n"), std::string::npos);
    EXPECT_NE(err.find(" ber_encode_OCTET_STRING Function Failed\n"), std::string::npos);
    EXPECT_NE(err.find(" Encode Octet String Failed\n"), std::string::npos);
}

TEST(BerTransport, SeedCorpusHoldsTheRoundTripProperty)
{
    std::filesystem::path dir = std::filesystem::path(TOKENCERT_SOURCE_DIR) / "tests/fuzz/corpus/ber";
    std::size_t seen = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        ber_check::Parts parts;
        EXPECT_TRUE(decodes(data, parts)) << "seeds are whole transports";
        testing::internal::CaptureStderr();
        EXPECT_TRUE(ber_check::holds(data.data(), data.size()));
        testing::internal::GetCapturedStderr();
        ++seen;
    }
    EXPECT_GE(seen, 4u);
}
