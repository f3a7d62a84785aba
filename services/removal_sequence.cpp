#include "services/removal_sequence.h"

#include <windows.h>
// These need windows.h first.
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

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

// Deletes every file directly in folder, waiting a moment for each one that
// another program holds; subfolders, links the system follows anyway and
// files that cannot be deleted stay. A folder that cannot be searched is
// passed over.
void DeleteFolderFiles(const HeldFolder& folder) {
    wchar_t pattern[kPathChars];
    if (!FormatText(pattern, L"%s\\*.*", folder.path)) {
        return;
    }
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW(pattern, &entry));
    if (!search) {
        return;
    }
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            RetryWhileFileInUse([&] { return DeleteFileUnfollowed(folder, entry.cFileName); });
        }
    } while (FindNextFileW(search.get(), &entry));
}

bool RemoveOldInstallFolder(const wchar_t* path) {
    HeldFolder folder;
    if (OpenFolderFollowingLinks(path, &folder)) {
        DeleteFolderFiles(folder);
    }
    folder.handle.reset();
    if (PathFileExistsW(path) &&
        !RetryWhileFolderInUse([path] { return RemoveDirectoryW(path) != FALSE; })) {
        AppendLogLine(L"インストール先ディレクトリを削除できません。");
        AppendOsMessage();
        return false;
    }
    return true;
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
    {
        HeldFolder product;
        if (OpenSubfolderUnfollowed(maker, kProductWord, &product)) {
            DeleteFolderFiles(product);
        }
    }
    RetryWhileFolderInUse([&maker] { return DeleteSubfolderUnfollowed(maker, kProductWord); });
    maker.handle.reset();
    RetryWhileFileInUse([&special] { return DeleteSubfolderUnfollowed(special, kMakerWord); });
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
    RemoveComponents();
    DeleteShortcuts(context.shortcutName);

    if (!RemoveOldInstallFolder(context.oldInstallFolder)) {
        return false;
    }
    RemoveParentFolder(context.oldInstallFolder);

    RemoveDataFolder(CSIDL_COMMON_APPDATA);
    RemoveDataFolder(CSIDL_LOCAL_APPDATA);
    return DeleteUninstallKey(context.uninstallKeyName);
}
