// Buffers that wipe themselves: every byte that ever held a PIN, a key or a
// decrypted object passes through one of these.
#ifndef SOFTTOKEN_ST_SECURE_H
#define SOFTTOKEN_ST_SECURE_H

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace softtoken {

template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) {}
  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) {
    OPENSSL_cleanse(p, n * sizeof(T));
    ::operator delete(p);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const { return true; }
  template <class U>
  bool operator!=(const WipingAllocator<U>&) const { return false; }
};

using Bytes = std::vector<uint8_t>;
using SecureBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;

inline SecureBytes secure_copy(const void* p, std::size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return SecureBytes(b, b + n);
}

// Wipes a plain buffer on scope exit.
class ScopedWipe {
 public:
  ScopedWipe(void* p, std::size_t n) : p_(p), n_(n) {}
  ~ScopedWipe() { OPENSSL_cleanse(p_, n_); }
  ScopedWipe(const ScopedWipe&) = delete;
  ScopedWipe& operator=(const ScopedWipe&) = delete;

 private:
  void* p_;
  std::size_t n_;
};

}  // namespace softtoken

#endif
