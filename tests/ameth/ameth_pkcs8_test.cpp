// GOST private keys in PKCS#8: published key pairs, every curve against an
// independent curve implementation, both forms of the private value,
// malformed values, encoding round trips, the CKA_ID shared with the
// certificate, and private values read from a token. (PKCS#12 goes through
// the token engine itself: engine_keys_test.cpp.)
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <random>
#include <string>

#include "fake_token.h"
#include "gost_objects.h"
#include "gost_params.h"
#include "gost_test_engine.h"
#include "gostr3410_2012.h"
#include "pkcs11_ameth.h"

namespace {

using Bytes = std::vector<unsigned char>;



const GostObj kKeyAlgs[] = {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512};

// A number printed most significant digit first, as n little-endian bytes.
Bytes le_number(const std::string &hex_digits, std::size_t n)
{
    Bytes be = hex(std::string(2 * n - hex_digits.size(), '0') + hex_digits);
    return Bytes(be.rbegin(), be.rend());
}

Bytes bytes_of(const unsigned char *p, std::size_t n) { return Bytes(p, p + n); }
Bytes public_of(const EVP_PKEY *k) { return bytes_of(record(k)->pub_key, record(k)->pub_key_len); }
Bytes private_of(const EVP_PKEY *k) { return bytes_of(record(k)->priv_key, record(k)->priv_key_len); }
Bytes id_of(const EVP_PKEY *k) { return bytes_of(record(k)->key_id, 20); }

// The CKA_ID of a public value: SHA-1 over its DER OCTET STRING.
Bytes expected_id(const Bytes &pub)
{
    return sha1(concat(pub.size() == 64 ? hex("04 40") : hex("04 81 80"), pub));
}

// A PKCS#8 decoding together with what it wrote to stderr.
struct Decoded {
    PkeyPtr key;
    std::string err;
};
Decoded decode(const Bytes &der)
{
    gost_test_engine();
    testing::internal::CaptureStderr();
    PkeyPtr key = key_from_pkcs8(der);
    return {std::move(key), testing::internal::GetCapturedStderr()};
}

// The public value of a little-endian private value on a curve of the core's
// table, computed with OpenSSL's EC arithmetic from the curve's constants.
template <class Params>
Bytes reference_public(const Params &c, std::size_t digits, const Bytes &priv_le)
{
    using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
    auto bn = [digits](const DIGIT_T *v) {
        Bytes be(digits * 4);
        mpConvToOctets(v, digits, be.data(), be.size());
        return BnPtr(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr), BN_free);
    };
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(
        EC_GROUP_new_curve_GFp(bn(c.p).get(), bn(c.a).get(), bn(c.b).get(), ctx.get()), EC_GROUP_free);
    std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> g(EC_POINT_new(group.get()), EC_POINT_free);
    std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> q(EC_POINT_new(group.get()), EC_POINT_free);
    BnPtr d(BN_lebin2bn(priv_le.data(), static_cast<int>(priv_le.size()), nullptr), BN_free);
    BnPtr x(BN_new(), BN_free), y(BN_new(), BN_free);
    if (EC_POINT_set_affine_coordinates(group.get(), g.get(), bn(c.x).get(), bn(c.y).get(), ctx.get()) != 1 ||
        EC_POINT_mul(group.get(), q.get(), nullptr, g.get(), d.get(), ctx.get()) != 1 ||
        EC_POINT_get_affine_coordinates(group.get(), q.get(), x.get(), y.get(), ctx.get()) != 1)
        return {};
    int n = static_cast<int>(priv_le.size());
    Bytes out(2 * n);
    BN_bn2lebinpad(x.get(), out.data(), n);
    BN_bn2lebinpad(y.get(), out.data() + n, n);
    return out;
}

Bytes reference_public(const GostParamSet &set, GostKeySize size, const Bytes &priv_le)
{
    if (size == GostKeySize::bits512) {
        const GOSTR3410_2012_512_PARAMS *c = nullptr;
        GOSTR3410_2012_512_FindCurveByDerOid(set.der, static_cast<uint32_t>(set.der_len), &c);
        return c != nullptr ? reference_public(*c, GOSTR3410_2012_512_DIGITS, priv_le) : Bytes{};
    }
    const GOSTR3410_2012_256_PARAMS *c = nullptr;
    GOSTR3410_2012_256_FindCurveByDerOid(set.der, static_cast<uint32_t>(set.der_len), &c);
    return c != nullptr ? reference_public(*c, GOSTR3410_2012_256_DIGITS, priv_le) : Bytes{};
}

}  // namespace

// ---- import ----------------------------------------------------------------

TEST(Pkcs8Import, PublishedKeyPairsInBothValueForms)
{
    // RFC 5832 / RFC 7091 section 7 (256-bit test curve) and RFC 9215
    // appendix D.3 (512-bit test curve): d, then the x and y of d*P.
    const std::string d256 = "7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28";
    const std::string x256 = "7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B";
    const std::string y256 = "26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA";
    const std::string d512 = "0BA6048AADAE241BA40936D47756D7C93091A0E8514669700EE7508E508B1020"
                             "72E8123B2200A0563322DAD2827E2714A2636B7BFD18AADFC62967821FA18DD4";
    const std::string x512 = "115DC5BC96760C7B48598D8AB9E740D4C4A85A65BE33C1815B5C320C854621DD"
                             "5A515856D13314AF69BC5B924C8B4DDFF75C45415C1D9DD9DD33612CD530EFE1";
    const std::string y512 = "37C7C90CD40B0F5621DC3AC1B751CFA0E2634FA0503B3D52639F5D7FB72AFD61"
                             "EA199441D943FFE7F0C70A2759A3CDB84C114E1F9339FDF27F35ECA93677BEEC";
    struct Case {
        GostObj alg, set;
        const std::string &d, &x, &y;
    } cases[] = {
        {GostObj::gost2001, GostObj::gost2001_test_paramset, d256, x256, y256},
        {GostObj::gost3410_2012_256, GostObj::gost2001_test_paramset, d256, x256, y256},
        {GostObj::gost3410_2012_512, GostObj::gost3410_2012_512_paramset_test, d512, x512, y512},
    };
    for (const Case &c : cases) {
        std::size_t n = gost_key_alg(nid(c.alg))->priv_key_len;
        Bytes priv = le_number(c.d, n);
        Bytes pub = concat(le_number(c.x, n), le_number(c.y, n));
        for (bool integer : {false, true}) {
            SCOPED_TRACE(std::string(gost_obj_sn(c.alg)) + (integer ? " INTEGER" : " OCTET STRING"));
            Bytes element = integer ? integer_element(priv) : octet_string_element(priv);
            Decoded got = decode(gost_pkcs8_der(nid(c.alg), nid(c.set), element));
            ASSERT_TRUE(got.key) << got.err;
            EXPECT_EQ(got.err, "");
            EXPECT_EQ(EVP_PKEY_get_base_id(got.key.get()), nid(c.alg));
            const p11_gost2012_key *r = record(got.key.get());
            EXPECT_EQ(r->alg_nid, nid(c.alg));
            EXPECT_EQ(r->param_nid, nid(c.set));
            EXPECT_EQ(r->priv_key_loaded, 1);
            EXPECT_EQ(private_of(got.key.get()), priv);
            EXPECT_EQ(public_of(got.key.get()), pub);
            EXPECT_EQ(id_of(got.key.get()), expected_id(pub));
        }
    }
}

TEST(Pkcs8Import, EveryAlgorithmAndCurveAgreesWithAnIndependentCurveImplementation)
{
    std::mt19937 rng(341012);
    for (GostObj a : kKeyAlgs) {
        const GostKeyAlg *alg = gost_key_alg(nid(a));
        for (const GostParamSet &set : gost_paramsets(*alg)) {
            SCOPED_TRACE(std::string(gost_obj_sn(a)) + " " + set.oid);
            for (int round = 0; round < 2; ++round) {
                Bytes priv(alg->priv_key_len);
                for (unsigned char &b : priv)
                    b = static_cast<unsigned char>(rng());
                priv.back() &= 0x3F;
                Bytes want = reference_public(set, alg->size, priv);
                ASSERT_EQ(want.size(), alg->pub_key_len);
                Decoded got = decode(gost_pkcs8_der(nid(a), set.nid(), octet_string_element(priv)));
                ASSERT_TRUE(got.key) << got.err;
                EXPECT_EQ(public_of(got.key.get()), want);
                EXPECT_EQ(id_of(got.key.get()), expected_id(want));
            }
        }
    }
}

TEST(Pkcs8Import, ValueFormsOfOneKeyAgree)
{
    // A value with its top bit set: DER writes it as a 33-byte INTEGER with
    // a leading zero; one with a zero top byte as a 31-byte INTEGER.
    Bytes high = pattern_bytes(32, 5);
    high.back() = 0x9C;
    Bytes low = pattern_bytes(32, 6);
    low.back() = 0x00;
    low[30] = 0x4D;
    int alg = nid(GostObj::gost3410_2012_256), set = nid(GostObj::gost2001_cryptopro_a_paramset);
    ASSERT_EQ(integer_element(high).size(), 2 + 33u);
    ASSERT_EQ(integer_element(low).size(), 2 + 31u);
    struct Case {
        const char *what;
        Bytes element, priv;
    } cases[] = {
        {"33-byte INTEGER with a leading zero", integer_element(high), high},
        {"32-byte OCTET STRING", octet_string_element(high), high},
        {"31-byte INTEGER", integer_element(low), low},
        {"32-byte INTEGER with a leading zero byte", concat(hex("02 20"), Bytes(low.rbegin(), low.rend())), low},
        // Little-endian: a short OCTET STRING lacks its most significant bytes.
        {"31-byte OCTET STRING", concat(hex("04 1F"), Bytes(low.begin(), low.end() - 1)), low},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Decoded got = decode(gost_pkcs8_der(alg, set, c.element));
        ASSERT_TRUE(got.key) << got.err;
        EXPECT_EQ(private_of(got.key.get()), c.priv);
        EXPECT_EQ(public_of(got.key.get()), reference_public(*gost_paramset_find(GostKeySize::bits256, set),
                                                             GostKeySize::bits256, c.priv));
    }
}

TEST(Pkcs8Import, MalformedPrivateValuesAreRefusedWithTheirLine)
{
    const Bytes v32 = pattern_bytes(32, 7), v64 = pattern_bytes(64, 8);
    const GostObj k256 = GostObj::gost3410_2012_256, k512 = GostObj::gost3410_2012_512;
    struct Case {
        const char *what;
        GostObj alg;
        Bytes element;
        std::string line;
    } cases[] = {
        {"BIT STRING", k256, concat(hex("03 20"), v32), "Unrecognized private key value format\n"},
        {"SEQUENCE", GostObj::gost2001, concat(hex("30 20"), v32), "Unrecognized private key value format\n"},
        {"length one past the end", k256, concat(hex("04 21"), v32), "create_private_key: private key value truncated\n"},
        {"length far past the end", k512, concat(hex("04 7F"), v64), "create_private_key: private key value truncated\n"},
        {"tag alone", k256, hex("04"), "create_private_key: private key value truncated\n"},
        {"nothing", k256, {}, "create_private_key: private key value truncated\n"},
        {"long-form length", k256, concat(hex("04 81 20"), v32),
         "create_private_key: private key value length not in short form\n"},
        {"OCTET STRING of 33 bytes", k256, concat(hex("04 21 00"), v32),
         "create_private_key: private key value of 33 bytes, longer than the key (32)\n"},
        {"INTEGER of 33 bytes without a leading zero", GostObj::gost2001, concat(hex("02 21 01"), v32),
         "create_private_key: private key value of 33 bytes, longer than the key (32)\n"},
        {"INTEGER with two leading zeros", k256, concat(hex("02 22 00 00"), v32),
         "create_private_key: private key value of 34 bytes, longer than the key (32)\n"},
        {"OCTET STRING of 65 bytes", k512, concat(hex("04 41 01"), v64),
         "create_private_key: private key value of 65 bytes, longer than the key (64)\n"},
        {"a 512-bit value for a 256-bit key", k256, concat(hex("04 40"), v64),
         "create_private_key: private key value of 64 bytes, longer than the key (32)\n"},
        {"a byte after the value", k256, concat(concat(hex("04 20"), v32), hex("00")),
         "create_private_key: trailing bytes after the private key value (1)\n"},
        {"zero", k256, concat(hex("04 20"), Bytes(32, 0)),
         "create_private_key: GOSTR3410_2012_256_GeneratePublicKey failed, rc = -1\n"},
        {"zero INTEGER", k512, hex("02 01 00"),
         "create_private_key: GOSTR3410_2012_512_GeneratePublicKey failed, rc = -1\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const GostKeyAlg *alg = gost_key_alg(nid(c.alg));
        int set = gost_paramsets(alg->size).begin()[1].nid();
        Decoded got = decode(gost_pkcs8_der(nid(c.alg), set, c.element));
        EXPECT_FALSE(got.key);
        EXPECT_EQ(got.err, c.line + "priv_decode_gost2012: create_private_key failed\n");
    }
}

TEST(Pkcs8Import, KeyParametersThatNameNoUsableCurveAreRefused)
{
    gost_test_engine();
    const Bytes element = octet_string_element(pattern_bytes(32, 9));
    // Through OpenSSL: an algorithm whose parameters are NULL.
    PKCS8_PRIV_KEY_INFO *info = PKCS8_PRIV_KEY_INFO_new();
    unsigned char *value = static_cast<unsigned char *>(OPENSSL_memdup(element.data(), element.size()));
    ASSERT_EQ(PKCS8_pkey_set0(info, OBJ_nid2obj(nid(GostObj::gost2001)), 0, V_ASN1_NULL, nullptr, value,
                              static_cast<int>(element.size())),
              1);
    unsigned char *der = nullptr;
    int der_len = i2d_PKCS8_PRIV_KEY_INFO(info, &der);
    PKCS8_PRIV_KEY_INFO_free(info);
    Decoded got = decode(Bytes(der, der + der_len));
    OPENSSL_free(der);
    EXPECT_FALSE(got.key);
    EXPECT_EQ(got.err, "p11: decode_gost2001_algor_params err 1\n");

    // Directly: an algorithm identifier without parameters, and a 512-bit
    // key given a 256-bit curve (its record is left as it was).
    PkeyPtr k256 = make_gost_key(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_cryptopro_a_paramset), {});
    X509_ALGOR *bare = X509_ALGOR_new();
    X509_ALGOR_set0(bare, OBJ_nid2obj(nid(GostObj::gost3410_2012_256)), V_ASN1_NULL, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(create_private_key(bare, element.data(), static_cast<int>(element.size()), k256.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "create_private_key: Invalid key parameters format\n");
    X509_ALGOR_free(bare);

    PkeyPtr k512 = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_a), {});
    Bytes der256 = gost_pkcs8_der(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_cryptopro_a_paramset),
                                  octet_string_element(pattern_bytes(64, 9)));
    const unsigned char *p = der256.data();
    info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der256.size()));
    ASSERT_NE(info, nullptr);
    const X509_ALGOR *palg = nullptr;
    const unsigned char *priv = nullptr;
    int priv_len = 0;
    ASSERT_EQ(PKCS8_pkey_get0(nullptr, &priv, &priv_len, &palg, info), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(create_private_key(palg, priv, priv_len, k512.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "create_private_key: GOSTR3410_2012_512_FindParByDerOid failed, rc = -1\n");
    EXPECT_EQ(record(k512.get())->priv_key_loaded, 0);
    EXPECT_EQ(record(k512.get())->param_nid, nid(GostObj::gost3410_2012_512_paramset_a));
    PKCS8_PRIV_KEY_INFO_free(info);
}

// ---- export and round trips -------------------------------------------------

TEST(Pkcs8Export, EveryAlgorithmAndCurveRoundTripsByteForByte)
{
    gost_test_engine();
    for (GostObj a : kKeyAlgs) {
        const GostKeyAlg *alg = gost_key_alg(nid(a));
        for (const GostParamSet &set : gost_paramsets(*alg)) {
            SCOPED_TRACE(std::string(gost_obj_sn(a)) + " " + set.oid);
            Bytes priv = random_private_value(nid(a));
            PkeyPtr key = gost_key_pair(nid(a), set.nid(), priv);
            ASSERT_TRUE(key);
            // Version 0, the algorithm with its parameter SEQUENCE, and the
            // value as a little-endian OCTET STRING.
            Bytes der = pkcs8_of(key.get());
            EXPECT_EQ(der, gost_pkcs8_der(nid(a), set.nid(), octet_string_element(priv)));
            Decoded back = decode(der);
            ASSERT_TRUE(back.key) << back.err;
            EXPECT_EQ(private_of(back.key.get()), priv);
            EXPECT_EQ(public_of(back.key.get()), public_of(key.get()));
            EXPECT_EQ(id_of(back.key.get()), id_of(key.get()));
            EXPECT_EQ(record(back.key.get())->param_nid, set.nid());
            EXPECT_EQ(pkcs8_of(back.key.get()), der);
        }
    }
}

TEST(Pkcs8Export, DecodedKeyAndItsCertificateShareTheCkaId)
{
    gost_test_engine();
    const GostObj sets[] = {GostObj::gost2001_cryptopro_xchb_paramset, GostObj::gost2001_cryptopro_b_paramset,
                            GostObj::gost3410_2012_512_paramset_b};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(gost_obj_sn(kKeyAlgs[i]));
        PkeyPtr key = generate_gost_key_pair(nid(kKeyAlgs[i]), nid(sets[i]));
        ASSERT_TRUE(key);
        X509Ptr cert = parse_certificate(certificate_der(key.get()));
        ASSERT_TRUE(cert);
        PkeyPtr cert_key(X509_get_pubkey(cert.get()));
        ASSERT_TRUE(cert_key);
        EXPECT_EQ(id_of(cert_key.get()), id_of(key.get()));
        const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(cert.get());
        EXPECT_EQ(sha1(bytes_of(ASN1_STRING_get0_data(bits), ASN1_STRING_length(bits))), id_of(key.get()));
        EXPECT_EQ(X509_check_private_key(cert.get(), key.get()), 1);
        PkeyPtr other = generate_gost_key_pair(nid(kKeyAlgs[i]), nid(sets[i]));
        EXPECT_EQ(X509_check_private_key(cert.get(), other.get()), 0);
        ERR_clear_error();
    }
}

// ---- the private value of a token key -------------------------------------------

namespace {

class TokenPrivateValue : public testing::Test {
protected:
    void SetUp() override
    {
        ctx_ = gost_test_ctx();
        ctx_->function_list = fake_token_functions(&token_);
        ctx_->slot_id = 1;
    }
    void TearDown() override { ctx_->function_list = nullptr; }

    // A key that exists only on the token: a public value and its CKA_ID.
    PkeyPtr token_key(GostObj alg, GostObj set)
    {
        return make_gost_key(nid(alg), nid(set), pattern_bytes(gost_key_alg(nid(alg))->pub_key_len, 11));
    }
    FakeObject private_object(const EVP_PKEY *key, Bytes value)
    {
        FakeObject o;
        o.cls = CKO_PRIVATE_KEY;
        o.id = id_of(key);
        o.value = std::move(value);
        return o;
    }
    // PKCS#8 of key with what it wrote to stderr.
    Bytes encode(const EVP_PKEY *key, std::string *err)
    {
        testing::internal::CaptureStderr();
        Bytes der = pkcs8_of(key);
        *err = testing::internal::GetCapturedStderr();
        return der;
    }

    P11_ENGINE_CTX *ctx_ = nullptr;
    FakeToken token_;
};

}  // namespace

TEST_F(TokenPrivateValue, AnExtractableValueIsWrittenAsIs)
{
    for (GostObj a : kKeyAlgs) {
        SCOPED_TRACE(gost_obj_sn(a));
        GostObj set = a == GostObj::gost3410_2012_512 ? GostObj::gost3410_2012_512_paramset_b
                                                      : GostObj::gost2001_cryptopro_a_paramset;
        PkeyPtr key = token_key(a, set);
        Bytes value = pattern_bytes(gost_key_alg(nid(a))->priv_key_len, 12);
        FakeObject pub = private_object(key.get(), pattern_bytes(64, 1));
        pub.cls = CKO_PUBLIC_KEY;  // found first if the class were not asked for
        token_.objects = {pub, private_object(key.get(), value)};
        std::string err;
        Bytes der = encode(key.get(), &err);
        EXPECT_EQ(err, "");
        EXPECT_EQ(der, gost_pkcs8_der(nid(a), nid(set), octet_string_element(value)));
        EXPECT_EQ(token_.open_sessions, 0);
    }
}

TEST_F(TokenPrivateValue, RefusalsAndFailuresEndTheEncodingWithTheirLine)
{
    const std::string tail = "priv_encode_gost2001: get_priv_key_value failed\n";
    struct Case {
        const char *what;
        GostObj alg;
        const char *fail_call;
        CK_RV fail_rv;
        std::size_t value_len;    // 0: no private key object with the ID
        CK_ULONG claimed_len;
        std::string line;
    } cases[] = {
        {"no session", GostObj::gost2001, "C_OpenSession", CKR_DEVICE_ERROR, 32, 0,
         "get_priv_key_value: C_OpenSession failed, rc = 0x30\n"},
        {"search refused", GostObj::gost2001, "C_FindObjectsInit", CKR_DEVICE_ERROR, 32, 0,
         "get_priv_key_value: C_FindObjectsInit failed, rc = 0x30\n"},
        {"search failed", GostObj::gost3410_2012_256, "C_FindObjects", CKR_DEVICE_ERROR, 32, 0,
         "get_priv_key_value: C_FindObjects failed, rc = 0x30\n"},
        {"search not finished", GostObj::gost3410_2012_512, "C_FindObjectsFinal", CKR_DEVICE_ERROR, 64, 0,
         "get_priv_key_value: C_FindObjectsFinal failed, rc = 0x30\n"},
        {"not found", GostObj::gost3410_2012_256, "", CKR_OK, 0, 0,
         "get_priv_key_value: token private key not found\n"},
        {"sensitive", GostObj::gost3410_2012_256, "C_GetAttributeValue", CKR_ATTRIBUTE_SENSITIVE, 32, 0,
         "get_priv_key_value: token private key not extractable\n"},
        {"read failed", GostObj::gost3410_2012_512, "C_GetAttributeValue", CKR_DEVICE_ERROR, 64, 0,
         "get_priv_key_value: C_GetAttributeValue failed, rc = 0x30\n"},
        {"value one byte too long", GostObj::gost2001, "", CKR_OK, 33, 0,
         "get_priv_key_value: token private key of 33 bytes, expected 32\n"},
        {"256-bit value of a 512-bit key", GostObj::gost3410_2012_512, "", CKR_OK, 32, 0,
         "get_priv_key_value: token private key of 32 bytes, expected 64\n"},
        {"absurd length announced", GostObj::gost3410_2012_256, "", CKR_OK, 32, 1ul << 40,
         "get_priv_key_value: token private key of 1099511627776 bytes, expected 32\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        GostObj set = c.alg == GostObj::gost3410_2012_512 ? GostObj::gost3410_2012_512_paramset_a
                                                          : GostObj::gost2001_cryptopro_b_paramset;
        PkeyPtr key = token_key(c.alg, set);
        token_.objects.clear();
        if (c.value_len != 0) {
            token_.objects.push_back(private_object(key.get(), pattern_bytes(c.value_len, 13)));
            token_.objects.back().claimed_value_len = c.claimed_len;
        }
        token_.fail_call = c.fail_call;
        token_.fail_rv = c.fail_rv;
        std::string err;
        EXPECT_TRUE(encode(key.get(), &err).empty());
        EXPECT_EQ(err, c.line + tail);
        EXPECT_EQ(token_.open_sessions, 0);
    }
}

TEST_F(TokenPrivateValue, HeldValueNeedsNoTokenAndOutputsMustBeGiven)
{
    PkeyPtr key = generate_gost_key_pair(nid(GostObj::gost2001), nid(GostObj::gost2001_cryptopro_xcha_paramset));
    ASSERT_TRUE(key);
    token_.fail_call = "C_OpenSession";
    unsigned char out[kGostPrivKeyMax];
    unsigned int len = 0;
    EXPECT_EQ(get_priv_key_value(key.get(), out, &len), 1);
    EXPECT_EQ(bytes_of(out, len), private_of(key.get()));
    EXPECT_EQ(token_.sessions_opened, 0);

    testing::internal::CaptureStderr();
    EXPECT_EQ(get_priv_key_value(key.get(), nullptr, &len), 0);
    EXPECT_EQ(get_priv_key_value(key.get(), out, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "get_priv_key_value: NULL output pointer\nget_priv_key_value: NULL output pointer\n");

    PkeyPtr bare(EVP_PKEY_new());
    ASSERT_EQ(EVP_PKEY_set_type(bare.get(), nid(GostObj::gost3410_2012_256)), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_priv_key_value(bare.get(), out, &len), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "get_priv_key_value: NULL p11_gost2012_key\n");

    PkeyPtr foreign(EVP_EC_gen("P-256"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_priv_key_value(foreign.get(), out, &len), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "get_priv_key_value: ENGINE_get_ex_data failed\n");
}
