#include "install/registration.h"

#include <windows.h>

#include <cwchar>

#include "platform/registry_key.h"
#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/strings.h"

namespace {

// Written with its terminator: (characters + 1) * 2 bytes. False with the
// last error set.
bool SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    const DWORD size = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    const LONG status =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
    SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

void LogEntryNotSaved() {
    AppendLogLine(L"アプリケーション設定を保存できません。");
    AppendOsMessage();
}

void SetNumber(HKEY key, const wchar_t* name, DWORD number) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

}  // namespace

void WriteProductSettingsKeys() {
    RegistryKey userKey;
    if (userKey.CreateUserProductKey()) {
        userKey.SetInstallMark();
        userKey.Close();
    }
    userKey.Release();

    RegistryKey machineKey;
    if (machineKey.CreateProductKey(HKEY_LOCAL_MACHINE)) {
        machineKey.Close();
    }
    machineKey.Release();
}

bool FormatUninstallCommand(wchar_t (&command)[kUninstallCommandChars],
                            const wchar_t* uninstallerPath, const wchar_t* displayName) {
    return FormatText(command, L"\"%s\" \"%s\" \"%s\"", uninstallerPath, kUninstallKeyName,
                      displayName);
}

bool WriteUninstallEntry(const wchar_t* uninstallerPath, const wchar_t* applicationPath,
                         unsigned copiedBytes) {
    wchar_t keyPath[kNameChars];
    ScopedRegistryKey key;
    LONG status = ERROR_FILENAME_EXCED_RANGE;
    if (JoinPath(keyPath, kUninstallRootKey, kUninstallKeyName)) {
        status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, key.receive(), nullptr);
    }
    if (status != ERROR_SUCCESS) {
        // The registry reports through its result, not the thread's last error.
        SetLastError(static_cast<DWORD>(status));
        LogEntryNotSaved();
        return false;
    }

    // The display name is reloaded into one shared buffer; keep a copy.
    wchar_t displayName[kProductNameChars];
    wcscpy_s(displayName, ProductDisplayName());
    wchar_t command[kUninstallCommandChars];
    const bool commandFitted = FormatUninstallCommand(command, uninstallerPath, displayName);

    // Without these two the entry is listed without a name or cannot uninstall.
    const bool named = SetText(key.get(), L"DisplayName", displayName);
    if (named && !commandFitted) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    if (!named || !commandFitted || !SetText(key.get(), L"UninstallString", command)) {
        LogEntryNotSaved();
        return false;
    }
    SetText(key.get(), L"DisplayVersion", kVersionWord);
    SetText(key.get(), L"Publisher", kMakerWord);
    SetText(key.get(), L"DisplayIcon", applicationPath);
    SetText(key.get(), L"HelpLink", kMakerWebAddress);
    SetText(key.get(), L"URLInfoAbout", kMakerWebAddress);
    SetText(key.get(), L"URLUpdateInfo", kMakerWebAddress);
    SetNumber(key.get(), L"NoModify", 1);
    SetNumber(key.get(), L"NoRepair", 1);
    SetNumber(key.get(), L"EstimatedSize", copiedBytes >> 10);
    return true;
}
