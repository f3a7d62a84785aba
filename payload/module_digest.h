// SHA-256 digests of the packed payload modules: the build's list, carried as
// a resource of the program, and the digest of bytes in memory, computed with
// the Windows crypto API.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include "payload/module_table.h"
#include "platform/scoped_handle.h"

constexpr size_t kDigestBytes = 32;

// One digest per row of the module table, in table order.
struct ModuleDigests {
    unsigned char rows[kModuleCount][kDigestBytes];
};

// Copies the digest resource of module. False when it is missing or does not
// hold exactly one digest per row.
bool LoadModuleDigests(HMODULE module, ModuleDigests& digests);

struct CryptProviderTraits {
    static HCRYPTPROV Invalid() { return 0; }
    static bool IsValid(HCRYPTPROV h) { return h != 0; }
    static void Close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
using ScopedCryptProvider = ScopedHandle<HCRYPTPROV, CryptProviderTraits>;

// A provider of SHA-256 hashes. Acquiring one costs milliseconds, so all the
// modules are hashed with one provider.
ScopedCryptProvider AcquireDigestProvider();

// SHA-256 of size bytes at bytes.
bool DigestOfBytes(HCRYPTPROV provider, const void* bytes, DWORD size,
                   unsigned char (&digest)[kDigestBytes]);

// True when the bytes have the expected digest.
bool BytesMatchDigest(HCRYPTPROV provider, const void* bytes, DWORD size,
                      const unsigned char (&expected)[kDigestBytes]);
