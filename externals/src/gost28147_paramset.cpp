#include "gost28147_paramset.h"

#include "gost_objects.h"

int gost28147_paramset_nid(const char *name) { return gost_txt2nid(name); }
