// Creation, paths and removal of the staging folder.
#include "payload/staging_folder.h"

#include <windows.h>

#include <sddl.h>

#include <cwchar>

#include "payload/module_table.h"
#include "platform/file_in_use.h"
#include "setup/process_state.h"

namespace {

// Full control for Administrators and SYSTEM, passed on to the files inside;
// "P" keeps the temporary folder's entries (the user's own) out of it.
constexpr const wchar_t* kPrivateFolderDacl = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Held open without delete sharing while the folder exists: the user owns the
// temporary folder and could otherwise rename the staging folder away and put
// a folder of their own under its name.
ScopedFileHandle g_stagingFolderHandle;

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

bool CreatePrivateFolder(const wchar_t* path) {
    ScopedLocalMemory descriptor = PrivateFolderDescriptor();
    if (!descriptor) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    // A folder of that name planted since the name was made must not be
    // used: it would carry its maker's access.
    return CreateDirectoryW(path, &attributes) != FALSE;
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
    if (wcslen(folder) + LongestModuleSuffix() >= kPathChars || !CreatePrivateFolder(folder)) {
        return false;
    }
    wcscpy(g_stagingFolderPath, folder);
    g_stagingFolderHandle.reset(CreateFileW(folder, FILE_LIST_DIRECTORY,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return g_stagingFolderHandle.valid();
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
    for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
        wchar_t path[kPathChars];
        if (StagingPathOf(row->fileName, path)) {
            RetryWhileFileInUse([&path] { return DeleteFileW(path) != FALSE; });
        }
    }
    g_stagingFolderHandle.reset();
    RetryWhileFileInUse([] { return RemoveDirectoryW(g_stagingFolderPath) != FALSE; });
    g_stagingFolderPath[0] = L'\0';
}
