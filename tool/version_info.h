// What -version shows: this tool's version, OpenSSL's, and where the GOST
// algorithms come from in this build.
#ifndef TOKENCERT_VERSION_INFO_H
#define TOKENCERT_VERSION_INFO_H

#include <openssl/bio.h>

// Writes, one item per line:
//   tokencert <version>
//   <OpenSSL's version text at run time>[ (built with <the one compiled against>)]
//   GOST algorithms: <engine or provider and its name>
void write_version(BIO *out);

#endif
