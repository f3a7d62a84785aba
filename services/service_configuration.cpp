#include "services/service_configuration.h"

#include <cwchar>

#include "platform/system_library.h"
#include "platform/text_format.h"

namespace {

// The largest configuration QueryServiceConfigW and QueryServiceConfig2W return.
constexpr DWORD kConfigBytes = 8 * 1024;

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
// changes nothing. A level the system cannot read (Wine reads only the
// description and the pre-shutdown time; older systems lack newer levels) is
// left as it is.
bool MakeFresh(SC_HANDLE service, const OptionalSetting& setting) {
    alignas(8) BYTE stored[kConfigBytes];
    DWORD needed = 0;
    if (!QueryServiceConfig2W(service, setting.level, stored, sizeof(stored), &needed)) {
        const DWORD error = GetLastError();
        return error == ERROR_INVALID_LEVEL || error == RPC_X_INVALID_TAG;
    }
    return setting.isFresh(stored, setting.fresh) ||
           ChangeServiceConfig2W(service, setting.level, setting.fresh) != FALSE;
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
    for (const OptionalSetting& setting : settings) {
        if (!MakeFresh(service, setting)) {
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
