#define OPENSSL_SUPPRESS_DEPRECATED
// GOST keys through the store on our software token: stored with their
// templates, read back with the right algorithm, found by the engine's key
// loaders by label and by certificate file, listed.
#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"
#include "memory_bio.h"
#include "store_token_fixture.h"

#include <openssl/pem.h>
#include <openssl/ui.h>

#include <cstdio>

namespace {

struct KeyCase {
    GostObj alg;
    GostObj paramset;
};
const KeyCase kKeyCases[] = {
    {GostObj::gost2001, GostObj::gost2001_cryptopro_a_paramset},
    {GostObj::gost3410_2012_256, GostObj::gost2001_cryptopro_xchb_paramset},
    {GostObj::gost3410_2012_512, GostObj::gost3410_2012_512_paramset_b},
};

struct TokenPair {
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    Bytes value, id;
};

class GostStore : public StoreOnToken {
protected:
    // A key pair generated on the token, with the CKA_ID of its public value;
    // given `own_id`, as other tools make one: that CKA_ID, the label without
    // its zero byte.
    TokenPair generate(const KeyCase &c, const std::string &label, const Bytes &own_id = {})
    {
        const CK_ULONG label_len = label.size() + (own_id.empty() ? 1 : 0);
        const GostKeyAlg *alg = gost_key_alg(nid(c.alg));
        Bytes params = oid_der(nid(c.paramset)), hash = oid_der(gost_nid(alg->hash_params));
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE pub_t[] = {{CKA_TOKEN, &yes, 1},
                                {CKA_GOSTR3410_PARAMS, params.data(), params.size()},
                                {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()},
                                {CKA_LABEL, (void *)label.c_str(), label_len}};
        CK_ATTRIBUTE priv_t[] = {{CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_SIGN, &yes, 1},
                                 {CKA_LABEL, (void *)label.c_str(), label_len}};
        CK_MECHANISM mech = {alg->keygen_mechanism, nullptr, 0};
        TokenPair pair;
        EXPECT_EQ(f_->C_GenerateKeyPair(session_, &mech, pub_t, 4, priv_t, 4, &pair.pub, &pair.priv), CKR_OK);
        pair.value = attribute(pair.pub, CKA_VALUE);
        pair.id = own_id;
        if (own_id.empty()) {
            pair.id.resize(20);
            EXPECT_EQ(pkcs11_id_gen(pair.value.data(), pair.value.size(), pair.id.data()), 1);
        }
        CK_ATTRIBUTE id = {CKA_ID, pair.id.data(), pair.id.size()};
        EXPECT_EQ(f_->C_SetAttributeValue(session_, pair.pub, &id, 1), CKR_OK);
        EXPECT_EQ(f_->C_SetAttributeValue(session_, pair.priv, &id, 1), CKR_OK);
        return pair;
    }
    // A PEM file holding a certificate for the public value.
    std::string certificate_file(const KeyCase &c, const Bytes &value)
    {
        PkeyPtr key = gost_key_from_values(nid(c.alg), nid(c.paramset), value);
        X509Ptr x = parse_certificate(certificate_der(key.get()));
        std::string path = testing::TempDir() + "gost-store-cert.pem";
        FILE *out = std::fopen(path.c_str(), "w");
        EXPECT_NE(out, nullptr);
        PEM_write_X509(out, x.get());
        std::fclose(out);
        return path;
    }
};

INSTANTIATE_TEST_SUITE_P(Softtoken, GostStore, testing::Values(ModuleKind::softtoken),
                         [](const testing::TestParamInfo<ModuleKind> &info) { return module_kind_name(info.param); });

TEST_P(GostStore, KeysComeBackWithTheirAlgorithmParameterSetAndIdentifier)
{
    for (const KeyCase &c : kKeyCases) {
        SCOPED_TRACE(gost_obj_sn(c.alg));
        std::string label = std::string("key ") + gost_obj_sn(c.alg);
        TokenPair pair = generate(c, label);

        OPENSSL_ITEM by_label[] = {label_item(label.c_str()), kEnd};
        PkeyPtr priv(STORE_get_private_key(store_, by_label, nullptr));
        ASSERT_TRUE(priv);
        EXPECT_EQ(EVP_PKEY_get_base_id(priv.get()), nid(c.alg));
        EXPECT_EQ(record(priv.get())->param_nid, nid(c.paramset));
        EXPECT_EQ(Bytes(record(priv.get())->key_id, record(priv.get())->key_id + 20), pair.id);
        EXPECT_EQ(record(priv.get())->priv_key_loaded, 0);

        OPENSSL_ITEM by_id[] = {id_item(pair.id), kEnd};
        PkeyPtr pub(STORE_get_public_key(store_, by_id, nullptr));
        ASSERT_TRUE(pub);
        EXPECT_EQ(EVP_PKEY_get_base_id(pub.get()), nid(c.alg));
        const p11_gost2012_key *rec = record(pub.get());
        EXPECT_EQ(Bytes(rec->pub_key, rec->pub_key + rec->pub_key_len), pair.value);
        EXPECT_EQ(rec->priv_key_len, pair.value.size() / 2);

        // The engine's loaders: by label, and by the path of a certificate of the pair.
        PkeyPtr loaded(ENGINE_load_private_key(engine_, label.c_str(), nullptr, nullptr));
        ASSERT_TRUE(loaded);
        EXPECT_EQ(Bytes(record(loaded.get())->key_id, record(loaded.get())->key_id + 20), pair.id);
        std::string path = certificate_file(c, pair.value);
        PkeyPtr by_cert(ENGINE_load_public_key(engine_, path.c_str(), nullptr, nullptr));
        ASSERT_TRUE(by_cert);
        EXPECT_EQ(EVP_PKEY_eq(by_cert.get(), pub.get()), 1);
        std::remove(path.c_str());
    }
}

TEST_P(GostStore, LoadersReportWhatTheyCannotUse)
{
    std::string not_pem = testing::TempDir() + "not-a-certificate.txt";
    FILE *out = std::fopen(not_pem.c_str(), "w");
    std::fputs("hello\n", out);
    std::fclose(out);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ENGINE_load_private_key(engine_, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(ENGINE_load_public_key(engine_, not_pem.c_str(), nullptr, nullptr), nullptr);
    EXPECT_EQ(ENGINE_load_private_key(engine_, "no such key", nullptr, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "p11_load_privkey: NULL key_id\np11_load_pubkey: Can't read X509 PEM file " + not_pem + "\n");
    std::remove(not_pem.c_str());
}

TEST_P(GostStore, StoredKeysCarryTheirTemplatesAndTheCertificateJoinsThem)
{
    const KeyCase c = kKeyCases[2];
    TokenPair donor = generate(c, "donor");  // a real public value
    f_->C_DestroyObject(session_, donor.pub);
    f_->C_DestroyObject(session_, donor.priv);

    PkeyPtr key = gost_key_from_values(nid(c.alg), nid(c.paramset), donor.value);
    p11_gost2012_key *rec = record(key.get());
    OPENSSL_ITEM attrs[] = {label_item("pair"), kEnd}, no_room[] = {{STORE_PARAM_OBJECT_HANDLE, rec, 1, nullptr}, kEnd};
    testing::internal::CaptureStderr();
    EXPECT_EQ(STORE_store_private_key(store_, key.get(), attrs, no_room), 0);
    EXPECT_EQ(STORE_store_private_key(store_, key.get(), attrs, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "store_object: the object handle parameter cannot hold a handle\n"
                                                      "store_object: private key value not loaded\n");
    rec->priv_key[0] = 7;
    rec->priv_key_loaded = 1;
    ASSERT_EQ(STORE_store_private_key(store_, key.get(), attrs, nullptr), 1);
    ASSERT_EQ(STORE_store_public_key(store_, key.get(), attrs, nullptr), 1);
    X509Ptr cert = parse_certificate(certificate_der(key.get()));
    ASSERT_EQ(STORE_store_certificate(store_, cert.get(), attrs, nullptr), 1);

    std::string label = "pair";
    auto privs = objects(CKO_PRIVATE_KEY, &label), pubs = objects(CKO_PUBLIC_KEY, &label),
         certs = objects(CKO_CERTIFICATE, &label);
    ASSERT_EQ(privs.size(), 1u);
    ASSERT_EQ(pubs.size(), 1u);
    ASSERT_EQ(certs.size(), 1u);
    EXPECT_EQ(attribute(privs[0], CKA_ID), donor.id);
    EXPECT_EQ(attribute(pubs[0], CKA_ID), donor.id);
    EXPECT_EQ(attribute(certs[0], CKA_ID), donor.id);
    EXPECT_EQ(attribute(pubs[0], CKA_VALUE), donor.value);
    for (CK_OBJECT_HANDLE h : {privs[0], pubs[0]}) {
        EXPECT_EQ(attribute(h, CKA_GOSTR3410_PARAMS), oid_der(nid(c.paramset)));
        EXPECT_EQ(attribute(h, CKA_GOSTR3411_PARAMS), oid_der(nid(GostObj::gost3411_2012_512)));
        EXPECT_EQ(attribute(h, CKA_GOST28147_PARAMS), oid_der(nid(GostObj::gost28147_param_z)));
        EXPECT_EQ(attribute(h, CKA_TOKEN), Bytes{CK_TRUE});
    }
    CK_KEY_TYPE type = CKK_GOSTR3410_512;
    EXPECT_EQ(attribute(privs[0], CKA_KEY_TYPE), Bytes((unsigned char *)&type, (unsigned char *)&type + sizeof(type)));
    EXPECT_EQ(attribute(privs[0], CKA_PRIVATE), Bytes{CK_TRUE});
    EXPECT_EQ(attribute(pubs[0], CKA_PRIVATE), Bytes{CK_FALSE});
    EXPECT_EQ(attribute(privs[0], CKA_DERIVE), Bytes{CK_TRUE});
    EXPECT_EQ(attribute(pubs[0], CKA_VERIFY), Bytes{CK_TRUE});
    // The certificate found the public key just stored: token user's certificate.
    CK_ULONG category = 1;
    EXPECT_EQ(attribute(certs[0], CKA_CERTIFICATE_CATEGORY),
              Bytes((unsigned char *)&category, (unsigned char *)&category + sizeof(category)));
}

TEST_P(GostStore, MacKeyIsNoKeyPairToStore)
{
    PkeyPtr mac(EVP_PKEY_new());
    ASSERT_EQ(EVP_PKEY_assign(mac.get(), nid(GostObj::gost_mac), OPENSSL_zalloc(32)), 1);
    OPENSSL_ITEM attrs[] = {label_item("mac"), kEnd};
    testing::internal::CaptureStderr();
    EXPECT_EQ(STORE_store_private_key(store_, mac.get(), attrs, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "store_object: Illegal pkey_nid " + std::to_string(nid(GostObj::gost_mac)) + "\n");
    EXPECT_TRUE(objects(CKO_PRIVATE_KEY).empty());
}

TEST_P(GostStore, ListingPublicKeysGivesEachKeyThenTheEnd)
{
    TokenPair a = generate(kKeyCases[0], "la"), b = generate(kKeyCases[2], "lb");
    unsigned char label[128], id[20];
    int paramset = 0;
    OPENSSL_ITEM attrs[] = {{STORE_ATTR_FRIENDLYNAME, label, sizeof(label), nullptr},
                            {STORE_ATTR_KEYID, id, sizeof(id), nullptr}, kEnd};
    OPENSSL_ITEM params[] = {{STORE_PARAM_EVP_TYPE, &paramset, sizeof(paramset), nullptr}, kEnd};
    void *list = STORE_list_start(store_, STORE_OBJECT_TYPE_PUBLIC_KEY, attrs, params);
    ASSERT_NE(list, nullptr);
    // Asking whether the walk is over takes nothing away from it.
    EXPECT_EQ(STORE_list_endp(store_, list), 0);
    EXPECT_EQ(STORE_list_endp(store_, list), 0);
    int seen = 0;
    while (STORE_OBJECT *object = STORE_list_next(store_, list)) {
        ++seen;
        const bool is_a = std::string(reinterpret_cast<char *>(label)) == "la";
        const TokenPair &pair = is_a ? a : b;
        EXPECT_EQ(object->type, STORE_OBJECT_TYPE_PUBLIC_KEY);
        EXPECT_EQ(Bytes(id, id + 20), pair.id);
        EXPECT_EQ(paramset, nid(is_a ? kKeyCases[0].paramset : kKeyCases[2].paramset));
        const p11_gost2012_key *rec = record(object->data.key);
        EXPECT_EQ(Bytes(rec->pub_key, rec->pub_key + rec->pub_key_len), pair.value);
        STORE_OBJECT_free(object);
    }
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(STORE_list_endp(store_, list), 1);
    EXPECT_EQ(STORE_list_end(store_, list), 1);
}

}  // namespace

namespace {

// Signs with the key through OpenSSL (its default digest) and verifies with
// the other key; 1 when the signature verifies, and 0 after a changed byte.
int sign_and_verify(EVP_PKEY *priv, EVP_PKEY *pub, bool tamper)
{
    const unsigned char message[] = "made on the token";
    EVP_MD_CTX *sign = EVP_MD_CTX_new(), *verify = EVP_MD_CTX_new();
    unsigned char sig[128];
    size_t sig_len = sizeof(sig);
    int ok = EVP_DigestSignInit(sign, nullptr, nullptr, nullptr, priv) == 1 &&
             EVP_DigestSign(sign, sig, &sig_len, message, sizeof(message)) == 1 &&
             EVP_DigestVerifyInit(verify, nullptr, nullptr, nullptr, pub) == 1;
    if (ok && tamper)
        sig[sig_len / 2] ^= 1;
    ok = ok && EVP_DigestVerify(verify, sig, sig_len, message, sizeof(message)) == 1;
    EVP_MD_CTX_free(sign);
    EVP_MD_CTX_free(verify);
    return ok ? 1 : 0;
}

TEST_P(GostStore, KeysReadBackSignOnTheTokenAndVerify)
{
    for (const KeyCase &c : kKeyCases) {
        SCOPED_TRACE(gost_obj_sn(c.alg));
        std::string label = std::string("signer ") + gost_obj_sn(c.alg);
        TokenPair pair = generate(c, label);
        std::string path = certificate_file(c, pair.value);
        PkeyPtr priv(ENGINE_load_private_key(engine_, path.c_str(), nullptr, nullptr));
        PkeyPtr pub(ENGINE_load_public_key(engine_, label.c_str(), nullptr, nullptr));
        std::remove(path.c_str());
        ASSERT_TRUE(priv);
        ASSERT_TRUE(pub);
        EXPECT_EQ(sign_and_verify(priv.get(), pub.get(), false), 1);
        EXPECT_EQ(sign_and_verify(priv.get(), pub.get(), true), 0);

        // A certificate signed by the token key verifies with the key read back.
        X509Ptr cert = parse_certificate(certificate_der(pub.get()));
        ASSERT_GT(X509_sign(cert.get(), priv.get(), nullptr), 0);
        EXPECT_EQ(X509_verify(cert.get(), pub.get()), 1);
        const char *sig_oid = c.alg == GostObj::gost2001            ? "1.2.643.2.2.3"
                              : c.alg == GostObj::gost3410_2012_256 ? "1.2.643.7.1.1.3.2"
                                                                    : "1.2.643.7.1.1.3.3";
        EXPECT_EQ(OBJ_obj2nid(X509_get0_tbs_sigalg(cert.get())->algorithm), OBJ_txt2nid(sig_oid));
    }
}

TEST_P(GostStore, KeysMadeByOtherToolsSignUnderTheirOwnIdentifier)
{
    for (size_t id_len : {1, 16}) {
        SCOPED_TRACE(id_len);
        const KeyCase &c = kKeyCases[id_len == 1 ? 2 : 1];
        const std::string label = "other " + std::to_string(id_len);
        TokenPair pair = generate(c, label, make_id(id_len, 9));
        PkeyPtr priv(ENGINE_load_private_key(engine_, label.c_str(), nullptr, nullptr));
        PkeyPtr pub(ENGINE_load_public_key(engine_, label.c_str(), nullptr, nullptr));
        ASSERT_TRUE(priv && pub);
        EXPECT_EQ(sign_and_verify(priv.get(), pub.get(), false), 1);
        // The private key's public half (pkey -pubout) is the token's value.
        unsigned char *der = nullptr;
        int der_len = i2d_PUBKEY(priv.get(), &der);
        const unsigned char *p = der;
        PkeyPtr pubout(d2i_PUBKEY(nullptr, &p, der_len));
        OPENSSL_free(der);
        ASSERT_TRUE(pubout);
        EXPECT_EQ(Bytes(record(pubout.get())->pub_key, record(pubout.get())->pub_key + pair.value.size()), pair.value);
        BIO *text = BIO_new(BIO_s_mem());
        EXPECT_EQ(EVP_PKEY_print_private(text, priv.get(), 0, nullptr), 1);
        EXPECT_EQ(memory_bio_text(text).rfind("Private key: (on the token)\nPublic key: \n", 0), 0u);
        BIO_free(text);
    }
}

TEST_P(GostStore, WithoutPublicObjectThePublicValueComesFromTheCertificate)
{
    const KeyCase &c = kKeyCases[0];
    TokenPair pair = generate(c, "cert only", make_id(1, 5));
    ASSERT_EQ(f_->C_DestroyObject(session_, pair.pub), CKR_OK);
    PkeyPtr values = gost_key_from_values(nid(c.alg), nid(c.paramset), pair.value);
    CK_OBJECT_HANDLE cert = put_certificate(certificate_der(values.get()), label_with_zero("cert"), pair.id);
    PkeyPtr priv(ENGINE_load_private_key(engine_, "cert only", nullptr, nullptr));
    ASSERT_TRUE(priv);
    EXPECT_EQ(Bytes(record(priv.get())->pub_key, record(priv.get())->pub_key + pair.value.size()), pair.value);
    EXPECT_EQ(sign_and_verify(priv.get(), values.get(), false), 1);

    ASSERT_EQ(f_->C_DestroyObject(session_, cert), CKR_OK);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(PkeyPtr(ENGINE_load_private_key(engine_, "cert only", nullptr, nullptr)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Token public key not found\n");
    // A value the token can no longer give is not written out as zeros.
    std::memset(record(priv.get())->pub_key, 0, sizeof(record(priv.get())->pub_key));
    EXPECT_LE(i2d_PUBKEY(priv.get(), nullptr), 0);
}

TEST_P(GostStore, GeneratedPairsAreLabelledOnTheToken)
{
    EVP_PKEY *made = STORE_generate_key(store_, nullptr, nullptr);
    ASSERT_NE(made, nullptr);
    PkeyPtr key(made);
    EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), nid(GostObj::gost2001));
    EXPECT_EQ(record(key.get())->param_nid, nid(GostObj::gost2001_cryptopro_a_paramset));
    auto privs = objects(CKO_PRIVATE_KEY), pubs = objects(CKO_PUBLIC_KEY);
    ASSERT_EQ(privs.size(), 1u);
    ASSERT_EQ(pubs.size(), 1u);
    for (CK_OBJECT_HANDLE h : {privs[0], pubs[0]}) {
        Bytes label = attribute(h, CKA_LABEL);
        std::string text(label.begin(), label.end());
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\0');
        EXPECT_TRUE(testing::internal::RE::FullMatch(
            text.c_str(), testing::internal::RE("Priv key [0-9][0-9]/[0-9][0-9]/[0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]")))
            << text;
        EXPECT_EQ(attribute(h, CKA_ID), Bytes(record(key.get())->key_id, record(key.get())->key_id + 20));
    }

    int alg = nid(GostObj::gost3410_2012_512), set = nid(GostObj::gost3410_2012_512_paramset_b);
    OPENSSL_ITEM params[] = {{STORE_PARAM_EVP_TYPE, &alg, sizeof(alg), nullptr},
                             {STORE_PARAM_KEY_PARAMETERS, &set, sizeof(set), nullptr}, kEnd};
    const std::string long_label(40, 'g');
    OPENSSL_ITEM attrs[] = {label_item(long_label.c_str()), kEnd};
    PkeyPtr big(STORE_generate_key(store_, attrs, params));
    ASSERT_TRUE(big);
    EXPECT_EQ(EVP_PKEY_get_base_id(big.get()), alg);
    EXPECT_EQ(objects(CKO_PRIVATE_KEY, &long_label).size(), 1u);
    EXPECT_EQ(objects(CKO_PUBLIC_KEY, &long_label).size(), 1u);
}

// What a UI hands out as the PIN, and how often it was asked.
struct PinAnswer {
    const char *pin;  // null: the UI fails
    int asked = 0;
    std::string prompt;
};

int answer_pin(UI *ui, UI_STRING *uis)
{
    auto *answer = static_cast<PinAnswer *>(UI_get0_user_data(ui));
    if (UI_get_string_type(uis) != UIT_PROMPT)
        return 1;
    ++answer->asked;
    answer->prompt = UI_get0_output_string(uis);
    if (!answer->pin || !(UI_get_input_flags(uis) & UI_INPUT_FLAG_DEFAULT_PWD))
        return 0;
    return UI_set_result(ui, uis, answer->pin) == 0 ? 1 : 0;
}

struct UiMethodFree {
    void operator()(UI_METHOD *m) const { UI_destroy_method(m); }
};

TEST_P(GostStore, PrivateKeyLoaderAsksForThePinThroughTheCallersUiOnce)
{
    generate(kKeyCases[1], "ui-key");
    // Nobody logged in: the private key is out of sight.
    ASSERT_EQ(f_->C_Logout(session_), CKR_OK);
    std::unique_ptr<UI_METHOD, UiMethodFree> ui(UI_create_method("test PIN"));
    ASSERT_TRUE(ui);
    UI_method_set_reader(ui.get(), answer_pin);

    struct Case {
        const char *pin;
        bool found;
        std::string err;
    };
    const std::string wrong = std::string("C_Login failed, rc = 0xa0\nlogin failed\n");
    const Case cases[] = {
        {"0000", false, wrong},
        {nullptr, false, "p11_load_privkey: PIN not read\n"},
        {token_->user_pin(), true, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pin ? c.pin : "(no answer)");
        PinAnswer answer{c.pin, 0, {}};
        testing::internal::CaptureStderr();
        PkeyPtr key(ENGINE_load_private_key(engine_, "ui-key", ui.get(), &answer));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(static_cast<bool>(key), c.found);
        EXPECT_EQ(answer.asked, 1);
        EXPECT_EQ(answer.prompt, "Enter token user PIN:");
    }
    // Logged in now: no more questions; without a UI nobody is asked.
    PinAnswer again{"0000", 0, {}};
    EXPECT_TRUE(PkeyPtr(ENGINE_load_private_key(engine_, "ui-key", ui.get(), &again)));
    EXPECT_EQ(again.asked, 0);
    EXPECT_EQ(ENGINE_ctrl_cmd_string(engine_, "LOGOUT", "", 0), 1);
    EXPECT_FALSE(PkeyPtr(ENGINE_load_private_key(engine_, "ui-key", nullptr, nullptr)));
    // Public keys never need the PIN.
    EXPECT_TRUE(PkeyPtr(ENGINE_load_public_key(engine_, "ui-key", ui.get(), &again)));
    EXPECT_EQ(again.asked, 0);
}

}  // namespace
