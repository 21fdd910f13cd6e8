// The core's GOST R 34.11 hashes, as key agreement needs them.
#include "st_gost_curves.h"

namespace softtoken {

bool hash_gostr3411_94_cryptopro(const uint8_t*, size_t, uint8_t*) { return false; }
bool hash_gostr3411_2012_256(const uint8_t*, size_t, uint8_t*) { return false; }

}  // namespace softtoken
