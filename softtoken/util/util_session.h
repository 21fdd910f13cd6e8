// A read-write session of softtoken-util on one slot, logged out and closed
// on every way out.
#ifndef SOFTTOKEN_UTIL_SESSION_H
#define SOFTTOKEN_UTIL_SESSION_H

#include <pkcs11_vendor.h>

#include <string>

namespace util {

class Session {
 public:
  explicit Session(CK_FUNCTION_LIST_PTR f) : f_(f) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    if (!open_) return;
    if (logged_in_) f_->C_Logout(handle_);
    f_->C_CloseSession(handle_);
  }
  CK_RV open(CK_SLOT_ID slot) {
    CK_RV rv = f_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &handle_);
    open_ = rv == CKR_OK;
    return rv;
  }
  CK_RV login(CK_USER_TYPE user, const std::string& pin) {
    CK_RV rv = f_->C_Login(handle_, user, pin_bytes(pin), pin.size());
    logged_in_ = rv == CKR_OK;
    return rv;
  }
  CK_SESSION_HANDLE handle() const { return handle_; }

  static CK_UTF8CHAR_PTR pin_bytes(const std::string& pin) {
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data()));
  }

 private:
  CK_FUNCTION_LIST_PTR f_;
  CK_SESSION_HANDLE handle_ = 0;
  bool open_ = false, logged_in_ = false;
};

}  // namespace util

#endif
