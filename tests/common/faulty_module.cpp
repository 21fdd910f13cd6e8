#include "faulty_module.h"

namespace {

CK_FUNCTION_LIST *g_real = nullptr;
CK_FUNCTION_LIST g_list;
ModuleFault g_fault;
ModuleRecord g_record;

bool fails(const char *call)
{
    if (g_fault.call != call)
        return false;
    return g_fault.skip-- <= 0;
}

#define FORWARD(name, params, args)        \
    CK_RV wrap_##name params               \
    {                                      \
        if (fails(#name))                  \
            return g_fault.rv;             \
        return g_real->name args;          \
    }

FORWARD(C_FindObjects, (CK_SESSION_HANDLE a, CK_OBJECT_HANDLE_PTR b, CK_ULONG c, CK_ULONG_PTR d), (a, b, c, d))
FORWARD(C_FindObjectsFinal, (CK_SESSION_HANDLE a), (a))
FORWARD(C_SignInit, (CK_SESSION_HANDLE a, CK_MECHANISM_PTR b, CK_OBJECT_HANDLE c), (a, b, c))
FORWARD(C_VerifyInit, (CK_SESSION_HANDLE a, CK_MECHANISM_PTR b, CK_OBJECT_HANDLE c), (a, b, c))
FORWARD(C_Verify, (CK_SESSION_HANDLE a, CK_BYTE_PTR b, CK_ULONG c, CK_BYTE_PTR d, CK_ULONG e), (a, b, c, d, e))
FORWARD(C_CreateObject, (CK_SESSION_HANDLE a, CK_ATTRIBUTE_PTR b, CK_ULONG c, CK_OBJECT_HANDLE_PTR d), (a, b, c, d))
FORWARD(C_DestroyObject, (CK_SESSION_HANDLE a, CK_OBJECT_HANDLE b), (a, b))
FORWARD(C_SetAttributeValue, (CK_SESSION_HANDLE a, CK_OBJECT_HANDLE b, CK_ATTRIBUTE_PTR c, CK_ULONG d), (a, b, c, d))

CK_RV wrap_C_FindObjectsInit(CK_SESSION_HANDLE a, CK_ATTRIBUTE_PTR b, CK_ULONG c)
{
    ++g_record.searches;
    if (fails("C_FindObjectsInit"))
        return g_fault.rv;
    return g_real->C_FindObjectsInit(a, b, c);
}

CK_RV wrap_C_OpenSession(CK_SLOT_ID a, CK_FLAGS b, void *c, CK_NOTIFY d, CK_SESSION_HANDLE_PTR e)
{
    if (fails("C_OpenSession"))
        return g_fault.rv;
    CK_RV rv = g_real->C_OpenSession(a, b, c, d, e);
    if (rv == CKR_OK)
        ++g_record.sessions_opened;
    return rv;
}

CK_RV wrap_C_CloseSession(CK_SESSION_HANDLE a)
{
    if (fails("C_CloseSession"))
        return g_fault.rv;
    CK_RV rv = g_real->C_CloseSession(a);
    if (rv == CKR_OK)
        ++g_record.sessions_closed;
    return rv;
}

CK_RV wrap_C_Sign(CK_SESSION_HANDLE a, CK_BYTE_PTR b, CK_ULONG c, CK_BYTE_PTR d, CK_ULONG_PTR e)
{
    if (fails("C_Sign"))
        return g_fault.rv;
    CK_RV rv = g_real->C_Sign(a, b, c, d, e);
    if (rv == CKR_OK && g_fault.sign_len != 0)
        *e = g_fault.sign_len;
    return rv;
}

CK_RV wrap_C_GetAttributeValue(CK_SESSION_HANDLE a, CK_OBJECT_HANDLE b, CK_ATTRIBUTE_PTR c, CK_ULONG d)
{
    if (fails("C_GetAttributeValue"))
        return g_fault.rv;
    CK_RV rv = g_real->C_GetAttributeValue(a, b, c, d);
    if (rv == CKR_OK && g_fault.value_len != 0 && d == 1 && c[0].type == CKA_VALUE && c[0].pValue == nullptr)
        c[0].ulValueLen = g_fault.value_len;
    return rv;
}

void record_template(const CK_ATTRIBUTE *t, CK_ULONG n, std::vector<CK_ATTRIBUTE_TYPE> &types,
                     std::vector<unsigned> &bools)
{
    types.clear();
    bools.clear();
    for (CK_ULONG i = 0; i < n; ++i) {
        types.push_back(t[i].type);
        bools.push_back(t[i].ulValueLen == sizeof(CK_BBOOL) ? *static_cast<const CK_BBOOL *>(t[i].pValue) : 0xFFu);
    }
}

CK_RV wrap_C_GenerateKeyPair(CK_SESSION_HANDLE a, CK_MECHANISM_PTR b, CK_ATTRIBUTE_PTR c, CK_ULONG d,
                             CK_ATTRIBUTE_PTR e, CK_ULONG f, CK_OBJECT_HANDLE_PTR g, CK_OBJECT_HANDLE_PTR h)
{
    record_template(c, d, g_record.pub_types, g_record.pub_bools);
    record_template(e, f, g_record.priv_types, g_record.priv_bools);
    if (fails("C_GenerateKeyPair"))
        return g_fault.rv;
    return g_real->C_GenerateKeyPair(a, b, c, d, e, f, g, h);
}

}  // namespace

CK_FUNCTION_LIST *faulty_functions(CK_FUNCTION_LIST *real)
{
    g_real = real;
    g_list = *real;
#define INSTALL(name) g_list.name = wrap_##name
    INSTALL(C_OpenSession);
    INSTALL(C_CloseSession);
    INSTALL(C_FindObjectsInit);
    INSTALL(C_FindObjects);
    INSTALL(C_FindObjectsFinal);
    INSTALL(C_SignInit);
    INSTALL(C_Sign);
    INSTALL(C_VerifyInit);
    INSTALL(C_Verify);
    INSTALL(C_CreateObject);
    INSTALL(C_DestroyObject);
    INSTALL(C_GetAttributeValue);
    INSTALL(C_SetAttributeValue);
    INSTALL(C_GenerateKeyPair);
#undef INSTALL
    g_fault = ModuleFault();
    g_record = ModuleRecord();
    return &g_list;
}

ModuleFault &module_fault() { return g_fault; }
ModuleRecord &module_record() { return g_record; }
