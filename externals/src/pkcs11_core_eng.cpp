// The token engine's binding: creating the engine, its context, and its
// init, finish and destroy steps.
#define OPENSSL_SUPPRESS_DEPRECATED  // the ENGINE API
#include "pkcs11_core_eng.h"

#include "gost_objects.h"
#include "pkcs11_ctrl.h"
#include "pkcs11_methods.h"
#include "pkcs11_store.h"
#include "pkcs11_store_loaders.h"
#include "store.h"

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

// DER of id-tc26-gost-28147-param-Z (1.2.643.7.1.2.5.1.1), the default
// parameter set of the engine's ciphers.
const unsigned char kDefaultGost28147ParamsDer[] = {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x05, 0x01, 0x01};

int fail(const char *message) {
    fputs(message, stderr);
    return 0;
}

void set_default_gost28147_params(P11_ENGINE_CTX *ctx) {
    memset(ctx->gost28147_params_der, 0, sizeof ctx->gost28147_params_der);
    memcpy(ctx->gost28147_params_der, kDefaultGost28147ParamsDer, sizeof kDefaultGost28147ParamsDer);
    ctx->gost28147_params_nid = NID_id_tc26_gost_28147_param_Z;
}

// Takes the engine out of OpenSSL's algorithm tables (which keep no
// reference of their own).
void unregister_engine(ENGINE *e) {
    ENGINE_unregister_ciphers(e);
    ENGINE_unregister_digests(e);
    ENGINE_unregister_pkey_meths(e);
    ENGINE_unregister_pkey_asn1_meths(e);
}

}  // namespace

P11_ENGINE_CTX *p11_engine_ctx(const ENGINE *e) {
    if (!e)
        return nullptr;
    return static_cast<P11_ENGINE_CTX *>(ENGINE_get_ex_data(e, 0));
}

P11_ENGINE_CTX *p11_engine_ctx_or_report(const ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx(e);
    if (!ctx)
        fputs("ENGINE_get_ex_data failed\n", stderr);
    return ctx;
}

CK_SLOT_ID p11_slot_from_id(const char *id) {
    if (!id)
        return P11_NO_SLOT;
    // Tokens split at ':' as strtok does (empty tokens skipped): the first is
    // the name, the second the slot.
    const char *p = id + strspn(id, ":");
    p += strcspn(p, ":");
    p += strspn(p, ":");
    if (!*p)
        return P11_NO_SLOT;
    // The slot identifier is 32 bits wide here: -1 reads as "no slot".
    return static_cast<CK_SLOT_ID>(static_cast<uint32_t>(atoi(p)));
}

void p11_set_default_gost28147_params(P11_ENGINE_CTX *ctx) { set_default_gost28147_params(ctx); }

int zk_p11_init(ENGINE *e) { return p11_engine_ctx_or_report(e) ? 1 : 0; }

int zk_p11_destroy(ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx)
        return 0;
    ENGINE_set_ex_data(e, 0, nullptr);
    delete ctx;  // SecretString wipes the kept PIN
    return 1;
}

int bind_zk_p11_core(const char *id, ENGINE *e) {
    if (!id)
        id = ZK_P11_ENGINE_DEFAULT_ID;
    std::unique_ptr<P11_ENGINE_CTX> ctx(new (std::nothrow) P11_ENGINE_CTX());
    // OpenSSL keeps the pointer given to ENGINE_set_id: the context holds the
    // text for as long as the engine lives.
    try {
        if (ctx)
            ctx->engine_id = id;
    } catch (const std::bad_alloc &) {
        return fail("ENGINE_set_id failed\n");
    }
    if (ctx && !ENGINE_set_id(e, ctx->engine_id.c_str()))
        return fail("ENGINE_set_id failed\n");
    if (!ctx)
        return fail("P11_ENGINE_CTX malloc failed\n");
    ctx->private_key_extractable = -1;
    ctx->private_key_sensitive = -1;
    set_default_gost28147_params(ctx.get());

    if (!ENGINE_set_name(e, ZK_P11_ENGINE_NAME))
        return fail("ENGINE_set_name failed\n");

    // "name:slot": the text after the first ':' (up to a further ':')
    // selects the slot; the identifier itself keeps the suffix.
    ctx->slot_id = p11_slot_from_id(id);
    ctx->session_flags = CKF_SERIAL_SESSION | CKF_RW_SESSION;

    if (!ENGINE_set_ex_data(e, 0, ctx.get()))
        return fail("ENGINE_set_ex_data failed\n");
    ctx.release();  // from here on the engine's destroy step releases it
    if (!ENGINE_set_destroy_function(e, zk_p11_destroy))
        return 0;

    if (!ENGINE_set_digests(e, pkcs11_digests))
        return fail("ENGINE_set_digests failed\n");
    if (!ENGINE_set_ciphers(e, pkcs11_ciphers))
        return fail("ENGINE_set_ciphers failed\n");
    if (!ENGINE_set_pkey_meths(e, pkcs11_pkey_meths))
        return fail("ENGINE_set_pkey_meths failed\n");
    if (!ENGINE_set_pkey_asn1_meths(e, pkcs11_pkey_asn1_meths))
        return fail("ENGINE_set_pkey_asn1_meths failed\n");
    if (!ENGINE_set_cmd_defns(e, pkcs11_engine_cmd_defns()))
        return fail("ENGINE_set_cmd_defns failed\n");
    if (!ENGINE_set_ctrl_function(e, pkcs11_engine_ctrl))
        return fail("ENGINE_set_ctrl_func failed\n");

    if (!ENGINE_set_init_function(e, zk_p11_init) || !ENGINE_set_finish_function(e, zk_p11_init))
        return 0;

    if (!ENGINE_set_STORE(e, pkcs11_store_method()))
        return fail("ENGINE_set_STORE failed\n");
    if (!ENGINE_register_STORE(e))
        return fail("ENGINE_register_STORE failed\n");

    if (!gost_objects_init() || !pkcs11_create_key_methods(e))
        return 0;

    if (!ENGINE_register_ciphers(e) || !ENGINE_register_digests(e) || !ENGINE_register_pkey_meths(e) ||
        !ENGINE_register_pkey_asn1_meths(e))
        return 0;
    if (!pkcs11_add_algorithms())
        return 0;

    if (!ENGINE_set_load_privkey_function(e, p11_load_privkey))
        return fail("ENGINE_set_load_privkey_function failed\n");
    if (!ENGINE_set_load_pubkey_function(e, p11_load_pubkey))
        return fail("ENGINE_set_load_pubkey_function failed\n");
    return 1;
}

void ENGINE_load_zk_p11_core(void) {
    ENGINE *e = ENGINE_new();
    if (!e)
        return;
    if (bind_zk_p11_core(ZK_P11_ENGINE_ID, e) != 1) {
        unregister_engine(e);
        ENGINE_free(e);
        return;
    }
    // ENGINE_add refuses a second engine with the same identifier (a second
    // call of this function): that engine must leave no trace in OpenSSL's
    // algorithm tables before it is freed.
    if (!ENGINE_add(e))
        unregister_engine(e);
    ENGINE_free(e);
    ERR_clear_error();
}
