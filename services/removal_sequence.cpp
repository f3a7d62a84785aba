#include "services/removal_sequence.h"

#include <windows.h>
// These need windows.h first.
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <utility>
#include <vector>

#include "platform/file_in_use.h"
#include "platform/link_guard.h"
#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "services/components.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/product_paths.h"

static_assert(kPathChars == MAX_PATH, "the shell's path functions write MAX_PATH characters");

namespace {

// As the old files: a read-only shortcut (administrators lock icons so) goes
// too, one another program holds is waited for a moment, and a link put in its
// place is deleted itself.
void DeleteShortcut(const wchar_t* path) {
    wchar_t folderPath[kPathChars];
    HeldFolder folder;
    if (ParentFolder(path, folderPath) && OpenFolderFollowingLinks(folderPath, &folder)) {
        const wchar_t* name = path + wcslen(folderPath) + 1;
        RetryWhileFileInUse([&] { return DeleteFileUnfollowed(folder, name); });
    }
}

// A shortcut folder that cannot be obtained, or a name that would not fit, skips
// that shortcut rather than deleting something else.
void DeleteShortcuts(const wchar_t* shortcutName) {
    wchar_t path[kPathChars];
    if (GetStartMenuShortcutPath(shortcutName, path)) {
        DeleteShortcut(path);
    }
    if (GetDesktopShortcutPath(shortcutName, path)) {
        DeleteShortcut(path);
    }
}

// The old install folder with every file directly in it opened for deletion.
struct HeldInstallFolder {
    HeldFolder folder;
    std::vector<ScopedFileHandle> files;
};

// Calls visit with each entry directly in folder but "." and "..", until one
// visit fails. False, with the last error set, when a visit failed or the
// folder could not be searched; an empty folder is no failure.
template <typename Visit>
bool VisitFolderEntries(const wchar_t* folder, Visit visit) {
    wchar_t pattern[kPathChars];
    if (!FormatText(pattern, L"%s\\*.*", folder)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW(pattern, &entry));
    if (!search) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0 &&
            !visit(entry)) {
            return false;
        }
    } while (FindNextFileW(search.get(), &entry));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// Known before anything is touched: a file that another program holds
// without delete sharing, or a subfolder, would otherwise keep the folder
// after both services are gone. Held so, no program can newly open a file
// in a way that stops its deletion. A folder that does not exist holds nothing.
bool HoldOldInstallFolder(const wchar_t* path, HeldInstallFolder* held) {
    if (!PathFileExistsW(path)) {
        return true;
    }
    if (!OpenFolderFollowingLinks(path, &held->folder)) {
        return false;
    }
    return VisitFolderEntries(path, [held](const WIN32_FIND_DATAW& entry) {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            SetLastError(ERROR_DIR_NOT_EMPTY);
            return false;
        }
        ScopedFileHandle file;
        if (!RetryWhileFileInUse(
                [&] { return OpenFileForDeletion(held->folder, entry.cFileName, &file); })) {
            return false;
        }
        held->files.push_back(std::move(file));
        return true;
    });
}

// The held files go when their handles close; one that still cannot be
// deleted keeps the folder, and that is the failure.
bool RemoveOldInstallFolder(const wchar_t* path, HeldInstallFolder* held) {
    for (const ScopedFileHandle& file : held->files) {
        RetryWhileFileInUse([&file] { return DeleteOpenedFile(file.get()); });
    }
    held->files.clear();
    held->folder.handle.reset();
    if (PathFileExistsW(path) &&
        !RetryWhileFolderInUse([path] { return RemoveDirectoryW(path) != FALSE; })) {
        AppendLogLine(L"インストール先ディレクトリを削除できません。");
        AppendOsMessage();
        return false;
    }
    return true;
}

// Every file directly in a data folder, as far as the budget allows: a
// standard user may fill the folder with files and hold them. Access denied
// is final there. Subfolders and links to elsewhere stay.
void DeleteDataFolderFiles(const HeldFolder& folder, const RetryBudget& budget) {
    VisitFolderEntries(folder.path, [&](const WIN32_FIND_DATAW& entry) {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            RetryWithin(budget, {ERROR_SHARING_VIOLATION},
                        [&] { return DeleteFileUnfollowed(folder, entry.cFileName); });
        }
        return true;
    });
}

// The maker folder above the old install folder goes when nothing else is in it;
// a drive or share root is never a candidate.
void RemoveParentFolder(const wchar_t* folder) {
    wchar_t parent[kPathChars];
    if (ParentFolder(folder, parent) && IsRemovableFolder(parent)) {
        RetryWhileFileInUse([&parent] { return RemoveDirectoryW(parent) != FALSE; });
    }
}

// <special folder>\ORBEK\Portvane and then <special folder>\ORBEK, when empty.
// A standard user may create both, and may put either back as a link after a
// removal: then nothing in or through it is touched.
void RemoveDataFolder(int csidl) {
    wchar_t specialFolder[kPathChars] = L"";
    HeldFolder special;
    HeldFolder maker;
    if (!SHGetSpecialFolderPathW(nullptr, specialFolder, csidl, FALSE) ||
        specialFolder[0] == L'\0' || !OpenFolderFollowingLinks(specialFolder, &special) ||
        !OpenSubfolderUnfollowed(special, kMakerWord, &maker)) {
        return;
    }
    const RetryBudget budget;
    {
        HeldFolder product;
        if (OpenSubfolderUnfollowed(maker, kProductWord, &product)) {
            DeleteDataFolderFiles(product, budget);
        }
    }
    RetryWithin(budget, {ERROR_SHARING_VIOLATION, ERROR_DIR_NOT_EMPTY},
                [&maker] { return DeleteSubfolderUnfollowed(maker, kProductWord); });
    maker.handle.reset();
    RetryWithin(budget, {ERROR_SHARING_VIOLATION},
                [&special] { return DeleteSubfolderUnfollowed(special, kMakerWord); });
}

bool DeleteUninstallKey(const wchar_t* uninstallKeyName) {
    ScopedRegistryKey uninstallRoot;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRootKey, 0, KEY_ALL_ACCESS,
                      uninstallRoot.receive()) != ERROR_SUCCESS) {
        return false;
    }
    const LONG status = RegDeleteKeyW(uninstallRoot.get(), uninstallKeyName);
    uninstallRoot.reset();
    // Already gone, for example deleted by another program meanwhile: the way is clear.
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ||
        status == ERROR_NO_MORE_FILES) {
        return true;
    }
    SetLastError(static_cast<DWORD>(status));
    AppendLogLine(L"アプリケーションのインストール情報を削除できません。");
    AppendOsMessage();
    return false;
}

}  // namespace

bool RunRemovalSequence(const RemovalContext& context) {
    // Nothing is rolled back, so what can fail is found out before the first
    // service stops: past that point a failure leaves the machine unprotected.
    HeldInstallFolder oldFolder;
    if (!HoldOldInstallFolder(context.oldInstallFolder, &oldFolder)) {
        AppendLogLine(L"インストール先ディレクトリを削除できません。");
        AppendOsMessage();
        return false;
    }
    if (!StopComponents()) {
        return false;
    }
    DeleteComponents();
    DeleteShortcuts(context.shortcutName);

    if (!RemoveOldInstallFolder(context.oldInstallFolder, &oldFolder)) {
        return false;
    }
    RemoveParentFolder(context.oldInstallFolder);

    RemoveDataFolder(CSIDL_COMMON_APPDATA);
    RemoveDataFolder(CSIDL_LOCAL_APPDATA);
    return DeleteUninstallKey(context.uninstallKeyName);
}
