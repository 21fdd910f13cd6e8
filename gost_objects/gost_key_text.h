// The text form of a GOST key's values, as key printing shows them: the
// private value ("(on the token)" when the key does not hold it) and the
// public value, eight bytes a line.
#ifndef GOST_KEY_TEXT_H
#define GOST_KEY_TEXT_H

#include <string>

#include "gost_key.h"

// "Private key: 0x.., ...\n" (sixteen bytes a line). The caller wipes it.
std::string gost_private_text(const p11_gost2012_key *key);
// "Public key: \n0x.., ...\n\n".
std::string gost_public_text(const p11_gost2012_key *key);

#endif
