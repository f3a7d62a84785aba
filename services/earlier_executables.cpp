#include "services/earlier_executables.h"

#include <windows.h>

#include <cwchar>

#include "platform/file_in_use.h"
#include "platform/scoped_handle.h"
#include "services/executable_placement.h"
#include "services/run_journal.h"
#include "services/uninstall_command.h"

namespace {

// The private folder where the earlier service executables wait until the new
// ones run; empty when there is none.
wchar_t g_earlierExecutablesFolder[kPathChars] = L"";

// Only a folder of setup's own making, whatever the journal says.
bool IsAsideFolderName(const wchar_t* folder) {
    const wchar_t* name = wcsrchr(folder, L'\\');
    return name != nullptr &&
           _wcsnicmp(name + 1, kAsideFolderPrefix, wcslen(kAsideFolderPrefix)) == 0;
}

// Every file in the folder (the earlier executables, and what a run that died
// renamed there but did not delete yet), the folder, and its parent when that
// is now empty, as the removal would have removed it.
void DeleteFolderAndParentNowOrAtRestart(const wchar_t* folder) {
    wchar_t pattern[kPathChars];
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FormatText(pattern, L"%s\\*", folder) ? FindFirstFileW(pattern, &entry)
                                                                  : INVALID_HANDLE_VALUE);
    for (bool found = search.valid(); found; found = FindNextFileW(search.get(), &entry) != FALSE) {
        wchar_t path[kPathChars];
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            JoinPath(path, folder, entry.cFileName) &&
            !RetryWhileFileInUse([&] { return DeleteFileW(path) != FALSE; })) {
            MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
    search.reset();
    wchar_t parent[kPathChars];
    if (!RemoveDirectoryW(folder)) {
        MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } else if (ParentFolder(folder, parent) && IsRemovableFolder(parent)) {
        RemoveDirectoryW(parent);
    }
}

}  // namespace

bool AdoptEarlierExecutables() {
    if (g_earlierExecutablesFolder[0] != L'\0') {
        return true;
    }
    if (!ReadAsideFolderJournal(g_earlierExecutablesFolder)) {
        return false;
    }
    if (IsAsideFolderName(g_earlierExecutablesFolder)) {
        return true;
    }
    // Not of setup's making: never touched, and no longer listed.
    WriteAsideFolderJournal(L"");
    g_earlierExecutablesFolder[0] = L'\0';
    return false;
}

const wchar_t* EarlierExecutablesFolder() {
    return g_earlierExecutablesFolder;
}

void KeepEarlierExecutables(const wchar_t* asideFolder) {
    wcscpy_s(g_earlierExecutablesFolder, asideFolder);
    WriteAsideFolderJournal(asideFolder);
}

bool EarlierExecutableWaits(const wchar_t* fileName, const wchar_t* path) {
    wchar_t earlier[kPathChars];
    return g_earlierExecutablesFolder[0] != L'\0' &&
           JoinPath(earlier, g_earlierExecutablesFolder, fileName) &&
           GetFileAttributesW(earlier) != INVALID_FILE_ATTRIBUTES && !IsSameFile(earlier, path);
}

bool PutEarlierExecutableAt(const wchar_t* fileName, const wchar_t* target) {
    wchar_t earlier[kPathChars];
    if (g_earlierExecutablesFolder[0] == L'\0' ||
        !JoinPath(earlier, g_earlierExecutablesFolder, fileName)) {
        return false;
    }
    return RetryWhileFileInUse([&] {
        SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
        return MoveFileExW(earlier, target,
                           MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING |
                               MOVEFILE_WRITE_THROUGH) != FALSE;
    });
}

void DiscardEarlierExecutables() {
    if (!AdoptEarlierExecutables()) {
        return;
    }
    DeleteFolderAndParentNowOrAtRestart(g_earlierExecutablesFolder);
    WriteAsideFolderJournal(L"");
    g_earlierExecutablesFolder[0] = L'\0';
}
