#include "pkcs11_login_on_use.h"

#include "pkcs11_ctrl.h"

#include <cstdio>
#include <cstring>
#include <utility>

int ctrl_login_on_use(P11_ENGINE_CTX *ctx, const char *p) {
    if (!p || !*p) {
        std::fputs("PKCS11_CTRL_LOGIN_ON_USE: PIN not set\n", stderr);
        return 0;
    }
    ctx->login_on_use_pin.assign(p, std::strlen(p));
    return 1;
}

bool p11_user_pin_may_be_tried(const P11_ENGINE_CTX *ctx, bool configured_pin) {
    CK_TOKEN_INFO info;
    CK_RV rv = ctx->function_list->C_GetTokenInfo(ctx->slot_id, &info);
    if (rv != CKR_OK) {
        if (configured_pin)
            std::fprintf(stderr, "C_GetTokenInfo failed, rc = 0x%lx\n", rv);
        return !configured_pin;  // an entered PIN: C_Login answers for itself
    }
    const char *why = nullptr;
    if (info.flags & CKF_USER_PIN_LOCKED)
        why = "LOGIN: the token's user PIN is locked\n";
    else if (configured_pin && (info.flags & CKF_USER_PIN_FINAL_TRY))
        why = "LOGIN: the token's user PIN has one try left; the configured PIN is not tried\n";
    if (why)
        std::fputs(why, stderr);
    return why == nullptr;
}

bool p11_login_on_use(ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx)
        return false;
    // Without a module the caller reports that itself.
    if (ctx->logged_in || ctx->login_on_use_pin.empty() || !ctx->function_list)
        return true;
    // Tried once: from here on the context no longer keeps it.
    SecretString pin(std::move(ctx->login_on_use_pin));
    // The login lasts while the engine's session stays open.
    if (ctx->session == 0 && !open_session(e))
        return false;
    if (!p11_user_pin_may_be_tried(ctx, true))
        return false;
    if (!user_login(ctx, pin)) {
        std::fputs("login failed\n", stderr);
        return false;
    }
    return true;
}
