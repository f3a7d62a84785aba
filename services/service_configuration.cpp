#include "services/service_configuration.h"

#include <cwchar>

#include "platform/system_library.h"
#include "platform/text_format.h"

namespace {

// The largest configuration QueryServiceConfigW returns.
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

// A system older than the setting does not know its level (Wine's service
// manager, whose interface lacks a level, answers RPC_X_INVALID_TAG); a
// service without triggers refuses to have them removed (ERROR_INVALID_PARAMETER).
bool ResetOptional(SC_HANDLE service, DWORD level, void* fresh,
                   DWORD alsoAccepted = ERROR_SUCCESS) {
    if (ChangeServiceConfig2W(service, level, fresh)) {
        return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_INVALID_LEVEL || error == RPC_X_INVALID_TAG ||
           (alsoAccepted != ERROR_SUCCESS && error == alsoAccepted);
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
    SERVICE_REQUIRED_PRIVILEGES_INFOW privileges = {empty};
    SERVICE_PRESHUTDOWN_INFO preshutdown = {DefaultPreshutdownMilliseconds()};
    TriggerInformation triggers = {0, nullptr, nullptr};
    return ResetOptional(service, SERVICE_CONFIG_DESCRIPTION, &description) &&
           ResetOptional(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions) &&
           ResetOptional(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &failureFlag) &&
           ResetOptional(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayedStart) &&
           ResetOptional(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sidType) &&
           ResetOptional(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges) &&
           ResetOptional(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown) &&
           ResetOptional(service, SERVICE_CONFIG_TRIGGER_INFO, &triggers, ERROR_INVALID_PARAMETER);
}

bool IsMarkedForDeletion(SC_HANDLE service) {
    return !ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
           GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

bool RegisteredExecutableExists(SC_HANDLE service) {
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
    wchar_t path[kPathChars];
    if (end == nullptr || (quoted && end[1] != L'\0') ||
        !FormatText(path, L"%.*s", static_cast<int>(end - command - (quoted ? 1 : 0)),
                    command + (quoted ? 1 : 0))) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
