// The usage text the tool prints for a program name, spelled out once for the
// unit test of the printer and the end-to-end test of the binary.
#ifndef TOKENCERT_TESTS_TOOL_EXPECTED_USAGE_H
#define TOKENCERT_TESTS_TOOL_EXPECTED_USAGE_H

#include <string>

inline std::string expected_usage(const std::string &program)
{
    return "usage:\t" + program + " -p11 <PKCS#11 library path> [options]\n"
           "options:\n"
           "\t-help           - display usage\n"
           "\t-p11info        - display PKCS#11 library info\n"
           "\t-slotlist       - display slots info\n"
           "\t-slot <slot ID> - set token slot ID\n"
           "\t                (first with token present by default)\n"
           "\t-tokeninfo      - display token info\n"
           "\t-certlist       - enumerate all certificates\n"
           "\t-label <label>  - token object label\n"
           "\t-print          - print certificate to standard output\n"
           "\t-pkeyfind       - search for certificate private key\n"
           "\t-attributes     - dump all certificate attributes\n"
           "\t-remove         - remove certificate from the token\n"
           "\t-outfile        - export certificate to output file path\n"
           "\t-outform        - output file format (pem|der)\n"
           "\t\t\t\t       (pem by default)\n"
           "\t-infile         - import from file path\n"
           "\t-inform         - import file format (pem|der|pfx|p12\n"
           "\t\t\t\t       (pem by default).\n"
           "\t    NB: Import from the pfx(p12) format creates\n"
           "\t        private key, public key and certificate\n"
           "\t        objects on the token with the same label.\n"
           "\t        Import from the pem/der format creates\n"
           "\t        the certificate token object only.\n"
           "\t-pin <source>   - user PIN from pass:TEXT, env:VAR, file:PATH,\n"
           "\t                fd:N or stdin (prompted for by default)\n"
           "\t-passin <src>   - container password, the same forms as -pin\n"
           "\t-json           - -p11info, -slotlist, -tokeninfo and -certlist\n"
           "\t                as one JSON document\n"
           "\t-uri <uri>      - token and object as a PKCS#11 URI\n"
           "\t                (pkcs11:token=...;object=...) for -slot and -label\n"
           "\t-version        - display the tokencert and OpenSSL versions and\n"
           "\t                the GOST algorithms' origin (engine or provider)\n";
}

#endif
