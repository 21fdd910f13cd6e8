// Certificates as token objects: which key pair a certificate belongs to on
// the token, and the certificate object itself. Failure lines go to stderr
// in the form "<call> failed, rc = 0x<code>".
#ifndef TOKEN_CERTIFICATES_H
#define TOKEN_CERTIFICATES_H

#include "pkcs11_vendor.h"

#include <openssl/types.h>

#include <string>

// The identifier and category a new certificate object gets. A public key
// object of the same key pair on the token (found by `gost_pub`, the GOST
// public value, when given, else by `default_id`) makes it the token user's
// certificate (category 1) under that object's CKA_ID; otherwise it keeps
// `default_id`, as an authority's (2) or an end entity's (3) certificate.
struct CertificateObjectId {
    unsigned char id[1024];
    CK_ULONG id_len = 0;
    CK_ULONG category = 3;
};

// Fills `out` as above, searching in `session`. False after the line of the
// failed call.
bool token_certificate_id(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, X509 *certificate,
                          const unsigned char default_id[20], const unsigned char *gost_pub, CK_ULONG gost_pub_len,
                          CertificateObjectId &out);

// Creates the certificate object (value, subject, identifier, category,
// public, the label stored with its zero byte) in `session`; CKA_TOKEN as
// `on_token`. The handle made goes to `object`. False after one line.
bool token_create_certificate(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_BBOOL on_token, X509 *certificate,
                              const CertificateObjectId &id, const std::string &label, CK_OBJECT_HANDLE *object);

// CKA_VALUE of a certificate object decoded as one whole DER certificate.
// nullptr after one line: `attr_line` (with the code) when the value cannot
// be read, "Certificate object value is not a DER certificate\n" when it is
// not exactly one certificate.
X509 *p11_read_certificate(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           const char *attr_line);

#endif
