// The token objects of one GOST key pair, found by the pair's CKA_ID (of
// whatever length the token gave it), and certificate objects read back as
// X509. Messages stay with the callers.
#ifndef P11_KEY_OBJECTS_H
#define P11_KEY_OBJECTS_H

#include "gost_key.h"
#include "p11_engine_session.h"

#include <openssl/x509.h>

// The objects of class `cls` whose CKA_ID is the record's, up to max_objects
// (0: all of them).
P11FindResult p11_find_key_objects(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls,
                                   const p11_gost2012_key &key, CK_ULONG max_objects = 1);

// CKA_VALUE of a certificate object decoded as one whole DER certificate.
// nullptr after one line: `attr_line` (with the code) when the value cannot
// be read, "Certificate object value is not a DER certificate\n" when it is
// not exactly one certificate.
X509 *p11_read_certificate(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           const char *attr_line);

#endif
