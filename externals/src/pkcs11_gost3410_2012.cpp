// GOST R 34.10 key-pair generation, signing and verification on the token.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "pkcs11_gost3410_2012.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <openssl/objects.h>

#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "p11_key_objects.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_login_on_use.h"
#include "token_keyops.h"

namespace {

using Bytes = std::vector<unsigned char>;

void report(const char *prefix, const char *call, CK_RV rv)
{
    std::fprintf(stderr, "%s%s failed, rc = 0x%x\n", prefix, call, static_cast<unsigned>(rv));
}

// Objects made in a session that go again when the guard goes out of scope,
// unless kept.
class MadeObjects {
public:
    MadeObjects(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session) : f_(f), session_(session) {}
    MadeObjects(const MadeObjects &) = delete;
    MadeObjects &operator=(const MadeObjects &) = delete;
    ~MadeObjects()
    {
        for (CK_OBJECT_HANDLE h : handles_)
            f_->C_DestroyObject(session_, h);
    }
    void add(CK_OBJECT_HANDLE h)
    {
        if (h != CK_INVALID_HANDLE)
            handles_.push_back(h);
    }
    void keep() { handles_.clear(); }

private:
    CK_FUNCTION_LIST *f_;
    CK_SESSION_HANDLE session_;
    std::vector<CK_OBJECT_HANDLE> handles_;
};

// ---- key-pair generation ------------------------------------------------

// The templates of one generation; the attributes point into the record, so
// it stays where it was built.
struct KeygenTemplates {
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    CK_BBOOL on_token = CK_FALSE;  // also CKA_PRIVATE of the private key
    CK_BBOOL extractable = CK_FALSE;
    CK_BBOOL sensitive = CK_FALSE;
    CK_OBJECT_CLASS pub_class = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS priv_class = CKO_PRIVATE_KEY;
    Bytes curve, hash;
    unsigned char cipher[sizeof P11_ENGINE_CTX::gost28147_params_der] = {};
    CK_ULONG cipher_len = 0;
    CK_ATTRIBUTE pub[8] = {};
    CK_ATTRIBUTE priv[8] = {};
    CK_ULONG priv_count = 0;

    KeygenTemplates(const P11_ENGINE_CTX &ctx, Bytes curve_der, Bytes hash_der)
        : curve(std::move(curve_der)), hash(std::move(hash_der))
    {
        on_token = (ctx.session_flags & CKF_RW_SESSION) ? CK_TRUE : CK_FALSE;
        std::memcpy(cipher, ctx.gost28147_params_der, sizeof cipher);
        cipher_len = std::min<CK_ULONG>(2 + cipher[1], sizeof cipher);
        CK_ATTRIBUTE pub_attrs[] = {
            {CKA_TOKEN, &on_token, sizeof on_token},
            {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
            {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()},
            {CKA_GOST28147_PARAMS, cipher, cipher_len},
            {CKA_CLASS, &pub_class, sizeof pub_class},
            {CKA_PRIVATE, &no, sizeof no},
            {CKA_ENCRYPT, &yes, sizeof yes},
            {CKA_VERIFY, &yes, sizeof yes},
        };
        std::memcpy(pub, pub_attrs, sizeof pub);
        CK_ATTRIBUTE priv_attrs[] = {
            {CKA_TOKEN, &on_token, sizeof on_token},
            {CKA_CLASS, &priv_class, sizeof priv_class},
            {CKA_PRIVATE, &on_token, sizeof on_token},
            {CKA_DECRYPT, &yes, sizeof yes},
            {CKA_SIGN, &yes, sizeof yes},
            {CKA_DERIVE, &yes, sizeof yes},
        };
        std::memcpy(priv, priv_attrs, sizeof priv_attrs);
        priv_count = 6;
        if (ctx.private_key_extractable != -1) {
            extractable = ctx.private_key_extractable ? CK_TRUE : CK_FALSE;
            priv[priv_count++] = {CKA_EXTRACTABLE, &extractable, sizeof extractable};
        }
        if (ctx.private_key_sensitive != -1) {
            sensitive = ctx.private_key_sensitive ? CK_TRUE : CK_FALSE;
            priv[priv_count++] = {CKA_SENSITIVE, &sensitive, sizeof sensitive};
        }
    }
    KeygenTemplates(const KeygenTemplates &) = delete;
    KeygenTemplates &operator=(const KeygenTemplates &) = delete;
};

struct FileClose {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// The number a label index file holds: nothing when the file cannot be
// read, 0 when it holds no number.
std::optional<long long> read_label_index(const std::string &path)
{
    FilePtr file(std::fopen(path.c_str(), "r"));
    if (!file)
        return std::nullopt;
    char text[64];
    std::size_t n = std::fread(text, 1, sizeof text - 1, file.get());
    text[n] = '\0';
    char *end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE)
        return 0;
    return value;
}

// Leaves the next number in the file; a file that cannot be written is left
// alone.
void write_label_index(const std::string &path, long long value)
{
    FilePtr file(std::fopen(path.c_str(), "w"));
    if (file)
        std::fprintf(file.get(), "%lld", value < LLONG_MAX ? value + 1 : value);
}

constexpr const char *kKeygen = "pkcs11_gost2012_keygen_wrapper: ";

bool set_attribute(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type,
                   const void *value, CK_ULONG len)
{
    CK_ATTRIBUTE attr{type, const_cast<void *>(value), len};
    CK_RV rv = f->C_SetAttributeValue(s, h, &attr, 1);
    if (rv != CKR_OK) {
        report("", "C_SetAttributeValue", rv);
        return false;
    }
    return true;
}

bool set_on_both(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE pub, CK_OBJECT_HANDLE priv,
                 CK_ATTRIBUTE_TYPE type, const void *value, CK_ULONG len)
{
    return set_attribute(f, s, pub, type, value, len) && set_attribute(f, s, priv, type, value, len);
}

// The public value of a new key pair, exactly `expected` bytes; empty after
// one line.
Bytes read_public_value(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE pub, unsigned expected)
{
    CK_ATTRIBUTE attr{CKA_VALUE, nullptr, 0};
    CK_RV rv = f->C_GetAttributeValue(s, pub, &attr, 1);
    if (rv == CKR_OK && attr.ulValueLen != expected) {
        std::fprintf(stderr, "%spublic key of %lu bytes, %u expected\n", kKeygen, static_cast<unsigned long>(attr.ulValueLen),
                     expected);
        return {};
    }
    Bytes value(expected);
    if (rv == CKR_OK) {
        attr.pValue = value.data();
        attr.ulValueLen = value.size();
        rv = f->C_GetAttributeValue(s, pub, &attr, 1);
    }
    if (rv == CKR_OK && attr.ulValueLen != expected)
        rv = CKR_GENERAL_ERROR;
    if (rv != CKR_OK) {
        report("", "C_GetAttributeValue", rv);
        return {};
    }
    return value;
}

// ---- signing and verification --------------------------------------------

constexpr const char *kSign = "pkcs11_gost2012_do_sign: ";
constexpr const char *kVerify = "pkcs11_gost2012_do_verify: ";

// The DER of the OID of a NID; empty after
// "<prefix>OBJ_nid2obj can't understand <what> <nid>".
Bytes oid_der_or_report(const char *prefix, const char *what, int nid)
{
    Bytes der = oid_der(nid);
    if (der.empty())
        std::fprintf(stderr, "%sOBJ_nid2obj can't understand %s %d\n", prefix, what, nid);
    return der;
}

bool digest_ok(const unsigned char *dgst, int dlen) { return dgst != nullptr && (dlen == 32 || dlen == 64); }

// The private key of the record's CKA_ID; false after one line.
bool find_private_key(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, const p11_gost2012_key &key, CK_OBJECT_HANDLE *out)
{
    P11FindResult found = p11_find_key_objects(f, s, CKO_PRIVATE_KEY, key);
    if (!found.ok()) {
        report(kSign, found.failed_call, found.rv);
        return false;
    }
    if (found.handles.size() != 1) {
        std::fprintf(stderr, "%sToken private key not found\n", kSign);
        return false;
    }
    *out = found.handles[0];
    return true;
}

// Whether the object is still a private key with the record's CKA_ID.
bool is_private_key_of(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h, const p11_gost2012_key &key)
{
    CK_OBJECT_CLASS cls = 0;
    unsigned char id[kGostKeyIdMax];
    const unsigned int id_len = gost_key_id_len(key);
    CK_ATTRIBUTE attrs[] = {
        {CKA_CLASS, &cls, sizeof cls},
        {CKA_ID, id, sizeof id},
    };
    return f->C_GetAttributeValue(s, h, attrs, 2) == CKR_OK && attrs[0].ulValueLen == sizeof cls &&
           cls == CKO_PRIVATE_KEY && attrs[1].ulValueLen == id_len && std::memcmp(id, key.key_id, id_len) == 0;
}

// The signing key of the record: the one the last signature used when the
// token still shows it, else the one the search finds (remembered for the
// next signature). False after one line.
bool signing_key(P11_ENGINE_CTX *ctx, CK_SESSION_HANDLE s, const p11_gost2012_key &key, CK_OBJECT_HANDLE *out)
{
    P11_ENGINE_CTX::SigningKey &last = ctx->last_signing_key;
    CK_FUNCTION_LIST *f = ctx->function_list;
    const unsigned int id_len = gost_key_id_len(key);
    bool same = last.function_list == f && last.slot_id == ctx->slot_id && last.id.size() == id_len &&
                std::memcmp(last.id.data(), key.key_id, id_len) == 0;
    if (same && is_private_key_of(f, s, last.handle, key)) {
        *out = last.handle;
        return true;
    }
    last = P11_ENGINE_CTX::SigningKey();
    if (!find_private_key(f, s, key, out))
        return false;
    last.function_list = f;
    last.slot_id = ctx->slot_id;
    last.id.assign(key.key_id, key.key_id + id_len);
    last.handle = *out;
    return true;
}

bool public_value_missing(const p11_gost2012_key &key)
{
    return key.param_nid == NID_undef || gost_pub_key_is_zero(key);
}

}  // namespace

int pkcs11_gost2012_keygen_wrapper(ENGINE *e, p11_gost2012_key *key, CK_SESSION_HANDLE session,
                                   CK_OBJECT_HANDLE *pub_handle, CK_OBJECT_HANDLE *priv_handle)
{
    if (pub_handle != nullptr)
        *pub_handle = CK_INVALID_HANDLE;
    if (priv_handle != nullptr)
        *priv_handle = CK_INVALID_HANDLE;
    if (key == nullptr)
        return 0;
    Bytes curve = oid_der_or_report(kKeygen, "param_nid", key->param_nid);
    if (curve.empty())
        return 0;
    const GostKeyAlg *alg = gost_key_alg(key->alg_nid);
    if (alg == nullptr) {
        std::fprintf(stderr, "%sIllegal pkey_nid %d\n", kKeygen, key->alg_nid);
        return 0;
    }
    Bytes hash = oid_der_or_report(kKeygen, "digest_param_nid", gost_nid(alg->hash_params));
    if (hash.empty())
        return 0;
    const P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (ctx == nullptr)
        return 0;
    CK_FUNCTION_LIST *f = ctx->function_list;
    if (f == nullptr) {
        report("", "C_GenerateKeyPair", CKR_GENERAL_ERROR);
        return 0;
    }

    KeygenTemplates t(*ctx, std::move(curve), std::move(hash));
    CK_MECHANISM mech{alg->keygen_mechanism, nullptr, 0};
    CK_OBJECT_HANDLE pub = CK_INVALID_HANDLE, priv = CK_INVALID_HANDLE;
    CK_RV rv = f->C_GenerateKeyPair(session, &mech, t.pub, 8, t.priv, t.priv_count, &pub, &priv);
    if (rv != CKR_OK) {
        report("", "C_GenerateKeyPair", rv);
        return 0;
    }
    // From here on a failure takes the new pair off the token again.
    MadeObjects made(f, session);
    made.add(pub);
    made.add(priv);

    Bytes value = read_public_value(f, session, pub, alg->pub_key_len);
    if (value.empty())
        return 0;
    unsigned char id[kGostKeyIdLen];
    if (!pkcs11_id_gen(value.data(), static_cast<unsigned>(value.size()), id)) {
        std::fputs("pkcs11_id_gen failed\n", stderr);
        return 0;
    }
    if (!set_on_both(f, session, pub, priv, CKA_ID, id, sizeof id))
        return 0;

    // The number is taken only once both objects carry it.
    if (ctx->label_index_path) {
        if (std::optional<long long> index = read_label_index(*ctx->label_index_path)) {
            std::string label = std::to_string(*index);
            if (!set_on_both(f, session, pub, priv, CKA_LABEL, label.c_str(), label.size() + 1))
                return 0;
            write_label_index(*ctx->label_index_path, *index);
        }
    }

    made.keep();
    std::memcpy(key->pub_key, value.data(), value.size());
    key->pub_key_len = static_cast<unsigned>(value.size());
    gost_key_set_id(*key, id, sizeof id);
    if (pub_handle != nullptr)
        *pub_handle = pub;
    if (priv_handle != nullptr)
        *priv_handle = priv;
    return 1;
}

int pkcs11_gost2012_do_sign(ENGINE *e, const unsigned char *dgst, int dlen, unsigned char *sig,
                            const p11_gost2012_key *key)
{
    if (!digest_ok(dgst, dlen) || sig == nullptr || key == nullptr)
        return 0;
    const GostKeyAlg *alg = gost_key_alg(key->alg_nid);
    if (alg == nullptr)
        return 0;
    P11_ENGINE_CTX *ctx = p11_engine_ctx(e);
    if (ctx == nullptr) {
        std::fputs("pkcs11_gost2001_do_sign: ENGINE_get_ex_data failed\n", stderr);
        return 0;
    }
    if (!p11_login_on_use(e))
        return 0;
    P11Session session;
    if (!session.open_or_report(ctx))
        return 0;
    CK_FUNCTION_LIST *f = ctx->function_list;
    CK_OBJECT_HANDLE priv = CK_INVALID_HANDLE;
    if (!signing_key(ctx, session.handle(), *key, &priv))
        return 0;
    unsigned char out[kGostPubKeyMax];
    CK_ULONG out_len = sizeof out;
    const char *failed_call = nullptr;
    CK_RV rv = token_sign(f, session.handle(), alg->sign_mechanism, priv, dgst, static_cast<CK_ULONG>(dlen), out,
                          &out_len, &failed_call);
    if (rv != CKR_OK) {
        report(kSign, failed_call, rv);
        return 0;
    }
    session.close();
    if (out_len != alg->sig_len) {
        std::fprintf(stderr, "%sC_Sign returned %lu bytes, %u expected\n", kSign, static_cast<unsigned long>(out_len),
                     alg->sig_len);
        return 0;
    }
    std::memcpy(sig, out, out_len);
    return 1;
}

int pkcs11_gost2012_do_verify(ENGINE *e, const unsigned char *dgst, int dlen, const unsigned char *sig,
                              std::size_t sig_len, p11_gost2012_key *key)
{
    if (!digest_ok(dgst, dlen) || sig == nullptr || key == nullptr)
        return 0;
    const P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (ctx == nullptr)
        return 0;
    const GostKeyAlg *alg = gost_key_alg(key->alg_nid);
    if (alg == nullptr)
        return 0;
    if (sig_len != alg->sig_len) {
        std::fprintf(stderr, "%sinvalid signature length %zu\n", kVerify, sig_len);
        return 0;
    }
    if (public_value_missing(*key) && !get_pub_key_value(e, key))
        return 0;
    Bytes curve = oid_der_or_report(kVerify, "param_nid", key->param_nid);
    Bytes hash = curve.empty() ? Bytes() : oid_der_or_report(kVerify, "digest_param_nid", gost_nid(alg->hash_params));
    if (hash.empty())
        return 0;

    P11Session session;
    if (!session.open_or_report(ctx))
        return 0;
    CK_FUNCTION_LIST *f = ctx->function_list;
    CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
    CK_KEY_TYPE type = alg->key_type;
    CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    CK_ULONG value_len = key->pub_key_len <= kGostPubKeyMax ? key->pub_key_len : kGostPubKeyMax;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_VALUE, key->pub_key, value_len},
        {CKA_CLASS, &cls, sizeof cls},
        {CKA_KEY_TYPE, &type, sizeof type},
        {CKA_PRIVATE, &no, sizeof no},
        {CKA_VERIFY, &yes, sizeof yes},
        {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
        {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()},
    };
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    CK_RV rv = f->C_CreateObject(session.handle(), tmpl, sizeof tmpl / sizeof tmpl[0], &object);
    if (rv != CKR_OK) {
        report("", "C_CreateObject", rv);
        return 0;
    }
    MadeObjects made(f, session.handle());
    made.add(object);
    CK_MECHANISM mech{alg->sign_mechanism, nullptr, 0};
    rv = f->C_VerifyInit(session.handle(), &mech, object);
    if (rv != CKR_OK) {
        report("", "C_VerifyInit", rv);
        return 0;
    }
    rv = f->C_Verify(session.handle(), const_cast<unsigned char *>(dgst), static_cast<CK_ULONG>(dlen),
                     const_cast<unsigned char *>(sig), alg->sig_len);
    if (rv != CKR_OK) {
        report("", "C_Verify", rv);
        return 0;
    }
    made.keep();
    rv = f->C_DestroyObject(session.handle(), object);
    if (rv != CKR_OK) {
        report("", "C_DestroyObject", rv);
        return 0;
    }
    return 1;
}
