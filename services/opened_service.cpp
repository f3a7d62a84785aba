#include "services/opened_service.h"

ScopedServiceHandle OpenManager(DWORD access) {
    return ScopedServiceHandle(OpenSCManagerW(nullptr, nullptr, access));
}

OpenedService OpenNamedService(const wchar_t* serviceName, DWORD access, DWORD managerAccess) {
    OpenedService opened = {OpenManager(managerAccess), ScopedServiceHandle()};
    if (opened.manager) {
        opened.service.reset(OpenServiceW(opened.manager.get(), serviceName, access));
    }
    return opened;
}
