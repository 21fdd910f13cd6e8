// Library, slot and token functions: initialisation, listings, token and
// PIN set-up.
#include <cstring>

#include "st_export.h"
#include "st_mechanisms.h"
#include "st_module.h"
#include "st_vault.h"

using namespace softtoken;

namespace {

constexpr const char* kManufacturer = "tokencert";
constexpr const char* kModel = "softtoken";

CK_RV check_init_args(const CK_C_INITIALIZE_ARGS* args) {
  if (!args) return CKR_OK;
  if (args->pReserved) return CKR_ARGUMENTS_BAD;
  int given = (args->CreateMutex != nullptr) + (args->DestroyMutex != nullptr) + (args->LockMutex != nullptr) +
              (args->UnlockMutex != nullptr);
  if (given != 0 && given != 4) return CKR_ARGUMENTS_BAD;
  // We lock with the system's primitives only.
  if (given == 4 && !(args->flags & CKF_OS_LOCKING_OK)) return CKR_CANT_LOCK;
  return CKR_OK;
}

}  // namespace

extern "C" {

ST_EXPORT CK_RV C_Initialize(CK_VOID_PTR init_args) {
  CK_RV rv = check_init_args(static_cast<CK_C_INITIALIZE_ARGS*>(init_args));
  if (rv != CKR_OK) return rv;
  ModuleState& st = state();
  std::lock_guard<std::recursive_mutex> guard(st.lock);
  if (st.initialized) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
  // The directory is made when the first token is initialised, not here.
  st.dir = token_directory();
  st.slots.clear();
  st.sessions.clear();
  st.session_objects.clear();
  st.next_slot_id = 0;
  refresh_slots();
  st.initialized = true;
  return CKR_OK;
}

ST_EXPORT CK_RV C_Finalize(CK_VOID_PTR reserved) {
  if (reserved) return CKR_ARGUMENTS_BAD;
  ST_ENTER();
  ModuleState& st = state();
  st.sessions.clear();
  st.session_objects.clear();
  st.slots.clear();
  st.initialized = false;
  return CKR_OK;
}

ST_EXPORT CK_RV C_GetInfo(CK_INFO_PTR info) {
  ST_ENTER();
  if (!info) return CKR_ARGUMENTS_BAD;
  std::memset(info, 0, sizeof *info);
  info->cryptokiVersion.major = 2;
  info->cryptokiVersion.minor = 30;
  pad_field(info->manufacturerID, sizeof info->manufacturerID, kManufacturer);
  info->flags = 0;
  pad_field(info->libraryDescription, sizeof info->libraryDescription, "softtoken GOST software token");
  info->libraryVersion.major = 1;
  info->libraryVersion.minor = 0;
  return CKR_OK;
}

ST_EXPORT CK_RV C_GetSlotList(CK_BBOOL /*token_present*/, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
  ST_ENTER();
  if (!count) return CKR_ARGUMENTS_BAD;
  // Every slot holds a token (the free slot an uninitialised one), so the
  // token-present filter selects them all. The list is refreshed on the
  // counting call so that the second call returns what the first counted.
  if (!list) refresh_slots();
  const auto& slots = state().slots;
  if (!list) {
    *count = slots.size();
    return CKR_OK;
  }
  if (*count < slots.size()) {
    *count = slots.size();
    return CKR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < slots.size(); ++i) list[i] = slots[i].id;
  *count = slots.size();
  return CKR_OK;
}

ST_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slot_id, CK_SLOT_INFO_PTR info) {
  ST_ENTER();
  if (!info) return CKR_ARGUMENTS_BAD;
  Slot* slot = find_slot(slot_id);
  if (!slot) return CKR_SLOT_ID_INVALID;
  std::memset(info, 0, sizeof *info);
  pad_field(info->slotDescription, sizeof info->slotDescription,
            slot->serial.empty() ? "softtoken free slot"
                                 : "softtoken slot " + slot->serial + (slot_damaged(*slot) ? " (unreadable)" : ""));
  pad_field(info->manufacturerID, sizeof info->manufacturerID, kManufacturer);
  info->flags = slot->token && slot->token->removed() ? 0 : CKF_TOKEN_PRESENT;
  info->hardwareVersion.major = 1;
  info->firmwareVersion.major = 1;
  return CKR_OK;
}

ST_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slot_id, CK_TOKEN_INFO_PTR info) {
  ST_ENTER();
  if (!info) return CKR_ARGUMENTS_BAD;
  Slot* slot = find_slot(slot_id);
  if (!slot) return CKR_SLOT_ID_INVALID;
  std::memset(info, 0, sizeof *info);
  CK_FLAGS flags = CKF_RNG | CKF_LOGIN_REQUIRED;
  pad_field(info->label, sizeof info->label, "");
  if (slot->token && slot->token->removed()) return CKR_TOKEN_NOT_PRESENT;
  if (slot->token) {
    CK_RV rv = slot->token->describe(info->label, flags);
    if (rv != CKR_OK) return rv;
  } else if (slot_damaged(*slot)) {
    // Initialised, but its file cannot be read: it is no free slot.
    pad_field(info->label, sizeof info->label, "unreadable token");
    flags |= CKF_TOKEN_INITIALIZED | CKF_WRITE_PROTECTED;
  }
  pad_field(info->manufacturerID, sizeof info->manufacturerID, kManufacturer);
  pad_field(info->model, sizeof info->model, kModel);
  pad_field(info->serialNumber, sizeof info->serialNumber, slot->serial);
  info->flags = flags;
  info->ulMaxSessionCount = kMaxSessions;
  info->ulSessionCount = count_sessions(slot_id, false);
  info->ulMaxRwSessionCount = kMaxSessions;
  info->ulRwSessionCount = count_sessions(slot_id, true);
  info->ulMaxPinLen = kMaxPinLen;
  info->ulMinPinLen = kMinPinLen;
  info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
  info->hardwareVersion.major = 1;
  info->firmwareVersion.major = 1;
  pad_field(info->utcTime, sizeof info->utcTime, "");
  return CKR_OK;
}

ST_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slot_id, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
  ST_ENTER();
  if (!count) return CKR_ARGUMENTS_BAD;
  if (!find_slot(slot_id)) return CKR_SLOT_ID_INVALID;
  const auto& table = mechanism_table();
  if (!list) {
    *count = table.size();
    return CKR_OK;
  }
  if (*count < table.size()) {
    *count = table.size();
    return CKR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < table.size(); ++i) list[i] = table[i].type;
  *count = table.size();
  return CKR_OK;
}

ST_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slot_id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
  ST_ENTER();
  if (!info) return CKR_ARGUMENTS_BAD;
  if (!find_slot(slot_id)) return CKR_SLOT_ID_INVALID;
  for (const auto& m : mechanism_table())
    if (m.type == type) {
      *info = m.info;
      return CKR_OK;
    }
  return CKR_MECHANISM_INVALID;
}

ST_EXPORT CK_RV C_InitToken(CK_SLOT_ID slot_id, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len, CK_UTF8CHAR_PTR label) {
  ST_ENTER();
  if (!pin || !label) return CKR_ARGUMENTS_BAD;
  Slot* slot = find_slot(slot_id);
  if (!slot) return CKR_SLOT_ID_INVALID;
  if (!pin_length_ok(pin_len)) return CKR_PIN_LEN_RANGE;
  if (count_sessions(slot_id, false) != 0) return CKR_SESSION_EXISTS;
  refresh_slot(*slot);
  if (slot_damaged(*slot)) return CKR_DEVICE_ERROR;
  if (slot->token && slot->token->removed()) return CKR_TOKEN_NOT_PRESENT;
  if (slot->token) return slot->token->reinitialize(pin, pin_len, label);
  ModuleState& st = state();
  if (!ensure_directory(st.dir)) return CKR_DEVICE_ERROR;
  std::string serial;
  CK_RV rv = Token::create(st.dir, pin, pin_len, label, serial);
  if (rv != CKR_OK) return rv;
  auto token = Token::open(st.dir, serial);
  if (!token) return CKR_DEVICE_ERROR;
  slot->serial = serial;
  slot->token = std::move(token);
  Slot free_slot;
  free_slot.id = st.next_slot_id++;
  st.slots.push_back(std::move(free_slot));
  return CKR_OK;
}

ST_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!pin) return CKR_ARGUMENTS_BAD;
  if (!session_is_rw(*s)) return CKR_SESSION_READ_ONLY;
  Slot* slot = find_slot(s->slot);
  if (!slot || !slot->token) return CKR_DEVICE_ERROR;
  if (slot->token->login_state() != LoginState::SO) return CKR_USER_NOT_LOGGED_IN;
  if (!pin_length_ok(pin_len)) return CKR_PIN_LEN_RANGE;
  return slot->token->init_user_pin(pin, pin_len);
}

ST_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR old_pin, CK_ULONG old_len, CK_UTF8CHAR_PTR new_pin,
                         CK_ULONG new_len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!old_pin || !new_pin) return CKR_ARGUMENTS_BAD;
  if (!session_is_rw(*s)) return CKR_SESSION_READ_ONLY;
  if (!pin_length_ok(new_len)) return CKR_PIN_LEN_RANGE;
  Slot* slot = find_slot(s->slot);
  if (!slot || !slot->token) return CKR_DEVICE_ERROR;
  return slot->token->set_pin(old_pin, old_len, new_pin, new_len);
}

ST_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  (void)s;
  if (!data && len) return CKR_ARGUMENTS_BAD;
  if (len == 0) return CKR_OK;
  if (len > 0x7fffffffUL) return CKR_ARGUMENTS_BAD;
  return random_bytes(data, len) ? CKR_OK : CKR_FUNCTION_FAILED;
}

ST_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR seed, CK_ULONG len) {
  ST_ENTER();
  ST_SESSION(s, handle);
  (void)s;
  if (!seed && len) return CKR_ARGUMENTS_BAD;
  return CKR_RANDOM_SEED_NOT_SUPPORTED;
}

}  // extern "C"
