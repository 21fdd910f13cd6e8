#include "import_store.h"

#include <cstring>
#include <utility>
#include <vector>

#include <openssl/sha.h>
#include <openssl/x509.h>

#include "ossl_ptr.h"
#include "p11_session.h"
#include "printable_text.h"
#include "token_backend.h"
#include "tool_state.h"

namespace {

struct KeyPairStep {
    CK_OBJECT_CLASS cls;
    const char *name;     // as the line of a failed destroy names it
    const char *failure;  // the line of a failed store call
};
const KeyPairStep kKeyPairSteps[] = {
    {CKO_PRIVATE_KEY, "private key", "STORE_store_private_key failed\n"},
    {CKO_PUBLIC_KEY, "public key", "STORE_store_public_key failed\n"},
    {CKO_CERTIFICATE, "certificate", "STORE_certificate failed\n"},
};

// What identifies the objects of one key pair under one label.
struct KeyPairObjects {
    std::string label;  // with its zero byte, as the store writes it
    unsigned char id[SHA_DIGEST_LENGTH] = {};
    std::vector<unsigned char> certificate;  // DER
};

// The CKA_ID the store gives a GOST key pair is the SHA-1 of the public key's
// bits as a certificate carries them.
bool describe_key_pair(EVP_PKEY *key, X509 *certificate, const char *label, KeyPairObjects &objects)
{
    objects.label.assign(label, std::strlen(label) + 1);
    ossl::Ptr<X509_PUBKEY, X509_PUBKEY_free> public_key;
    X509_PUBKEY *raw = nullptr;
    const unsigned char *bits = nullptr;
    int bits_len = 0;
    bool ok = X509_PUBKEY_set(&raw, key) == 1;
    public_key.reset(raw);
    if (!ok || X509_PUBKEY_get0_param(nullptr, &bits, &bits_len, nullptr, public_key.get()) != 1)
        return false;
    SHA1(bits, static_cast<size_t>(bits_len), objects.id);
    int der_len = i2d_X509(certificate, nullptr);
    if (der_len <= 0)
        return false;
    objects.certificate.resize(static_cast<size_t>(der_len));
    unsigned char *out = objects.certificate.data();
    return i2d_X509(certificate, &out) == der_len;
}

// Whether the step's object is on the token already. False after the error
// line when the search fails.
bool find_earlier_object(CK_OBJECT_CLASS cls, KeyPairObjects &objects, bool *found)
{
    CK_ATTRIBUTE tmpl[4] = {
        {CKA_CLASS, &cls, sizeof(cls)},
        {CKA_LABEL, objects.label.data(), static_cast<CK_ULONG>(objects.label.size())},
        {CKA_ID, objects.id, sizeof(objects.id)},
        {CKA_VALUE, objects.certificate.data(), static_cast<CK_ULONG>(objects.certificate.size())},
    };
    FindOneResult search = find_one_object(tool_session, tmpl, cls == CKO_CERTIFICATE ? 4 : 3,
                                           [](CK_OBJECT_HANDLE) {});
    *found = search.found != CK_INVALID_HANDLE;
    return search.init_rv == CKR_OK && search.find_rv == CKR_OK && search.final_rv == CKR_OK;
}

// The store call of a step; the handle of the object made goes to `handle`.
bool store_step(CK_OBJECT_CLASS cls, EVP_PKEY *key, X509 *certificate, const char *label, CK_OBJECT_HANDLE *handle)
{
    if (cls == CKO_CERTIFICATE)
        return backend::store_certificate(certificate, label, handle);
    if (cls == CKO_PRIVATE_KEY)
        return backend::store_private_key(key, label, handle);
    return backend::store_public_key(key, label, handle);
}

}  // namespace

CK_RV store_key_pair(EVP_PKEY *key, X509 *certificate, const char *label)
{
    KeyPairObjects objects;
    if (!describe_key_pair(key, certificate, label, objects)) {
        BIO_printf(bio_err, "Can't encode the key pair of '%s'\n", printable(label).c_str());
        return TOOL_FAILURE;
    }
    std::vector<std::pair<const KeyPairStep *, CK_OBJECT_HANDLE>> made;
    const char *failure = nullptr;
    for (const KeyPairStep &step : kKeyPairSteps) {
        bool earlier = false;
        if (!find_earlier_object(step.cls, objects, &earlier)) {
            failure = "";  // the search printed its line
            break;
        }
        if (earlier)
            continue;
        CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
        if (!store_step(step.cls, key, certificate, label, &handle)) {
            failure = step.failure;
            break;
        }
        made.emplace_back(&step, handle);
    }
    if (failure == nullptr)
        return CKR_OK;
    // A half-imported key pair would stand in the way of a retry.
    for (auto object = made.rbegin(); object != made.rend(); ++object) {
        CK_RV rv = object->second != CK_INVALID_HANDLE ? p11_functions->C_DestroyObject(tool_session, object->second)
                                                       : CKR_OBJECT_HANDLE_INVALID;
        if (rv != CKR_OK)
            BIO_printf(bio_err,
                       "Could not remove the %s object '%s' made by this import (C_DestroyObject error 0x%lx)\n",
                       object->first->name, printable(label).c_str(), static_cast<unsigned long>(rv));
    }
    BIO_puts(bio_err, failure);
    return TOOL_FAILURE;
}
