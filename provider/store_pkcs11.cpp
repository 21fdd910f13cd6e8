// The pkcs11: store loader: certificates, public keys and private keys of
// PKCS#11 tokens named by an RFC 7512 URI. Certificates go to OpenSSL as
// DER; keys as references for key management to load (a private key's
// value never leaves its token). Nothing here logs in: that waits until a
// private key is used.
#include <openssl/core_names.h>
#include <openssl/core_object.h>
#include <openssl/objects.h>
#include <openssl/params.h>
#include <openssl/store.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "p11_label_search.h"
#include "token_key_ref.h"
#include "token_keyops.h"
#include "token_uri.h"

namespace {

struct StoreItem {
    int type = OSSL_OBJECT_UNKNOWN;
    std::vector<unsigned char> der;  // a certificate
    std::string reference;           // a key
    const char *data_type = nullptr;
};

struct StoreCtx {
    ProvCtx *prov = nullptr;
    TokenUri uri;
    std::string shown;  // the URI without its query, for messages
    CK_FUNCTION_LIST *f = nullptr;
    std::shared_ptr<TokenPin> pin = std::make_shared<TokenPin>();
    int expect = 0;
    bool searched = false;
    // A failed search ends the store, but only after one more load: OpenSSL
    // counts a failed load as an error only while the store is not at its end.
    bool failed = false, failure_seen = false;
    std::vector<StoreItem> items;
    std::size_t next = 0;

    ~StoreCtx()
    {
        for (const StoreItem &item : items)
            zk_token_key_release(item.reference);
    }
};

// Where the PIN comes from: the URI's pin-value or pin-source (a file),
// else the provider's configured source.
bool take_pin(StoreCtx &ctx)
{
    if (const char *value = ctx.uri.pin_value()) {
        ctx.pin->value.assign(value, std::strlen(value));
        return true;
    }
    std::string source;
    if (const char *given = ctx.uri.pin_source()) {
        source = given;
        if (source.rfind('/', 0) == 0)
            source = "file:" + source;
        if (source.rfind("file:", 0) != 0)
            return zk_raise(ctx.prov, ZK_R_PKCS11_URI, "pin-source: only a file is read");
        ctx.pin->source.assign(source.data(), source.size());
        return true;
    }
    const SecretString &configured = ctx.prov->pkcs11_pin_source;
    ctx.pin->source.assign(configured.c_str(), configured.size());
    return true;
}

StoreCtx *open_uri(ProvCtx *prov, const char *uri)
{
    auto ctx = std::make_unique<StoreCtx>();
    ctx->prov = prov;
    std::string error;
    if (uri == nullptr || !ctx->uri.parse(uri, error, false)) {
        zk_raise(prov, ZK_R_PKCS11_URI, "%s", error.c_str());
        return nullptr;
    }
    ctx->shown = shown_uri(uri);
    if (ctx->uri.has_class()) {
        CK_OBJECT_CLASS cls = ctx->uri.object_class();
        if (cls != CKO_CERTIFICATE && cls != CKO_PUBLIC_KEY && cls != CKO_PRIVATE_KEY) {
            zk_raise(prov, ZK_R_PKCS11_URI, "only certificates, public and private keys are loaded: %s",
                     ctx->shown.c_str());
            return nullptr;
        }
    }
    const char *module = ctx->uri.module_path();
    const std::string path = module ? module : prov->pkcs11_module_path;
    if (path.empty()) {
        zk_raise(prov, ZK_R_PKCS11_URI, "no PKCS#11 module: set pkcs11-module-path or module-path");
        return nullptr;
    }
    if (!take_pin(*ctx) || (ctx->f = zk_token_module(prov, path)) == nullptr)
        return nullptr;
    return ctx.release();
}

void *store_open(void *provctx, const char *uri)
{
    auto *prov = static_cast<ProvCtx *>(provctx);
    try {
        return open_uri(prov, uri);
    } catch (const std::bad_alloc &) {
        zk_raise(prov, ZK_R_OUT_OF_MEMORY);
        return nullptr;
    }
}

const OSSL_PARAM *store_settable_ctx_params(void *)
{
    static const OSSL_PARAM kParams[] = {OSSL_PARAM_int(OSSL_STORE_PARAM_EXPECT, nullptr), OSSL_PARAM_END};
    return kParams;
}

int store_set_ctx_params(void *vctx, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<StoreCtx *>(vctx);
    const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, OSSL_STORE_PARAM_EXPECT);
    if (p != nullptr && !OSSL_PARAM_get_int(p, &ctx->expect))
        return zk_raise(ctx->prov, ZK_R_BAD_PARAMETER, "expect");
    return 1;
}

// The classes to search: the URI's type, else what the caller expects.
std::vector<CK_OBJECT_CLASS> wanted_classes(const StoreCtx &ctx)
{
    if (ctx.uri.has_class())
        return {ctx.uri.object_class()};
    switch (ctx.expect) {
    case 0:
        return {CKO_CERTIFICATE, CKO_PRIVATE_KEY, CKO_PUBLIC_KEY};
    case OSSL_STORE_INFO_CERT:
        return {CKO_CERTIFICATE};
    case OSSL_STORE_INFO_PKEY:
        return {CKO_PRIVATE_KEY};
    case OSSL_STORE_INFO_PUBKEY:
        return {CKO_PUBLIC_KEY};
    default:
        return {};
    }
}

// The key record of a GOST public-key object; false for any other key.
bool key_record(const TokenKeyInfo &info, p11_gost2012_key &rec)
{
    int param_nid = 0, hash_nid = 0;
    if ((info.key_type != CKK_GOSTR3410 && info.key_type != CKK_GOSTR3410_512) ||
        !oid_der_to_nid(info.params3410.data(), info.params3410.size(), &param_nid) ||
        (!info.params3411.empty() && !oid_der_to_nid(info.params3411.data(), info.params3411.size(), &hash_nid)))
        return false;
    GostObj alg = GostObj::gost2001;
    if (info.key_type == CKK_GOSTR3410_512 || hash_nid == gost_nid(GostObj::gost3411_2012_512))
        alg = GostObj::gost3410_2012_512;
    else if (hash_nid == gost_nid(GostObj::gost3411_2012_256))
        alg = GostObj::gost3410_2012_256;
    const GostKeyAlg *props = gost_key_alg(gost_nid(alg));
    rec = p11_gost2012_key{};
    if (props == nullptr || !gost_paramset_in_table(props->size, param_nid) ||
        !fill_GOST2012_params(&rec, gost_nid(alg), param_nid) || info.value.size() != rec.pub_key_len ||
        !gost_key_set_id(rec, info.id.data(), info.id.size()))
        return false;
    std::memcpy(rec.pub_key, info.value.data(), info.value.size());
    return true;
}

// One found object as an item of the store; false after an error on the
// queue. A key that is not a GOST key is passed over.
bool add_item(StoreCtx &ctx, CK_SLOT_ID slot, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h, CK_OBJECT_CLASS cls)
{
    StoreItem item;
    if (cls == CKO_CERTIFICATE) {
        CK_RV rv = token_read_attribute(ctx.f, s, h, CKA_VALUE, item.der);
        if (rv != CKR_OK)
            return zk_raise(ctx.prov, ZK_R_TOKEN_FAILURE, "C_GetAttributeValue failed, rc = 0x%lx", rv);
        item.type = OSSL_OBJECT_CERT;
        item.data_type = "CERTIFICATE";
        ctx.items.push_back(std::move(item));
        return true;
    }
    TokenKeyInfo info;
    CK_RV rv = token_read_key_info(ctx.f, s, h, true, info);
    p11_gost2012_key rec;
    if (rv != CKR_OK || !key_record(info, rec))
        return true;
    std::shared_ptr<TokenKeyRef> token;
    if (cls == CKO_PRIVATE_KEY) {
        token = std::make_shared<TokenKeyRef>();
        token->slot = zk_token_slot(ctx.f, slot);
        token->pin = ctx.pin;
        token->id = info.id;
    }
    item.type = OSSL_OBJECT_PKEY;
    // Key management knows the algorithm by OpenSSL's short name of its OID.
    item.data_type = OBJ_nid2sn(rec.alg_nid);
    item.reference = zk_token_key_register(ctx.prov, rec, std::move(token));
    if (item.reference.empty())
        return zk_raise(ctx.prov, ZK_R_OUT_OF_MEMORY);
    ctx.items.push_back(std::move(item));
    return true;
}

// The objects of one class on one token that the URI names. A private key
// is found through the public key of its pair, which needs no login.
bool search_class(StoreCtx &ctx, CK_SLOT_ID slot, CK_SESSION_HANDLE s, CK_OBJECT_CLASS cls)
{
    CK_OBJECT_CLASS search_cls = cls == CKO_PRIVATE_KEY ? CKO_PUBLIC_KEY : cls;
    CK_ATTRIBUTE templ[3] = {{CKA_CLASS, &search_cls, sizeof search_cls}};
    CK_ULONG n = 1;
    const std::vector<unsigned char> &id = ctx.uri.id();
    if (ctx.uri.has_id())
        templ[n++] = {CKA_ID, const_cast<unsigned char *>(id.data()), static_cast<CK_ULONG>(id.size())};
    P11FindResult found;
    auto run = [&](const char *label, CK_ULONG len) {
        CK_ULONG count = n;
        if (label != nullptr)
            templ[count++] = {CKA_LABEL, const_cast<char *>(label), len};
        found = p11_find_objects(ctx.f, s, templ, count);
        return !found.ok() || !found.handles.empty();
    };
    if (ctx.uri.has_label())
        search_label_both_ways(ctx.uri.label().c_str(), run);
    else
        run(nullptr, 0);
    if (!found.ok())
        return zk_raise(ctx.prov, ZK_R_TOKEN_FAILURE, "%s failed, rc = 0x%lx", found.failed_call, found.rv);
    for (CK_OBJECT_HANDLE h : found.handles)
        if (!add_item(ctx, slot, s, h, cls))
            return false;
    return true;
}

// Every token the URI names, in slot order, without logging in.
bool search(StoreCtx &ctx)
{
    ctx.searched = true;
    CK_INFO module_info;
    if (ctx.f->C_GetInfo(&module_info) != CKR_OK || !ctx.uri.matches_module(module_info))
        return true;
    std::vector<CK_SLOT_ID> slots;
    CK_RV rv = p11_token_slots(ctx.f, slots);
    if (rv != CKR_OK)
        return zk_raise(ctx.prov, ZK_R_TOKEN_FAILURE, "C_GetSlotList failed, rc = 0x%lx", rv);
    const std::vector<CK_OBJECT_CLASS> classes = wanted_classes(ctx);
    for (CK_SLOT_ID slot : slots) {
        CK_SLOT_INFO slot_info;
        CK_TOKEN_INFO token_info;
        if (ctx.f->C_GetSlotInfo(slot, &slot_info) != CKR_OK || !ctx.uri.matches_slot(slot, slot_info) ||
            ctx.f->C_GetTokenInfo(slot, &token_info) != CKR_OK || !ctx.uri.matches_token(token_info) ||
            !(token_info.flags & CKF_TOKEN_INITIALIZED))
            continue;
        TokenSession session;
        rv = session.open(ctx.f, slot, CKF_SERIAL_SESSION);
        if (rv != CKR_OK)
            return zk_raise(ctx.prov, ZK_R_TOKEN_FAILURE, "C_OpenSession failed, rc = 0x%lx", rv);
        for (CK_OBJECT_CLASS cls : classes)
            if (!search_class(ctx, slot, session.handle(), cls))
                return false;
    }
    return true;
}

int store_load(void *vctx, OSSL_CALLBACK *object_cb, void *object_cbarg, OSSL_PASSPHRASE_CALLBACK *, void *)
{
    auto *ctx = static_cast<StoreCtx *>(vctx);
    if (ctx->failed) {
        ctx->failure_seen = true;
        return 0;
    }
    if (!ctx->searched) {
        bool ok = false;
        try {
            ok = search(*ctx) && (!ctx->items.empty() ||
                                  zk_raise(ctx->prov, ZK_R_NOT_FOUND, "nothing matches %s", ctx->shown.c_str()));
        } catch (const std::bad_alloc &) {
            zk_raise(ctx->prov, ZK_R_OUT_OF_MEMORY);
        }
        if (!ok) {
            ctx->failed = true;
            return 0;
        }
    }
    if (ctx->next >= ctx->items.size())
        return 0;
    StoreItem &item = ctx->items[ctx->next++];
    OSSL_PARAM params[4];
    params[0] = OSSL_PARAM_construct_int(OSSL_OBJECT_PARAM_TYPE, &item.type);
    params[1] = OSSL_PARAM_construct_utf8_string(OSSL_OBJECT_PARAM_DATA_TYPE, const_cast<char *>(item.data_type), 0);
    if (item.type == OSSL_OBJECT_CERT)
        params[2] = OSSL_PARAM_construct_octet_string(OSSL_OBJECT_PARAM_DATA, item.der.data(), item.der.size());
    else
        params[2] = OSSL_PARAM_construct_octet_string(OSSL_OBJECT_PARAM_REFERENCE, item.reference.data(),
                                                      item.reference.size());
    params[3] = OSSL_PARAM_construct_end();
    return object_cb(params, object_cbarg);
}

int store_eof(void *vctx)
{
    auto *ctx = static_cast<StoreCtx *>(vctx);
    return ctx->failed ? ctx->failure_seen : ctx->searched && ctx->next >= ctx->items.size();
}

int store_close(void *vctx)
{
    delete static_cast<StoreCtx *>(vctx);
    return 1;
}

const OSSL_DISPATCH kStoreFunctions[] = {
    {OSSL_FUNC_STORE_OPEN, zk_fn(store_open)},
    {OSSL_FUNC_STORE_SETTABLE_CTX_PARAMS, zk_fn(store_settable_ctx_params)},
    {OSSL_FUNC_STORE_SET_CTX_PARAMS, zk_fn(store_set_ctx_params)},
    {OSSL_FUNC_STORE_LOAD, zk_fn(store_load)},
    {OSSL_FUNC_STORE_EOF, zk_fn(store_eof)},
    {OSSL_FUNC_STORE_CLOSE, zk_fn(store_close)},
    {0, nullptr},
};

}  // namespace

const OSSL_ALGORITHM zk_stores[] = {
    {"pkcs11", "provider=" ZK_PROVIDER_NAME, kStoreFunctions, "PKCS#11 tokens by RFC 7512 URI"},
    {nullptr, nullptr, nullptr, nullptr},
};
