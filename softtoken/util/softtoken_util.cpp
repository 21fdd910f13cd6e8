// softtoken-util: initialises, lists and deletes softtoken tokens, for
// people and for scripts. Works through the module's own function list.
#include <pkcs11_vendor.h>
#include <secret_source.h>

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "st_module.h"
#include "st_token.h"

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR);

namespace {

const char kUsage[] =
    "usage: softtoken-util [--dir DIR] COMMAND\n"
    "  --init-token --free --label LABEL --so-pin-source SRC --pin-source SRC\n"
    "                      initialise the token of the free slot; a PIN comes\n"
    "                      from pass:TEXT, env:VAR, file:PATH (first line),\n"
    "                      fd:N or stdin (--so-pin SOPIN and --pin PIN also\n"
    "                      work, but show the PIN in the process list)\n"
    "  --show-slots        list the slots and their tokens\n"
    "  --delete-token --serial SERIAL (16 hexadecimal digits, any case)\n"
    "                      delete a token and everything on it\n"
    "  --help              show this text\n"
    "Tokens live in DIR, else $SOFTTOKEN_DIR, else $XDG_DATA_HOME/softtoken,\n"
    "else ~/.local/share/softtoken. PINs are 4 to 64 bytes.\n"
    "SOFTTOKEN_PBKDF2_ITERATIONS (at least 1000, default 600000) sets the cost of\n"
    "the PIN key derivation for PINs set from then on; meant for test suites.\n";

struct Options {
  std::string command, label, serial, dir;
  std::string so_pin, pin, so_pin_source, pin_source;
  bool free_slot = false, have_label = false, have_so_pin = false, have_pin = false;
  bool so_pin_from_source = false, pin_from_source = false;
  ~Options() {
    OPENSSL_cleanse(&so_pin[0], so_pin.size());
    OPENSSL_cleanse(&pin[0], pin.size());
  }
};

const char* rv_name(CK_RV rv) {
  switch (rv) {
    case CKR_OK: return "CKR_OK";
    case CKR_ARGUMENTS_BAD: return "CKR_ARGUMENTS_BAD";
    case CKR_DEVICE_ERROR: return "CKR_DEVICE_ERROR";
    case CKR_PIN_INCORRECT: return "CKR_PIN_INCORRECT";
    case CKR_PIN_LEN_RANGE: return "CKR_PIN_LEN_RANGE";
    case CKR_PIN_LOCKED: return "CKR_PIN_LOCKED";
    case CKR_SESSION_EXISTS: return "CKR_SESSION_EXISTS";
    case CKR_SLOT_ID_INVALID: return "CKR_SLOT_ID_INVALID";
    case CKR_TOKEN_NOT_RECOGNIZED: return "CKR_TOKEN_NOT_RECOGNIZED";
    case CKR_USER_NOT_LOGGED_IN: return "CKR_USER_NOT_LOGGED_IN";
    default: return "error";
  }
}

int fail(const char* what, CK_RV rv) {
  std::fprintf(stderr, "softtoken-util: %s failed: %s (rc = 0x%lx)\n", what, rv_name(rv), rv);
  return 1;
}

int usage_error(const std::string& msg) {
  std::fprintf(stderr, "softtoken-util: %s\nTry 'softtoken-util --help' for more information.\n", msg.c_str());
  return 2;
}

// Reads a PIN from its source into `pin`: 0, 2 for a source of no known
// form, 1 for one that cannot be read (each after its line).
int read_pin_source(const char* option, const std::string& source, std::string& pin) {
  if (!is_secret_source_form(source.c_str()))
    return usage_error(std::string(option) + " takes pass:TEXT, env:VAR, file:PATH, fd:N or stdin");
  SourcedSecret secret;
  std::string reason;
  if (read_secret_source(source.c_str(), secret, reason) != SecretSourceResult::ok) {
    std::fprintf(stderr, "softtoken-util: can't read the PIN of %s: %s\n", option, reason.c_str());
    return 1;
  }
  OPENSSL_cleanse(&pin[0], pin.size());
  pin.assign(secret.data(), secret.size());
  return 0;
}

std::string trimmed(const unsigned char* field, size_t n) {
  std::string s(reinterpret_cast<const char*>(field), n);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// The module's slots; 0, or 1 after the error line.
int read_slots(CK_FUNCTION_LIST_PTR f, std::vector<CK_SLOT_ID>& slots) {
  CK_ULONG count = 0;
  CK_RV rv = f->C_GetSlotList(CK_TRUE, nullptr, &count);
  if (rv != CKR_OK) return fail("C_GetSlotList", rv);
  slots.resize(count);
  rv = f->C_GetSlotList(CK_TRUE, slots.data(), &count);
  if (rv != CKR_OK) return fail("C_GetSlotList", rv);
  slots.resize(count);
  return 0;
}

int init_token(CK_FUNCTION_LIST_PTR f, const Options& o) {
  if (o.label.size() > 32) return usage_error("the label is longer than 32 bytes");
  if (!softtoken::pin_length_ok(o.so_pin.size()) || !softtoken::pin_length_ok(o.pin.size()))
    return usage_error("PINs must be 4 to 64 bytes long");
  std::vector<CK_SLOT_ID> slots;
  if (read_slots(f, slots) != 0) return 1;
  CK_SLOT_ID slot = 0;
  bool found = false;
  for (CK_SLOT_ID id : slots) {
    CK_TOKEN_INFO ti;
    if (f->C_GetTokenInfo(id, &ti) == CKR_OK && !(ti.flags & CKF_TOKEN_INITIALIZED)) {
      slot = id;
      found = true;
      break;
    }
  }
  if (!found) {
    std::fprintf(stderr, "softtoken-util: no free slot\n");
    return 1;
  }
  unsigned char label[32];
  softtoken::pad_field(label, sizeof label, o.label);
  CK_RV rv = f->C_InitToken(slot, (CK_UTF8CHAR_PTR)o.so_pin.data(), o.so_pin.size(), label);
  if (rv != CKR_OK) return fail("C_InitToken", rv);
  CK_SESSION_HANDLE s;
  rv = f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s);
  if (rv != CKR_OK) return fail("C_OpenSession", rv);
  rv = f->C_Login(s, CKU_SO, (CK_UTF8CHAR_PTR)o.so_pin.data(), o.so_pin.size());
  if (rv == CKR_OK) {
    rv = f->C_InitPIN(s, (CK_UTF8CHAR_PTR)o.pin.data(), o.pin.size());
    if (rv != CKR_OK) {
      f->C_CloseSession(s);
      return fail("C_InitPIN", rv);
    }
    f->C_Logout(s);
  } else {
    f->C_CloseSession(s);
    return fail("C_Login", rv);
  }
  f->C_CloseSession(s);
  CK_TOKEN_INFO ti;
  rv = f->C_GetTokenInfo(slot, &ti);
  if (rv != CKR_OK) return fail("C_GetTokenInfo", rv);
  std::printf("Token '%s' initialised in slot %lu, serial %s\n", o.label.c_str(), slot,
              trimmed(ti.serialNumber, sizeof ti.serialNumber).c_str());
  return 0;
}

int show_slots(CK_FUNCTION_LIST_PTR f) {
  std::vector<CK_SLOT_ID> slots;
  if (read_slots(f, slots) != 0) return 1;
  std::printf("Token directory: %s\n", softtoken::state().dir.c_str());
  for (size_t i = 0; i < slots.size(); ++i) {
    CK_TOKEN_INFO ti;
    CK_RV rv = f->C_GetTokenInfo(slots[i], &ti);
    if (rv != CKR_OK) return fail("C_GetTokenInfo", rv);
    if (!(ti.flags & CKF_TOKEN_INITIALIZED)) {
      std::printf("Slot %lu: free (no token initialised)\n", slots[i]);
      continue;
    }
    std::string state = (ti.flags & CKF_USER_PIN_INITIALIZED) ? "user PIN set" : "user PIN not set";
    if (ti.flags & CKF_USER_PIN_LOCKED) state += ", user PIN locked";
    if (ti.flags & CKF_SO_PIN_LOCKED) state += ", SO PIN locked";
    std::printf("Slot %lu: serial %s, label '%s', %s\n", slots[i], trimmed(ti.serialNumber, 16).c_str(),
                trimmed(ti.label, 32).c_str(), state.c_str());
  }
  return 0;
}

int delete_token(const Options& o) {
  // Serials are shown in upper case; any case is taken.
  std::string serial = o.serial;
  bool valid = serial.size() == 16;
  for (char& c : serial) {
    valid = valid && c != '\0' && std::strchr("0123456789ABCDEFabcdef", c) != nullptr;
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  if (!valid) return usage_error("a serial is 16 hexadecimal digits");
  std::string path = softtoken::Token::path_of(softtoken::token_directory(), serial);
  if (std::remove(path.c_str()) != 0) {
    std::fprintf(stderr, "softtoken-util: no token with serial %s in %s\n", serial.c_str(),
                 softtoken::token_directory().c_str());
    return 1;
  }
  std::remove((path + "-wal").c_str());
  std::remove((path + "-shm").c_str());
  std::printf("Token %s deleted\n", serial.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--init-token" || a == "--show-slots" || a == "--delete-token") {
      if (!o.command.empty()) return usage_error("give one command");
      o.command = a;
    } else if (a == "--free") {
      o.free_slot = true;
    } else if (a == "--label") {
      if (!(o.have_label = value(o.label))) return usage_error("--label needs a value");
    } else if (a == "--so-pin") {
      if (!(o.have_so_pin = value(o.so_pin))) return usage_error("--so-pin needs a value");
    } else if (a == "--pin") {
      if (!(o.have_pin = value(o.pin))) return usage_error("--pin needs a value");
    } else if (a == "--so-pin-source") {
      if (!(o.have_so_pin = o.so_pin_from_source = value(o.so_pin_source)))
        return usage_error("--so-pin-source needs a value");
    } else if (a == "--pin-source") {
      if (!(o.have_pin = o.pin_from_source = value(o.pin_source)))
        return usage_error("--pin-source needs a value");
    } else if (a == "--serial") {
      if (!value(o.serial)) return usage_error("--serial needs a value");
    } else if (a == "--dir") {
      if (!value(o.dir)) return usage_error("--dir needs a value");
    } else {
      return usage_error("unknown option '" + a + "'");
    }
  }
  if (o.command.empty()) return usage_error("no command given");
  if (!o.dir.empty()) setenv("SOFTTOKEN_DIR", o.dir.c_str(), 1);
  if (o.command == "--delete-token") {
    if (o.serial.empty()) return usage_error("--delete-token needs --serial");
    return delete_token(o);
  }
  if (o.command == "--init-token" && (!o.free_slot || !o.have_label || !o.have_so_pin || !o.have_pin))
    return usage_error("--init-token needs --free, --label, --so-pin-source (or --so-pin) and --pin-source (or --pin)");
  // The SO PIN first: with both on one descriptor, it is the first line.
  if (o.so_pin_from_source)
    if (int status = read_pin_source("--so-pin-source", o.so_pin_source, o.so_pin)) return status;
  if (o.pin_from_source)
    if (int status = read_pin_source("--pin-source", o.pin_source, o.pin)) return status;
  CK_FUNCTION_LIST_PTR f = nullptr;
  C_GetFunctionList(&f);
  CK_C_INITIALIZE_ARGS args{};
  args.flags = CKF_OS_LOCKING_OK;
  CK_RV rv = f->C_Initialize(&args);
  if (rv != CKR_OK) return fail("C_Initialize", rv);
  int status = o.command == "--init-token" ? init_token(f, o) : show_slots(f);
  f->C_Finalize(nullptr);
  return status;
}
