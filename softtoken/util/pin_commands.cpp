#include "pin_commands.h"

#include <cstdio>

#include "util_report.h"
#include "util_session.h"

namespace util {
namespace {

const char kUnblockHint[] = ": the SO can set a new one with --unblock-pin";

// The line of a failed login, with what the token tells of the tries left.
int login_failure(CK_FUNCTION_LIST_PTR f, const FoundToken& token, CK_USER_TYPE user, CK_RV rv) {
  const bool so = user == CKU_SO;
  const std::string pin = so ? "the SO PIN" : "the user PIN";
  const std::string hint = so ? "" : kUnblockHint;
  switch (rv) {
    case CKR_PIN_INCORRECT: {
      CK_TOKEN_INFO ti;
      CK_FLAGS flags = f->C_GetTokenInfo(token.slot, &ti) == CKR_OK ? ti.flags : 0;
      if (flags & (so ? CKF_SO_PIN_LOCKED : CKF_USER_PIN_LOCKED))
        return failure(pin + " is incorrect, and now locked" + hint);
      if (flags & (so ? CKF_SO_PIN_FINAL_TRY : CKF_USER_PIN_FINAL_TRY))
        return failure(pin + " is incorrect; one try is left before it locks");
      return failure(pin + " is incorrect");
    }
    case CKR_PIN_LOCKED:
      return failure(pin + " is locked" + hint);
    case CKR_USER_PIN_NOT_INITIALIZED:
      return failure(std::string("the token has no user PIN") + kUnblockHint);
    default:
      return fail("C_Login", rv);
  }
}

// Opens a session on the token and logs `user` in; 0, or 1 after the line.
int open_and_login(CK_FUNCTION_LIST_PTR f, const FoundToken& token, Session& session, CK_USER_TYPE user,
                   const std::string& pin) {
  CK_RV rv = session.open(token.slot);
  if (rv != CKR_OK) return fail("C_OpenSession", rv);
  rv = session.login(user, pin);
  return rv == CKR_OK ? 0 : login_failure(f, token, user, rv);
}

}  // namespace

int change_pin(CK_FUNCTION_LIST_PTR f, const FoundToken& token, const std::string& old_pin,
               const std::string& new_pin) {
  Session session(f);
  if (open_and_login(f, token, session, CKU_USER, old_pin) != 0) return 1;
  CK_RV rv = f->C_SetPIN(session.handle(), Session::pin_bytes(old_pin), old_pin.size(), Session::pin_bytes(new_pin),
                         new_pin.size());
  if (rv != CKR_OK) return fail("C_SetPIN", rv);
  std::printf("User PIN of token '%s' (serial %s) changed\n", token.label.c_str(), token.serial.c_str());
  return 0;
}

int unblock_pin(CK_FUNCTION_LIST_PTR f, const FoundToken& token, const std::string& so_pin,
                const std::string& new_pin) {
  Session session(f);
  if (open_and_login(f, token, session, CKU_SO, so_pin) != 0) return 1;
  CK_RV rv = f->C_InitPIN(session.handle(), Session::pin_bytes(new_pin), new_pin.size());
  if (rv != CKR_OK) return fail("C_InitPIN", rv);
  std::printf("User PIN of token '%s' (serial %s) set by the SO%s\n", token.label.c_str(), token.serial.c_str(),
              (token.flags & CKF_USER_PIN_LOCKED) ? ", and unlocked" : "");
  return 0;
}

}  // namespace util
