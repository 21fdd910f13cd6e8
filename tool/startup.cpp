#define OPENSSL_SUPPRESS_DEPRECATED  // the ENGINE API

#include "startup.h"

#include <openssl/bio.h>
#include <openssl/engine.h>

#include "json_output.h"
#include "p11_errors.h"
#include "pin_prompt.h"
#include "p11_module.h"
#include "p11_session.h"
#include "pkcs11_core_eng.h"
#include "store.h"
#include "tool_state.h"

void find_token_engine()
{
    ENGINE_load_zk_p11_core();
    token_engine = ENGINE_by_id(ZK_P11_ENGINE_ID);
    if (token_engine == nullptr) {
        BIO_printf(bio_err, "ENGINE_by_id failed for zk_p11_core_2012\n");
        exit_tool(-1);
    }
}

void attach_module()
{
    if (init_p11_module() != 0) {
        BIO_printf(bio_err, "Can't load the PKCS11 library %s\n", module_path);
        exit_tool(-1);
    }
    // The engine takes the command's argument as the function-list pointer.
    if (!ENGINE_ctrl_cmd_string(token_engine, "ATTACH_API_FUNCS",
                                reinterpret_cast<const char *>(p11_functions), 0)) {
        BIO_printf(bio_err, "ATTACH_API_FUNCS failed\n");
        exit_tool(-1);
    }
}

void open_session_and_store(bool writes)
{
    CK_RV rv = open_reading_session(token_slot, writes, &tool_session);
    if (rv != CKR_OK) {
        tool_session = 0;
        print_p11_error("C_OpenSession", rv);
        exit_tool(exit_status_for(rv));
    }
    if (!ENGINE_ctrl_cmd(token_engine, "SET_SESSION", static_cast<long>(tool_session), nullptr,
                         nullptr, 0)) {
        BIO_printf(bio_err, "SET_SESSION failed\n");
        exit_tool(-1);
    }
    token_store = STORE_new_engine(token_engine);
    if (token_store == nullptr) {
        BIO_printf(bio_err, "STORE_new_engine failed for zk_p11_core_2012\n");
        exit_tool(-1);
    }
}

int finish_run(CK_RV result, bool print_ok)
{
    wipe_secret_sources();
    if (print_ok && json_mode()) {
        // The document stands alone on standard output: no "OK" after it.
        if (listing_failure() != CKR_OK)
            result = listing_failure();
        else
            write_json_document();
    } else if (print_ok) {
        BIO_printf(bio_out, "OK\n");
    }
    (void)BIO_flush(bio_out);
    (void)BIO_flush(bio_err);
    if (tool_session != 0)
        p11_functions->C_CloseSession(tool_session);
    return exit_status_for(result);
}
