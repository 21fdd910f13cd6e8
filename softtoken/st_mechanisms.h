// The mechanisms the module computes, and how keys map onto them.
#ifndef SOFTTOKEN_ST_MECHANISMS_H
#define SOFTTOKEN_ST_MECHANISMS_H

#include <pkcs11_vendor.h>

#include <vector>

namespace softtoken {

struct MechanismEntry {
  CK_MECHANISM_TYPE type;
  CK_MECHANISM_INFO info;
};

const std::vector<MechanismEntry>& mechanism_table();

// 32 or 64: the key size a GOST mechanism works with; 0 for others.
size_t gost_mechanism_bytes(CK_MECHANISM_TYPE type);
CK_KEY_TYPE gost_key_type_for_bytes(size_t n);

}  // namespace softtoken

#endif
