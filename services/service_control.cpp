#include "services/service_control.h"

#include <windows.h>

#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "services/service_configuration.h"

namespace {

constexpr DWORD kManagerWriteAllAccess = GENERIC_WRITE | SC_MANAGER_ALL_ACCESS;
constexpr DWORD kStopPollMilliseconds = 500;
constexpr DWORD kRemovalPollMilliseconds = 100;

// Closing the handles may overwrite the last error; the caller's OS message must
// describe the call that failed. Declared before the handles, so it is destroyed
// after them and restores the error the result was taken with.
class ResultError {
  public:
    ResultError() = default;
    ResultError(const ResultError&) = delete;
    ResultError& operator=(const ResultError&) = delete;
    ~ResultError() { SetLastError(error_); }

    bool Take(bool result) {
        error_ = GetLastError();
        return result;
    }

  private:
    DWORD error_ = ERROR_SUCCESS;
};

ScopedServiceHandle OpenManager(DWORD access) {
    return ScopedServiceHandle(OpenSCManagerW(nullptr, nullptr, access));
}

ScopedServiceHandle OpenProductService(const ScopedServiceHandle& manager,
                                       const wchar_t* serviceName) {
    return ScopedServiceHandle(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
}

// The process of a running own-process service. Opened before the stop request,
// so that its id cannot meanwhile come to name another process.
ScopedKernelHandle OpenServiceProcess(const ScopedServiceHandle& service) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &needed) ||
        status.dwProcessId == 0) {
        return ScopedKernelHandle();
    }
    return ScopedKernelHandle(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
}

// Stopped by an administrator or by a crash, whatever its start type: the service
// refuses the stop request, yet it is as stopped as one the request stopped.
// Keeps the request's error when it is refused for another reason.
bool AlreadyStopped(const ScopedServiceHandle& service) {
    const DWORD error = GetLastError();
    SERVICE_STATUS status = {};
    if (error == ERROR_SERVICE_NOT_ACTIVE ||
        (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED)) {
        return true;
    }
    SetLastError(error);
    return false;
}

// A service still starting accepts no stop (Windows answers 1061, Wine 1052)
// until it runs or gives up: it is waited for, pollLimit polls at most, and
// asked again. One already stopping needs no second request; the caller's
// polls wait it out.
bool RequestStop(const ScopedServiceHandle& service, int pollLimit) {
    SERVICE_STATUS status = {};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status) || AlreadyStopped(service)) {
        return true;
    }
    const DWORD refusal = GetLastError();
    if (refusal != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && refusal != ERROR_INVALID_SERVICE_CONTROL) {
        return false;
    }
    for (int poll = 0;; ++poll) {
        if (!QueryServiceStatus(service.get(), &status)) {
            return false;
        }
        if (status.dwCurrentState == SERVICE_STOP_PENDING) {
            return true;
        }
        if (status.dwCurrentState != SERVICE_START_PENDING) {
            return ControlService(service.get(), SERVICE_CONTROL_STOP, &status) ||
                   AlreadyStopped(service);
        }
        if (poll >= pollLimit) {
            SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
            return false;
        }
        Sleep(kStopPollMilliseconds);
    }
}

ScopedServiceHandle CreateProductService(const ScopedServiceHandle& manager,
                                         const wchar_t* serviceName, const wchar_t* command) {
    return ScopedServiceHandle(CreateServiceW(manager.get(), serviceName, serviceName,
                                              SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                              SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command,
                                              nullptr, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace

bool InstallService(const wchar_t* serviceName, const wchar_t* executablePath) {
    ResultError result;
    // Unquoted, a path with blanks lets Windows try "C:\Program.exe" first.
    wchar_t command[kPathChars + 2];
    if (!FormatText(command, L"\"%s\"", executablePath)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return result.Take(false);
    }
    ScopedServiceHandle manager = OpenManager(SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        return result.Take(false);
    }
    // Kept over an upgrade: a deleted service stays while any program holds a
    // handle to it, and a standard user may hold one for as long as they like.
    ScopedServiceHandle existing = OpenProductService(manager, serviceName);
    if (existing) {
        return result.Take(ConfigureAsFresh(existing.get(), serviceName, command));
    }
    return result.Take(CreateProductService(manager, serviceName, command).valid());
}

bool WaitWhileMarkedForDeletion(const wchar_t* serviceName, int pollLimit) {
    ScopedServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
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

bool StartProductService(const wchar_t* serviceName) {
    ResultError result;
    ScopedServiceHandle manager = OpenManager(kManagerWriteAllAccess);
    if (!manager) {
        return result.Take(false);
    }
    ScopedServiceHandle service = OpenProductService(manager, serviceName);
    if (!service) {
        return result.Take(false);
    }
    return result.Take(StartServiceW(service.get(), 0, nullptr) != FALSE ||
                       GetLastError() == ERROR_SERVICE_ALREADY_RUNNING);
}

bool StopProductService(const wchar_t* serviceName, int pollLimit) {
    ResultError result;
    ScopedServiceHandle manager = OpenManager(SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        return result.Take(false);
    }
    ScopedServiceHandle service = OpenProductService(manager, serviceName);
    if (!service) {
        return result.Take(false);
    }
    const ScopedKernelHandle process = OpenServiceProcess(service);
    if (!RequestStop(service, pollLimit)) {
        return result.Take(false);
    }
    SERVICE_STATUS status = {};
    for (int poll = 0;; ++poll) {
        if (!QueryServiceStatus(service.get(), &status)) {
            return result.Take(false);
        }
        // Windows lets the process run on after it reports stopped (a runtime
        // unloading, logs flushing); until it ends, its executable cannot be deleted.
        if (status.dwCurrentState == SERVICE_STOPPED) {
            if (process && WaitForSingleObject(process.get(), static_cast<DWORD>(pollLimit) *
                                                                  kStopPollMilliseconds) ==
                               WAIT_TIMEOUT) {
                SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
                return result.Take(false);
            }
            return result.Take(true);
        }
        if (poll >= pollLimit) {
            SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
            return result.Take(false);
        }
        Sleep(kStopPollMilliseconds);
    }
}

bool MayBeRunning(const wchar_t* serviceName) {
    ScopedServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
    ScopedServiceHandle service;
    if (manager) {
        service.reset(OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_STATUS));
    }
    SERVICE_STATUS status = {};
    if (service && QueryServiceStatus(service.get(), &status)) {
        return status.dwCurrentState != SERVICE_STOPPED;
    }
    return GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

bool IsStartable(const wchar_t* serviceName) {
    ScopedServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
    ScopedServiceHandle service;
    if (manager) {
        service.reset(OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_CONFIG));
    }
    return service && RegisteredExecutableExists(service.get());
}

size_t ActiveDependentServices(const wchar_t* serviceName, wchar_t (*names)[kNameChars],
                               size_t capacity) {
    ScopedServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
    ScopedServiceHandle service;
    if (manager) {
        service.reset(OpenServiceW(manager.get(), serviceName, SERVICE_ENUMERATE_DEPENDENTS));
    }
    // The largest buffer the call accepts; names point into it.
    constexpr DWORD kBufferBytes = 64 * 1024;
    ScopedHeapMemory buffer(HeapAlloc(GetProcessHeap(), 0, kBufferBytes));
    DWORD needed = 0;
    DWORD returned = 0;
    if (!service || !buffer ||
        !EnumDependentServicesW(service.get(), SERVICE_ACTIVE,
                                static_cast<ENUM_SERVICE_STATUSW*>(buffer.get()), kBufferBytes,
                                &needed, &returned)) {
        return 0;
    }
    const auto* dependents = static_cast<const ENUM_SERVICE_STATUSW*>(buffer.get());
    size_t count = 0;
    for (DWORD index = 0; index < returned && count < capacity; ++index) {
        if (FormatText(names[count], L"%s", dependents[index].lpServiceName)) {
            ++count;
        }
    }
    return count;
}

bool IsServiceRegistered(const wchar_t* serviceName, bool* registered) {
    *registered = false;
    ScopedServiceHandle manager = OpenManager(SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        return false;
    }
    *registered = OpenProductService(manager, serviceName).valid();
    return true;
}
