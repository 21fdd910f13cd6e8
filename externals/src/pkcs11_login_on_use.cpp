#include "pkcs11_login_on_use.h"

#include "pkcs11_ctrl.h"
#include "token_login.h"

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
    CK_RV rv = CKR_OK;
    switch (token_user_pin_verdict(ctx->function_list, ctx->slot_id, configured_pin, &rv)) {
    case TokenPinVerdict::info_failed:
        std::fprintf(stderr, "C_GetTokenInfo failed, rc = 0x%lx\n", rv);
        return false;
    case TokenPinVerdict::locked:
        std::fputs("LOGIN: the token's user PIN is locked\n", stderr);
        return false;
    case TokenPinVerdict::final_try:
        std::fputs("LOGIN: the token's user PIN has one try left; the configured PIN is not tried\n", stderr);
        return false;
    case TokenPinVerdict::may_try:
        break;
    }
    return true;
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
