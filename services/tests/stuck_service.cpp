// A test service in motion, as field machines show them; any own-process
// service may run it. Its phase is its start argument: by default (and with
// "stopping") it answers a stop request with "stop pending" and stops 8 s
// later, longer than a short stop bound, short enough to clean up; "starting"
// is "start pending" for as long instead, accepting no control, and then stops
// at once; "refuse-stop" accepts no stop request until the event
// "Global\\Portvane_TestLetGo" is set; "slow-stop" stops 40 s after the request,
// its check point moving every second, as a service flushing a large database
// does, and "slow-stop-10s" 10 s after it; "stuck-stop" as late as "slow-stop"
// with its check point never moving, and "hinted-stop" so too, having promised
// 60 s in its wait hint; "pausable" accepts pause and continue, and stops at once.
#include <windows.h>

#include <cwchar>

#include "platform/scoped_handle.h"

namespace {

struct Phase {
    const wchar_t* name;
    DWORD startingMs;
    DWORD stoppingMs;
    DWORD waitHintMs;  // while pending
    bool checkPointMoves;
    bool refusesStop;
    bool pauses;
};

constexpr Phase kPhases[] = {
    {L"stopping", 0, 8000, 1000, false, false, false},
    {L"starting", 8000, 0, 10000, false, false, false},
    {L"refuse-stop", 0, 0, 10000, false, true, false},
    {L"slow-stop", 0, 40000, 10000, true, false, false},
    {L"slow-stop-10s", 0, 10000, 10000, true, false, false},
    {L"stuck-stop", 0, 40000, 10000, false, false, false},
    {L"hinted-stop", 0, 40000, 60000, false, false, false},
    {L"pausable", 0, 0, 10000, false, false, true},
};

wchar_t g_serviceName[] = L"Portvane_TestStuck";
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
const Phase* g_phase = &kPhases[0];
bool g_refusesStop = false;
DWORD g_checkPoint = 0;
ScopedKernelHandle g_stopRequested;

void Report(DWORD state) {
    const bool settled =
        state == SERVICE_RUNNING || state == SERVICE_PAUSED || state == SERVICE_STOPPED;
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    if (settled && state != SERVICE_STOPPED) {
        status.dwControlsAccepted = (g_refusesStop ? 0 : SERVICE_ACCEPT_STOP) |
                                    (g_phase->pauses ? SERVICE_ACCEPT_PAUSE_CONTINUE : 0);
    }
    status.dwWaitHint = settled ? 0 : g_phase->waitHintMs;
    status.dwCheckPoint = g_checkPoint;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
            Report(SERVICE_STOP_PENDING);
            SetEvent(g_stopRequested.get());
            return NO_ERROR;
        case SERVICE_CONTROL_PAUSE:
        case SERVICE_CONTROL_CONTINUE:
            if (!g_phase->pauses) {
                return ERROR_CALL_NOT_IMPLEMENTED;
            }
            Report(control == SERVICE_CONTROL_PAUSE ? SERVICE_PAUSED : SERVICE_RUNNING);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

const Phase& PhaseOf(DWORD argumentCount, wchar_t** arguments) {
    for (const Phase& phase : kPhases) {
        if (argumentCount > 1 && wcscmp(arguments[1], phase.name) == 0) {
            return phase;
        }
    }
    return kPhases[0];
}

void WINAPI ServiceMain(DWORD argumentCount, wchar_t** arguments) {
    g_phase = &PhaseOf(argumentCount, arguments);
    const Phase& phase = *g_phase;
    g_refusesStop = phase.refusesStop;
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_serviceName, OnControl, nullptr);
    if (g_statusHandle == nullptr) {
        return;
    }
    Report(phase.startingMs > 0 ? SERVICE_START_PENDING : SERVICE_RUNNING);
    Sleep(phase.startingMs);
    Report(SERVICE_RUNNING);
    if (phase.refusesStop) {
        ScopedKernelHandle letGo(CreateEventW(nullptr, TRUE, FALSE, L"Global\\Portvane_TestLetGo"));
        WaitForSingleObject(letGo.get(), INFINITE);
        g_refusesStop = false;
        Report(SERVICE_RUNNING);
    }
    WaitForSingleObject(g_stopRequested.get(), INFINITE);
    for (DWORD waited = 0; waited < phase.stoppingMs; waited += 1000) {
        Sleep(1000);
        if (phase.checkPointMoves) {
            ++g_checkPoint;
            Report(SERVICE_STOP_PENDING);
        }
    }
    Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
    g_stopRequested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const SERVICE_TABLE_ENTRYW services[] = {{g_serviceName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(services) ? 0 : 1;
}
