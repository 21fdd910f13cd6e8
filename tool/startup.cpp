#include "startup.h"

#include <openssl/bio.h>

#include "json_output.h"
#include "p11_errors.h"
#include "pin_prompt.h"
#include "p11_module.h"
#include "p11_session.h"
#include "token_backend.h"
#include "tool_state.h"

void bind_token_backend()
{
    if (!backend::bind()) {
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
    if (!backend::attach_module(p11_functions)) {
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
    if (!backend::use_session(tool_session)) {
        BIO_printf(bio_err, "SET_SESSION failed\n");
        exit_tool(-1);
    }
    if (!backend::open_store()) {
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
