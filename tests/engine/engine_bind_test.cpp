// Binding the engine: identifier, context defaults, init/finish/destroy,
// the command table as OpenSSL sees it, selectors and the store link.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "engine_test_support.h"
#include "pkcs11_ctrl.h"
#include "pkcs11_methods.h"
#include "store.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/objects.h>

#include <cstring>
#include <vector>

TEST(EngineBind, RegisteredEngineIsFoundByIdWithItsNameAndContext) {
    ENGINE_load_zk_p11_core();
    ENGINE *e = ENGINE_by_id("zk_p11_core_2012");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(ENGINE_get_id(e), "zk_p11_core_2012");
    EXPECT_STREQ(ENGINE_get_name(e), "zk_p11_core_2012");
    EXPECT_NE(ENGINE_get_ex_data(e, 0), nullptr);
    // A second registration neither duplicates nor breaks the first.
    ENGINE_load_zk_p11_core();
    ENGINE *again = ENGINE_by_id("zk_p11_core_2012");
    EXPECT_EQ(again, e);
    ENGINE_free(again);
    ENGINE_free(e);
}

TEST(EngineBind, ContextStartsWithTheDocumentedValues) {
    FreshEngine engine;
    ASSERT_TRUE(engine.bound());
    P11_ENGINE_CTX *ctx = engine.ctx();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(0, memcmp(ctx->gost28147_params_der, kParamZDer, sizeof kParamZDer));
    for (size_t k = sizeof kParamZDer; k < sizeof ctx->gost28147_params_der; ++k)
        EXPECT_EQ(ctx->gost28147_params_der[k], 0) << k;
    EXPECT_EQ(ctx->gost28147_params_nid, OBJ_txt2nid("1.2.643.7.1.2.5.1.1"));
    EXPECT_NE(ctx->gost28147_params_nid, NID_undef);
    EXPECT_EQ(ctx->function_list, nullptr);
    EXPECT_EQ(ctx->slot_id, 0xFFFFFFFFUL);
    EXPECT_EQ(ctx->session_flags, 6UL);
    EXPECT_EQ(ctx->session, 0UL);
    EXPECT_TRUE(ctx->pin.empty());
    EXPECT_EQ(ctx->pin_len, 0UL);
    EXPECT_EQ(ctx->pin_callback, nullptr);
    EXPECT_EQ(ctx->logged_in, 0);
    EXPECT_FALSE(ctx->label_index_path);
    EXPECT_FALSE(ctx->default_token_path);
    EXPECT_FALSE(ctx->default_token_serial);
    EXPECT_EQ(ctx->private_key_extractable, -1);
    EXPECT_EQ(ctx->private_key_sensitive, -1);
}

TEST(EngineBind, IdentifierSuffixSelectsTheSlot) {
    struct Case {
        const char *id;
        CK_SLOT_ID slot;
    } cases[] = {
        {"zk_p11_core_2012", 0xFFFFFFFFUL}, {"zk_p11_core_2012:3", 3},  {"zk_p11_core_2012:x", 0},
        {"zk_p11_core_2012::7", 7},          {"zk_p11_core_2012:", 0xFFFFFFFFUL}, {"zk:12:5", 12},
    };
    for (const Case &c : cases) {
        FreshEngine engine(c.id);
        ASSERT_TRUE(engine.bound()) << c.id;
        EXPECT_EQ(engine.ctx()->slot_id, c.slot) << c.id;
        // The bind step keeps the whole text, suffix included, as the id.
        EXPECT_STREQ(ENGINE_get_id(engine.get()), c.id);
    }
}

TEST(EngineBind, NullIdentifierGivesTheDefaultOne) {
    FreshEngine engine(nullptr);
    ASSERT_TRUE(engine.bound());
    EXPECT_STREQ(ENGINE_get_id(engine.get()), "zk11sw2012");
    EXPECT_EQ(engine.ctx()->slot_id, 0xFFFFFFFFUL);
}

TEST(EngineBind, IdentifierTextIsCopied) {
    char id[] = "zk_temp:4";
    FreshEngine engine(id);
    ASSERT_TRUE(engine.bound());
    memset(id, 'X', sizeof id - 1);
    EXPECT_STREQ(ENGINE_get_id(engine.get()), "zk_temp:4");
}

TEST(EngineBind, InitAndFinishNeedTheContext) {
    FreshEngine engine;
    ASSERT_TRUE(engine.bound());
    ASSERT_EQ(ENGINE_init(engine.get()), 1);
    EXPECT_EQ(ENGINE_finish(engine.get()), 1);

    ENGINE *bare = ENGINE_new();
    testing::internal::CaptureStderr();
    EXPECT_EQ(zk_p11_init(bare), 0);
    EXPECT_EQ(zk_p11_destroy(bare), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ENGINE_get_ex_data failed\nENGINE_get_ex_data failed\n");
    ENGINE_free(bare);
}

TEST(EngineBind, DestroyDetachesTheContext) {
    FreshEngine engine;
    ASSERT_TRUE(engine.bound());
    engine.ctx()->pin.assign("1234", 4);
    engine.ctx()->label_index_path = "/tmp/index";
    // Called out of OpenSSL's order (it frees the key methods first): the
    // engine can no longer hand its methods back, so the test frees them.
    std::vector<EVP_PKEY_METHOD *> pkey_meths = engine.ctx()->pkey_meths;
    std::vector<EVP_PKEY_ASN1_METHOD *> asn1_meths = engine.ctx()->asn1_meths;
    EXPECT_EQ(zk_p11_destroy(engine.get()), 1);
    EXPECT_EQ(engine.ctx(), nullptr);
    for (EVP_PKEY_METHOD *m : pkey_meths)
        EVP_PKEY_meth_free(m);
    for (EVP_PKEY_ASN1_METHOD *m : asn1_meths)
        EVP_PKEY_asn1_free(m);
    // Controls now fail cleanly.
    std::string err;
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_RESERVED, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "ENGINE_get_ex_data failed\n");
}

TEST(EngineBind, CommandTableIsExact) {
    struct Row {
        int num;
        const char *name;
        const char *desc;
    } rows[] = {
        {200, "ATTACH_API", "Attach to PKCS#11 API library"},
        {201, "OPEN_SESSION", "Open session for given slot ID"},
        {202, "CLOSE_SESSION", "Close current session"},
        {203, "LOGIN", "Set PIN for current session"},
        {204, "LOGOUT", "Logout for current session"},
        {205, "PARAMS_GOST28147", "GOST 28147 CryptoPro param set"},
        {206, "DEFAULT_TOKEN_PATH", "Set default token path"},
        {207, "DEFAULT_TOKEN_SERIAL", "Set default token serial"},
        {208, "ENGINE_ID", "Set ENGINE ID"},
        {209, "LABEL_INDEX_PATH", "Keypair label index file path"},
        {210, "PRIVATE_KEY_EXTRACTABLE", "Private key CKA_EXTRACTABLE attribute"},
        {211, "PRIVATE_KEY_SENSITIVE", "Private key CKA_SENSITIVE attribute"},
        {212, "SET_SESSION", "Set already opened session"},
        {213, "ATTACH_API_FUNCS", "Attach to PKCS#11 API library function list"},
        {220, "LOGIN_ON_USE", "Set PIN to log in with when a token key is first used"},
    };
    const ENGINE_CMD_DEFN *defns = pkcs11_engine_cmd_defns();
    size_t k = 0;
    for (const Row &row : rows) {
        ASSERT_NE(defns[k].cmd_num, 0u) << k;
        EXPECT_EQ(defns[k].cmd_num, static_cast<unsigned>(row.num));
        EXPECT_STREQ(defns[k].cmd_name, row.name);
        EXPECT_STREQ(defns[k].cmd_desc, row.desc);
        EXPECT_EQ(defns[k].cmd_flags, static_cast<unsigned>(ENGINE_CMD_FLAG_STRING));
        ++k;
    }
    EXPECT_EQ(defns[k].cmd_num, 0u);
    EXPECT_EQ(defns[k].cmd_name, nullptr);
    EXPECT_EQ(defns[k].cmd_desc, nullptr);
    EXPECT_EQ(defns[k].cmd_flags, 0u);

    // OpenSSL resolves every name and description through the engine.
    FreshEngine engine;
    ASSERT_TRUE(engine.bound());
    ENGINE *e = engine.get();
    for (const Row &row : rows) {
        EXPECT_EQ(ENGINE_ctrl(e, ENGINE_CTRL_GET_CMD_FROM_NAME, 0, const_cast<char *>(row.name), nullptr), row.num);
        char desc[128] = {};
        ASSERT_GT(ENGINE_ctrl(e, ENGINE_CTRL_GET_DESC_FROM_CMD, row.num, desc, nullptr), 0);
        EXPECT_STREQ(desc, row.desc);
        EXPECT_EQ(ENGINE_ctrl(e, ENGINE_CTRL_GET_CMD_FLAGS, row.num, nullptr, nullptr), ENGINE_CMD_FLAG_STRING);
    }
    EXPECT_TRUE(ENGINE_ctrl(e, ENGINE_CTRL_HAS_CTRL_FUNCTION, 0, nullptr, nullptr));
}

TEST(EngineBind, SelectorsHandOutTheirListsAndRefuseUnknownNids) {
    const int *nids = reinterpret_cast<const int *>(1);
    int n = pkcs11_digests(nullptr, nullptr, &nids, 0);
    ASSERT_GE(n, 0);
    for (int k = 0; k < n; ++k) {
        const EVP_MD *md = nullptr;
        EXPECT_EQ(pkcs11_digests(nullptr, &md, nullptr, nids[k]), 1);
        EXPECT_NE(md, nullptr);
    }
    const EVP_MD *md = EVP_sha256();
    EXPECT_EQ(pkcs11_digests(nullptr, &md, nullptr, NID_sha256), 0);
    EXPECT_EQ(md, nullptr);

    n = pkcs11_ciphers(nullptr, nullptr, &nids, 0);
    ASSERT_GE(n, 0);
    const EVP_CIPHER *cipher = EVP_aes_128_cbc();
    EXPECT_EQ(pkcs11_ciphers(nullptr, &cipher, nullptr, NID_aes_128_cbc), 0);
    EXPECT_EQ(cipher, nullptr);

    n = pkcs11_pkey_meths(nullptr, nullptr, &nids, 0);
    ASSERT_GE(n, 0);
    EVP_PKEY_METHOD *pmeth = reinterpret_cast<EVP_PKEY_METHOD *>(1);
    EXPECT_EQ(pkcs11_pkey_meths(nullptr, &pmeth, nullptr, NID_rsaEncryption), 0);
    EXPECT_EQ(pmeth, nullptr);

    n = pkcs11_pkey_asn1_meths(nullptr, nullptr, &nids, 0);
    ASSERT_GE(n, 0);
    EVP_PKEY_ASN1_METHOD *ameth = reinterpret_cast<EVP_PKEY_ASN1_METHOD *>(1);
    EXPECT_EQ(pkcs11_pkey_asn1_meths(nullptr, &ameth, nullptr, NID_rsaEncryption), 0);
    EXPECT_EQ(ameth, nullptr);
}

TEST(EngineBind, EngineCarriesTheStoreMethod) {
    FreshEngine engine;
    ASSERT_TRUE(engine.bound());
    const STORE_METHOD *m = ENGINE_get_STORE(engine.get());
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "ZK PKCS11");
}

TEST(EngineBind, EachEngineHasItsOwnKeyMethodsAndFreesOnlyThose) {
    FreshEngine a;
    ASSERT_TRUE(a.bound());
    const int *nids = nullptr;
    int n = pkcs11_pkey_asn1_meths(a.get(), nullptr, &nids, 0);
    std::vector<EVP_PKEY_ASN1_METHOD *> mine;
    for (int k = 0; k < n; ++k) {
        EVP_PKEY_ASN1_METHOD *m = nullptr;
        ASSERT_EQ(pkcs11_pkey_asn1_meths(a.get(), &m, nullptr, nids[k]), 1);
        mine.push_back(m);
    }
    {
        FreshEngine b;  // made and freed while a lives
        ASSERT_TRUE(b.bound());
        for (int k = 0; k < n; ++k) {
            EVP_PKEY_ASN1_METHOD *m = nullptr;
            ASSERT_EQ(pkcs11_pkey_asn1_meths(b.get(), &m, nullptr, nids[k]), 1);
            EXPECT_NE(m, mine[static_cast<size_t>(k)]);
        }
    }
    // a's methods are intact (the sanitizer build would catch a free).
    for (int k = 0; k < n; ++k) {
        int id = 0;
        ASSERT_EQ(EVP_PKEY_asn1_get0_info(&id, nullptr, nullptr, nullptr, nullptr, mine[static_cast<size_t>(k)]), 1);
        EXPECT_EQ(id, nids[k]);
    }
}

TEST(EngineBind, EngineWithoutContextOffersNoKeyMethods) {
    FreshEngine engine;
    ASSERT_TRUE(engine.bound());
    P11_ENGINE_CTX *ctx = engine.ctx();
    ENGINE_set_ex_data(engine.get(), 0, nullptr);
    const int *nids = reinterpret_cast<const int *>(1);
    EXPECT_EQ(pkcs11_pkey_asn1_meths(engine.get(), nullptr, &nids, 0), 0);
    EXPECT_EQ(nids, nullptr);
    EXPECT_EQ(pkcs11_pkey_meths(engine.get(), nullptr, &nids, 0), 0);
    ENGINE_set_ex_data(engine.get(), 0, ctx);
}
