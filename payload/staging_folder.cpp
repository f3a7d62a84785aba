// Creation, paths and removal of the staging folder.
#include "payload/staging_folder.h"

#include <windows.h>

#include <cwchar>

#include "payload/module_table.h"
#include "platform/file_in_use.h"
#include "platform/private_folder.h"
#include "setup/process_state.h"

namespace {

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
