// The extraction sequence: per row, the packed resource is checked against
// the build's digest, written to its staging path and decoded there in place.
// The decoder is deterministic, so sound packed bytes give sound files.
#include "payload/extract.h"

#include "payload/lzma_file.h"
#include "payload/module_table.h"
#include "platform/scoped_handle.h"

bool WriteModuleResource(HMODULE module, const wchar_t* fileName, const wchar_t* resourceName,
                         HCRYPTPROV provider, const unsigned char (&digest)[kDigestBytes]) {
    HRSRC resource = FindResourceW(module, resourceName, L"MODULE");
    if (resource == nullptr) {
        return false;
    }
    const DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = size != 0 ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    wchar_t path[kPathChars];
    if (bytes == nullptr || !BytesMatchDigest(provider, bytes, size, digest) ||
        !StagingPathOf(fileName, path)) {
        return false;
    }
    ScopedFileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD written = 0;
    // A short write would leave a truncated stream that might still decode.
    if (!WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) {
        file.reset();
        DeleteFileW(path);
        return false;
    }
    return true;
}

bool ExtractPayloadFrom(HMODULE module) {
    ModuleDigests digests;
    if (!CreateStagingFolder() || !LoadModuleDigests(module, digests)) {
        return false;
    }
    const ScopedCryptProvider provider = AcquireDigestProvider();
    if (!provider) {
        return false;
    }
    for (size_t row = 0; kModuleTable[row].fileName != nullptr; ++row) {
        const PayloadModule& payloadModule = kModuleTable[row];
        wchar_t path[kPathChars];
        if (!StagingPathOf(payloadModule.fileName, path) ||
            !WriteModuleResource(module, payloadModule.fileName, payloadModule.resourceName,
                                 provider.get(), digests.rows[row]) ||
            !DecodeFile(path, path)) {
            return false;
        }
    }
    return true;
}

bool ExtractPayload() {
    return ExtractPayloadFrom(GetModuleHandleW(nullptr));
}
