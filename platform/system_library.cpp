#include "platform/system_library.h"

#include "platform/text_format.h"

void RestrictDllSearchToSystem32() {
    // Looked up at run time: Windows 7 without KB2533623 lacks it.
    using SetDefaultDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        SystemFunction<SetDefaultDirectoriesFunction>(L"kernel32", "SetDefaultDllDirectories");
    if (setDefaultDllDirectories == nullptr ||
        !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        // At least take the current folder out of the search.
        SetDllDirectoryW(L"");
    }
}

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t systemFolder[kPathChars];
    const UINT length = GetSystemDirectoryW(systemFolder, kPathChars);
    wchar_t path[kPathChars];
    if (length == 0 || length >= kPathChars || !JoinPath(path, systemFolder, fileName)) {
        return nullptr;
    }
    return LoadLibraryW(path);
}
