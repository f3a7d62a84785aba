#include "setup/product_paths.h"

#include <windows.h>
#include <shlobj.h>

#include "setup/process_state.h"
#include "setup/strings.h"

namespace {

// The per-user folder (no token, current path). A 32-bit process on 64-bit
// Windows is given the 32-bit Program Files folder. An empty answer is refused:
// joined to it, a name would lead into the root of the current drive.
bool GetSystemFolder(int csidl, wchar_t (&path)[kPathChars]) {
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path)) || path[0] == L'\0') {
        path[0] = L'\0';
        return false;
    }
    return true;
}

bool GetShortcutPath(int csidl, const wchar_t* shortcutName, wchar_t (&path)[kPathChars]) {
    wchar_t folder[kPathChars];
    if (!GetSystemFolder(csidl, folder)) {
        path[0] = L'\0';
        return false;
    }
    return FormatText(path, L"%s\\%s.lnk", folder, shortcutName);
}

}  // namespace

bool GetMakerFolderPath(wchar_t (&path)[kPathChars]) {
    wchar_t programFiles[kPathChars];
    if (!GetSystemFolder(CSIDL_PROGRAM_FILES, programFiles)) {
        path[0] = L'\0';
        return false;
    }
    return JoinPath(path, programFiles, kMakerWord);
}

bool GetProductFolderPath(wchar_t (&path)[kPathChars]) {
    wchar_t makerFolder[kPathChars];
    if (!GetMakerFolderPath(makerFolder)) {
        path[0] = L'\0';
        return false;
    }
    return JoinPath(path, makerFolder, kProductWord);
}

bool GetStartMenuShortcutPath(wchar_t (&path)[kPathChars]) {
    return GetShortcutPath(CSIDL_PROGRAMS, ProductDisplayName(), path);
}

bool GetDesktopShortcutPath(wchar_t (&path)[kPathChars]) {
    return GetShortcutPath(CSIDL_DESKTOP, ProductDisplayName(), path);
}

bool GetStartMenuShortcutPath(const wchar_t* shortcutName, wchar_t (&path)[kPathChars]) {
    return GetShortcutPath(CSIDL_PROGRAMS, shortcutName, path);
}

bool GetDesktopShortcutPath(const wchar_t* shortcutName, wchar_t (&path)[kPathChars]) {
    return GetShortcutPath(CSIDL_DESKTOP, shortcutName, path);
}
