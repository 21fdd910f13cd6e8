#include "gost28147_paramset.h"

#include <openssl/objects.h>

int gost28147_paramset_nid(const char *name) { return name ? OBJ_txt2nid(name) : 0; }
