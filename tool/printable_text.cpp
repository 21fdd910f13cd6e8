#include "printable_text.h"

#include <cstring>

namespace {

void append_escaped(std::string &out, unsigned char byte)
{
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

}  // namespace

std::string printable(const char *text, size_t length)
{
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = byte == 0xc2 && i + 1 < length && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80;
        if (c1) {
            append_escaped(out, byte);
            append_escaped(out, static_cast<unsigned char>(text[++i]));
        } else if (byte < 0x20 || byte == 0x7f) {
            append_escaped(out, byte);
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::string printable(const std::string &text) { return printable(text.data(), text.size()); }
