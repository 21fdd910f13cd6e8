// Public values read from the token by CKA_ID (get_pub_key_value), through a
// PKCS#11 function list that holds public-key objects in the test process.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

#include "fake_token.h"
#include "gost_objects.h"
#include "gost_test_engine.h"
#include "pkcs11_ameth.h"

namespace {

std::vector<unsigned char> id_of(const std::vector<unsigned char> &pub)
{
    unsigned char id[20];
    pkcs11_id_gen(pub.data(), static_cast<unsigned>(pub.size()), id);
    return std::vector<unsigned char>(id, id + 20);
}

class TokenPublicKey : public testing::Test {
protected:
    void SetUp() override
    {
        ctx_ = gost_test_ctx();
        ctx_->function_list = fake_token_functions(&token_);
        ctx_->slot_id = 1;
        pub512_ = pattern_bytes(128, 11);
        FakeObject o;
        o.id = id_of(pub512_);
        o.value = pub512_;
        o.params = hex("06 09 2A 85 03 07 01 02 01 02 02");
        token_.objects.push_back(o);
    }
    void TearDown() override
    {
        EXPECT_EQ(token_.open_sessions, 0);
        ctx_->function_list = nullptr;
    }

    // A record that knows only its algorithm and CKA_ID, as the store makes it.
    p11_gost2012_key token_record(GostObj alg, const std::vector<unsigned char> &id)
    {
        p11_gost2012_key r{};
        r.alg_nid = nid(alg);
        std::memcpy(r.key_id, id.data(), 20);
        return r;
    }

    // get_pub_key_value with its stderr.
    int fetch(p11_gost2012_key *r, std::string *err, ENGINE *e = nullptr)
    {
        testing::internal::CaptureStderr();
        int rc = get_pub_key_value(e != nullptr ? e : gost_test_engine(), r);
        *err = testing::internal::GetCapturedStderr();
        return rc;
    }

    FakeToken token_;
    P11_ENGINE_CTX *ctx_ = nullptr;
    std::vector<unsigned char> pub512_;
};

}  // namespace

TEST_F(TokenPublicKey, FoundKeyGivesValueAndParameterSet)
{
    p11_gost2012_key r = token_record(GostObj::gost3410_2012_512, id_of(pub512_));
    std::string err;
    ASSERT_EQ(fetch(&r, &err), 1) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(std::vector<unsigned char>(r.pub_key, r.pub_key + 128), pub512_);
    EXPECT_EQ(r.pub_key_len, 128u);
    EXPECT_EQ(r.priv_key_len, 64u);
    EXPECT_EQ(r.param_nid, nid(GostObj::gost3410_2012_512_paramset_b));
    EXPECT_EQ(std::vector<unsigned char>(r.key_id, r.key_id + 20), id_of(pub512_));
    EXPECT_EQ(token_.sessions_opened, 1);
}

TEST_F(TokenPublicKey, MissingKeyIsReported)
{
    p11_gost2012_key r = token_record(GostObj::gost3410_2012_512, std::vector<unsigned char>(20, 0x55));
    std::string err;
    EXPECT_EQ(fetch(&r, &err), 0);
    EXPECT_EQ(err, "Token public key not found\n");
    EXPECT_EQ(r.param_nid, NID_undef);

    token_.objects[0].cls = CKO_PRIVATE_KEY;  // only public-key objects count
    r = token_record(GostObj::gost3410_2012_512, id_of(pub512_));
    EXPECT_EQ(fetch(&r, &err), 0);
    EXPECT_EQ(err, "Token public key not found\n");
}

TEST_F(TokenPublicKey, WrongParameterOidIsRefused)
{
    for (const char *params : {"06 03 2A 85 63",                       // an OID we do not know
                               "04 03 2A 85 63",                       // not an OID
                               "",                                      // empty
                               "06 07 2A 85 03 02 02 23 01"}) {         // a 256-bit curve on a 512-bit key
        SCOPED_TRACE(params);
        token_.objects[0].params = hex(params);
        p11_gost2012_key r = token_record(GostObj::gost3410_2012_512, id_of(pub512_));
        std::string err;
        EXPECT_EQ(fetch(&r, &err), 0);
        EXPECT_EQ(err, "Invalid GOST 3410 param set OID\n");
        EXPECT_EQ(r.param_nid, NID_undef);
        EXPECT_EQ(r.pub_key[0], 0);
    }
}

TEST_F(TokenPublicKey, ValueOfTheWrongLengthIsRefused)
{
    token_.objects[0].value.push_back(0);
    p11_gost2012_key r = token_record(GostObj::gost3410_2012_512, id_of(pub512_));
    std::string err;
    EXPECT_EQ(fetch(&r, &err), 0);
    EXPECT_EQ(err, "Token public key of 129 bytes, expected 128\n");

    token_.objects[0].value = pattern_bytes(64, 1);
    EXPECT_EQ(fetch(&r, &err), 0);
    EXPECT_EQ(err, "Token public key of 64 bytes, expected 128\n");
}

TEST_F(TokenPublicKey, HugeReportedLengthsAreRefusedWithoutFetchingThem)
{
    // A module that reports absurd lengths: nothing that size is allocated,
    // the key is refused with its line and the session is closed.
    token_.objects[0].claimed_value_len = static_cast<CK_ULONG>(1) << 40;
    p11_gost2012_key r = token_record(GostObj::gost3410_2012_512, id_of(pub512_));
    std::string err;
    EXPECT_EQ(fetch(&r, &err), 0);
    EXPECT_EQ(err, "Token public key of 1099511627776 bytes, expected 128\n");
    EXPECT_EQ(r.pub_key[0], 0);

    token_.objects[0].claimed_value_len = 0;
    token_.objects[0].claimed_params_len = static_cast<CK_ULONG>(-2);
    EXPECT_EQ(fetch(&r, &err), 0);
    EXPECT_EQ(err, "Invalid GOST 3410 param set OID\n");
    EXPECT_EQ(r.param_nid, NID_undef);
    EXPECT_EQ(token_.open_sessions, 0);
}

TEST_F(TokenPublicKey, ModuleFailuresAreReportedWithTheirCodes)
{
    const std::pair<const char *, const char *> cases[] = {
        {"C_OpenSession", "C_OpenSession failed, rc = 0x30\n"},
        {"C_FindObjectsInit", "C_FindObjectsInit failed, rc = 0x30\n"},
        {"C_FindObjects", "C_FindObjects failed, rc = 0x30\n"},
        {"C_FindObjectsFinal", "C_FindObjectsFinal failed, rc = 0x30\n"},
        {"C_GetAttributeValue", "C_GetAttributeValue failed, rc = 0x30\n"},
    };
    for (const auto &[call, line] : cases) {
        SCOPED_TRACE(call);
        token_.fail_call = call;
        p11_gost2012_key r = token_record(GostObj::gost3410_2012_512, id_of(pub512_));
        std::string err;
        EXPECT_EQ(fetch(&r, &err), 0);
        EXPECT_EQ(err, line);
        EXPECT_EQ(token_.open_sessions, 0);
    }
}

TEST_F(TokenPublicKey, EngineWithoutContextOrModuleIsReported)
{
    p11_gost2012_key r = token_record(GostObj::gost3410_2012_512, id_of(pub512_));
    std::string err;
    ENGINE *bare = ENGINE_new();
    EXPECT_EQ(fetch(&r, &err, bare), 0);
    EXPECT_EQ(err, "ENGINE_get_ex_data failed\n");
    ENGINE_free(bare);

    ctx_->function_list = nullptr;
    EXPECT_EQ(fetch(&r, &err), 0);
    EXPECT_EQ(err, "get_pub_key_value: api not attached\n");
    EXPECT_EQ(get_pub_key_value(gost_test_engine(), nullptr), 0);
}

TEST_F(TokenPublicKey, RecordWithoutAlgorithmTakesLengthsFromTheCurve)
{
    p11_gost2012_key r{};
    std::vector<unsigned char> id = id_of(pub512_);
    std::memcpy(r.key_id, id.data(), 20);
    std::string err;
    ASSERT_EQ(fetch(&r, &err), 1) << err;
    EXPECT_EQ(r.pub_key_len, 128u);
    EXPECT_EQ(r.param_nid, nid(GostObj::gost3410_2012_512_paramset_b));
}

TEST_F(TokenPublicKey, EncodingAKeyKnownOnlyByIdReadsTheTokenFirst)
{
    PkeyPtr k = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_b), {});
    std::vector<unsigned char> id = id_of(pub512_);
    std::memcpy(record(k.get())->key_id, id.data(), 20);
    record(k.get())->param_nid = NID_undef;
    EXPECT_EQ(EVP_PKEY_missing_parameters(k.get()), 1);

    unsigned char *der = nullptr;
    int len = i2d_PUBKEY(k.get(), &der);
    ASSERT_GT(len, 0);
    std::vector<unsigned char> spki(der, der + len);
    OPENSSL_free(der);
    // The encoded key ends with the token's value.
    ASSERT_GT(spki.size(), 128u);
    EXPECT_EQ(std::vector<unsigned char>(spki.end() - 128, spki.end()), pub512_);
    EXPECT_EQ(record(k.get())->param_nid, nid(GostObj::gost3410_2012_512_paramset_b));
}

TEST_F(TokenPublicKey, ComparisonReadsAMissingValueFromTheToken)
{
    PkeyPtr full = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_b), pub512_);
    PkeyPtr by_id = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_b), {});
    std::vector<unsigned char> id = id_of(pub512_);
    std::memcpy(record(by_id.get())->key_id, id.data(), 20);
    EXPECT_EQ(EVP_PKEY_eq(full.get(), by_id.get()), 1);
    EXPECT_EQ(token_.sessions_opened, 1);
}

TEST_F(TokenPublicKey, KeysWhoseValuesTheTokenCannotGiveAreNeverEqual)
{
    const int alg = nid(GostObj::gost3410_2012_512), set = nid(GostObj::gost3410_2012_512_paramset_b);
    PkeyPtr a = make_gost_key(alg, set, {});
    PkeyPtr b = make_gost_key(alg, set, {});
    std::memset(record(a.get())->key_id, 0x11, 20);
    std::memset(record(b.get())->key_id, 0x11, 20);
    testing::internal::CaptureStderr();
    EXPECT_EQ(EVP_PKEY_eq(a.get(), b.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Token public key not found\nToken public key not found\n");
    EXPECT_EQ(token_.open_sessions, 0);
}
