// Finding a softtoken token among the module's slots, by its label or by its
// serial.
#ifndef SOFTTOKEN_UTIL_TOKEN_CHOICE_H
#define SOFTTOKEN_UTIL_TOKEN_CHOICE_H

#include <pkcs11_vendor.h>

#include <string>
#include <vector>

namespace util {

// The module's slots; 0, or 1 after the error line.
int read_slots(CK_FUNCTION_LIST_PTR f, std::vector<CK_SLOT_ID>& slots);

// A blank-padded field of token information without its padding.
std::string trimmed(const unsigned char* field, size_t n);

// Turns a serial given in any case into the upper case the module shows;
// false when it is no 16 hexadecimal digits.
bool normalize_serial(std::string& serial);

// A token as the command line names it: by serial (normalised) or by label.
struct TokenName {
  std::string label, serial;
  bool by_serial = false;
};

struct FoundToken {
  CK_SLOT_ID slot = 0;
  std::string label, serial;
  CK_FLAGS flags = 0;  // as the token reported them when it was found
};

// The one initialised token that `name` names; 0, or 1 after a line saying
// that none does or that several carry the label.
int find_token(CK_FUNCTION_LIST_PTR f, const TokenName& name, FoundToken& found);

}  // namespace util

#endif
