// The token objects of one GOST key pair, found by the pair's CKA_ID (of
// whatever length the token gave it). Messages stay with the callers.
#ifndef P11_KEY_OBJECTS_H
#define P11_KEY_OBJECTS_H

#include "gost_key.h"
#include "p11_engine_session.h"
#include "token_certificates.h"  // p11_read_certificate

#include <openssl/x509.h>

// The objects of class `cls` whose CKA_ID is the record's, up to max_objects
// (0: all of them).
P11FindResult p11_find_key_objects(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls,
                                   const p11_gost2012_key &key, CK_ULONG max_objects = 1);


#endif
