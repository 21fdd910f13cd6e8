// Decoders of the GOST R 34.10 keys from DER SubjectPublicKeyInfo and
// PKCS#8 PrivateKeyInfo (PEM and encrypted PKCS#8 reach them as DER through
// OpenSSL's own decoders). Input that is not one of these structures or
// holds another algorithm's key is left to other decoders; a GOST key whose
// encoding is malformed is refused. The key goes to key management by
// reference (key_ref.h).
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/core_object.h>
#include <openssl/crypto.h>
#include <openssl/params.h>

#include <vector>

#include "key_algs.h"
#include "key_der.h"
#include "key_ref.h"
#include "ossl_ptr.h"

namespace {

// Larger input is no GOST key.
constexpr std::size_t kMaxInput = 16 * 1024;

enum class Structure { spki, pkcs8 };

void *newctx(void *provctx) { return provctx; }
void freectx(void *) {}

// All of the input, or false when it is larger than any key.
bool read_all(ProvCtx *prov, OSSL_CORE_BIO *cin, std::vector<unsigned char> *data)
{
    ossl::BioPtr in(BIO_new_from_core_bio(prov->libctx, cin));
    if (!in)
        return false;
    unsigned char chunk[1024];
    int got = 0;
    while ((got = BIO_read(in.get(), chunk, sizeof chunk)) > 0) {
        if (data->size() + static_cast<std::size_t>(got) > kMaxInput)
            return false;
        data->insert(data->end(), chunk, chunk + got);
    }
    OPENSSL_cleanse(chunk, sizeof chunk);
    return true;
}

template <Structure S>
int decode(void *vctx, OSSL_CORE_BIO *cin, int selection, OSSL_CALLBACK *data_cb, void *data_cbarg,
           OSSL_PASSPHRASE_CALLBACK *, void *)
{
    auto *prov = static_cast<ProvCtx *>(vctx);
    const int wanted = S == Structure::spki ? OSSL_KEYMGMT_SELECT_PUBLIC_KEY : OSSL_KEYMGMT_SELECT_PRIVATE_KEY;
    if (selection != 0 && (selection & wanted) == 0)
        return 1;
    std::vector<unsigned char> der;
    bool complete = read_all(prov, cin, &der);
    ProvKey *key = nullptr;
    DerRead read = !complete ? DerRead::not_ours
                   : S == Structure::spki ? zk_key_from_spki(prov, der.data(), der.size(), &key)
                                          : zk_key_from_pkcs8(prov, der.data(), der.size(), &key);
    OPENSSL_cleanse(der.data(), der.size());
    if (read != DerRead::key)
        return read == DerRead::not_ours ? 1 : 0;
    SoftKeyRef ref;
    ref.key = key;
    int type = OSSL_OBJECT_PKEY;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_int(OSSL_OBJECT_PARAM_TYPE, &type),
        OSSL_PARAM_construct_utf8_string(OSSL_OBJECT_PARAM_DATA_TYPE, const_cast<char *>(gost_nid2sn(key->rec.alg_nid)), 0),
        OSSL_PARAM_construct_octet_string(OSSL_OBJECT_PARAM_REFERENCE, &ref, sizeof ref),
        OSSL_PARAM_construct_end(),
    };
    int ok = data_cb(params, data_cbarg);
    zk_key_free(ref.key);  // still here when key management did not take it
    return ok;
}

template <Structure S>
const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_DECODER_NEWCTX, zk_fn(newctx)},
    {OSSL_FUNC_DECODER_FREECTX, zk_fn(freectx)},
    {OSSL_FUNC_DECODER_DECODE, zk_fn(decode<S>)},
    {0, nullptr},
};

#define ZK_DECODER(structure, s)                                                                                 \
    ZK_KEY_ALG_ENTRIES("provider=" ZK_PROVIDER_NAME ",input=der,structure=" structure, kFunctions<s>, kFunctions<s>, \
                       kFunctions<s>, "key decoder")

}  // namespace

const OSSL_ALGORITHM zk_decoders[] = {
    ZK_DECODER("SubjectPublicKeyInfo", Structure::spki),
    ZK_DECODER("PrivateKeyInfo", Structure::pkcs8),
    {nullptr, nullptr, nullptr, nullptr},
};
