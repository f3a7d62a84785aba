#include "services/previous_installation.h"

#include <io.h>
#include <windows.h>

#include <cwchar>

#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "services/components.h"
#include "services/removal_sequence.h"
#include "services/uninstall_command.h"
#include "setup/process_state.h"
#include "setup/product_paths.h"
#include "setup/strings.h"

namespace {

constexpr size_t kEntryNameChars = 1024;

// The entry as the registry stores it, whatever the case of its name.
bool FindUninstallEntry(wchar_t (&entryName)[kEntryNameChars]) {
    ScopedRegistryKey uninstallRoot;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRootKey, 0, KEY_READ,
                      uninstallRoot.receive()) != ERROR_SUCCESS) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[kEntryNameChars];
        wchar_t className[kEntryNameChars];
        DWORD nameChars = kEntryNameChars;
        DWORD classChars = kEntryNameChars;
        const LONG status = RegEnumKeyExW(uninstallRoot.get(), index, name, &nameChars, nullptr,
                                          className, &classChars, nullptr);
        // A key deleted under the enumeration would answer every later index too.
        if (status == ERROR_NO_MORE_ITEMS || status == ERROR_KEY_DELETED) {
            return false;
        }
        // Other errors (a name too long for the buffer) skip just that subkey.
        if (status == ERROR_SUCCESS && _wcsicmp(name, kUninstallKeyName) == 0) {
            return FormatText(entryName, L"%s", name);
        }
    }
}

bool ReadUninstallEntry(const wchar_t* entryName, RemovalContext* context) {
    wchar_t entryPath[kEntryNameChars];
    if (!FormatText(entryPath, L"%s\\%s", kUninstallRootKey, entryName)) {
        return false;
    }
    ScopedRegistryKey entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, entryPath, 0, KEY_READ, entry.receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    wchar_t commandLine[kUninstallStringChars] = {};
    DWORD dataBytes = sizeof(commandLine);
    if (RegQueryValueExW(entry.get(), L"UninstallString", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(commandLine), &dataBytes) != ERROR_SUCCESS) {
        return false;
    }
    return TerminateUninstallString(commandLine, dataBytes) &&
           ParseUninstallCommand(commandLine, context);
}

// Without an entry, the default folder or a registered service still betrays an
// earlier installation (for example one whose entry was deleted by hand).
bool DefaultInstallationPresent(const wchar_t* productFolder) {
    return (productFolder[0] != L'\0' && _waccess(productFolder, 0) == 0) ||
           AnyComponentRegistered();
}

// The default folder passes the same test as one read from an entry.
bool DefaultRemovalContext(const wchar_t* productFolder, RemovalContext* context) {
    *context = RemovalContext{};
    return IsRemovableFolder(productFolder) &&
           FormatText(context->oldInstallFolder, L"%s", productFolder) &&
           FormatText(context->uninstallKeyName, L"%s", kUninstallKeyName) &&
           FormatText(context->shortcutName, L"%s", ProductDisplayName());
}

}  // namespace

bool RemovePreviousInstallation() {
    RemovalContext context;
    wchar_t entryName[kEntryNameChars];
    if (FindUninstallEntry(entryName)) {
        return ReadUninstallEntry(entryName, &context) && RunRemovalSequence(context);
    }
    wchar_t productFolder[kPathChars];
    GetProductFolderPath(productFolder);
    if (!DefaultInstallationPresent(productFolder)) {
        return true;
    }
    // Services registered but no folder known: nothing safe to remove.
    return DefaultRemovalContext(productFolder, &context) && RunRemovalSequence(context);
}

bool FindPreviousInstallFolder(wchar_t (&folder)[kPathChars]) {
    RemovalContext context;
    wchar_t entryName[kEntryNameChars];
    if (FindUninstallEntry(entryName) && ReadUninstallEntry(entryName, &context)) {
        return FormatText(folder, L"%s", context.oldInstallFolder);
    }
    return GetProductFolderPath(folder);
}
