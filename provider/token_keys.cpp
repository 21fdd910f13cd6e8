// Token keys: the references of the store loader, and signing and VKO
// agreement with a private key that stays on its token.
#include "token_keys.h"

#include <openssl/crypto.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "token_key_ref.h"
#include "token_keyops.h"

namespace {

constexpr char kMagic[8] = {'z', 'k', 'p', '1', '1', 'r', 'e', 'f'};

struct Registered {
    ProvCtx *prov;  // the store loader's: key management has none to give
    p11_gost2012_key rec;
    std::shared_ptr<TokenKeyRef> token;
};

std::mutex g_lock;
std::uint64_t g_next = 1;
std::map<std::uint64_t, Registered> &registry()
{
    static std::map<std::uint64_t, Registered> table;
    return table;
}

bool serial_of(const void *reference, std::size_t size, std::uint64_t *serial)
{
    if (reference == nullptr || size != sizeof kMagic + sizeof *serial ||
        std::memcmp(reference, kMagic, sizeof kMagic) != 0)
        return false;
    std::memcpy(serial, static_cast<const char *>(reference) + sizeof kMagic, sizeof *serial);
    return true;
}

bool is_session_gone(CK_RV rv)
{
    return rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED || rv == CKR_USER_NOT_LOGGED_IN ||
           rv == CKR_DEVICE_REMOVED || rv == CKR_TOKEN_NOT_PRESENT;
}

// Runs `op(f, session, private key)` for a token key: logs in when needed,
// finds the private key by its CKA_ID the first time, and tries once more
// when the token dropped the session or the handle. True, or false after
// an error on the queue naming the failing call.
template <typename Op>
bool use_private_key(const ProvKey &key, Op op)
{
    if (!key.on_token())
        return zk_raise(key.prov, ZK_R_NO_KEY, "not a token key");
    TokenKeyRef &ref = *key.token;
    TokenSlot &slot = *ref.slot;
    std::lock_guard<std::mutex> hold(slot.lock);
    for (int attempt = 0;; ++attempt) {
        if (!zk_token_ready(key.prov, slot, *ref.pin))
            return false;
        if (ref.priv == CK_INVALID_HANDLE) {
            CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
            CK_ATTRIBUTE templ[] = {
                {CKA_CLASS, &cls, sizeof cls},
                {CKA_ID, ref.id.data(), static_cast<CK_ULONG>(ref.id.size())},
            };
            P11FindResult found = p11_find_objects(slot.f, slot.session.handle(), templ, 2, 1);
            if (found.ok() && found.handles.empty())
                return zk_raise(key.prov, ZK_R_NOT_FOUND, "the token has no private key of this key pair");
            if (found.ok())
                ref.priv = found.handles[0];
            else if (attempt > 0 || !is_session_gone(found.rv))
                return zk_raise(key.prov, ZK_R_TOKEN_FAILURE, "%s failed, rc = 0x%lx", found.failed_call, found.rv);
        }
        const char *failed_call = nullptr;
        CK_RV rv = ref.priv != CK_INVALID_HANDLE ? op(slot.f, slot.session.handle(), ref.priv, &failed_call)
                                                 : CKR_SESSION_HANDLE_INVALID;
        if (rv == CKR_OK)
            return true;
        const bool stale = is_session_gone(rv) || rv == CKR_KEY_HANDLE_INVALID || rv == CKR_OBJECT_HANDLE_INVALID;
        if (attempt > 0 || !stale) {
            if (failed_call == nullptr)
                return zk_raise(key.prov, ZK_R_TOKEN_FAILURE, "the token's result has the wrong length");
            return zk_raise(key.prov, ZK_R_TOKEN_FAILURE, "%s failed, rc = 0x%lx", failed_call, rv);
        }
        ref.priv = CK_INVALID_HANDLE;
        if (is_session_gone(rv))
            slot.session.close();
    }
}

// The same, with running out of memory reported as such.
template <typename Op>
bool with_private_key(const ProvKey &key, Op op)
{
    try {
        return use_private_key(key, op);
    } catch (const std::bad_alloc &) {
        return zk_raise(key.prov, ZK_R_OUT_OF_MEMORY);
    }
}

}  // namespace

std::string zk_token_key_register(ProvCtx *prov, const p11_gost2012_key &rec, std::shared_ptr<TokenKeyRef> token)
{
    try {
        std::lock_guard<std::mutex> hold(g_lock);
        const std::uint64_t serial = g_next++;
        registry()[serial] = Registered{prov, rec, std::move(token)};
        std::string reference(kMagic, sizeof kMagic);
        reference.append(reinterpret_cast<const char *>(&serial), sizeof serial);
        return reference;
    } catch (const std::bad_alloc &) {
        return std::string();
    }
}

void zk_token_key_release(const std::string &reference)
{
    std::uint64_t serial = 0;
    if (!serial_of(reference.data(), reference.size(), &serial))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    auto found = registry().find(serial);
    if (found != registry().end()) {
        OPENSSL_cleanse(&found->second.rec, sizeof found->second.rec);
        registry().erase(found);
    }
}

ProvKey *zk_token_key_load(ProvCtx *prov, const void *reference, std::size_t reference_size)
{
    std::uint64_t serial = 0;
    if (!serial_of(reference, reference_size, &serial)) {
        zk_raise(prov, ZK_R_BAD_PARAMETER, "not a token key reference");
        return nullptr;
    }
    Registered entry{};
    {
        std::lock_guard<std::mutex> hold(g_lock);
        auto found = registry().find(serial);
        if (found == registry().end()) {
            zk_raise(prov, ZK_R_BAD_PARAMETER, "the token key reference is no longer valid");
            return nullptr;
        }
        entry = found->second;
    }
    ProvKey *key = zk_key_new(prov ? prov : entry.prov);
    if (key == nullptr)
        zk_raise(entry.prov, ZK_R_OUT_OF_MEMORY);
    else {
        key->rec = entry.rec;
        key->has_public = true;
        key->token = std::move(entry.token);
    }
    OPENSSL_cleanse(&entry.rec, sizeof entry.rec);
    return key;
}

bool zk_token_sign(const ProvKey &key, const unsigned char *digest, std::size_t digest_len, unsigned char *sig,
                   std::size_t *sig_len)
{
    const GostKeyAlg *alg = gost_key_alg(key.rec.alg_nid);
    if (alg == nullptr || digest == nullptr || (digest_len != 32 && digest_len != 64))
        return zk_raise(key.prov, ZK_R_BAD_PARAMETER, "a digest of 32 or 64 bytes is signed");
    if (sig == nullptr || sig_len == nullptr || *sig_len < alg->sig_len)
        return zk_raise(key.prov, ZK_R_OUTPUT_TOO_SMALL);
    CK_ULONG out_len = static_cast<CK_ULONG>(*sig_len);
    bool ok = with_private_key(key, [&](CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE priv,
                                        const char **failed_call) {
        out_len = static_cast<CK_ULONG>(*sig_len);
        CK_RV rv = token_sign(f, s, alg->sign_mechanism, priv, digest, static_cast<CK_ULONG>(digest_len), sig,
                              &out_len, failed_call);
        return rv == CKR_OK && out_len != alg->sig_len ? CKR_GENERAL_ERROR : rv;
    });
    if (ok)
        *sig_len = out_len;
    return ok;
}

bool zk_token_derive(const ProvKey &key, const unsigned char *peer_pub, std::size_t peer_pub_len,
                     const unsigned char *ukm, std::size_t ukm_len, unsigned char *out, std::size_t *out_len)
{
    if (peer_pub == nullptr || (peer_pub_len != 64 && peer_pub_len != 128) || peer_pub_len != key.rec.pub_key_len ||
        ukm == nullptr || ukm_len == 0)
        return zk_raise(key.prov, ZK_R_BAD_PARAMETER, "peer public value or UKM unusable");
    if (out == nullptr || out_len == nullptr || *out_len < kTokenVkoKeyLen)
        return zk_raise(key.prov, ZK_R_OUTPUT_TOO_SMALL);
    const std::vector<unsigned char> params = oid_der(gost_nid(GostObj::gost28147_param_z));
    bool ok = with_private_key(key, [&](CK_FUNCTION_LIST *f, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE priv,
                                        const char **failed_call) {
        return token_vko_derive(f, s, priv, peer_pub, peer_pub_len, ukm, ukm_len, params.data(), params.size(), out,
                                failed_call);
    });
    if (ok)
        *out_len = kTokenVkoKeyLen;
    return ok;
}
