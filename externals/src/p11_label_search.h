// Searching by label. We store a label with its terminating zero byte, and
// search for it so; many other PKCS#11 tools store it without. A search by
// label therefore runs with the zero byte first and, when that finds
// nothing, once more without it. Header only: the tool and the engine both
// use it.
#ifndef P11_LABEL_SEARCH_H
#define P11_LABEL_SEARCH_H

#include <cstring>

#include <p11-kit/pkcs11.h>

// Calls search(label, length) with length = strlen(label) + 1; when it
// returns false (nothing matched, no failure), calls it again with
// length = strlen(label). An empty label is searched once. Returns the result
// of the last call.
template <typename Search>
bool search_label_both_ways(const char *label, Search search)
{
    CK_ULONG len = static_cast<CK_ULONG>(std::strlen(label));
    if (search(label, len + 1))
        return true;
    return len > 0 ? search(label, len) : false;
}

#endif
