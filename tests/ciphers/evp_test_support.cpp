#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "evp_test_support.h"

#include <openssl/engine.h>
#include <openssl/objects.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "pkcs11_core_eng.h"

ENGINE *token_engine() {
    static ENGINE *e = [] {
        ENGINE_load_zk_p11_core();
        return ENGINE_by_id(ZK_P11_ENGINE_ID);
    }();
    return e;
}

namespace {

int nid_of_set(const GOST28147_89_PARAM *p) {
    const unsigned char *der = p->der;
    ASN1_OBJECT *obj = d2i_ASN1_OBJECT(nullptr, &der, p->der_len);
    int nid = OBJ_obj2nid(obj);
    ASN1_OBJECT_free(obj);
    if (nid != NID_undef)
        return nid;
    return OBJ_create(p->oid, OBJ_sn2nid(p->name) == NID_undef ? p->name : nullptr, nullptr);
}

std::vector<ParamSet> collect() {
    token_engine();
    const unsigned char first[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x00};
    const GOST28147_89_PARAM *p = nullptr;
    if (GOST28147_89_FindParByDerOid(first, sizeof first, &p) != 0)
        throw std::runtime_error("no test parameter set");
    std::vector<ParamSet> sets;
    for (; p; p = p->next)
        sets.push_back({p, nid_of_set(p)});
    return sets;
}

}  // namespace

const std::vector<ParamSet> &registered_sets() {
    static const std::vector<ParamSet> sets = collect();
    return sets;
}

const ParamSet &set_by_oid(const char *oid) {
    for (const ParamSet &s : registered_sets())
        if (strcmp(s.param->oid, oid) == 0)
            return s;
    throw std::runtime_error(oid);
}

const ParamSet &set_z() { return set_by_oid("1.2.643.7.1.2.5.1.1"); }

Bytes core_cipher(const GOST28147_89_PARAM *set, int mode, bool encrypt, const Bytes &key, const Bytes &iv,
                  const Bytes &data) {
    GOST28147_89_CTX ctx;
    if (GOST28147_89_Init(&ctx, encrypt, set->table, mode, 0, set->key_meshing, 0, iv.data(), key.data()) != 0)
        return {};
    Bytes in = data, out(data.size() + 8);
    GOST_DATA_BLOB bin = {uint32_t(in.size()), in.data()};
    GOST_DATA_BLOB bout = {uint32_t(out.size()), out.data()};
    if (!data.empty() && GOST28147_89_Update(&ctx, &bin, &bout) != 0)
        return {};
    out.resize(data.empty() ? 0 : bout.cbData);
    return out;
}

Bytes core_mac(const GOST28147_89_PARAM *set, const Bytes &key, const unsigned char *iv, const Bytes &data) {
    GOST28147_89_CTX ctx;
    if (GOST28147_89_Init(&ctx, 1, set->table, GOST28147_89_MODE_MAC, 0, set->key_meshing, 0, iv, key.data()) != 0)
        return {};
    Bytes in = data;
    GOST_DATA_BLOB bin = {uint32_t(in.size()), in.data()};
    if (!data.empty() && GOST28147_89_Update(&ctx, &bin, nullptr) != 0)
        return {};
    if (GOST28147_89_Final(&ctx) != 0)
        return {};
    return Bytes(ctx.mac, ctx.mac + 4);
}

std::vector<size_t> random_cuts(size_t length, std::mt19937 &gen) {
    std::vector<size_t> cuts;
    size_t left = length;
    while (left != 0) {
        // Mostly short pieces, some empty, now and then a long one.
        std::uniform_int_distribution<size_t> pick(0, gen() % 4 == 0 ? left : std::min<size_t>(left, 19));
        size_t n = pick(gen);
        cuts.push_back(n);
        left -= n;
    }
    return cuts;
}

Bytes test_bytes(size_t length, uint32_t seed) {
    Bytes b(length);
    uint32_t s = seed * 2654435761u + 1;
    for (auto &x : b) {
        s = s * 1103515245u + 12345u;
        x = static_cast<unsigned char>(s >> 23);
    }
    return b;
}

std::string hex_of(const Bytes &b) {
    std::string out;
    char buf[3];
    for (unsigned char c : b) {
        snprintf(buf, sizeof buf, "%02x", c);
        out += buf;
    }
    return out;
}

const size_t kLengths[] = {0, 1, 7, 8, 9, 31, 32, 33, 63, 64, 65, 1023, 1024, 1025, 2100};
const size_t kLengthCount = sizeof kLengths / sizeof kLengths[0];
