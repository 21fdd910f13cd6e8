// The lookup behind the PARAMS_GOST28147 control: the OpenSSL NID of a
// GOST 28147-89 parameter set named by its short name, long name or dotted
// OID; 0 when unknown.
#ifndef GOST28147_PARAMSET_H
#define GOST28147_PARAMSET_H

int gost28147_paramset_nid(const char *name);

#endif
