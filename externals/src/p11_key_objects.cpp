#include "p11_key_objects.h"

#include <cstdio>
#include <vector>

P11FindResult p11_find_key_objects(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls,
                                   const p11_gost2012_key &key, CK_ULONG max_objects)
{
    CK_ATTRIBUTE templ[] = {
        {CKA_CLASS, &cls, sizeof cls},
        {CKA_ID, const_cast<unsigned char *>(key.key_id), gost_key_id_len(key)},
    };
    return p11_find_objects(f, session, templ, 2, max_objects);
}

