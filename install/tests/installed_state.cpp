#include "install/tests/installed_state.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "platform/scoped_handle.h"

const wchar_t kUninstallEntryKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORBEK_Portvane";
const wchar_t kSettingsKey[] = L"Software\\orbek\\Portvane";

bool PathIsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

long long FileSizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool KeyExists(HKEY root, const wchar_t* path, REGSAM view) {
    ScopedRegistryKey key;
    return RegOpenKeyExW(root, path, 0, KEY_READ | view, key.receive()) == ERROR_SUCCESS;
}

DWORD ValueCount(HKEY root, const wchar_t* path) {
    ScopedRegistryKey key;
    DWORD count = 0;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WOW64_32KEY, key.receive()) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         nullptr, nullptr, nullptr, nullptr);
    }
    return count;
}

RegistryValue ReadValue(HKEY root, const wchar_t* path, const wchar_t* name) {
    RegistryValue value;
    ScopedRegistryKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WOW64_32KEY, key.receive()) != ERROR_SUCCESS) {
        return value;
    }
    std::vector<BYTE> data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, data.data(), &size) !=
        ERROR_SUCCESS) {
        return value;
    }
    value.found = true;
    value.size = size;
    if (value.type == REG_SZ) {
        value.text.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        // The stored terminator is counted in size; the text is what precedes it.
        if (!value.text.empty() && value.text.back() == L'\0') {
            value.text.pop_back();
        }
    } else if (value.type == REG_DWORD && size == sizeof(DWORD)) {
        memcpy(&value.number, data.data(), sizeof(DWORD));
    }
    return value;
}

::testing::AssertionResult UninstallTextIs(const wchar_t* name, const std::wstring& text) {
    const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, kUninstallEntryKey, name);
    if (!value.found || value.type != REG_SZ) {
        return ::testing::AssertionFailure() << name << " is missing or no REG_SZ";
    }
    if (value.size != (text.size() + 1) * sizeof(wchar_t)) {
        return ::testing::AssertionFailure() << name << " has " << value.size << " bytes";
    }
    if (value.text != text) {
        return ::testing::AssertionFailure() << name << " is " << value.text;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult UninstallNumberIs(const wchar_t* name, DWORD number) {
    const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, kUninstallEntryKey, name);
    if (!value.found || value.type != REG_DWORD || value.size != sizeof(DWORD)) {
        return ::testing::AssertionFailure() << name << " is missing or no 4-byte REG_DWORD";
    }
    if (value.number != number) {
        return ::testing::AssertionFailure() << name << " is " << value.number;
    }
    return ::testing::AssertionSuccess();
}

ULONGLONG KeyWriteTime(HKEY root, const wchar_t* path) {
    ScopedRegistryKey key;
    FILETIME written = {};
    if (RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WOW64_32KEY, key.receive()) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, &written);
    }
    return (static_cast<ULONGLONG>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
}

ServiceState QueryProductService(const wchar_t* name) {
    ServiceState state;
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(
        manager ? OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                : nullptr);
    if (!service) {
        return state;
    }
    state.registered = true;
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        state.serviceType = config->dwServiceType;
        state.startType = config->dwStartType;
        state.errorControl = config->dwErrorControl;
        state.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        state.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
    }
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status)) {
        state.currentState = status.dwCurrentState;
    }
    return state;
}

bool WaitUntilRunning(const wchar_t* name, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        if (QueryProductService(name).currentState == SERVICE_RUNNING) {
            return true;
        }
        Sleep(100);
    } while (GetTickCount64() < deadline);
    return false;
}

ShortcutTarget ReadShortcut(const std::wstring& linkPath) {
    ShortcutTarget target;
    const bool comStarted = SUCCEEDED(CoInitialize(nullptr));
    {
        ComPtr<IShellLinkW> link;
        ComPtr<IPersistFile> file;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW,
                                       reinterpret_cast<void**>(link.receive()))) &&
            SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile,
                                                 reinterpret_cast<void**>(file.receive()))) &&
            SUCCEEDED(file.get()->Load(linkPath.c_str(), STGM_READ))) {
            wchar_t text[1024] = L"";
            target.loaded = true;
            link.get()->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
            target.path = text;
            text[0] = L'\0';
            link.get()->GetArguments(text, 1024);
            target.arguments = text;
            text[0] = L'\0';
            link.get()->GetWorkingDirectory(text, 1024);
            target.workingFolder = text;
        }
    }
    if (comStarted) {
        CoUninitialize();
    }
    return target;
}

const wchar_t kUninstallRootKeyPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool MakeUninstallRootVolatile() {
    DWORD subkeys = 1;
    {
        ScopedRegistryKey root;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRootKeyPath, 0, KEY_READ, root.receive()) ==
            ERROR_SUCCESS) {
            RegQueryInfoKeyW(root.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr);
        } else {
            subkeys = 0;
        }
    }
    // Only an empty key may be replaced: nothing of the prefix is lost.
    if (subkeys != 0) {
        return false;
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallRootKeyPath);
    ScopedRegistryKey root;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallRootKeyPath, 0, nullptr,
                           REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, root.receive(),
                           nullptr) == ERROR_SUCCESS;
}

void RestoreUninstallRoot() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallRootKeyPath);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallRootKeyPath);
    ScopedRegistryKey root;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallRootKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                    KEY_ALL_ACCESS, nullptr, root.receive(), nullptr);
}

namespace {

const wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

}  // namespace

DesktopFolderOverride::DesktopFolderOverride(const std::wstring& folder) : folder_(folder) {
    wchar_t earlier[1024] = L"";
    DWORD size = sizeof(earlier) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop",
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &earlierType_, earlier,
                     &size) == ERROR_SUCCESS) {
        earlier_ = earlier;
    }
    CreateDirectoryW(folder_.c_str(), nullptr);
    RegSetKeyValueW(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop", REG_EXPAND_SZ,
                    folder_.c_str(), static_cast<DWORD>((folder_.size() + 1) * sizeof(wchar_t)));
}

DesktopFolderOverride::~DesktopFolderOverride() {
    RegSetKeyValueW(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop", earlierType_,
                    earlier_.c_str(), static_cast<DWORD>((earlier_.size() + 1) * sizeof(wchar_t)));
    RemoveDirectoryW(folder_.c_str());
}
