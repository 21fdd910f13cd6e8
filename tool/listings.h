// The module listings: library information, slots, token information.
#ifndef TOKENCERT_LISTINGS_H
#define TOKENCERT_LISTINGS_H

#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

CK_RV show_library_info();
CK_RV show_slot_list();
CK_RV show_token_info(CK_SLOT_ID slot);

// The names of the flags set in a slot's or a token's flags word, in table
// order, without the separator the text listing puts after each.
std::vector<std::string> slot_flag_names(CK_FLAGS flags);
std::vector<std::string> token_flag_names(CK_FLAGS flags);

#endif
