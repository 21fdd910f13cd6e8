#include "p12_iterations.h"

#include <cstdint>

#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "ossl_ptr.h"
#include "tool_state.h"

namespace {

bool count_acceptable(const ASN1_INTEGER *count, const char *what, const char *path)
{
    int64_t value = 0;
    if (count == nullptr || (ASN1_INTEGER_get_int64(&value, count) == 1 && value <= kMaxPkcs12Iterations))
        return true;
    char *text = i2s_ASN1_INTEGER(nullptr, count);
    BIO_printf(bio_err, "Can't import %s: its %s iteration count %s is above %ld\n", path, what,
               text != nullptr ? text : "(unreadable)", kMaxPkcs12Iterations);
    OPENSSL_free(text);
    return false;
}

// The iteration count of a password-based encryption: PBES2 with PBKDF2,
// PBES1 or PKCS#12's own PBE (the last two share their parameters).
bool encryption_acceptable(const X509_ALGOR *algorithm, const char *what, const char *path)
{
    if (OBJ_obj2nid(algorithm->algorithm) != NID_pbes2) {
        ossl::Ptr<PBEPARAM, PBEPARAM_free> pbe(static_cast<PBEPARAM *>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter)));
        return !pbe || count_acceptable(pbe->iter, what, path);
    }
    ossl::Ptr<PBE2PARAM, PBE2PARAM_free> pbes2(static_cast<PBE2PARAM *>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter)));
    if (!pbes2 || OBJ_obj2nid(pbes2->keyfunc->algorithm) != NID_id_pbkdf2)
        return true;
    ossl::Ptr<PBKDF2PARAM, PBKDF2PARAM_free> pbkdf2(static_cast<PBKDF2PARAM *>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbes2->keyfunc->parameter)));
    return !pbkdf2 || count_acceptable(pbkdf2->iter, what, path);
}

bool bags_acceptable(const STACK_OF(PKCS12_SAFEBAG) *bags, const char *path)
{
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG *bag = sk_PKCS12_SAFEBAG_value(bags, i);
        const X509_ALGOR *algorithm = nullptr;
        if (const X509_SIG *shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag))
            X509_SIG_get0(shrouded, &algorithm, nullptr);
        if (algorithm != nullptr && !encryption_acceptable(algorithm, "key encryption", path))
            return false;
        const STACK_OF(PKCS12_SAFEBAG) *nested = PKCS12_SAFEBAG_get0_safes(bag);
        if (nested != nullptr && !bags_acceptable(nested, path))
            return false;
    }
    return true;
}

}  // namespace

bool pkcs12_iterations_acceptable(PKCS12 *container, const char *password, const char *path)
{
    const ASN1_INTEGER *mac_iterations = nullptr;
    PKCS12_get0_mac(nullptr, nullptr, nullptr, &mac_iterations, container);
    if (!count_acceptable(mac_iterations, "MAC", path))
        return false;
    ossl::Ptr<STACK_OF(PKCS7), ossl::free_pkcs7_stack> contents(PKCS12_unpack_authsafes(container));
    for (int i = 0; contents && i < sk_PKCS7_num(contents.get()); ++i) {
        PKCS7 *content = sk_PKCS7_value(contents.get(), i);
        ossl::Ptr<STACK_OF(PKCS12_SAFEBAG), ossl::free_safebags> bags;
        if (PKCS7_type_is_data(content)) {
            bags.reset(PKCS12_unpack_p7data(content));
        } else if (PKCS7_type_is_encrypted(content) && content->d.encrypted != nullptr) {
            if (!encryption_acceptable(content->d.encrypted->enc_data->algorithm, "content encryption", path))
                return false;
            bags.reset(PKCS12_unpack_p7encdata(content, password, -1));
        }
        if (bags && !bags_acceptable(bags.get(), path))
            return false;
    }
    return true;
}
