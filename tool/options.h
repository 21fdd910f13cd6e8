// The command line: option table, parsing and the usage text.
#ifndef TOKENCERT_OPTIONS_H
#define TOKENCERT_OPTIONS_H

#include <cstdint>

#include <openssl/bio.h>

// What the parser kept; texts point into argv and are null until given.
struct CommandLine {
    uint32_t flags = 0;
    const char *module_path = nullptr;
    const char *slot = nullptr;
    const char *label = nullptr;
    const char *outfile = nullptr;
    const char *outform = nullptr;
    const char *infile = nullptr;
    const char *inform = nullptr;
};

// Parses the arguments after the program name. Returns false when the usage
// text is due: no argument, a first argument that is no option, an unknown
// option, -help, an option whose value is missing, or no -p11.
bool parse_command_line(int argc, char **argv, CommandLine &out);

// Writes the usage text for `program` on `bio`.
void write_usage(BIO *bio, const char *program);

// Writes the usage text on bio_err and ends the process with status -1.
[[noreturn]] void print_usage(const char *program);

#endif
