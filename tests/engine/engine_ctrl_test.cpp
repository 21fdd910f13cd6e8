// The control commands other than LOGIN/LOGOUT: range checks, attaching the
// module, sessions, and the settings kept in the context.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "engine_test_support.h"
#include "softhsm_token.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/objects.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// A copy of a module's function list with some entries replaced.
CK_RV fail_initialize(void *) { return CKR_GENERAL_ERROR; }
int initialize_calls = 0;
CK_RV count_failing_initialize(void *) {
    ++initialize_calls;
    return CKR_GENERAL_ERROR;
}
CK_RV already_initialized(void *) { return CKR_CRYPTOKI_ALREADY_INITIALIZED; }
CK_RV fail_slot_list(CK_BBOOL, CK_SLOT_ID *, CK_ULONG *) { return CKR_DEVICE_ERROR; }
CK_RV fail_slot_info(CK_SLOT_ID, CK_SLOT_INFO *) { return CKR_DEVICE_ERROR; }
CK_RV no_slots(CK_BBOOL, CK_SLOT_ID *, CK_ULONG *count) {
    *count = 0;
    return CKR_OK;
}

class EngineWithToken : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(token_.ok()) << token_.error();
        ASSERT_NE(token_.functions(), nullptr) << token_.error();
        ASSERT_TRUE(engine_.bound());
    }
    // Attaches the token's module through the function-list command.
    void attach() {
        std::string err;
        ASSERT_EQ(engine_.ctrl(PKCS11_CTRL_ATTACH_API_FUNCS, 0, token_.functions(), nullptr, &err), 1) << err;
        ASSERT_EQ(err, "");
    }
    CK_SESSION_INFO session_info(CK_SESSION_HANDLE session) {
        CK_SESSION_INFO info;
        memset(&info, 0, sizeof info);
        EXPECT_EQ(token_.functions()->C_GetSessionInfo(session, &info), CKR_OK);
        return info;
    }

    SoftHsmToken token_;
    FreshEngine engine_;
};

}  // namespace

TEST(EngineCtrl, CommandNumbersOutsideTheTableAreRejectedWithTheirOffset) {
    FreshEngine engine;
    ASSERT_TRUE(engine.bound());
    std::string err;
    EXPECT_EQ(engine.ctrl(199, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "param -1 out of range [0, 14]\n");
    EXPECT_EQ(engine.ctrl(215, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "param 15 out of range [0, 14]\n");
    EXPECT_EQ(engine.ctrl(ENGINE_CTRL_SET_LOGSTREAM, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "param -199 out of range [0, 14]\n");
}

TEST(EngineCtrl, NumberTwoHundredFourteenIsAcceptedAndChangesNothing) {
    FreshEngine engine;
    ASSERT_TRUE(engine.bound());
    P11_ENGINE_CTX before_flags = {};
    before_flags.session_flags = engine.ctx()->session_flags;
    std::string err;
    EXPECT_EQ(engine.ctrl(214, 5, const_cast<char *>("x"), nullptr, &err), 1);
    EXPECT_EQ(err, "");
    EXPECT_EQ(engine.ctx()->session_flags, before_flags.session_flags);
    EXPECT_EQ(engine.ctx()->slot_id, P11_NO_SLOT);
    EXPECT_EQ(engine.ctx()->session, 0UL);
    EXPECT_EQ(engine.ctx()->function_list, nullptr);
}

TEST(EngineCtrl, AttachApiLoadsTheLibraryByPath) {
    SoftHsmToken token;
    ASSERT_TRUE(token.ok()) << token.error();
    FreshEngine engine;
    std::string err;
    EXPECT_EQ(engine.ctrl_string("ATTACH_API", "/nonexistent/libmodule.so", &err), 0);
    EXPECT_EQ(err, "Can't load library /nonexistent/libmodule.so\n");
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_ATTACH_API, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "Can't load library (null)\n");
    // A library that is no PKCS#11 module.
    EXPECT_EQ(engine.ctrl_string("ATTACH_API", "libz.so.1", &err), 0);
    EXPECT_EQ(err, "GetProcAddress failed\n");
    EXPECT_EQ(engine.ctx()->function_list, nullptr);

    EXPECT_EQ(engine.ctrl_string("ATTACH_API", token.module_path().c_str(), &err), 1) << err;
    EXPECT_EQ(err, "");
    EXPECT_NE(engine.ctx()->function_list, nullptr);
    // The module is now initialised in this process; let the token helper
    // finalise it.
    EXPECT_NE(token.functions(), nullptr);
}

TEST_F(EngineWithToken, AttachApiFuncsAcceptsAModuleTheCallerInitialised) {
    // As the tool does it: the pointer travels as the command's "string".
    std::string err;
    EXPECT_EQ(engine_.ctrl_string("ATTACH_API_FUNCS", reinterpret_cast<const char *>(token_.functions()), &err), 1)
        << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(engine_.ctx()->function_list, token_.functions());
}

TEST_F(EngineWithToken, AttachApiFuncsRejectsANullList) {
    std::string err;
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_ATTACH_API_FUNCS, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "NULL function list pointer\n");
}

TEST_F(EngineWithToken, AttachFailsWhenTheModuleCannotBeInitialisedOrProbed) {
    CK_FUNCTION_LIST broken = *token_.functions();
    broken.C_Initialize = count_failing_initialize;
    initialize_calls = 0;
    std::string err;
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_ATTACH_API_FUNCS, 0, &broken, nullptr, &err), 0);
    EXPECT_EQ(err, "C_Initialize failed (check PKCS#11 library path or function list pointer).\n");
    EXPECT_EQ(initialize_calls, 2);  // with locking arguments, then without

    broken.C_Initialize = already_initialized;
    broken.C_GetSlotList = fail_slot_list;
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_ATTACH_API_FUNCS, 0, &broken, nullptr, &err), 0);
    EXPECT_EQ(err, "C_GetSlotList failed\n");
    engine_.ctx()->function_list = nullptr;
    (void)fail_initialize;
}

TEST(EngineCtrl, OpenSessionNeedsFlagsAndAModule) {
    FreshEngine engine;
    std::string err;
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_OPEN_SESSION, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "PKCS11_CTRL_OPEN_SESSION: Session flags not set\n");
    // The flags are kept even though the module is missing.
    EXPECT_EQ(engine.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION", &err), 0);
    EXPECT_EQ(err, "PKCS11_CTRL_OPEN_SESSION: api not attached\n");
    EXPECT_EQ(engine.ctx()->session_flags, static_cast<CK_FLAGS>(CKF_SERIAL_SESSION));
}

TEST_F(EngineWithToken, OpenSessionReadsFlagsFromTextOrAFlagsWord) {
    attach();
    std::string err;
    ASSERT_EQ(engine_.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION | CKF_RW_SESSION", &err), 1) << err;
    EXPECT_EQ(engine_.ctx()->session_flags, static_cast<CK_FLAGS>(CKF_SERIAL_SESSION | CKF_RW_SESSION));
    // No slot was chosen: the first slot with a token is taken.
    EXPECT_EQ(engine_.ctx()->slot_id, token_.slot());
    EXPECT_EQ(session_info(engine_.ctx()->session).state, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));

    ASSERT_EQ(engine_.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION", &err), 1) << err;
    EXPECT_EQ(session_info(engine_.ctx()->session).state, static_cast<CK_STATE>(CKS_RO_PUBLIC_SESSION));

    uint32_t word = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    ASSERT_EQ(engine_.ctrl(PKCS11_CTRL_OPEN_SESSION, 0, &word, nullptr, &err), 1) << err;
    EXPECT_EQ(session_info(engine_.ctx()->session).state, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));
}

TEST_F(EngineWithToken, OpenSessionWithOnlyTheRwNameTakesTheTextAsAFlagsWord) {
    attach();
    std::string err;
    EXPECT_EQ(engine_.ctrl_string("OPEN_SESSION", "CKF_RW_SESSION", &err), 0);
    uint32_t word;
    memcpy(&word, "CKF_", 4);
    EXPECT_EQ(engine_.ctx()->session_flags, static_cast<CK_FLAGS>(word));
    // Without the serial bit the module refuses the session.
    EXPECT_EQ(err, "C_OpenSession failed, rc = 0xb4\nPKCS11_CTRL_OPEN_SESSION: open_session failed\n");
}

TEST(EngineCtrl, OpenSessionReadsAShortTextOnlyUpToItsEnd) {
    FreshEngine engine;
    std::string err;
    EXPECT_EQ(engine.ctrl_string("OPEN_SESSION", "\x06", &err), 0);
    EXPECT_EQ(engine.ctx()->session_flags, 6UL);
}

TEST_F(EngineWithToken, OpenSessionOnAChosenSlot) {
    attach();
    engine_.ctx()->slot_id = 4242;
    std::string err;
    EXPECT_EQ(engine_.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION", &err), 0);
    EXPECT_EQ(err, "C_OpenSession failed, rc = 0x3\nPKCS11_CTRL_OPEN_SESSION: open_session failed\n");
    EXPECT_EQ(engine_.ctx()->session, 0UL);
}

TEST_F(EngineWithToken, OpenSessionReportsSlotListFailures) {
    CK_FUNCTION_LIST broken = *token_.functions();
    broken.C_Initialize = already_initialized;
    ASSERT_EQ(engine_.ctrl(PKCS11_CTRL_ATTACH_API_FUNCS, 0, &broken, nullptr, nullptr), 1);
    std::string err;
    broken.C_GetSlotInfo = fail_slot_info;
    EXPECT_EQ(engine_.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION", &err), 0);
    EXPECT_EQ(err, "Can't get slot info\nPKCS11_CTRL_OPEN_SESSION: open_session failed\n");
    broken.C_GetSlotList = no_slots;
    EXPECT_EQ(engine_.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION", &err), 0);
    EXPECT_EQ(err, "Zero slots count\nPKCS11_CTRL_OPEN_SESSION: open_session failed\n");
    broken.C_GetSlotList = fail_slot_list;
    EXPECT_EQ(engine_.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION", &err), 0);
    EXPECT_EQ(err, "C_GetSlotList failed, rc = 0x30\nPKCS11_CTRL_OPEN_SESSION: open_session failed\n");
    EXPECT_EQ(engine_.ctx()->slot_id, P11_NO_SLOT);
}

TEST_F(EngineWithToken, CloseSessionClosesAtTheModuleAndKeepsTheHandle) {
    attach();
    ASSERT_EQ(engine_.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION", nullptr), 1);
    CK_SESSION_HANDLE session = engine_.ctx()->session;
    std::string err;
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_CLOSE_SESSION, 0, nullptr, nullptr, &err), 1);
    EXPECT_EQ(err, "");
    EXPECT_EQ(engine_.ctx()->session, session);
    CK_SESSION_INFO info;
    EXPECT_EQ(token_.functions()->C_GetSessionInfo(session, &info), static_cast<CK_RV>(CKR_SESSION_HANDLE_INVALID));
    // Closing again: the module's line (without line end), then ours.
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_CLOSE_SESSION, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "C_CloseSession failed, rc = 0xb3close_session failed\n");
}

TEST(EngineCtrl, CloseSessionWithoutAModuleFails) {
    FreshEngine engine;
    std::string err;
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_CLOSE_SESSION, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "close_session failed\n");
}

TEST_F(EngineWithToken, SetSessionAdoptsTheCallersSessionAndItsSlot) {
    attach();
    CK_SESSION_HANDLE session = token_.open_session();
    ASSERT_NE(session, 0UL);
    std::string err;
    // As the tool does it: the handle in the long argument, by name.
    EXPECT_EQ(ENGINE_ctrl_cmd(engine_.get(), "SET_SESSION", static_cast<long>(session), nullptr, nullptr, 0), 1);
    EXPECT_EQ(engine_.ctx()->session, session);
    EXPECT_EQ(engine_.ctx()->slot_id, token_.slot());
    EXPECT_EQ(engine_.ctx()->session_flags, static_cast<CK_FLAGS>(CKF_SERIAL_SESSION | CKF_RW_SESSION));
    EXPECT_EQ(engine_.ctx()->logged_in, 0);
}

TEST_F(EngineWithToken, SetSessionRejectsZeroAndUnknownHandles) {
    attach();
    std::string err;
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_SET_SESSION, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "set session failed\n");
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_SET_SESSION, 0x3039, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "C_GetSessionInfo failed for session 0x3039, rc = 0xb3\n");
    // The rejected handle stays in the context; the slot is untouched.
    EXPECT_EQ(engine_.ctx()->session, 0x3039UL);
    EXPECT_EQ(engine_.ctx()->slot_id, P11_NO_SLOT);
}

TEST(EngineCtrl, SetSessionWithoutAModuleFails) {
    FreshEngine engine;
    std::string err;
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_SET_SESSION, 7, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "PKCS11_CTRL_SET_SESSION: api not attached\n");
}

TEST(EngineCtrl, ParamsGost28147StoresTheParameterSetsDer) {
    FreshEngine engine;
    P11_ENGINE_CTX *ctx = engine.ctx();
    std::string err;
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_PARAMS_GOST28147, 0, nullptr, nullptr, &err), 1);
    EXPECT_EQ(0, memcmp(ctx->gost28147_params_der, kParamZDer, sizeof kParamZDer));

    // CryptoPro A: 1.2.643.2.2.31.1.
    ASSERT_EQ(engine.ctrl_string("PARAMS_GOST28147", "1.2.643.2.2.31.1", &err), 1) << err;
    const unsigned char cryptopro_a[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01};
    EXPECT_EQ(0, memcmp(ctx->gost28147_params_der, cryptopro_a, sizeof cryptopro_a));
    EXPECT_EQ(ctx->gost28147_params_nid, OBJ_txt2nid("1.2.643.2.2.31.1"));
    // The tail of the longer default is left in place behind the shorter OID.
    EXPECT_EQ(ctx->gost28147_params_der[9], 0x01);

    ASSERT_EQ(engine.ctrl_string("PARAMS_GOST28147", "id-tc26-gost-28147-param-Z", &err), 1);
    EXPECT_EQ(0, memcmp(ctx->gost28147_params_der, kParamZDer, sizeof kParamZDer));
    EXPECT_EQ(ctx->gost28147_params_nid, OBJ_txt2nid("1.2.643.7.1.2.5.1.1"));

    ASSERT_EQ(engine.ctrl_string("PARAMS_GOST28147", "no-such-parameter-set", &err), 1);
    EXPECT_EQ(ctx->gost28147_params_nid, 0);
    EXPECT_EQ(ctx->gost28147_params_der[0], 0x06);
    EXPECT_EQ(ctx->gost28147_params_der[1], 0x00);
}

TEST(EngineCtrl, ParamsGost28147RefusesAnIdentifierTooLongForItsBuffer) {
    FreshEngine engine;
    std::string err;
    const char *long_oid = "1.2.643.7.1.2.5.1.1.99999.99999.99999.99999.99999";
    ASSERT_NE(OBJ_create(long_oid, "test-long-paramset", "test long parameter set"), NID_undef);
    EXPECT_EQ(engine.ctrl_string("PARAMS_GOST28147", "test-long-paramset", &err), 0);
    EXPECT_EQ(err, "PKCS11_CTRL_PARAMS_GOST28147: object identifier too long\n");
    EXPECT_EQ(0, memcmp(engine.ctx()->gost28147_params_der, kParamZDer, sizeof kParamZDer));
    EXPECT_EQ(engine.ctx()->gost28147_params_nid, 0);
}

TEST(EngineCtrl, TextSettingsAreKeptAndReplaced) {
    FreshEngine engine;
    P11_ENGINE_CTX *ctx = engine.ctx();
    EXPECT_EQ(engine.ctrl_string("DEFAULT_TOKEN_PATH", "/dev/token0", nullptr), 1);
    EXPECT_EQ(engine.ctrl_string("DEFAULT_TOKEN_SERIAL", "00112233", nullptr), 1);
    EXPECT_EQ(engine.ctrl_string("LABEL_INDEX_PATH", "/tmp/index", nullptr), 1);
    EXPECT_EQ(ctx->default_token_path.value_or("?"), "/dev/token0");
    EXPECT_EQ(ctx->default_token_serial.value_or("?"), "00112233");
    EXPECT_EQ(ctx->label_index_path.value_or("?"), "/tmp/index");
    EXPECT_EQ(engine.ctrl_string("LABEL_INDEX_PATH", "/tmp/other", nullptr), 1);
    EXPECT_EQ(ctx->label_index_path.value_or("?"), "/tmp/other");
    // A missing argument changes nothing and succeeds.
    for (int cmd : {PKCS11_CTRL_DEFAULT_TOKEN_PATH, PKCS11_CTRL_DEFAULT_TOKEN_SERIAL, PKCS11_CTRL_LABEL_INDEX_PATH})
        EXPECT_EQ(engine.ctrl(cmd, 0, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ctx->default_token_path.value_or("?"), "/dev/token0");
    EXPECT_EQ(ctx->label_index_path.value_or("?"), "/tmp/other");
}

TEST(EngineCtrl, EngineIdKeepsTheNameAndTakesTheSlot) {
    FreshEngine engine;
    std::string err;
    ASSERT_EQ(engine.ctrl_string("ENGINE_ID", "my_engine:5", &err), 1) << err;
    EXPECT_STREQ(ENGINE_get_id(engine.get()), "my_engine");
    EXPECT_EQ(engine.ctx()->slot_id, 5UL);
    ASSERT_EQ(engine.ctrl_string("ENGINE_ID", "plain", &err), 1);
    EXPECT_STREQ(ENGINE_get_id(engine.get()), "plain");
    EXPECT_EQ(engine.ctx()->slot_id, P11_NO_SLOT);
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_ENGINE_ID, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "ENGINE_set_id failed\n");
    EXPECT_STREQ(ENGINE_get_id(engine.get()), "plain");
}

TEST(EngineCtrl, PrivateKeyFlagsTakeDecimalValues) {
    FreshEngine engine;
    P11_ENGINE_CTX *ctx = engine.ctx();
    EXPECT_EQ(engine.ctrl_string("PRIVATE_KEY_EXTRACTABLE", "1", nullptr), 1);
    EXPECT_EQ(engine.ctrl_string("PRIVATE_KEY_SENSITIVE", "0", nullptr), 1);
    EXPECT_EQ(ctx->private_key_extractable, 1);
    EXPECT_EQ(ctx->private_key_sensitive, 0);
    EXPECT_EQ(engine.ctrl_string("PRIVATE_KEY_EXTRACTABLE", "-1", nullptr), 1);
    EXPECT_EQ(ctx->private_key_extractable, -1);
    std::string err;
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_PRIVATE_KEY_SENSITIVE, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "PKCS11_CTRL_PRIVATE_KEY_SENSITIVE: value not set\n");
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_PRIVATE_KEY_EXTRACTABLE, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "PKCS11_CTRL_PRIVATE_KEY_EXTRACTABLE: value not set\n");
    EXPECT_EQ(ctx->private_key_sensitive, 0);
}
