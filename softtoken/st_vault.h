// At-rest protection of a token: a random 256-bit token key encrypts the
// secret parts of objects with AES-256-GCM; the token key itself is stored
// wrapped under keys derived from the user PIN and the SO PIN with
// PBKDF2-HMAC-SHA256.
#ifndef SOFTTOKEN_ST_VAULT_H
#define SOFTTOKEN_ST_VAULT_H

#include <string>

#include "st_secure.h"

namespace softtoken {

constexpr size_t kTokenKeyLen = 32;
constexpr size_t kSaltLen = 16;
constexpr unsigned long kDefaultPbkdf2Iterations = 600000;
constexpr unsigned long kMinPbkdf2Iterations = 1000;

// Iteration count for new PIN wrappings: SOFTTOKEN_PBKDF2_ITERATIONS when set
// to a number of at least kMinPbkdf2Iterations, else the default.
unsigned long pbkdf2_iterations_from_env();

bool random_bytes(uint8_t* out, size_t n);
bool random_secure(SecureBytes& out, size_t n);

// Derives the key-encryption key of a PIN.
bool derive_pin_key(const uint8_t* pin, size_t pin_len, const Bytes& salt, unsigned long iterations,
                    SecureBytes& kek);

// AES-256-GCM: output = 12-byte nonce || ciphertext || 16-byte tag.
bool seal(const SecureBytes& key, const uint8_t* plain, size_t plain_len, const std::string& aad, Bytes& out);
// Fails (false) when the tag does not verify: wrong key or altered data.
bool open_sealed(const SecureBytes& key, const uint8_t* sealed, size_t sealed_len, const std::string& aad,
                 SecureBytes& plain);

}  // namespace softtoken

#endif
