#include "services/earlier_executables.h"

#include <windows.h>

#include <cwchar>

#include "platform/file_in_use.h"
#include "platform/private_folder.h"
#include "platform/scoped_handle.h"
#include "services/executable_placement.h"
#include "services/run_journal.h"
#include "services/uninstall_command.h"
#include "setup/install_log.h"
#include "setup/product_paths.h"

namespace {

// A few names past others' folders of the same name; a collision at every one
// is no accident.
constexpr DWORD kFolderNameAttempts = 16;

// The private folder where the earlier service executables wait until the new
// ones run, and what it is; empty when there is none.
wchar_t g_folder[kPathChars] = L"";
FileIdentity g_identity = {};
bool g_identified = false;

bool IsAsideFolderName(const wchar_t* folder) {
    const wchar_t* name = wcsrchr(folder, L'\\');
    return name != nullptr &&
           _wcsnicmp(name + 1, kAsideFolderPrefix, wcslen(kAsideFolderPrefix)) == 0;
}

// No standard user can have made anything directly in the maker folder.
bool IsInMakerFolder(const wchar_t* folder) {
    wchar_t maker[kPathChars];
    wchar_t parent[kPathChars];
    return GetMakerFolderPath(maker) && ParentFolder(folder, parent) &&
           _wcsicmp(maker, parent) == 0;
}

void Unlist() {
    WriteAsideFolderJournal(L"");
    g_folder[0] = L'\0';
    g_identified = false;
}

// What is still held (a loaded library) goes at the next restart, by its path:
// no standard user can rename or replace any folder on it, the maker folder's
// or a drive's root and the private folder itself.
void DeleteNowOrAtRestart(const HeldFolder& folder, const wchar_t* name) {
    wchar_t path[kPathChars];
    if (!RetryWhileFileInUse([&] { return DeleteFileUnfollowed(folder, name); }) &&
        JoinPath(path, folder.path, name)) {
        MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

// Every file in the held folder (the earlier executables, and what the removal
// renamed there but could not delete yet), listed and deleted through the
// folder as held.
void DeleteFilesIn(const HeldFolder& folder) {
    alignas(FILE_ID_BOTH_DIR_INFO) BYTE entries[16 * 1024];
    for (auto kind = FileIdBothDirectoryRestartInfo;
         GetFileInformationByHandleEx(folder.handle.get(), kind, entries, sizeof(entries));
         kind = FileIdBothDirectoryInfo) {
        for (const BYTE* at = entries;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            wchar_t name[kNameChars];
            if ((entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                FormatText(name, L"%.*s", static_cast<int>(entry->FileNameLength / sizeof(wchar_t)),
                           entry->FileName)) {
                DeleteNowOrAtRestart(folder, name);
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            at += entry->NextEntryOffset;
        }
    }
}

}  // namespace

bool AdoptEarlierExecutables() {
    if (g_folder[0] != L'\0') {
        return true;
    }
    if (!ReadAsideFolderJournal(g_folder, &g_identity, &g_identified)) {
        g_folder[0] = L'\0';
        return false;
    }
    if (IsAsideFolderName(g_folder) && GetFileAttributesW(g_folder) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    // Never made (the run died before), or not of setup's naming: nothing to take over.
    Unlist();
    return false;
}

bool MakeEarlierExecutablesFolder(const wchar_t* parent, HeldFolder* folder) {
    const DWORD seed = GetTickCount();
    for (DWORD attempt = 0; attempt < kFolderNameAttempts; ++attempt) {
        wchar_t path[kPathChars];
        if (!FormatText(path, L"%s\\%s%04X.tmp", parent, kAsideFolderPrefix,
                        static_cast<unsigned>((seed + attempt) & 0xFFFF))) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            break;
        }
        // Listed before it exists: a run that dies at any call leaves nothing
        // the next run does not know of.
        wcscpy_s(g_folder, path);
        g_identified = false;
        WriteAsideFolderJournal(path);
        ScopedFileHandle made = CreatePrivateFolder(path);
        if (made) {
            g_identified = IdentityOf(made.get(), &g_identity);
            if (g_identified) {
                WriteAsideFolderIdentity(g_identity);
            }
            made.reset();
            return OpenEarlierExecutablesFolder(folder);
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    const DWORD error = GetLastError();
    Unlist();
    SetLastError(error);
    return false;
}

bool OpenEarlierExecutablesFolder(HeldFolder* folder) {
    if (g_folder[0] == L'\0') {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (!g_identified && !IsInMakerFolder(g_folder)) {
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    return OpenIdentifiedFolder(g_folder, g_identified ? &g_identity : nullptr, folder);
}

bool EarlierExecutableWaits(const wchar_t* fileName, const wchar_t* path) {
    HeldFolder folder;
    ScopedFileHandle earlier;
    if (!OpenEarlierExecutablesFolder(&folder) || !OpenFileForReading(folder, fileName, &earlier)) {
        return false;
    }
    const ScopedFileHandle registered(CreateFileW(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, 0, nullptr));
    FileIdentity earlierIdentity;
    FileIdentity registeredIdentity;
    return !registered || !IdentityOf(earlier.get(), &earlierIdentity) ||
           !IdentityOf(registered.get(), &registeredIdentity) ||
           !IsSameIdentity(earlierIdentity, registeredIdentity);
}

bool PutEarlierExecutableIn(const wchar_t* fileName, const wchar_t* folder) {
    HeldFolder aside;
    ScopedFileHandle earlier;
    return OpenEarlierExecutablesFolder(&aside) && OpenFileForReading(aside, fileName, &earlier) &&
           PlaceCopyOf(earlier.get(), folder, fileName);
}

void DiscardEarlierExecutables() {
    if (!AdoptEarlierExecutables()) {
        return;
    }
    HeldFolder folder;
    if (!OpenEarlierExecutablesFolder(&folder)) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            AppendLogLine(L"%s を削除できません。", g_folder);
            SetLastError(error);
            AppendOsMessage();
        }
        Unlist();
        return;
    }
    DeleteFilesIn(folder);
    // Gone once the handle closes, when empty; one that still holds a file
    // goes at the next restart and stays listed until then, for a run before
    // it to reach as this one did.
    DeleteOpenedFile(folder.handle.get());
    folder.handle.reset();
    if (GetFileAttributesW(g_folder) != INVALID_FILE_ATTRIBUTES) {
        MoveFileExW(g_folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    wchar_t parent[kPathChars];
    if (ParentFolder(g_folder, parent) && IsRemovableFolder(parent)) {
        RemoveDirectoryW(parent);
    }
    Unlist();
}
