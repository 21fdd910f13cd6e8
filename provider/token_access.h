// The provider's hold on PKCS#11 tokens, shared by every store loader and
// every token key of the process: each module loaded and initialised once,
// one record per token (module and slot) with its session and login state.
// The login is made when a token key is first used; a PIN is tried at most
// once per token and process, never on a locked PIN, and never on a token
// with one try left.
#ifndef ZK_TOKEN_ACCESS_H
#define ZK_TOKEN_ACCESS_H

#include <memory>
#include <mutex>
#include <string>

#include "provider.h"
#include "secret_string.h"
#include "token_session.h"

// The module at `path`, loaded and initialised on first request; nullptr
// after an error on the queue.
CK_FUNCTION_LIST *zk_token_module(const ProvCtx *prov, const std::string &path);

// Where the PIN of a token comes from: a PIN given in a URI, a pin-source
// of a URI (a file), or the provider's configured pin source; or none.
struct TokenPin {
    SecretString value;  // pin-value
    SecretString source;  // a source in tokencert's forms (pass:, env:, file:...)
    bool empty() const { return value.empty() && source.empty(); }
};

struct TokenSlot {
    CK_FUNCTION_LIST *f = nullptr;
    CK_SLOT_ID slot = 0;
    std::mutex lock;       // held for every use of the session
    TokenSession session;  // opened at first use; the login lasts while it is open
    bool logged_in = false;
    bool pin_tried = false;  // a PIN was tried and refused: never again
    // The table goes when the provider is unloaded, at the end of a process
    // perhaps after the module's own end: the session is left to the module.
    ~TokenSlot() { session.release(); }
};

// The record of a token; the same one for every caller.
std::shared_ptr<TokenSlot> zk_token_slot(CK_FUNCTION_LIST *f, CK_SLOT_ID slot);

// With the slot's lock held: opens its session when it has none and logs the
// user in with the PIN, unless already logged in or the token needs no
// login. False after an error on the queue.
bool zk_token_ready(const ProvCtx *prov, TokenSlot &slot, const TokenPin &pin);

#endif
