// A fresh SoftHSM2 token for one test.
//
// The constructor makes a temporary directory of the test's own, writes a
// softhsm2.conf there whose token directory lies inside it, points
// SOFTHSM2_CONF at it (in this process's environment; child processes
// inherit it, or take env() explicitly), and initialises one token with
// softhsm2-util (run with a timeout): label as given, SO PIN kSoPin, user
// PIN kUserPin. The destructor finalises the module if this object loaded it
// into the process, restores SOFTHSM2_CONF and removes the directory.
//
//   SoftHsmToken token;                 // or SoftHsmToken token("my label");
//   ASSERT_TRUE(token.ok()) << token.error();
//   run the tool with  -p11 token.module_path()  -slot token.slot_text()
//   CK_FUNCTION_LIST *f = token.functions();          // in-process use
//   CK_SESSION_HANDLE s = token.open_session(true);   // RW, user logged in
#ifndef TOKENCERT_TEST_SOFTHSM_TOKEN_H
#define TOKENCERT_TEST_SOFTHSM_TOKEN_H

#include <p11-kit/pkcs11.h>

#include <optional>
#include <string>
#include <utility>

// Loads the PKCS#11 module at `path` and initialises it: its function list,
// or nullptr with the reason in `error`. `library` gets the module's handle.
CK_FUNCTION_LIST *load_module(const std::string &path, void **library, std::string &error);

class SoftHsmToken {
public:
    static constexpr const char *kModulePath = SOFTHSM2_MODULE;
    static constexpr const char *kDefaultLabel = "tokencert-test";
    static constexpr const char *kUserPin = "1234";
    static constexpr const char *kSoPin = "87654321";

    explicit SoftHsmToken(const std::string &label = kDefaultLabel);
    ~SoftHsmToken();
    SoftHsmToken(const SoftHsmToken &) = delete;
    SoftHsmToken &operator=(const SoftHsmToken &) = delete;

    // Whether the token was made; error() says why not.
    bool ok() const { return ok_; }
    const std::string &error() const { return error_; }

    const std::string &module_path() const { return module_path_; }
    const std::string &dir() const { return dir_; }
    const std::string &config_path() const { return config_path_; }
    const std::string &label() const { return label_; }
    // The slot holding the initialised token, and the same in decimal.
    CK_SLOT_ID slot() const { return slot_; }
    std::string slot_text() const { return std::to_string(slot_); }
    // The environment entry a child process needs to see this token.
    std::pair<std::string, std::string> env() const { return {"SOFTHSM2_CONF", config_path_}; }

    // The module loaded into this process and initialised (C_Initialize with
    // NULL; an already initialised module is accepted), or nullptr.
    CK_FUNCTION_LIST *functions();
    // A read-write session on the token, with the user logged in when asked;
    // 0 on failure. Sessions end when the module is finalised.
    CK_SESSION_HANDLE open_session(bool user_login = false);

private:
    bool ok_ = false;
    std::string error_;
    std::string module_path_ = kModulePath;
    std::string dir_;
    std::string config_path_;
    std::string label_;
    CK_SLOT_ID slot_ = 0;
    std::optional<std::string> previous_conf_;
    void *library_ = nullptr;
    CK_FUNCTION_LIST *functions_ = nullptr;
};

#endif
