#include "gost_key_text.h"

#include <cstdio>

#include <openssl/crypto.h>

std::string gost_private_text(const p11_gost2012_key *key)
{
    std::string text = "Private key: ";
    if (key == nullptr)
        return text + "<undefined)\n";
    if (!key->priv_key_loaded)
        return text + "(on the token)\n";
    unsigned int n = key->priv_key_len <= kGostPrivKeyMax ? key->priv_key_len : kGostPrivKeyMax;
    char item[8];
    for (unsigned int i = 0; i < n; ++i) {
        std::snprintf(item, sizeof item, "0x%02X,", key->priv_key[i]);
        text += item;
        text += ((i + 1) % 16 == 0 || i + 1 == n) ? '\n' : ' ';
    }
    if (n == 0)
        text += '\n';
    OPENSSL_cleanse(item, sizeof item);
    return text;
}

std::string gost_public_text(const p11_gost2012_key *key)
{
    std::string text = "Public key: ";
    if (key == nullptr)
        return text + "<undefined)\n";
    unsigned int n = key->pub_key_len <= kGostPubKeyMax ? key->pub_key_len : kGostPubKeyMax;
    std::string bytes;
    char item[8];
    for (unsigned int i = 0; i < n; ++i) {
        if (i > 0 && i % 8 == 0)
            bytes += '\n';
        std::snprintf(item, sizeof item, "0x%.2x, ", key->pub_key[i]);
        bytes += item;
    }
    bytes += '\n';
    return text + "\n" + bytes + "\n";
}
