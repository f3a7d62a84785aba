// A test service that answers a stop request with "stop pending" and only stops
// several seconds later: longer than a short stop bound, short enough to clean up.
// Started with "starting", it is "start pending" for as long instead, accepting
// no control, and then stops at once. Started with "refuse-stop", it accepts no
// stop request until the event "Global\\Portvane_TestLetGo" is set, and then
// stops at once. Any own-process service may run it.
#include <windows.h>

#include <cwchar>

#include "platform/scoped_handle.h"

namespace {

constexpr DWORD kPendingMs = 8000;
wchar_t g_serviceName[] = L"Portvane_TestStuck";
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
bool g_refusesStop = false;
ScopedKernelHandle g_stopRequested;

void Report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING && !g_refusesStop ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stopRequested.get());
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD argumentCount, wchar_t** arguments) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_serviceName, OnControl, nullptr);
    if (g_statusHandle == nullptr) {
        return;
    }
    const bool starting = argumentCount > 1 && wcscmp(arguments[1], L"starting") == 0;
    const bool refusedStop = argumentCount > 1 && wcscmp(arguments[1], L"refuse-stop") == 0;
    g_refusesStop = refusedStop;
    Report(starting ? SERVICE_START_PENDING : SERVICE_RUNNING);
    Sleep(starting ? kPendingMs : 0);
    Report(SERVICE_RUNNING);
    if (refusedStop) {
        ScopedKernelHandle letGo(CreateEventW(nullptr, TRUE, FALSE, L"Global\\Portvane_TestLetGo"));
        WaitForSingleObject(letGo.get(), INFINITE);
        g_refusesStop = false;
        Report(SERVICE_RUNNING);
    }
    WaitForSingleObject(g_stopRequested.get(), INFINITE);
    Sleep(starting || refusedStop ? 0 : kPendingMs);
    Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
    g_stopRequested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const SERVICE_TABLE_ENTRYW services[] = {{g_serviceName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(services) ? 0 : 1;
}
