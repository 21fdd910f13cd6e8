// The module's state in this process: slots, sessions, session objects and
// the one lock that serialises every call.
#ifndef SOFTTOKEN_ST_MODULE_H
#define SOFTTOKEN_ST_MODULE_H

#include <pkcs11_vendor.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "st_attributes.h"
#include "st_digest.h"
#include "st_gost_curves.h"
#include "st_token.h"

namespace softtoken {

constexpr CK_ULONG kMaxSessions = 1024;
// Session objects live above this handle; token objects below it.
constexpr CK_OBJECT_HANDLE kSessionObjectBase = 0x40000000UL;

struct Slot {
  CK_SLOT_ID id = 0;
  std::string serial;  // empty: the free slot, whose token is not initialised
  std::unique_ptr<Token> token;  // null in the free slot and for an unreadable token file
};

// A signing or verification started with *Init and not yet finished.
struct KeyOperation {
  bool active = false;
  bool updated = false;  // data came in parts: only *Final may end it
  CK_MECHANISM_TYPE mechanism = 0;
  const GostCurve* curve = nullptr;  // built-in curves live as long as the process
  SecureBytes key;   // private value (sign) or public value (verify)
  GostDigest hash;   // hash-and-sign: the digest of the data so far
  SecureBytes data;  // raw signing: the digest value handed in so far
};

struct Session {
  CK_SESSION_HANDLE handle = 0;
  CK_SLOT_ID slot = 0;
  CK_FLAGS flags = 0;
  bool find_active = false;
  std::vector<CK_OBJECT_HANDLE> found;
  size_t found_pos = 0;
  KeyOperation sign, verify;
  GostDigest digest;
};

struct SessionObject {
  CK_SESSION_HANDLE owner = 0;
  CK_SLOT_ID slot = 0;
  AttrMap attrs;
};

struct ModuleState {
  std::recursive_mutex lock;
  bool initialized = false;
  std::string dir;
  std::vector<Slot> slots;
  CK_SLOT_ID next_slot_id = 0;
  std::map<CK_SESSION_HANDLE, Session> sessions;
  CK_SESSION_HANDLE next_session = 1;
  std::map<CK_OBJECT_HANDLE, SessionObject> session_objects;
  CK_OBJECT_HANDLE next_session_object = kSessionObjectBase;
  ModuleState* left_by_parent = nullptr;  // in a child of fork(): the parent's state, kept but unused
};

ModuleState& state();

// Directory of the token databases: SOFTTOKEN_DIR, else
// $XDG_DATA_HOME/softtoken, else ~/.local/share/softtoken.
std::string token_directory();
bool ensure_directory(const std::string& dir);

// Brings the slot list up to date with the directory: new token files get
// new slots, vanished ones without sessions lose theirs, and one free slot
// always exists.
void refresh_slots();
Slot* find_slot(CK_SLOT_ID id);
// A token file that cannot be read keeps its slot: it answers as damaged.
inline bool slot_damaged(const Slot& s) { return !s.serial.empty() && !s.token; }
// Opens a slot's token file again when it was unreadable, or when another
// process replaced or re-initialised it while no session here used it.
void refresh_slot(Slot& slot);
Session* find_session(CK_SESSION_HANDLE handle);
CK_ULONG count_sessions(CK_SLOT_ID slot, bool rw_only);
void close_session(CK_SESSION_HANDLE handle);

// Objects as a session sees them.
CK_RV get_object(Session& s, CK_OBJECT_HANDLE handle, Object& out);
CK_RV visible_objects(Session& s, std::vector<Object>& out);
// Checks the session may create an object with these attributes and stores
// it; a session object takes the attributes over (the map is left empty).
CK_RV store_object(Session& s, AttrMap& attrs, CK_OBJECT_HANDLE& handle);
// Several objects at once: the token objects among them are committed
// together, so a key pair is never stored by half.
CK_RV store_objects(Session& s, const std::vector<AttrMap*>& objects, std::vector<CK_OBJECT_HANDLE>& handles);
CK_RV replace_object(Session& s, const Object& object);
CK_RV remove_object(Session& s, CK_OBJECT_HANDLE handle);

bool session_is_rw(const Session& s);
bool user_logged_in(const Session& s);
bool so_logged_in(const Session& s);

// Copies text into a blank-padded fixed field.
void pad_field(unsigned char* field, size_t size, const std::string& text);

}  // namespace softtoken

// The entry points start with this: take the lock, check initialisation.
#define ST_ENTER()                                                      \
  std::lock_guard<std::recursive_mutex> st_guard_(softtoken::state().lock); \
  if (!softtoken::state().initialized) return CKR_CRYPTOKI_NOT_INITIALIZED

#define ST_SESSION(var, handle)                            \
  softtoken::Session* var = softtoken::find_session(handle); \
  if (!var) return CKR_SESSION_HANDLE_INVALID

#endif
