#include "gost_params.h"

#include <array>
#include <cctype>
#include <cstring>

#include <openssl/evp.h>
#include <openssl/objects.h>

namespace {

// The RFC 7836 twisted Edwards curves come last in each table: a GOST R
// 34.10-2001 key takes only the sets before them.
constexpr std::array<GostParamSet, 7> kParamSets256 = {{
    {GostObj::gost2001_test_paramset, "1.2.643.2.2.35.0",
     {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x00}, 9, "0"},
    {GostObj::gost2001_cryptopro_a_paramset, "1.2.643.2.2.35.1",
     {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01}, 9, "A"},
    {GostObj::gost2001_cryptopro_b_paramset, "1.2.643.2.2.35.2",
     {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x02}, 9, "B"},
    {GostObj::gost2001_cryptopro_c_paramset, "1.2.643.2.2.35.3",
     {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x03}, 9, "C"},
    {GostObj::gost2001_cryptopro_xcha_paramset, "1.2.643.2.2.36.0",
     {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x00}, 9, "XA"},
    {GostObj::gost2001_cryptopro_xchb_paramset, "1.2.643.2.2.36.1",
     {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x01}, 9, "XB"},
    {GostObj::gost3410_2012_256_paramset_a, "1.2.643.7.1.2.1.1.1",
     {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x01, 0x01}, 11, "TCA"},
}};
constexpr std::size_t kParamSets2001 = 6;

constexpr std::array<GostParamSet, 4> kParamSets512 = {{
    {GostObj::gost3410_2012_512_paramset_test, "1.2.643.7.1.2.1.2.0",
     {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x00}, 11, nullptr},
    {GostObj::gost3410_2012_512_paramset_a, "1.2.643.7.1.2.1.2.1",
     {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x01}, 11, "A"},
    {GostObj::gost3410_2012_512_paramset_b, "1.2.643.7.1.2.1.2.2",
     {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x02}, 11, "B"},
    {GostObj::gost3410_2012_512_paramset_c, "1.2.643.7.1.2.1.2.3",
     {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x03}, 11, "C"},
}};

constexpr GostParamTable kTable256{kParamSets256.data(), kParamSets256.size()};
constexpr GostParamTable kTable512{kParamSets512.data(), kParamSets512.size()};
constexpr GostParamTable kTable2001{kParamSets256.data(), kParamSets2001};

constexpr std::array<GostKeyAlg, 3> kKeyAlgs = {{
    {GostObj::gost2001, GostKeySize::bits256, &kTable2001, 64, 32, GostObj::gost94_cryptopro_paramset,
     GostObj::md_gost94, 64, CKK_GOSTR3410, CKM_GOSTR3410_KEY_PAIR_GEN, CKM_GOSTR3410},
    {GostObj::gost3410_2012_256, GostKeySize::bits256, &kTable256, 64, 32, GostObj::gost3411_2012_256,
     GostObj::gost3411_2012_256, 64, CKK_GOSTR3410, CKM_GOSTR3410_KEY_PAIR_GEN, CKM_GOSTR3410},
    {GostObj::gost3410_2012_512, GostKeySize::bits512, &kTable512, 128, 64, GostObj::gost3411_2012_512,
     GostObj::gost3411_2012_512, 128, CKK_GOSTR3410_512, CKM_GOSTR3410_512_KEY_PAIR_GEN, CKM_GOSTR3410_512},
}};

bool letters_equal(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

const GostParamSet *find_in(const GostParamTable &table, int nid)
{
    if (nid == NID_undef)
        return nullptr;
    for (const GostParamSet &p : table)
        if (p.nid() == nid)
            return &p;
    return nullptr;
}

int letter_in(const GostParamTable &table, const char *letter)
{
    if (letter == nullptr)
        return NID_undef;
    for (const GostParamSet &p : table)
        if (p.letter != nullptr && letters_equal(p.letter, letter))
            return p.nid();
    return NID_undef;
}

}  // namespace

const GostParamTable &gost_paramsets(GostKeySize size)
{
    return size == GostKeySize::bits512 ? kTable512 : kTable256;
}

const GostParamSet *gost_paramset_find(GostKeySize size, int nid) { return find_in(gost_paramsets(size), nid); }

const GostParamSet *gost_key_paramset(const GostKeyAlg &alg, int nid) { return find_in(*alg.paramsets, nid); }

int gost_paramset_by_letter(GostKeySize size, const char *letter) { return letter_in(gost_paramsets(size), letter); }

const GostKeyAlg *gost_key_alg(int alg_nid)
{
    if (alg_nid == NID_undef)
        return nullptr;
    for (const GostKeyAlg &a : kKeyAlgs)
        if (gost_nid(a.alg) == alg_nid)
            return &a;
    return nullptr;
}

const GostKeyAlg *gost_key_alg_of(const EVP_PKEY *key)
{
    for (const GostKeyAlg &a : kKeyAlgs) {
        const char *name = OBJ_nid2sn(gost_nid(a.alg));
        if (name != nullptr && EVP_PKEY_is_a(key, name))
            return &a;
    }
    return nullptr;
}

int gost_paramset_from_text(const GostKeyAlg &alg, const char *value, bool *other_table)
{
    if (other_table != nullptr)
        *other_table = false;
    if (value == nullptr)
        return NID_undef;
    std::size_t len = std::strlen(value);
    bool exchange_letters = alg.size == GostKeySize::bits256 && len == 2 && (value[0] == 'X' || value[0] == 'x');
    int by_letter = letter_in(*alg.paramsets, value);
    if (by_letter != NID_undef || len == 1 || exchange_letters)
        return by_letter;
    int nid = gost_txt2nid(value);
    if (nid == NID_undef)
        return NID_undef;
    if (gost_key_paramset(alg, nid) == nullptr) {
        if (other_table != nullptr)
            *other_table = true;
        return NID_undef;
    }
    return nid;
}
