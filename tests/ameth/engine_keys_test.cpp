// GOST keys through the token engine itself, as the tool loads it
// (ENGINE_load_zk_p11_core alone): certificate keys decode into our records,
// print and compare through our methods, and the key-operation methods take
// their parameter sets, controls and MAC keys.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>

#include "gost_objects.h"
#include "gost_params.h"
#include "gost_test_keys.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_pmeth.h"
#include "run_process.h"
#include "softhsm_token.h"
#include "test_certs.h"

namespace {

// The engine as the tool has it after start-up.
ENGINE *token_engine()
{
    static ENGINE *e = [] {
        ENGINE_load_zk_p11_core();
        return ENGINE_by_id(ZK_P11_ENGINE_ID);  // kept for the whole run
    }();
    return e;
}

struct CtxFree {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

const GostObj kKeyAlgs[] = {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512};

class EngineKeys : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(token_engine(), nullptr); }
};

TEST_F(EngineKeys, TheEngineIsFoundForEveryGostKeyAlgorithm)
{
    for (GostObj alg : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512, GostObj::gost_mac}) {
        SCOPED_TRACE(gost_obj_sn(alg));
        ENGINE *pkey_engine = ENGINE_get_pkey_meth_engine(nid(alg));
        ENGINE *asn1_engine = ENGINE_get_pkey_asn1_meth_engine(nid(alg));
        EXPECT_EQ(pkey_engine, token_engine());
        EXPECT_EQ(asn1_engine, token_engine());
        if (pkey_engine != nullptr)
            ENGINE_finish(pkey_engine);
        if (asn1_engine != nullptr)
            ENGINE_finish(asn1_engine);
        const EVP_PKEY_METHOD *m = ENGINE_get_pkey_meth(token_engine(), nid(alg));
        ASSERT_NE(m, nullptr);
        int id = 0;
        EVP_PKEY_meth_get0_info(&id, nullptr, m);
        EXPECT_EQ(id, nid(alg));
    }
}

TEST_F(EngineKeys, CertificateKeysOnEveryCurveDecodePrintAndCompareThroughOurMethods)
{
    unsigned seed = 100;
    for (GostObj alg : kKeyAlgs) {
        const GostKeyAlg *props = gost_key_alg(nid(alg));
        ASSERT_NE(props, nullptr);
        for (const GostParamSet &set : gost_paramsets(*props)) {
            SCOPED_TRACE(std::string(gost_obj_sn(alg)) + " " + set.oid);
            std::vector<unsigned char> pub = pattern_bytes(props->pub_key_len, ++seed);
            PkeyPtr key = gost_key_from_values(nid(alg), set.nid(), pub);
            ASSERT_TRUE(key);
            X509Ptr cert = parse_certificate(certificate_der(key.get()));
            ASSERT_TRUE(cert);

            PkeyPtr got(X509_get_pubkey(cert.get()));
            ASSERT_TRUE(got);
            EXPECT_EQ(EVP_PKEY_get_base_id(got.get()), nid(alg));
            const char *pem = nullptr;
            EVP_PKEY_asn1_get0_info(nullptr, nullptr, nullptr, nullptr, &pem, EVP_PKEY_get0_asn1(got.get()));
            EXPECT_STREQ(pem, props->size == GostKeySize::bits512 ? "GOST3410-2012-512"
                              : alg == GostObj::gost2001         ? "GOST2001"
                                                                 : "GOST3410-2012-256");
            const p11_gost2012_key *rec = record(got.get());
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ(rec->alg_nid, nid(alg));
            EXPECT_EQ(rec->param_nid, set.nid());
            EXPECT_EQ(rec->pub_key_len, props->pub_key_len);
            EXPECT_EQ(std::vector<unsigned char>(rec->pub_key, rec->pub_key + rec->pub_key_len), pub);
            EXPECT_EQ(rec->priv_key_loaded, 0);
            const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(cert.get());
            std::vector<unsigned char> contents(ASN1_STRING_get0_data(bits),
                                                ASN1_STRING_get0_data(bits) + ASN1_STRING_length(bits));
            EXPECT_EQ(std::vector<unsigned char>(rec->key_id, rec->key_id + 20), sha1(contents));

            std::string text = printed_certificate(cert.get());
            EXPECT_NE(text.find("                Public key: \n"), std::string::npos) << text;
            EXPECT_NE(text.find(std::string("                Parameter set: ") + gost_nid2ln(set.nid()) + "\n"),
                      std::string::npos)
                << text;

            EXPECT_EQ(EVP_PKEY_eq(got.get(), key.get()), 1);
            std::vector<unsigned char> other = pub;
            other.back() ^= 1;
            PkeyPtr different = gost_key_from_values(nid(alg), set.nid(), other);
            EXPECT_EQ(EVP_PKEY_eq(got.get(), different.get()), 0);
        }
    }
}

// A parameter-generation context of a key algorithm.
CtxPtr paramgen_ctx(GostObj alg)
{
    CtxPtr ctx(EVP_PKEY_CTX_new_id(nid(alg), nullptr));
    if (ctx && EVP_PKEY_paramgen_init(ctx.get()) != 1)
        ctx.reset();
    return ctx;
}

// The parameter set a context generates, or 0 (with stderr in *err).
int generated_paramset(EVP_PKEY_CTX *ctx, std::string *err = nullptr)
{
    testing::internal::CaptureStderr();
    EVP_PKEY *k = nullptr;
    int ok = EVP_PKEY_paramgen(ctx, &k);
    std::string text = testing::internal::GetCapturedStderr();
    if (err)
        *err = text;
    PkeyPtr key(k);
    if (ok != 1 || !key || record(key.get()) == nullptr)
        return 0;
    EXPECT_EQ(record(key.get())->alg_nid, EVP_PKEY_get_base_id(key.get()));
    return record(key.get())->param_nid;
}

// The result of a "paramset" string on a fresh context, and what it printed.
struct StrResult {
    int rc;
    int paramset;
    std::string err;
};
StrResult paramset_str(GostObj alg, const char *value)
{
    CtxPtr ctx = paramgen_ctx(alg);
    EXPECT_TRUE(ctx);
    testing::internal::CaptureStderr();
    int rc = EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", value);
    std::string err = testing::internal::GetCapturedStderr();
    return {rc, rc == 1 ? generated_paramset(ctx.get()) : 0, err};
}

TEST_F(EngineKeys, PrivateKeysFromPkcs8AndPkcs12DecodeIntoOurRecords)
{
    const GostObj sets[] = {GostObj::gost2001_cryptopro_a_paramset, GostObj::gost2001_cryptopro_xchb_paramset,
                            GostObj::gost3410_2012_512_paramset_b};
    for (int i = 0; i < 3; ++i) {
        GostObj alg = kKeyAlgs[i];
        SCOPED_TRACE(gost_obj_sn(alg));
        std::vector<unsigned char> priv = random_private_value(nid(alg));
        std::vector<unsigned char> der = gost_pkcs8_der(nid(alg), nid(sets[i]), octet_string_element(priv));
        PkeyPtr key = key_from_pkcs8(der);
        ASSERT_TRUE(key);
        EXPECT_EQ(EVP_PKEY_get0_engine(key.get()), token_engine());
        const p11_gost2012_key *rec = record(key.get());
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(rec->priv_key_loaded, 1);
        EXPECT_EQ(std::vector<unsigned char>(rec->priv_key, rec->priv_key + rec->priv_key_len), priv);

        // The DER reader that guesses the key type takes the same way.
        const unsigned char *p = der.data();
        PkeyPtr guessed(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size())));
        ASSERT_TRUE(guessed);
        EXPECT_EQ(std::memcmp(record(guessed.get())->key_id, rec->key_id, 20), 0);

        // A PKCS#12 file with OpenSSL's standard protection gives back the
        // private key and a certificate whose key has the same CKA_ID.
        X509Ptr cert = parse_certificate(certificate_der(key.get()));
        std::vector<unsigned char> p12_der = pkcs12_der(key.get(), cert.get(), "secret", "key");
        ASSERT_FALSE(p12_der.empty());
        p = p12_der.data();
        PKCS12 *p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(p12_der.size()));
        ASSERT_NE(p12, nullptr);
        EVP_PKEY *parsed = nullptr;
        X509 *parsed_cert = nullptr;
        testing::internal::CaptureStderr();
        int ok = PKCS12_parse(p12, "secret", &parsed, &parsed_cert, nullptr);
        std::string err = testing::internal::GetCapturedStderr();
        PKCS12_free(p12);
        PkeyPtr parsed_key(parsed);
        X509Ptr parsed_x(parsed_cert);
        ASSERT_EQ(ok, 1) << err;
        EXPECT_EQ(err, "");
        ERR_clear_error();
        ASSERT_NE(record(parsed_key.get()), nullptr);
        EXPECT_EQ(std::memcmp(record(parsed_key.get())->priv_key, rec->priv_key, rec->priv_key_len), 0);
        PkeyPtr cert_key(X509_get_pubkey(parsed_x.get()));
        EXPECT_EQ(std::memcmp(record(cert_key.get())->key_id, rec->key_id, 20), 0);
    }
}

TEST_F(EngineKeys, ParamsetStringsChooseTheCurve)
{
    const GostObj alg256[] = {GostObj::gost2001, GostObj::gost3410_2012_256};
    for (GostObj alg : alg256) {
        SCOPED_TRACE(gost_obj_sn(alg));
        StrResult r = paramset_str(alg, "xb");
        EXPECT_EQ(r.rc, 1);
        EXPECT_EQ(r.paramset, nid(GostObj::gost2001_cryptopro_xchb_paramset));
        EXPECT_EQ(paramset_str(alg, "0").paramset, nid(GostObj::gost2001_test_paramset));
        EXPECT_EQ(paramset_str(alg, "a").paramset, nid(GostObj::gost2001_cryptopro_a_paramset));
        EXPECT_EQ(paramset_str(alg, "C").paramset, nid(GostObj::gost2001_cryptopro_c_paramset));
        EXPECT_EQ(paramset_str(alg, "XA").paramset, nid(GostObj::gost2001_cryptopro_xcha_paramset));
        EXPECT_EQ(paramset_str(alg, "id-GostR3410-2001-CryptoPro-A-ParamSet").paramset,
                  nid(GostObj::gost2001_cryptopro_a_paramset));
        EXPECT_EQ(paramset_str(alg, "1.2.643.2.2.35.2").paramset, nid(GostObj::gost2001_cryptopro_b_paramset));

        r = paramset_str(alg, "D");
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.err, "");
        r = paramset_str(alg, "XC");
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.err, "");
        r = paramset_str(alg, "no-such-set");
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.err, "");
        r = paramset_str(alg, "gost89");
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.err, "pkey_pkcs11_ctrl_gost2012_str: invalid parameter set\n");
        // A 512-bit curve is not a 256-bit key's.
        r = paramset_str(alg, gost_obj_oid(GostObj::gost3410_2012_512_paramset_a));
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.err, "pkey_pkcs11_ctrl_gost2012_str: invalid parameter set\n");
    }

    GostObj alg = GostObj::gost3410_2012_512;
    StrResult r = paramset_str(alg, "0");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(paramset_str(alg, "b").paramset, nid(GostObj::gost3410_2012_512_paramset_b));
    EXPECT_EQ(paramset_str(alg, "A").paramset, nid(GostObj::gost3410_2012_512_paramset_a));
    EXPECT_EQ(paramset_str(alg, "XA").rc, 0);
    EXPECT_EQ(paramset_str(alg, gost_obj_sn(GostObj::gost3410_2012_512_paramset_test)).paramset,
              nid(GostObj::gost3410_2012_512_paramset_test));
    r = paramset_str(alg, "id-GostR3410-2001-CryptoPro-A-ParamSet");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "pkey_pkcs11_ctrl_gost2012_str: invalid parameter set\n");

    CtxPtr ctx = paramgen_ctx(alg);
    ASSERT_TRUE(ctx);
    EXPECT_EQ(EVP_PKEY_CTX_ctrl_str(ctx.get(), "curve", "A"), -2);
}

TEST_F(EngineKeys, ParameterGenerationNeedsAParameterSet)
{
    CtxPtr ctx = paramgen_ctx(GostObj::gost3410_2012_256);
    ASSERT_TRUE(ctx);
    std::string err;
    EXPECT_EQ(generated_paramset(ctx.get(), &err), 0);
    EXPECT_EQ(err, "pkey_gost2012_paramgen: No parameters set\n");

    // The parameter-set control takes a NID as it is; generation refuses one
    // outside the key's table.
    ASSERT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_GOST_PARAMSET,
                                nid(GostObj::gost3410_2012_512_paramset_a), nullptr),
              1);
    EXPECT_EQ(generated_paramset(ctx.get(), &err), 0);
    EXPECT_EQ(err, "fill_GOST2012_params: unsupported parameter set\nfill_GOST2012_params failed\n");
    ASSERT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_GOST_PARAMSET,
                                nid(GostObj::gost2001_cryptopro_c_paramset), nullptr),
              1);
    EXPECT_EQ(generated_paramset(ctx.get()), nid(GostObj::gost2001_cryptopro_c_paramset));
}

TEST_F(EngineKeys, AContextOfAKeyStartsWithItsParameterSetAndCopiesKeepIt)
{
    PkeyPtr key = gost_key_from_values(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_b),
                                       pattern_bytes(128, 5));
    ASSERT_TRUE(key);
    // OpenSSL copies no context of a generation in progress: these are copied
    // before any operation starts, so their data is set directly.
    CtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    ASSERT_TRUE(ctx);
    auto *orig = static_cast<p11_gost_pkey_ctx *>(EVP_PKEY_CTX_get_data(ctx.get()));
    ASSERT_NE(orig, nullptr);
    EXPECT_EQ(orig->param_nid, nid(GostObj::gost3410_2012_512_paramset_b));
    const unsigned char ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    orig->ukm = static_cast<unsigned char *>(OPENSSL_memdup(ukm, sizeof ukm));
    orig->ukm_len = sizeof ukm;
    orig->peer_key_set = 1;

    CtxPtr copy(EVP_PKEY_CTX_dup(ctx.get()));
    ASSERT_TRUE(copy);
    auto *data = static_cast<p11_gost_pkey_ctx *>(EVP_PKEY_CTX_get_data(copy.get()));
    ASSERT_NE(data, nullptr);
    EXPECT_NE(data, orig);
    EXPECT_EQ(data->param_nid, nid(GostObj::gost3410_2012_512_paramset_b));
    EXPECT_EQ(data->peer_key_set, 1);
    EXPECT_EQ(data->ukm, nullptr);
    ASSERT_EQ(EVP_PKEY_paramgen_init(copy.get()), 1);
    EXPECT_EQ(generated_paramset(copy.get()), nid(GostObj::gost3410_2012_512_paramset_b));
    EXPECT_EQ(data->alg_nid, nid(GostObj::gost3410_2012_512));
    EXPECT_EQ(std::memcmp(orig->ukm, ukm, sizeof ukm), 0);
}

TEST_F(EngineKeys, ControlsOfTheGostMethods)
{
    CtxPtr ctx = paramgen_ctx(GostObj::gost2001);
    ASSERT_TRUE(ctx);
    auto ctrl = [&](int type, int p1, void *p2) { return EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, type, p1, p2); };

    // Peer key: 2 asks whether one was marked, 3 marks it.
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_PEER_KEY, 0, nullptr), 1);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_PEER_KEY, 1, nullptr), 1);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_PEER_KEY, 2, nullptr), 0);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_PEER_KEY, 3, nullptr), 1);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_PEER_KEY, 2, nullptr), 1);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_PEER_KEY, 4, nullptr), -2);

    for (int type : {EVP_PKEY_CTRL_PKCS7_ENCRYPT, EVP_PKEY_CTRL_PKCS7_DECRYPT, EVP_PKEY_CTRL_PKCS7_SIGN,
                     EVP_PKEY_CTRL_DIGESTINIT})
        EXPECT_EQ(ctrl(type, 0, nullptr), 1) << type;
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_SET_MAC_KEY, 32, nullptr), -2);

    // User keying material is copied; none at all is refused, and a second
    // setting replaces the first.
    unsigned char ukm[16];
    for (unsigned i = 0; i < sizeof ukm; ++i)
        ukm[i] = static_cast<unsigned char>(0xA0 + i);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_SET_IV, 0, ukm), 0);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_SET_IV, 8, nullptr), 0);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_SET_IV, 8, ukm), 1);
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_SET_IV, 16, ukm), 1);
    auto *data = static_cast<p11_gost_pkey_ctx *>(EVP_PKEY_CTX_get_data(ctx.get()));
    ASSERT_NE(data->ukm, nullptr);
    EXPECT_NE(data->ukm, ukm);
    EXPECT_EQ(data->ukm_len, 16u);
    EXPECT_EQ(std::memcmp(data->ukm, ukm, 16), 0);

    // Only the GOST digests are taken.
    testing::internal::CaptureStderr();
    EXPECT_EQ(ctrl(EVP_PKEY_CTRL_MD, 0, const_cast<EVP_MD *>(EVP_sha256())), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "pkey_zkc_ctrl: EVP_PKEY_CTRL_MD - Unsupported digest type: " + std::to_string(NID_sha256) +
                  "(SHA256)\n");
    for (GostObj md : {GostObj::md_gost94, GostObj::gost3411_2012_256, GostObj::gost3411_2012_512}) {
        EVP_MD *gost = EVP_MD_meth_new(nid(md), NID_undef);
        ASSERT_NE(gost, nullptr);
        EXPECT_EQ(ctrl(EVP_PKEY_CTRL_MD, 0, gost), 1) << gost_obj_sn(md);
        EXPECT_EQ(data->md, gost);
        EVP_MD_meth_free(gost);
        data->md = nullptr;
    }
}

TEST_F(EngineKeys, MacKeysAreMadeFromTheirStrings)
{
    int mac = nid(GostObj::gost_mac);
    auto keygen_ctx = [mac] {
        CtxPtr ctx(EVP_PKEY_CTX_new_id(mac, nullptr));
        if (ctx && EVP_PKEY_keygen_init(ctx.get()) != 1)
            ctx.reset();
        return ctx;
    };
    auto keygen = [](EVP_PKEY_CTX *ctx, std::string *err) {
        testing::internal::CaptureStderr();
        EVP_PKEY *k = nullptr;
        int ok = EVP_PKEY_keygen(ctx, &k);
        *err = testing::internal::GetCapturedStderr();
        PkeyPtr key(k);
        if (ok != 1)
            key.reset();
        return key;
    };
    auto str = [](EVP_PKEY_CTX *ctx, const char *name, const char *value, std::string *err) {
        testing::internal::CaptureStderr();
        int rc = EVP_PKEY_CTX_ctrl_str(ctx, name, value);
        *err = testing::internal::GetCapturedStderr();
        return rc;
    };
    std::string err;

    CtxPtr ctx = keygen_ctx();
    ASSERT_TRUE(ctx);
    EXPECT_FALSE(keygen(ctx.get(), &err));
    EXPECT_EQ(err, "pkey_pkcs11_mac_keygen: key not set\n");

    EXPECT_EQ(str(ctx.get(), "key", "0123456789abcdef0123456789abcde", &err), 0);
    EXPECT_EQ(err, "pkey_pkcs11_mac_ctrl_str: invalid key string length = 31\n");
    EXPECT_EQ(str(ctx.get(), "hexkey", "00112233", &err), 0);
    EXPECT_EQ(err, "pkey_pkcs11_mac_ctrl_str: invalid key string length = 4\n");
    EXPECT_EQ(str(ctx.get(), "hexkey", "zz", &err), 0);
    EXPECT_EQ(str(ctx.get(), "paramset", "A", &err), -2);

    const char *text = "0123456789abcdef0123456789abcdef";
    ASSERT_EQ(str(ctx.get(), "key", text, &err), 1);
    PkeyPtr key = keygen(ctx.get(), &err);
    ASSERT_TRUE(key) << err;
    EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), mac);
    EXPECT_EQ(std::memcmp(EVP_PKEY_get0(key.get()), text, 32), 0);

    std::vector<unsigned char> bytes = pattern_bytes(32, 3);
    std::string hexkey;
    for (unsigned char b : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hexkey += two;
    }
    // A context is copied before its operation starts (OpenSSL copies no
    // generation in progress).
    CtxPtr fresh(EVP_PKEY_CTX_new_id(mac, nullptr));
    ASSERT_TRUE(fresh);
    ASSERT_EQ(str(fresh.get(), "hexkey", hexkey.c_str(), &err), 1);
    CtxPtr copy(EVP_PKEY_CTX_dup(fresh.get()));
    ASSERT_TRUE(copy);
    ASSERT_EQ(EVP_PKEY_keygen_init(copy.get()), 1);
    key = keygen(copy.get(), &err);
    ASSERT_TRUE(key) << err;
    EXPECT_EQ(std::memcmp(EVP_PKEY_get0(key.get()), bytes.data(), 32), 0);

    // The MAC-key control takes exactly 32 bytes.
    testing::internal::CaptureStderr();
    EXPECT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_SET_MAC_KEY, 16, bytes.data()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "pkey_pkcs11_mac_ctrl: wrong key length = 16\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_MD, 0, const_cast<EVP_MD *>(EVP_sha256())), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "pkey_pkcs11_mac_ctrl: EVP_PKEY_CTRL_MD invalid digest type\n");
    EXPECT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_PKCS7_SIGN, 0, nullptr), 1);
    EXPECT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_PEER_KEY, 0, nullptr), -2);
}

TEST_F(EngineKeys, OnlyTheGostAlgorithmsGetAMethod)
{
    EVP_PKEY_METHOD *m = reinterpret_cast<EVP_PKEY_METHOD *>(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(register_pmeth_pkcs11(NID_sha256, &m, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "register_pmeth_pkcs11: Unsupported NID " + std::to_string(NID_sha256));
    EXPECT_EQ(m, nullptr);
}

// A third-party module: the private value of a token key is read through
// the engine's module by CKA_ID, only when the token lets it out.
TEST_F(EngineKeys, PrivateValuesComeFromSoftHsmOnlyWhenExtractable)
{
    SoftHsmToken token;
    ASSERT_TRUE(token.ok()) << token.error();
    CK_FUNCTION_LIST *f = token.functions();
    CK_SESSION_HANDLE s = token.open_session(true);
    ASSERT_NE(s, 0u);
    P11_ENGINE_CTX *ctx = p11_engine_ctx(token_engine());
    ctx->function_list = f;
    ctx->slot_id = token.slot();

    const int alg = nid(GostObj::gost2001), set = nid(GostObj::gost2001_cryptopro_a_paramset);
    std::vector<unsigned char> curve = oid_der(set);
    std::vector<unsigned char> hash = oid_der(nid(GostObj::gost94_cryptopro_paramset));
    struct Case {
        const char *what;
        CK_BBOOL sensitive, extractable;
        std::string err;
    } cases[] = {
        {"extractable", CK_FALSE, CK_TRUE, ""},
        {"sensitive", CK_TRUE, CK_TRUE, "get_priv_key_value: token private key not extractable\n"},
        {"not extractable", CK_FALSE, CK_FALSE, "get_priv_key_value: token private key not extractable\n"},
    };
    unsigned seed = 40;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // A token key as the store knows it: public value and CKA_ID.
        PkeyPtr key = gost_key_from_values(alg, set, pattern_bytes(64, ++seed));
        std::vector<unsigned char> value = pattern_bytes(32, ++seed);
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_KEY_TYPE type = CKK_GOSTR3410;
        CK_BBOOL yes = CK_TRUE;
        CK_BBOOL sensitive = c.sensitive, extractable = c.extractable;
        CK_ATTRIBUTE tmpl[] = {
            {CKA_CLASS, &cls, sizeof cls},
            {CKA_KEY_TYPE, &type, sizeof type},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_PRIVATE, &yes, sizeof yes},
            {CKA_SENSITIVE, &sensitive, sizeof sensitive},
            {CKA_EXTRACTABLE, &extractable, sizeof extractable},
            {CKA_ID, const_cast<unsigned char *>(record(key.get())->key_id), 20},
            {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
            {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()},
            {CKA_VALUE, value.data(), value.size()},
        };
        CK_OBJECT_HANDLE h = 0;
        ASSERT_EQ(f->C_CreateObject(s, tmpl, sizeof tmpl / sizeof tmpl[0], &h), CKR_OK);

        unsigned char out[kGostPrivKeyMax];
        unsigned int len = 0;
        testing::internal::CaptureStderr();
        int ok = get_priv_key_value(key.get(), out, &len);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, c.err);
        EXPECT_EQ(ok, c.err.empty() ? 1 : 0);
        if (ok == 1) {
            EXPECT_EQ(std::vector<unsigned char>(out, out + len), value);
        }
    }
    ctx->function_list = nullptr;
    ctx->slot_id = P11_NO_SLOT;
}

// A GOST certificate on a token reads through the tool as any other.
TEST_F(EngineKeys, TheToolListsAndDumpsAGostCertificate)
{
    PkeyPtr key = gost_key_from_values(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_a),
                                       pattern_bytes(128, 11));
    ASSERT_TRUE(key);
    std::vector<unsigned char> der = certificate_der(key.get());
    ASSERT_FALSE(der.empty());

    SoftHsmToken token;
    ASSERT_TRUE(token.ok()) << token.error();
    {
        TokenClient client(token.module_path(), token.slot(), SoftHsmToken::kUserPin);
        client.put_certificate(der, label_with_zero("gost"), make_id(20));
    }
    ProcessOptions options;
    options.env[token.env().first] = token.env().second;
    options.timeout = std::chrono::seconds(60);
    const std::string tool = TOKENCERT_BINARY_DIR "/tool/tokencert";
    ProcessResult r = run_process({tool, "-p11", token.module_path(), "-slot", token.slot_text(), "-certlist"}, options);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "Certificate objects:\n1: label: 'gost'\nOK\n");

    r = run_process({tool, "-p11", token.module_path(), "-slot", token.slot_text(), "-attributes", "-label", "gost"},
                    options);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("label: 'gost'\n==================================\nObject handle: 0x", 0), 0u) << r.out;
    char first[64];
    std::snprintf(first, sizeof first, "CKA_VALUE\n0x%02x, 0x%02x, ", der[0], der[1]);
    EXPECT_NE(r.out.find(first), std::string::npos) << r.out;
    size_t value = r.out.find("CKA_VALUE\n");
    ASSERT_NE(value, std::string::npos);
    size_t value_end = r.out.find("\n\n", value);
    size_t lines = 0;
    for (size_t i = value; i < value_end; ++i)
        lines += r.out[i] == '\n';
    EXPECT_EQ(lines, (der.size() + 7) / 8);
    const std::string tail = "\n\n----------------------------------\nOK\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

}  // namespace
