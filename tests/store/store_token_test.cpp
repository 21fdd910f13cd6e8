// The "ZK PKCS11" store method on real modules: certificates on our software
// token and on SoftHSM2, GOST keys on our software token.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"
#include "store_token_fixture.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>

namespace {

INSTANTIATE_TEST_SUITE_P(Modules, StoreOnToken, testing::Values(ModuleKind::softtoken, ModuleKind::softhsm),
                         [](const testing::TestParamInfo<ModuleKind> &info) { return module_kind_name(info.param); });

// --- Certificates: store, get, delete, modify.

TEST_P(StoreOnToken, CertificateStoredIsReadBackWithItsTemplate)
{
    Bytes der = make_certificate_der("round trip");
    ASSERT_TRUE(store_certificate(der, "abc"));
    std::string label = "abc";
    auto found = objects(CKO_CERTIFICATE, &label);
    ASSERT_EQ(found.size(), 1u);
    X509Ptr x = x509_of(der);
    EXPECT_EQ(attribute(found[0], CKA_VALUE), der);
    EXPECT_EQ(attribute(found[0], CKA_ID), sha1_of_key_bits(x.get()));
    EXPECT_EQ(attribute(found[0], CKA_TOKEN), Bytes{CK_TRUE});
    Bytes subject(i2d_X509_NAME(X509_get_subject_name(x.get()), nullptr));
    unsigned char *p = subject.data();
    i2d_X509_NAME(X509_get_subject_name(x.get()), &p);
    EXPECT_EQ(attribute(found[0], CKA_SUBJECT), subject);

    X509Ptr by_label = get_certificate({label_item("abc")});
    ASSERT_TRUE(by_label);
    EXPECT_EQ(X509_cmp(by_label.get(), x.get()), 0);
    X509Ptr by_id = get_certificate({id_item(sha1_of_key_bits(x.get()))});
    ASSERT_TRUE(by_id);
    EXPECT_EQ(X509_cmp(by_id.get(), x.get()), 0);
    EXPECT_FALSE(get_certificate({label_item("ab")}));
}

TEST_P(StoreOnToken, TwoCertificatesWithOneLabel)
{
    Bytes first = make_certificate_der("first"), second = make_certificate_der("second");
    CK_OBJECT_HANDLE h1 = put_certificate(first, label_with_zero("twin"), make_id(20, 1));
    CK_OBJECT_HANDLE h2 = put_certificate(second, label_with_zero("twin"), make_id(20, 2));
    put_certificate(make_certificate_der("other"), label_with_zero("other"), make_id(20, 3));
    // get returns the first the module reports.
    std::string twin = "twin";
    auto order = objects(CKO_CERTIFICATE, &twin);
    ASSERT_EQ(order.size(), 2u);
    X509Ptr got = get_certificate({label_item("twin")});
    ASSERT_TRUE(got);
    EXPECT_EQ(X509_cmp(got.get(), x509_of(order[0] == h1 ? first : second).get()), 0);
    (void)h2;

    OPENSSL_ITEM attrs[] = {label_item("twin"), kEnd};
    EXPECT_EQ(STORE_delete_certificate(store_, attrs, nullptr), 1);
    EXPECT_EQ(objects(CKO_CERTIFICATE).size(), 1u);
    // Nothing left to match: still a success.
    EXPECT_EQ(STORE_delete_certificate(store_, attrs, nullptr), 1);
}

TEST_P(StoreOnToken, LabelWinsInGetIdentifierWinsInDelete)
{
    Bytes a = make_certificate_der("a"), b = make_certificate_der("b");
    put_certificate(a, label_with_zero("a"), make_id(20, 1));
    put_certificate(b, label_with_zero("b"), make_id(20, 2));
    X509Ptr got = get_certificate({id_item(make_id(20, 2)), label_item("a")});
    ASSERT_TRUE(got);
    EXPECT_EQ(X509_cmp(got.get(), x509_of(a).get()), 0);

    Bytes id2 = make_id(20, 2);
    OPENSSL_ITEM both[] = {label_item("a"), id_item(id2), kEnd};
    EXPECT_EQ(STORE_delete_certificate(store_, both, nullptr), 1);
    auto left = objects(CKO_CERTIFICATE);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(attribute(left[0], CKA_VALUE), a);
}

TEST_P(StoreOnToken, LabelWithoutZeroByteIsFoundDeletedAndRelabelled)
{
    Bytes der = make_certificate_der("theirs");
    put_certificate(der, label_without_zero("theirs"), make_id(20, 1));
    ASSERT_TRUE(get_certificate({label_item("theirs")}));
    EXPECT_FALSE(get_certificate({label_item("their")}));

    OPENSSL_ITEM search[] = {label_item("theirs"), kEnd};
    OPENSSL_ITEM change[] = {label_item("ours"), kEnd};
    EXPECT_EQ(STORE_modify_certificate(store_, search, nullptr, change, nullptr, nullptr), 1);
    std::string ours = "ours";
    ASSERT_EQ(objects(CKO_CERTIFICATE, &ours).size(), 1u);  // written with its zero byte

    OPENSSL_ITEM gone[] = {label_item("ours"), kEnd};
    EXPECT_EQ(STORE_delete_certificate(store_, gone, nullptr), 1);
    EXPECT_TRUE(objects(CKO_CERTIFICATE).empty());
}

TEST_P(StoreOnToken, ModifyNeedsSomethingToSetAndSomethingToSearch)
{
    put_certificate(make_certificate_der("m"), label_with_zero("m"), make_id(20, 1));
    OPENSSL_ITEM search[] = {label_item("m"), kEnd};
    OPENSSL_ITEM no_search[] = {{STORE_ATTR_EMAIL, (void *)"x", 2, nullptr}, kEnd};
    OPENSSL_ITEM change[] = {label_item("n"), kEnd};
    Bytes new_id = make_id(20, 9);
    OPENSSL_ITEM change_id[] = {id_item(new_id), kEnd};
    struct Case {
        OPENSSL_ITEM *search;
        OPENSSL_ITEM *change;
        int result;
        const char *err;
    } cases[] = {
        {search, nullptr, 0, "modify_object: No legal attributes to modify\n"},
        {search, no_search, 0, "modify_object: No legal attributes to modify\n"},
        {no_search, change, 0, "modify_object: No legal search attributes\n"},
        {nullptr, change, 1, ""},
        {search, change_id, 1, ""},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(STORE_modify_certificate(store_, c.search, nullptr, c.change, nullptr, nullptr), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    }
    auto all = objects(CKO_CERTIFICATE);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(attribute(all[0], CKA_LABEL), label_with_zero("m"));
    EXPECT_EQ(attribute(all[0], CKA_ID), new_id);
}

TEST_P(StoreOnToken, IdentifierOfAnyTokenLengthIsSearchedLongerIsRefused)
{
    Bytes der = make_certificate_der("id");
    put_certificate(der, label_with_zero("id"), make_id(3, 1));
    EXPECT_TRUE(get_certificate({id_item(make_id(3, 1))}));
    Bytes long_id = make_id(256, 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(get_certificate({id_item(long_id)}));
    OPENSSL_ITEM attrs[] = {label_item("id"), id_item(long_id), kEnd};
    EXPECT_EQ(STORE_delete_certificate(store_, attrs, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "get_object: key identifier must be 1 to 255 bytes\n"
                                                      "delete_object: key identifier must be 1 to 255 bytes\n");
    EXPECT_EQ(objects(CKO_CERTIFICATE).size(), 1u);
}

TEST_P(StoreOnToken, CertificateValueWithTrailingBytesIsRefused)
{
    Bytes der = make_certificate_der("trail");
    der.push_back(0);
    put_certificate(der, label_with_zero("trail"), make_id(20, 1));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(get_certificate({label_item("trail")}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Certificate object value is not a DER certificate\n");
}

TEST_P(StoreOnToken, ReadOnlySessionStoresASessionObject)
{
    CK_SESSION_HANDLE ro = token_->open_session(false, false);
    ASSERT_NE(ro, 0u);
    attach(ro);
    Bytes der = make_certificate_der("session");
    ASSERT_TRUE(store_certificate(der, "session"));
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_ATTRIBUTE t = {CKA_CLASS, &cls, sizeof(cls)};
    ASSERT_EQ(f_->C_FindObjectsInit(ro, &t, 1), CKR_OK);
    CK_OBJECT_HANDLE h = 0;
    CK_ULONG n = 0;
    ASSERT_EQ(f_->C_FindObjects(ro, &h, 1, &n), CKR_OK);
    f_->C_FindObjectsFinal(ro);
    ASSERT_EQ(n, 1u);
    CK_BBOOL on_token = CK_TRUE;
    CK_ATTRIBUTE a = {CKA_TOKEN, &on_token, sizeof(on_token)};
    ASSERT_EQ(f_->C_GetAttributeValue(ro, h, &a, 1), CKR_OK);
    EXPECT_EQ(on_token, CK_FALSE);
    f_->C_CloseSession(ro);
    EXPECT_TRUE(objects(CKO_CERTIFICATE).empty());
}

TEST_P(StoreOnToken, ArbitraryTypeDeletesEveryClass)
{
    put_certificate(make_certificate_der("any"), label_with_zero("any"), make_id(20, 1));
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(create_ec_private_key(f_, session_, label_with_zero("any"), make_id(20, 1), &key), CKR_OK);
    OPENSSL_ITEM attrs[] = {label_item("any"), kEnd};
    EXPECT_EQ(STORE_get_method(store_)->delete_object(store_, STORE_OBJECT_TYPE_ARBITRARY, attrs, nullptr), 1);
    EXPECT_TRUE(objects(CKO_CERTIFICATE).empty());
    EXPECT_TRUE(objects(CKO_PRIVATE_KEY).empty());
}

// --- Listing.

TEST_P(StoreOnToken, ListingWalksEveryCertificateAndEndpKeepsWhatItSaw)
{
    put_certificate(make_certificate_der("l1"), label_with_zero("l1"), make_id(20, 1));
    put_certificate(make_certificate_der("l2"), label_with_zero("l2"), make_id(20, 2));
    unsigned char label[128], id[20];
    OPENSSL_ITEM attrs[] = {{STORE_ATTR_FRIENDLYNAME, label, sizeof(label), nullptr},
                            {STORE_ATTR_KEYID, id, sizeof(id), nullptr}, kEnd};
    void *list = STORE_list_start(store_, STORE_OBJECT_TYPE_X509_CERTIFICATE, attrs, nullptr);
    ASSERT_NE(list, nullptr);
    std::vector<std::string> labels;
    for (;;) {
        if (STORE_list_endp(store_, list))
            break;
        STORE_OBJECT *object = STORE_list_next(store_, list);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->type, STORE_OBJECT_TYPE_X509_CERTIFICATE);
        EXPECT_NE(object->data.x509.certificate, nullptr);
        labels.emplace_back(reinterpret_cast<char *>(label));
        EXPECT_EQ(Bytes(id, id + 20), make_id(20, labels.back() == "l1" ? 1 : 2));
        STORE_OBJECT_free(object);
    }
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(labels, (std::vector<std::string>{"l1", "l2"}));
    EXPECT_EQ(STORE_list_next(store_, list), nullptr);
    EXPECT_EQ(STORE_list_end(store_, list), 1);

    testing::internal::CaptureStderr();
    OPENSSL_ITEM only_label[] = {{STORE_ATTR_FRIENDLYNAME, label, sizeof(label), nullptr}, kEnd};
    EXPECT_EQ(STORE_list_start(store_, STORE_OBJECT_TYPE_X509_CERTIFICATE, only_label, nullptr), nullptr);
    EXPECT_EQ(STORE_list_start(store_, STORE_OBJECT_TYPE_NUMBER, attrs, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bad list attributes\nInvalid store object type:5\n");
}

}  // namespace
