// Object attributes: the in-memory map, its stored form, and the rules of
// creation, modification, reading and matching.
#ifndef SOFTTOKEN_ST_ATTRIBUTES_H
#define SOFTTOKEN_ST_ATTRIBUTES_H

#include <pkcs11_vendor.h>

#include <map>

#include "st_secure.h"

namespace softtoken {

using AttrMap = std::map<CK_ATTRIBUTE_TYPE, SecureBytes>;

// Template handed in by the caller -> map; duplicate types and NULL values
// with a length are refused, booleans and numbers must have their size.
CK_RV template_to_map(const CK_ATTRIBUTE* tmpl, CK_ULONG count, AttrMap& out);

SecureBytes serialize_attrs(const AttrMap& attrs);
bool parse_attrs(const uint8_t* data, size_t len, AttrMap& out);

bool get_ulong(const AttrMap& attrs, CK_ATTRIBUTE_TYPE type, CK_ULONG& value);
bool get_bool(const AttrMap& attrs, CK_ATTRIBUTE_TYPE type, bool fallback);
void set_ulong(AttrMap& attrs, CK_ATTRIBUTE_TYPE type, CK_ULONG value);
void set_bool(AttrMap& attrs, CK_ATTRIBUTE_TYPE type, bool value);
void set_default_bool(AttrMap& attrs, CK_ATTRIBUTE_TYPE type, bool value);

CK_OBJECT_CLASS object_class(const AttrMap& attrs);
bool is_key_class(CK_OBJECT_CLASS cls);

// Attributes that hold secret key material: encrypted at rest even when the
// object itself is public, and unreadable while the key is sensitive or
// not extractable.
bool is_secret_attribute(CK_OBJECT_CLASS cls, CK_ATTRIBUTE_TYPE type);
bool is_unreadable(const AttrMap& attrs, CK_ATTRIBUTE_TYPE type);

// Rules for C_CreateObject: refuses attributes only the token may set and
// fills the defaults of the object's class.
CK_RV prepare_created_object(AttrMap& attrs);
// Defaults of a key made on the token (generation or derivation).
void apply_key_defaults(AttrMap& attrs, CK_OBJECT_CLASS cls);

// Rules for C_SetAttributeValue.
CK_RV check_modification(const AttrMap& object, const AttrMap& changes);

// Exact byte matching of a search template; secret values never match.
bool matches(const AttrMap& object, const AttrMap& tmpl);

}  // namespace softtoken

#endif
