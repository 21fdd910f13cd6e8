// Sessions and login.
#include <cstring>

#include "st_export.h"
#include "st_module.h"

using namespace softtoken;

extern "C" {

ST_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slot_id, CK_FLAGS flags, CK_VOID_PTR /*application*/, CK_NOTIFY /*notify*/,
                              CK_SESSION_HANDLE_PTR out) {
  ST_ENTER();
  if (!out) return CKR_ARGUMENTS_BAD;
  Slot* slot = find_slot(slot_id);
  if (!slot) return CKR_SLOT_ID_INVALID;
  if (!(flags & CKF_SERIAL_SESSION)) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
  refresh_slot(*slot);
  if (slot_damaged(*slot)) return CKR_DEVICE_ERROR;
  if (!slot->token) return CKR_TOKEN_NOT_RECOGNIZED;
  if (slot->token->removed()) return CKR_TOKEN_NOT_PRESENT;
  if (!(flags & CKF_RW_SESSION) && slot->token->login_state() == LoginState::SO)
    return CKR_SESSION_READ_WRITE_SO_EXISTS;
  ModuleState& st = state();
  if (st.sessions.size() >= kMaxSessions) return CKR_SESSION_COUNT;
  Session s;
  s.handle = st.next_session++;
  s.slot = slot_id;
  s.flags = flags & (CKF_SERIAL_SESSION | CKF_RW_SESSION);
  *out = s.handle;
  st.sessions.emplace(s.handle, std::move(s));
  return CKR_OK;
}

ST_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE handle) {
  ST_ENTER();
  ST_SESSION(s, handle);
  (void)s;
  close_session(handle);
  return CKR_OK;
}

ST_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slot_id) {
  ST_ENTER();
  if (!find_slot(slot_id)) return CKR_SLOT_ID_INVALID;
  std::vector<CK_SESSION_HANDLE> handles;
  for (const auto& [h, s] : state().sessions)
    if (s.slot == slot_id) handles.push_back(h);
  for (CK_SESSION_HANDLE h : handles) close_session(h);
  return CKR_OK;
}

ST_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!info) return CKR_ARGUMENTS_BAD;
  Slot* slot = find_slot(s->slot);
  LoginState login = slot && slot->token ? slot->token->login_state() : LoginState::None;
  bool rw = session_is_rw(*s);
  std::memset(info, 0, sizeof *info);
  info->slotID = s->slot;
  info->flags = s->flags;
  if (login == LoginState::SO) info->state = CKS_RW_SO_FUNCTIONS;
  else if (login == LoginState::User) info->state = rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
  else info->state = rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
  info->ulDeviceError = 0;
  return CKR_OK;
}

ST_EXPORT CK_RV C_Login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (user == CKU_CONTEXT_SPECIFIC) return CKR_OPERATION_NOT_INITIALIZED;
  if (user != CKU_USER && user != CKU_SO) return CKR_USER_TYPE_INVALID;
  if (!pin) return CKR_ARGUMENTS_BAD;
  Slot* slot = find_slot(s->slot);
  if (!slot || !slot->token) return CKR_DEVICE_ERROR;
  LoginState current = slot->token->login_state();
  LoginState wanted = user == CKU_SO ? LoginState::SO : LoginState::User;
  if (current == wanted) return CKR_USER_ALREADY_LOGGED_IN;
  if (current != LoginState::None) return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
  if (user == CKU_SO && count_sessions(s->slot, false) != count_sessions(s->slot, true))
    return CKR_SESSION_READ_ONLY_EXISTS;
  return slot->token->login(user, pin, pin_len);
}

ST_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE handle) {
  ST_ENTER();
  ST_SESSION(s, handle);
  Slot* slot = find_slot(s->slot);
  if (!slot || !slot->token) return CKR_DEVICE_ERROR;
  if (slot->token->login_state() == LoginState::None) return CKR_USER_NOT_LOGGED_IN;
  slot->token->logout();
  // Operations started with private keys end with the login.
  for (auto& [h, other] : state().sessions)
    if (other.slot == s->slot) {
      other.sign = KeyOperation();
      other.verify = KeyOperation();
      other.find_active = false;
      other.found.clear();
    }
  return CKR_OK;
}

}  // extern "C"
