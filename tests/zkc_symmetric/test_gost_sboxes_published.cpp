// The S-boxes typed into the core, read back against the published tables:
// the parameter-set OCTET STRINGs of RFC 4357 (section 11) and the set Z
// table of RFC 7836 (appendix C), parsed from the vector files.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gost28147_89.h"
#include "gost_r3411_94.h"
#include "symmetric_test_util.h"

namespace {

std::vector<std::string> lines_of(const std::string &file)
{
    std::ifstream in(std::string(TOKENCERT_VECTORS_DIR) + "/" + file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool is_hex_pair(const std::string &w)
{
    return w.size() == 2 && std::isxdigit(static_cast<unsigned char>(w[0])) &&
           std::isxdigit(static_cast<unsigned char>(w[1]));
}

// The 64 bytes of the first "OCTET STRING" dump after the line that names
// the set in the ASN.1 listing of RFC 4357 section 11 (rows ": 4C DE ...").
Bytes rfc4357_octets(const std::vector<std::string> &lines, const std::string &name)
{
    // The listing of section 11 names the set on a line of its own, ":    id-...".
    const std::string tag = ":" + std::string(4, ' ') + name;
    size_t i = 0;
    for (; i < lines.size(); ++i) {
        const std::string &l = lines[i];
        const size_t start = l.find_first_not_of(' ');
        if (start != std::string::npos && l.compare(start, std::string::npos, tag) == 0)
            break;
    }
    for (; i < lines.size() && lines[i].find("OCTET STRING") == std::string::npos; ++i) {
    }
    Bytes out;
    for (++i; i < lines.size() && out.size() < 64; ++i) {
        const std::string &l = lines[i];
        const size_t colon = l.find(':');
        if (colon == std::string::npos)
            continue;  // blank lines and the "--" table comments
        std::istringstream words(l.substr(colon + 1));
        std::vector<std::string> row;
        for (std::string w; words >> w;)
            row.push_back(w);
        if (row.size() != 16)
            continue;
        for (const std::string &w : row) {
            if (!is_hex_pair(w))
                return {};
            out.push_back(uint8_t(std::stoul(w, nullptr, 16)));
        }
    }
    return out;
}

// Set Z from the table "x | K1(x) .. K8(x)" of RFC 7836 appendix C, packed as
// the core packs it: byte 4x + j = K(2j+1)(x) << 4 | K(2j+2)(x).
Bytes rfc7836_set_z(const std::vector<std::string> &lines)
{
    size_t i = 0;
    while (i < lines.size() && lines[i].find("K1(x)") == std::string::npos)
        ++i;
    Bytes out(64, 0);
    int rows = 0;
    // The 16 rows under the header, "r  |  K1(r) ... K8(r)" (the dashed rule is skipped).
    for (++i; i < lines.size() && rows < 16; ++i) {
        const size_t bar = lines[i].find('|');
        if (bar == std::string::npos)
            continue;
        std::istringstream words(lines[i].substr(0, bar) + " " + lines[i].substr(bar + 1));
        std::vector<int> v;
        for (std::string w; words >> w;) {
            if (w.size() != 1 || !std::isxdigit(static_cast<unsigned char>(w[0])))
                return {};
            v.push_back(int(std::stoul(w, nullptr, 16)));
        }
        if (v.size() != 9 || v[0] != rows)
            return {};
        for (int j = 0; j < 4; ++j)
            out[size_t(4 * rows + j)] = uint8_t(v[size_t(2 * j + 1)] << 4 | v[size_t(2 * j + 2)]);
        ++rows;
    }
    return rows == 16 ? out : Bytes();
}

}  // namespace

TEST(GostSboxesPublished, Rfc4357ParameterSetsByteForByte)
{
    const auto lines = lines_of("rfc4357_params.txt");
    ASSERT_FALSE(lines.empty()) << "vector file not found under " << TOKENCERT_VECTORS_DIR;
    const struct {
        const char *name;
        const uint8_t *sbox;
    } sets[] = {
        {"id-Gost28147-89-TestParamSet", GOST28147_89_SBOX_TEST},
        {"id-Gost28147-89-CryptoPro-A-ParamSet", GOST28147_89_SBOX_CRYPTOPRO_A},
        {"id-Gost28147-89-CryptoPro-B-ParamSet", GOST28147_89_SBOX_CRYPTOPRO_B},
        {"id-Gost28147-89-CryptoPro-C-ParamSet", GOST28147_89_SBOX_CRYPTOPRO_C},
        {"id-Gost28147-89-CryptoPro-D-ParamSet", GOST28147_89_SBOX_CRYPTOPRO_D},
        {"id-GostR3411-94-TestParamSet", GOSTR3411_94_SBOX_TEST},
        {"id-GostR3411-94-CryptoProParamSet", GOSTR3411_94_SBOX_CRYPTOPRO},
    };
    for (const auto &s : sets) {
        const Bytes published = rfc4357_octets(lines, s.name);
        ASSERT_EQ(published.size(), 64u) << s.name;
        EXPECT_EQ(to_hex(s.sbox, 64), to_hex(published)) << s.name;
    }
}

TEST(GostSboxesPublished, SetZIsTheRfc7836Table)
{
    const Bytes published = rfc7836_set_z(lines_of("rfc7836.txt"));
    ASSERT_EQ(published.size(), 64u);
    EXPECT_EQ(to_hex(GOST28147_89_SBOX_Z, 64), to_hex(published));
}
