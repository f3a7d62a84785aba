#include "services/service_registration.h"

#include <cwchar>
#include <utility>

#include "platform/scoped_handle.h"
#include "platform/system_library.h"
#include "platform/text_format.h"
#include "services/opened_service.h"
#include "services/service_hold.h"

namespace {

// The largest configuration QueryServiceConfigW and QueryServiceConfig2W return.
constexpr DWORD kConfigBytes = 8 * 1024;

constexpr DWORD kRemovalPollMilliseconds = 100;

// SERVICE_TRIGGER_INFO, which the toolchain's headers lack.
struct TriggerInformation {
    DWORD count;
    void* triggers;
    BYTE* reserved;
};

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

// What the system takes when a service names no pre-shutdown time: 10 s from
// Windows 10 1703 (build 15063), three minutes before.
DWORD DefaultPreshutdownMilliseconds() {
    const auto getVersion = SystemFunction<RtlGetVersionFunction>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    const bool creatorsUpdate = getVersion != nullptr && getVersion(&version) == 0 &&
                                (version.dwMajorVersion > 10 ||
                                 (version.dwMajorVersion == 10 && version.dwBuildNumber >= 15063));
    return creatorsUpdate ? 10000 : 180000;
}

bool IsEmpty(const wchar_t* text) {
    return text == nullptr || text[0] == L'\0';
}

// One optional setting a fresh registration lacks: whether what the system
// stores is already fresh, and the value that makes it so.
struct OptionalSetting {
    DWORD level;
    bool (*isFresh)(const void* stored, const void* fresh);
    void* fresh;
};

// The settings whose whole value is one DWORD or BOOL.
bool SameWord(const void* stored, const void* fresh) {
    return *static_cast<const DWORD*>(stored) == *static_cast<const DWORD*>(fresh);
}

bool HasNoDescription(const void* stored, const void*) {
    return IsEmpty(static_cast<const SERVICE_DESCRIPTIONW*>(stored)->lpDescription);
}

// Without actions the reset period has nothing to reset.
bool HasNoFailureActions(const void* stored, const void*) {
    const auto* actions = static_cast<const SERVICE_FAILURE_ACTIONSW*>(stored);
    return actions->cActions == 0 && IsEmpty(actions->lpRebootMsg) && IsEmpty(actions->lpCommand);
}

bool HasNoTriggers(const void* stored, const void*) {
    return static_cast<const TriggerInformation*>(stored)->count == 0;
}

// Written only where the stored value differs: on a system that ignores a
// level nothing is written, and an upgrade over an untouched registration
// changes nothing. False with the last error when the level cannot be read
// (Wine reads only the description and the pre-shutdown time; older systems
// lack newer levels) or written.
bool MakeFresh(SC_HANDLE service, const OptionalSetting& setting) {
    alignas(8) BYTE stored[kConfigBytes];
    DWORD needed = 0;
    return QueryServiceConfig2W(service, setting.level, stored, sizeof(stored), &needed) &&
           (setting.isFresh(stored, setting.fresh) ||
            ChangeServiceConfig2W(service, setting.level, setting.fresh) != FALSE);
}

// The file the registered command starts, as setup registers commands; false
// for another command. Needs SERVICE_QUERY_CONFIG.
bool RegisteredExecutablePath(SC_HANDLE service, wchar_t (&path)[kPathChars]) {
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[kConfigBytes];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfigW(service, config, sizeof(buffer), &needed) ||
        config->lpBinaryPathName == nullptr) {
        return false;
    }
    // The command as setup registers it: the path in double quotes, or, by an
    // earlier setup, the bare path.
    const wchar_t* command = config->lpBinaryPathName;
    const bool quoted = command[0] == L'"';
    const wchar_t* end = quoted ? wcschr(command + 1, L'"') : command + wcslen(command);
    return end != nullptr && (!quoted || end[1] == L'\0') &&
           FormatText(path, L"%.*s", static_cast<int>(end - command - (quoted ? 1 : 0)),
                      command + (quoted ? 1 : 0));
}

// Unquoted, a path with blanks lets Windows try "C:\Program.exe" first.
bool QuotedCommand(const wchar_t* executablePath, wchar_t (&command)[kPathChars + 2]) {
    if (FormatText(command, L"\"%s\"", executablePath)) {
        return true;
    }
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

// A registry change reaches the disk only at the system's next lazy flush;
// what a restart must find is written through first.
bool FlushRegistration(const wchar_t* serviceName) {
    wchar_t keyPath[kNameChars + 40];
    ScopedRegistryKey key;
    if (!FormatText(keyPath, L"SYSTEM\\CurrentControlSet\\Services\\%s", serviceName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, key.receive());
    if (status == ERROR_SUCCESS) {
        status = RegFlushKey(key.get());
    }
    SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

bool DeleteNamedService(SC_HANDLE manager, const wchar_t* serviceName) {
    const ScopedServiceHandle service(OpenServiceW(manager, serviceName, DELETE));
    return service && DeleteService(service.get()) != FALSE;
}

// Through the connection that may register services, held when the run knew
// before its first stop that it would register one; opened only here
// otherwise. Opened with the rights the later steps use, and held by the run.
bool CreateProductService(const wchar_t* serviceName, const wchar_t* command) {
    ResultError result;
    const StepHandle creator = OpenManager(SC_MANAGER_CREATE_SERVICE);
    ScopedServiceHandle created(
        creator ? CreateServiceW(creator.get(), serviceName, serviceName, kProductServiceRights,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                 SERVICE_ERROR_NORMAL, command, nullptr, nullptr, nullptr, nullptr,
                                 nullptr)
                : nullptr);
    if (!created) {
        return result.Take(false);
    }
    FlushRegistration(serviceName);
    KeepService(serviceName, kProductServiceRights, std::move(created));
    return result.Take(true);
}

}  // namespace

bool ConfigureAsFresh(SC_HANDLE service, const wchar_t* displayName, const wchar_t* command) {
    if (!ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                              SERVICE_ERROR_NORMAL, command, L"", nullptr, L"\0", L"LocalSystem",
                              L"", displayName)) {
        return false;
    }
    wchar_t empty[2] = {};
    SERVICE_DESCRIPTIONW description = {empty};
    SC_ACTION noAction = {};
    SERVICE_FAILURE_ACTIONSW failureActions = {0, empty, empty, 0, &noAction};
    SERVICE_FAILURE_ACTIONS_FLAG failureFlag = {FALSE};
    SERVICE_DELAYED_AUTO_START_INFO delayedStart = {FALSE};
    SERVICE_SID_INFO sidType = {SERVICE_SID_TYPE_NONE};
    SERVICE_PRESHUTDOWN_INFO preshutdown = {DefaultPreshutdownMilliseconds()};
    TriggerInformation triggers = {0, nullptr, nullptr};
    // Not the required privileges: no documented call removes a list, and an
    // empty one has no documented meaning. A registration without one is fresh.
    const OptionalSetting settings[] = {
        {SERVICE_CONFIG_DESCRIPTION, HasNoDescription, &description},
        {SERVICE_CONFIG_FAILURE_ACTIONS, HasNoFailureActions, &failureActions},
        {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, SameWord, &failureFlag},
        {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, SameWord, &delayedStart},
        {SERVICE_CONFIG_SERVICE_SID_INFO, SameWord, &sidType},
        {SERVICE_CONFIG_PRESHUTDOWN_INFO, SameWord, &preshutdown},
        {SERVICE_CONFIG_TRIGGER_INFO, HasNoTriggers, &triggers},
    };
    // The command that runs is in place: a refused optional setting is no
    // reason to delete a service that anyone holding a handle keeps deleted.
    for (const OptionalSetting& setting : settings) {
        if (!MakeFresh(service, setting) && IsGoneError(GetLastError())) {
            return false;
        }
    }
    return true;
}

bool IsMarkedForDeletion(SC_HANDLE service) {
    return !ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
           GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

bool InstallService(const wchar_t* serviceName, const wchar_t* executablePath) {
    ResultError result;
    wchar_t command[kPathChars + 2];
    if (!QuotedCommand(executablePath, command)) {
        return result.Take(false);
    }
    // Kept over an upgrade: a deleted service stays while any program holds a
    // handle to it, and a standard user may hold one for as long as they like.
    OpenedService existing =
        OpenNamedService(serviceName, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG);
    if (!existing.manager) {
        return result.Take(false);
    }
    if (existing.service) {
        if (ConfigureAsFresh(existing.service.get(), serviceName, command)) {
            // Unflushed, a restart may find the registration as it was, which
            // names this same path, or the one it was pointed at, whole too.
            FlushRegistration(serviceName);
            return result.Take(true);
        }
        // Deleted by someone else, or refusing the essential configuration (its
        // old command may name a folder that has gone): replaced by a fresh
        // registration once it is stopped and nobody holds it, this run included.
        const DWORD refusal = GetLastError();
        existing.service.reset();
        CloseHeldService(serviceName);
        if (refusal != ERROR_SERVICE_MARKED_FOR_DELETE &&
            !DeleteNamedService(existing.manager.get(), serviceName)) {
            SetLastError(refusal);
            return result.Take(false);
        }
        if (!WaitWhileMarkedForDeletion(serviceName)) {
            return result.Take(false);
        }
    } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        return result.Take(false);
    }
    return result.Take(CreateProductService(serviceName, command));
}

bool PointServiceAt(const wchar_t* serviceName, const wchar_t* executablePath) {
    ResultError result;
    wchar_t command[kPathChars + 2];
    if (!QuotedCommand(executablePath, command)) {
        return result.Take(false);
    }
    const OpenedService opened = OpenNamedService(serviceName, SERVICE_CHANGE_CONFIG);
    if (!opened.service) {
        return result.Take(opened.manager && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST);
    }
    if (!ChangeServiceConfigW(opened.service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              SERVICE_NO_CHANGE, command, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr)) {
        return result.Take(IsGoneError(GetLastError()));
    }
    // The old folder goes next: a restart must not find the registration naming it.
    return result.Take(FlushRegistration(serviceName));
}

bool WaitWhileMarkedForDeletion(const wchar_t* serviceName, int pollLimit) {
    const StepHandle manager = OpenManager(SC_MANAGER_CONNECT);
    for (int poll = 0; manager; ++poll) {
        ScopedServiceHandle service(
            OpenServiceW(manager.get(), serviceName, SERVICE_CHANGE_CONFIG));
        if (!service || !IsMarkedForDeletion(service.get())) {
            return true;
        }
        if (poll >= pollLimit) {
            SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
            return false;
        }
        service.reset();
        Sleep(kRemovalPollMilliseconds);
    }
    return true;
}

bool RegisteredExecutable(const wchar_t* serviceName, wchar_t (&path)[kPathChars]) {
    const OpenedService opened = OpenNamedService(serviceName, SERVICE_QUERY_CONFIG);
    return opened.service && RegisteredExecutablePath(opened.service.get(), path);
}

bool IsStartable(const wchar_t* serviceName) {
    wchar_t path[kPathChars];
    if (!RegisteredExecutable(serviceName, path)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsServiceRegistered(const wchar_t* serviceName, bool* registered) {
    *registered = false;
    const OpenedService opened = OpenNamedService(serviceName, SERVICE_QUERY_STATUS);
    if (!opened.manager) {
        return false;
    }
    // Refused for another reason than its absence, the name is still taken.
    *registered = opened.service || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
    return true;
}

bool IsGoneError(DWORD error) {
    return error == ERROR_SERVICE_DOES_NOT_EXIST || error == ERROR_SERVICE_MARKED_FOR_DELETE;
}
