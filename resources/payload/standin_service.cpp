// Stand-in for one of the product's two Windows services: it reports running and
// stops when asked, so that setup can install, start, stop and delete it. Started
// with the argument "linger", its process runs on for 6 s after it reports
// stopped, as a slow shutdown does on Windows.
#include <windows.h>

#include <cwchar>

#include "platform/scoped_handle.h"

namespace {

// Not const: SERVICE_TABLE_ENTRYW takes a writable string.
wchar_t g_serviceName[] = PV_SERVICE_NAME;
constexpr DWORD kLingerMilliseconds = 6000;
bool g_linger = false;

struct ServiceContext {
    SERVICE_STATUS_HANDLE statusHandle;
    HANDLE stopEvent;
};

void ReportState(SERVICE_STATUS_HANDLE statusHandle, DWORD state, DWORD exitCode) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 3000 : 0;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void* contextPointer) {
    auto* context = static_cast<ServiceContext*>(contextPointer);
    switch (control) {
        case SERVICE_CONTROL_STOP:
            ReportState(context->statusHandle, SERVICE_STOP_PENDING, NO_ERROR);
            SetEvent(context->stopEvent);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD argumentCount, wchar_t** arguments) {
    g_linger = argumentCount > 1 && wcscmp(arguments[1], L"linger") == 0;
    ScopedKernelHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ServiceContext context = {nullptr, stopEvent.get()};
    context.statusHandle = RegisterServiceCtrlHandlerExW(g_serviceName, OnControl, &context);
    if (context.statusHandle == nullptr) {
        return;
    }
    if (!stopEvent) {
        ReportState(context.statusHandle, SERVICE_STOPPED, GetLastError());
        return;
    }
    ReportState(context.statusHandle, SERVICE_RUNNING, NO_ERROR);
    WaitForSingleObject(stopEvent.get(), INFINITE);
    ReportState(context.statusHandle, SERVICE_STOPPED, NO_ERROR);
}

}  // namespace

int wmain() {
    const SERVICE_TABLE_ENTRYW services[] = {{g_serviceName, ServiceMain}, {nullptr, nullptr}};
    // Fails when started from a command line rather than by the service manager.
    const bool dispatched = StartServiceCtrlDispatcherW(services) != FALSE;
    // The dispatcher returns once the service reported stopped.
    if (g_linger) {
        Sleep(kLingerMilliseconds);
    }
    return dispatched ? 0 : 1;
}
