// GOST algorithms, parameter sets and Russian certificate attributes as
// OpenSSL objects.
//
// Every object is named by a GostObj constant. The first use (normally the
// engine's bind step, through gost_objects_init) resolves each constant to
// OpenSSL's NID for the object's OID, and creates the objects the library
// does not know. Nothing outside this file knows a NID by number.
//
// Our own short and long names (for instance "gost3410-2012-512" and
// "GOST R 34.10-2012 512 bits" for 1.2.643.7.1.1.1.2) are what our code
// prints and accepts, beside OpenSSL's own names for the same object.
#ifndef GOST_OBJECTS_H
#define GOST_OBJECTS_H

#include <cstddef>

enum class GostObj : int {
    // Objects of the GOST R 34.10-2001 / 34.11-94 / 28147-89 generation.
    md_gost94,                      // 1.2.643.2.2.9
    gost2001,                       // 1.2.643.2.2.19
    gost89,                         // 1.2.643.2.2.21
    gost89_cnt,                     // no OID: known by name only
    gost_mac,                       // 1.2.643.2.2.22
    gost94_cryptopro_paramset,      // 1.2.643.2.2.30.1
    gost89_test_paramset,           // 1.2.643.2.2.31.0
    gost89_cryptopro_a_paramset,    // 1.2.643.2.2.31.1
    gost89_cryptopro_b_paramset,
    gost89_cryptopro_c_paramset,
    gost89_cryptopro_d_paramset,    // 1.2.643.2.2.31.4
    gost2001_test_paramset,         // 1.2.643.2.2.35.0
    gost2001_cryptopro_a_paramset,  // 1.2.643.2.2.35.1
    gost2001_cryptopro_b_paramset,
    gost2001_cryptopro_c_paramset,
    gost2001_cryptopro_xcha_paramset,  // 1.2.643.2.2.36.0
    gost2001_cryptopro_xchb_paramset,  // 1.2.643.2.2.36.1
    // The tc26 arc (GOST R 34.10-2012 / 34.11-2012) and qualified-certificate
    // attributes and extensions.
    tc26,                           // 1.2.643.7.1
    signwithdigest_2012_256,        // 1.2.643.7.1.1.3.2
    signwithdigest_2012_512,        // 1.2.643.7.1.1.3.3
    gost3410_2012_256,              // 1.2.643.7.1.1.1.1
    gost3410_2012_512,              // 1.2.643.7.1.1.1.2
    gost3410_2012_dh_256,           // 1.2.643.7.1.1.6.1
    gost3410_2012_dh_512,           // 1.2.643.7.1.1.6.2
    gost3411_2012_256,              // 1.2.643.7.1.1.2.2
    hmac_gost3411_2012_256,         // 1.2.643.7.1.1.4.1
    gost3411_2012_512,              // 1.2.643.7.1.1.2.3
    hmac_gost3411_2012_512,         // 1.2.643.7.1.1.4.2
    gost3410_2012_512_paramset_test,  // 1.2.643.7.1.2.1.2.0
    gost3410_2012_512_paramset_a,     // 1.2.643.7.1.2.1.2.1
    gost3410_2012_512_paramset_b,     // 1.2.643.7.1.2.1.2.2
    gost3410_2012_256_paramset_a,     // 1.2.643.7.1.2.1.1.1 (twisted Edwards)
    gost3410_2012_512_paramset_c,     // 1.2.643.7.1.2.1.2.3 (twisted Edwards)
    gost28147_param_z,              // 1.2.643.7.1.2.5.1.1
    ogrn,                           // 1.2.643.100.1
    snils,                          // 1.2.643.100.3
    ogrnip,                         // 1.2.643.100.5
    inn,                            // 1.2.643.3.131.1.1
    rnsfss,                         // 1.2.643.3.141.1.1
    kpfss,                          // 1.2.643.3.141.1.2
    subject_sign_tool,              // 1.2.643.100.111
    issuer_sign_tool,               // 1.2.643.100.112
    kc1_class_sign_tool,            // 1.2.643.100.113.1
    kc2_class_sign_tool,
    kc3_class_sign_tool,
    kb1_class_sign_tool,
    kb2_class_sign_tool,
    ka1_class_sign_tool,            // 1.2.643.100.113.6
    count_
};

constexpr std::size_t kGostObjectCount = static_cast<std::size_t>(GostObj::count_);

// Resolves every object (creating the missing ones). Idempotent and cheap
// after the first call; returns false if an object could not be created.
bool gost_objects_init();

// OpenSSL's NID of an object (resolving on first use); NID_undef (0) only if
// the object could not be created.
int gost_nid(GostObj obj);

// Our short name, long name and dotted OID of an object ("" for no OID).
const char *gost_obj_sn(GostObj obj);
const char *gost_obj_ln(GostObj obj);
const char *gost_obj_oid(GostObj obj);

// The one name-to-NID lookup: our short or long name, then OpenSSL's short or
// long name, then dotted OID text. NID_undef (0) for an unknown or empty name.
int gost_txt2nid(const char *name);

// Names for printing: ours for our objects, OpenSSL's for any other NID
// (NID_undef gives "undefined"). Never null: an unknown NID gives "undefined".
const char *gost_nid2sn(int nid);
const char *gost_nid2ln(int nid);

// Adds our short and long names of a GOST digest or cipher as EVP aliases of
// the name OpenSSL registered it under (call after EVP_add_digest /
// EVP_add_cipher). Names equal to OpenSSL's are skipped, and so is a NID
// that is not one of our objects. Returns false if an alias could not be added.
bool gost_add_digest_aliases(int nid);
bool gost_add_cipher_aliases(int nid);

#endif
