// The key data of every GOST EVP_PKEY: algorithm, parameter set, public
// value, private value when imported, and the CKA_ID of the key pair.
#ifndef GOST_KEY_H
#define GOST_KEY_H

constexpr unsigned int kGostPubKeyMax = 128;
constexpr unsigned int kGostPrivKeyMax = 64;
constexpr unsigned int kGostKeyIdLen = 20;   // the SHA-1 identifier we give key pairs
constexpr unsigned int kGostKeyIdMax = 255;  // a CKA_ID given by another tool

struct p11_gost2012_key {
    int alg_nid;                            // gost2001, gost3410-2012-256 or -512
    int param_nid;                          // GOST R 34.10 parameter set; 0 = not set
    unsigned char pub_key[kGostPubKeyMax];  // X then Y, each little-endian
    unsigned int pub_key_len;               // 64 or 128
    unsigned char priv_key[kGostPrivKeyMax];  // little-endian; valid when priv_key_loaded
    unsigned int priv_key_len;              // 32 or 64
    unsigned char key_id[kGostKeyIdMax];    // CKA_ID, gost_key_id_len bytes
    unsigned int key_id_len;                // 0: the 20-byte identifier (all zero = not yet known)
    int priv_key_loaded;
};

// A zero-filled record, or nullptr when memory runs out.
p11_gost2012_key *p11_gost2012_key_new();
// Wipes and releases a record; a null record is ignored.
void p11_gost2012_key_free(p11_gost2012_key *key);

// Sets alg_nid, param_nid and both lengths of a record for a key algorithm
// and a parameter set of its table. Prints one line and leaves the record
// untouched on failure. Returns 1 or 0.
int fill_GOST2012_params(p11_gost2012_key *key, int alg_nid, int param_nid);

// True when all n bytes are zero (every byte is read, whatever they hold).
bool gost_bytes_are_zero(const unsigned char *p, unsigned long n);
// True when the first pub_key_len bytes of pub_key are all zero (including a
// record whose length is not set yet).
bool gost_pub_key_is_zero(const p11_gost2012_key &key);
// True when the CKA_ID is still unknown.
bool gost_key_id_is_zero(const p11_gost2012_key &key);
// Length of the CKA_ID: key_id_len, or 20 while that is 0.
unsigned int gost_key_id_len(const p11_gost2012_key &key);
// Takes the token's CKA_ID of 1 to 255 bytes; false (record untouched) for
// any other length.
bool gost_key_set_id(p11_gost2012_key &key, const unsigned char *id, unsigned long len);

#endif
