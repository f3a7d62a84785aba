// A test service that answers a stop request with "stop pending" and only stops
// several seconds later: longer than a short stop bound, short enough to clean up.
// Started with "--refuse-stop" it accepts no stop request until the event
// "Global\\Portvane_TestLetGo" is set, and then stops at once when asked.
#include <windows.h>

#include <cwchar>

#include "platform/scoped_handle.h"

namespace {

wchar_t g_serviceName[] = L"Portvane_TestStuck";
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
bool g_refusesStop = false;
ScopedKernelHandle g_stopRequested;

void Report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING && !g_refusesStop ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 10000 : 0;
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

void WINAPI ServiceMain(DWORD, wchar_t**) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_serviceName, OnControl, nullptr);
    if (g_statusHandle == nullptr) {
        return;
    }
    Report(SERVICE_RUNNING);
    const bool refusedStop = g_refusesStop;
    if (refusedStop) {
        ScopedKernelHandle letGo(CreateEventW(nullptr, TRUE, FALSE, L"Global\\Portvane_TestLetGo"));
        WaitForSingleObject(letGo.get(), INFINITE);
        g_refusesStop = false;
        Report(SERVICE_RUNNING);
    }
    WaitForSingleObject(g_stopRequested.get(), INFINITE);
    Sleep(refusedStop ? 0 : 6000);
    Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_refusesStop = argc > 1 && wcscmp(argv[1], L"--refuse-stop") == 0;
    g_stopRequested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const SERVICE_TABLE_ENTRYW services[] = {{g_serviceName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(services) ? 0 : 1;
}
