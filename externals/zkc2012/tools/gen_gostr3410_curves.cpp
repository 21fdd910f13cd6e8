// Generator of the built-in GOST R 34.10 curve records
// (externals/zkc2012/src/gostr3410_2012_curves.cpp).
//
// Not part of the library and not run by the build: the records it prints
// are committed. It holds the published curve constants (RFC 4357 section
// 11.4, RFC 7836 appendix A.1, the test curves of RFC 5832 / RFC 7091 and
// RFC 9215 appendix E), checks each base point with OpenSSL (on the curve,
// order q) and computes the fixed-base tables: point k = 16^k times the base
// point, for k = 0..71 (256-bit) or 0..135 (512-bit).
//
//   g++ -std=c++17 -O2 -Wall gen_gostr3410_curves.cpp -lcrypto -o /tmp/gen_curves
//   /tmp/gen_curves > ../src/gostr3410_2012_curves.cpp
#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Curve {
    const char *ident;   // C identifier suffix of the record
    int bits;            // 256 or 512
    const char *p, *a, *b, *q, *x, *y;  // hexadecimal, most significant first
    bool precomputed;
    // Identification: the 2012 OID/name, and for 256-bit sets the 2001 name.
    const char *oid;
    const char *name_2012;
    const char *name_2001;
};

const Curve kCurves[] = {
    {"256_test", 256,
     "8000000000000000000000000000000000000000000000000000000000000431",
     "7",
     "5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E",
     "8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3",
     "2",
     "08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8",
     false, "1.2.643.2.2.35.0", "id-tc26-gost-3410-2012-256-paramSetTest",
     "id-GostR3410-2001-TestParamSet"},
    {"256_cryptopro_a", 256,
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD97",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD94",
     "A6",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF6C611070995AD10045841B09B761B893",
     "1",
     "8D91E471E0989CDA27DF505A453F2B7635294F2DDF23E3B122ACC99C9E9F1E14",
     true, "1.2.643.2.2.35.1", "id-tc26-gost-3410-2012-256-paramSetA",
     "id-GostR3410-2001-CryptoPro-A-ParamSet"},
    {"256_cryptopro_b", 256,
     "8000000000000000000000000000000000000000000000000000000000000C99",
     "8000000000000000000000000000000000000000000000000000000000000C96",
     "3E1AF419A269A5F866A7D3C25C3DF80AE979259373FF2B182F49D4CE7E1BBC8B",
     "800000000000000000000000000000015F700CFFF1A624E5E497161BCC8A198F",
     "1",
     "3FA8124359F96680B83D1C3EB2C070E5C545C9858D03ECFB744BF8D717717EFC",
     true, "1.2.643.2.2.35.2", "id-tc26-gost-3410-2012-256-paramSetB",
     "id-GostR3410-2001-CryptoPro-B-ParamSet"},
    {"256_cryptopro_c", 256,
     "9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D759B",
     "9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D7598",
     "805A",
     "9B9F605F5A858107AB1EC85E6B41C8AA582CA3511EDDFB74F02F3A6598980BB9",
     "0",
     "41ECE55743711A8C3CBF3783CD08C0EE4D4DC440D4641A8F366E550DFDB3BB67",
     true, "1.2.643.2.2.35.3", "id-tc26-gost-3410-2012-256-paramSetC",
     "id-GostR3410-2001-CryptoPro-C-ParamSet"},
    {"256_cryptopro_xcha", 256,
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD97",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD94",
     "A6",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF6C611070995AD10045841B09B761B893",
     "1",
     "8D91E471E0989CDA27DF505A453F2B7635294F2DDF23E3B122ACC99C9E9F1E14",
     true, "1.2.643.2.2.36.0", "id-tc26-gost-3410-2012-256-paramSetXchA",
     "id-GostR3410-2001-CryptoPro-XchA-ParamSet"},
    {"256_cryptopro_xchb", 256,
     "9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D759B",
     "9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D7598",
     "805A",
     "9B9F605F5A858107AB1EC85E6B41C8AA582CA3511EDDFB74F02F3A6598980BB9",
     "0",
     "41ECE55743711A8C3CBF3783CD08C0EE4D4DC440D4641A8F366E550DFDB3BB67",
     true, "1.2.643.2.2.36.1", "id-tc26-gost-3410-2012-256-paramSetXchB",
     "id-GostR3410-2001-CryptoPro-XchB-ParamSet"},
    {"512_test", 512,
     "4531ACD1FE0023C7550D267B6B2FEE80922B14B2FFB90F04D4EB7C09B5D2D15D"
     "F1D852741AF4704A0458047E80E4546D35B8336FAC224DD81664BBF528BE6373",
     "7",
     "1CFF0806A31116DA29D8CFA54E57EB748BC5F377E49400FDD788B649ECA1AC43"
     "61834013B2AD7322480A89CA58E0CF74BC9E540C2ADD6897FAD0A3084F302ADC",
     "4531ACD1FE0023C7550D267B6B2FEE80922B14B2FFB90F04D4EB7C09B5D2D15D"
     "A82F2D7ECB1DBAC719905C5EECC423F1D86E25EDBE23C595D644AAF187E6E6DF",
     "24D19CC64572EE30F396BF6EBBFD7A6C5213B3B3D7057CC825F91093A68CD762"
     "FD60611262CD838DC6B60AA7EEE804E28BC849977FAC33B4B530F1B120248A9A",
     "2BB312A43BD2CE6E0D020613C857ACDDCFBF061E91E5F2C3F32447C259F39B2C"
     "83AB156D77F1496BF7EB3351E1EE4E43DC1A18B91B24640B6DBB92CB1ADD371E",
     false, "1.2.643.7.1.2.1.2.0", "id-tc26-gost-3410-2012-512-paramSetTest", nullptr},
    {"512_a", 512,
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFDC7",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFDC4",
     "E8C2505DEDFC86DDC1BD0B2B6667F1DA34B82574761CB0E879BD081CFD0B6265"
     "EE3CB090F30D27614CB4574010DA90DD862EF9D4EBEE4761503190785A71C760",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "27E69532F48D89116FF22B8D4E0560609B4B38ABFAD2B85DCACDB1411F10B275",
     "3",
     "7503CFE87A836AE3A61B8816E25450E6CE5E1C93ACF1ABC1778064FDCBEFA921"
     "DF1626BE4FD036E93D75E6A50E3A41E98028FE5FC235F5B889A589CB5215F2A4",
     true, "1.2.643.7.1.2.1.2.1", "id-tc26-gost-3410-2012-512-paramSetA", nullptr},
    {"512_b", 512,
     "8000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000006F",
     "8000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000000000000000000000000000000000000000000006C",
     "687D1B459DC841457E3E06CF6F5E2517B97C7D614AF138BCBF85DC806C4B289F"
     "3E965D2DB1416D217F8B276FAD1AB69C50F78BEE1FA3106EFB8CCBC7C5140116",
     "8000000000000000000000000000000000000000000000000000000000000001"
     "49A1EC142565A545ACFDB77BD9D40CFA8B996712101BEA0EC6346C54374F25BD",
     "2",
     "1A8F7EDA389B094C2C071E3647A8940F3C123B697578C213BE6DD9E6C8EC7335"
     "DCB228FD1EDF4A39152CBCAAF8C0398828041055F94CEEEC7E21340780FE41BD",
     true, "1.2.643.7.1.2.1.2.2", "id-tc26-gost-3410-2012-512-paramSetB", nullptr},
};

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "gen_gostr3410_curves: %s\n", what.c_str());
    std::exit(2);
}

BIGNUM *hex(const char *text)
{
    std::string clean;
    for (const char *c = text; *c; ++c)
        if (*c != ' ')
            clean += *c;
    BIGNUM *bn = nullptr;
    if (!BN_hex2bn(&bn, clean.c_str()))
        die("bad hex constant");
    return bn;
}

// "{0x..., 0x..., ...}" for a number of `digits` 32-bit digits, low first.
std::string digits_of(const BIGNUM *bn, int digits)
{
    std::vector<unsigned char> le(static_cast<size_t>(digits) * 4);
    if (BN_bn2lebinpad(bn, le.data(), static_cast<int>(le.size())) < 0)
        die("number wider than its record field");
    std::string out = "{";
    char buf[16];
    for (int i = 0; i < digits; ++i) {
        const unsigned v = le[4 * i] | le[4 * i + 1] << 8 | le[4 * i + 2] << 16 |
                           static_cast<unsigned>(le[4 * i + 3]) << 24;
        std::snprintf(buf, sizeof buf, "%s0x%08Xu", i ? ", " : "", v);
        out += buf;
    }
    return out + "}";
}

std::string der_bytes(const char *oid)
{
    // Arcs after 1.2: first byte 0x2A, then base-128 encodings.
    std::vector<unsigned long> arcs;
    std::string s(oid);
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t dot = s.find('.', pos);
        if (dot == std::string::npos)
            dot = s.size();
        arcs.push_back(std::stoul(s.substr(pos, dot - pos)));
        pos = dot + 1;
    }
    std::vector<unsigned char> content{static_cast<unsigned char>(arcs[0] * 40 + arcs[1])};
    for (size_t i = 2; i < arcs.size(); ++i) {
        unsigned long v = arcs[i];
        std::vector<unsigned char> enc{static_cast<unsigned char>(v & 0x7F)};
        while (v >>= 7)
            enc.insert(enc.begin(), static_cast<unsigned char>(0x80 | (v & 0x7F)));
        content.insert(content.end(), enc.begin(), enc.end());
    }
    std::string out = "0x06, ";
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned>(content.size()));
    out += buf;
    for (unsigned char c : content) {
        std::snprintf(buf, sizeof buf, ", 0x%02X", c);
        out += buf;
    }
    return out;
}

size_t der_length(const char *oid)
{
    return (der_bytes(oid).size() + 2) / 6;
}

void emit(const Curve &c)
{
    const int digits = c.bits == 256 ? 9 : 17;
    const int points = c.bits == 256 ? 72 : 136;
    BIGNUM *p = hex(c.p), *a = hex(c.a), *b = hex(c.b), *q = hex(c.q), *x = hex(c.x), *y = hex(c.y);
    BN_CTX *ctx = BN_CTX_new();
    EC_GROUP *group = EC_GROUP_new_curve_GFp(p, a, b, ctx);
    if (!group)
        die(std::string(c.ident) + ": not a curve");
    EC_POINT *g = EC_POINT_new(group);
    if (!EC_POINT_set_affine_coordinates(group, g, x, y, ctx) || EC_POINT_is_on_curve(group, g, ctx) != 1)
        die(std::string(c.ident) + ": base point not on the curve");
    EC_POINT *check = EC_POINT_new(group);
    EC_POINT_mul(group, check, nullptr, g, q, ctx);
    if (EC_POINT_is_at_infinity(group, check) != 1)
        die(std::string(c.ident) + ": q times the base point is not infinity");

    std::printf("\nstatic const uint8_t kDer_%s[] = {%s};\n", c.ident, der_bytes(c.oid).c_str());
    const char *type = c.bits == 256 ? "GOSTR3410_2012_256_PARAMS" : "GOSTR3410_2012_512_PARAMS";
    std::printf("\nextern \"C\" const %s gostr3410_2012_%s = {\n", type, c.ident);
    std::printf("    %s,\n", digits_of(a, digits).c_str());
    std::printf("    %s,\n", digits_of(b, digits).c_str());
    std::printf("    %s,\n", digits_of(p, digits).c_str());
    std::printf("    %s,\n", digits_of(q, digits).c_str());
    std::printf("    %s,\n", digits_of(x, digits).c_str());
    std::printf("    %s,\n", digits_of(y, digits).c_str());
    std::printf("    %zu, kDer_%s, \"%s\", \"%s\",\n", der_length(c.oid), c.ident, c.oid, c.name_2012);
    if (c.bits == 256)
        std::printf("    %zu, kDer_%s, \"%s\", \"%s\",\n", der_length(c.oid), c.ident, c.oid, c.name_2001);
    std::printf("    %d,\n    {", c.precomputed ? 1 : 0);
    if (c.precomputed) {
        EC_POINT *t = EC_POINT_dup(g, group);
        BIGNUM *tx = BN_new(), *ty = BN_new();
        for (int k = 0; k < points; ++k) {
            if (!EC_POINT_get_affine_coordinates(group, t, tx, ty, ctx))
                die("point at infinity in the table");
            std::printf("%s\n        {%s,\n         %s}", k ? "," : "", digits_of(tx, digits).c_str(),
                        digits_of(ty, digits).c_str());
            for (int d = 0; d < 4; ++d)
                EC_POINT_dbl(group, t, t, ctx);
        }
        std::printf("\n    ");
        BN_free(tx);
        BN_free(ty);
        EC_POINT_free(t);
    }
    std::printf("}};\n");

    EC_POINT_free(check);
    EC_POINT_free(g);
    EC_GROUP_free(group);
    BN_CTX_free(ctx);
    for (BIGNUM *n : {p, a, b, q, x, y})
        BN_free(n);
}

}  // namespace

int main()
{
    std::printf("// The built-in GOST R 34.10 curves: constants and fixed-base tables\n"
                "// (point k = 16^k times the base point).\n"
                "// Generated by externals/zkc2012/tools/gen_gostr3410_curves.cpp; do not edit.\n"
                "#include \"gostr3410_2012.h\"\n");
    for (const Curve &c : kCurves)
        emit(c);
    return 0;
}
