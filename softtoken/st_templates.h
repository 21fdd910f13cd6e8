// What an object may hold: the classes, certificate and key types this token
// knows, the attributes each of them has, the ones it needs, and the values
// a GOST key may take. Every object made from a caller's template passes
// here, so no object exists that a later operation would have to refuse.
#ifndef SOFTTOKEN_ST_TEMPLATES_H
#define SOFTTOKEN_ST_TEMPLATES_H

#include "st_attributes.h"

namespace softtoken {

// A complete object (defaults already filled): CKR_ATTRIBUTE_VALUE_INVALID
// for an unknown class, certificate or key type, a bad key value or an
// unknown parameter OID; CKR_ATTRIBUTE_TYPE_INVALID for an attribute its
// class does not have; CKR_TEMPLATE_INCOMPLETE for a missing one.
// `value_made_here`: the key values come from the token's own generation,
// so their sizes are checked but not their points and ranges again.
CK_RV check_object(const AttrMap& attrs, bool value_made_here = false);

// Changes to an existing object (copy or modification):
// CKR_ATTRIBUTE_TYPE_INVALID when one names an attribute its class does not
// have.
CK_RV check_attribute_types(const AttrMap& object, const AttrMap& changes);

// Whether a change to CKA_TRUSTED or to a trusted object needs the SO:
// CKA_TRUSTED true is set by the SO only, and a trusted object is changed
// by the SO only. CKR_ATTRIBUTE_READ_ONLY when the rule is broken.
CK_RV check_trust(const AttrMap* before, const AttrMap& after_or_changes, bool so);

}  // namespace softtoken

#endif
