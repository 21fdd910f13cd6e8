// An OID in the form PKCS#11 attributes carry it (CKA_GOSTR3410_PARAMS,
// CKA_GOSTR3411_PARAMS, CKA_GOST28147_PARAMS): tag 06, the content length as
// one byte, the content.
#ifndef OID_DER_H
#define OID_DER_H

#include <cstddef>
#include <vector>

// Writes the DER of the object a NID stands for into out (at most cap bytes)
// and returns its length; 0 when the NID has no OID, the content does not fit
// one length byte (over 127 bytes) or out is too small.
std::size_t oid_der_from_nid(int nid, unsigned char *out, std::size_t cap);
// The same as a vector; empty on failure.
std::vector<unsigned char> oid_der(int nid);

// Reads exactly one DER OID filling all len bytes. Returns false if the bytes
// are not one OID; otherwise true with *nid set to the object's NID
// (NID_undef for an OID OpenSSL does not know).
bool oid_der_to_nid(const unsigned char *der, std::size_t len, int *nid);

#endif
