// A fresh token for one test on either real module: our software token or
// SoftHSM2, behind one interface, so a test can run on both.
//
//   auto token = make_module_token(ModuleKind::softtoken);
//   ASSERT_TRUE(token->ok()) << token->error();
//   CK_FUNCTION_LIST *f = token->functions();
//   CK_SESSION_HANDLE s = token->open_session(true);   // RW, user logged in
//   run tokencert with -p11 token->module_path() -slot token->slot_text(),
//   token->env() added to its environment, token->user_pin() on its stdin.
#ifndef TOKENCERT_TEST_MODULE_TOKEN_H
#define TOKENCERT_TEST_MODULE_TOKEN_H

#include <p11-kit/pkcs11.h>

#include <map>
#include <memory>
#include <string>

enum class ModuleKind { softtoken, softhsm };

// "softtoken" or "softhsm", for test names.
const char *module_kind_name(ModuleKind kind);

class ModuleToken {
public:
    virtual ~ModuleToken() = default;
    virtual bool ok() const = 0;
    virtual std::string error() const = 0;
    virtual std::string module_path() const = 0;
    virtual CK_SLOT_ID slot() const = 0;
    std::string slot_text() const { return std::to_string(slot()); }
    virtual const char *user_pin() const = 0;
    // Environment entries a child process needs to see this token.
    virtual std::map<std::string, std::string> env() const = 0;
    // The module loaded into this process and initialised, or nullptr.
    virtual CK_FUNCTION_LIST *functions() = 0;
    // A session on the token (read-write unless asked otherwise), with the
    // user logged in when asked; 0 on failure.
    CK_SESSION_HANDLE open_session(bool user_login, bool read_write = true);
};

std::unique_ptr<ModuleToken> make_module_token(ModuleKind kind, const std::string &label = "tokencert-test");

#endif
