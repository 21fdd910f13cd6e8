// Envelopes standard input for the holder of a certificate with a GOST key,
// through the provider alone, and writes the CMS EnvelopedData (DER) to
// standard output:
//
//   provider_cms_encrypt <providers directory> <recipient.pem> [cipher] < data > data.p7m
//
// The cipher of the content is fetched by name (by default aes-256-cbc;
// gost89 is the provider's). OpenSSL 3.0's CMS code wraps the content key
// with the provider's key transport, but leaves the recipient's
// keyEncryptionAlgorithm empty for a key that has no legacy key method:
// this program fills it in with the certificate's key algorithm before the
// message is finished.
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "provider_cms_encrypt: %s\n", what);
    ERR_print_errors_fp(stderr);
    return 1;
}

template <class T, void (*Free)(T *)>
struct Deleter {
    void operator()(T *p) const { Free(p); }
};
template <class T, void (*Free)(T *)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

void free_certs(STACK_OF(X509) *certs) { sk_X509_free(certs); }
void free_bio(BIO *bio) { BIO_free(bio); }

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 4)
        return fail("usage: provider_cms_encrypt <providers directory> <recipient.pem> [cipher] < data > data.p7m");
    OSSL_PROVIDER_set_default_search_path(nullptr, argv[1]);
    if (!OSSL_PROVIDER_load(nullptr, "zk_p11_core_2012") || !OSSL_PROVIDER_load(nullptr, "default"))
        return fail("cannot load the providers");
    Owned<BIO, free_bio> cert_file(BIO_new_file(argv[2], "r"));
    Owned<X509, X509_free> cert(cert_file ? PEM_read_bio_X509(cert_file.get(), nullptr, nullptr, nullptr) : nullptr);
    Owned<EVP_CIPHER, EVP_CIPHER_free> cipher(EVP_CIPHER_fetch(nullptr, argc == 4 ? argv[3] : "aes-256-cbc", nullptr));
    Owned<STACK_OF(X509), free_certs> certs(sk_X509_new_null());
    if (!cert || !cipher || !certs || !sk_X509_push(certs.get(), cert.get()))
        return fail("no certificate or no cipher");
    Owned<BIO, free_bio> in(BIO_new_fp(stdin, BIO_NOCLOSE)), out(BIO_new_fp(stdout, BIO_NOCLOSE));
    const unsigned int flags = CMS_BINARY | CMS_PARTIAL;
    Owned<CMS_ContentInfo, CMS_ContentInfo_free> cms(CMS_encrypt(certs.get(), nullptr, cipher.get(), flags));
    if (!cms)
        return fail("cannot start the message");
    X509_ALGOR *key_alg = nullptr;
    X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &key_alg, X509_get_X509_PUBKEY(cert.get()));
    STACK_OF(CMS_RecipientInfo) *recipients = CMS_get0_RecipientInfos(cms.get());
    for (int i = 0; i < sk_CMS_RecipientInfo_num(recipients); ++i) {
        X509_ALGOR *alg = nullptr;
        if (CMS_RecipientInfo_ktri_get0_algs(sk_CMS_RecipientInfo_value(recipients, i), nullptr, nullptr, &alg) != 1 ||
            !X509_ALGOR_copy(alg, key_alg))
            return fail("cannot name the key transport");
    }
    if (!CMS_final(cms.get(), in.get(), nullptr, flags) || !i2d_CMS_bio(out.get(), cms.get()))
        return fail("cannot envelope the data");
    return 0;
}
