#include "st_vault.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <memory>

namespace softtoken {
namespace {

constexpr int kNonceLen = 12;
constexpr int kTagLen = 16;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

}  // namespace

unsigned long pbkdf2_iterations_from_env() {
  const char* v = std::getenv("SOFTTOKEN_PBKDF2_ITERATIONS");
  if (!v || !*v) return kDefaultPbkdf2Iterations;
  char* end = nullptr;
  unsigned long n = std::strtoul(v, &end, 10);
  if (*end || n < kMinPbkdf2Iterations || n > 100000000UL) return kDefaultPbkdf2Iterations;
  return n;
}

bool random_bytes(uint8_t* out, size_t n) { return RAND_bytes(out, static_cast<int>(n)) == 1; }

bool random_secure(SecureBytes& out, size_t n) {
  out.assign(n, 0);
  return RAND_priv_bytes(out.data(), static_cast<int>(n)) == 1;
}

bool derive_pin_key(const uint8_t* pin, size_t pin_len, const Bytes& salt, unsigned long iterations,
                    SecureBytes& kek) {
  kek.assign(kTokenKeyLen, 0);
  return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(pin), static_cast<int>(pin_len), salt.data(),
                           static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                           static_cast<int>(kek.size()), kek.data()) == 1;
}

bool seal(const SecureBytes& key, const uint8_t* plain, size_t plain_len, const std::string& aad, Bytes& out) {
  if (key.size() != kTokenKeyLen) return false;
  out.assign(kNonceLen + plain_len + kTagLen, 0);
  if (!random_bytes(out.data(), kNonceLen)) return false;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), out.data()) != 1 ||
      EVP_EncryptUpdate(ctx.get(), nullptr, &len, reinterpret_cast<const uint8_t*>(aad.data()),
                        static_cast<int>(aad.size())) != 1)
    return false;
  if (plain_len && EVP_EncryptUpdate(ctx.get(), out.data() + kNonceLen, &len, plain, static_cast<int>(plain_len)) != 1)
    return false;
  if (EVP_EncryptFinal_ex(ctx.get(), out.data() + kNonceLen + plain_len, &len) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagLen, out.data() + kNonceLen + plain_len) != 1)
    return false;
  return true;
}

bool open_sealed(const SecureBytes& key, const uint8_t* sealed, size_t sealed_len, const std::string& aad,
                 SecureBytes& plain) {
  if (key.size() != kTokenKeyLen || sealed_len < static_cast<size_t>(kNonceLen + kTagLen)) return false;
  size_t n = sealed_len - kNonceLen - kTagLen;
  plain.assign(n, 0);
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  uint8_t tag[kTagLen];
  std::copy(sealed + kNonceLen + n, sealed + sealed_len, tag);
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), sealed) != 1 ||
      EVP_DecryptUpdate(ctx.get(), nullptr, &len, reinterpret_cast<const uint8_t*>(aad.data()),
                        static_cast<int>(aad.size())) != 1)
    return false;
  if (n && EVP_DecryptUpdate(ctx.get(), plain.data(), &len, sealed + kNonceLen, static_cast<int>(n)) != 1)
    return false;
  uint8_t none = 0;
  if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagLen, tag) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), n ? plain.data() + n : &none, &len) != 1) {
    plain.clear();
    return false;
  }
  return true;
}

}  // namespace softtoken
