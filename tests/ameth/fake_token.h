// A PKCS#11 function list in the test process holding public-key objects,
// with one call that can be made to fail. Only the calls a public-key lookup
// makes are answered; every other entry is null.
#ifndef FAKE_TOKEN_H
#define FAKE_TOKEN_H

#include <string>
#include <vector>

#include "pkcs11_vendor.h"

struct FakeObject {
    CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
    std::vector<unsigned char> id;
    std::vector<unsigned char> value;
    std::vector<unsigned char> params;  // CKA_GOSTR3410_PARAMS
    // When non-zero, the length a length query reports for CKA_VALUE or
    // CKA_GOSTR3410_PARAMS instead of the real one (a module gone wrong).
    CK_ULONG claimed_value_len = 0;
    CK_ULONG claimed_params_len = 0;
};

struct FakeToken {
    std::vector<FakeObject> objects;
    std::string fail_call;  // e.g. "C_FindObjects"; that call returns fail_rv
    CK_RV fail_rv = CKR_DEVICE_ERROR;
    int open_sessions = 0;
    int sessions_opened = 0;
};

// The function list serving `token` (one token at a time per process).
CK_FUNCTION_LIST *fake_token_functions(FakeToken *token);

#endif
