// Certificate export to a file and removal from the token.
#ifndef TOKENCERT_CERT_EXPORT_H
#define TOKENCERT_CERT_EXPORT_H

#include <cstddef>

#include <p11-kit/pkcs11.h>

// Writes the labelled certificate to `path`, as PEM unless `format` names
// another format than "PEM"/"pem". 0 on success.
CK_RV output_certificate(const char *label, const char *path, const char *format);

// Writes `count` bytes to the file at `path` (see OutputFile): true when all were written,
// false after the failure's line.
bool write_file(const char *path, const unsigned char *bytes, size_t count);

// Logs in through the engine and deletes the labelled certificate through the
// object store: 0 or 6.
CK_RV remove_certificate(const char *label);

#endif
