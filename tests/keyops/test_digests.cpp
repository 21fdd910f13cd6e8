#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_MD_meth_*, SHA256_*
#include "test_digests.h"

#include <cstring>
#include <memory>
#include <vector>

#include <openssl/sha.h>

#include "gost_r3411_94.h"
#include "hash_low/gost_r3411_2012.h"

namespace {

template <typename T>
T *data_of(EVP_MD_CTX *ctx)
{
    return static_cast<T *>(EVP_MD_CTX_md_data(ctx));
}

int h94_init(EVP_MD_CTX *ctx)
{
    return GOSTR3411_94_Init_ex(data_of<GOSTR3411_94_CTX>(ctx), GOSTR3411_94_DefaultParam()->table) == 0;
}
int h94_update(EVP_MD_CTX *ctx, const void *p, size_t n)
{
    return GOSTR3411_94_Update(data_of<GOSTR3411_94_CTX>(ctx), static_cast<const uint8_t *>(p), n) == 0;
}
int h94_final(EVP_MD_CTX *ctx, unsigned char *md) { return GOSTR3411_94_Final(data_of<GOSTR3411_94_CTX>(ctx), md) == 0; }

int h256_init(EVP_MD_CTX *ctx) { return GOSTR3411_2012_256_Init(data_of<GOSTR3411_2012_CTX>(ctx)) == 0; }
int h512_init(EVP_MD_CTX *ctx) { return GOSTR3411_2012_512_Init(data_of<GOSTR3411_2012_CTX>(ctx)) == 0; }
int h2012_update(EVP_MD_CTX *ctx, const void *p, size_t n)
{
    return GOSTR3411_2012_Update(data_of<GOSTR3411_2012_CTX>(ctx), static_cast<const uint8_t *>(p), n) == 0;
}
int h2012_final(EVP_MD_CTX *ctx, unsigned char *md)
{
    return GOSTR3411_2012_Final(data_of<GOSTR3411_2012_CTX>(ctx), md) == 0;
}

// The MAC stand-in: SHA-256 of the key and of SHA-256 of the data, cut to
// 4 bytes; the key comes through control 0x1004 (32 bytes).
struct MacData {
    unsigned char key[32];
    int key_set;
    SHA256_CTX data;
};
int mac_init(EVP_MD_CTX *ctx) { return SHA256_Init(&data_of<MacData>(ctx)->data); }
int mac_update(EVP_MD_CTX *ctx, const void *p, size_t n) { return SHA256_Update(&data_of<MacData>(ctx)->data, p, n); }
int mac_final(EVP_MD_CTX *ctx, unsigned char *md)
{
    MacData *d = data_of<MacData>(ctx);
    unsigned char inner[32], outer[32];
    if (!d->key_set || !SHA256_Final(inner, &d->data))
        return 0;
    SHA256_CTX c;
    SHA256_Init(&c);
    SHA256_Update(&c, d->key, sizeof d->key);
    SHA256_Update(&c, inner, sizeof inner);
    SHA256_Final(outer, &c);
    std::memcpy(md, outer, 4);
    return 1;
}
int mac_ctrl(EVP_MD_CTX *ctx, int cmd, int p1, void *p2)
{
    if (cmd != EVP_MD_CTRL_ALG_CTRL + 4 || p1 != 32)
        return 0;
    MacData *d = data_of<MacData>(ctx);
    std::memcpy(d->key, p2, 32);
    d->key_set = 1;
    return 1;
}

struct MdFree {
    void operator()(EVP_MD *md) const { EVP_MD_meth_free(md); }
};

// The stand-ins, released at exit before OpenSSL's own clean-up (which only
// forgets the names).
std::vector<std::unique_ptr<EVP_MD, MdFree>> &stand_ins()
{
    static std::vector<std::unique_ptr<EVP_MD, MdFree>> kept;
    return kept;
}

EVP_MD *stand_in(GostObj which)
{
    EVP_MD *md = EVP_MD_meth_new(gost_nid(which), NID_undef);
    switch (which) {
    case GostObj::md_gost94:
        EVP_MD_meth_set_result_size(md, 32);
        EVP_MD_meth_set_input_blocksize(md, 32);
        EVP_MD_meth_set_app_datasize(md, sizeof(GOSTR3411_94_CTX));
        EVP_MD_meth_set_init(md, h94_init);
        EVP_MD_meth_set_update(md, h94_update);
        EVP_MD_meth_set_final(md, h94_final);
        break;
    case GostObj::gost3411_2012_256:
    case GostObj::gost3411_2012_512: {
        bool big = which == GostObj::gost3411_2012_512;
        EVP_MD_meth_set_result_size(md, big ? 64 : 32);
        EVP_MD_meth_set_input_blocksize(md, 64);
        EVP_MD_meth_set_app_datasize(md, sizeof(GOSTR3411_2012_CTX));
        EVP_MD_meth_set_init(md, big ? h512_init : h256_init);
        EVP_MD_meth_set_update(md, h2012_update);
        EVP_MD_meth_set_final(md, h2012_final);
        break;
    }
    default:
        EVP_MD_meth_set_result_size(md, 4);
        EVP_MD_meth_set_input_blocksize(md, 8);
        EVP_MD_meth_set_app_datasize(md, sizeof(MacData));
        EVP_MD_meth_set_init(md, mac_init);
        EVP_MD_meth_set_update(md, mac_update);
        EVP_MD_meth_set_final(md, mac_final);
        EVP_MD_meth_set_ctrl(md, mac_ctrl);
        break;
    }
    EVP_add_digest(md);
    stand_ins().emplace_back(md);
    return md;
}

}  // namespace

const EVP_MD *gost_digest(GostObj which)
{
    if (const EVP_MD *md = EVP_get_digestbynid(gost_nid(which)))
        return md;
    return stand_in(which);
}

bool engine_offers_mac_digest()
{
    static const bool offered = EVP_get_digestbynid(gost_nid(GostObj::gost_mac)) != nullptr;
    return offered;
}
