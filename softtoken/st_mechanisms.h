// The mechanisms the module computes, and how keys map onto them.
#ifndef SOFTTOKEN_ST_MECHANISMS_H
#define SOFTTOKEN_ST_MECHANISMS_H

#include <pkcs11_vendor.h>

#include <vector>

// Digests and hash-and-sign with GOST R 34.11-2012, in the same vendor range
// as the 512-bit key mechanisms.
#ifndef CKM_GOSTR3411_12_256
#define CKM_GOSTR3411_12_256 0xD4321012UL
#endif
#ifndef CKM_GOSTR3411_12_512
#define CKM_GOSTR3411_12_512 0xD4321013UL
#endif
#ifndef CKM_GOSTR3410_WITH_GOSTR3411_12_256
#define CKM_GOSTR3410_WITH_GOSTR3411_12_256 0xD4321008UL
#endif
#ifndef CKM_GOSTR3410_WITH_GOSTR3411_12_512
#define CKM_GOSTR3410_WITH_GOSTR3411_12_512 0xD4321009UL
#endif

namespace softtoken {

struct MechanismEntry {
  CK_MECHANISM_TYPE type;
  CK_MECHANISM_INFO info;
};

const std::vector<MechanismEntry>& mechanism_table();

// 32 or 64: the key size a GOST mechanism works with; 0 for others.
size_t gost_mechanism_bytes(CK_MECHANISM_TYPE type);
CK_KEY_TYPE gost_key_type_for_bytes(size_t n);
// The digest a hash-and-sign mechanism computes first; 0 for raw signing.
CK_MECHANISM_TYPE digest_of_sign_mechanism(CK_MECHANISM_TYPE type);

}  // namespace softtoken

#endif
