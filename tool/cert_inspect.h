// Certificate enumeration and inspection on the token.
#ifndef TOKENCERT_CERT_INSPECT_H
#define TOKENCERT_CERT_INSPECT_H

#include <p11-kit/pkcs11.h>

// Numbers and lists every certificate by label, with attribute dumps when
// -attributes was given.
CK_RV list_certificates();

// Dumps every attribute of each certificate carrying `label`.
CK_RV dump_certificate(const char *label);

// Logs the user in, finds the labelled certificate and the private key that
// shares its CKA_ID.
CK_RV find_private_key_for_certificate(const char *label);

// "No certificate object with label '<label>' found" on bio_err: TOOL_FAILURE.
CK_RV report_no_certificate(const char *label);

// Prints the labelled certificate read through the object store: 0 or 6.
CK_RV print_certificate(const char *label);

#endif
