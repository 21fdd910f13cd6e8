// The engine's GOST R 34.11-94 and GOST R 34.11-2012 digests: thin EVP shells
// over the crypto core's hash contexts. One template serves the three
// digests; each digest's core calls (gost_digest_core.h) and lines are its
// traits below.
#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_MD_meth_*
#include "zkc_gost3411_2012.h"

#include "gost_digest_core.h"
#include "gost_objects.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct Digest94 : GostDigestCore94 {
    static constexpr GostObj obj = GostObj::md_gost94;
    static constexpr const char *init_line = "GOSTR3411_94_Init failed, rc = 0x%x\n";
    static constexpr const char *update_line = "GOSTR3411_94_Update failed, rc = 0x%x\n";
    static constexpr const char *final_line = "GOSTR3411_94_Final failed, rc = 0x%x\n";
    static constexpr const char *copy_line = "zkc_digest_94_copy: zkc_digest_94_init failed, rc = 0x%x\n";
    static constexpr const char *cleanup_line = "zkc_digest_94_cleanup: zkc_digest_94_init failed, rc = 0x%x\n";
};

struct Digest256 : GostDigestCore256 {
    static constexpr GostObj obj = GostObj::gost3411_2012_256;
    static constexpr const char *init_line = "GOSTR3411_2012_256_Init failed, rc = 0x%x\n";
    static constexpr const char *update_line = "GOSTR3411_256_Update failed, rc = 0x%x\n";
    static constexpr const char *final_line = "GOSTR3411_2012_256_Final failed, rc = 0x%x\n";
    static constexpr const char *copy_line = "zkc_digest_256_copy: zkc_digest_256_init failed, rc = 0x%x\n";
    static constexpr const char *cleanup_line = "zkc_digest_256_cleanup: zkc_digest_256_init failed, rc = 0x%x\n";
};

struct Digest512 : GostDigestCore512 {
    static constexpr GostObj obj = GostObj::gost3411_2012_512;
    static constexpr const char *init_line = "GOSTR3411_2012_512_Init failed, rc = 0x%x\n";
    static constexpr const char *update_line = "GOSTR3411_2012_512_Update failed, rc = 0x%x\n";
    static constexpr const char *final_line = "GOSTR3411_2012_512_Final failed, rc = 0x%x\n";
    static constexpr const char *copy_line = "zkc_digest_512_copy: zkc_digest_512_init failed, rc = 0x%x\n";
    static constexpr const char *cleanup_line = "zkc_digest_512_cleanup: zkc_digest_512_init failed, rc = 0x%x\n";
};

int report(const char *format, int rc) {
    fprintf(stderr, format, static_cast<unsigned>(rc));
    return 0;
}

template <typename D>
typename D::Ctx *data_of(const EVP_MD_CTX *ctx) {
    return static_cast<typename D::Ctx *>(EVP_MD_CTX_get0_md_data(ctx));
}

// A wiped, freshly initialised core context; the core's code (OpenSSL gives
// every context of these records its data area).
template <typename D>
int core_init(typename D::Ctx *c) {
    if (!c)
        return -2;
    OPENSSL_cleanse(c, sizeof *c);
    return D::init(c);
}

template <typename D>
int digest_init(EVP_MD_CTX *ctx) {
    int rc = core_init<D>(data_of<D>(ctx));
    return rc == 0 ? 1 : report(D::init_line, rc);
}

template <typename D>
int digest_update(EVP_MD_CTX *ctx, const void *data, size_t count) {
    if (count == 0)
        return 1;
    int rc = D::update(data_of<D>(ctx), static_cast<const uint8_t *>(data), count);
    return rc == 0 ? 1 : report(D::update_line, rc);
}

template <typename D>
int digest_final(EVP_MD_CTX *ctx, unsigned char *md) {
    if (!md)
        return 1;
    int rc = D::final(data_of<D>(ctx), md);
    return rc == 0 ? 1 : report(D::final_line, rc);
}

template <typename D>
int digest_copy(EVP_MD_CTX *to, const EVP_MD_CTX *from) {
    typename D::Ctx *dst = data_of<D>(to);
    const typename D::Ctx *src = data_of<D>(from);
    if (dst == src)
        return 1;
    if (!src)
        return 0;
    int rc = core_init<D>(dst);
    if (rc != 0)
        return report(D::copy_line, rc);
    memcpy(dst, src, sizeof *dst);
    return 1;
}

// Leaves a wiped, freshly initialised context (OpenSSL frees the area).
template <typename D>
int digest_cleanup(EVP_MD_CTX *ctx) {
    typename D::Ctx *c = data_of<D>(ctx);
    if (!c)
        return 1;
    int rc = core_init<D>(c);
    return rc == 0 ? 1 : report(D::cleanup_line, rc);
}

template <typename D>
EVP_MD *make_digest() {
    int nid = gost_nid(D::obj);
    if (nid == NID_undef)
        return nullptr;
    EVP_MD *md = EVP_MD_meth_new(nid, NID_undef);
    if (!md)
        return nullptr;
    if (!EVP_MD_meth_set_result_size(md, D::size) || !EVP_MD_meth_set_input_blocksize(md, D::block) ||
        !EVP_MD_meth_set_app_datasize(md, sizeof(typename D::Ctx)) || !EVP_MD_meth_set_flags(md, 0) ||
        !EVP_MD_meth_set_init(md, digest_init<D>) || !EVP_MD_meth_set_update(md, digest_update<D>) ||
        !EVP_MD_meth_set_final(md, digest_final<D>) || !EVP_MD_meth_set_copy(md, digest_copy<D>) ||
        !EVP_MD_meth_set_cleanup(md, digest_cleanup<D>)) {
        EVP_MD_meth_free(md);
        return nullptr;
    }
    return md;
}

}  // namespace

// The records are made once and never freed: OpenSSL's name tables and
// contexts may refer to them until the process ends.
const EVP_MD *zkc_gost94_digest(void) {
    static const EVP_MD *md = make_digest<Digest94>();
    return md;
}

const EVP_MD *zkc_gost2012_256_digest(void) {
    static const EVP_MD *md = make_digest<Digest256>();
    return md;
}

const EVP_MD *zkc_gost2012_512_digest(void) {
    static const EVP_MD *md = make_digest<Digest512>();
    return md;
}
