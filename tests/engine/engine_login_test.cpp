// LOGIN with its three PIN sources, LOGOUT, and a wrong LOGIN_ON_USE PIN.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "engine_test_support.h"
#include "pkcs11_login_on_use.h"
#include "softhsm_token.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>

#include <cstring>
#include <string>

namespace {

class Login : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(token_.ok()) << token_.error();
        ASSERT_NE(token_.functions(), nullptr) << token_.error();
        ASSERT_TRUE(engine_.bound());
        ASSERT_EQ(engine_.ctrl(PKCS11_CTRL_ATTACH_API_FUNCS, 0, token_.functions(), nullptr, nullptr), 1);
        session_ = token_.open_session();
        ASSERT_NE(session_, 0UL);
        ASSERT_EQ(engine_.ctrl(PKCS11_CTRL_SET_SESSION, static_cast<long>(session_), nullptr, nullptr, nullptr), 1);
    }
    CK_STATE state() {
        CK_SESSION_INFO info;
        EXPECT_EQ(token_.functions()->C_GetSessionInfo(session_, &info), CKR_OK);
        return info.state;
    }
    int login_with(int (*callback)(char *, int, const char *, int), const char *prompt, long verify,
                   std::string *err) {
        return engine_.ctrl(PKCS11_CTRL_LOGIN, verify, const_cast<char *>(prompt),
                            reinterpret_cast<void (*)(void)>(callback), err);
    }

    SoftHsmToken token_;
    FreshEngine engine_;
    CK_SESSION_HANDLE session_ = 0;
};

struct CallbackCall {
    int calls = 0;
    int len = 0;
    std::string prompt;
    int verify = -1;
};
CallbackCall last_call;

int record(char *, int len, const char *prompt, int verify) {
    ++last_call.calls;
    last_call.len = len;
    last_call.prompt = prompt ? prompt : "(null)";
    last_call.verify = verify;
    return 0;
}
int right_pin(char *buf, int len, const char *prompt, int verify) {
    record(buf, len, prompt, verify);
    strcpy(buf, SoftHsmToken::kUserPin);
    return 0;
}
int wrong_pin(char *buf, int, const char *, int) {
    strcpy(buf, "0000");
    return 0;
}
int cancel(char *buf, int, const char *, int) {
    strcpy(buf, "1234");  // whatever it wrote does not count
    return -1;
}
int empty_pin(char *, int, const char *, int) { return 0; }
int fills_whole_buffer(char *buf, int len, const char *, int) {
    memset(buf, '7', static_cast<size_t>(len));
    return 0;
}

}  // namespace

TEST_F(Login, PinGivenAsTextLogsInAndIsNotKept) {
    std::string err;
    ASSERT_EQ(engine_.ctrl_string("LOGIN", SoftHsmToken::kUserPin, &err), 1) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(engine_.ctx()->logged_in, 1);
    EXPECT_TRUE(engine_.ctx()->pin.empty());
    EXPECT_EQ(engine_.ctx()->pin_len, 0UL);
    EXPECT_EQ(state(), static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));
}

TEST_F(Login, WrongPinIsRefused) {
    std::string err;
    EXPECT_EQ(engine_.ctrl_string("LOGIN", "0000", &err), 0);
    EXPECT_EQ(err, "C_Login failed, rc = 0xa0\nlogin failed\n");
    EXPECT_EQ(engine_.ctx()->logged_in, 0);
    EXPECT_TRUE(engine_.ctx()->pin.empty());
}

TEST_F(Login, AlreadyLoggedInCounts) {
    CK_SESSION_HANDLE other = token_.open_session(true);
    ASSERT_NE(other, 0UL);
    std::string err;
    EXPECT_EQ(engine_.ctrl_string("LOGIN", SoftHsmToken::kUserPin, &err), 1) << err;
    EXPECT_EQ(engine_.ctx()->logged_in, 1);
}

TEST(LoginWithoutModule, IsRefused) {
    FreshEngine engine;
    std::string err;
    EXPECT_EQ(engine.ctrl_string("LOGIN", "1234", &err), 0);
    EXPECT_EQ(err, "PKCS11_CTRL_LOGIN: api not attached\n");
    EXPECT_EQ(engine.ctrl(PKCS11_CTRL_LOGIN, 0, nullptr, reinterpret_cast<void (*)(void)>(right_pin), &err), 0);
    EXPECT_EQ(err, "PKCS11_CTRL_LOGIN: api not attached\n");
}

TEST_F(Login, CallbackGetsPromptVerifyFlagAndBufferSizeAndThePinIsKept) {
    last_call = {};
    std::string err;
    ASSERT_EQ(login_with(right_pin, "Token PIN:", 0, &err), 1) << err;
    EXPECT_EQ(last_call.calls, 1);
    EXPECT_EQ(last_call.len, 80);
    EXPECT_EQ(last_call.prompt, "Token PIN:");
    EXPECT_EQ(last_call.verify, 0);
    EXPECT_EQ(engine_.ctx()->logged_in, 1);
    EXPECT_STREQ(engine_.ctx()->pin.c_str(), SoftHsmToken::kUserPin);
    EXPECT_EQ(engine_.ctx()->pin_len, strlen(SoftHsmToken::kUserPin));
    EXPECT_EQ(engine_.ctx()->pin_callback, right_pin);

    // The verify flag travels in the long argument.
    ASSERT_EQ(login_with(right_pin, "Again:", 1, &err), 1) << err;
    EXPECT_EQ(last_call.verify, 1);
    EXPECT_EQ(last_call.prompt, "Again:");
}

TEST_F(Login, CallbackFailuresAndTheKeptPinIsDropped) {
    std::string err;
    // Before any login: a wrong PIN is not kept.
    EXPECT_EQ(login_with(wrong_pin, "PIN:", 0, &err), 0);
    EXPECT_EQ(err, "C_Login failed, rc = 0xa0\nlogin failed\n");
    EXPECT_TRUE(engine_.ctx()->pin.empty());
    EXPECT_EQ(engine_.ctx()->pin_len, 0UL);
    EXPECT_EQ(engine_.ctx()->logged_in, 0);

    ASSERT_EQ(login_with(right_pin, "PIN:", 0, &err), 1);
    ASSERT_FALSE(engine_.ctx()->pin.empty());

    // A new LOGIN drops the kept PIN before it asks.
    EXPECT_EQ(login_with(cancel, "PIN:", 0, &err), 0);
    EXPECT_EQ(err, "PIN callback cancelled\n");
    EXPECT_TRUE(engine_.ctx()->pin.empty());

    EXPECT_EQ(login_with(empty_pin, "PIN:", 0, &err), 0);
    EXPECT_EQ(err, "Null PIN length\n");
}

TEST_F(Login, CallbackThatFillsTheWholeBufferIsReadSafely) {
    std::string err;
    EXPECT_EQ(login_with(fills_whole_buffer, "PIN:", 0, &err), 0);
    // An 80-character PIN reaches the module intact, and is refused there.
    EXPECT_NE(err.find("login failed\n"), std::string::npos) << err;
    EXPECT_TRUE(engine_.ctx()->pin.empty());
}

TEST_F(Login, LogoutEndsTheLoginOnceOnly) {
    std::string err;
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_LOGOUT, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "User not logged in\n");

    ASSERT_EQ(engine_.ctrl_string("LOGIN", SoftHsmToken::kUserPin, &err), 1) << err;
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_LOGOUT, 0, nullptr, nullptr, &err), 1) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(engine_.ctx()->logged_in, 0);
    EXPECT_EQ(state(), static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));

    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_LOGOUT, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "User not logged in\n");
}

namespace {
int logout_calls = 0;
CK_RV counting_logout(CK_SESSION_HANDLE) {
    ++logout_calls;
    return CKR_OK;
}
}  // namespace

TEST_F(Login, LogoutBeforeLoginDoesNotReachTheModule) {
    CK_FUNCTION_LIST counting = *token_.functions();
    counting.C_Logout = counting_logout;
    engine_.ctx()->function_list = &counting;
    logout_calls = 0;
    std::string err;
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_LOGOUT, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(logout_calls, 0);
    engine_.ctx()->function_list = token_.functions();
}

TEST_F(Login, LogoutFailureKeepsTheLoginFlag) {
    std::string err;
    ASSERT_EQ(engine_.ctrl_string("LOGIN", SoftHsmToken::kUserPin, &err), 1) << err;
    engine_.ctx()->session = 0x7777;  // not a session of the module
    EXPECT_EQ(engine_.ctrl(PKCS11_CTRL_LOGOUT, 0, nullptr, nullptr, &err), 0);
    EXPECT_EQ(err, "C_Logout failed, rc = 0xb3\nlogout failed\n");
    EXPECT_EQ(engine_.ctx()->logged_in, 1);
}

// The default source: OpenSSL's prompt, asked twice. It runs in a child
// without a terminal, so the answers come from standard input.
namespace {

int prompt_login_in_child() {
    FreshEngine engine;
    if (!engine.bound())
        return 90;
    if (engine.ctrl_string("ATTACH_API", SoftHsmToken::kModulePath, nullptr) != 1)
        return 91;
    if (engine.ctrl_string("OPEN_SESSION", "CKF_SERIAL_SESSION|CKF_RW_SESSION", nullptr) != 1)
        return 92;
    int rc = engine.ctrl(PKCS11_CTRL_LOGIN, 0, const_cast<char *>(""), nullptr, nullptr);
    if (rc == 1 && engine.ctx()->logged_in != 1)
        return 93;
    if (rc == 1 && (engine.ctx()->pin_callback == nullptr || engine.ctx()->pin.empty()))
        return 94;
    engine.ctx()->function_list->C_Finalize(nullptr);
    return rc;
}

}  // namespace

TEST(LoginPrompt, EmptyTextAndNoCallbackAsksTwiceWithoutATerminal) {
    SoftHsmToken token;
    ASSERT_TRUE(token.ok()) << token.error();
    ChildResult child = run_in_child(prompt_login_in_child, "1234\n1234\n");
    ASSERT_TRUE(child.finished) << child.err;
    EXPECT_EQ(child.status, 1) << child.err;
    size_t first = child.err.find("Enter PIN:");
    ASSERT_NE(first, std::string::npos) << child.err;
    EXPECT_NE(child.err.find("Enter PIN:", first + 1), std::string::npos) << child.err;
    EXPECT_EQ(child.err.find("1234"), std::string::npos) << "the PIN was echoed: " << child.err;
}

TEST(LoginPrompt, EmptyAnswerIsANullPin) {
    SoftHsmToken token;
    ASSERT_TRUE(token.ok()) << token.error();
    ChildResult child = run_in_child(prompt_login_in_child, "\n\n");
    ASSERT_TRUE(child.finished) << child.err;
    EXPECT_EQ(child.status, 0);
    EXPECT_NE(child.err.find("Null PIN length\n"), std::string::npos) << child.err;
}

TEST(LoginPrompt, DifferentAnswersCancel) {
    SoftHsmToken token;
    ASSERT_TRUE(token.ok()) << token.error();
    ChildResult child = run_in_child(prompt_login_in_child, "1234\n4321\n");
    ASSERT_TRUE(child.finished) << child.err;
    EXPECT_EQ(child.status, 0);
    EXPECT_NE(child.err.find("PIN callback cancelled\n"), std::string::npos) << child.err;
}

TEST(LoginPrompt, NoInputAtAllDoesNotHang) {
    SoftHsmToken token;
    ASSERT_TRUE(token.ok()) << token.error();
    ChildResult child = run_in_child(prompt_login_in_child, "");
    ASSERT_TRUE(child.finished) << child.err;
    EXPECT_EQ(child.status, 0);
}

TEST_F(Login, OnUseAWrongPinIsTriedOnceThenDropped) {
    ASSERT_EQ(engine_.ctrl_string("LOGIN_ON_USE", "0000"), 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(p11_login_on_use(engine_.get()));
    EXPECT_TRUE(p11_login_on_use(engine_.get()));  // nothing left to try
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "C_Login failed, rc = 0xa0\nlogin failed\n");
}
