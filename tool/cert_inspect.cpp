#include "cert_inspect.h"

#include <cstring>
#include <string>

#include <openssl/bio.h>
#include <openssl/x509.h>

#include "attribute_dump.h"
#include "json_output.h"
#include "p11_errors.h"
#include "p11_session.h"
#include "pin_prompt.h"
#include "printable_text.h"
#include "token_backend.h"
#include "tool_state.h"

namespace {

constexpr CK_ULONG VALUE_BUFFER_SIZE = 256;
constexpr CK_ULONG BATCH_SIZE = 10;

// Length of the text in a zero-filled read buffer, never beyond the buffer.
int text_length(const unsigned char *buffer)
{
    return static_cast<int>(strnlen(reinterpret_cast<const char *>(buffer), VALUE_BUFFER_SIZE));
}

void print_listed_certificate(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, int number)
{
    unsigned char label[VALUE_BUFFER_SIZE] = {};
    unsigned char id[VALUE_BUFFER_SIZE] = {};
    CK_ATTRIBUTE values[] = {
        {CKA_LABEL, label, VALUE_BUFFER_SIZE},
        {CKA_ID, id, VALUE_BUFFER_SIZE},
    };
    const bool read = p11_functions->C_GetAttributeValue(session, handle, values, 2) == CKR_OK;
    if (json_mode()) {
        CertificateRecord record;
        record.label_read = read;
        if (read) {
            record.label.assign(reinterpret_cast<const char *>(label), text_length(label));
            record.id.assign(id, id + values[1].ulValueLen);
        }
        record.value_read = read_attribute_value(session, handle, CKA_VALUE, record.value) == CKR_OK;
        json_add_certificate(record);
        return;
    }
    if (read)
        BIO_printf(bio_out, "%d: label: '%s'\n", number,
                   printable(reinterpret_cast<const char *>(label), text_length(label)).c_str());
    if (option_flags & OPT_ATTRIBUTES)
        dump_object_attributes(session, handle);
}

// Opens the session on the token slot and starts the certificate search:
// the open's code when it fails, TOOL_FAILURE when C_FindObjectsInit does
// (each failing call prints its line).
CK_RV start_certificate_search(SessionGuard &session, CertificateTemplate &tmpl)
{
    CK_RV rv = session.open(token_slot);
    if (rv != CKR_OK)
        return rv;
    rv = p11_functions->C_FindObjectsInit(session.handle(), tmpl.data(), tmpl.size());
    if (rv != CKR_OK) {
        print_p11_error("C_FindObjectsInit", rv);
        return TOOL_FAILURE;
    }
    return CKR_OK;
}

}  // namespace

CK_RV report_no_certificate(const char *label)
{
    BIO_printf(bio_err, "No certificate object with label '%s' found\n", printable(label).c_str());
    return TOOL_FAILURE;
}

CK_RV list_certificates()
{
    SessionGuard session;
    CertificateTemplate tmpl;
    CK_RV rv = start_certificate_search(session, tmpl);
    if (rv != CKR_OK)
        return rv;
    if (json_mode()) {
        CK_TOKEN_INFO token{};
        rv = p11_functions->C_GetTokenInfo(token_slot, &token);
        if (rv != CKR_OK) {
            print_p11_error("C_GetTokenInfo", rv);
            p11_functions->C_FindObjectsFinal(session.handle());
            return rv;
        }
        json_begin_certificates(token);
    } else {
        BIO_puts(bio_out, "Certificate objects:\n");
    }
    int counter = 0;
    CK_RV find_rv = CKR_OK;
    for (;;) {
        CK_OBJECT_HANDLE handles[BATCH_SIZE] = {};
        CK_ULONG found = 0;
        find_rv = p11_functions->C_FindObjects(session.handle(), handles, BATCH_SIZE, &found);
        if (find_rv != CKR_OK) {
            print_p11_error("C_FindObjects", find_rv);
            break;
        }
        if (found == 0)
            break;
        if (found > BATCH_SIZE)
            found = BATCH_SIZE;
        for (CK_ULONG i = 0; i < found; ++i) {
            if (handles[i] == 0)
                continue;
            print_listed_certificate(session.handle(), handles[i], ++counter);
        }
    }
    rv = p11_functions->C_FindObjectsFinal(session.handle());
    if (rv != CKR_OK) {
        print_p11_error("C_FindObjectsFinal", rv);
        return TOOL_FAILURE;
    }
    // A listing cut short is a failure (the text listing's caller ignores it).
    return find_rv;
}

CK_RV dump_certificate(const char *label)
{
    SessionGuard session;
    CK_RV rv = session.open(token_slot);
    if (rv != CKR_OK)
        return rv;
    int dumped = 0;
    search_label_both_ways(label, [&](const char *text, CK_ULONG length) {
        CertificateTemplate tmpl(text, length);
        rv = p11_functions->C_FindObjectsInit(session.handle(), tmpl.data(), tmpl.size());
        if (rv != CKR_OK) {
            print_p11_error("C_FindObjectsInit", rv);
            rv = TOOL_FAILURE;
            return true;
        }
        for (;;) {
            CK_OBJECT_HANDLE handle = 0;
            CK_ULONG found = 0;
            CK_RV find_rv = p11_functions->C_FindObjects(session.handle(), &handle, 1, &found);
            if (find_rv != CKR_OK) {
                print_p11_error("C_FindObjects", find_rv);
                ++dumped;  // a failed search is not retried
                break;
            }
            if (found == 0 || handle == 0)
                break;
            BIO_printf(bio_out, "label: '%s'\n", printable(label).c_str());
            dump_object_attributes(session.handle(), handle);
            ++dumped;
        }
        rv = p11_functions->C_FindObjectsFinal(session.handle());
        if (rv != CKR_OK)
            print_p11_error("C_FindObjectsFinal", rv);
        return rv != CKR_OK || dumped > 0;
    });
    if (rv == CKR_OK && dumped == 0)
        return report_no_certificate(label);
    return rv;
}

CK_RV find_private_key_for_certificate(const char *label)
{
    SessionGuard session;
    CK_RV rv = session.open(token_slot);
    if (rv != CKR_OK)
        return rv;

    {
        SecretBuffer pin;
        int prompt_rv = obtain_secret(SecretKind::user_pin, pin.data(), pin.capacity(), "Enter user PIN:");
        if (prompt_rv != 0) {
            BIO_printf(bio_err, "Can't get user PIN\n");
            return static_cast<CK_RV>(static_cast<long>(prompt_rv));
        }
        rv = p11_functions->C_Login(session.handle(), CKU_USER,
                                    reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), pin.length());
        pin.wipe();
        if (rv != CKR_OK) {
            print_p11_error("C_Login", rv);
            return rv;
        }
    }

    unsigned char id[VALUE_BUFFER_SIZE] = {};
    CK_ULONG id_length = 0;
    FindOneResult cert = find_labelled_certificate(session.handle(), label, [&](CK_OBJECT_HANDLE handle) {
        if (handle == 0)
            return;
        BIO_printf(bio_out, "Certificate label: '%s'\n", printable(label).c_str());
        CK_ATTRIBUTE attr = {CKA_ID, id, VALUE_BUFFER_SIZE};
        CK_RV read_rv = p11_functions->C_GetAttributeValue(session.handle(), handle, &attr, 1);
        if (read_rv != CKR_OK)
            print_p11_error("C_GetAttributeValue", read_rv);
        else
            id_length = attr.ulValueLen;
    });
    if (cert.init_rv != CKR_OK)
        return TOOL_FAILURE;
    if (cert.final_rv != CKR_OK)
        return cert.final_rv;
    if (cert.find_rv == CKR_OK && cert.found == 0)
        return report_no_certificate(label);
    if (id_length == 0 || id_length > VALUE_BUFFER_SIZE) {
        BIO_printf(bio_err, "NULL certificate CKA_ID\n");
        return TOOL_FAILURE;
    }

    CK_OBJECT_CLASS key_class = CKO_PRIVATE_KEY;
    CK_BBOOL on_token = CK_TRUE;
    CK_ATTRIBUTE key_tmpl[] = {
        {CKA_CLASS, &key_class, sizeof(key_class)},
        {CKA_TOKEN, &on_token, sizeof(on_token)},
        {CKA_ID, id, id_length},
    };
    CK_RV read_rv = CKR_OK;
    FindOneResult key = find_one_object(
        session.handle(), key_tmpl, 3, [&](CK_OBJECT_HANDLE handle) {
            if (handle == 0) {
                BIO_printf(bio_out, "Private key not found\n");
                return;
            }
            unsigned char key_label[VALUE_BUFFER_SIZE] = {};
            CK_ATTRIBUTE attr = {CKA_LABEL, key_label, VALUE_BUFFER_SIZE};
            read_rv = p11_functions->C_GetAttributeValue(session.handle(), handle, &attr, 1);
            if (read_rv != CKR_OK)
                print_p11_error("C_GetAttributeValue", read_rv);
            else
                BIO_printf(bio_out, "Private key found, label: '%s'\n",
                           printable(reinterpret_cast<const char *>(key_label), text_length(key_label)).c_str());
        });
    if (key.init_rv != CKR_OK)
        return TOOL_FAILURE;
    // A key found but not read is no answer: the run must not end well.
    if (key.final_rv != CKR_OK)
        return key.final_rv;
    return key.find_rv != CKR_OK ? key.find_rv : read_rv;
}

CK_RV print_certificate(const char *label)
{
    ossl::X509Ptr certificate = backend::get_certificate(label);
    if (!certificate) {
        BIO_printf(bio_err, "STORE_get_certificate failed\n");
        return TOOL_FAILURE;
    }
    backend::print_certificate(bio_out, certificate.get());
    return CKR_OK;
}
