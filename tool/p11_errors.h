// Names of PKCS#11 return codes and the error line printed after a failed call.
#ifndef TOKENCERT_P11_ERRORS_H
#define TOKENCERT_P11_ERRORS_H

#include <cstddef>

#include <p11-kit/pkcs11.h>

struct CkrName {
    CK_RV code;
    const char *name;  // with one leading blank, e.g. " CKR_OK"
};

// The return-code name table (84 rows).
extern const CkrName ckr_names[];
extern const size_t ckr_names_count;

// Copies the name of `code`, with its terminating zero, into `buffer`
// (at most `size` bytes); writes nothing for a code outside the table.
void ckr_name(CK_RV code, char *buffer, size_t size);

// Writes "<function> error: <code> (<name>)" on bio_err.
void print_p11_error(const char *function, CK_RV code);

// The process exit status for a non-zero result code: the code itself when it
// fits, its low byte otherwise, and never 0 for a failure.
int exit_status_for(CK_RV code);

#endif
