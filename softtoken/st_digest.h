// The GOST R 34.11 digests of the crypto core as one streaming interface:
// GOST R 34.11-94 with the CryptoPro set, GOST R 34.11-2012 with 256 and 512
// bits. The state is wiped when the digest ends or is dropped.
#ifndef SOFTTOKEN_ST_DIGEST_H
#define SOFTTOKEN_ST_DIGEST_H

#include <pkcs11_vendor.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace softtoken {

class GostDigest {
 public:
  GostDigest();
  ~GostDigest();
  GostDigest(GostDigest&&) noexcept;
  GostDigest& operator=(GostDigest&&) noexcept;

  // Digest size of a digest mechanism; 0 for any other mechanism.
  static size_t size_of(CK_MECHANISM_TYPE digest_mechanism);
  // false for a mechanism that names no digest.
  bool init(CK_MECHANISM_TYPE digest_mechanism);
  bool active() const { return state_ != nullptr; }
  size_t size() const;
  bool update(const uint8_t* data, size_t len);
  // Writes size() bytes and ends the digest.
  bool final(uint8_t* out);
  void reset();

 private:
  struct State;
  struct StateFree {
    void operator()(State* s) const;
  };
  std::unique_ptr<State, StateFree> state_;
};

}  // namespace softtoken

#endif
