// The GOST R 34.10 key algorithms as the provider offers them to each
// operation (key management, signature, key exchange, encoders, decoders):
// one entry per algorithm, under the same names everywhere.
#ifndef ZK_KEY_ALGS_H
#define ZK_KEY_ALGS_H

#include "gost_objects.h"
#include "provider.h"

// The dotted OIDs, OpenSSL's short and long names of the OIDs, and ours.
// OpenSSL looks up a certificate's key decoder by the OID's short name. The
// first name (what EVP_PKEY_get0_type_name reports) is the OID: OpenSSL 3.0
// hands the work on a key whose type name it can map to a NID to an engine
// that registered methods for that NID, and it maps no dotted text to one.
#define ZK_NAMES_GOST2001 "1.2.643.2.2.19:gost2001:GOST R 34.10-2001"
#define ZK_NAMES_GOST2012_256 \
    "1.2.643.7.1.1.1.1:gost2012_256:GOST R 34.10-2012 with 256 bit modulus:gost3410-2012-256:GOST R 34.10-2012 256 bits"
#define ZK_NAMES_GOST2012_512 \
    "1.2.643.7.1.1.1.2:gost2012_512:GOST R 34.10-2012 with 512 bit modulus:gost3410-2012-512:GOST R 34.10-2012 512 bits"

// The three entries of an operation: one dispatch table for every
// algorithm, or one per algorithm (tables[0..2] in the order above).
#define ZK_KEY_ALG_ENTRIES(props, t0, t1, t2, what)                           \
    {ZK_NAMES_GOST2001, props, t0, "GOST R 34.10-2001 " what},                \
    {ZK_NAMES_GOST2012_256, props, t1, "GOST R 34.10-2012 256 bits " what},   \
    {ZK_NAMES_GOST2012_512, props, t2, "GOST R 34.10-2012 512 bits " what}

#endif
