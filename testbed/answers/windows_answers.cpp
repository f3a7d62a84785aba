// The injector's Windows answers for the service manager's dependents and the
// version, and the table of every answer.
#include "testbed/answers/windows_answers.h"

#include <cstring>
#include <cwchar>
#include <utility>

#include "platform/scoped_handle.h"

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

using Dependencies = std::vector<std::pair<std::wstring, std::wstring>>;

// The key that holds every service's registration.
ScopedRegistryKey OpenServicesKey() {
    ScopedRegistryKey services;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ,
                  services.receive());
    return services;
}

// Each registered service with each service it depends on, as the service
// manager keeps them (DependOnService).
Dependencies ReadDependencies() {
    Dependencies dependencies;
    const ScopedRegistryKey services = OpenServicesKey();
    if (!services) {
        return dependencies;
    }
    wchar_t name[256];
    DWORD length = 256;
    for (DWORD index = 0; RegEnumKeyExW(services.get(), index, name, &length, nullptr, nullptr,
                                        nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256) {
        wchar_t list[2048] = {};
        DWORD size = sizeof(list) - 2 * sizeof(wchar_t);
        if (RegGetValueW(services.get(), name, L"DependOnService", RRF_RT_REG_MULTI_SZ, nullptr,
                         list, &size) != ERROR_SUCCESS) {
            continue;
        }
        for (const wchar_t* entry = list; *entry != L'\0'; entry += wcslen(entry) + 1) {
            dependencies.emplace_back(name, entry);
        }
    }
    return dependencies;
}

// Every service after each service that depends on it: the reverse of an
// order they could start in.
void AddDependents(const Dependencies& dependencies, const std::wstring& name,
                   std::vector<std::wstring>* seen, std::vector<std::wstring>* order) {
    for (const auto& [service, dependsOn] : dependencies) {
        bool known = false;
        for (const std::wstring& other : *seen) {
            known = known || _wcsicmp(other.c_str(), service.c_str()) == 0;
        }
        if (!known && _wcsicmp(dependsOn.c_str(), name.c_str()) == 0) {
            seen->push_back(service);
            AddDependents(dependencies, service, seen, order);
            order->push_back(service);
        }
    }
}

struct Dependent {
    std::wstring name;
    std::wstring displayName;
    SERVICE_STATUS status;
};

// The services that depend on the service, directly or not, in an order they
// can be stopped in, those in one of the states asked (SERVICE_ACTIVE,
// SERVICE_INACTIVE or both). False, with those read so far, when one cannot
// be read.
bool DependentsInStopOrder(const std::wstring& name, DWORD states,
                           std::vector<Dependent>* dependents) {
    std::vector<std::wstring> seen = {name};
    std::vector<std::wstring> order;
    AddDependents(ReadDependencies(), name, &seen, &order);
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    for (const std::wstring& service : order) {
        ScopedServiceHandle opened(
            OpenServiceW(manager.get(), service.c_str(), SERVICE_QUERY_STATUS));
        Dependent dependent = {service, L"", {}};
        wchar_t displayName[256];
        DWORD length = 256;
        if (!opened || !QueryServiceStatus(opened.get(), &dependent.status) ||
            !GetServiceDisplayNameW(manager.get(), service.c_str(), displayName, &length)) {
            return false;
        }
        dependent.displayName = displayName;
        const bool active = dependent.status.dwCurrentState != SERVICE_STOPPED;
        if ((states & (active ? SERVICE_ACTIVE : SERVICE_INACTIVE)) != 0) {
            dependents->push_back(dependent);
        }
    }
    return true;
}

// The rights each service handle the worker opened was granted: the system
// checks them on every call, and Wine does not where it answers nothing.
struct GrantedAccess {
    SC_HANDLE service;
    DWORD access;
};
GrantedAccess g_granted[256];
size_t g_grantedCount = 0;

SC_HANDLE WINAPI OpenServiceRecordingAccess(SC_HANDLE manager, const wchar_t* name, DWORD access) {
    const SC_HANDLE service = OpenServiceW(manager, name, access);
    const DWORD error = GetLastError();
    if (service != nullptr) {
        g_granted[g_grantedCount++ % 256] = {service, access};
    }
    SetLastError(error);
    return service;
}

bool WasGranted(SC_HANDLE service, DWORD right) {
    for (size_t index = g_grantedCount;
         index-- > (g_grantedCount > 256 ? g_grantedCount - 256 : 0);) {
        if (g_granted[index % 256].service == service) {
            const DWORD access = g_granted[index % 256].access;
            return (access & (right | GENERIC_ALL | MAXIMUM_ALLOWED)) != 0 ||
                   ((access & GENERIC_READ) != 0 && right == SERVICE_ENUMERATE_DEPENDENTS);
        }
    }
    return true;
}

// EnumDependentServicesW (winsvc.h), Microsoft Learn: ERROR_ACCESS_DENIED
// without SERVICE_ENUMERATE_DEPENDENTS, ERROR_INVALID_PARAMETER for a state
// outside SERVICE_STATE_ALL. Wine's own call lists no dependent, whatever the
// handle's access or the state asked.
BOOL WINAPI EnumDependentServicesAsWindows(SC_HANDLE service, DWORD states,
                                           ENUM_SERVICE_STATUSW* buffer, DWORD size, DWORD* needed,
                                           DWORD* returned) {
    const std::wstring name = OpenedName(service);
    const BOOL listed = EnumDependentServicesW(service, states, buffer, size, needed, returned);
    if (!listed || name.empty()) {
        return listed;
    }
    *returned = 0;
    if (!WasGranted(service, SERVICE_ENUMERATE_DEPENDENTS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (states == 0 || (states & ~static_cast<DWORD>(SERVICE_STATE_ALL)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<Dependent> dependents;
    if (!DependentsInStopOrder(name, states, &dependents)) {
        return FALSE;
    }
    std::vector<ENUM_SERVICE_STATUSW> entries;
    for (const Dependent& dependent : dependents) {
        entries.push_back({nullptr, nullptr, dependent.status});
    }
    PackedAnswer answer;
    const size_t first = answer.Add(entries.data(), entries.size() * sizeof(entries[0]));
    for (size_t index = 0; index < dependents.size(); ++index) {
        const size_t entry = first + index * sizeof(entries[0]);
        answer.Point(entry + offsetof(ENUM_SERVICE_STATUSW, lpServiceName),
                     answer.AddText(dependents[index].name));
        answer.Point(entry + offsetof(ENUM_SERVICE_STATUSW, lpDisplayName),
                     answer.AddText(dependents[index].displayName));
    }
    if (!answer.Deliver(buffer, size, needed, ERROR_MORE_DATA)) {
        return FALSE;
    }
    *returned = static_cast<DWORD>(dependents.size());
    return TRUE;
}

BOOL WINAPI ControlServiceAsWindows(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
    const std::wstring name = OpenedName(service);
    std::vector<Dependent> running;
    DependentsInStopOrder(name, SERVICE_ACTIVE, &running);
    if (control == SERVICE_CONTROL_STOP && !name.empty() && !running.empty()) {
        SetLastError(ERROR_DEPENDENT_SERVICES_RUNNING);
        return FALSE;
    }
    return ControlService(service, control, status);
}

// What the service manager keeps of the service: its type and its command.
struct Registration {
    DWORD type = 0;
    std::wstring command;
};

Registration ReadRegistration(HKEY services, const wchar_t* name) {
    Registration registration;
    wchar_t command[1024] = {};
    DWORD size = sizeof(registration.type);
    DWORD commandSize = sizeof(command) - sizeof(wchar_t);
    RegGetValueW(services, name, L"Type", RRF_RT_REG_DWORD, nullptr, &registration.type, &size);
    if (RegGetValueW(services, name, L"ImagePath", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr,
                     command, &commandSize) == ERROR_SUCCESS) {
        registration.command = command;
    }
    return registration;
}

// The process of another running service registered to share one with the
// service (the same command), or 0: Windows runs them all in one host.
DWORD SharedHostProcess(const std::wstring& name) {
    const ScopedRegistryKey services = OpenServicesKey();
    if (!services) {
        return 0;
    }
    const Registration own = ReadRegistration(services.get(), name.c_str());
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    wchar_t other[256];
    DWORD length = 256;
    for (DWORD index = 0; RegEnumKeyExW(services.get(), index, other, &length, nullptr, nullptr,
                                        nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256) {
        const Registration registration = ReadRegistration(services.get(), other);
        ScopedServiceHandle opened(OpenServiceW(manager.get(), other, SERVICE_QUERY_STATUS));
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (_wcsicmp(other, name.c_str()) != 0 &&
            (registration.type & SERVICE_WIN32_SHARE_PROCESS) != 0 &&
            _wcsicmp(registration.command.c_str(), own.command.c_str()) == 0 && opened &&
            QueryServiceStatusEx(opened.get(), SC_STATUS_PROCESS_INFO,
                                 reinterpret_cast<BYTE*>(&status), sizeof(status), &needed) &&
            status.dwProcessId != 0) {
            return status.dwProcessId;
        }
    }
    return 0;
}

// Wine runs each service in a process of its own and reports the type the
// service gave; the registered share-process type and its host are Windows'.
BOOL WINAPI QueryServiceStatusExAsWindows(SC_HANDLE service, SC_STATUS_TYPE level, BYTE* buffer,
                                          DWORD size, DWORD* needed) {
    const BOOL queried = QueryServiceStatusEx(service, level, buffer, size, needed);
    const std::wstring name = OpenedName(service);
    auto* status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
    ScopedRegistryKey services;
    if (!queried || name.empty() || level != SC_STATUS_PROCESS_INFO || status->dwProcessId == 0 ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ,
                      services.receive()) != ERROR_SUCCESS ||
        (ReadRegistration(services.get(), name.c_str()).type & SERVICE_WIN32_SHARE_PROCESS) == 0) {
        return queried;
    }
    status->dwServiceType = SERVICE_WIN32_SHARE_PROCESS;
    if (const DWORD host = SharedHostProcess(name)) {
        status->dwProcessId = host;
    }
    return TRUE;
}

// Wine starts a service marked for deletion as any other.
BOOL WINAPI StartServiceAsWindows(SC_HANDLE service, DWORD count, const wchar_t** arguments) {
    if (IsMarkedForDeletionAsWindows(service)) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    return StartServiceW(service, count, arguments);
}

// Wine's own call checks the structure's size.
LONG WINAPI RtlGetVersionAsWindows(OSVERSIONINFOW* version) {
    const auto real = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    const LONG status = real(version);
    if (status != 0) {
        return status;
    }
    version->dwMajorVersion = 10;
    version->dwMinorVersion = 0;
    version->dwBuildNumber = 19045;
    version->dwPlatformId = VER_PLATFORM_WIN32_NT;
    version->szCSDVersion[0] = L'\0';
    if (version->dwOSVersionInfoSize >= sizeof(OSVERSIONINFOEXW)) {
        auto* extended = reinterpret_cast<OSVERSIONINFOEXW*>(version);
        extended->wServicePackMajor = 0;
        extended->wServicePackMinor = 0;
    }
    return 0;
}

// A row whose answer has the type of the function it answers for.
template <typename Function>
WindowsAnswer Answer(const char* function, Function answer) {
    return {function, reinterpret_cast<void*>(answer)};
}
#define PV_ANSWER(name, answer) Answer<decltype(&name)>(#name, answer)

}  // namespace

const WindowsAnswer kWindowsAnswers[] = {
    // EnumDependentServicesW (winsvc.h), Microsoft Learn: every service that
    // depends on the service, directly or not, in the state asked, in "the
    // reverse of the start order"; ERROR_MORE_DATA and the bytes needed when
    // the buffer is too small. Wine lists none.
    PV_ANSWER(EnumDependentServicesW, EnumDependentServicesAsWindows),
    // ControlService (winsvc.h), Microsoft Learn: a stop fails with
    // ERROR_DEPENDENT_SERVICES_RUNNING while running services depend on the
    // service. Wine stops it anyway.
    PV_ANSWER(ControlService, ControlServiceAsWindows),
    // EnumDependentServicesW checks SERVICE_ENUMERATE_DEPENDENTS, which the
    // service manager records as each handle is opened (OpenServiceW,
    // Microsoft Learn: "Service Security and Access Rights").
    PV_ANSWER(OpenServiceW, OpenServiceRecordingAccess),
    // StartServiceW (winsvc.h), Microsoft Learn: ERROR_SERVICE_MARKED_FOR_DELETE
    // "The service has been marked for deletion"; MS-SCMR, RDeleteService: the
    // service manager sets a deleted service disabled. Wine starts it.
    PV_ANSWER(StartServiceW, StartServiceAsWindows),
    // SERVICE_STATUS_PROCESS structure (winsvc.h), Microsoft Learn: a
    // SERVICE_WIN32_SHARE_PROCESS service "shares a process with one or more
    // other services", whose identifier dwProcessId gives. Wine starts each
    // in a process of its own.
    PV_ANSWER(QueryServiceStatusEx, QueryServiceStatusExAsWindows),
    // QueryServiceConfig2W and ChangeServiceConfig2W (winsvc.h), Microsoft
    // Learn, and the pages of each level's structure: see the level table.
    PV_ANSWER(QueryServiceConfig2W, QueryServiceConfig2AsWindows),
    // MS-SCMR, RChangeServiceConfig2W: ERROR_SERVICE_MARKED_FOR_DELETE once
    // RDeleteService was called for the service; Wine changes it.
    PV_ANSWER(ChangeServiceConfig2W, ChangeServiceConfig2AsWindows),
    // RtlGetVersion (wdm.h), Microsoft Learn: the version of the running
    // system, whatever the manifest says; Windows 10 release information,
    // Microsoft Learn: 22H2 is OS build 19045. Wine reports its prefix's
    // version, Windows 7 SP1 here.
    Answer<RtlGetVersionFunction>("RtlGetVersion", RtlGetVersionAsWindows),
    // IAccPropServices (oleacc.h), Microsoft Learn: see testbed/answers/annotation_answers.cpp.
    PV_ANSWER(CoCreateInstance, CoCreateInstanceAsWindows),
    {},
};

std::wstring ServiceKeyPath(const std::wstring& serviceName) {
    return L"SYSTEM\\CurrentControlSet\\Services\\" + serviceName;
}

size_t PackedAnswer::Add(const void* data, size_t size) {
    // Every part aligned for any member of the structures returned.
    const size_t at = (bytes_.size() + 7) & ~size_t{7};
    bytes_.resize(at + size);
    if (size > 0) {
        memcpy(bytes_.data() + at, data, size);
    }
    return at;
}

size_t PackedAnswer::AddText(const std::wstring& text) {
    return Add(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

BOOL PackedAnswer::Deliver(void* buffer, DWORD size, DWORD* needed, DWORD tooSmall) const {
    *needed = static_cast<DWORD>(bytes_.size());
    if (bytes_.size() > size) {
        SetLastError(tooSmall);
        return FALSE;
    }
    auto* out = static_cast<BYTE*>(buffer);
    if (!bytes_.empty()) {
        memcpy(out, bytes_.data(), bytes_.size());
    }
    for (const Pointer& pointer : pointers_) {
        BYTE* target = out + pointer.target;
        memcpy(out + pointer.field, &target, sizeof(target));
    }
    return TRUE;
}

bool IsMarkedForDeletionAsWindows(SC_HANDLE service) {
    const std::wstring name = OpenedName(service);
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle own(
        name.empty() ? nullptr : OpenServiceW(manager.get(), name.c_str(), SERVICE_CHANGE_CONFIG));
    return own &&
           !ChangeServiceConfigW(own.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
           GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}
