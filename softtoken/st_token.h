// One initialised token: its database, the login of this process, the
// unwrapped token key while someone is logged in, and the stored objects.
#ifndef SOFTTOKEN_ST_TOKEN_H
#define SOFTTOKEN_ST_TOKEN_H

#include <pkcs11_vendor.h>

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "st_attributes.h"
#include "st_storage.h"

namespace softtoken {

constexpr CK_ULONG kMinPinLen = 4;
constexpr CK_ULONG kMaxPinLen = 64;
constexpr long kMaxPinFailures = 10;

enum class LoginState { None, User, SO };

struct Object {
  CK_OBJECT_HANDLE handle = 0;
  AttrMap attrs;
  // Secret attributes of a public key object that cannot be decrypted
  // before a login.
  bool secrets_locked = false;
};

class Token {
 public:
  // Opens <dir>/<serial>.db; nullptr when missing or unreadable (not a
  // database, damaged settings, a serial other than its name).
  static std::unique_ptr<Token> open(const std::string& dir, const std::string& serial);
  // Creates a new token file; the serial is chosen here.
  static CK_RV create(const std::string& dir, const uint8_t* so_pin, size_t so_pin_len, const uint8_t* label32,
                      std::string& serial);
  static std::string path_of(const std::string& dir, const std::string& serial);

  const std::string& serial() const { return serial_; }
  // The file or its directory may not be written by this process.
  bool write_protected() const { return db_->read_only(); }
  // Whether the file opened is still the token's file, and still holds the
  // token this process opened (not deleted, replaced or re-initialised).
  bool current();
  bool removed() const { return !same_file(); }
  // Label (32 bytes, blank padded), flags of CK_TOKEN_INFO.
  CK_RV describe(uint8_t label[32], CK_FLAGS& flags);

  LoginState login_state() const { return state_; }
  CK_RV login(CK_USER_TYPE user, const uint8_t* pin, size_t pin_len);
  void logout();
  // Re-initialisation of this token by its SO: objects are erased.
  CK_RV reinitialize(const uint8_t* so_pin, size_t so_pin_len, const uint8_t* label32);
  CK_RV init_user_pin(const uint8_t* pin, size_t pin_len);
  CK_RV set_pin(const uint8_t* old_pin, size_t old_len, const uint8_t* new_pin, size_t new_len);

  // Objects visible in the current login state.
  CK_RV load_all(std::vector<Object>& out);
  // CKR_OBJECT_HANDLE_INVALID when missing or not visible.
  CK_RV load(CK_OBJECT_HANDLE handle, Object& out);
  CK_RV insert(const AttrMap& attrs, CK_OBJECT_HANDLE& handle);
  // Several objects in one transaction: all of them or none.
  CK_RV insert_all(const std::vector<const AttrMap*>& objects, std::vector<CK_OBJECT_HANDLE>& handles);
  CK_RV update(CK_OBJECT_HANDLE handle, const AttrMap& attrs);
  CK_RV destroy(CK_OBJECT_HANDLE handle);
  bool can_seal() const { return !token_key_.empty(); }

 private:
  Token(std::unique_ptr<TokenDb> db, std::string serial) : db_(std::move(db)), serial_(std::move(serial)) {}
  static CK_RV create_once(const std::string& dir, const uint8_t* so_pin, size_t so_pin_len, const uint8_t* label32,
                           std::string& serial);
  bool same_file() const;
  bool new_generation();
  // Starts a write: refused on a write-protected token and on one that
  // another process deleted or re-initialised.
  CK_RV begin_write(std::optional<TokenDb::Transaction>& tx);
  CK_RV check_pin(const char* who, const uint8_t* pin, size_t pin_len, SecureBytes& token_key);
  CK_RV wrap_for(const char* who, const uint8_t* pin, size_t pin_len, const SecureBytes& token_key);
  CK_RV decode(const StoredObject& row, Object& out);
  CK_RV set_key_check(const SecureBytes& token_key);
  bool key_is_current();
  CK_RV stale_login();
  CK_RV encode(int64_t id, const AttrMap& attrs, Bytes& clear, Bytes& sealed);

  std::unique_ptr<TokenDb> db_;
  std::string serial_;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  Bytes generation_;      // changes with every initialisation
  Bytes pending_generation_;
  int format_ = 1;        // 2: object records carry a checksum
  bool damage_reported_ = false;
  LoginState state_ = LoginState::None;
  SecureBytes token_key_;
  // Records decoded under the current login, with the bytes they came from.
  struct Decoded {
    Bytes clear, sealed;
    Object object;
  };
  static constexpr size_t kDecodedKept = 32;
  std::unordered_map<CK_OBJECT_HANDLE, Decoded> decoded_;
};

bool pin_length_ok(size_t len);
// Serials of the token files in a directory, sorted.
std::vector<std::string> list_token_serials(const std::string& dir);

}  // namespace softtoken

#endif
