// Public and private values read by CKA_ID from our software token: key
// pairs generated on the token on every curve, read back, put into
// certificates and written to PKCS#8; keys imported from PKCS#8 stored on
// the token and read back.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>


#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

#include "gost_objects.h"
#include "gost_params.h"
#include "gost_test_engine.h"
#include "module_token.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"

namespace {

class SoftTokenPublicKey : public testing::Test {
protected:
    void SetUp() override
    {
        token_ = make_module_token(ModuleKind::softtoken);
        ASSERT_TRUE(token_->ok()) << token_->error();
        f_ = token_->functions();
        s_ = token_->open_session(true);
        ASSERT_NE(s_, 0u);
        P11_ENGINE_CTX *ctx = gost_test_ctx();
        ctx->function_list = f_;
        ctx->slot_id = token_->slot();
        ctx->session_flags = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    }
    void TearDown() override
    {
        gost_test_ctx()->function_list = nullptr;
        token_.reset();
    }

    // A key pair generated on the token for alg on the curve; both objects
    // get the CKA_ID derived from the public value, which is returned. The
    // private key's CKA_SENSITIVE and CKA_EXTRACTABLE are set when given
    // (else the token's defaults: sensitive, not extractable).
    std::vector<unsigned char> generate(const GostKeyAlg &alg, const GostParamSet &set, int sensitive = -1,
                                        int extractable = -1)
    {
        CK_MECHANISM mech{alg.keygen_mechanism, nullptr, 0};
        std::vector<unsigned char> curve(set.der, set.der + set.der_len);
        std::vector<unsigned char> hash = oid_der(gost_nid(alg.hash_params));
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE pub_tmpl[] = {
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_VERIFY, &yes, sizeof yes},
            {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
            {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()},
        };
        CK_BBOOL sens = sensitive == 1 ? CK_TRUE : CK_FALSE, extr = extractable == 1 ? CK_TRUE : CK_FALSE;
        std::vector<CK_ATTRIBUTE> priv_tmpl = {
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_PRIVATE, &yes, sizeof yes},
            {CKA_SIGN, &yes, sizeof yes},
        };
        if (sensitive >= 0)
            priv_tmpl.push_back({CKA_SENSITIVE, &sens, sizeof sens});
        if (extractable >= 0)
            priv_tmpl.push_back({CKA_EXTRACTABLE, &extr, sizeof extr});
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        CK_RV rv = f_->C_GenerateKeyPair(s_, &mech, pub_tmpl, 4, priv_tmpl.data(), priv_tmpl.size(), &pub, &priv);
        EXPECT_EQ(rv, CKR_OK);
        if (rv != CKR_OK)
            return {};
        std::vector<unsigned char> value(alg.pub_key_len);
        CK_ATTRIBUTE get{CKA_VALUE, value.data(), value.size()};
        EXPECT_EQ(f_->C_GetAttributeValue(s_, pub, &get, 1), CKR_OK);
        EXPECT_EQ(get.ulValueLen, alg.pub_key_len);
        unsigned char id[20];
        pkcs11_id_gen(value.data(), alg.pub_key_len, id);
        CK_ATTRIBUTE set_id{CKA_ID, id, sizeof id};
        EXPECT_EQ(f_->C_SetAttributeValue(s_, pub, &set_id, 1), CKR_OK);
        EXPECT_EQ(f_->C_SetAttributeValue(s_, priv, &set_id, 1), CKR_OK);
        value_ = value;
        return std::vector<unsigned char>(id, id + 20);
    }

    std::unique_ptr<ModuleToken> token_;
    CK_FUNCTION_LIST *f_ = nullptr;
    CK_SESSION_HANDLE s_ = 0;
    std::vector<unsigned char> value_;
};

}  // namespace

TEST_F(SoftTokenPublicKey, KeysGeneratedOnEveryCurveAreReadBackByTheirId)
{
    for (GostObj a : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512}) {
        const GostKeyAlg *alg = gost_key_alg(nid(a));
        ASSERT_NE(alg, nullptr);
        for (const GostParamSet &set : gost_paramsets(*alg)) {
            SCOPED_TRACE(std::string(gost_obj_sn(a)) + " " + set.oid);
            std::vector<unsigned char> id = generate(*alg, set);
            ASSERT_EQ(id.size(), 20u);
            p11_gost2012_key r{};
            r.alg_nid = nid(a);
            std::memcpy(r.key_id, id.data(), 20);
            testing::internal::CaptureStderr();
            int rc = get_pub_key_value(gost_test_engine(), &r);
            std::string err = testing::internal::GetCapturedStderr();
            ASSERT_EQ(rc, 1) << err;
            EXPECT_EQ(r.param_nid, set.nid());
            EXPECT_EQ(r.pub_key_len, alg->pub_key_len);
            EXPECT_EQ(std::vector<unsigned char>(r.pub_key, r.pub_key + r.pub_key_len), value_);
        }
    }
}

TEST_F(SoftTokenPublicKey, CertificateForATokenKeyCarriesItsValueAndId)
{
    const GostKeyAlg *alg = gost_key_alg(nid(GostObj::gost3410_2012_512));
    const GostParamSet *set = gost_paramset_find(GostKeySize::bits512, nid(GostObj::gost3410_2012_512_paramset_a));
    std::vector<unsigned char> id = generate(*alg, *set);
    ASSERT_EQ(id.size(), 20u);

    // What the store makes for a token key: algorithm, curve and CKA_ID only.
    PkeyPtr key = make_gost_key(nid(GostObj::gost3410_2012_512), set->nid(), {});
    std::memcpy(record(key.get())->key_id, id.data(), 20);
    X509 *x = X509_new();
    ASSERT_EQ(X509_set_pubkey(x, key.get()), 1);
    const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(x);
    std::vector<unsigned char> contents(ASN1_STRING_get0_data(bits), ASN1_STRING_get0_data(bits) + ASN1_STRING_length(bits));
    EXPECT_EQ(sha1(contents), id);
    EXPECT_EQ(std::vector<unsigned char>(contents.end() - 128, contents.end()), value_);
    X509_free(x);
}

TEST_F(SoftTokenPublicKey, UnknownIdIsNotFound)
{
    p11_gost2012_key r{};
    r.alg_nid = nid(GostObj::gost3410_2012_256);
    std::memset(r.key_id, 0x42, 20);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_pub_key_value(gost_test_engine(), &r), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Token public key not found\n");
}

TEST_F(SoftTokenPublicKey, KeyOnAnotherKeySizesCurveIsRefused)
{
    const GostKeyAlg *alg = gost_key_alg(nid(GostObj::gost3410_2012_256));
    const GostParamSet *set = gost_paramset_find(GostKeySize::bits256, nid(GostObj::gost2001_cryptopro_b_paramset));
    std::vector<unsigned char> id = generate(*alg, *set);
    ASSERT_EQ(id.size(), 20u);
    // A record that expects a 512-bit key finds a 256-bit curve on the token.
    p11_gost2012_key r{};
    r.alg_nid = nid(GostObj::gost3410_2012_512);
    std::memcpy(r.key_id, id.data(), 20);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_pub_key_value(gost_test_engine(), &r), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid GOST 3410 param set OID\n");
    EXPECT_EQ(r.param_nid, NID_undef);
}

namespace {

// PKCS#8 of key with what it wrote to stderr.
std::vector<unsigned char> encoded(const EVP_PKEY *key, std::string *err)
{
    testing::internal::CaptureStderr();
    std::vector<unsigned char> der = pkcs8_of(key);
    *err = testing::internal::GetCapturedStderr();
    return der;
}

// What the store knows of a token key: algorithm, curve, public value, CKA_ID.
PkeyPtr token_key(const GostKeyAlg &alg, const GostParamSet &set, const std::vector<unsigned char> &pub)
{
    return make_gost_key(nid(alg.alg), set.nid(), pub);
}

}  // namespace

TEST_F(SoftTokenPublicKey, ExtractableKeysOnEveryCurveExportTheValueTheirPublicKeyComesFrom)
{
    for (GostObj a : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512}) {
        const GostKeyAlg *alg = gost_key_alg(nid(a));
        for (const GostParamSet &set : gost_paramsets(*alg)) {
            SCOPED_TRACE(std::string(gost_obj_sn(a)) + " " + set.oid);
            std::vector<unsigned char> id = generate(*alg, set, 0, 1);
            ASSERT_EQ(id.size(), 20u);
            PkeyPtr key = token_key(*alg, set, value_);
            std::string err;
            std::vector<unsigned char> der = encoded(key.get(), &err);
            ASSERT_FALSE(der.empty()) << err;
            EXPECT_EQ(err, "");
            // Decoded again, the value gives the token's public value and ID.
            PkeyPtr back = key_from_pkcs8(der);
            ASSERT_TRUE(back);
            EXPECT_EQ(std::vector<unsigned char>(record(back.get())->pub_key, record(back.get())->pub_key + alg->pub_key_len),
                      value_);
            EXPECT_EQ(std::vector<unsigned char>(record(back.get())->key_id, record(back.get())->key_id + 20), id);
        }
    }
}

TEST_F(SoftTokenPublicKey, SensitiveOrNonExtractableKeysAreNotExported)
{
    const GostKeyAlg *alg = gost_key_alg(nid(GostObj::gost3410_2012_256));
    const GostParamSet *set = gost_paramset_find(GostKeySize::bits256, nid(GostObj::gost2001_cryptopro_c_paramset));
    struct Case {
        const char *what;
        int sensitive, extractable;
    } cases[] = {{"sensitive", 1, 1}, {"not extractable", 0, 0}, {"the token's defaults", -1, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(generate(*alg, *set, c.sensitive, c.extractable).size(), 20u);
        PkeyPtr key = token_key(*alg, *set, value_);
        std::string err;
        EXPECT_TRUE(encoded(key.get(), &err).empty());
        EXPECT_EQ(err, "get_priv_key_value: token private key not extractable\n"
                       "priv_encode_gost2001: get_priv_key_value failed\n");
    }
}

TEST_F(SoftTokenPublicKey, ImportedKeyStoredOnTheTokenIsReadBackOnlyWhileLoggedIn)
{
    // The RFC 5832 key pair, as PKCS#8 import makes it.
    std::vector<unsigned char> priv_be = hex("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28");
    std::vector<unsigned char> priv(priv_be.rbegin(), priv_be.rend());
    const int alg = nid(GostObj::gost2001), set = nid(GostObj::gost2001_test_paramset);
    gost_test_engine();
    PkeyPtr imported = gost_key_pair(alg, set, priv);
    ASSERT_TRUE(imported);
    const p11_gost2012_key *r = record(imported.get());

    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_KEY_TYPE type = CKK_GOSTR3410;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    std::vector<unsigned char> curve = oid_der(set);
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &cls, sizeof cls},
        {CKA_KEY_TYPE, &type, sizeof type},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &yes, sizeof yes},
        {CKA_SENSITIVE, &no, sizeof no},
        {CKA_EXTRACTABLE, &yes, sizeof yes},
        {CKA_ID, const_cast<unsigned char *>(r->key_id), 20},
        {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
        {CKA_VALUE, const_cast<unsigned char *>(r->priv_key), r->priv_key_len},
    };
    CK_OBJECT_HANDLE h = 0;
    ASSERT_EQ(f_->C_CreateObject(s_, tmpl, sizeof tmpl / sizeof tmpl[0], &h), CKR_OK);

    PkeyPtr on_token = make_gost_key(alg, set, std::vector<unsigned char>(r->pub_key, r->pub_key + r->pub_key_len));
    std::string err;
    EXPECT_EQ(encoded(on_token.get(), &err), gost_pkcs8_der(alg, set, octet_string_element(priv)));
    EXPECT_EQ(err, "");

    ASSERT_EQ(f_->C_Logout(s_), CKR_OK);
    EXPECT_TRUE(encoded(on_token.get(), &err).empty());
    EXPECT_EQ(err, "get_priv_key_value: token private key not found\n"
                   "priv_encode_gost2001: get_priv_key_value failed\n");
}
