// How softtoken-util reports: one line on standard error per failure, and
// the exit statuses (1 for a failure, 2 for a mistake on the command line).
#ifndef SOFTTOKEN_UTIL_REPORT_H
#define SOFTTOKEN_UTIL_REPORT_H

#include <pkcs11_vendor.h>

#include <string>

namespace util {

// "softtoken-util: <line>"; returns 1.
int failure(const std::string& line);

// The line of a failed PKCS#11 call; returns 1.
int fail(const char* what, CK_RV rv);

// The line and a hint at --help; returns 2.
int usage_error(const std::string& msg);

}  // namespace util

#endif
