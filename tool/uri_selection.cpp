#include "uri_selection.h"

#include <string>
#include <vector>

#include <openssl/bio.h>

#include "p11_errors.h"
#include "p11_session.h"
#include "tool_state.h"

namespace {

std::string resolved_label;

bool slot_matches(const TokenUri &uri, CK_SLOT_ID slot)
{
    CK_SLOT_INFO slot_info{};
    CK_TOKEN_INFO token_info{};
    return p11_functions->C_GetSlotInfo(slot, &slot_info) == CKR_OK && uri.matches_slot(slot, slot_info) &&
           p11_functions->C_GetTokenInfo(slot, &token_info) == CKR_OK && uri.matches_token(token_info);
}

}  // namespace

CK_RV select_uri_slot(const CommandLine &cmd)
{
    CK_INFO module_info{};
    if (p11_functions->C_GetInfo(&module_info) == CKR_OK && cmd.uri->matches_module(module_info)) {
        for (CK_SLOT_ID slot : slot_list) {
            if (slot_matches(*cmd.uri, slot)) {
                token_slot = slot;
                return CKR_OK;
            }
        }
    }
    BIO_printf(bio_err, "No token matches the PKCS#11 URI '%s'\n", shown_uri(cmd.uri_text).c_str());
    return TOOL_FAILURE;
}

CK_RV resolve_uri_object(CommandLine &cmd)
{
    const uint32_t naming_one = OPT_PKEYFIND | OPT_ATTRIBUTES | OPT_PRINT | OPT_REMOVE | OPT_OUTFILE;
    if (!cmd.uri || !cmd.uri->has_id() || !(cmd.flags & naming_one))
        return CKR_OK;
    SessionGuard session;
    CK_RV rv = session.open(token_slot);
    if (rv != CKR_OK)
        return rv;
    CK_OBJECT_CLASS object_class = CKO_CERTIFICATE;
    CK_BBOOL on_token = CK_TRUE;
    std::vector<unsigned char> id = cmd.uri->id();
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &object_class, sizeof(object_class)},
        {CKA_TOKEN, &on_token, sizeof(on_token)},
        {CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())},
    };
    rv = p11_functions->C_FindObjectsInit(session.handle(), tmpl, 3);
    if (rv != CKR_OK) {
        print_p11_error("C_FindObjectsInit", rv);
        return TOOL_FAILURE;
    }
    bool found = false;
    for (;;) {
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG count = 0;
        rv = p11_functions->C_FindObjects(session.handle(), &handle, 1, &count);
        if (rv != CKR_OK) {
            print_p11_error("C_FindObjects", rv);
            break;
        }
        if (count == 0)
            break;
        std::vector<unsigned char> label;
        if (read_attribute_value(session.handle(), handle, CKA_LABEL, label) != CKR_OK)
            continue;
        std::string text(label.begin(), label.end());
        text = text.substr(0, text.find('\0'));  // a label stored with its zero byte
        if (cmd.uri->has_label() && text != cmd.uri->label())
            continue;
        resolved_label = text;
        found = true;
        break;
    }
    p11_functions->C_FindObjectsFinal(session.handle());
    if (rv != CKR_OK)
        return rv;
    if (!found) {
        BIO_printf(bio_err, "No certificate object matches the PKCS#11 URI '%s'\n",
                   shown_uri(cmd.uri_text).c_str());
        return TOOL_FAILURE;
    }
    cmd.label = resolved_label.c_str();
    return CKR_OK;
}
