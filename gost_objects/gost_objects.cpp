#include "gost_objects.h"

#include <array>
#include <cstring>

#include <openssl/evp.h>
#include <openssl/objects.h>

namespace {

struct ObjectDef {
    const char *oid;  // dotted text, or "" for an object known by name only
    const char *sn;
    const char *ln;
};

// In GostObj order.
constexpr std::array<ObjectDef, kGostObjectCount> kObjects = {{
    {"1.2.643.2.2.9", "md_gost94", "GOST R 34.11-94"},
    {"1.2.643.2.2.19", "gost2001", "GOST R 34.10-2001"},
    {"1.2.643.2.2.21", "gost89", "GOST 28147-89"},
    {"", "gost89-cnt", "gost89-cnt"},
    {"1.2.643.2.2.22", "gost-mac", "GOST 28147-89 MAC"},
    {"1.2.643.2.2.30.1", "id-GostR3411-94-CryptoProParamSet", "id-GostR3411-94-CryptoProParamSet"},
    {"1.2.643.2.2.31.0", "id-Gost28147-89-TestParamSet", "id-Gost28147-89-TestParamSet"},
    {"1.2.643.2.2.31.1", "id-Gost28147-89-CryptoPro-A-ParamSet", "id-Gost28147-89-CryptoPro-A-ParamSet"},
    {"1.2.643.2.2.31.2", "id-Gost28147-89-CryptoPro-B-ParamSet", "id-Gost28147-89-CryptoPro-B-ParamSet"},
    {"1.2.643.2.2.31.3", "id-Gost28147-89-CryptoPro-C-ParamSet", "id-Gost28147-89-CryptoPro-C-ParamSet"},
    {"1.2.643.2.2.31.4", "id-Gost28147-89-CryptoPro-D-ParamSet", "id-Gost28147-89-CryptoPro-D-ParamSet"},
    {"1.2.643.2.2.35.0", "id-GostR3410-2001-TestParamSet", "id-GostR3410-2001-TestParamSet"},
    {"1.2.643.2.2.35.1", "id-GostR3410-2001-CryptoPro-A-ParamSet", "id-GostR3410-2001-CryptoPro-A-ParamSet"},
    {"1.2.643.2.2.35.2", "id-GostR3410-2001-CryptoPro-B-ParamSet", "id-GostR3410-2001-CryptoPro-B-ParamSet"},
    {"1.2.643.2.2.35.3", "id-GostR3410-2001-CryptoPro-C-ParamSet", "id-GostR3410-2001-CryptoPro-C-ParamSet"},
    {"1.2.643.2.2.36.0", "id-GostR3410-2001-CryptoPro-XchA-ParamSet", "id-GostR3410-2001-CryptoPro-XchA-ParamSet"},
    {"1.2.643.2.2.36.1", "id-GostR3410-2001-CryptoPro-XchB-ParamSet", "id-GostR3410-2001-CryptoPro-XchB-ParamSet"},
    {"1.2.643.7.1", "tc26", "tc26"},
    {"1.2.643.7.1.1.3.2", "id-tc26-signwithdigest-gost3410-2012-256",
     "GOST R 34.11-2012-256 with GOST R 34.10-2012-256"},
    {"1.2.643.7.1.1.3.3", "id-tc26-signwithdigest-gost3410-2012-512",
     "GOST R 34.11-2012-512 with GOST R 34.10-2012-512"},
    {"1.2.643.7.1.1.1.1", "gost3410-2012-256", "GOST R 34.10-2012 256 bits"},
    {"1.2.643.7.1.1.1.2", "gost3410-2012-512", "GOST R 34.10-2012 512 bits"},
    {"1.2.643.7.1.1.6.1", "gost3410-2012DH-256", "GOST R 34.10-2012 DH 256 bits"},
    {"1.2.643.7.1.1.6.2", "gost3410-2012DH-512", "GOST R 34.10-2012 DH 512 bits"},
    {"1.2.643.7.1.1.2.2", "gost3411-2012-256", "GOST R 34.11-2012 256 bits"},
    {"1.2.643.7.1.1.4.1", "id-tc26-hmac-gost-3411-2012-256", "HMAC GOST 34.11-2012-256"},
    {"1.2.643.7.1.1.2.3", "gost3411-2012-512", "GOST R 34.11-2012 512 bits"},
    {"1.2.643.7.1.1.4.2", "id-tc26-hmac-gost-3411-2012-512", "HMAC GOST 34.11-2012-512"},
    {"1.2.643.7.1.2.1.2.0", "id-tc26-gost-3410-2012-512-paramSetTest", "id-tc26-gost-3410-2012-512-paramSetTest"},
    {"1.2.643.7.1.2.1.2.1", "id-tc26-gost-3410-2012-512-paramSetA", "id-tc26-gost-3410-2012-512-paramSetA"},
    {"1.2.643.7.1.2.1.2.2", "id-tc26-gost-3410-2012-512-paramSetB", "id-tc26-gost-3410-2012-512-paramSetB"},
    {"1.2.643.7.1.2.1.1.1", "id-tc26-gost-3410-2012-256-paramSetA", "id-tc26-gost-3410-2012-256-paramSetA"},
    {"1.2.643.7.1.2.1.2.3", "id-tc26-gost-3410-2012-512-paramSetC", "id-tc26-gost-3410-2012-512-paramSetC"},
    {"1.2.643.7.1.2.5.1.1", "id-tc26-gost-28147-param-Z", "id-tc26-gost-28147-param-Z"},
    {"1.2.643.100.1", "OGRN", "ogrn"},
    {"1.2.643.100.3", "SNILS", "snils"},
    {"1.2.643.100.5", "OGRNIP", "ogrnip"},
    {"1.2.643.3.131.1.1", "INN", "inn"},
    {"1.2.643.3.141.1.1", "RNSFSS", "rnsfss"},
    {"1.2.643.3.141.1.2", "KPFSS", "kpfss"},
    {"1.2.643.100.111", "subjectSignTool", "Subject Sign Tool"},
    {"1.2.643.100.112", "issuerSignTool", "Issuer Sign Tool"},
    {"1.2.643.100.113.1", "KC1ClassSignTool", "KC1 Class Sign Tool"},
    {"1.2.643.100.113.2", "KC2ClassSignTool", "KC2 Class Sign Tool"},
    {"1.2.643.100.113.3", "KC3ClassSignTool", "KC3 Class Sign Tool"},
    {"1.2.643.100.113.4", "KB1ClassSignTool", "KB1 Class Sign Tool"},
    {"1.2.643.100.113.5", "KB2ClassSignTool", "KB2 Class Sign Tool"},
    {"1.2.643.100.113.6", "KA1ClassSignTool", "KA1 Class Sign Tool"},
}};

const ObjectDef &def(GostObj obj) { return kObjects[static_cast<std::size_t>(obj)]; }

// OpenSSL's NID for an object's OID; the object is created when the library
// lacks it. Objects without an OID are found by their short name.
int resolve(const ObjectDef &d)
{
    if (d.oid[0] == '\0')
        return OBJ_sn2nid(d.sn);
    ASN1_OBJECT *obj = OBJ_txt2obj(d.oid, 1);
    if (obj == nullptr)
        return NID_undef;
    int nid = OBJ_obj2nid(obj);
    ASN1_OBJECT_free(obj);
    if (nid != NID_undef)
        return nid;
    // Our names go in only when OpenSSL uses neither of them for another object.
    const char *sn = OBJ_sn2nid(d.sn) == NID_undef && OBJ_ln2nid(d.sn) == NID_undef ? d.sn : nullptr;
    const char *ln = OBJ_sn2nid(d.ln) == NID_undef && OBJ_ln2nid(d.ln) == NID_undef ? d.ln : nullptr;
    return OBJ_create(d.oid, sn, ln);
}

struct Resolved {
    std::array<int, kGostObjectCount> nid{};
    bool complete = true;
    Resolved()
    {
        for (std::size_t i = 0; i < kGostObjectCount; ++i) {
            nid[i] = resolve(kObjects[i]);
            if (nid[i] == NID_undef)
                complete = false;
        }
    }
};

const Resolved &resolved()
{
    static const Resolved table;
    return table;
}

// Index of the object a NID stands for, or -1.
int index_of(int nid)
{
    if (nid == NID_undef)
        return -1;
    const auto &t = resolved().nid;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (t[i] == nid)
            return static_cast<int>(i);
    return -1;
}

bool add_aliases(int nid, int (*add_alias)(const char *, const char *))
{
    int i = index_of(nid);
    if (i < 0)
        return true;
    const char *official = OBJ_nid2sn(nid);
    const char *official_ln = OBJ_nid2ln(nid);
    if (official == nullptr)
        return false;
    bool ok = true;
    for (const char *alias : {kObjects[i].sn, kObjects[i].ln}) {
        if (std::strcmp(alias, official) == 0 || (official_ln && std::strcmp(alias, official_ln) == 0))
            continue;
        if (!add_alias(official, alias))
            ok = false;
    }
    return ok;
}

int add_digest_alias(const char *name, const char *alias) { return EVP_add_digest_alias(name, alias); }
int add_cipher_alias(const char *name, const char *alias) { return EVP_add_cipher_alias(name, alias); }

}  // namespace

bool gost_objects_init() { return resolved().complete; }

int gost_nid(GostObj obj) { return resolved().nid[static_cast<std::size_t>(obj)]; }

const char *gost_obj_sn(GostObj obj) { return def(obj).sn; }
const char *gost_obj_ln(GostObj obj) { return def(obj).ln; }
const char *gost_obj_oid(GostObj obj) { return def(obj).oid; }

int gost_txt2nid(const char *name)
{
    if (name == nullptr || name[0] == '\0')
        return NID_undef;
    const auto &t = resolved().nid;
    for (std::size_t i = 0; i < kGostObjectCount; ++i)
        if (std::strcmp(name, kObjects[i].sn) == 0 || std::strcmp(name, kObjects[i].ln) == 0)
            return t[i];
    return OBJ_txt2nid(name);
}

const char *gost_nid2sn(int nid)
{
    int i = index_of(nid);
    if (i >= 0)
        return kObjects[i].sn;
    const char *sn = OBJ_nid2sn(nid);
    return sn != nullptr ? sn : "undefined";
}

const char *gost_nid2ln(int nid)
{
    int i = index_of(nid);
    if (i >= 0)
        return kObjects[i].ln;
    const char *ln = OBJ_nid2ln(nid);
    return ln != nullptr ? ln : "undefined";
}

bool gost_add_digest_aliases(int nid) { return add_aliases(nid, add_digest_alias); }
bool gost_add_cipher_aliases(int nid) { return add_aliases(nid, add_cipher_alias); }
