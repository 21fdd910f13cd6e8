// Pieces shared by the GOST 28147-89 context layer and its mode functions.
#ifndef GOST28147_89_INTERNAL_H
#define GOST28147_89_INTERNAL_H

#include <cstdint>

#include "gost28147_89.h"

namespace zkc {
namespace g89 {

// Before processing up to `want` bytes (a multiple of 8): when the context
// meshes keys and 1024 bytes have gone since the last meshing, meshes the key
// and the IV. Sets *take to the bytes that may go before the next meshing point
// (all of them without key meshing) and counts them. A failed meshing leaves
// the context uninitialised and returns its code.
int mesh_take(GOST28147_89_CTX *ctx, uint32_t want, uint32_t *take);

// CryptoPro key meshing: key := ECB decryption of the constant C under the
// current key; iv := ECB encryption of iv under the new key.
int mesh_key(GOST28147_89_CTX *ctx);

// Maps mode codes 1 to 4 to their block functions (with the context's key, iv,
// direction and flags); -1102 for any other code.
int dispatch(GOST28147_89_CTX *ctx, const GOST_DATA_BLOB *in, GOST_DATA_BLOB *out);

}  // namespace g89
}  // namespace zkc

#endif  // GOST28147_89_INTERNAL_H
