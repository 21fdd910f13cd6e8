// The private value of a GOST key inside PKCS#8, in the two forms key
// files carry it.
#ifndef GOST_PRIVATE_VALUE_H
#define GOST_PRIVATE_VALUE_H

#include <string>

// The n-byte little-endian private value of one DER element: an INTEGER
// (big-endian; one leading zero byte beyond n allowed, as DER writes values
// with the top bit set) or an OCTET STRING (little-endian, at most n bytes).
// A shorter value is zero-extended at its most significant end. The element
// must fill all len bytes with a one-byte length. Nothing is read past len.
// false with the reason as one line in *why (out then unspecified).
bool gost_private_value_from_der(const unsigned char *p, int len, unsigned int n, unsigned char *out,
                                 std::string *why);

#endif
