// Bytes from hexadecimal text; blanks between the digit pairs are skipped.
#ifndef TOKENCERT_TEST_HEX_BYTES_H
#define TOKENCERT_TEST_HEX_BYTES_H

#include <cstddef>
#include <string>
#include <vector>

inline std::vector<unsigned char> hex_bytes(const std::string &s)
{
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < s.size();) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

#endif
