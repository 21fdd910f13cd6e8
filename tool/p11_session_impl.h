// Template part of p11_session.h.
#ifndef TOKENCERT_P11_SESSION_IMPL_H
#define TOKENCERT_P11_SESSION_IMPL_H

#include "p11_errors.h"
#include "tool_state.h"

template <typename OnFound>
FindOneResult find_one_object(CK_SESSION_HANDLE session, CK_ATTRIBUTE *tmpl, CK_ULONG count,
                              OnFound on_found)
{
    FindOneResult result;
    result.init_rv = p11_functions->C_FindObjectsInit(session, tmpl, count);
    if (result.init_rv != CKR_OK) {
        print_p11_error("C_FindObjectsInit", result.init_rv);
        return result;
    }
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG found = 0;
    result.find_rv = p11_functions->C_FindObjects(session, &handle, 1, &found);
    if (result.find_rv != CKR_OK)
        print_p11_error("C_FindObjects", result.find_rv);
    else {
        result.found = found > 0 ? handle : 0;
        on_found(result.found);
    }
    result.final_rv = p11_functions->C_FindObjectsFinal(session);
    if (result.final_rv != CKR_OK)
        print_p11_error("C_FindObjectsFinal", result.final_rv);
    return result;
}

template <typename OnFound>
FindOneResult find_labelled_certificate(CK_SESSION_HANDLE session, const char *label, OnFound on_found)
{
    FindOneResult result;
    search_label_both_ways(label, [&](const char *text, CK_ULONG length) {
        CertificateTemplate tmpl(text, length);
        result = find_one_object(session, tmpl.data(), tmpl.size(), on_found);
        return result.settled();
    });
    return result;
}

#endif
