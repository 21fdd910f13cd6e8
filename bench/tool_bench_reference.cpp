// The module's own calls for a certificate listing, and nothing else: the
// reference the tool's -certlist is measured against. Loads the module,
// initialises it, reads the slot list, opens a session on the slot, finds
// the certificate objects in batches of 10 and reads each one's label and ID
// (as the tool does, in one call), prints the listing, and finalises.
// Without a slot it stops after the slot list: start-up alone. With a label
// it finds the one certificate with that label instead and reads its value:
// the module's own calls for the tool's -print.
//   tool_bench_reference <module> [<slot ID> [<label>]]
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <p11-kit/pkcs11.h>

namespace {

int fail(const char *what, CK_RV rv)
{
    std::fprintf(stderr, "%s failed: 0x%lx\n", what, static_cast<unsigned long>(rv));
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s <module> [<slot ID> [<label>]]\n", argv[0]);
        return 2;
    }
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST *f = nullptr;
    if (get_list == nullptr || get_list(&f) != CKR_OK)
        return fail("C_GetFunctionList", CKR_GENERAL_ERROR);
    CK_RV rv = f->C_Initialize(nullptr);
    if (rv != CKR_OK)
        return fail("C_Initialize", rv);
    CK_ULONG slot_count = 0;
    if ((rv = f->C_GetSlotList(CK_TRUE, nullptr, &slot_count)) != CKR_OK)
        return fail("C_GetSlotList", rv);
    std::vector<CK_SLOT_ID> slots(slot_count);
    if ((rv = f->C_GetSlotList(CK_TRUE, slots.data(), &slot_count)) != CKR_OK)
        return fail("C_GetSlotList", rv);
    if (argc == 2) {
        f->C_Finalize(nullptr);
        dlclose(library);
        return 0;
    }

    CK_SESSION_HANDLE session = 0;
    const CK_SLOT_ID slot = std::strtoul(argv[2], nullptr, 10);
    if ((rv = f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session)) != CKR_OK)
        return fail("C_OpenSession", rv);
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    if (argc == 4) {
        CK_ATTRIBUTE one[] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_LABEL, argv[3], std::strlen(argv[3]) + 1}};
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG found = 0;
        if ((rv = f->C_FindObjectsInit(session, one, 2)) != CKR_OK ||
            (rv = f->C_FindObjects(session, &handle, 1, &found)) != CKR_OK)
            return fail("search", rv);
        f->C_FindObjectsFinal(session);
        CK_ATTRIBUTE value = {CKA_VALUE, nullptr, 0};
        if (found == 0 || f->C_GetAttributeValue(session, handle, &value, 1) != CKR_OK)
            return fail("C_GetAttributeValue", CKR_GENERAL_ERROR);
        std::vector<unsigned char> der(value.ulValueLen);
        value.pValue = der.data();
        if ((rv = f->C_GetAttributeValue(session, handle, &value, 1)) != CKR_OK)
            return fail("C_GetAttributeValue", rv);
        std::printf("%lu bytes\n", static_cast<unsigned long>(der.size()));
        f->C_CloseSession(session);
        f->C_Finalize(nullptr);
        dlclose(library);
        return 0;
    }
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof(cls)}};
    if ((rv = f->C_FindObjectsInit(session, tmpl, 1)) != CKR_OK)
        return fail("C_FindObjectsInit", rv);
    std::puts("Certificate objects:");
    int counter = 0;
    for (;;) {
        CK_OBJECT_HANDLE handles[10];
        CK_ULONG found = 0;
        if ((rv = f->C_FindObjects(session, handles, 10, &found)) != CKR_OK)
            return fail("C_FindObjects", rv);
        if (found == 0)
            break;
        for (CK_ULONG i = 0; i < found; ++i) {
            unsigned char label[256] = {}, id[256] = {};
            CK_ATTRIBUTE values[] = {{CKA_LABEL, label, sizeof(label)}, {CKA_ID, id, sizeof(id)}};
            if (f->C_GetAttributeValue(session, handles[i], values, 2) == CKR_OK)
                std::printf("%d: label: '%.*s'\n", ++counter, static_cast<int>(strnlen(
                                reinterpret_cast<const char *>(label), sizeof(label))),
                            reinterpret_cast<const char *>(label));
        }
    }
    f->C_FindObjectsFinal(session);
    f->C_CloseSession(session);
    f->C_Finalize(nullptr);
    dlclose(library);
    return 0;
}
