// Signing and verification on the token: signatures on every curve that an
// independent implementation of the published formulas accepts, published
// and independently made signatures the engine accepts, certificates and
// messages signed and verified through OpenSSL, buffers and lengths checked,
// and every failure reported with its line.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <cstring>

#include <openssl/rand.h>
#include <openssl/x509.h>

#include "keyops_fixture.h"
#include "pkcs11_ameth.h"
#include "pkcs11_gost3410_2012.h"
#include "test_digests.h"

namespace {

Bytes random_bytes(std::size_t n)
{
    Bytes b(n);
    RAND_bytes(b.data(), static_cast<int>(n));
    return b;
}

Bytes pub_of(const EVP_PKEY *key)
{
    const p11_gost2012_key *r = record(key);
    return Bytes(r->pub_key, r->pub_key + r->pub_key_len);
}

std::size_t digest_len(const GostKeyAlg &alg) { return alg.size == GostKeySize::bits512 ? 64 : 32; }

// EVP_PKEY_sign into a buffer of `room` bytes (guard bytes after it are
// checked); empty on failure, with the result in *rc.
Bytes pkey_sign(EVP_PKEY *key, const Bytes &digest, std::size_t room = 128, int *rc = nullptr)
{
    PkeyCtxPtr c(EVP_PKEY_CTX_new(key, nullptr));
    EXPECT_EQ(EVP_PKEY_sign_init(c.get()), 1);
    return into_buffer(room, rc, [&](unsigned char *out, std::size_t *len) {
        return EVP_PKEY_sign(c.get(), out, len, digest.data(), digest.size());
    });
}

int pkey_verify(EVP_PKEY *key, const Bytes &digest, const Bytes &sig)
{
    PkeyCtxPtr c(EVP_PKEY_CTX_new(key, nullptr));
    EXPECT_EQ(EVP_PKEY_verify_init(c.get()), 1);
    return EVP_PKEY_verify(c.get(), sig.data(), sig.size(), digest.data(), digest.size());
}

const EVP_MD *default_digest(GostObj alg)
{
    return gost_digest(alg == GostObj::gost2001            ? GostObj::md_gost94
                       : alg == GostObj::gost3410_2012_256 ? GostObj::gost3411_2012_256
                                                           : GostObj::gost3411_2012_512);
}

Bytes digest_of(const EVP_MD *md, const Bytes &data)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), out, &len, md, nullptr), 1);
    return Bytes(out, out + len);
}

// RFC 5832 / RFC 7091 section 7: the test curve's key pair, a digest number
// e, the nonce k and the signature (r, s) they give.
const char *kRfcD = "7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28";
const char *kRfcXq = "7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B";
const char *kRfcYq = "26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA";
const char *kRfcE = "2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5";
const char *kRfcK = "77105C9B20BCD3122823C8CF6FCC7B956DE33814E95B7FE64FED924594DCEAB3";
const char *kRfcR = "41AA28D2F1AB148280CD9ED56FEDA41974053554A42767B83AD043FD39DC0493";
const char *kRfcS = "01456C64BA4642A1653C235A98A60249BCD6D3F746B631DF928014F6C5BF9C40";

// RFC 9215 appendix D.3: a key pair on the 512-bit test curve.
const char *kD3D =
    "0BA6048AADAE241BA40936D47756D7C93091A0E8514669700EE7508E508B102072E8123B2200A0563322DAD2827E2714A2636B7BFD18AADFC62"
    "967821FA18DD4";
const char *kD3X =
    "115DC5BC96760C7B48598D8AB9E740D4C4A85A65BE33C1815B5C320C854621DD5A515856D13314AF69BC5B924C8B4DDFF75C45415C1D9DD9DD"
    "33612CD530EFE1";
const char *kD3Y =
    "37C7C90CD40B0F5621DC3AC1B751CFA0E2634FA0503B3D52639F5D7FB72AFD61EA199441D943FFE7F0C70A2759A3CDB84C114E1F9339FDF27F"
    "35ECA93677BEEC";

Bytes le(const char *hex) { return reversed(hex_to_bytes(hex)); }
Bytes concat_bytes(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SignVerify : public TokenEngineTest {
protected:
    // A private key of the test's choice put on the token, with its CKA_ID,
    // and the EVP_PKEY of its public value.
    PkeyPtr import_key(GostObj alg, GostObj set, const Bytes &priv, const Bytes &pub)
    {
        const GostKeyAlg *props = gost_key_alg(nid(alg));
        const GostParamSet *ps = gost_paramset_find(props->size, nid(set));
        PkeyPtr key = gost_key_from_values(nid(alg), nid(set), pub);
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_KEY_TYPE type = props->key_type;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE tmpl[] = {
            {CKA_CLASS, &cls, sizeof cls},
            {CKA_KEY_TYPE, &type, sizeof type},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_PRIVATE, &yes, sizeof yes},
            {CKA_SIGN, &yes, sizeof yes},
            {CKA_GOSTR3410_PARAMS, const_cast<unsigned char *>(ps->der), ps->der_len},
            {CKA_VALUE, const_cast<unsigned char *>(priv.data()), priv.size()},
            {CKA_ID, record(key.get())->key_id, 20},
        };
        CK_OBJECT_HANDLE h = 0;
        EXPECT_EQ(f->C_CreateObject(session_, tmpl, sizeof tmpl / sizeof tmpl[0], &h), CKR_OK);
        return key;
    }
};

TEST_F(SignVerify, SignaturesOnEveryCurveVerifyIndependentlyAndOnTheToken)
{
    for (const AlgCurve &c : every_alg_and_curve()) {
        SCOPED_TRACE(c.name());
        ASSERT_TRUE(reference_knows(c.set->nid()));
        PkeyPtr key = generate(c);
        ASSERT_TRUE(key);
        Bytes digest = random_bytes(digest_len(*c.props));
        Bytes sig = pkey_sign(key.get(), digest);
        ASSERT_EQ(sig.size(), c.props->sig_len);
        EXPECT_TRUE(reference_verify(c.set->nid(), pub_of(key.get()), digest, sig));
        EXPECT_EQ(pkey_verify(key.get(), digest, sig), 1);

        // A changed digest or signature is refused by both.
        Bytes other = digest;
        other[0] ^= 1;
        EXPECT_FALSE(reference_verify(c.set->nid(), pub_of(key.get()), other, sig));
        Stderr captured;
        EXPECT_EQ(pkey_verify(key.get(), other, sig), 0);
        Bytes bad = sig;
        bad[bad.size() / 2] ^= 0x80;
        EXPECT_EQ(pkey_verify(key.get(), digest, bad), 0);
        EXPECT_EQ(captured.text(), "C_Verify failed, rc = 0xc0\nC_Verify failed, rc = 0xc0\n");
    }
    EXPECT_EQ(module_record().sessions_opened, module_record().sessions_closed);
}

TEST_F(SignVerify, PublishedAndIndependentSignaturesVerifyThroughTheEngine)
{
    // The published example, its signature recomputed by the reference.
    Bytes pub = concat_bytes(le(kRfcXq), le(kRfcYq));
    Bytes digest = le(kRfcE);
    Bytes sig = concat_bytes(hex_to_bytes(kRfcS), hex_to_bytes(kRfcR));
    int test_set = nid(GostObj::gost2001_test_paramset);
    ASSERT_EQ(reference_public(test_set, le(kRfcD)), pub);
    ASSERT_EQ(reference_sign(test_set, le(kRfcD), digest, le(kRfcK)), sig);
    ASSERT_TRUE(reference_verify(test_set, pub, digest, sig));
    for (GostObj alg : {GostObj::gost2001, GostObj::gost3410_2012_256}) {
        PkeyPtr key = gost_key_from_values(nid(alg), test_set, pub);
        EXPECT_EQ(pkey_verify(key.get(), digest, sig), 1);
        Bytes other = sig;
        other[63] ^= 1;
        Stderr captured;
        EXPECT_EQ(pkey_verify(key.get(), digest, other), 0);
        captured.text();
    }

    // Key pairs and signatures made apart from the token, on every curve.
    for (const AlgCurve &c : every_alg_and_curve()) {
        SCOPED_TRACE(c.name());
        Bytes priv = random_bytes(c.props->priv_key_len);
        priv.back() &= 0x3F;  // below q on every curve
        Bytes key_pub = reference_public(c.set->nid(), priv);
        PkeyPtr key = gost_key_from_values(nid(c.alg), c.set->nid(), key_pub);
        for (int i = 0; i < 3; ++i) {
            Bytes d = random_bytes(digest_len(*c.props));
            EXPECT_EQ(pkey_verify(key.get(), d, reference_sign(c.set->nid(), priv, d)), 1);
        }
    }
    EXPECT_EQ(count_objects(), 0u);  // the verification keys lived in the calls only
}

TEST_F(SignVerify, PublishedPrivateKeysSignOnTheToken)
{
    struct Case {
        GostObj alg, set;
        Bytes priv, pub;
    };
    const Case cases[] = {
        {GostObj::gost2001, GostObj::gost2001_test_paramset, le(kRfcD), concat_bytes(le(kRfcXq), le(kRfcYq))},
        {GostObj::gost3410_2012_512, GostObj::gost3410_2012_512_paramset_test, le(kD3D), concat_bytes(le(kD3X), le(kD3Y))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(gost_obj_sn(c.set));
        ASSERT_EQ(reference_public(nid(c.set), c.priv), c.pub);
        PkeyPtr key = import_key(c.alg, c.set, c.priv, c.pub);
        Bytes digest = c.alg == GostObj::gost2001 ? le(kRfcE) : random_bytes(64);
        Bytes sig = pkey_sign(key.get(), digest);
        EXPECT_TRUE(reference_verify(nid(c.set), c.pub, digest, sig));
        EXPECT_EQ(pkey_verify(key.get(), digest, sig), 1);
    }
}

TEST_F(SignVerify, CertificatesAreSignedAndVerifiedWithTokenKeys)
{
    const std::pair<GostObj, int> algs[] = {
        {GostObj::gost2001, NID_id_GostR3411_94_with_GostR3410_2001},
        {GostObj::gost3410_2012_256, nid(GostObj::signwithdigest_2012_256)},
        {GostObj::gost3410_2012_512, nid(GostObj::signwithdigest_2012_512)},
    };
    for (const auto &[alg, sig_nid] : algs) {
        SCOPED_TRACE(gost_obj_sn(alg));
        PkeyPtr key = generate(alg, "A");
        ASSERT_TRUE(key);
        X509Ptr cert(X509_new());
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
        X509_NAME *name = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("token key"), -1, -1,
                                   0);
        X509_set_issuer_name(cert.get(), name);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
        ASSERT_EQ(X509_set_pubkey(cert.get(), key.get()), 1);
        const EVP_MD *md = default_digest(alg);
        ASSERT_GT(X509_sign(cert.get(), key.get(), md), 0);
        EXPECT_EQ(X509_verify(cert.get(), key.get()), 1);

        // Read back: the signature algorithm, its NULL parameter, and the
        // signature checked with the certificate's own key and apart.
        unsigned char *der = nullptr;
        int len = i2d_X509(cert.get(), &der);
        ASSERT_GT(len, 0);
        Bytes bytes(der, der + len);
        OPENSSL_free(der);
        X509Ptr read = parse_certificate(bytes);
        ASSERT_TRUE(read);
        const X509_ALGOR *alg_id = nullptr;
        const ASN1_BIT_STRING *sig = nullptr;
        X509_get0_signature(&sig, &alg_id, read.get());
        const ASN1_OBJECT *oid = nullptr;
        int ptype = 0;
        X509_ALGOR_get0(&oid, &ptype, nullptr, alg_id);
        EXPECT_EQ(OBJ_obj2nid(oid), sig_nid);
        EXPECT_EQ(ptype, V_ASN1_NULL);
        EXPECT_EQ(X509_verify(read.get(), X509_get0_pubkey(read.get())), 1);
        unsigned char *tbs = nullptr;
        int tbs_len = i2d_re_X509_tbs(read.get(), &tbs);
        Bytes digest = digest_of(md, Bytes(tbs, tbs + tbs_len));
        OPENSSL_free(tbs);
        Bytes sig_bytes(ASN1_STRING_get0_data(sig), ASN1_STRING_get0_data(sig) + ASN1_STRING_length(sig));
        EXPECT_TRUE(reference_verify(record(key.get())->param_nid, pub_of(key.get()), digest, sig_bytes));

        // A changed certificate no longer verifies.
        bytes[bytes.size() - 5] ^= 1;
        X509Ptr changed = parse_certificate(bytes);
        ASSERT_TRUE(changed);
        Stderr captured;
        EXPECT_EQ(X509_verify(changed.get(), key.get()), 0);
        EXPECT_EQ(captured.text(), "C_Verify failed, rc = 0xc0\n");
    }
}

TEST_F(SignVerify, MessagesAreSignedAndVerifiedThroughDigestSign)
{
    for (GostObj alg : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512}) {
        SCOPED_TRACE(gost_obj_sn(alg));
        const EVP_MD *md = default_digest(alg);
        PkeyPtr key = generate(alg, "B");
        ASSERT_TRUE(key);
        Bytes message = pattern_bytes(1000, 3);
        for (const EVP_MD *given : {md, static_cast<const EVP_MD *>(nullptr)}) {  // null: the key's default
            MdCtxPtr c(EVP_MD_CTX_new());
            ASSERT_EQ(EVP_DigestSignInit(c.get(), nullptr, given, nullptr, key.get()), 1);
            std::size_t len = 0;
            ASSERT_EQ(EVP_DigestSign(c.get(), nullptr, &len, message.data(), message.size()), 1);
            EXPECT_EQ(len, gost_key_alg(nid(alg))->sig_len);
            Bytes sig(len);
            ASSERT_EQ(EVP_DigestSign(c.get(), sig.data(), &len, message.data(), message.size()), 1);
            EXPECT_TRUE(reference_verify(record(key.get())->param_nid, pub_of(key.get()), digest_of(md, message), sig));

            MdCtxPtr v(EVP_MD_CTX_new());
            ASSERT_EQ(EVP_DigestVerifyInit(v.get(), nullptr, given, nullptr, key.get()), 1);
            EXPECT_EQ(EVP_DigestVerify(v.get(), sig.data(), sig.size(), message.data(), message.size()), 1);
            Bytes changed = message;
            changed[500] ^= 4;
            MdCtxPtr w(EVP_MD_CTX_new());
            ASSERT_EQ(EVP_DigestVerifyInit(w.get(), nullptr, given, nullptr, key.get()), 1);
            Stderr captured;
            EXPECT_NE(EVP_DigestVerify(w.get(), sig.data(), sig.size(), changed.data(), changed.size()), 1);
            captured.text();
        }
    }
}

TEST_F(SignVerify, SigningWritesOnlyIntoABufferThatHoldsTheSignature)
{
    for (GostObj alg : {GostObj::gost3410_2012_256, GostObj::gost3410_2012_512}) {
        SCOPED_TRACE(gost_obj_sn(alg));
        PkeyPtr key = generate(alg, "A");
        ASSERT_TRUE(key);
        unsigned sig_len = gost_key_alg(nid(alg))->sig_len;
        Bytes digest = random_bytes(sig_len / 2);
        int opened = module_record().sessions_opened;

        // The length is reported before any token access.
        PkeyCtxPtr c(EVP_PKEY_CTX_new(key.get(), nullptr));
        ASSERT_EQ(EVP_PKEY_sign_init(c.get()), 1);
        std::size_t len = 0;
        EXPECT_EQ(EVP_PKEY_sign(c.get(), nullptr, &len, digest.data(), digest.size()), 1);
        EXPECT_EQ(len, sig_len);

        int rc = 1;
        Stderr captured;
        EXPECT_EQ(pkey_sign(key.get(), digest, sig_len - 1, &rc), Bytes());
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(captured.text(), "pkey_pkcs11_sign: signature buffer of " + std::to_string(sig_len - 1) +
                                       " bytes, " + std::to_string(sig_len) + " needed\n");
        EXPECT_EQ(module_record().sessions_opened, opened);
        EXPECT_EQ(pkey_sign(key.get(), digest, sig_len).size(), sig_len);

        // A digest of neither 32 nor 64 bytes is refused without a word.
        Stderr quiet;
        EXPECT_EQ(pkey_sign(key.get(), random_bytes(48), 128, &rc), Bytes());
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(quiet.text(), "");
    }
}

TEST_F(SignVerify, SigningFailuresAreReportedAndCloseTheSession)
{
    PkeyPtr key = generate(GostObj::gost3410_2012_256, "C");
    ASSERT_TRUE(key);
    Bytes digest = random_bytes(32);
    ModuleFault short_sig;
    short_sig.sign_len = 63;
    const std::string p = "pkcs11_gost2012_do_sign: ";
    const std::pair<ModuleFault, std::string> cases[] = {
        {fault_in("C_OpenSession", 0, CKR_SESSION_COUNT), "C_OpenSession failed, rc = 0xb1\n"},
        {fault_in("C_FindObjectsInit"), p + "C_FindObjectsInit failed, rc = 0x30\n"},
        {fault_in("C_FindObjects"), p + "C_FindObjects failed, rc = 0x30\n"},
        {fault_in("C_FindObjectsFinal"), p + "C_FindObjectsFinal failed, rc = 0x30\n"},
        {fault_in("C_SignInit", 0, CKR_KEY_FUNCTION_NOT_PERMITTED), p + "C_SignInit failed, rc = 0x68\n"},
        {fault_in("C_Sign"), p + "C_Sign failed, rc = 0x30\n"},
        {short_sig, p + "C_Sign returned 63 bytes, 64 expected\n"},
    };
    std::size_t before = count_objects();
    for (const auto &[f, err] : cases) {
        SCOPED_TRACE(f.call);
        int opened = module_record().sessions_opened, closed = module_record().sessions_closed;
        module_fault() = f;
        Stderr captured;
        int rc = 1;
        EXPECT_EQ(pkey_sign(key.get(), digest, 64, &rc), Bytes());
        module_fault() = ModuleFault();
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(captured.text(), err);
        EXPECT_EQ(module_record().sessions_opened - opened, module_record().sessions_closed - closed);
    }
    EXPECT_EQ(count_objects(), before);

    // A key the token does not hold, or cannot show without a login.
    PkeyPtr stranger = gost_key_from_values(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_cryptopro_c_paramset),
                                            reference_public(nid(GostObj::gost2001_cryptopro_c_paramset), random_bytes(31)));
    Stderr captured;
    EXPECT_EQ(pkey_sign(stranger.get(), digest), Bytes());
    ASSERT_EQ(f->C_Logout(session_), CKR_OK);
    EXPECT_EQ(pkey_sign(key.get(), digest), Bytes());
    EXPECT_EQ(captured.text(), p + "Token private key not found\n" + p + "Token private key not found\n");

    Stderr no_engine;
    unsigned char sig[128];
    EXPECT_EQ(pkcs11_gost2012_do_sign(nullptr, digest.data(), 32, sig, record(key.get())), 0);
    EXPECT_EQ(no_engine.text(), "pkcs11_gost2001_do_sign: ENGINE_get_ex_data failed\n");
}

TEST_F(SignVerify, TheKeyOfTheLastSignatureIsNotSearchedAgainWhileTheTokenShowsIt)
{
    PkeyPtr a = generate(GostObj::gost3410_2012_256, "A");
    PkeyPtr b = generate(GostObj::gost3410_2012_512, "A");
    ASSERT_TRUE(a && b);
    Bytes d32 = random_bytes(32), d64 = random_bytes(64);
    auto searches_for = [&](EVP_PKEY *key, const Bytes &digest) {
        int before = module_record().searches;
        Bytes sig = pkey_sign(key, digest);
        EXPECT_TRUE(reference_verify(record(key)->param_nid, pub_of(key), digest, sig));
        return module_record().searches - before;
    };
    EXPECT_EQ(searches_for(a.get(), d32), 1);
    EXPECT_EQ(searches_for(a.get(), d32), 0);
    EXPECT_EQ(searches_for(b.get(), d64), 1);
    EXPECT_EQ(searches_for(a.get(), d32), 1);

    // The object under the remembered handle changes its CKA_ID, or goes:
    // the key is searched for (and not found).
    std::vector<CK_OBJECT_HANDLE> objects = find_by_id(record(a.get())->key_id);
    CK_OBJECT_HANDLE priv = 0;
    for (CK_OBJECT_HANDLE h : objects)
        if (attribute(h, CKA_SIGN) == Bytes{CK_TRUE})
            priv = h;
    ASSERT_NE(priv, 0u);
    unsigned char other_id[20] = {1, 2, 3};
    CK_ATTRIBUTE set_id{CKA_ID, other_id, sizeof other_id};
    ASSERT_EQ(f->C_SetAttributeValue(session_, priv, &set_id, 1), CKR_OK);
    Stderr captured;
    int rc = 1;
    int before = module_record().searches;
    EXPECT_EQ(pkey_sign(a.get(), d32, 64, &rc), Bytes());
    EXPECT_EQ(module_record().searches - before, 1);
    set_id.pValue = record(a.get())->key_id;
    ASSERT_EQ(f->C_SetAttributeValue(session_, priv, &set_id, 1), CKR_OK);
    EXPECT_EQ(searches_for(a.get(), d32), 1);
    ASSERT_EQ(f->C_DestroyObject(session_, priv), CKR_OK);
    EXPECT_EQ(pkey_sign(a.get(), d32, 64, &rc), Bytes());
    EXPECT_EQ(captured.text(), "pkcs11_gost2012_do_sign: Token private key not found\n"
                               "pkcs11_gost2012_do_sign: Token private key not found\n");
}

TEST_F(SignVerify, VerificationRefusesWrongLengthsAndReportsFailures)
{
    PkeyPtr key = generate(GostObj::gost2001, "0");
    ASSERT_TRUE(key);
    PkeyPtr big = generate(GostObj::gost3410_2012_512, "B");
    ASSERT_TRUE(big);
    Bytes digest = random_bytes(32);
    Bytes sig = pkey_sign(key.get(), digest);
    ASSERT_EQ(sig.size(), 64u);
    int opened = module_record().sessions_opened;

    // Signatures of another length than the key's are not read.
    struct Length {
        EVP_PKEY *key;
        std::size_t len;
    };
    for (const Length &l : {Length{key.get(), 1}, Length{key.get(), 63}, Length{key.get(), 65},
                            Length{key.get(), 128}, Length{big.get(), 64}, Length{big.get(), 127}}) {
        Bytes part(sig.begin(), sig.begin() + std::min<std::size_t>(l.len, 64));
        part.resize(l.len, 0);
        Stderr captured;
        EXPECT_EQ(pkey_verify(l.key, l.key == big.get() ? random_bytes(64) : digest, part), 0);
        EXPECT_EQ(captured.text(), "pkcs11_gost2012_do_verify: invalid signature length " + std::to_string(l.len) + "\n");
    }
    Stderr quiet;
    EXPECT_EQ(pkey_verify(key.get(), random_bytes(48), sig), 0);
    EXPECT_EQ(quiet.text(), "");
    EXPECT_EQ(module_record().sessions_opened, opened);

    const std::pair<ModuleFault, std::string> cases[] = {
        {fault_in("C_OpenSession"), "C_OpenSession failed, rc = 0x30\n"},
        {fault_in("C_CreateObject", 0, CKR_SESSION_READ_ONLY), "C_CreateObject failed, rc = 0xb5\n"},
        {fault_in("C_VerifyInit"), "C_VerifyInit failed, rc = 0x30\n"},
        {fault_in("C_Verify"), "C_Verify failed, rc = 0x30\n"},
        {fault_in("C_DestroyObject"), "C_DestroyObject failed, rc = 0x30\n"},
    };
    std::size_t before = count_objects();
    for (const auto &[f, err] : cases) {
        SCOPED_TRACE(f.call);
        int o = module_record().sessions_opened, c = module_record().sessions_closed;
        module_fault() = f;
        Stderr captured;
        EXPECT_EQ(pkey_verify(key.get(), digest, sig), 0);
        module_fault() = ModuleFault();
        EXPECT_EQ(captured.text(), err);
        EXPECT_EQ(module_record().sessions_opened - o, module_record().sessions_closed - c);
        EXPECT_EQ(count_objects(), before);
    }
    EXPECT_EQ(pkey_verify(key.get(), digest, sig), 1);

    // No engine context; a parameter set without an OID.
    p11_gost2012_key r = *record(key.get());
    Stderr no_engine;
    EXPECT_EQ(pkcs11_gost2012_do_verify(nullptr, digest.data(), 32, sig.data(), sig.size(), &r), 0);
    r.param_nid = nid(GostObj::gost89_cnt);
    EXPECT_EQ(pkcs11_gost2012_do_verify(token_engine(), digest.data(), 32, sig.data(), sig.size(), &r), 0);
    EXPECT_EQ(no_engine.text(), "ENGINE_get_ex_data failed\npkcs11_gost2012_do_verify: OBJ_nid2obj can't understand param_nid " +
                                    std::to_string(r.param_nid) + "\n");
}

TEST_F(SignVerify, AKeyKnownByItsIdOnlyVerifiesWithTheValueOnTheToken)
{
    PkeyPtr key = generate(GostObj::gost3410_2012_512, "A");
    ASSERT_TRUE(key);
    Bytes digest = random_bytes(64);
    Bytes sig = pkey_sign(key.get(), digest);
    p11_gost2012_key r{};
    r.alg_nid = nid(GostObj::gost3410_2012_512);
    std::memcpy(r.key_id, record(key.get())->key_id, 20);
    EXPECT_EQ(pkcs11_gost2012_do_verify(token_engine(), digest.data(), 64, sig.data(), sig.size(), &r), 1);
    EXPECT_EQ(Bytes(r.pub_key, r.pub_key + 128), pub_of(key.get()));
    EXPECT_EQ(r.param_nid, nid(GostObj::gost3410_2012_512_paramset_a));
}

}  // namespace
