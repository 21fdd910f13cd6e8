// tokencert: manages X.509 certificates and key pairs on a PKCS#11 token.
#include <cstdlib>

#include <openssl/crypto.h>

#include "actions.h"
#include "json_output.h"
#include "listings.h"
#include "options.h"
#include "p11_module.h"
#include "pin_prompt.h"
#include "startup.h"
#include "tool_state.h"
#include "uri_selection.h"
#include "version_info.h"

int main(int argc, char **argv)
{
    // The tool is driven by its command line alone. OpenSSL's configuration
    // file is left unread: it may load this engine as a loadable module and
    // attach and initialise a module before the tool does.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    create_output_streams();
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "tokencert";
    CommandLine cmd;
    const bool parsed = parse_command_line(argc, argv, cmd);
    if (cmd.flags & OPT_JSON)
        send_errors_to_stderr();
    if (!parsed)
        print_usage(program, cmd.complaint);
    if (cmd.flags & OPT_VERSION) {
        write_version(bio_out);
        exit_tool(0);
    }
    option_flags = cmd.flags;
    module_path = cmd.module_path;
    // Secrets given on the command line are read before the token is touched.
    if (load_secret_sources(cmd.passin, cmd.pin) != 0)
        exit_tool(static_cast<int>(TOOL_FAILURE));

    bind_token_backend();
    attach_module();

    CK_RV result = get_slot_list();
    if (result != CKR_OK)
        return finish_run(result, false);

    if ((option_flags & OPT_P11INFO) || (option_flags & ~MODIFIER_OPTIONS) == OPT_P11)
        note_listing_result(show_library_info());
    if (option_flags & OPT_SLOTLIST)
        note_listing_result(show_slot_list());

    if (option_flags & OPT_URI) {
        if (select_uri_slot(cmd) != CKR_OK)
            exit_tool(static_cast<int>(TOOL_FAILURE));
    } else if (option_flags & OPT_SLOT) {
        token_slot = static_cast<CK_SLOT_ID>(std::strtoul(cmd.slot, nullptr, 10));
    } else {
        result = find_first_token_slot();
        if (result != CKR_OK)
            BIO_printf(bio_err, "No slots with token present found\n");
    }
    if (token_slot != NO_SLOT) {
        open_session_and_store((option_flags & (OPT_REMOVE | OPT_INFILE)) != 0);
        CK_RV rv = resolve_uri_object(cmd);
        if (rv != CKR_OK)
            return finish_run(rv, false);
    }

    ActionsOutcome outcome = run_actions(cmd, result);
    return finish_run(outcome.result, outcome.print_ok);
}
