// Creation, paths and removal of the staging folder.
#include "payload/staging_folder.h"

#include <windows.h>

#include <sddl.h>
#include <winternl.h>

#include <cwchar>

#include "payload/module_table.h"
#include "platform/file_in_use.h"
#include "platform/system_library.h"
#include "setup/process_state.h"

namespace {

// Full control for Administrators and SYSTEM, passed on to the files inside;
// "P" keeps the temporary folder's entries (the user's own) out of it.
constexpr const wchar_t* kPrivateFolderDacl = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Held open without delete sharing while the folder exists: the user owns the
// temporary folder and could otherwise rename the staging folder away and put
// a folder of their own under its name.
ScopedFileHandle g_stagingFolderHandle;

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                              PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                              ULONG, PVOID, ULONG);

// The object manager's name of a Win32 path: "\??\" before a full drive
// path, in place of "\\?\" or "\\.\", and "\??\UNC\" in place of a
// share's "\\".
bool NtPathOf(const wchar_t* path, wchar_t (&out)[kPathChars + 8]) {
    wchar_t full[kPathChars];
    const DWORD length = GetFullPathNameW(path, kPathChars, full, nullptr);
    if (length == 0 || length >= kPathChars) {
        return false;
    }
    if (wcsncmp(full, L"\\\\?\\", 4) == 0 || wcsncmp(full, L"\\\\.\\", 4) == 0) {
        return FormatText(out, L"\\??\\%s", full + 4);
    }
    if (wcsncmp(full, L"\\\\", 2) == 0) {
        return FormatText(out, L"\\??\\UNC\\%s", full + 2);
    }
    return FormatText(out, L"\\??\\%s", full);
}

// Characters a module's staging path adds to the folder path: "\" and the
// longest file name of the table; the in-place decode's "\UAS1A2B.tmp" is shorter.
size_t LongestModuleSuffix() {
    size_t longest = 0;
    for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
        const size_t length = wcslen(row->fileName);
        longest = length > longest ? length : longest;
    }
    return 1 + longest;
}

}  // namespace

ScopedLocalMemory PrivateFolderDescriptor() {
    ScopedLocalMemory descriptor;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        kPrivateFolderDacl, SDDL_REVISION_1,
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()), nullptr);
    return descriptor;
}

ScopedFileHandle CreatePrivateFolder(const wchar_t* path) {
    ScopedFileHandle folder;
    ScopedLocalMemory descriptor = PrivateFolderDescriptor();
    wchar_t ntPath[kPathChars + 8];
    const auto ntCreateFile = SystemFunction<NtCreateFileFunction>(L"ntdll.dll", "NtCreateFile");
    if (!descriptor || !NtPathOf(path, ntPath) || ntCreateFile == nullptr) {
        return folder;
    }
    UNICODE_STRING name;
    name.Length = static_cast<USHORT>(wcslen(ntPath) * sizeof(wchar_t));
    name.MaximumLength = sizeof(ntPath);
    name.Buffer = ntPath;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, descriptor.get());
    IO_STATUS_BLOCK status;
    HANDLE created = INVALID_HANDLE_VALUE;
    // The folder is made and opened in one step: between a CreateDirectoryW
    // and an open of the name, the folder could be swapped for another. A
    // folder of that name planted before must not be used at all: it would
    // carry its maker's access.
    if (NT_SUCCESS(ntCreateFile(&created, FILE_LIST_DIRECTORY | SYNCHRONIZE, &attributes, &status,
                                nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                FILE_CREATE, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT,
                                nullptr, 0))) {
        folder.reset(created);
    }
    return folder;
}

bool CreateStagingFolder() {
    g_stagingFolderPath[0] = L'\0';
    wchar_t temporaryFolder[kPathChars];
    const DWORD length = GetTempPathW(kPathChars, temporaryFolder);
    if (length == 0 || length >= kPathChars) {
        return false;
    }
    wchar_t folder[kPathChars];
    if (GetTempFileNameW(temporaryFolder, L"uas", 0, folder) == 0) {
        return false;
    }
    DeleteFileW(folder);
    if (wcslen(folder) + LongestModuleSuffix() >= kPathChars) {
        return false;
    }
    g_stagingFolderHandle = CreatePrivateFolder(folder);
    if (!g_stagingFolderHandle) {
        return false;
    }
    wcscpy(g_stagingFolderPath, folder);
    return true;
}

bool StagingPathOf(const wchar_t* fileName, wchar_t (&out)[kPathChars]) {
    const size_t length = wcslen(g_stagingFolderPath);
    const bool endsInSeparator = length > 0 && g_stagingFolderPath[length - 1] == L'\\';
    return FormatText(out, endsInSeparator ? L"%s%s" : L"%s\\%s", g_stagingFolderPath, fileName);
}

void RemoveStagingFolder() {
    if (g_stagingFolderPath[0] == L'\0') {
        return;
    }
    // One wait for the whole folder: at the end of the session Windows gives
    // the program about five seconds in all.
    const RetryBudget budget;
    for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
        wchar_t path[kPathChars];
        if (StagingPathOf(row->fileName, path)) {
            RetryWithin(budget, {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED},
                        [&path] { return DeleteFileW(path) != FALSE; });
        }
    }
    g_stagingFolderHandle.reset();
    RetryWithin(budget, {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_DIR_NOT_EMPTY},
                [] { return RemoveDirectoryW(g_stagingFolderPath) != FALSE; });
    g_stagingFolderPath[0] = L'\0';
}
