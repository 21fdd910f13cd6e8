#include "token_choice.h"

#include <cstring>

#include "st_module.h"
#include "util_report.h"

namespace util {

int read_slots(CK_FUNCTION_LIST_PTR f, std::vector<CK_SLOT_ID>& slots) {
  CK_ULONG count = 0;
  CK_RV rv = f->C_GetSlotList(CK_TRUE, nullptr, &count);
  if (rv != CKR_OK) return fail("C_GetSlotList", rv);
  slots.resize(count);
  rv = f->C_GetSlotList(CK_TRUE, slots.data(), &count);
  if (rv != CKR_OK) return fail("C_GetSlotList", rv);
  slots.resize(count);
  return 0;
}

std::string trimmed(const unsigned char* field, size_t n) {
  std::string s(reinterpret_cast<const char*>(field), n);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

bool normalize_serial(std::string& serial) {
  bool valid = serial.size() == 16;
  for (char& c : serial) {
    valid = valid && c != '\0' && std::strchr("0123456789ABCDEFabcdef", c) != nullptr;
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return valid;
}

int find_token(CK_FUNCTION_LIST_PTR f, const TokenName& name, FoundToken& found) {
  std::vector<CK_SLOT_ID> slots;
  if (read_slots(f, slots) != 0) return 1;
  // A label is compared as the token keeps it: padded to 32 bytes.
  unsigned char label[32];
  softtoken::pad_field(label, sizeof label, name.label);
  const bool label_fits = name.label.size() <= sizeof label;
  std::vector<FoundToken> matches;
  for (CK_SLOT_ID slot : slots) {
    CK_TOKEN_INFO ti;
    CK_RV rv = f->C_GetTokenInfo(slot, &ti);
    if (rv != CKR_OK) return fail("C_GetTokenInfo", rv);
    if (!(ti.flags & CKF_TOKEN_INITIALIZED)) continue;
    FoundToken t{slot, trimmed(ti.label, sizeof ti.label), trimmed(ti.serialNumber, sizeof ti.serialNumber),
                 ti.flags};
    if (name.by_serial ? t.serial == name.serial : label_fits && std::memcmp(ti.label, label, sizeof label) == 0)
      matches.push_back(t);
  }
  if (matches.size() == 1) {
    found = matches[0];
    return 0;
  }
  if (matches.empty())
    return failure(name.by_serial ? "no token with serial " + name.serial + " in " + softtoken::token_directory()
                                  : "no token labelled '" + name.label + "' in " + softtoken::token_directory());
  std::string serials;
  for (const FoundToken& t : matches) serials += (serials.empty() ? "" : ", ") + t.serial;
  return failure(std::to_string(matches.size()) + " tokens are labelled '" + name.label + "' (serials " + serials +
                 "): choose one with --serial");
}

}  // namespace util
