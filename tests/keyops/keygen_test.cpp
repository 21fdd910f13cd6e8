// Key pairs generated on the token through OpenSSL and through the wrapper
// the store calls: templates, identifiers, labels from the label index
// file, and nothing left on the token after any failure.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <openssl/engine.h>

#include "keyops_fixture.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"
#include "pkcs11_gost3410_2012.h"
#include "softhsm_token.h"

namespace {

CK_ULONG ulong_of(const Bytes &b)
{
    CK_ULONG v = 0;
    if (b.size() == sizeof v)
        std::memcpy(&v, b.data(), sizeof v);
    return v;
}

bool bool_of(const Bytes &b) { return b.size() == 1 && b[0] == CK_TRUE; }

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

using KeyGen = TokenEngineTest;

TEST_F(KeyGen, PairsOnEveryCurveCarryTheirIdAndTemplates)
{
    for (const AlgCurve &c : every_alg_and_curve()) {
        SCOPED_TRACE(c.name());
        std::size_t before = count_objects();
        PkeyPtr key = generate(c);
        ASSERT_TRUE(key);
        EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), nid(c.alg));
        const p11_gost2012_key *rec = record(key.get());
        EXPECT_EQ(rec->alg_nid, nid(c.alg));
        EXPECT_EQ(rec->param_nid, c.set->nid());
        ASSERT_EQ(rec->pub_key_len, c.props->pub_key_len);
        Bytes pub(rec->pub_key, rec->pub_key + rec->pub_key_len);
        EXPECT_TRUE(reference_on_curve(c.set->nid(), pub));
        unsigned char id[20];
        pkcs11_id_gen(rec->pub_key, rec->pub_key_len, id);
        EXPECT_EQ(Bytes(rec->key_id, rec->key_id + 20), Bytes(id, id + 20));

        EXPECT_EQ(count_objects(), before + 2);
        std::vector<CK_OBJECT_HANDLE> objects = find_by_id(id);
        ASSERT_EQ(objects.size(), 2u);
        CK_OBJECT_HANDLE pub_obj = objects[0], priv_obj = objects[1];
        if (ulong_of(attribute(pub_obj, CKA_CLASS)) != CKO_PUBLIC_KEY)
            std::swap(pub_obj, priv_obj);
        EXPECT_EQ(ulong_of(attribute(pub_obj, CKA_CLASS)), CKO_PUBLIC_KEY);
        EXPECT_EQ(ulong_of(attribute(priv_obj, CKA_CLASS)), CKO_PRIVATE_KEY);
        EXPECT_EQ(attribute(pub_obj, CKA_VALUE), pub);
        for (CK_OBJECT_HANDLE h : {pub_obj, priv_obj}) {
            EXPECT_EQ(ulong_of(attribute(h, CKA_KEY_TYPE)), c.props->key_type);
            EXPECT_TRUE(bool_of(attribute(h, CKA_TOKEN)));
            EXPECT_EQ(attribute(h, CKA_GOSTR3410_PARAMS), Bytes(c.set->der, c.set->der + c.set->der_len));
            EXPECT_EQ(attribute(h, CKA_GOSTR3411_PARAMS), oid_der(nid(c.props->hash_params)));
            EXPECT_EQ(attribute(h, CKA_GOST28147_PARAMS), hex_to_bytes("06 09 2A 85 03 07 01 02 05 01 01"));
            EXPECT_EQ(attribute(h, CKA_LABEL), Bytes());  // no label index file
        }
        for (CK_ATTRIBUTE_TYPE t : {CKA_ENCRYPT, CKA_VERIFY})
            EXPECT_TRUE(bool_of(attribute(pub_obj, t))) << t;
        EXPECT_FALSE(bool_of(attribute(pub_obj, CKA_PRIVATE)));
        for (CK_ATTRIBUTE_TYPE t : {CKA_PRIVATE, CKA_DECRYPT, CKA_SIGN, CKA_DERIVE})
            EXPECT_TRUE(bool_of(attribute(priv_obj, t))) << t;
    }
}

TEST_F(KeyGen, TemplatesFollowTheSessionAndTheEngineSettings)
{
    struct Case {
        int extractable, sensitive;
        std::vector<CK_ATTRIBUTE_TYPE> tail;  // after the six fixed attributes
        std::vector<unsigned> tail_values;
    };
    const Case cases[] = {
        {-1, -1, {}, {}},
        {-1, 1, {CKA_SENSITIVE}, {CK_TRUE}},
        {0, -1, {CKA_EXTRACTABLE}, {CK_FALSE}},
        {1, 0, {CKA_EXTRACTABLE, CKA_SENSITIVE}, {CK_TRUE, CK_FALSE}},
        {7, 3, {CKA_EXTRACTABLE, CKA_SENSITIVE}, {CK_TRUE, CK_TRUE}},
    };
    const std::vector<CK_ATTRIBUTE_TYPE> pub_types = {CKA_TOKEN, CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS,
                                                      CKA_GOST28147_PARAMS, CKA_CLASS, CKA_PRIVATE,
                                                      CKA_ENCRYPT, CKA_VERIFY};
    const std::vector<unsigned> pub_bools = {CK_TRUE, 0xFF, 0xFF, 0xFF, 0xFF, CK_FALSE, CK_TRUE, CK_TRUE};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.extractable) + "/" + std::to_string(c.sensitive));
        ctx()->private_key_extractable = c.extractable;
        ctx()->private_key_sensitive = c.sensitive;
        PkeyPtr key = generate(GostObj::gost3410_2012_256, "A");
        ASSERT_TRUE(key);
        const ModuleRecord &r = module_record();
        EXPECT_EQ(r.pub_types, pub_types);
        EXPECT_EQ(r.pub_bools, pub_bools);
        std::vector<CK_ATTRIBUTE_TYPE> priv = {CKA_TOKEN, CKA_CLASS, CKA_PRIVATE, CKA_DECRYPT, CKA_SIGN, CKA_DERIVE};
        std::vector<unsigned> priv_bools = {CK_TRUE, 0xFF, CK_TRUE, CK_TRUE, CK_TRUE, CK_TRUE};
        priv.insert(priv.end(), c.tail.begin(), c.tail.end());
        priv_bools.insert(priv_bools.end(), c.tail_values.begin(), c.tail_values.end());
        EXPECT_EQ(r.priv_types, priv);
        EXPECT_EQ(r.priv_bools, priv_bools);
        std::vector<CK_OBJECT_HANDLE> objects = find_by_id(record(key.get())->key_id);
        for (CK_OBJECT_HANDLE h : objects) {
            if (ulong_of(attribute(h, CKA_CLASS)) != CKO_PRIVATE_KEY)
                continue;
            if (c.extractable != -1) {
                EXPECT_EQ(bool_of(attribute(h, CKA_EXTRACTABLE)), c.extractable != 0);
            }
            if (c.sensitive != -1) {
                EXPECT_EQ(bool_of(attribute(h, CKA_SENSITIVE)), c.sensitive != 0);
            }
        }
    }

    // A read-only session makes session objects, gone with the engine's
    // session; the key itself is complete.
    ctx()->private_key_extractable = -1;
    ctx()->private_key_sensitive = -1;
    adopt_session(CKF_SERIAL_SESSION);
    std::size_t before = count_objects();
    PkeyPtr key = generate(GostObj::gost3410_2012_512, "B");
    ASSERT_TRUE(key);
    EXPECT_EQ(module_record().pub_bools[0], CK_FALSE);
    EXPECT_EQ(module_record().priv_bools[0], CK_FALSE);
    EXPECT_EQ(module_record().priv_bools[2], CK_FALSE);
    EXPECT_FALSE(gost_pub_key_is_zero(*record(key.get())));
    EXPECT_EQ(count_objects(), before);

    // The engine's GOST 28147-89 parameter set goes into the public template.
    adopt_session(CKF_SERIAL_SESSION | CKF_RW_SESSION);
    ASSERT_EQ(ENGINE_ctrl_cmd_string(token_engine(), "PARAMS_GOST28147", "id-Gost28147-89-CryptoPro-A-ParamSet", 0), 1);
    key = generate(GostObj::gost2001, "XA");
    ASSERT_TRUE(key);
    for (CK_OBJECT_HANDLE h : find_by_id(record(key.get())->key_id))
        EXPECT_EQ(attribute(h, CKA_GOST28147_PARAMS), hex_to_bytes("06 07 2A 85 03 02 02 1F 01"));
}

TEST_F(KeyGen, TheLabelIndexFileNumbersThePairs)
{
    std::string path = dir + "/label-index";
    ctx()->label_index_path = path;

    // No file: no label, no file made.
    PkeyPtr key = generate(GostObj::gost2001, "A");
    ASSERT_TRUE(key);
    for (CK_OBJECT_HANDLE h : find_by_id(record(key.get())->key_id))
        EXPECT_EQ(attribute(h, CKA_LABEL), Bytes());
    EXPECT_FALSE(std::filesystem::exists(path));

    struct Case {
        std::optional<std::string> file;  // nothing: what the previous generation left
        std::string label, next;
    };
    const Case cases[] = {
        {"0", "0", "1"},        {std::nullopt, "1", "2"}, {"41\n", "41", "42"},
        {"  -3 trailing", "-3", "-2"}, {"no number", "0", "1"}, {"", "0", "1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file.value_or("(left)"));
        if (c.file)
            write_file(path, *c.file);
        key = generate(GostObj::gost3410_2012_512, "A");
        ASSERT_TRUE(key);
        Bytes label(c.label.begin(), c.label.end());
        label.push_back(0);
        std::vector<CK_OBJECT_HANDLE> objects = find_by_id(record(key.get())->key_id);
        ASSERT_EQ(objects.size(), 2u);
        for (CK_OBJECT_HANDLE h : objects)
            EXPECT_EQ(attribute(h, CKA_LABEL), label);
        EXPECT_EQ(read_file(path), c.next);
    }
}

// A pair generated with the "label" option, through a copy of the context
// too; a pair whose labelling fails leaves the token.
TEST_F(KeyGen, TheLabelOptionNamesThePair)
{
    auto labelled = [&](const char *label, std::string *err) {
        // (OpenSSL copies no context once key generation has begun.)
        PkeyCtxPtr c(EVP_PKEY_CTX_new_id(nid(GostObj::gost3410_2012_256), nullptr));
        EXPECT_EQ(EVP_PKEY_CTX_ctrl_str(c.get(), "paramset", "A"), 1);
        EXPECT_EQ(EVP_PKEY_CTX_ctrl_str(c.get(), "label", label), 1);
        PkeyCtxPtr copy(EVP_PKEY_CTX_dup(c.get()));
        EXPECT_TRUE(copy);
        c.reset();  // the copy owns its label
        EXPECT_EQ(EVP_PKEY_keygen_init(copy.get()), 1);
        Stderr captured;
        EVP_PKEY *k = nullptr;
        EVP_PKEY_keygen(copy.get(), &k);
        *err = captured.text();
        return PkeyPtr(k);
    };
    std::string err;
    PkeyPtr key = labelled("my key", &err);
    ASSERT_TRUE(key);
    EXPECT_EQ(err, "");
    std::vector<CK_OBJECT_HANDLE> objects = find_by_id(record(key.get())->key_id);
    ASSERT_EQ(objects.size(), 2u);
    for (CK_OBJECT_HANDLE h : objects)
        EXPECT_EQ(attribute(h, CKA_LABEL), hex_to_bytes("6d 79 20 6b 65 79 00"));

    // CKA_ID on both objects, then the label on the public and the private one.
    for (int skip : {2, 3}) {
        SCOPED_TRACE(skip);
        std::size_t before = count_objects();
        module_fault() = fault_in("C_SetAttributeValue", skip);
        EXPECT_FALSE(labelled("lost", &err));
        module_fault() = ModuleFault();
        EXPECT_EQ(err, "C_SetAttributeValue failed, rc = 0x30\n");
        EXPECT_EQ(count_objects(), before);
    }

    PkeyCtxPtr c(EVP_PKEY_CTX_new_id(nid(GostObj::gost2001), nullptr));
    ASSERT_EQ(EVP_PKEY_keygen_init(c.get()), 1);
    Stderr captured;
    EXPECT_EQ(EVP_PKEY_CTX_ctrl_str(c.get(), "label", ""), 0);
    EXPECT_EQ(captured.text(), "pkey_pkcs11_ctrl_gost2012_str: empty label\n");
}

TEST_F(KeyGen, TheWrapperHandsOutTheHandlesOfTheNewPair)
{
    p11_gost2012_key *rec = p11_gost2012_key_new();
    ASSERT_TRUE(fill_GOST2012_params(rec, nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_test)));
    CK_OBJECT_HANDLE pub = 1, priv = 1;
    ASSERT_EQ(pkcs11_gost2012_keygen_wrapper(token_engine(), rec, session_, &pub, &priv), 1);
    EXPECT_EQ(ulong_of(attribute(pub, CKA_CLASS)), CKO_PUBLIC_KEY);
    EXPECT_EQ(ulong_of(attribute(priv, CKA_CLASS)), CKO_PRIVATE_KEY);
    EXPECT_EQ(attribute(pub, CKA_VALUE), Bytes(rec->pub_key, rec->pub_key + 128));
    EXPECT_EQ(attribute(priv, CKA_ID), Bytes(rec->key_id, rec->key_id + 20));
    EXPECT_EQ(module_record().sessions_opened, 0);  // the caller's session only
    // Without handle outputs as well.
    ASSERT_EQ(pkcs11_gost2012_keygen_wrapper(token_engine(), rec, session_, nullptr, nullptr), 1);
    p11_gost2012_key_free(rec);

    struct Bad {
        int alg, param;
        std::string err;
    };
    const Bad bad[] = {
        {nid(GostObj::gost2001), 0, "pkcs11_gost2012_keygen_wrapper: OBJ_nid2obj can't understand param_nid 0\n"},
        {NID_sha256, nid(GostObj::gost2001_cryptopro_a_paramset),
         "pkcs11_gost2012_keygen_wrapper: Illegal pkey_nid " + std::to_string(NID_sha256) + "\n"},
        // The token refuses a 512-bit curve for a 256-bit key.
        {nid(GostObj::gost3410_2012_256), nid(GostObj::gost3410_2012_512_paramset_a),
         "C_GenerateKeyPair failed, rc = 0xd1\n"},
    };
    std::size_t before = count_objects();
    for (const Bad &b : bad) {
        p11_gost2012_key r{};
        r.alg_nid = b.alg;
        r.param_nid = b.param;
        pub = priv = 7;
        Stderr captured;
        EXPECT_EQ(pkcs11_gost2012_keygen_wrapper(token_engine(), &r, session_, &pub, &priv), 0);
        EXPECT_EQ(captured.text(), b.err);
        EXPECT_EQ(pub, CK_INVALID_HANDLE);
        EXPECT_EQ(priv, CK_INVALID_HANDLE);
        EXPECT_TRUE(gost_key_id_is_zero(r));
    }
    EXPECT_EQ(count_objects(), before);
}

TEST_F(KeyGen, AFailedGenerationLeavesNothingOnTheToken)
{
    std::string path = dir + "/label-index";
    ctx()->label_index_path = path;
    struct Case {
        ModuleFault fault;
        std::string err;
        int rc;
    };
    ModuleFault long_value;
    long_value.value_len = 65;
    const std::string wrapper_failed = "pkcs11_gost2012_keygen_wrapper failed, rc = 0\n";
    const Case cases[] = {
        {fault_in("C_OpenSession"), "C_OpenSession failed, rc = 0x30\n", -1},
        {fault_in("C_GenerateKeyPair", 0, CKR_DEVICE_MEMORY), "C_GenerateKeyPair failed, rc = 0x31\n" + wrapper_failed, 0},
        {fault_in("C_GetAttributeValue"), "C_GetAttributeValue failed, rc = 0x30\n" + wrapper_failed, 0},
        {fault_in("C_GetAttributeValue", 1), "C_GetAttributeValue failed, rc = 0x30\n" + wrapper_failed, 0},
        {long_value, "pkcs11_gost2012_keygen_wrapper: public key of 65 bytes, 64 expected\n" + wrapper_failed, 0},
        // CKA_ID on the public, then the private object; CKA_LABEL likewise.
        {fault_in("C_SetAttributeValue", 0), "C_SetAttributeValue failed, rc = 0x30\n" + wrapper_failed, 0},
        {fault_in("C_SetAttributeValue", 1), "C_SetAttributeValue failed, rc = 0x30\n" + wrapper_failed, 0},
        {fault_in("C_SetAttributeValue", 2), "C_SetAttributeValue failed, rc = 0x30\n" + wrapper_failed, 0},
        {fault_in("C_SetAttributeValue", 3, CKR_ATTRIBUTE_VALUE_INVALID),
         "C_SetAttributeValue failed, rc = 0x13\n" + wrapper_failed, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault.call + "/" + std::to_string(c.fault.skip));
        write_file(path, "5");
        std::size_t before = count_objects();
        int opened = module_record().sessions_opened, closed = module_record().sessions_closed;
        module_fault() = c.fault;
        std::string err;
        int rc = 1;
        PkeyPtr key = generate(GostObj::gost2001, "B", &err, &rc);
        module_fault() = ModuleFault();
        EXPECT_FALSE(key);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(err, c.err);
        EXPECT_EQ(count_objects(), before);
        EXPECT_EQ(read_file(path), "5");
        EXPECT_EQ(module_record().sessions_opened - opened, module_record().sessions_closed - closed);
    }

    // Without a parameter set, and without a login (private objects).
    std::string err;
    EXPECT_FALSE(generate(GostObj::gost3410_2012_256, "", &err));
    EXPECT_EQ(err, "pkey_gost2012_paramgen: No parameters set\npkey_gost2001_paramgen failed\n");
    ASSERT_EQ(f->C_Logout(session_), CKR_OK);
    std::size_t before = count_objects();
    EXPECT_FALSE(generate(GostObj::gost3410_2012_256, "A", &err));
    EXPECT_EQ(err, "C_GenerateKeyPair failed, rc = 0x101\n" + wrapper_failed);
    EXPECT_EQ(count_objects(), before);
    EXPECT_EQ(read_file(path), "5");
}

}  // namespace

namespace {

// SoftHSM2, a module without the GOST mechanisms: every key operation is
// refused with the module's code, and nothing stays on its token.
TEST(ThirdPartyModule, AModuleWithoutGostMechanismsRefusesAndKeepsNothing)
{
    ASSERT_NE(token_engine(), nullptr);
    SoftHsmToken token;
    ASSERT_TRUE(token.ok()) << token.error();
    CK_FUNCTION_LIST *f = token.functions();
    ASSERT_NE(f, nullptr);
    CK_SESSION_HANDLE s = token.open_session(true);
    ASSERT_NE(s, 0u);
    ENGINE *e = token_engine();
    ASSERT_EQ(ENGINE_ctrl(e, PKCS11_CTRL_ATTACH_API_FUNCS, 0, f, nullptr), 1);
    ASSERT_EQ(ENGINE_ctrl(e, PKCS11_CTRL_SET_SESSION, static_cast<long>(s), nullptr, nullptr), 1);
    auto objects = [&] {
        CK_OBJECT_HANDLE h[16];
        CK_ULONG n = 0;
        f->C_FindObjectsInit(s, nullptr, 0);
        f->C_FindObjects(s, h, 16, &n);
        f->C_FindObjectsFinal(s);
        return n;
    };
    CK_ULONG before = objects();

    PkeyCtxPtr c(EVP_PKEY_CTX_new_id(nid(GostObj::gost3410_2012_256), nullptr));
    ASSERT_EQ(EVP_PKEY_keygen_init(c.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_ctrl_str(c.get(), "paramset", "A"), 1);
    EVP_PKEY *k = nullptr;
    Stderr keygen;
    EXPECT_NE(EVP_PKEY_keygen(c.get(), &k), 1);
    EXPECT_EQ(keygen.text(), "C_GenerateKeyPair failed, rc = 0x70\npkcs11_gost2012_keygen_wrapper failed, rc = 0\n");
    EXPECT_EQ(k, nullptr);

    int set = nid(GostObj::gost2001_cryptopro_a_paramset);
    Bytes priv(32, 0x11), digest(32, 0x42);
    Bytes pub = reference_public(set, priv);
    PkeyPtr key = gost_key_from_values(nid(GostObj::gost3410_2012_256), set, pub);
    Bytes sig = reference_sign(set, priv, digest);
    PkeyCtxPtr op(EVP_PKEY_CTX_new(key.get(), nullptr));
    unsigned char out[64];
    std::size_t len = sizeof out;
    Stderr sign;
    ASSERT_EQ(EVP_PKEY_sign_init(op.get()), 1);
    EXPECT_EQ(EVP_PKEY_sign(op.get(), out, &len, digest.data(), digest.size()), 0);
    ASSERT_EQ(EVP_PKEY_verify_init(op.get()), 1);
    EXPECT_EQ(EVP_PKEY_verify(op.get(), sig.data(), sig.size(), digest.data(), digest.size()), 0);
    EXPECT_EQ(sign.text(), "pkcs11_gost2012_do_sign: Token private key not found\nC_VerifyInit failed, rc = 0x70\n");
    EXPECT_EQ(objects(), before);
    p11_engine_ctx(e)->function_list = nullptr;
    p11_engine_ctx(e)->session = 0;
}

}  // namespace
