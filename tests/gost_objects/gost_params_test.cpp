// Parameter-set tables, key algorithm properties, fill_GOST2012_params and
// the key-parameter structure.
#include <gtest/gtest.h>

#include <openssl/objects.h>

#include <cstring>
#include <string>
#include <vector>

#include "gost_key.h"
#include "gost_key_params.h"
#include "gost_params.h"
#include "hex_bytes.h"
#include "oid_der.h"

namespace {

int nid(GostObj o) { return gost_nid(o); }

// Runs fill_GOST2012_params and returns what it printed.
std::string fill(p11_gost2012_key *key, int alg, int param, int *rc)
{
    testing::internal::CaptureStderr();
    *rc = fill_GOST2012_params(key, alg, param);
    return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(GostParamSets, TablesHoldTheCurvesOfEachKeySize)
{
    std::vector<int> n256, n512;
    for (const GostParamSet &p : gost_paramsets(GostKeySize::bits256)) n256.push_back(p.nid());
    for (const GostParamSet &p : gost_paramsets(GostKeySize::bits512)) n512.push_back(p.nid());
    EXPECT_EQ(n256, (std::vector<int>{NID_id_GostR3410_2001_TestParamSet, NID_id_GostR3410_2001_CryptoPro_A_ParamSet,
                                      NID_id_GostR3410_2001_CryptoPro_B_ParamSet, NID_id_GostR3410_2001_CryptoPro_C_ParamSet,
                                      NID_id_GostR3410_2001_CryptoPro_XchA_ParamSet,
                                      NID_id_GostR3410_2001_CryptoPro_XchB_ParamSet, NID_id_tc26_gost_3410_2012_256_paramSetA}));
    EXPECT_EQ(n512, (std::vector<int>{nid(GostObj::gost3410_2012_512_paramset_test),
                                      nid(GostObj::gost3410_2012_512_paramset_a),
                                      nid(GostObj::gost3410_2012_512_paramset_b), NID_id_tc26_gost_3410_2012_512_paramSetC}));
}

TEST(GostParamSets, ReferenceColumnsAgreeWithTheObjectTable)
{
    for (GostKeySize size : {GostKeySize::bits256, GostKeySize::bits512})
        for (const GostParamSet &p : gost_paramsets(size)) {
            SCOPED_TRACE(p.oid);
            EXPECT_STREQ(p.oid, gost_obj_oid(p.obj));
            EXPECT_EQ(std::vector<unsigned char>(p.der, p.der + p.der_len), oid_der(p.nid()));
            EXPECT_EQ(gost_paramset_find(size, p.nid()), &p);
        }
}

TEST(GostParamSets, LookupByNidKeepsTheSizesApart)
{
    EXPECT_TRUE(gost_paramset_in_table(GostKeySize::bits256, nid(GostObj::gost2001_cryptopro_xchb_paramset)));
    EXPECT_FALSE(gost_paramset_in_table(GostKeySize::bits256, nid(GostObj::gost3410_2012_512_paramset_a)));
    EXPECT_FALSE(gost_paramset_in_table(GostKeySize::bits512, nid(GostObj::gost2001_cryptopro_a_paramset)));
    EXPECT_FALSE(gost_paramset_in_table(GostKeySize::bits256, NID_undef));
    EXPECT_FALSE(gost_paramset_in_table(GostKeySize::bits512, NID_undef));
}

TEST(GostParamSets, LettersMatchIgnoringCase)
{
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits256, "xb"), nid(GostObj::gost2001_cryptopro_xchb_paramset));
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits256, "XA"), nid(GostObj::gost2001_cryptopro_xcha_paramset));
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits256, "0"), nid(GostObj::gost2001_test_paramset));
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits256, "a"), nid(GostObj::gost2001_cryptopro_a_paramset));
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits256, "D"), NID_undef);
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits256, "X"), NID_undef);
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits256, "XAB"), NID_undef);
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits512, "0"), NID_undef);
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits512, "b"), nid(GostObj::gost3410_2012_512_paramset_b));
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits512, ""), NID_undef);
    EXPECT_EQ(gost_paramset_by_letter(GostKeySize::bits512, nullptr), NID_undef);
}

TEST(GostKeyAlgs, PropertiesFollowFromTheAlgorithm)
{
    const GostKeyAlg *a2001 = gost_key_alg(nid(GostObj::gost2001));
    const GostKeyAlg *a256 = gost_key_alg(nid(GostObj::gost3410_2012_256));
    const GostKeyAlg *a512 = gost_key_alg(nid(GostObj::gost3410_2012_512));
    ASSERT_TRUE(a2001 && a256 && a512);
    EXPECT_EQ(a2001->hash_params, GostObj::gost94_cryptopro_paramset);
    EXPECT_EQ(a2001->default_digest, GostObj::md_gost94);
    EXPECT_EQ(a256->hash_params, GostObj::gost3411_2012_256);
    EXPECT_EQ(a512->hash_params, GostObj::gost3411_2012_512);
    EXPECT_EQ(a2001->pub_key_len, 64u);
    EXPECT_EQ(a256->priv_key_len, 32u);
    EXPECT_EQ(a512->pub_key_len, 128u);
    EXPECT_EQ(a512->priv_key_len, 64u);
    EXPECT_EQ(a512->sig_len, 128u);
    EXPECT_EQ(a256->key_type, 0x30u);
    EXPECT_EQ(a256->keygen_mechanism, 0x1200u);
    EXPECT_EQ(a2001->sign_mechanism, 0x1201u);
    EXPECT_EQ(a512->key_type, 0xD4321003u);
    EXPECT_EQ(a512->keygen_mechanism, 0xD4321005u);
    EXPECT_EQ(a512->sign_mechanism, 0xD4321006u);
    EXPECT_EQ(gost_key_alg(nid(GostObj::gost_mac)), nullptr);
    EXPECT_EQ(gost_key_alg(NID_undef), nullptr);
}

TEST(FillGost2012Params, EveryCurveOfEachAlgorithmFillsTheRecord)
{
    struct { GostObj alg; GostKeySize size; unsigned pub, priv; } algs[] = {
        {GostObj::gost2001, GostKeySize::bits256, 64, 32},
        {GostObj::gost3410_2012_256, GostKeySize::bits256, 64, 32},
        {GostObj::gost3410_2012_512, GostKeySize::bits512, 128, 64},
    };
    for (const auto &a : algs)
        for (const GostParamSet &p : gost_paramsets(*gost_key_alg(nid(a.alg)))) {
            p11_gost2012_key key{};
            int rc = 0;
            EXPECT_EQ(fill(&key, nid(a.alg), p.nid(), &rc), "");
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(key.alg_nid, nid(a.alg));
            EXPECT_EQ(key.param_nid, p.nid());
            EXPECT_EQ(key.pub_key_len, a.pub);
            EXPECT_EQ(key.priv_key_len, a.priv);
        }
}

TEST(FillGost2012Params, RefusalsPrintOneLineAndLeaveTheRecordAlone)
{
    p11_gost2012_key key{};
    key.alg_nid = 7;
    key.param_nid = 8;
    key.pub_key_len = 9;
    const p11_gost2012_key before = key;
    int rc = -1;
    const std::string bad_set = "fill_GOST2012_params: unsupported parameter set\n";
    EXPECT_EQ(fill(&key, nid(GostObj::gost2001), nid(GostObj::gost3410_2012_512_paramset_a), &rc), bad_set);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(fill(&key, nid(GostObj::gost3410_2012_256), nid(GostObj::gost3410_2012_512_paramset_a), &rc), bad_set);
    EXPECT_EQ(fill(&key, nid(GostObj::gost3410_2012_512), nid(GostObj::gost2001_cryptopro_a_paramset), &rc), bad_set);
    EXPECT_EQ(fill(&key, nid(GostObj::gost3410_2012_512), NID_undef, &rc), bad_set);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(fill(&key, nid(GostObj::gost_mac), nid(GostObj::gost2001_cryptopro_a_paramset), &rc),
              "fill_GOST2012_params: unsupported alg NID\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(std::memcmp(&key, &before, sizeof key), 0);
}

TEST(GostKeyRecord, NewRecordIsZeroAndFreeTakesNull)
{
    p11_gost2012_key *key = p11_gost2012_key_new();
    ASSERT_NE(key, nullptr);
    p11_gost2012_key zero{};
    EXPECT_EQ(std::memcmp(key, &zero, sizeof zero), 0);
    EXPECT_TRUE(gost_key_id_is_zero(*key));
    EXPECT_TRUE(gost_pub_key_is_zero(*key));
    key->pub_key_len = 64;
    key->pub_key[63] = 1;
    EXPECT_FALSE(gost_pub_key_is_zero(*key));
    key->pub_key_len = 63;
    EXPECT_TRUE(gost_pub_key_is_zero(*key));
    p11_gost2012_key_free(key);
    p11_gost2012_key_free(nullptr);
}

namespace {
std::vector<unsigned char> encode(ZKC_GOST2012_KEY_PARAMS *p)
{
    unsigned char *der = nullptr;
    int len = i2d_ZKC_GOST2012_KEY_PARAMS(p, &der);
    std::vector<unsigned char> out;
    if (len > 0)
        out.assign(der, der + len);
    OPENSSL_free(der);
    return out;
}
ZKC_GOST2012_KEY_PARAMS *decode(const std::vector<unsigned char> &der)
{
    const unsigned char *p = der.data();
    return d2i_ZKC_GOST2012_KEY_PARAMS(nullptr, &p, static_cast<long>(der.size()));
}
}  // namespace

TEST(GostKeyParamsAsn1, EncodesKeyAndDigestSetsAsADerSequence)
{
    ZKC_GOST2012_KEY_PARAMS *p = ZKC_GOST2012_KEY_PARAMS_new();
    ASSERT_NE(p, nullptr);
    p->key_params = OBJ_nid2obj(nid(GostObj::gost3410_2012_512_paramset_a));
    p->hash_params = OBJ_nid2obj(nid(GostObj::gost3411_2012_512));
    EXPECT_EQ(encode(p), hex_bytes("30 15 06 09 2A 85 03 07 01 02 01 02 01 06 08 2A 85 03 07 01 01 02 03"));
    ZKC_GOST2012_KEY_PARAMS_free(p);
}

TEST(GostKeyParamsAsn1, DigestSetMayBeAbsentAndCipherSetIsRead)
{
    // As the current X.509 profile writes 512-bit keys: the curve alone.
    ZKC_GOST2012_KEY_PARAMS *p = decode(hex_bytes("30 0B 06 09 2A 85 03 07 01 02 01 02 02"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(OBJ_obj2nid(p->key_params), nid(GostObj::gost3410_2012_512_paramset_b));
    EXPECT_EQ(p->hash_params, nullptr);
    ZKC_GOST2012_KEY_PARAMS_free(p);

    p = decode(hex_bytes("30 1B 06 07 2A 85 03 02 02 23 01 06 07 2A 85 03 02 02 1E 01 06 07 2A 85 03 02 02 1F 01"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(OBJ_obj2nid(p->key_params), NID_id_GostR3410_2001_CryptoPro_A_ParamSet);
    EXPECT_EQ(OBJ_obj2nid(p->hash_params), NID_id_GostR3411_94_CryptoProParamSet);
    EXPECT_EQ(OBJ_obj2nid(p->cipher_params), NID_id_Gost28147_89_CryptoPro_A_ParamSet);
    ZKC_GOST2012_KEY_PARAMS_free(p);
}

TEST(GostKeyParamsAsn1, MalformedParametersAreRefused)
{
    for (const char *bad : {"", "30 00", "05 00", "30 03 02 01 01", "30 0B 06 09 2A 85 03 07 01 02 01 02",
                            "06 07 2A 85 03 02 02 23 01"}) {
        SCOPED_TRACE(bad);
        ZKC_GOST2012_KEY_PARAMS *p = decode(hex_bytes(bad));
        EXPECT_EQ(p, nullptr);
        ZKC_GOST2012_KEY_PARAMS_free(p);
    }
}
