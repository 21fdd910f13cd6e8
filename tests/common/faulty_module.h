// A function list that forwards to a real module and can make one call
// fail, answer with a wrong length, or record what it was given; it also
// counts the sessions opened and closed through it.
#ifndef TOKENCERT_TEST_FAULTY_MODULE_H
#define TOKENCERT_TEST_FAULTY_MODULE_H

#include <string>
#include <vector>

#include "pkcs11_vendor.h"

struct ModuleFault {
    std::string call;       // e.g. "C_Sign"; empty: no fault
    int skip = 0;           // calls of it that pass first
    CK_RV rv = CKR_DEVICE_ERROR;
    // C_Sign succeeds but reports this length instead (0: the real one).
    CK_ULONG sign_len = 0;
    // A length query of CKA_VALUE reports this length (0: the real one).
    CK_ULONG value_len = 0;
};

// A fault of one call, after `skip` calls of it passed.
inline ModuleFault fault_in(const char *call, int skip = 0, CK_RV rv = CKR_DEVICE_ERROR)
{
    ModuleFault f;
    f.call = call;
    f.skip = skip;
    f.rv = rv;
    return f;
}

struct ModuleRecord {
    int sessions_opened = 0;
    int sessions_closed = 0;
    int searches = 0;  // C_FindObjectsInit calls
    // The templates of the last C_GenerateKeyPair: attribute types, and the
    // CK_BBOOL values (0xFF for non-boolean attributes).
    std::vector<CK_ATTRIBUTE_TYPE> pub_types, priv_types;
    std::vector<unsigned> pub_bools, priv_bools;
};

// The wrapper's function list around `real` (one wrapper per process: a
// second call rewires the same list).
CK_FUNCTION_LIST *faulty_functions(CK_FUNCTION_LIST *real);
ModuleFault &module_fault();
ModuleRecord &module_record();

#endif
