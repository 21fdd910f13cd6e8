// Texts that come from a token or the command line, made safe to print on a
// terminal: control bytes are shown as \xNN escapes, never written raw.
#ifndef TOKENCERT_PRINTABLE_TEXT_H
#define TOKENCERT_PRINTABLE_TEXT_H

#include <cstddef>
#include <string>

// `text` (its first `length` bytes) with every C0 control byte, DEL and every
// UTF-8 encoded C1 control (U+0080 to U+009F) escaped as \xNN per byte.
std::string printable(const char *text, size_t length);
std::string printable(const std::string &text);

#endif
