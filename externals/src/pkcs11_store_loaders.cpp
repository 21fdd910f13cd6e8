#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE, EVP_PKEY_get0
#include "pkcs11_store_loaders.h"

#include "gost_params.h"
#include "ossl_ptr.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_store_ops.h"
#include "pkcs11_ui_pin.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct StoreFree {
    void operator()(STORE *s) const { STORE_free(s); }
};
// `key_id` names a file holding a PEM certificate: its key pair's 20-byte
// CKA_ID. Returns -1 when no such file opens, 0 when the file holds no
// certificate (after its line), 1 when an identifier was taken, 2 when the
// certificate's key has none (not a GOST key).
int id_from_certificate_file(const char *prefix, const char *key_id, unsigned char id[kGostKeyIdLen]) {
    ERR_set_mark();
    ossl::BioPtr bio(BIO_new_file(key_id, "r"));
    if (!bio) {
        ERR_pop_to_mark();  // no such file: the text is a label
        return -1;
    }
    ossl::X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    ERR_pop_to_mark();
    if (!certificate) {
        std::fprintf(stderr, "%sCan't read X509 PEM file %s\n", prefix, key_id);
        return 0;
    }
    EVP_PKEY *pkey = X509_get0_pubkey(certificate.get());
    if (!pkey || !gost_key_alg(EVP_PKEY_get_base_id(pkey)))
        return 2;
    const p11_gost2012_key *key = gost_key_record(pkey);
    if (!key)
        return 2;
    std::memcpy(id, key->key_id, kGostKeyIdLen);
    return 1;
}

EVP_PKEY *load_key(ENGINE *e, const char *key_id, bool is_public, UI_METHOD *ui_method, void *callback_data) {
    const char *prefix = is_public ? "p11_load_pubkey: " : "p11_load_privkey: ";
    if (!key_id) {
        std::fprintf(stderr, "%sNULL key_id\n", prefix);
        return nullptr;
    }
    const P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx)
        return nullptr;
    if (!ctx->function_list) {
        std::fprintf(stderr, "%sapi not attached\n", prefix);
        return nullptr;
    }
    // A private key is a private object: without a login so far, the PIN
    // is asked for through the caller's UI, when it gave one.
    if (!is_public && !p11_login_through_ui(e, ui_method, callback_data, prefix))
        return nullptr;
    std::unique_ptr<STORE, StoreFree> store(STORE_new_engine(e));
    if (!store) {
        std::fprintf(stderr, "%sSTORE_new_engine failed\n", prefix);
        return nullptr;
    }
    unsigned char id[kGostKeyIdLen] = {};
    int from_file = id_from_certificate_file(prefix, key_id, id);
    if (from_file == 0)
        return nullptr;
    OPENSSL_ITEM attributes[2] = {};
    if (from_file == 1)
        attributes[0] = {STORE_ATTR_KEYID, id, sizeof(id), nullptr};
    else
        attributes[0] = {STORE_ATTR_FRIENDLYNAME, const_cast<char *>(key_id), std::strlen(key_id) + 1, nullptr};
    return is_public ? STORE_get_public_key(store.get(), attributes, nullptr)
                     : STORE_get_private_key(store.get(), attributes, nullptr);
}

}  // namespace

EVP_PKEY *p11_load_privkey(ENGINE *e, const char *key_id, UI_METHOD *ui_method, void *callback_data) {
    return load_key(e, key_id, false, ui_method, callback_data);
}

EVP_PKEY *p11_load_pubkey(ENGINE *e, const char *key_id, UI_METHOD *, void *) {
    return load_key(e, key_id, true, nullptr, nullptr);
}
