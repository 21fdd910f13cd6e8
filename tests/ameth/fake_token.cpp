#include "fake_token.h"

#include <cstring>

namespace {

FakeToken *g_token = nullptr;
std::vector<CK_OBJECT_HANDLE> g_found;
bool g_searching = false;

bool failing(const char *call) { return g_token->fail_call == call; }

bool matches(const FakeObject &o, const CK_ATTRIBUTE *tmpl, CK_ULONG n)
{
    for (CK_ULONG i = 0; i < n; ++i) {
        const CK_ATTRIBUTE &a = tmpl[i];
        const unsigned char *v = static_cast<const unsigned char *>(a.pValue);
        if (a.type == CKA_CLASS) {
            if (a.ulValueLen != sizeof(CK_OBJECT_CLASS) || std::memcmp(v, &o.cls, sizeof o.cls) != 0)
                return false;
        } else if (a.type == CKA_ID) {
            if (std::vector<unsigned char>(v, v + a.ulValueLen) != o.id)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

CK_RV open_session(CK_SLOT_ID, CK_FLAGS, void *, CK_NOTIFY, CK_SESSION_HANDLE *h)
{
    if (failing("C_OpenSession"))
        return g_token->fail_rv;
    ++g_token->open_sessions;
    ++g_token->sessions_opened;
    *h = 7;
    return CKR_OK;
}

CK_RV close_session(CK_SESSION_HANDLE)
{
    --g_token->open_sessions;
    return CKR_OK;
}

CK_RV find_init(CK_SESSION_HANDLE, CK_ATTRIBUTE *tmpl, CK_ULONG n)
{
    if (failing("C_FindObjectsInit"))
        return g_token->fail_rv;
    g_found.clear();
    for (std::size_t i = 0; i < g_token->objects.size(); ++i)
        if (matches(g_token->objects[i], tmpl, n))
            g_found.push_back(i + 1);
    g_searching = true;
    return CKR_OK;
}

CK_RV find(CK_SESSION_HANDLE, CK_OBJECT_HANDLE *out, CK_ULONG max, CK_ULONG *count)
{
    if (!g_searching)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (failing("C_FindObjects"))
        return g_token->fail_rv;
    *count = 0;
    while (*count < max && !g_found.empty()) {
        out[(*count)++] = g_found.front();
        g_found.erase(g_found.begin());
    }
    return CKR_OK;
}

CK_RV find_final(CK_SESSION_HANDLE)
{
    if (!g_searching)
        return CKR_OPERATION_NOT_INITIALIZED;
    g_searching = false;
    if (failing("C_FindObjectsFinal"))
        return g_token->fail_rv;
    return CKR_OK;
}

CK_RV get_attribute_value(CK_SESSION_HANDLE, CK_OBJECT_HANDLE h, CK_ATTRIBUTE *attrs, CK_ULONG n)
{
    if (failing("C_GetAttributeValue"))
        return g_token->fail_rv;
    if (h == 0 || h > g_token->objects.size())
        return CKR_OBJECT_HANDLE_INVALID;
    const FakeObject &o = g_token->objects[h - 1];
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < n; ++i) {
        const std::vector<unsigned char> *src = attrs[i].type == CKA_VALUE                  ? &o.value
                                                : attrs[i].type == CKA_GOSTR3410_PARAMS ? &o.params
                                                                                         : nullptr;
        if (src == nullptr) {
            attrs[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (attrs[i].pValue == nullptr) {
            CK_ULONG claimed = src == &o.value ? o.claimed_value_len : o.claimed_params_len;
            attrs[i].ulValueLen = claimed != 0 ? claimed : src->size();
        } else if (attrs[i].ulValueLen < src->size()) {
            attrs[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            std::memcpy(attrs[i].pValue, src->data(), src->size());
            attrs[i].ulValueLen = src->size();
        }
    }
    return rv;
}

}  // namespace

CK_FUNCTION_LIST *fake_token_functions(FakeToken *token)
{
    static CK_FUNCTION_LIST list;
    g_token = token;
    g_found.clear();
    g_searching = false;
    std::memset(&list, 0, sizeof list);
    list.version = {2, 30};
    list.C_OpenSession = open_session;
    list.C_CloseSession = close_session;
    list.C_FindObjectsInit = find_init;
    list.C_FindObjects = find;
    list.C_FindObjectsFinal = find_final;
    list.C_GetAttributeValue = get_attribute_value;
    return &list;
}
