// The module listings: library information, slots, token information.
#ifndef TOKENCERT_LISTINGS_H
#define TOKENCERT_LISTINGS_H

#include <p11-kit/pkcs11.h>

CK_RV show_library_info();
CK_RV show_slot_list();
CK_RV show_token_info(CK_SLOT_ID slot);

#endif
