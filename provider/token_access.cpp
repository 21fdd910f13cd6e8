#include "token_access.h"

#include <map>
#include <utility>

#include "secret_source.h"
#include "token_login.h"
#include "token_module.h"

namespace {

std::mutex g_lock;  // guards the two tables

// The modules stay loaded; the tables go when the provider is unloaded.
std::map<std::string, CK_FUNCTION_LIST *> &modules()
{
    static std::map<std::string, CK_FUNCTION_LIST *> table;
    return table;
}

std::map<std::pair<CK_FUNCTION_LIST *, CK_SLOT_ID>, std::shared_ptr<TokenSlot>> &slots()
{
    static std::map<std::pair<CK_FUNCTION_LIST *, CK_SLOT_ID>, std::shared_ptr<TokenSlot>> table;
    return table;
}

// The PIN's text into `out`; false after an error on the queue.
bool read_pin(const ProvCtx *prov, const TokenPin &pin, SourcedSecret &out)
{
    if (!pin.value.empty())
        return out.assign(pin.value.c_str(), pin.value.size()) ||
               zk_raise(prov, ZK_R_BAD_PARAMETER, "the PIN is too long");
    std::string reason;
    switch (read_secret_source(pin.source.c_str(), out, reason)) {
    case SecretSourceResult::ok:
        return true;
    case SecretSourceResult::malformed:
        return zk_raise(prov, ZK_R_BAD_PARAMETER, "PIN source not understood");
    case SecretSourceResult::unreadable:
        break;
    }
    return zk_raise(prov, ZK_R_BAD_PARAMETER, "PIN source unreadable: %s", reason.c_str());
}

}  // namespace

CK_FUNCTION_LIST *zk_token_module(const ProvCtx *prov, const std::string &path)
{
    std::lock_guard<std::mutex> hold(g_lock);
    auto found = modules().find(path);
    if (found != modules().end())
        return found->second;
    CK_FUNCTION_LIST *f = nullptr;
    if (token_module_load(path.c_str(), &f) != TokenModuleLoad::ok) {
        zk_raise(prov, ZK_R_BAD_PARAMETER, "cannot load the PKCS#11 module %s", path.c_str());
        return nullptr;
    }
    if (!token_module_initialize(f)) {
        zk_raise(prov, ZK_R_TOKEN_FAILURE, "C_Initialize of %s failed", path.c_str());
        return nullptr;
    }
    modules()[path] = f;
    return f;
}

std::shared_ptr<TokenSlot> zk_token_slot(CK_FUNCTION_LIST *f, CK_SLOT_ID slot)
{
    std::lock_guard<std::mutex> hold(g_lock);
    std::shared_ptr<TokenSlot> &entry = slots()[{f, slot}];
    if (!entry) {
        entry = std::make_shared<TokenSlot>();
        entry->f = f;
        entry->slot = slot;
    }
    return entry;
}

bool zk_token_ready(const ProvCtx *prov, TokenSlot &slot, const TokenPin &pin)
{
    if (!slot.session.is_open()) {
        slot.logged_in = false;
        CK_RV rv = slot.session.open(slot.f, slot.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION);
        if (rv != CKR_OK)
            return zk_raise(prov, ZK_R_TOKEN_FAILURE, "C_OpenSession failed, rc = 0x%lx", rv);
    }
    if (slot.logged_in)
        return true;
    CK_TOKEN_INFO info;
    CK_RV rv = slot.f->C_GetTokenInfo(slot.slot, &info);
    if (rv == CKR_OK && !(info.flags & CKF_LOGIN_REQUIRED))
        return true;
    if (slot.pin_tried)
        return zk_raise(prov, ZK_R_LOGIN, "the token refused the PIN once; it is not tried again");
    if (pin.empty())
        return zk_raise(prov, ZK_R_LOGIN, "no PIN for the token (pin-value, pin-source or pkcs11-pin-source)");
    switch (token_user_pin_verdict(slot.f, slot.slot, true, &rv)) {
    case TokenPinVerdict::info_failed:
        return zk_raise(prov, ZK_R_TOKEN_FAILURE, "C_GetTokenInfo failed, rc = 0x%lx", rv);
    case TokenPinVerdict::locked:
        return zk_raise(prov, ZK_R_LOGIN, "the token's user PIN is locked");
    case TokenPinVerdict::final_try:
        return zk_raise(prov, ZK_R_LOGIN, "the token's user PIN has one try left; the PIN is not tried");
    case TokenPinVerdict::may_try:
        break;
    }
    SourcedSecret text;
    if (!read_pin(prov, pin, text))
        return false;
    slot.pin_tried = true;
    rv = token_user_login(slot.f, slot.session.handle(), text.data(), text.size());
    if (rv != CKR_OK)
        return zk_raise(prov, ZK_R_LOGIN, "C_Login failed, rc = 0x%lx", rv);
    slot.pin_tried = false;
    slot.logged_in = true;
    return true;
}
