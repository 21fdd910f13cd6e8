#include "st_module.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace softtoken {

namespace {

// Never destroyed: callers may outlive static teardown.
ModuleState* g_state = nullptr;

void lock_before_fork() { g_state->lock.lock(); }
void unlock_in_parent() { g_state->lock.unlock(); }
// A child of fork() starts afresh; what the parent had (sessions, logins,
// open databases) is left behind untouched, neither used nor closed.
void start_afresh_in_child() {
  ModuleState* parent = g_state;
  g_state = new ModuleState;
  g_state->left_by_parent = parent;
}

}  // namespace

ModuleState& state() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_state = new ModuleState;
    pthread_atfork(lock_before_fork, unlock_in_parent, start_afresh_in_child);
  });
  return *g_state;
}

std::string token_directory() {
  const char* dir = std::getenv("SOFTTOKEN_DIR");
  if (dir && *dir) return dir;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/softtoken";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/softtoken";
}

bool ensure_directory(const std::string& dir) {
  std::string path;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void refresh_slots() {
  ModuleState& st = state();
  std::vector<std::string> serials = list_token_serials(st.dir);
  // Drop slots whose token vanished, unless a session still uses them.
  st.slots.erase(std::remove_if(st.slots.begin(), st.slots.end(),
                                [&](const Slot& s) {
                                  return !s.serial.empty() &&
                                         !std::binary_search(serials.begin(), serials.end(), s.serial) &&
                                         count_sessions(s.id, false) == 0;
                                }),
                 st.slots.end());
  // The free slot stays last, so new tokens go in before it.
  auto fit = std::find_if(st.slots.begin(), st.slots.end(), [](const Slot& s) { return s.serial.empty(); });
  CK_SLOT_ID free_id = 0;
  bool had_free = fit != st.slots.end();
  if (had_free) {
    free_id = fit->id;
    st.slots.erase(fit);
  }
  for (const std::string& serial : serials) {
    auto known = std::find_if(st.slots.begin(), st.slots.end(), [&](const Slot& s) { return s.serial == serial; });
    if (known != st.slots.end()) {
      refresh_slot(*known);
      continue;
    }
    // An unreadable file still takes its slot, so that it is seen and the
    // slots of the tokens after it keep their numbers.
    Slot s;
    s.id = st.next_slot_id++;
    s.serial = serial;
    s.token = Token::open(st.dir, serial);
    st.slots.push_back(std::move(s));
  }
  Slot f;
  f.id = had_free ? free_id : st.next_slot_id++;
  st.slots.push_back(std::move(f));
}

void refresh_slot(Slot& slot) {
  if (slot.serial.empty() || count_sessions(slot.id, false) != 0) return;
  if (slot.token && slot.token->current()) return;
  std::string path = Token::path_of(state().dir, slot.serial);
  // A deleted token stays "not present" until the slot list drops it.
  if (access(path.c_str(), F_OK) != 0) return;
  slot.token = Token::open(state().dir, slot.serial);
}

Slot* find_slot(CK_SLOT_ID id) {
  for (Slot& s : state().slots)
    if (s.id == id) return &s;
  return nullptr;
}

Session* find_session(CK_SESSION_HANDLE handle) {
  auto it = state().sessions.find(handle);
  return it == state().sessions.end() ? nullptr : &it->second;
}

CK_ULONG count_sessions(CK_SLOT_ID slot, bool rw_only) {
  CK_ULONG n = 0;
  for (const auto& [h, s] : state().sessions)
    if (s.slot == slot && (!rw_only || (s.flags & CKF_RW_SESSION))) ++n;
  return n;
}

void close_session(CK_SESSION_HANDLE handle) {
  ModuleState& st = state();
  auto it = st.sessions.find(handle);
  if (it == st.sessions.end()) return;
  CK_SLOT_ID slot = it->second.slot;
  st.sessions.erase(it);
  for (auto o = st.session_objects.begin(); o != st.session_objects.end();) {
    if (o->second.owner == handle) o = st.session_objects.erase(o);
    else ++o;
  }
  // The login ends with the application's last session on the token.
  if (count_sessions(slot, false) == 0) {
    Slot* s = find_slot(slot);
    if (s && s->token) s->token->logout();
  }
}

bool session_is_rw(const Session& s) { return (s.flags & CKF_RW_SESSION) != 0; }

bool user_logged_in(const Session& s) {
  Slot* slot = find_slot(s.slot);
  return slot && slot->token && slot->token->login_state() == LoginState::User;
}

bool so_logged_in(const Session& s) {
  Slot* slot = find_slot(s.slot);
  return slot && slot->token && slot->token->login_state() == LoginState::SO;
}

static Token* token_of(Session& s) {
  Slot* slot = find_slot(s.slot);
  return slot ? slot->token.get() : nullptr;
}

CK_RV get_object(Session& s, CK_OBJECT_HANDLE handle, Object& out) {
  ModuleState& st = state();
  if (handle >= kSessionObjectBase) {
    auto it = st.session_objects.find(handle);
    if (it == st.session_objects.end() || it->second.slot != s.slot) return CKR_OBJECT_HANDLE_INVALID;
    if (get_bool(it->second.attrs, CKA_PRIVATE, false) && !user_logged_in(s)) return CKR_OBJECT_HANDLE_INVALID;
    out = Object();
    out.handle = handle;
    out.attrs = it->second.attrs;
    return CKR_OK;
  }
  Token* t = token_of(s);
  if (!t || handle == 0) return CKR_OBJECT_HANDLE_INVALID;
  return t->load(handle, out);
}

CK_RV visible_objects(Session& s, std::vector<Object>& out) {
  Token* t = token_of(s);
  if (!t) return CKR_DEVICE_ERROR;
  CK_RV rv = t->load_all(out);
  if (rv != CKR_OK) return rv;
  bool user = user_logged_in(s);
  for (const auto& [handle, o] : state().session_objects) {
    if (o.slot != s.slot || (get_bool(o.attrs, CKA_PRIVATE, false) && !user)) continue;
    Object obj;
    obj.handle = handle;
    obj.attrs = o.attrs;
    out.push_back(std::move(obj));
  }
  return CKR_OK;
}

static CK_RV check_placement(Session& s, const AttrMap& attrs) {
  if (get_bool(attrs, CKA_TOKEN, false) && !session_is_rw(s)) return CKR_SESSION_READ_ONLY;
  if (get_bool(attrs, CKA_PRIVATE, false) && !user_logged_in(s)) return CKR_USER_NOT_LOGGED_IN;
  return CKR_OK;
}

CK_RV store_objects(Session& s, const std::vector<AttrMap*>& objects, std::vector<CK_OBJECT_HANDLE>& handles) {
  ModuleState& st = state();
  std::vector<const AttrMap*> on_token;
  size_t in_session = 0;
  for (const AttrMap* a : objects) {
    CK_RV rv = check_placement(s, *a);
    if (rv != CKR_OK) return rv;
    if (get_bool(*a, CKA_TOKEN, false)) on_token.push_back(a);
    else ++in_session;
  }
  if (st.next_session_object > ~CK_OBJECT_HANDLE(0) - in_session) return CKR_DEVICE_MEMORY;
  std::vector<CK_OBJECT_HANDLE> token_handles;
  if (!on_token.empty()) {
    Token* t = token_of(s);
    if (!t) return CKR_DEVICE_ERROR;
    CK_RV rv = t->insert_all(on_token, token_handles);
    if (rv != CKR_OK) return rv;
  }
  handles.clear();
  size_t next_token = 0;
  for (AttrMap* a : objects) {
    if (get_bool(*a, CKA_TOKEN, false)) {
      handles.push_back(token_handles[next_token++]);
      continue;
    }
    CK_OBJECT_HANDLE h = st.next_session_object++;
    SessionObject& o = st.session_objects[h];
    o.owner = s.handle;
    o.slot = s.slot;
    o.attrs = std::move(*a);
    handles.push_back(h);
  }
  return CKR_OK;
}

CK_RV store_object(Session& s, AttrMap& attrs, CK_OBJECT_HANDLE& handle) {
  std::vector<CK_OBJECT_HANDLE> handles;
  CK_RV rv = store_objects(s, {&attrs}, handles);
  if (rv == CKR_OK) handle = handles[0];
  return rv;
}

CK_RV replace_object(Session& s, const Object& object) {
  if (object.handle >= kSessionObjectBase) {
    state().session_objects[object.handle].attrs = object.attrs;
    return CKR_OK;
  }
  if (!session_is_rw(s)) return CKR_SESSION_READ_ONLY;
  if (object.secrets_locked) return CKR_USER_NOT_LOGGED_IN;
  Token* t = token_of(s);
  return t ? t->update(object.handle, object.attrs) : CKR_DEVICE_ERROR;
}

CK_RV remove_object(Session& s, CK_OBJECT_HANDLE handle) {
  Object o;
  CK_RV rv = get_object(s, handle, o);
  if (rv != CKR_OK) return rv;
  if (handle >= kSessionObjectBase) {
    state().session_objects.erase(handle);
    return CKR_OK;
  }
  if (!session_is_rw(s)) return CKR_SESSION_READ_ONLY;
  Token* t = token_of(s);
  return t ? t->destroy(handle) : CKR_DEVICE_ERROR;
}

void pad_field(unsigned char* field, size_t size, const std::string& text) {
  std::memset(field, ' ', size);
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

}  // namespace softtoken
