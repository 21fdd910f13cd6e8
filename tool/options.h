// The command line: option table, parsing and the usage text.
#ifndef TOKENCERT_OPTIONS_H
#define TOKENCERT_OPTIONS_H

#include <cstdint>
#include <memory>
#include <string>

#include <openssl/bio.h>

#include "token_uri.h"

// What the parser kept; texts point into argv and are null until given
// (the label may instead point into `uri`).
struct CommandLine {
    uint32_t flags = 0;
    const char *module_path = nullptr;
    const char *slot = nullptr;
    const char *label = nullptr;
    const char *outfile = nullptr;
    const char *outform = nullptr;
    const char *infile = nullptr;
    const char *inform = nullptr;
    const char *pin = nullptr;     // the user PIN's source (-pin)
    const char *passin = nullptr;  // the container password's source (-passin)
    const char *uri_text = nullptr;
    std::shared_ptr<TokenUri> uri;  // parsed -uri
    // Why the usage text is due, naming the argument at fault ("" when
    // nothing was wrong with one: no argument, -help).
    std::string complaint;
};

// Parses the arguments after the program name. Returns false when the usage
// text is due: no argument, -help, or a mistake (then `complaint` names it):
// an unknown option, a stray word, an option whose value is missing or not
// of its kind, an action without the label it needs, options that exclude
// each other, or no -p11.
bool parse_command_line(int argc, char **argv, CommandLine &out);

// Writes the usage text for `program` on `bio`.
void write_usage(BIO *bio, const char *program);

// Writes `complaint` (when there is one) and the usage text on bio_err and
// ends the process with status -1.
[[noreturn]] void print_usage(const char *program, const std::string &complaint = std::string());

#endif
