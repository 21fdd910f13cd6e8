#include "module_token.h"

#include "run_process.h"
#include "softhsm_token.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <vector>

const char *module_kind_name(ModuleKind kind) { return kind == ModuleKind::softtoken ? "softtoken" : "softhsm"; }

CK_SESSION_HANDLE ModuleToken::open_session(bool user_login, bool read_write) {
    CK_FUNCTION_LIST *f = functions();
    if (!f)
        return 0;
    CK_SESSION_HANDLE session = 0;
    CK_FLAGS flags = CKF_SERIAL_SESSION | (read_write ? CKF_RW_SESSION : 0);
    if (f->C_OpenSession(slot(), flags, nullptr, nullptr, &session) != CKR_OK)
        return 0;
    if (user_login) {
        CK_RV rv = f->C_Login(session, CKU_USER, (CK_UTF8CHAR *)user_pin(), std::strlen(user_pin()));
        if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
            f->C_CloseSession(session);
            return 0;
        }
    }
    return session;
}

namespace {

class SoftHsmModuleToken : public ModuleToken {
public:
    explicit SoftHsmModuleToken(const std::string &label) : token_(label) {}
    bool ok() const override { return token_.ok(); }
    std::string error() const override { return token_.error(); }
    std::string module_path() const override { return token_.module_path(); }
    CK_SLOT_ID slot() const override { return token_.slot(); }
    const char *user_pin() const override { return SoftHsmToken::kUserPin; }
    std::map<std::string, std::string> env() const override { return {token_.env()}; }
    CK_FUNCTION_LIST *functions() override { return token_.functions(); }

private:
    SoftHsmToken token_;
};

// Our software token in a directory of the test's own (SOFTTOKEN_DIR, set in
// this process too), initialised with softtoken-util.
class SofttokenModuleToken : public ModuleToken {
public:
    static constexpr const char *kUserPin = "12345678";
    static constexpr const char *kSoPin = "87654321";

    explicit SofttokenModuleToken(const std::string &label) {
        std::string templ = (std::filesystem::temp_directory_path() / "tokencert-softtoken-XXXXXX").string();
        std::vector<char> path(templ.begin(), templ.end());
        path.push_back('\0');
        if (!mkdtemp(path.data())) {
            error_ = "mkdtemp failed";
            return;
        }
        dir_ = path.data();
        setenv("SOFTTOKEN_DIR", dir_.c_str(), 1);
        setenv("SOFTTOKEN_PBKDF2_ITERATIONS", "1000", 1);
        ProcessOptions options;
        options.env = env();
        options.timeout = std::chrono::seconds(60);
        ProcessResult out = run_process({TOKENCERT_BINARY_DIR "/softtoken/softtoken-util", "--init-token", "--free",
                                         "--label", label, "--so-pin", kSoPin, "--pin", kUserPin},
                                        options);
        if (out.timed_out || out.exit_status != 0) {
            error_ = "softtoken-util --init-token failed: " + out.out + out.err;
            return;
        }
        CK_FUNCTION_LIST *f = functions();
        if (!f)
            return;
        // The initialised token is the slot whose token carries the label.
        CK_ULONG count = 0;
        f->C_GetSlotList(CK_TRUE, nullptr, &count);
        std::vector<CK_SLOT_ID> slots(count);
        f->C_GetSlotList(CK_TRUE, slots.data(), &count);
        std::string padded = label;
        padded.resize(32, ' ');
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_TOKEN_INFO info{};
            if (f->C_GetTokenInfo(slots[i], &info) == CKR_OK &&
                std::memcmp(info.label, padded.data(), sizeof(info.label)) == 0) {
                slot_ = slots[i];
                ok_ = true;
                return;
            }
        }
        error_ = "no slot holds the token " + label;
    }
    ~SofttokenModuleToken() override {
        if (functions_)
            functions_->C_Finalize(nullptr);
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }
    bool ok() const override { return ok_; }
    std::string error() const override { return error_; }
    std::string module_path() const override { return TOKENCERT_BINARY_DIR "/softtoken/libsofttoken.so"; }
    CK_SLOT_ID slot() const override { return slot_; }
    const char *user_pin() const override { return kUserPin; }
    std::map<std::string, std::string> env() const override {
        return {{"SOFTTOKEN_DIR", dir_}, {"SOFTTOKEN_PBKDF2_ITERATIONS", "1000"}};
    }
    CK_FUNCTION_LIST *functions() override {
        if (functions_)
            return functions_;
        void *library = nullptr;
        functions_ = load_module(module_path(), &library, error_);
        return functions_;
    }

private:
    bool ok_ = false;
    std::string error_;
    std::string dir_;
    CK_SLOT_ID slot_ = 0;
    CK_FUNCTION_LIST *functions_ = nullptr;
};

}  // namespace

std::unique_ptr<ModuleToken> make_module_token(ModuleKind kind, const std::string &label) {
    if (kind == ModuleKind::softhsm)
        return std::make_unique<SoftHsmModuleToken>(label);
    return std::make_unique<SofttokenModuleToken>(label);
}
