// Every failing module call of the store's operations: its one line, the
// operation's failure, every session it opened closed again, and nothing
// changed on the token.
#include "faulty_module.h"
#include "store_token_fixture.h"

#include <functional>

namespace {

class StoreFaults : public StoreOnToken {
protected:
    void SetUp() override
    {
        StoreOnToken::SetUp();
        if (HasFatalFailure())
            return;
        real_ = f_;
        put_certificate(make_certificate_der("f1"), label_with_zero("f1"), make_id(20, 1));
        // The engine talks to the module through the fault wrapper from here on.
        f_ = faulty_functions(real_);
        attach(session_);
    }
    void TearDown() override
    {
        module_fault() = ModuleFault{};
        f_ = real_;
        StoreOnToken::TearDown();
    }
    CK_FUNCTION_LIST *real_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Modules, StoreFaults, testing::Values(ModuleKind::softtoken, ModuleKind::softhsm),
                         [](const testing::TestParamInfo<ModuleKind> &info) { return module_kind_name(info.param); });

TEST_P(StoreFaults, EveryFailingCallHasItsLineAndClosesItsSession)
{
    X509Ptr cert = x509_of(make_certificate_der("f2"));
    unsigned char label[128], id[20];
    OPENSSL_ITEM list_attrs[] = {{STORE_ATTR_FRIENDLYNAME, label, sizeof(label), nullptr},
                                 {STORE_ATTR_KEYID, id, sizeof(id), nullptr}, kEnd};
    OPENSSL_ITEM f1[] = {label_item("f1"), kEnd};
    OPENSSL_ITEM f3[] = {label_item("f3"), kEnd};
    auto get = [&] { return STORE_get_certificate(store_, f1, nullptr) ? 1 : 0; };
    auto remove = [&] { return STORE_delete_certificate(store_, f1, nullptr); };
    auto relabel = [&] { return STORE_modify_certificate(store_, f1, nullptr, f3, nullptr, nullptr); };
    auto store = [&] { return STORE_store_certificate(store_, cert.get(), f3, nullptr); };
    auto list = [&] {
        void *walk = STORE_list_start(store_, STORE_OBJECT_TYPE_X509_CERTIFICATE, list_attrs, nullptr);
        if (!walk)
            return 0;
        STORE_OBJECT *object = STORE_list_next(store_, walk);
        STORE_OBJECT_free(object);
        int ended = STORE_list_end(store_, walk);
        if (!ended) {
            // A walk whose end failed is kept: end it once the module answers.
            module_fault() = ModuleFault{};
            STORE_list_end(store_, walk);
        }
        return ended && object ? 1 : 0;
    };
    const struct {
        const char *operation;
        std::function<int()> run;
        const char *call;
        const char *line;
    } cases[] = {
        {"get", get, "C_OpenSession", "C_OpenSession failed, rc = 0x5\n"},
        {"get", get, "C_FindObjectsInit", "C_FindObjectsInit failed, rc = 0x5\n"},
        {"get", get, "C_FindObjects", "C_FindObjects failed, rc = 0x5\n"},
        {"get", get, "C_FindObjectsFinal", "C_FindObjectsFinal failed, rc = 0x5\n"},
        {"get", get, "C_GetAttributeValue", "C_GetAttributeValue failed, rc = 0x5\n"},
        {"delete", remove, "C_OpenSession", "C_OpenSession failed, rc = 0x5\n"},
        {"delete", remove, "C_FindObjects", "C_FindObjects failed, rc = 0x5\n"},
        {"delete", remove, "C_DestroyObject", "C_DestroyObject failed, rc = 0x5\n"},
        {"modify", relabel, "C_FindObjectsInit", "C_FindObjectsInit failed, rc = 0x5\n"},
        {"modify", relabel, "C_SetAttributeValue", "C_SetAttributeValue failed, rc = 0x5\n"},
        {"store", store, "C_OpenSession", "C_OpenSession failed, rc = 0x5\n"},
        {"store", store, "C_FindObjectsInit", "C_FindObjectsInit failed, rc = 0x5\n"},
        {"store", store, "C_CreateObject", "C_CreateObject failed, rc = 0x5\n"},
        {"list", list, "C_OpenSession", "C_OpenSession failed, rc = 0x5\n"},
        {"list", list, "C_FindObjectsInit", "C_FindObjectsInit failed, rc = 0x5\n"},
        {"list", list, "C_FindObjects", "C_FindObjects failed, rc = 0x5\n"},
        {"list", list, "C_GetAttributeValue", "C_GetAttributeValue failed, rc = 0x05\n"},
        {"list", list, "C_FindObjectsFinal", "C_FindObjectsFinal failed, rc = 0x5\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " with " + c.call + " failing");
        module_fault() = fault_in(c.call, 0, CKR_GENERAL_ERROR);
        module_record() = ModuleRecord{};
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.run(), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
        module_fault() = ModuleFault{};
        EXPECT_EQ(module_record().sessions_opened, module_record().sessions_closed);
        auto certs = objects(CKO_CERTIFICATE);
        ASSERT_EQ(certs.size(), 1u);
        EXPECT_EQ(attribute(certs[0], CKA_LABEL), label_with_zero("f1"));
    }
}

}  // namespace
