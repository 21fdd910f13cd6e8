// The attribute dump of a token object and the hex dump behind it.
#ifndef TOKENCERT_ATTRIBUTE_DUMP_H
#define TOKENCERT_ATTRIBUTE_DUMP_H

#include <cstddef>

#include <p11-kit/pkcs11.h>

struct AttributeName {
    CK_ATTRIBUTE_TYPE type;
    const char *name;
};

// The attribute name table (87 rows, dumped in row order).
extern const AttributeName attribute_names[];
extern const size_t attribute_names_count;

// One C_GetAttributeValue for a single attribute; no buffer asks for the length.
// On success the returned length is written back to `length`.
CK_RV get_attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                    void *value, CK_ULONG &length);

// Eight "0x%02x, " to a line, then one empty line.
void print_hex(const unsigned char *bytes, size_t count);

// Dumps every attribute of the table that the object has; returns the result
// of the last attribute query.
CK_RV dump_object_attributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);

#endif
