#include "gost_reference.h"

#include <algorithm>
#include <memory>

#include <openssl/bn.h>
#include <openssl/ec.h>

#include "gost_objects.h"

namespace {

// Curve parameters as published: RFC 4357 section 11.4 (the 2001 sets; XchA
// and XchB are the A and C curves), RFC 7836 appendix A.1 (512-bit sets A and
// B) and RFC 9215 appendix E (512-bit test set).
struct Curve {
    GostObj set;
    const char *p, *a, *b, *q, *x, *y;
};

constexpr const char *kTestP = "8000000000000000000000000000000000000000000000000000000000000431";
constexpr const char *kTestB = "5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E";
constexpr const char *kTestQ = "8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3";
constexpr const char *kTestY = "08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8";
constexpr const char *kAP = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD97";
constexpr const char *kAA = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD94";
constexpr const char *kAQ = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF6C611070995AD10045841B09B761B893";
constexpr const char *kAY = "8D91E471E0989CDA27DF505A453F2B7635294F2DDF23E3B122ACC99C9E9F1E14";
constexpr const char *kBP = "8000000000000000000000000000000000000000000000000000000000000C99";
constexpr const char *kBA = "8000000000000000000000000000000000000000000000000000000000000C96";
constexpr const char *kBB = "3E1AF419A269A5F866A7D3C25C3DF80AE979259373FF2B182F49D4CE7E1BBC8B";
constexpr const char *kBQ = "800000000000000000000000000000015F700CFFF1A624E5E497161BCC8A198F";
constexpr const char *kBY = "3FA8124359F96680B83D1C3EB2C070E5C545C9858D03ECFB744BF8D717717EFC";
constexpr const char *kCP = "9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D759B";
constexpr const char *kCA = "9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D7598";
constexpr const char *kCQ = "9B9F605F5A858107AB1EC85E6B41C8AA582CA3511EDDFB74F02F3A6598980BB9";
constexpr const char *kCY = "41ECE55743711A8C3CBF3783CD08C0EE4D4DC440D4641A8F366E550DFDB3BB67";

const Curve kCurves[] = {
    {GostObj::gost2001_test_paramset, kTestP, "7", kTestB, kTestQ, "2", kTestY},
    {GostObj::gost2001_cryptopro_a_paramset, kAP, kAA, "A6", kAQ, "1", kAY},
    {GostObj::gost2001_cryptopro_b_paramset, kBP, kBA, kBB, kBQ, "1", kBY},
    {GostObj::gost2001_cryptopro_c_paramset, kCP, kCA, "805A", kCQ, "0", kCY},
    {GostObj::gost2001_cryptopro_xcha_paramset, kAP, kAA, "A6", kAQ, "1", kAY},
    {GostObj::gost2001_cryptopro_xchb_paramset, kCP, kCA, "805A", kCQ, "0", kCY},
    {GostObj::gost3410_2012_512_paramset_test,
     "4531ACD1FE0023C7550D267B6B2FEE80922B14B2FFB90F04D4EB7C09B5D2D15DF1D852741AF4704A0458047E80E4546D35B8336FAC224DD8"
     "1664BBF528BE6373",
     "7",
     "1CFF0806A31116DA29D8CFA54E57EB748BC5F377E49400FDD788B649ECA1AC4361834013B2AD7322480A89CA58E0CF74BC9E540C2ADD68"
     "97FAD0A3084F302ADC",
     "4531ACD1FE0023C7550D267B6B2FEE80922B14B2FFB90F04D4EB7C09B5D2D15DA82F2D7ECB1DBAC719905C5EECC423F1D86E25EDBE23C5"
     "95D644AAF187E6E6DF",
     "24D19CC64572EE30F396BF6EBBFD7A6C5213B3B3D7057CC825F91093A68CD762FD60611262CD838DC6B60AA7EEE804E28BC849977FAC33"
     "B4B530F1B120248A9A",
     "2BB312A43BD2CE6E0D020613C857ACDDCFBF061E91E5F2C3F32447C259F39B2C83AB156D77F1496BF7EB3351E1EE4E43DC1A18B91B2464"
     "0B6DBB92CB1ADD371E"},
    {GostObj::gost3410_2012_512_paramset_a,
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "FFFFFFFFFFFFFDC7",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "FFFFFFFFFFFFFDC4",
     "E8C2505DEDFC86DDC1BD0B2B6667F1DA34B82574761CB0E879BD081CFD0B6265EE3CB090F30D27614CB4574010DA90DD862EF9D4EBEE47"
     "61503190785A71C760",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF27E69532F48D89116FF22B8D4E0560609B4B38ABFAD2B8"
     "5DCACDB1411F10B275",
     "3",
     "7503CFE87A836AE3A61B8816E25450E6CE5E1C93ACF1ABC1778064FDCBEFA921DF1626BE4FD036E93D75E6A50E3A41E98028FE5FC235F5"
     "B889A589CB5215F2A4"},
    {GostObj::gost3410_2012_512_paramset_b,
     "8000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000006F",
     "8000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000006C",
     "687D1B459DC841457E3E06CF6F5E2517B97C7D614AF138BCBF85DC806C4B289F3E965D2DB1416D217F8B276FAD1AB69C50F78BEE1FA310"
     "6EFB8CCBC7C5140116",
     "800000000000000000000000000000000000000000000000000000000000000149A1EC142565A545ACFDB77BD9D40CFA8B996712101BEA"
     "0EC6346C54374F25BD",
     "2",
     "1A8F7EDA389B094C2C071E3647A8940F3C123B697578C213BE6DD9E6C8EC7335DCB228FD1EDF4A39152CBCAAF8C0398828041055F94CEE"
     "EC7E21340780FE41BD"},
    {GostObj::gost3410_2012_256_paramset_a, kAP, "C2173F1513981673AF4892C23035A27CE25E2013BF95AA33B22C656F277E7335",
     "295F9BAE7428ED9CCC20E7C359A9D41A22FCCD9108E17BF7BA9337A6F8AE9513",
     "400000000000000000000000000000000FD8CDDFC87B6635C115AF556C360C67",
     "91E38443A5E82C0D880923425712B2BB658B9196932E02C78B2582FE742DAA28",
     "32879423AB1A0375895786C4BB46E9565FDE0B5344766740AF268ADB32322E5C"},
};

struct BnFree {
    void operator()(BIGNUM *b) const { BN_clear_free(b); }
};
struct CtxFree {
    void operator()(BN_CTX *c) const { BN_CTX_free(c); }
};
struct GroupFree {
    void operator()(EC_GROUP *g) const { EC_GROUP_free(g); }
};
struct PointFree {
    void operator()(EC_POINT *p) const { EC_POINT_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, CtxFree>;
using Group = std::unique_ptr<EC_GROUP, GroupFree>;
using Point = std::unique_ptr<EC_POINT, PointFree>;

Bn bn_hex(const char *hex)
{
    BIGNUM *b = nullptr;
    BN_hex2bn(&b, hex);
    return Bn(b);
}
Bn bn_le(const unsigned char *p, std::size_t n) { return Bn(BN_lebin2bn(p, static_cast<int>(n), nullptr)); }
Bn bn_be(const unsigned char *p, std::size_t n) { return Bn(BN_bin2bn(p, static_cast<int>(n), nullptr)); }
Bn bn_new() { return Bn(BN_new()); }

// A curve with its generator and order, and the size n of its numbers.
struct Ec {
    Group group;
    Bn q;
    std::size_t n = 0;
    BnCtx ctx{BN_CTX_new()};
    explicit operator bool() const { return group != nullptr; }
};

Ec curve_of(int param_nid)
{
    Ec ec;
    for (const Curve &c : kCurves) {
        if (gost_nid(c.set) != param_nid)
            continue;
        Bn p = bn_hex(c.p), a = bn_hex(c.a), b = bn_hex(c.b), x = bn_hex(c.x), y = bn_hex(c.y);
        ec.q = bn_hex(c.q);
        ec.group.reset(EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), ec.ctx.get()));
        Point g(EC_POINT_new(ec.group.get()));
        EC_POINT_set_affine_coordinates(ec.group.get(), g.get(), x.get(), y.get(), ec.ctx.get());
        Bn one = bn_hex("1");
        EC_GROUP_set_generator(ec.group.get(), g.get(), ec.q.get(), one.get());
        ec.n = static_cast<std::size_t>(BN_num_bytes(p.get()));
        break;
    }
    return ec;
}

Point point_of(const Ec &ec, const Bytes &pub)
{
    if (pub.size() != 2 * ec.n)
        return nullptr;
    Bn x = bn_le(pub.data(), ec.n), y = bn_le(pub.data() + ec.n, ec.n);
    Point point(EC_POINT_new(ec.group.get()));
    if (!EC_POINT_set_affine_coordinates(ec.group.get(), point.get(), x.get(), y.get(), ec.ctx.get()))
        return nullptr;
    return point;
}

// e: the digest as a number modulo q, 1 in place of 0.
Bn digest_number(const Ec &ec, const Bytes &digest)
{
    Bn e = bn_le(digest.data(), digest.size());
    BN_nnmod(e.get(), e.get(), ec.q.get(), ec.ctx.get());
    if (BN_is_zero(e.get()))
        BN_one(e.get());
    return e;
}

Bn x_of(const Ec &ec, const EC_POINT *point)
{
    Bn x = bn_new();
    EC_POINT_get_affine_coordinates(ec.group.get(), point, x.get(), nullptr, ec.ctx.get());
    return x;
}

Bytes le_bytes(const BIGNUM *b, std::size_t n)
{
    Bytes out(n);
    BN_bn2lebinpad(b, out.data(), static_cast<int>(n));
    return out;
}

}  // namespace

bool reference_knows(int param_nid) { return static_cast<bool>(curve_of(param_nid)); }

bool reference_on_curve(int param_nid, const Bytes &pub)
{
    Ec ec = curve_of(param_nid);
    Point point = ec ? point_of(ec, pub) : nullptr;
    return point && EC_POINT_is_on_curve(ec.group.get(), point.get(), ec.ctx.get()) == 1 &&
           !EC_POINT_is_at_infinity(ec.group.get(), point.get());
}

Bytes reference_public(int param_nid, const Bytes &priv)
{
    Ec ec = curve_of(param_nid);
    if (!ec)
        return {};
    Bn d = bn_le(priv.data(), priv.size());
    Point q(EC_POINT_new(ec.group.get()));
    EC_POINT_mul(ec.group.get(), q.get(), d.get(), nullptr, nullptr, ec.ctx.get());
    Bn x = bn_new(), y = bn_new();
    EC_POINT_get_affine_coordinates(ec.group.get(), q.get(), x.get(), y.get(), ec.ctx.get());
    Bytes out = le_bytes(x.get(), ec.n), ys = le_bytes(y.get(), ec.n);
    out.insert(out.end(), ys.begin(), ys.end());
    return out;
}

Bytes reference_sign(int param_nid, const Bytes &priv, const Bytes &digest, const Bytes &nonce)
{
    Ec ec = curve_of(param_nid);
    if (!ec)
        return {};
    Bn d = bn_le(priv.data(), priv.size());
    Bn e = digest_number(ec, digest);
    for (;;) {
        Bn k = nonce.empty() ? bn_new() : bn_le(nonce.data(), nonce.size());
        if (nonce.empty())
            BN_rand_range(k.get(), ec.q.get());
        if (BN_is_zero(k.get()))
            continue;
        // C = kP, r = x_C mod q, s = (r d + k e) mod q.
        Point c(EC_POINT_new(ec.group.get()));
        EC_POINT_mul(ec.group.get(), c.get(), k.get(), nullptr, nullptr, ec.ctx.get());
        Bn r = x_of(ec, c.get());
        BN_nnmod(r.get(), r.get(), ec.q.get(), ec.ctx.get());
        Bn rd = bn_new(), ke = bn_new(), s = bn_new();
        BN_mod_mul(rd.get(), r.get(), d.get(), ec.q.get(), ec.ctx.get());
        BN_mod_mul(ke.get(), k.get(), e.get(), ec.q.get(), ec.ctx.get());
        BN_mod_add(s.get(), rd.get(), ke.get(), ec.q.get(), ec.ctx.get());
        if (BN_is_zero(r.get()) || BN_is_zero(s.get())) {
            if (!nonce.empty())
                return {};
            continue;
        }
        Bytes sig(2 * ec.n);
        BN_bn2binpad(s.get(), sig.data(), static_cast<int>(ec.n));
        BN_bn2binpad(r.get(), sig.data() + ec.n, static_cast<int>(ec.n));
        return sig;
    }
}

bool reference_verify(int param_nid, const Bytes &pub, const Bytes &digest, const Bytes &sig)
{
    Ec ec = curve_of(param_nid);
    if (!ec || sig.size() != 2 * ec.n)
        return false;
    Point q = point_of(ec, pub);
    if (!q)
        return false;
    Bn s = bn_be(sig.data(), ec.n), r = bn_be(sig.data() + ec.n, ec.n);
    for (const BIGNUM *v : {r.get(), s.get()})
        if (BN_is_zero(v) || BN_cmp(v, ec.q.get()) >= 0)
            return false;
    // v = e^-1, z1 = s v, z2 = -r v (mod q); C = z1 P + z2 Q; R = x_C mod q.
    Bn e = digest_number(ec, digest);
    Bn v(BN_mod_inverse(nullptr, e.get(), ec.q.get(), ec.ctx.get()));
    Bn z1 = bn_new(), z2 = bn_new(), minus_r = bn_new();
    BN_mod_mul(z1.get(), s.get(), v.get(), ec.q.get(), ec.ctx.get());
    BN_sub(minus_r.get(), ec.q.get(), r.get());
    BN_mod_mul(z2.get(), minus_r.get(), v.get(), ec.q.get(), ec.ctx.get());
    Point c(EC_POINT_new(ec.group.get()));
    if (!EC_POINT_mul(ec.group.get(), c.get(), z1.get(), q.get(), z2.get(), ec.ctx.get()) ||
        EC_POINT_is_at_infinity(ec.group.get(), c.get()))
        return false;
    Bn big_r = x_of(ec, c.get());
    BN_nnmod(big_r.get(), big_r.get(), ec.q.get(), ec.ctx.get());
    return BN_cmp(big_r.get(), r.get()) == 0;
}

Bytes hex_to_bytes(const std::string &hex)
{
    Bytes out;
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes reversed(Bytes b)
{
    std::reverse(b.begin(), b.end());
    return b;
}
