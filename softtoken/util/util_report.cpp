#include "util_report.h"

#include <cstdio>

namespace util {
namespace {

const char* rv_name(CK_RV rv) {
  switch (rv) {
    case CKR_OK: return "CKR_OK";
    case CKR_ARGUMENTS_BAD: return "CKR_ARGUMENTS_BAD";
    case CKR_DEVICE_ERROR: return "CKR_DEVICE_ERROR";
    case CKR_DEVICE_REMOVED: return "CKR_DEVICE_REMOVED";
    case CKR_PIN_INCORRECT: return "CKR_PIN_INCORRECT";
    case CKR_PIN_LEN_RANGE: return "CKR_PIN_LEN_RANGE";
    case CKR_PIN_LOCKED: return "CKR_PIN_LOCKED";
    case CKR_SESSION_EXISTS: return "CKR_SESSION_EXISTS";
    case CKR_SLOT_ID_INVALID: return "CKR_SLOT_ID_INVALID";
    case CKR_TOKEN_NOT_RECOGNIZED: return "CKR_TOKEN_NOT_RECOGNIZED";
    case CKR_TOKEN_WRITE_PROTECTED: return "CKR_TOKEN_WRITE_PROTECTED";
    case CKR_USER_NOT_LOGGED_IN: return "CKR_USER_NOT_LOGGED_IN";
    default: return "error";
  }
}

}  // namespace

int failure(const std::string& line) {
  std::fprintf(stderr, "softtoken-util: %s\n", line.c_str());
  return 1;
}

int fail(const char* what, CK_RV rv) {
  std::fprintf(stderr, "softtoken-util: %s failed: %s (rc = 0x%lx)\n", what, rv_name(rv), rv);
  return 1;
}

int usage_error(const std::string& msg) {
  std::fprintf(stderr, "softtoken-util: %s\nTry 'softtoken-util --help' for more information.\n", msg.c_str());
  return 2;
}

}  // namespace util
