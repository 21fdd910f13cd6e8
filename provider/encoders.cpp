// Encoders of the GOST R 34.10 keys: SubjectPublicKeyInfo and PKCS#8
// PrivateKeyInfo, DER and PEM (the engine's bytes, key_der), and text (the
// lines the engine's key printing writes). A PrivateKeyInfo encoder told a
// cipher writes the key encrypted (EncryptedPrivateKeyInfo, PBES2 with the
// passphrase the caller's callback gives).
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <new>
#include <string>
#include <vector>

#include "gost_key_text.h"
#include "key_algs.h"
#include "key_der.h"
#include "ossl_ptr.h"
#include "secret_string.h"

namespace {

enum class Form { spki_der, spki_pem, pkcs8_der, pkcs8_pem, text };

struct EncCtx {
    ProvCtx *prov;
    std::string cipher;      // empty: no encryption
    std::string properties;  // of the cipher's fetch
};

void *newctx(void *provctx)
{
    auto *ctx = new (std::nothrow) EncCtx;
    if (ctx != nullptr)
        ctx->prov = static_cast<ProvCtx *>(provctx);
    return ctx;
}

void freectx(void *vctx) { delete static_cast<EncCtx *>(vctx); }

int set_ctx_params(void *vctx, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<EncCtx *>(vctx);
    const char *text = nullptr;
    const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, OSSL_ENCODER_PARAM_CIPHER);
    if (p != nullptr) {
        if (!OSSL_PARAM_get_utf8_string_ptr(p, &text))
            return zk_raise(ctx->prov, ZK_R_BAD_PARAMETER, "cipher");
        ctx->cipher = text != nullptr ? text : "";
    }
    p = OSSL_PARAM_locate_const(params, OSSL_ENCODER_PARAM_PROPERTIES);
    if (p != nullptr) {
        if (!OSSL_PARAM_get_utf8_string_ptr(p, &text))
            return zk_raise(ctx->prov, ZK_R_BAD_PARAMETER, "properties");
        ctx->properties = text != nullptr ? text : "";
    }
    return 1;
}

const OSSL_PARAM *settable_ctx_params(void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_utf8_string(OSSL_ENCODER_PARAM_CIPHER, nullptr, 0),
        OSSL_PARAM_utf8_string(OSSL_ENCODER_PARAM_PROPERTIES, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

template <Form F>
int does_selection(void *, int selection)
{
    if (F == Form::spki_der || F == Form::spki_pem)
        return (selection & OSSL_KEYMGMT_SELECT_PUBLIC_KEY) != 0;
    if (F == Form::pkcs8_der || F == Form::pkcs8_pem)
        return (selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) != 0;
    return 1;
}

std::string key_text(const ProvKey &key, int selection)
{
    std::string text;
    if ((selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) != 0)
        text += gost_private_text(&key.rec);
    if ((selection & OSSL_KEYMGMT_SELECT_KEYPAIR) != 0)
        text += gost_public_text(&key.rec);
    return text + "Parameter set: " + gost_nid2ln(key.rec.param_nid) + "\n";
}

// PKCS#8 encrypted with the context's cipher under the callback's
// passphrase: the DER of the EncryptedPrivateKeyInfo in *der.
bool encrypt_pkcs8(const EncCtx &ctx, std::vector<unsigned char> *der, OSSL_PASSPHRASE_CALLBACK *cb, void *cbarg)
{
    ossl::Ptr<EVP_CIPHER, EVP_CIPHER_free> cipher(
        EVP_CIPHER_fetch(ctx.prov->libctx, ctx.cipher.c_str(), ctx.properties.empty() ? nullptr : ctx.properties.c_str()));
    if (!cipher)
        return zk_raise(ctx.prov, ZK_R_BAD_PARAMETER, "unknown cipher %s", ctx.cipher.c_str()) != 0;
    SecretBytes<1024> pass;
    std::size_t pass_len = 0;
    if (cb == nullptr || !cb(reinterpret_cast<char *>(pass.data), pass.size(), &pass_len, nullptr, cbarg))
        return zk_raise(ctx.prov, ZK_R_BAD_PARAMETER, "no passphrase") != 0;
    const unsigned char *p = der->data();
    ossl::Ptr<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free> p8(
        d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der->size())));
    ossl::Ptr<X509_SIG, X509_SIG_free> sealed(
        p8 ? PKCS8_encrypt_ex(-1, cipher.get(), reinterpret_cast<const char *>(pass.data), static_cast<int>(pass_len),
                              nullptr, 0, 0, p8.get(), ctx.prov->libctx, nullptr)
           : nullptr);
    unsigned char *out = nullptr;
    int len = sealed ? i2d_X509_SIG(sealed.get(), &out) : 0;
    OPENSSL_cleanse(der->data(), der->size());
    if (len <= 0)
        return zk_raise(ctx.prov, ZK_R_CORE_FAILURE, "PKCS#8 encryption") != 0;
    der->assign(out, out + len);
    OPENSSL_free(out);
    return true;
}

template <Form F>
int encode(void *vctx, OSSL_CORE_BIO *cout, const void *obj_raw, const OSSL_PARAM[], int selection,
           OSSL_PASSPHRASE_CALLBACK *cb, void *cbarg)
{
    auto *ctx = static_cast<EncCtx *>(vctx);
    const auto *key = static_cast<const ProvKey *>(obj_raw);
    if (key == nullptr)
        return zk_raise(ctx->prov, ZK_R_NO_KEY);
    ossl::BioPtr out(BIO_new_from_core_bio(ctx->prov->libctx, cout));
    if (!out)
        return zk_raise(ctx->prov, ZK_R_OUT_OF_MEMORY);
    if (F == Form::text) {
        std::string text = key_text(*key, selection);
        int ok = BIO_write(out.get(), text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
        OPENSSL_cleanse(text.data(), text.size());
        return ok;
    }
    const bool is_public = F == Form::spki_der || F == Form::spki_pem;
    std::vector<unsigned char> der;
    bool ok = is_public ? zk_spki_der(*key, &der) : zk_pkcs8_der(*key, &der);
    const bool encrypted = !is_public && !ctx->cipher.empty();
    ok = ok && (!encrypted || encrypt_pkcs8(*ctx, &der, cb, cbarg));
    if (ok && (F == Form::spki_pem || F == Form::pkcs8_pem)) {
        const char *label = is_public ? PEM_STRING_PUBLIC : encrypted ? PEM_STRING_PKCS8 : PEM_STRING_PKCS8INF;
        ok = PEM_write_bio(out.get(), label, "", der.data(), static_cast<long>(der.size())) > 0;
    } else if (ok) {
        ok = BIO_write(out.get(), der.data(), static_cast<int>(der.size())) == static_cast<int>(der.size());
    }
    OPENSSL_cleanse(der.data(), der.size());
    return ok ? 1 : 0;
}

template <Form F>
const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_ENCODER_NEWCTX, zk_fn(newctx)},
    {OSSL_FUNC_ENCODER_FREECTX, zk_fn(freectx)},
    {OSSL_FUNC_ENCODER_SET_CTX_PARAMS, zk_fn(set_ctx_params)},
    {OSSL_FUNC_ENCODER_SETTABLE_CTX_PARAMS, zk_fn(settable_ctx_params)},
    {OSSL_FUNC_ENCODER_DOES_SELECTION, zk_fn(does_selection<F>)},
    {OSSL_FUNC_ENCODER_ENCODE, zk_fn(encode<F>)},
    {0, nullptr},
};

#define ZK_ENCODER(output, structure, form)                                                                       \
    ZK_KEY_ALG_ENTRIES("provider=" ZK_PROVIDER_NAME ",output=" output structure, kFunctions<form>, kFunctions<form>, \
                       kFunctions<form>, "key encoder")

}  // namespace

const OSSL_ALGORITHM zk_encoders[] = {
    ZK_ENCODER("der", ",structure=SubjectPublicKeyInfo", Form::spki_der),
    ZK_ENCODER("pem", ",structure=SubjectPublicKeyInfo", Form::spki_pem),
    ZK_ENCODER("der", ",structure=PrivateKeyInfo", Form::pkcs8_der),
    ZK_ENCODER("pem", ",structure=PrivateKeyInfo", Form::pkcs8_pem),
    ZK_ENCODER("text", "", Form::text),
    {nullptr, nullptr, nullptr, nullptr},
};
