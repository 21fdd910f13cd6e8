#include "oid_der.h"

#include <cstring>

#include <openssl/asn1.h>
#include <openssl/objects.h>

std::size_t oid_der_from_nid(int nid, unsigned char *out, std::size_t cap)
{
    ASN1_OBJECT *obj = OBJ_nid2obj(nid);
    if (obj == nullptr)
        return 0;
    std::size_t written = 0;
    std::size_t len = OBJ_length(obj);
    const unsigned char *content = OBJ_get0_data(obj);
    if (len > 0 && len <= 127 && content != nullptr && out != nullptr && len + 2 <= cap) {
        out[0] = V_ASN1_OBJECT;
        out[1] = static_cast<unsigned char>(len);
        std::memcpy(out + 2, content, len);
        written = len + 2;
    }
    ASN1_OBJECT_free(obj);
    return written;
}

std::vector<unsigned char> oid_der(int nid)
{
    std::vector<unsigned char> der(2 + 127);
    der.resize(oid_der_from_nid(nid, der.data(), der.size()));
    return der;
}

bool oid_der_to_nid(const unsigned char *der, std::size_t len, int *nid)
{
    // Short-form length only: the content length is the second byte.
    if (der == nullptr || len < 3 || len > 2 + 127 || der[0] != V_ASN1_OBJECT || der[1] != len - 2)
        return false;
    const unsigned char *p = der;
    ASN1_OBJECT *obj = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(len));
    if (obj == nullptr)
        return false;
    bool whole = p == der + len;
    if (whole && nid != nullptr)
        *nid = OBJ_obj2nid(obj);
    ASN1_OBJECT_free(obj);
    return whole;
}
