// Choosing the token and the certificate a PKCS#11 URI (-uri) names.
#ifndef TOKENCERT_URI_SELECTION_H
#define TOKENCERT_URI_SELECTION_H

#include <p11-kit/pkcs11.h>

#include "options.h"

// Sets token_slot to the first listed slot whose module, slot and token match
// the URI: 0, or TOOL_FAILURE after one line saying that none does.
CK_RV select_uri_slot(const CommandLine &cmd);

// For a URI that names the certificate by its CKA_ID (id=), finds it on the
// token and takes its label as the run's label: 0, or TOOL_FAILURE after one
// line when no certificate matches. Nothing to do for other command lines
// or when no action names one certificate.
CK_RV resolve_uri_object(CommandLine &cmd);

#endif
