// The services of another program that the test bed's "dependent" situation
// runs (kOtherServices): each runs until asked to stop. Those registered to
// share a process would share one of this program on Windows; Wine 8 starts
// each in a process of its own.
#include <windows.h>

#include <cwchar>

#include "platform/scoped_handle.h"
#include "testbed/fault_sweep/situations.h"

namespace {

constexpr size_t kHosted = sizeof(kOtherServices) / sizeof(kOtherServices[0]);

struct Hosted {
    wchar_t name[64];
    DWORD type;
    SERVICE_STATUS_HANDLE status;
    ScopedKernelHandle stopRequested;
} g_hosted[kHosted];

void Report(const Hosted& hosted, DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = hosted.type;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(hosted.status, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void* context) {
    auto* hosted = static_cast<Hosted*>(context);
    if (control == SERVICE_CONTROL_STOP) {
        Report(*hosted, SERVICE_STOP_PENDING);
        SetEvent(hosted->stopRequested.get());
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

// The first argument names the service started.
void WINAPI ServiceMain(DWORD, wchar_t** arguments) {
    for (Hosted& hosted : g_hosted) {
        if (_wcsicmp(arguments[0], hosted.name) != 0) {
            continue;
        }
        hosted.status = RegisterServiceCtrlHandlerExW(hosted.name, OnControl, &hosted);
        if (hosted.status == nullptr) {
            return;
        }
        Report(hosted, SERVICE_RUNNING);
        WaitForSingleObject(hosted.stopRequested.get(), INFINITE);
        Report(hosted, SERVICE_STOPPED);
    }
}

}  // namespace

int wmain() {
    SERVICE_TABLE_ENTRYW table[kHosted + 1] = {};
    for (size_t index = 0; index < kHosted; ++index) {
        Hosted& hosted = g_hosted[index];
        wcscpy_s(hosted.name, kOtherServices[index].name);
        hosted.type = kOtherServices[index].type;
        hosted.stopRequested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        table[index] = {hosted.name, ServiceMain};
    }
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
