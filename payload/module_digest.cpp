// Integrity of the packed payload: an LZMA stream carries no checksum, so
// damaged bytes could otherwise decode into a wrong program.
#include "payload/module_digest.h"

#include <cstring>

#include "setup/resource_ids.h"

namespace {

struct CryptHashTraits {
    static HCRYPTHASH Invalid() { return 0; }
    static bool IsValid(HCRYPTHASH h) { return h != 0; }
    static void Close(HCRYPTHASH h) { CryptDestroyHash(h); }
};
using ScopedCryptHash = ScopedHandle<HCRYPTHASH, CryptHashTraits>;

}  // namespace

bool LoadModuleDigests(HMODULE module, ModuleDigests& digests) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_MODULE_DIGESTS), RT_RCDATA);
    if (resource == nullptr || SizeofResource(module, resource) != sizeof(digests.rows)) {
        return false;
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return false;
    }
    std::memcpy(digests.rows, bytes, sizeof(digests.rows));
    return true;
}

ScopedCryptProvider AcquireDigestProvider() {
    ScopedCryptProvider provider;
    CryptAcquireContextW(provider.receive(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    return provider;
}

bool DigestOfBytes(HCRYPTPROV provider, const void* bytes, DWORD size,
                   unsigned char (&digest)[kDigestBytes]) {
    ScopedCryptHash hash;
    DWORD digestSize = kDigestBytes;
    return CryptCreateHash(provider, CALG_SHA_256, 0, 0, hash.receive()) &&
           CryptHashData(hash.get(), static_cast<const BYTE*>(bytes), size, 0) &&
           CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestSize, 0) &&
           digestSize == kDigestBytes;
}

bool BytesMatchDigest(HCRYPTPROV provider, const void* bytes, DWORD size,
                      const unsigned char (&expected)[kDigestBytes]) {
    unsigned char actual[kDigestBytes];
    return DigestOfBytes(provider, bytes, size, actual) &&
           std::memcmp(actual, expected, kDigestBytes) == 0;
}
