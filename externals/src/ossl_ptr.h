// Owning pointers for OpenSSL objects: each is freed with its own free
// function when its pointer goes.
#ifndef OSSL_PTR_H
#define OSSL_PTR_H

#include <memory>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ui.h>
#include <openssl/x509.h>

namespace ossl {

template <auto Free>
struct Deleter {
    template <class T>
    void operator()(T *p) const { Free(p); }
};

template <class T, auto Free>
using Ptr = std::unique_ptr<T, Deleter<Free>>;

inline void free_certificates(STACK_OF(X509) *s) { sk_X509_pop_free(s, X509_free); }
inline void free_pkcs7_stack(STACK_OF(PKCS7) *s) { sk_PKCS7_pop_free(s, PKCS7_free); }
inline void free_safebags(STACK_OF(PKCS12_SAFEBAG) *s) { sk_PKCS12_SAFEBAG_pop_free(s, PKCS12_SAFEBAG_free); }

using BioPtr = Ptr<BIO, BIO_free>;
using X509Ptr = Ptr<X509, X509_free>;
using PkeyPtr = Ptr<EVP_PKEY, EVP_PKEY_free>;
using Pkcs12Ptr = Ptr<PKCS12, PKCS12_free>;
using CertificatesPtr = Ptr<STACK_OF(X509), free_certificates>;
using Asn1StringPtr = Ptr<ASN1_STRING, ASN1_STRING_free>;
using OctetStringPtr = Ptr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using ObjectPtr = Ptr<ASN1_OBJECT, ASN1_OBJECT_free>;
using UiPtr = Ptr<UI, UI_free>;

}  // namespace ossl

#endif
