#include "services/previous_installation.h"

#include <windows.h>
#include <io.h>

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

// ERROR_SUCCESS with the entry's "UninstallString" read whole and terminated,
// ERROR_FILE_NOT_FOUND when the value is missing, another code when the entry
// cannot be read.
LONG ReadUninstallString(const wchar_t* entryName, wchar_t (&commandLine)[kUninstallStringChars]) {
    wchar_t entryPath[kEntryNameChars];
    ScopedRegistryKey entry;
    if (!FormatText(entryPath, L"%s\\%s", kUninstallRootKey, entryName) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, entryPath, 0, KEY_READ, entry.receive()) !=
            ERROR_SUCCESS) {
        return ERROR_CANTOPEN;
    }
    DWORD dataBytes = sizeof(commandLine);
    const LONG status = RegQueryValueExW(entry.get(), L"UninstallString", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(commandLine), &dataBytes);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return TerminateUninstallString(commandLine, dataBytes) ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

// As ReadUninstallString, with the context filled from the command on success
// and ERROR_BAD_FORMAT for a command the removal may not follow.
LONG ReadUninstallEntry(const wchar_t* entryName, RemovalContext* context) {
    wchar_t commandLine[kUninstallStringChars] = {};
    const LONG read = ReadUninstallString(entryName, commandLine);
    if (read != ERROR_SUCCESS) {
        return read;
    }
    return ParseUninstallCommand(commandLine, context) ? ERROR_SUCCESS : ERROR_BAD_FORMAT;
}

// Without an entry, the default folder or a registered service still betrays an
// earlier installation (for example one whose entry was deleted by hand).
bool DefaultInstallationPresent(const wchar_t* productFolder) {
    return (productFolder[0] != L'\0' && _waccess(productFolder, 0) == 0) ||
           AnyComponentRegistered();
}

// The default folder passes the same test as one read from an entry.
bool DefaultRemovalContext(const wchar_t* productFolder, const wchar_t* uninstallKeyName,
                           RemovalContext* context) {
    *context = RemovalContext{};
    return IsRemovableFolder(productFolder) &&
           FormatText(context->oldInstallFolder, L"%s", productFolder) &&
           FormatText(context->uninstallKeyName, L"%s", uninstallKeyName) &&
           FormatText(context->shortcutName, L"%s", ProductDisplayName());
}

}  // namespace

bool RemovePreviousInstallation(bool (*beforeFirstStop)()) {
    RemovalContext context;
    wchar_t entryName[kEntryNameChars];
    const bool entryFound = FindUninstallEntry(entryName);
    const LONG read = entryFound ? ReadUninstallEntry(entryName, &context)
                                 : static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (read == ERROR_SUCCESS) {
        return RunRemovalSequence(context, beforeFirstStop);
    }
    if (read != ERROR_FILE_NOT_FOUND) {
        return false;
    }
    // No entry, or one whose setup was stopped before it wrote the command:
    // such a key is deleted under its name as stored.
    wchar_t productFolder[kPathChars];
    GetProductFolderPath(productFolder);
    if (!DefaultInstallationPresent(productFolder)) {
        return true;
    }
    // Services registered but no folder known: nothing safe to remove.
    return DefaultRemovalContext(productFolder, entryFound ? entryName : kUninstallKeyName,
                                 &context) &&
           RunRemovalSequence(context, beforeFirstStop);
}

bool FindPreviousInstallFolder(wchar_t (&folder)[kPathChars]) {
    RemovalContext context;
    wchar_t entryName[kEntryNameChars];
    if (FindUninstallEntry(entryName) && ReadUninstallEntry(entryName, &context) == ERROR_SUCCESS) {
        return FormatText(folder, L"%s", context.oldInstallFolder);
    }
    return GetProductFolderPath(folder);
}
