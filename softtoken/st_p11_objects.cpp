// Object management: create, destroy, read and change attributes, search.
#include <cstring>

#include "st_export.h"
#include "st_module.h"
#include "st_templates.h"

using namespace softtoken;

extern "C" {

ST_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count,
                               CK_OBJECT_HANDLE_PTR out) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!out || (!tmpl && count)) return CKR_ARGUMENTS_BAD;
  AttrMap attrs;
  CK_RV rv = template_to_map(tmpl, count, attrs);
  if (rv == CKR_OK) rv = prepare_created_object(attrs);
  if (rv == CKR_OK) rv = check_object(attrs);
  if (rv == CKR_OK) rv = check_trust(nullptr, attrs, so_logged_in(*s));
  if (rv != CKR_OK) return rv;
  return store_object(*s, attrs, *out);
}

ST_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR tmpl,
                             CK_ULONG count, CK_OBJECT_HANDLE_PTR out) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!out || (!tmpl && count)) return CKR_ARGUMENTS_BAD;
  Object o;
  CK_RV rv = get_object(*s, object, o);
  if (rv != CKR_OK) return rv;
  if (o.secrets_locked) return CKR_USER_NOT_LOGGED_IN;
  AttrMap changes;
  rv = template_to_map(tmpl, count, changes);
  if (rv != CKR_OK) return rv;
  // A copy may change where it lives and who sees it; the rest follows the
  // rules of modification.
  AttrMap placement;
  for (CK_ATTRIBUTE_TYPE t : {CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE}) {
    auto it = changes.find(t);
    if (it != changes.end()) {
      placement[t] = it->second;
      changes.erase(it);
    }
  }
  if (get_bool(o.attrs, CKA_PRIVATE, false) && !get_bool(placement, CKA_PRIVATE, true))
    return CKR_TEMPLATE_INCONSISTENT;
  AttrMap copy = o.attrs;
  copy[CKA_MODIFIABLE] = SecureBytes{CK_TRUE};  // the copy's own flag decides
  rv = check_attribute_types(copy, changes);
  if (rv == CKR_OK) rv = check_modification(copy, changes);
  if (rv != CKR_OK) return rv;
  for (auto& [t, v] : changes) copy[t] = v;
  for (auto& [t, v] : placement) copy[t] = v;
  if (!placement.count(CKA_MODIFIABLE)) copy[CKA_MODIFIABLE] = o.attrs[CKA_MODIFIABLE];
  rv = check_object(copy);
  if (rv == CKR_OK) rv = check_trust(nullptr, copy, so_logged_in(*s));
  if (rv != CKR_OK) return rv;
  return store_object(*s, copy, *out);
}

ST_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object) {
  ST_ENTER();
  ST_SESSION(s, handle);
  Object o;
  CK_RV rv = get_object(*s, object, o);
  if (rv != CKR_OK) return rv;
  if (get_bool(o.attrs, CKA_TOKEN, false) && !session_is_rw(*s)) return CKR_SESSION_READ_ONLY;
  return remove_object(*s, object);
}

ST_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ULONG_PTR size) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!size) return CKR_ARGUMENTS_BAD;
  Object o;
  CK_RV rv = get_object(*s, object, o);
  if (rv != CKR_OK) return rv;
  *size = serialize_attrs(o.attrs).size();
  return CKR_OK;
}

ST_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR tmpl,
                                    CK_ULONG count) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!tmpl && count) return CKR_ARGUMENTS_BAD;
  Object o;
  CK_RV rv = get_object(*s, object, o);
  if (rv != CKR_OK) return rv;
  CK_OBJECT_CLASS cls = object_class(o.attrs);
  CK_RV result = CKR_OK;
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_ATTRIBUTE& a = tmpl[i];
    auto it = o.attrs.find(a.type);
    bool locked = o.secrets_locked && is_secret_attribute(cls, a.type);
    if (is_unreadable(o.attrs, a.type) || (locked && it == o.attrs.end())) {
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      if (result == CKR_OK) result = CKR_ATTRIBUTE_SENSITIVE;
      continue;
    }
    if (it == o.attrs.end()) {
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      if (result == CKR_OK) result = CKR_ATTRIBUTE_TYPE_INVALID;
      continue;
    }
    const SecureBytes& v = it->second;
    if (!a.pValue) {
      a.ulValueLen = v.size();
    } else if (a.ulValueLen < v.size()) {
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      if (result == CKR_OK) result = CKR_BUFFER_TOO_SMALL;
    } else {
      if (!v.empty()) std::memcpy(a.pValue, v.data(), v.size());
      a.ulValueLen = v.size();
    }
  }
  return result;
}

ST_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR tmpl,
                                    CK_ULONG count) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!tmpl && count) return CKR_ARGUMENTS_BAD;
  Object o;
  CK_RV rv = get_object(*s, object, o);
  if (rv != CKR_OK) return rv;
  if (get_bool(o.attrs, CKA_TOKEN, false) && !session_is_rw(*s)) return CKR_SESSION_READ_ONLY;
  AttrMap changes;
  rv = template_to_map(tmpl, count, changes);
  if (rv == CKR_OK) rv = check_trust(&o.attrs, changes, so_logged_in(*s));
  if (rv == CKR_OK) rv = check_attribute_types(o.attrs, changes);
  if (rv == CKR_OK) rv = check_modification(o.attrs, changes);
  if (rv != CKR_OK) return rv;
  for (auto& [t, v] : changes) o.attrs[t] = v;
  // What the object becomes must still be an object this token would make.
  if (!o.secrets_locked) rv = check_object(o.attrs);
  if (rv != CKR_OK) return rv;
  return replace_object(*s, o);
}

ST_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!tmpl && count) return CKR_ARGUMENTS_BAD;
  if (s->find_active) return CKR_OPERATION_ACTIVE;
  AttrMap want;
  CK_RV rv = template_to_map(tmpl, count, want);
  if (rv == CKR_ATTRIBUTE_VALUE_INVALID) return CKR_ATTRIBUTE_VALUE_INVALID;
  if (rv != CKR_OK) return rv;
  std::vector<Object> objects;
  rv = visible_objects(*s, objects);
  if (rv != CKR_OK) return rv;
  s->found.clear();
  for (const Object& o : objects)
    if (matches(o.attrs, want)) s->found.push_back(o.handle);
  s->found_pos = 0;
  s->find_active = true;
  return CKR_OK;
}

ST_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR out, CK_ULONG max, CK_ULONG_PTR count) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!count || (!out && max)) return CKR_ARGUMENTS_BAD;
  if (!s->find_active) return CKR_OPERATION_NOT_INITIALIZED;
  CK_ULONG n = 0;
  while (n < max && s->found_pos < s->found.size()) out[n++] = s->found[s->found_pos++];
  *count = n;
  return CKR_OK;
}

ST_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE handle) {
  ST_ENTER();
  ST_SESSION(s, handle);
  if (!s->find_active) return CKR_OPERATION_NOT_INITIALIZED;
  s->find_active = false;
  s->found.clear();
  s->found_pos = 0;
  return CKR_OK;
}

}  // extern "C"
