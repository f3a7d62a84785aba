// Stand-in for one of the product's two Windows services: it reports running and
// stops when asked, so that setup can install, start, stop and delete it.
#include <windows.h>

#include "platform/scoped_handle.h"

namespace {

// Not const: SERVICE_TABLE_ENTRYW takes a writable string.
wchar_t g_service_name[] = PV_SERVICE_NAME;

struct ServiceContext {
    SERVICE_STATUS_HANDLE status_handle;
    HANDLE stop_event;
};

void ReportState(SERVICE_STATUS_HANDLE status_handle, DWORD state, DWORD exit_code) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = exit_code;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 3000 : 0;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void* context_pointer) {
    auto* context = static_cast<ServiceContext*>(context_pointer);
    switch (control) {
        case SERVICE_CONTROL_STOP:
            ReportState(context->status_handle, SERVICE_STOP_PENDING, NO_ERROR);
            SetEvent(context->stop_event);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    ScopedKernelHandle stop_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ServiceContext context = {nullptr, stop_event.get()};
    context.status_handle = RegisterServiceCtrlHandlerExW(g_service_name, OnControl, &context);
    if (context.status_handle == nullptr) {
        return;
    }
    if (!stop_event) {
        ReportState(context.status_handle, SERVICE_STOPPED, GetLastError());
        return;
    }
    ReportState(context.status_handle, SERVICE_RUNNING, NO_ERROR);
    WaitForSingleObject(stop_event.get(), INFINITE);
    ReportState(context.status_handle, SERVICE_STOPPED, NO_ERROR);
}

}  // namespace

int wmain() {
    const SERVICE_TABLE_ENTRYW services[] = {{g_service_name, ServiceMain}, {nullptr, nullptr}};
    // Fails when started from a command line rather than by the service manager.
    return StartServiceCtrlDispatcherW(services) ? 0 : 1;
}
