#include "testbed/test_helpers.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/scoped_handle.h"

const wchar_t kSettingsKey[] = L"Software\\orbek\\Portvane";
const wchar_t kUninstallEntryKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORBEK_Portvane";

namespace {

ScopedRegistryKey OpenKey(HKEY root, const wchar_t* path, REGSAM view = KEY_WOW64_32KEY) {
    ScopedRegistryKey key;
    RegOpenKeyExW(root, path, 0, KEY_READ | view, key.receive());
    return key;
}

}  // namespace

ServiceInfo QueryService(const wchar_t* serviceName) {
    ServiceInfo info;
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(
        OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) {
        return info;
    }
    info.registered = true;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (needed != 0 && QueryServiceConfigW(service.get(), config, needed, &needed)) {
        info.serviceType = config->dwServiceType;
        info.startType = config->dwStartType;
        info.errorControl = config->dwErrorControl;
        info.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        info.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
        info.displayName = config->lpDisplayName ? config->lpDisplayName : L"";
        info.group = config->lpLoadOrderGroup ? config->lpLoadOrderGroup : L"";
        for (const wchar_t* name = config->lpDependencies; name && *name;
             name += wcslen(name) + 1) {
            info.dependencies += name + std::wstring(L";");
        }
    }
    BYTE description[8192];
    const auto* text = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(description);
    if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, description,
                             sizeof(description), &needed) &&
        text->lpDescription != nullptr) {
        info.description = text->lpDescription;
    }
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status)) {
        info.currentState = status.dwCurrentState;
    }
    return info;
}

bool WaitForServiceState(const wchar_t* serviceName, DWORD state, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (QueryService(serviceName).currentState != state) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

bool EndsWith(const std::wstring& text, const wchar_t* ending) {
    const size_t length = ending != nullptr ? wcslen(ending) : 0;
    return text.size() >= length &&
           text.compare(text.size() - length, length, ending != nullptr ? ending : L"") == 0;
}

bool KeyExists(HKEY root, const wchar_t* path, REGSAM view) {
    return OpenKey(root, path, view).valid();
}

DWORD ValueCount(HKEY root, const wchar_t* path) {
    DWORD count = 0;
    RegQueryInfoKeyW(OpenKey(root, path).get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, &count, nullptr, nullptr, nullptr, nullptr);
    return count;
}

RegistryValue ReadValue(HKEY root, const wchar_t* path, const wchar_t* name) {
    RegistryValue value;
    std::vector<BYTE> data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegQueryValueExW(OpenKey(root, path).get(), name, nullptr, &value.type, data.data(),
                         &size) != ERROR_SUCCESS) {
        return value;
    }
    value.found = true;
    value.size = size;
    if (value.type == REG_SZ) {
        value.text.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        if (!value.text.empty() && value.text.back() == L'\0') {
            value.text.pop_back();
        }
    } else if (value.type == REG_DWORD && size == sizeof(DWORD)) {
        memcpy(&value.number, data.data(), sizeof(DWORD));
    }
    return value;
}

int ProductUninstallEntries() {
    const ScopedRegistryKey root =
        OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    int found = 0;
    wchar_t name[1024];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 1024;
        const LONG status =
            RegEnumKeyExW(root.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
            return found;
        }
        found += status == ERROR_SUCCESS && _wcsicmp(name, L"ORBEK_Portvane") == 0;
    }
}

std::wstring OsMessageLine(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0x400, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    ScopedLocalMemory memory(text);
    const std::wstring message =
        length > 0 && text != nullptr ? text : L"Error " + std::to_wstring(error);
    return L"OS Message:" + message + L"\n";
}

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

bool RunUnix(const char* command, const char* option, const std::wstring& first,
             const std::wstring& second) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    using Spawn = LONG(WINAPI*)(char* const*, int);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    const auto spawn = reinterpret_cast<Spawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "__wine_unix_spawnvp")));
    if (unixName == nullptr || spawn == nullptr) {
        return false;
    }
    char* paths[] = {unixName(first.c_str()), second.empty() ? nullptr : unixName(second.c_str())};
    char* argv[] = {const_cast<char*>(command), const_cast<char*>(option), paths[0], paths[1],
                    nullptr};
    const bool ran =
        paths[0] != nullptr && (second.empty() || paths[1] != nullptr) && spawn(argv, TRUE) == 0;
    for (char* path : paths) {
        HeapFree(GetProcessHeap(), 0, path);
    }
    return ran;
}
