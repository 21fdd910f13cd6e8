// The user PIN of a softtoken token: changed by its holder, or set anew by
// the security officer, which also lifts a lock.
#ifndef SOFTTOKEN_UTIL_PIN_COMMANDS_H
#define SOFTTOKEN_UTIL_PIN_COMMANDS_H

#include <pkcs11_vendor.h>

#include <string>

#include "token_choice.h"

namespace util {

// Logs in as the user with `old_pin` and sets `new_pin`. 0, or 1 after the
// failure's line.
int change_pin(CK_FUNCTION_LIST_PTR f, const FoundToken& token, const std::string& old_pin,
               const std::string& new_pin);

// Logs in as the SO with `so_pin` and gives the user `new_pin`, which clears
// the user PIN's failure count. 0, or 1 after the failure's line.
int unblock_pin(CK_FUNCTION_LIST_PTR f, const FoundToken& token, const std::string& so_pin,
                const std::string& new_pin);

}  // namespace util

#endif
