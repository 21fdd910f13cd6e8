// tokencert: manages X.509 certificates and key pairs on a PKCS#11 token.
#include <cstdlib>

#include <openssl/crypto.h>

#include "actions.h"
#include "listings.h"
#include "options.h"
#include "p11_module.h"
#include "startup.h"
#include "tool_state.h"

int main(int argc, char **argv)
{
    // The tool is driven by its command line alone. OpenSSL's configuration
    // file is left unread: it may load this engine as a loadable module and
    // attach and initialise a module before the tool does.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    create_output_streams();
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "tokencert";
    CommandLine cmd;
    if (!parse_command_line(argc, argv, cmd))
        print_usage(program);
    option_flags = cmd.flags;
    module_path = cmd.module_path;

    find_token_engine();
    attach_module();

    CK_RV result = get_slot_list();
    if (result != CKR_OK)
        return finish_run(result, false);

    if ((option_flags & OPT_P11INFO) || option_flags == OPT_P11)
        show_library_info();
    if (option_flags & OPT_SLOTLIST)
        show_slot_list();

    if (option_flags & OPT_SLOT) {
        token_slot = static_cast<CK_SLOT_ID>(std::atol(cmd.slot));
    } else {
        result = find_first_token_slot();
        if (result != CKR_OK)
            BIO_printf(bio_err, "No slots with token present found\n");
    }
    if (token_slot != NO_SLOT)
        open_session_and_store((option_flags & (OPT_REMOVE | OPT_INFILE)) != 0);

    ActionsOutcome outcome = run_actions(cmd, result);
    return finish_run(outcome.result, outcome.print_ok);
}
