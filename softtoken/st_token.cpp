#include "st_token.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "st_vault.h"

namespace softtoken {
namespace {

std::string counter_name(const char* who) { return std::string(who) + "_fails"; }
std::string key_name(const char* who) { return std::string(who) + "_key"; }
std::string salt_name(const char* who) { return std::string(who) + "_salt"; }
std::string iter_name(const char* who) { return std::string(who) + "_iterations"; }
std::string digest_name(const char* who) { return std::string(who) + "_key_digest"; }

constexpr uint8_t kFormat = 2;
constexpr size_t kChecksumLen = 32;

// SHA-256 over length-prefixed fields.
class Sha256 {
 public:
  Sha256() : ctx_(EVP_MD_CTX_new()) { ok_ = ctx_ && md() && EVP_DigestInit_ex(ctx_, md(), nullptr) == 1; }
  ~Sha256() { EVP_MD_CTX_free(ctx_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  Sha256& add(const void* p, size_t n) {
    uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<uint8_t>(static_cast<uint64_t>(n) >> (8 * i));
    ok_ = ok_ && EVP_DigestUpdate(ctx_, len, sizeof len) == 1 && (!n || EVP_DigestUpdate(ctx_, p, n) == 1);
    return *this;
  }
  Sha256& add(const Bytes& b) { return add(b.data(), b.size()); }
  Sha256& add(const std::string& t) { return add(t.data(), t.size()); }
  // Empty when the digest could not be computed: then nothing matches it.
  Bytes done() {
    Bytes out(kChecksumLen);
    if (!ok_ || EVP_DigestFinal_ex(ctx_, out.data(), nullptr) != 1) out.clear();
    return out;
  }

 private:
  static const EVP_MD* md() {
    static EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);  // kept for the life of the process
    return fetched;
  }
  EVP_MD_CTX* ctx_;
  bool ok_ = false;
};

// Catches damage to the stored copy of a wrapped PIN key, so that damage is
// not taken for a wrong PIN.
Bytes wrapped_key_digest(const char* who, const Bytes& salt, const Bytes& iterations, const Bytes& wrapped) {
  return Sha256().add(std::string("softtoken wrapped key ") + who).add(salt).add(iterations).add(wrapped).done();
}

// Catches damage to an object record (its open part read without a login).
Bytes record_checksum(const std::string& serial, int64_t id, bool is_private, const uint8_t* clear, size_t clear_len,
                      const Bytes& sealed) {
  uint8_t flags[9];
  for (int i = 0; i < 8; ++i) flags[i] = static_cast<uint8_t>(static_cast<uint64_t>(id) >> (8 * i));
  flags[8] = is_private ? 1 : 0;
  return Sha256().add("softtoken record " + serial).add(flags, sizeof flags).add(clear, clear_len).add(sealed).done();
}

std::string hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

const char kKeyCheck[] = "key_check";
const char kKeyCheckAad[] = "softtoken token key check";

// Serials grow with time (seconds, then random bits) and always exceed the
// serials already in the directory, so listing tokens by serial lists them
// in the order they were made, and slot numbers stay stable.
std::string next_serial(const std::string& dir) {
  uint8_t raw[4];
  if (!random_bytes(raw, sizeof raw)) return {};
  uint64_t value = (static_cast<uint64_t>(std::time(nullptr)) & 0xffffffffULL) << 32 |
                   static_cast<uint64_t>(raw[0]) << 24 | static_cast<uint64_t>(raw[1]) << 16 |
                   static_cast<uint64_t>(raw[2]) << 8 | raw[3];
  for (const std::string& existing : list_token_serials(dir)) {
    uint64_t e = std::strtoull(existing.c_str(), nullptr, 16);
    if (e >= value) value = e + 1;
  }
  uint8_t be[8];
  for (int i = 0; i < 8; ++i) be[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
  return hex(be, sizeof be);
}

std::string object_aad(const std::string& serial, int64_t id) {
  return "softtoken object " + serial + " " + std::to_string(id);
}

}  // namespace

std::vector<std::string> list_token_serials(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() == 19 && name.compare(16, 3, ".db") == 0 &&
        std::all_of(name.begin(), name.begin() + 16, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
      out.push_back(name.substr(0, 16));
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

bool pin_length_ok(size_t len) { return len >= kMinPinLen && len <= kMaxPinLen; }

std::string Token::path_of(const std::string& dir, const std::string& serial) { return dir + "/" + serial + ".db"; }

std::unique_ptr<Token> Token::open(const std::string& dir, const std::string& serial) {
  std::string path = path_of(dir, serial);
  auto db = TokenDb::open(path);
  if (!db) return nullptr;
  Bytes v, label, format;
  if (!db->get_meta("serial", v) || std::string(v.begin(), v.end()) != serial || !db->get_meta("label", label) ||
      label.size() != 32 || !db->get_meta("format", format) || format.size() != 1 || format[0] < 1 ||
      format[0] > kFormat || !db->get_meta(key_name("so"), v))
    return nullptr;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return nullptr;
  std::unique_ptr<Token> t(new Token(std::move(db), serial));
  t->path_ = path;
  t->dev_ = st.st_dev;
  t->ino_ = st.st_ino;
  t->format_ = format[0];
  t->db_->get_meta("generation", t->generation_);
  return t;
}

bool Token::same_file() const {
  struct stat st;
  return stat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_;
}

bool Token::current() {
  Bytes g;
  db_->get_meta("generation", g);
  return same_file() && g == generation_;
}

CK_RV Token::begin_write(std::optional<TokenDb::Transaction>& tx) {
  if (db_->read_only()) return CKR_TOKEN_WRITE_PROTECTED;
  if (!same_file()) return CKR_DEVICE_REMOVED;
  tx.emplace(*db_);
  if (!tx->ok()) return CKR_DEVICE_ERROR;
  Bytes g;
  db_->get_meta("generation", g);
  if (g == generation_) return CKR_OK;
  // The token this process logged in to is gone.
  logout();
  return CKR_DEVICE_REMOVED;
}

CK_RV Token::create(const std::string& dir, const uint8_t* so_pin, size_t so_pin_len, const uint8_t* label32,
                    std::string& serial) {
  // Another process may pick the same serial at the same moment: the one
  // that comes second tries the next one.
  for (int attempt = 0; attempt < 8; ++attempt) {
    CK_RV rv = create_once(dir, so_pin, so_pin_len, label32, serial);
    if (rv != CKR_FUNCTION_REJECTED) return rv;
  }
  return CKR_DEVICE_ERROR;
}

CK_RV Token::create_once(const std::string& dir, const uint8_t* so_pin, size_t so_pin_len, const uint8_t* label32,
                         std::string& serial) {
  serial = next_serial(dir);
  if (serial.empty()) return CKR_DEVICE_ERROR;
  // Built under a temporary name, then renamed: a token file either is
  // complete or does not exist.
  std::string tmp = path_of(dir, serial) + ".new";
  {
    auto db = TokenDb::create(tmp);
    if (!db) return errno == EEXIST ? CKR_FUNCTION_REJECTED : CKR_DEVICE_ERROR;
    std::unique_ptr<Token> t(new Token(std::move(db), serial));
    SecureBytes token_key;
    if (!random_secure(token_key, kTokenKeyLen)) return CKR_DEVICE_ERROR;
    TokenDb::Transaction tx(*t->db_);
    CK_RV rv = tx.ok() ? CKR_OK : CKR_DEVICE_ERROR;
    if (rv == CKR_OK && (!t->db_->set_meta("serial", reinterpret_cast<const uint8_t*>(serial.data()), serial.size()) ||
                         !t->db_->set_meta("label", label32, 32) || !t->db_->set_meta("format", Bytes{kFormat}) ||
                         !t->new_generation()))
      rv = CKR_DEVICE_ERROR;
    if (rv == CKR_OK) rv = t->wrap_for("so", so_pin, so_pin_len, token_key);
    if (rv == CKR_OK) rv = t->set_key_check(token_key);
    if (rv == CKR_OK && !tx.commit()) rv = CKR_DEVICE_ERROR;
    if (rv != CKR_OK) {
      t.reset();
      std::remove(tmp.c_str());
      return rv;
    }
  }
  std::string final_path = path_of(dir, serial);
  for (const char* suffix : {"-wal", "-shm"}) std::remove((tmp + suffix).c_str());
  // A link, unlike a rename, never replaces a token that is already there.
  int linked = link(tmp.c_str(), final_path.c_str());
  int err = errno;
  std::remove(tmp.c_str());
  if (linked != 0) return err == EEXIST ? CKR_FUNCTION_REJECTED : CKR_DEVICE_ERROR;
  return CKR_OK;
}

CK_RV Token::describe(uint8_t label[32], CK_FLAGS& flags) {
  Bytes v;
  if (!db_->get_meta("label", v) || v.size() != 32) return CKR_DEVICE_ERROR;
  std::memcpy(label, v.data(), 32);
  flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED;
  if (db_->read_only()) flags |= CKF_WRITE_PROTECTED;
  if (db_->get_meta(key_name("user"), v)) flags |= CKF_USER_PIN_INITIALIZED;
  long user_fails = db_->get_counter(counter_name("user"));
  long so_fails = db_->get_counter(counter_name("so"));
  if (user_fails >= kMaxPinFailures) flags |= CKF_USER_PIN_LOCKED;
  else if (user_fails == kMaxPinFailures - 1) flags |= CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_COUNT_LOW;
  else if (user_fails > 0) flags |= CKF_USER_PIN_COUNT_LOW;
  if (so_fails >= kMaxPinFailures) flags |= CKF_SO_PIN_LOCKED;
  else if (so_fails == kMaxPinFailures - 1) flags |= CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_COUNT_LOW;
  else if (so_fails > 0) flags |= CKF_SO_PIN_COUNT_LOW;
  return CKR_OK;
}

CK_RV Token::wrap_for(const char* who, const uint8_t* pin, size_t pin_len, const SecureBytes& token_key) {
  Bytes salt(kSaltLen);
  SecureBytes kek;
  Bytes wrapped;
  unsigned long iterations = pbkdf2_iterations_from_env();
  std::string it = std::to_string(iterations);
  if (!random_bytes(salt.data(), salt.size()) || !derive_pin_key(pin, pin_len, salt, iterations, kek) ||
      !seal(kek, token_key.data(), token_key.size(), std::string("softtoken token key ") + who, wrapped))
    return CKR_DEVICE_ERROR;
  Bytes iter(it.begin(), it.end());
  if (!db_->set_meta(salt_name(who), salt) || !db_->set_meta(key_name(who), wrapped) ||
      !db_->set_meta(iter_name(who), iter) ||
      !db_->set_meta(digest_name(who), wrapped_key_digest(who, salt, iter, wrapped)) ||
      !db_->set_counter(counter_name(who), 0))
    return CKR_DEVICE_ERROR;
  return CKR_OK;
}

CK_RV Token::check_pin(const char* who, const uint8_t* pin, size_t pin_len, SecureBytes& token_key) {
  Bytes salt, wrapped, iter;
  if (!db_->get_meta(key_name(who), wrapped))
    return std::strcmp(who, "user") == 0 ? CKR_USER_PIN_NOT_INITIALIZED : CKR_DEVICE_ERROR;
  if (!db_->get_meta(salt_name(who), salt) || !db_->get_meta(iter_name(who), iter)) return CKR_DEVICE_ERROR;
  // Damage is no wrong PIN: it is reported as such and counts no failure.
  Bytes digest;
  if (db_->get_meta(digest_name(who), digest) && digest != wrapped_key_digest(who, salt, iter, wrapped))
    return CKR_DEVICE_ERROR;
  if (db_->get_counter(counter_name(who)) >= kMaxPinFailures) return CKR_PIN_LOCKED;
  unsigned long iterations = std::strtoul(std::string(iter.begin(), iter.end()).c_str(), nullptr, 10);
  SecureBytes kek;
  if (iterations == 0 || !derive_pin_key(pin, pin_len, salt, iterations, kek)) return CKR_DEVICE_ERROR;
  bool good = open_sealed(kek, wrapped.data(), wrapped.size(), std::string("softtoken token key ") + who, token_key);
  // A token this process may not write keeps its counter as it is.
  if (db_->read_only()) return good ? CKR_OK : CKR_PIN_INCORRECT;
  // The failure counter is read and written in one transaction so that two
  // processes guessing at once are both counted.
  std::optional<TokenDb::Transaction> tx;
  CK_RV rv = begin_write(tx);
  if (rv != CKR_OK) {
    token_key.clear();
    return rv;
  }
  long fails = db_->get_counter(counter_name(who));
  if (good) {
    if (fails >= kMaxPinFailures) {
      token_key.clear();
      return CKR_PIN_LOCKED;
    }
    if (fails != 0 && (!db_->set_counter(counter_name(who), 0) || !tx->commit())) return CKR_DEVICE_ERROR;
    return CKR_OK;
  }
  if (!db_->set_counter(counter_name(who), fails + 1) || !tx->commit()) return CKR_DEVICE_ERROR;
  return fails + 1 > kMaxPinFailures ? CKR_PIN_LOCKED : CKR_PIN_INCORRECT;
}

CK_RV Token::login(CK_USER_TYPE user, const uint8_t* pin, size_t pin_len) {
  const char* who = user == CKU_SO ? "so" : "user";
  SecureBytes key;
  CK_RV rv = check_pin(who, pin, pin_len, key);
  if (rv != CKR_OK) return rv;
  token_key_ = std::move(key);
  decoded_.clear();
  state_ = user == CKU_SO ? LoginState::SO : LoginState::User;
  return CKR_OK;
}

void Token::logout() {
  state_ = LoginState::None;
  decoded_.clear();
  token_key_.clear();
  token_key_.shrink_to_fit();
}

bool Token::new_generation() {
  uint8_t g[8];
  if (!random_bytes(g, sizeof g)) return false;
  Bytes value(g, g + sizeof g);
  if (!db_->set_meta("generation", value)) return false;
  pending_generation_ = value;
  return true;
}

CK_RV Token::reinitialize(const uint8_t* so_pin, size_t so_pin_len, const uint8_t* label32) {
  if (write_protected()) return CKR_TOKEN_WRITE_PROTECTED;
  SecureBytes old_key;
  CK_RV rv = check_pin("so", so_pin, so_pin_len, old_key);
  if (rv != CKR_OK) return rv;
  SecureBytes token_key;
  if (!random_secure(token_key, kTokenKeyLen)) return CKR_DEVICE_ERROR;
  std::optional<TokenDb::Transaction> tx;
  if ((rv = begin_write(tx)) != CKR_OK) return rv;
  if (!db_->delete_all_objects() || !db_->set_meta("label", label32, 32) || !new_generation()) return CKR_DEVICE_ERROR;
  for (const std::string& name :
       {key_name("user"), salt_name("user"), iter_name("user"), counter_name("user"), digest_name("user")})
    if (!db_->delete_meta(name)) return CKR_DEVICE_ERROR;
  rv = wrap_for("so", so_pin, so_pin_len, token_key);
  if (rv == CKR_OK) rv = set_key_check(token_key);
  if (rv != CKR_OK) return rv;
  if (!tx->commit()) return CKR_DEVICE_ERROR;
  generation_ = pending_generation_;
  logout();
  return CKR_OK;
}

CK_RV Token::init_user_pin(const uint8_t* pin, size_t pin_len) {
  if (state_ != LoginState::SO || token_key_.empty()) return CKR_USER_NOT_LOGGED_IN;
  std::optional<TokenDb::Transaction> tx;
  CK_RV rv = begin_write(tx);
  if (rv == CKR_OK) rv = wrap_for("user", pin, pin_len, token_key_);
  if (rv != CKR_OK) return rv;
  return tx->commit() ? CKR_OK : CKR_DEVICE_ERROR;
}

CK_RV Token::set_pin(const uint8_t* old_pin, size_t old_len, const uint8_t* new_pin, size_t new_len) {
  if (write_protected()) return CKR_TOKEN_WRITE_PROTECTED;
  const char* who = state_ == LoginState::SO ? "so" : "user";
  SecureBytes key;
  CK_RV rv = check_pin(who, old_pin, old_len, key);
  if (rv != CKR_OK) return rv;
  std::optional<TokenDb::Transaction> tx;
  if ((rv = begin_write(tx)) != CKR_OK) return rv;
  rv = wrap_for(who, new_pin, new_len, key);
  if (rv != CKR_OK) return rv;
  return tx->commit() ? CKR_OK : CKR_DEVICE_ERROR;
}

CK_RV Token::set_key_check(const SecureBytes& token_key) {
  Bytes check;
  if (!seal(token_key, nullptr, 0, kKeyCheckAad, check) || !db_->set_meta(kKeyCheck, check)) return CKR_DEVICE_ERROR;
  return CKR_OK;
}

bool Token::key_is_current() {
  Bytes check;
  SecureBytes plain;
  if (!db_->get_meta(kKeyCheck, check)) return false;
  return open_sealed(token_key_, check.data(), check.size(), kKeyCheckAad, plain);
}

CK_RV Token::stale_login() {
  logout();
  return CKR_USER_NOT_LOGGED_IN;
}

// A damaged record decodes to CKR_DEVICE_ERROR.
CK_RV Token::decode(const StoredObject& row, Object& out) {
  out = Object();
  out.handle = static_cast<CK_OBJECT_HANDLE>(row.id);
  size_t clear_len = row.clear.size();
  if (format_ >= 2) {
    if (clear_len < kChecksumLen) return CKR_DEVICE_ERROR;
    clear_len -= kChecksumLen;
    Bytes sum = record_checksum(serial_, row.id, row.is_private, row.clear.data(), clear_len, row.sealed);
    if (sum.size() != kChecksumLen || std::memcmp(sum.data(), row.clear.data() + clear_len, kChecksumLen) != 0)
      return CKR_DEVICE_ERROR;
  }
  if (!parse_attrs(row.clear.data(), clear_len, out.attrs)) return CKR_DEVICE_ERROR;
  if (row.sealed.empty()) return CKR_OK;
  if (token_key_.empty()) {
    out.secrets_locked = true;
    return CKR_OK;
  }
  SecureBytes plain;
  AttrMap secret;
  if (!open_sealed(token_key_, row.sealed.data(), row.sealed.size(), object_aad(serial_, row.id), plain))
    // Another process may have re-initialised the token under our login.
    return key_is_current() ? CKR_DEVICE_ERROR : stale_login();
  if (!parse_attrs(plain.data(), plain.size(), secret)) return CKR_DEVICE_ERROR;
  for (auto& [type, value] : secret) out.attrs[type] = std::move(value);
  return CKR_OK;
}

CK_RV Token::encode(int64_t id, const AttrMap& attrs, Bytes& clear, Bytes& sealed) {
  bool is_private = get_bool(attrs, CKA_PRIVATE, false);
  CK_OBJECT_CLASS cls = object_class(attrs);
  AttrMap open_part, secret_part;
  for (const auto& [type, value] : attrs) {
    if (is_private || is_secret_attribute(cls, type)) secret_part[type] = value;
    else open_part[type] = value;
  }
  SecureBytes c = serialize_attrs(open_part);
  clear.assign(c.begin(), c.end());
  sealed.clear();
  if (!secret_part.empty()) {
    if (token_key_.empty()) return CKR_USER_NOT_LOGGED_IN;
    // Runs inside the write transaction: a key replaced by a re-initialisation
    // in another process is noticed before anything is sealed with it.
    if (!key_is_current()) return stale_login();
    SecureBytes plain = serialize_attrs(secret_part);
    if (!seal(token_key_, plain.data(), plain.size(), object_aad(serial_, id), sealed)) return CKR_DEVICE_ERROR;
  }
  if (format_ >= 2) {
    Bytes sum = record_checksum(serial_, id, is_private, clear.data(), clear.size(), sealed);
    if (sum.size() != kChecksumLen) return CKR_DEVICE_ERROR;
    clear.insert(clear.end(), sum.begin(), sum.end());
  }
  return CKR_OK;
}

CK_RV Token::load_all(std::vector<Object>& out) {
  out.clear();
  std::vector<StoredObject> rows;
  if (!db_->load_objects(rows)) return CKR_DEVICE_ERROR;
  size_t damaged = 0;
  for (const StoredObject& row : rows) {
    if (row.is_private && state_ != LoginState::User) continue;
    Object o;
    CK_RV rv = decode(row, o);
    // One damaged record hides nothing else.
    if (rv == CKR_DEVICE_ERROR) {
      ++damaged;
      continue;
    }
    if (rv != CKR_OK) return rv;
    out.push_back(std::move(o));
  }
  if (damaged && !damage_reported_) {
    damage_reported_ = true;
    std::fprintf(stderr, "softtoken: token %s: %zu damaged object record(s) skipped\n", serial_.c_str(), damaged);
  }
  return CKR_OK;
}

CK_RV Token::load(CK_OBJECT_HANDLE handle, Object& out) {
  StoredObject row;
  bool found = false;
  if (!db_->load_object(static_cast<int64_t>(handle), row, found)) return CKR_DEVICE_ERROR;
  if (!found || (row.is_private && state_ != LoginState::User)) return CKR_OBJECT_HANDLE_INVALID;
  // A record decoded before under the same login, byte for byte the same
  // now, is not checked and opened again (a key used for one operation
  // after another).
  auto it = decoded_.find(handle);
  if (it != decoded_.end() && it->second.clear == row.clear && it->second.sealed == row.sealed) {
    out = it->second.object;
    return CKR_OK;
  }
  CK_RV rv = decode(row, out);
  if (rv == CKR_OK) {
    if (decoded_.size() >= kDecodedKept) decoded_.clear();
    decoded_[handle] = Decoded{std::move(row.clear), std::move(row.sealed), out};
  }
  return rv == CKR_DEVICE_ERROR ? CKR_OBJECT_HANDLE_INVALID : rv;
}

CK_RV Token::insert(const AttrMap& attrs, CK_OBJECT_HANDLE& handle) {
  std::vector<CK_OBJECT_HANDLE> handles;
  CK_RV rv = insert_all({&attrs}, handles);
  if (rv == CKR_OK) handle = handles[0];
  return rv;
}

CK_RV Token::insert_all(const std::vector<const AttrMap*>& objects, std::vector<CK_OBJECT_HANDLE>& handles) {
  handles.clear();
  std::optional<TokenDb::Transaction> tx;
  CK_RV rv = begin_write(tx);
  if (rv != CKR_OK) return rv;
  std::vector<CK_OBJECT_HANDLE> made;
  for (const AttrMap* attrs : objects) {
    int64_t id = 0;
    if (!db_->insert_object(get_bool(*attrs, CKA_PRIVATE, false), Bytes(), id)) return CKR_DEVICE_ERROR;
    Bytes clear, sealed;
    rv = encode(id, *attrs, clear, sealed);
    if (rv != CKR_OK) return rv;
    if (!db_->update_object(id, clear, sealed)) return CKR_DEVICE_ERROR;
    made.push_back(static_cast<CK_OBJECT_HANDLE>(id));
  }
  if (!tx->commit()) return CKR_DEVICE_ERROR;
  handles = std::move(made);
  return CKR_OK;
}

CK_RV Token::update(CK_OBJECT_HANDLE handle, const AttrMap& attrs) {
  std::optional<TokenDb::Transaction> tx;
  CK_RV rv = begin_write(tx);
  if (rv != CKR_OK) return rv;
  int64_t id = static_cast<int64_t>(handle);
  if (!db_->object_exists(id)) return CKR_OBJECT_HANDLE_INVALID;
  Bytes clear, sealed;
  rv = encode(id, attrs, clear, sealed);
  if (rv != CKR_OK) return rv;
  if (!db_->update_object(id, clear, sealed) || !tx->commit()) return CKR_DEVICE_ERROR;
  return CKR_OK;
}

CK_RV Token::destroy(CK_OBJECT_HANDLE handle) {
  std::optional<TokenDb::Transaction> tx;
  CK_RV rv = begin_write(tx);
  if (rv != CKR_OK) return rv;
  int64_t id = static_cast<int64_t>(handle);
  if (!db_->object_exists(id)) return CKR_OBJECT_HANDLE_INVALID;
  if (!db_->delete_object(id) || !tx->commit()) return CKR_DEVICE_ERROR;
  return CKR_OK;
}

}  // namespace softtoken
