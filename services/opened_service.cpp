#include "services/opened_service.h"

#include "services/service_hold.h"

StepHandle OpenManager(DWORD access) {
    const SC_HANDLE held = HeldConnection(access);
    return held != nullptr ? StepHandle(held)
                           : StepHandle(ScopedServiceHandle(OpenSCManagerW(nullptr, nullptr, access)));
}

OpenedService OpenNamedService(const wchar_t* serviceName, DWORD access) {
    OpenedService opened = {OpenManager(SC_MANAGER_CONNECT), StepHandle()};
    const SC_HANDLE held = HeldService(serviceName, access);
    if (held != nullptr) {
        opened.service = StepHandle(held);
    } else if (opened.manager) {
        opened.service =
            StepHandle(ScopedServiceHandle(OpenServiceW(opened.manager.get(), serviceName, access)));
    }
    return opened;
}
