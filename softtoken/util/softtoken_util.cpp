// softtoken-util: initialises, lists and deletes softtoken tokens and
// changes or resets their user PINs, for people and for scripts. Works
// through the module's own function list.
#include <pkcs11_vendor.h>
#include <secret_source.h>

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pin_commands.h"
#include "st_module.h"
#include "st_token.h"
#include "token_choice.h"
#include "util_report.h"
#include "util_session.h"

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR);

namespace {

using namespace util;

const char kUsage[] =
    "usage: softtoken-util [--dir DIR] COMMAND\n"
    "  --init-token --free --label LABEL --so-pin-source SRC --pin-source SRC\n"
    "                      initialise the token of the free slot; a PIN comes\n"
    "                      from pass:TEXT, env:VAR, file:PATH (first line),\n"
    "                      fd:N or stdin (--so-pin SOPIN, --pin PIN and\n"
    "                      --new-pin PIN also work, but show the PIN in the\n"
    "                      process list)\n"
    "  --show-slots        list the slots and their tokens\n"
    "  --change-pin (--label LABEL | --serial SERIAL) --pin-source SRC\n"
    "               --new-pin-source SRC\n"
    "                      change the user PIN, knowing the current one\n"
    "  --unblock-pin (--label LABEL | --serial SERIAL) --so-pin-source SRC\n"
    "                --new-pin-source SRC\n"
    "                      as the SO, give the user a new PIN; this also\n"
    "                      unlocks a user PIN locked by wrong tries\n"
    "  --delete-token --serial SERIAL (16 hexadecimal digits, any case)\n"
    "                      delete a token and everything on it\n"
    "  --help              show this text\n"
    "Tokens live in DIR, else $SOFTTOKEN_DIR, else $XDG_DATA_HOME/softtoken,\n"
    "else ~/.local/share/softtoken. PINs are 4 to 64 bytes; with several PINs\n"
    "from one descriptor, the SO PIN comes first, then the PIN, then the new PIN.\n"
    "SOFTTOKEN_PBKDF2_ITERATIONS (at least 1000, default 600000) sets the cost of\n"
    "the PIN key derivation for PINs set from then on; meant for test suites.\n";

// A PIN given on the command line (--pin) or read from a source
// (--pin-source); wiped when it goes. Its room is taken once, so reading the
// PIN leaves no copy behind.
struct PinOption {
  const char* name;
  const char* source_name;
  std::string value, source;
  bool literal = false, from_source = false;
  PinOption(const char* n, const char* sn) : name(n), source_name(sn) { value.reserve(SourcedSecret::kMaxLength + 1); }
  PinOption(const PinOption&) = delete;
  PinOption& operator=(const PinOption&) = delete;
  // The source too: pass:TEXT holds the PIN.
  ~PinOption() {
    wipe(value);
    wipe(source);
  }
  static void wipe(std::string& text) {
    text.resize(text.capacity());  // a longer text given before may have left bytes past the end
    OPENSSL_cleanse(&text[0], text.size());
  }
  bool given() const { return literal || from_source; }
};

struct Options {
  std::string command, label, serial, dir;
  PinOption so_pin{"--so-pin", "--so-pin-source"}, pin{"--pin", "--pin-source"},
      new_pin{"--new-pin", "--new-pin-source"};
  bool free_slot = false, have_label = false, have_serial = false;
  PinOption* pins[3] = {&so_pin, &pin, &new_pin};  // in the order they are read
};

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

int init_token(CK_FUNCTION_LIST_PTR f, const Options& o) {
  if (o.label.size() > 32) return usage_error("the label is longer than 32 bytes");
  if (!softtoken::pin_length_ok(o.so_pin.value.size()) || !softtoken::pin_length_ok(o.pin.value.size()))
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
  if (!found) return failure("no free slot");
  const std::string& so_pin = o.so_pin.value;
  unsigned char label[32];
  softtoken::pad_field(label, sizeof label, o.label);
  CK_RV rv = f->C_InitToken(slot, Session::pin_bytes(so_pin), so_pin.size(), label);
  if (rv != CKR_OK) return fail("C_InitToken", rv);
  {
    Session session(f);
    if ((rv = session.open(slot)) != CKR_OK) return fail("C_OpenSession", rv);
    if ((rv = session.login(CKU_SO, so_pin)) != CKR_OK) return fail("C_Login", rv);
    rv = f->C_InitPIN(session.handle(), Session::pin_bytes(o.pin.value), o.pin.value.size());
    if (rv != CKR_OK) return fail("C_InitPIN", rv);
  }
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
  if (!normalize_serial(serial)) return usage_error("a serial is 16 hexadecimal digits");
  std::string path = softtoken::Token::path_of(softtoken::token_directory(), serial);
  if (std::remove(path.c_str()) != 0)
    return failure("no token with serial " + serial + " in " + softtoken::token_directory());
  std::remove((path + "-wal").c_str());
  std::remove((path + "-shm").c_str());
  std::printf("Token %s deleted\n", serial.c_str());
  return 0;
}

// The token a PIN command names, and the command run on it; 0, or 1 after
// the failure's line.
int pin_command(CK_FUNCTION_LIST_PTR f, const Options& o) {
  TokenName name{o.label, o.serial, o.have_serial};
  FoundToken token;
  if (find_token(f, name, token) != 0) return 1;
  return o.command == "--change-pin" ? change_pin(f, token, o.pin.value, o.new_pin.value)
                                     : unblock_pin(f, token, o.so_pin.value, o.new_pin.value);
}

// What the command needs beyond its own PINs; "" when the line holds together.
std::string missing_for_pin_command(const Options& o) {
  const bool change = o.command == "--change-pin";
  const PinOption& old_pin = change ? o.pin : o.so_pin;
  if (o.have_label != o.have_serial && old_pin.given() && o.new_pin.given()) return std::string();
  if (o.have_label && o.have_serial) return "give --label or --serial, not both";
  return o.command + " needs --label (or --serial), " + old_pin.source_name + " (or " + old_pin.name + ") and " +
         "--new-pin-source (or --new-pin)";
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
    PinOption* pin = nullptr;
    for (PinOption* p : o.pins)
      if (a == p->name || a == p->source_name) pin = p;
    if (pin != nullptr) {
      const bool source = a == pin->source_name;
      if (!value(source ? pin->source : pin->value)) return usage_error(a + " needs a value");
      (source ? pin->from_source : pin->literal) = true;
      if (pin->literal && pin->from_source)
        return usage_error(std::string("give ") + pin->name + " or " + pin->source_name + ", not both");
    } else if (a == "--init-token" || a == "--show-slots" || a == "--delete-token" || a == "--change-pin" ||
               a == "--unblock-pin") {
      if (!o.command.empty()) return usage_error("give one command");
      o.command = a;
    } else if (a == "--free") {
      o.free_slot = true;
    } else if (a == "--label") {
      if (!(o.have_label = value(o.label))) return usage_error("--label needs a value");
    } else if (a == "--serial") {
      if (!(o.have_serial = value(o.serial))) return usage_error("--serial needs a value");
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
  if (o.command == "--init-token" && (!o.free_slot || !o.have_label || !o.so_pin.given() || !o.pin.given()))
    return usage_error("--init-token needs --free, --label, --so-pin-source (or --so-pin) and --pin-source (or --pin)");
  const bool pin_command_given = o.command == "--change-pin" || o.command == "--unblock-pin";
  if (pin_command_given) {
    std::string missing = missing_for_pin_command(o);
    if (!missing.empty()) return usage_error(missing);
    if (o.have_serial && !normalize_serial(o.serial)) return usage_error("a serial is 16 hexadecimal digits");
  }
  // One after the other: with several on one descriptor, the SO PIN is the
  // first line, then the PIN, then the new PIN.
  for (PinOption* p : o.pins)
    if (p->from_source)
      if (int status = read_pin_source(p->source_name, p->source, p->value)) return status;
  if (pin_command_given && !softtoken::pin_length_ok(o.new_pin.value.size()))
    return usage_error("the new PIN must be 4 to 64 bytes long");
  CK_FUNCTION_LIST_PTR f = nullptr;
  C_GetFunctionList(&f);
  CK_C_INITIALIZE_ARGS args{};
  args.flags = CKF_OS_LOCKING_OK;
  CK_RV rv = f->C_Initialize(&args);
  if (rv != CKR_OK) return fail("C_Initialize", rv);
  int status = o.command == "--init-token" ? init_token(f, o)
               : pin_command_given         ? pin_command(f, o)
                                           : show_slots(f);
  f->C_Finalize(nullptr);
  return status;
}
