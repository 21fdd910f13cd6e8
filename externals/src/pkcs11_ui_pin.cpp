#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "pkcs11_ui_pin.h"

#include "ossl_ptr.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_ctrl.h"
#include "pkcs11_login_on_use.h"
#include "secret_string.h"

#include <openssl/ui.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int kPinMax = 80;
constexpr const char *kPrompt = "Enter token user PIN:";

}  // namespace

bool p11_login_through_ui(ENGINE *e, UI_METHOD *ui_method, void *callback_data, const char *who)
{
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx || !p11_login_on_use(e))
        return false;
    if (ctx->logged_in || !ui_method)
        return true;
    if (!ctx->function_list) {
        std::fprintf(stderr, "%sapi not attached\n", who);
        return false;
    }
    if (ctx->session == 0 && !open_session(e))
        return false;
    CK_TOKEN_INFO info;
    if (ctx->function_list->C_GetTokenInfo(ctx->slot_id, &info) == CKR_OK && !(info.flags & CKF_LOGIN_REQUIRED))
        return true;

    ossl::UiPtr ui(UI_new_method(ui_method));
    if (!ui) {
        std::fprintf(stderr, "%sUI_new_method failed\n", who);
        return false;
    }
    if (callback_data)
        UI_add_user_data(ui.get(), callback_data);
    SecretBytes<kPinMax + 1> pin;
    // The default-password flag lets a UI answer with a password it was
    // given (the openssl command's -passin) instead of asking.
    if (UI_add_input_string(ui.get(), kPrompt, UI_INPUT_FLAG_DEFAULT_PWD, reinterpret_cast<char *>(pin.data), 1,
                            kPinMax) < 0 ||
        UI_process(ui.get()) != 0) {
        std::fprintf(stderr, "%sPIN not read\n", who);
        return false;
    }
    ui.reset();  // the answer is in `pin` alone from here on
    pin.data[kPinMax] = '\0';
    // LOGIN with the PIN as its text: logged in, the PIN not kept.
    return pkcs11_engine_ctrl(e, PKCS11_CTRL_LOGIN, 0, pin.data, nullptr) == 1;
}
