// Integrity of the extracted payload: an LZMA stream carries no checksum, so
// damaged bytes could otherwise decode into a wrong program.
#include "payload/module_digest.h"

#include <cstring>

#include "setup/resource_ids.h"

namespace {

// Small enough to keep the extraction's memory near the decoder's dictionary.
constexpr DWORD kDigestReadBytes = 65536;

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

bool DigestOfFile(HCRYPTPROV provider, const wchar_t* path, unsigned char (&digest)[kDigestBytes]) {
    ScopedFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    ScopedCryptHash hash;
    if (!file || !CryptCreateHash(provider, CALG_SHA_256, 0, 0, hash.receive())) {
        return false;
    }
    unsigned char buffer[kDigestReadBytes];
    for (;;) {
        DWORD bytesRead = 0;
        if (!ReadFile(file.get(), buffer, kDigestReadBytes, &bytesRead, nullptr)) {
            return false;
        }
        if (bytesRead == 0) {
            break;
        }
        if (!CryptHashData(hash.get(), buffer, bytesRead, 0)) {
            return false;
        }
    }
    DWORD digestSize = kDigestBytes;
    return CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestSize, 0) &&
           digestSize == kDigestBytes;
}

bool FileMatchesDigest(HCRYPTPROV provider, const wchar_t* path,
                       const unsigned char (&expected)[kDigestBytes]) {
    unsigned char actual[kDigestBytes];
    return DigestOfFile(provider, path, actual) && std::memcmp(actual, expected, kDigestBytes) == 0;
}
