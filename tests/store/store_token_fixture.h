// A fresh token on a real module with the token engine attached to a
// logged-in session of it, and a store opened on the engine.
#ifndef STORE_TOKEN_FIXTURE_H
#define STORE_TOKEN_FIXTURE_H

#define OPENSSL_SUPPRESS_DEPRECATED
#include "gost_test_keys.h"
#include "module_token.h"
#include "pkcs11_core_eng.h"
#include "store.h"
#include "test_certs.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>


inline ENGINE *token_engine()
{
    static bool loaded = (ENGINE_load_zk_p11_core(), true);
    (void)loaded;
    return ENGINE_by_id(ZK_P11_ENGINE_ID);
}

// Items point into their argument, which must outlive the list.
inline OPENSSL_ITEM label_item(const char *label)
{
    return {STORE_ATTR_FRIENDLYNAME, const_cast<char *>(label), std::strlen(label) + 1, nullptr};
}
inline OPENSSL_ITEM id_item(const Bytes &id) { return {STORE_ATTR_KEYID, const_cast<unsigned char *>(id.data()), id.size(), nullptr}; }
inline constexpr OPENSSL_ITEM kEnd = {STORE_ATTR_END, nullptr, 0, nullptr};

inline X509Ptr x509_of(const Bytes &der)
{
    const unsigned char *p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

inline Bytes sha1_of_key_bits(X509 *x)
{
    const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(x);
    Bytes id(20);
    SHA1(ASN1_STRING_get0_data(bits), ASN1_STRING_length(bits), id.data());
    return id;
}

class StoreOnToken : public testing::TestWithParam<ModuleKind> {
protected:
    void SetUp() override
    {
        token_ = make_module_token(GetParam());
        ASSERT_TRUE(token_->ok()) << token_->error();
        f_ = token_->functions();
        session_ = token_->open_session(true);
        ASSERT_NE(session_, 0u);
        engine_ = token_engine();
        ASSERT_NE(engine_, nullptr);
        attach(session_);
        store_ = STORE_new_engine(engine_);
        ASSERT_NE(store_, nullptr);
    }
    void TearDown() override
    {
        STORE_free(store_);
        ENGINE_free(engine_);
        token_.reset();
    }
    void attach(CK_SESSION_HANDLE session)
    {
        ASSERT_EQ(ENGINE_ctrl_cmd_string(engine_, "ATTACH_API_FUNCS", reinterpret_cast<const char *>(f_), 0), 1);
        ASSERT_EQ(ENGINE_ctrl_cmd(engine_, "SET_SESSION", static_cast<long>(session), nullptr, nullptr, 0), 1);
    }

    // Handles of the objects of a class, with the label (and its zero byte) when given.
    std::vector<CK_OBJECT_HANDLE> objects(CK_OBJECT_CLASS cls, const std::string *label = nullptr)
    {
        CK_ATTRIBUTE t[2] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_LABEL, nullptr, 0}};
        if (label)
            t[1] = {CKA_LABEL, const_cast<char *>(label->c_str()), static_cast<CK_ULONG>(label->size() + 1)};
        EXPECT_EQ(f_->C_FindObjectsInit(session_, t, label ? 2 : 1), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> found(64);
        CK_ULONG n = 0;
        EXPECT_EQ(f_->C_FindObjects(session_, found.data(), found.size(), &n), CKR_OK);
        EXPECT_EQ(f_->C_FindObjectsFinal(session_), CKR_OK);
        found.resize(n);
        return found;
    }
    Bytes attribute(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        if (f_->C_GetAttributeValue(session_, h, &a, 1) != CKR_OK)
            return {};
        Bytes v(a.ulValueLen);
        a.pValue = v.data();
        EXPECT_EQ(f_->C_GetAttributeValue(session_, h, &a, 1), CKR_OK);
        return v;
    }
    CK_OBJECT_HANDLE put_certificate(const Bytes &der, const Bytes &label, const Bytes &id)
    {
        CK_OBJECT_HANDLE h = 0;
        EXPECT_EQ(create_certificate(f_, session_, der, label, id, &h), CKR_OK);
        return h;
    }
    // Stores a certificate through the store under `label`.
    bool store_certificate(const Bytes &der, const std::string &label)
    {
        X509Ptr x = x509_of(der);
        OPENSSL_ITEM attrs[] = {label_item(label.c_str()), kEnd};
        return STORE_store_certificate(store_, x.get(), attrs, nullptr) == 1;
    }
    X509Ptr get_certificate(std::vector<OPENSSL_ITEM> items)
    {
        items.push_back(kEnd);
        return X509Ptr(STORE_get_certificate(store_, items.data(), nullptr));
    }

    std::unique_ptr<ModuleToken> token_;
    CK_FUNCTION_LIST *f_ = nullptr;
    CK_SESSION_HANDLE session_ = 0;
    ENGINE *engine_ = nullptr;
    STORE *store_ = nullptr;
};

#endif
