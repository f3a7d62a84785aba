#include "services/service_control.h"

#include <windows.h>

#include <algorithm>

#include "platform/file_in_use.h"
#include "platform/scoped_handle.h"
#include "platform/text_format.h"
#include "services/opened_service.h"

namespace {

constexpr DWORD kStopPollMilliseconds = 500;

// A start answered "already running" by a service that was stopping after all.
constexpr int kStartAttempts = 3;

bool IsStopping(DWORD state) {
    return state == SERVICE_STOP_PENDING;
}
// On its way to running (or to paused): it accepts no stop until it arrives.
bool IsStarting(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_CONTINUE_PENDING ||
           state == SERVICE_PAUSE_PENDING;
}
// Before a start: whatever is pending ends in a state the start can act on.
bool IsPending(DWORD state) {
    return IsStopping(state) || IsStarting(state);
}
bool IsNotStopped(DWORD state) {
    return state != SERVICE_STOPPED;
}

// Polls while waiting(state) holds, as the documented pattern does: on while
// the state or the check point moves, given up when neither has moved for the
// longer of pollLimit polls and the service's own wait hint
// (ERROR_SERVICE_REQUEST_TIMEOUT), or once the budget is spent. False too when
// the status cannot be read; status holds the last one read.
bool WaitWhile(SC_HANDLE service, bool (*waiting)(DWORD), int pollLimit, const RetryBudget& budget,
               SERVICE_STATUS* status) {
    if (!QueryServiceStatus(service, status)) {
        return false;
    }
    for (int still = 0; waiting(status->dwCurrentState);) {
        const DWORD hintPolls =
            (status->dwWaitHint + kStopPollMilliseconds - 1) / kStopPollMilliseconds;
        if (static_cast<DWORD>(still) >= (std::max)(static_cast<DWORD>(pollLimit), hintPolls) ||
            budget.Spent()) {
            SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
            return false;
        }
        Sleep(kStopPollMilliseconds);
        const SERVICE_STATUS before = *status;
        if (!QueryServiceStatus(service, status)) {
            return false;
        }
        const bool moved = status->dwCurrentState != before.dwCurrentState ||
                           status->dwCheckPoint != before.dwCheckPoint;
        still = moved ? 0 : still + 1;
    }
    return true;
}

// The process of a running own-process service. Opened before the stop request,
// so that its id cannot meanwhile come to name another process. A process
// shared with other services runs on after this one stops: nothing to wait for.
ScopedKernelHandle OpenServiceProcess(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed) ||
        status.dwProcessId == 0 || (status.dwServiceType & SERVICE_WIN32_OWN_PROCESS) == 0) {
        return ScopedKernelHandle();
    }
    return ScopedKernelHandle(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
}

// Stopped by an administrator or by a crash, whatever its start type: the service
// refuses the stop request, yet it is as stopped as one the request stopped.
// Keeps the request's error when it is refused for another reason.
bool AlreadyStopped(SC_HANDLE service) {
    const DWORD error = GetLastError();
    SERVICE_STATUS status = {};
    if (error == ERROR_SERVICE_NOT_ACTIVE ||
        (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED)) {
        return true;
    }
    SetLastError(error);
    return false;
}

// A service still starting (or pausing, or continuing) accepts no stop
// (Windows answers 1061, Wine 1052) until it arrives: it is waited for, as a
// stop is, and asked again. One already stopping needs no second request; the
// caller's wait waits it out.
bool RequestStop(SC_HANDLE service, int pollLimit, const RetryBudget& budget) {
    SERVICE_STATUS status = {};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status) || AlreadyStopped(service)) {
        return true;
    }
    const DWORD refusal = GetLastError();
    if (refusal != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && refusal != ERROR_INVALID_SERVICE_CONTROL) {
        return false;
    }
    if (!WaitWhile(service, IsStarting, pollLimit, budget, &status)) {
        return false;
    }
    return status.dwCurrentState == SERVICE_STOP_PENDING ||
           ControlService(service, SERVICE_CONTROL_STOP, &status) || AlreadyStopped(service);
}

// Why a service that was to run does not: the code it stopped with, or that
// it never started.
void SetNotRunningError(const SERVICE_STATUS& status) {
    SetLastError(status.dwWin32ExitCode != NO_ERROR ? status.dwWin32ExitCode
                                                    : ERROR_SERVICE_NOT_ACTIVE);
}

// Without a status to go by, the start is sent all the same and only a
// refusal counts. "Already running" is believed once it has lasted as long as
// a stop may go without progress: a service just sent a stop says so until
// it has stopped.
bool StartUnseen(SC_HANDLE service, int pollLimit, const RetryBudget& budget) {
    for (int poll = 0;; ++poll) {
        if (StartServiceW(service, 0, nullptr)) {
            return true;
        }
        if (GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
            return false;
        }
        if (poll == pollLimit || budget.Spent()) {
            return true;
        }
        Sleep(kStopPollMilliseconds);
    }
}

// A paused service is continued rather than started: a start answers
// "already running" and leaves it paused.
bool RequestStart(const OpenedService& opened, const wchar_t* serviceName, DWORD state) {
    if (state != SERVICE_PAUSED) {
        return StartServiceW(opened.service.get(), 0, nullptr) != FALSE;
    }
    const ScopedServiceHandle resumer(
        OpenServiceW(opened.manager.get(), serviceName, SERVICE_PAUSE_CONTINUE));
    SERVICE_STATUS status = {};
    return resumer && ControlService(resumer.get(), SERVICE_CONTROL_CONTINUE, &status) != FALSE;
}

}  // namespace

bool StartProductService(const wchar_t* serviceName, int pollLimit) {
    ResultError result;
    const RetryBudget budget(kServiceWaitCapMs);
    const OpenedService opened =
        OpenNamedService(serviceName, SERVICE_START | SERVICE_QUERY_STATUS);
    if (!opened.service) {
        return result.Take(false);
    }
    const SC_HANDLE service = opened.service.get();
    SERVICE_STATUS status = {};
    // A start sent while the service still stops is answered "already
    // running" and starts nothing: the stop is waited out first, and the
    // answer is believed only once the state says so.
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (!WaitWhile(service, IsPending, pollLimit, budget, &status)) {
            return result.Take(GetLastError() != ERROR_SERVICE_REQUEST_TIMEOUT &&
                               StartUnseen(service, pollLimit, budget));
        }
        const bool requested = RequestStart(opened, serviceName, status.dwCurrentState);
        if (!requested && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
            return result.Take(false);
        }
        if (!WaitWhile(service, IsStarting, pollLimit, budget, &status)) {
            return result.Take(GetLastError() != ERROR_SERVICE_REQUEST_TIMEOUT);
        }
        if (status.dwCurrentState == SERVICE_RUNNING) {
            return result.Take(true);
        }
        // One that ended after its own start will not start by asking again.
        if (requested) {
            break;
        }
    }
    SetNotRunningError(status);
    return result.Take(false);
}

bool StopProductService(const wchar_t* serviceName, const RetryBudget& budget, int pollLimit) {
    ResultError result;
    const OpenedService opened = OpenNamedService(serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!opened.service) {
        return result.Take(false);
    }
    const SC_HANDLE service = opened.service.get();
    const ScopedKernelHandle process = OpenServiceProcess(service);
    SERVICE_STATUS status = {};
    if (!RequestStop(service, pollLimit, budget) ||
        !WaitWhile(service, IsNotStopped, pollLimit, budget, &status)) {
        return result.Take(false);
    }
    // Windows lets the process run on after it reports stopped (a runtime
    // unloading, logs flushing); until it ends, its executable cannot be deleted.
    const DWORD processWait =
        (std::min)(static_cast<DWORD>(pollLimit) * kStopPollMilliseconds, budget.Remaining());
    if (process && WaitForSingleObject(process.get(), processWait) == WAIT_TIMEOUT) {
        SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
        return result.Take(false);
    }
    return result.Take(true);
}

bool MayBeRunning(const wchar_t* serviceName) {
    const OpenedService opened = OpenNamedService(serviceName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    if (opened.service && QueryServiceStatus(opened.service.get(), &status)) {
        return status.dwCurrentState != SERVICE_STOPPED;
    }
    return GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

size_t ActiveDependentServices(const wchar_t* serviceName, wchar_t (*names)[kNameChars],
                               size_t capacity) {
    const OpenedService opened = OpenNamedService(serviceName, SERVICE_ENUMERATE_DEPENDENTS);
    // The largest buffer the call accepts; names point into it.
    constexpr DWORD kBufferBytes = 64 * 1024;
    ScopedHeapMemory buffer(HeapAlloc(GetProcessHeap(), 0, kBufferBytes));
    DWORD needed = 0;
    DWORD returned = 0;
    if (!opened.service || !buffer ||
        !EnumDependentServicesW(opened.service.get(), SERVICE_ACTIVE,
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
