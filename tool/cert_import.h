// Import of a certificate, or of a key pair with its certificate, from a file.
#ifndef TOKENCERT_CERT_IMPORT_H
#define TOKENCERT_CERT_IMPORT_H

#include <p11-kit/pkcs11.h>

// One certificate from a PEM or DER file: 0 or 6.
CK_RV input_pem(const char *label, const char *path);
CK_RV input_der(const char *label, const char *path);

// Private key, public key and certificate from a DER PKCS#12 container: 0 or 6.
CK_RV input_p12(const char *label, const char *path);

#endif
