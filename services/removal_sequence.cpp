#include "services/removal_sequence.h"

#include <windows.h>
// These need windows.h first.
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "services/components.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/product_paths.h"

static_assert(kPathChars == MAX_PATH, "the shell's path functions write MAX_PATH characters");

namespace {

// A shortcut folder that cannot be obtained, or a name that would not fit, skips
// that shortcut rather than deleting something else.
void DeleteShortcuts(const wchar_t* shortcutName) {
    wchar_t path[kPathChars];
    if (GetStartMenuShortcutPath(shortcutName, path)) {
        DeleteFileW(path);
    }
    if (GetDesktopShortcutPath(shortcutName, path)) {
        DeleteFileW(path);
    }
}

// Deletes every file directly in folder; subfolders and files that cannot be
// deleted stay. A folder that cannot be searched is passed over.
void DeleteFolderFiles(const wchar_t* folder) {
    wchar_t pattern[kPathChars];
    if (!FormatText(pattern, L"%s\\*.*", folder)) {
        return;
    }
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW(pattern, &entry));
    if (!search) {
        return;
    }
    do {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) {
            continue;
        }
        wchar_t path[kPathChars];
        if (JoinPath(path, folder, entry.cFileName)) {
            DeleteFileW(path);
        }
    } while (FindNextFileW(search.get(), &entry));
}

// The maker folder above the old install folder goes when nothing else is in it;
// a drive or share root is never a candidate.
void RemoveParentFolder(const wchar_t* folder) {
    wchar_t parent[kPathChars];
    if (ParentFolder(folder, parent) && IsRemovableFolder(parent)) {
        RemoveDirectoryW(parent);
    }
}

// <special folder>\ORBEK\Portvane and then <special folder>\ORBEK, when empty.
void RemoveDataFolder(int csidl) {
    wchar_t makerFolder[kPathChars] = L"";
    if (!SHGetSpecialFolderPathW(nullptr, makerFolder, csidl, FALSE) || makerFolder[0] == L'\0' ||
        !PathAppendW(makerFolder, kMakerWord)) {
        return;
    }
    wchar_t productFolder[kPathChars];
    if (!FormatText(productFolder, L"%s", makerFolder) ||
        !PathAppendW(productFolder, kProductWord)) {
        return;
    }
    DeleteFolderFiles(productFolder);
    RemoveDirectoryW(productFolder);
    RemoveDirectoryW(makerFolder);
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

    DeleteFolderFiles(context.oldInstallFolder);
    if (PathFileExistsW(context.oldInstallFolder) && !RemoveDirectoryW(context.oldInstallFolder)) {
        AppendLogLine(L"インストール先ディレクトリを削除できません。");
        AppendOsMessage();
        return false;
    }
    RemoveParentFolder(context.oldInstallFolder);

    RemoveDataFolder(CSIDL_COMMON_APPDATA);
    RemoveDataFolder(CSIDL_LOCAL_APPDATA);
    return DeleteUninstallKey(context.uninstallKeyName);
}
