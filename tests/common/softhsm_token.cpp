#include "softhsm_token.h"
#include "run_process.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

SoftHsmToken::SoftHsmToken(const std::string &label) : label_(label) {
    if (const char *old = getenv("SOFTHSM2_CONF"))
        previous_conf_ = old;
    std::string templ = (std::filesystem::temp_directory_path() / "tokencert-softhsm-XXXXXX").string();
    std::vector<char> path(templ.begin(), templ.end());
    path.push_back('\0');
    if (!mkdtemp(path.data())) {
        error_ = "mkdtemp failed";
        return;
    }
    dir_ = path.data();
    std::filesystem::create_directory(dir_ + "/tokens");
    config_path_ = dir_ + "/softhsm2.conf";
    {
        std::ofstream conf(config_path_);
        conf << "directories.tokendir = " << dir_ << "/tokens\n"
             << "objectstore.backend = file\n"
             << "log.level = ERROR\n"
             << "slots.removable = false\n";
        if (!conf) {
            error_ = "cannot write " + config_path_;
            return;
        }
    }
    setenv("SOFTHSM2_CONF", config_path_.c_str(), 1);

    ProcessOptions options;
    options.timeout = std::chrono::seconds(30);
    ProcessResult out = run_process({"softhsm2-util", "--init-token", "--free", "--label", label, "--so-pin",
                                     kSoPin, "--pin", kUserPin},
                                    options);
    if (out.timed_out || out.exit_status != 0) {
        error_ = "softhsm2-util --init-token failed: " + out.out + out.err;
        return;
    }
    const std::string marker = "reassigned to slot ";
    size_t at = out.out.find(marker);
    if (at == std::string::npos) {
        error_ = "no slot in softhsm2-util output: " + out.out + out.err;
        return;
    }
    slot_ = std::strtoul(out.out.c_str() + at + marker.size(), nullptr, 10);
    ok_ = true;
}

SoftHsmToken::~SoftHsmToken() {
    if (functions_)
        functions_->C_Finalize(nullptr);
    // The library stays loaded: SoftHSM2 does not support being unloaded
    // and loaded again in one process.
    if (previous_conf_)
        setenv("SOFTHSM2_CONF", previous_conf_->c_str(), 1);
    else
        unsetenv("SOFTHSM2_CONF");
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

CK_FUNCTION_LIST *load_module(const std::string &path, void **library, std::string &error) {
    *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!*library) {
        error = "cannot load " + path;
        return nullptr;
    }
    auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(*library, "C_GetFunctionList"));
    CK_FUNCTION_LIST *list = nullptr;
    if (!get_list || get_list(&list) != CKR_OK || !list) {
        error = "C_GetFunctionList failed";
        return nullptr;
    }
    CK_RV rv = list->C_Initialize(nullptr);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        error = "C_Initialize failed: " + std::to_string(rv);
        return nullptr;
    }
    return list;
}

CK_FUNCTION_LIST *SoftHsmToken::functions() {
    if (functions_ || !ok_)
        return functions_;
    functions_ = load_module(module_path_, &library_, error_);
    return functions_;
}

CK_SESSION_HANDLE SoftHsmToken::open_session(bool user_login) {
    CK_FUNCTION_LIST *f = functions();
    if (!f)
        return 0;
    CK_SESSION_HANDLE session = 0;
    if (f->C_OpenSession(slot_, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK)
        return 0;
    if (user_login) {
        CK_RV rv = f->C_Login(session, CKU_USER, (CK_UTF8CHAR *)kUserPin, strlen(kUserPin));
        if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
            f->C_CloseSession(session);
            return 0;
        }
    }
    return session;
}
